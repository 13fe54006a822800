#pragma once
// The find bar of a grid: a slim bar under the grid with a box, 上一个 and
// 下一个 (Shift+F3 / F3) and the count of matches once it is known. Typing
// makes the first matching row at or after the current row current and
// highlights the matched text in the cells; Esc closes the bar and gives the
// focus back to the grid. While the record is being edited the bar is
// disabled. Long searches run in short steps and the next keystroke drops
// them (see data/find/RowSearch.h for the rule).
#include "data/find/RowSearch.h"

#include <QFrame>
#include <QPointer>
#include <QTimer>
#include <memory>

class DataGrid;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class GridFindBar : public QFrame
{
    Q_OBJECT
public:
    // The bar of the grid; made (hidden, under the grid) when create is set.
    static GridFindBar *of(DataGrid *grid, bool create = true);

    QLineEdit *edtFind = nullptr;
    QPushButton *btnFindPrev = nullptr;   // 上一个
    QPushButton *btnFindNext = nullptr;   // 下一个
    QLabel *lblFindCount = nullptr;
    QToolButton *btnFindClose = nullptr;

    DataGrid *grid() const { return m_grid; }
    // Shows the bar and puts the focus into its box, text selected.
    void open();
    // Hides the bar; the focus goes back to the grid.
    void close();
    // The next match after (before) the current row; opens the bar when its box is empty.
    void findNext(bool forward);
    bool isSearching() const { return m_search != nullptr || m_count != nullptr; }
    // The matches of the bar's text in a cell of the grid, for the highlight.
    QList<findtext::MatchRange> matchesIn(int column, const QString &text) const;

signals:
    // A search or count finished (tests and the benchmark wait for it).
    void searchFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit GridFindBar(DataGrid *grid);
    void placeUnderGrid();
    void textEdited();
    void start(int from, bool forward);
    void step();
    void found(int row);
    void startCount(int row);
    void stepCount();
    void cancel();
    void followState();
    void showNote(const QString &text, bool failed = false);
    QVector<int> searchedFields() const;
    dravon::RecordSet *recordSet() const;

    QPointer<DataGrid> m_grid;
    std::unique_ptr<findtext::RowSearch> m_search;
    std::unique_ptr<findtext::MatchCount> m_count;
    QTimer m_steps;
    findtext::Query m_query;
    QString m_text;
    int m_countTotal = -1;
    int m_countRow = -1;
    int m_gridMinimum = -1;
    bool m_moving = false;
    QPointer<dravon::RecordSet> m_watched;
};
