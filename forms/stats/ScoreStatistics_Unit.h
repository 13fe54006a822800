#pragma once
// 成绩统计: the marks of a term (or all), a college, a class and a subject,
// grouped by class, subject, class and subject, or college; one row per
// group with its figures, and beside the grid the bands of the current group,
// the averages and pass rates of the groups around it, and their box plots.
// Double-click on a group shows its score rows in the score window's query page.
#include "data/stats/ScoreStatistics.h"
#include "forms/stats/StatsBase_Unit.h"
#include "gui/TablePrinter.h"

#include <QPointer>

class QAction;
class QChartView;
class QComboBox;
class QLabel;
class QSplitter;
class QTabWidget;
class ResultGrid;
class TfrmStudentScore;

class TfrmScoreStatistics : public TfrmStatsBase
{
    Q_OBJECT
public:
    explicit TfrmScoreStatistics(QWidget *owner);

    QLabel *lblTerm = nullptr;
    QComboBox *cmbxTerm = nullptr;
    QLabel *lblCollege = nullptr;
    QComboBox *cmbxCollege = nullptr;
    QLabel *lblClass = nullptr;
    QComboBox *cmbxClass = nullptr;
    QLabel *lblSubject = nullptr;
    QComboBox *cmbxSubject = nullptr;
    QLabel *lblGrouping = nullptr;
    QComboBox *cmbxGrouping = nullptr;
    ResultGrid *DBGrid1 = nullptr;
    QChartView *ChartBands = nullptr;
    QTabWidget *PageControl1 = nullptr;  // the charts of several groups
    QChartView *ChartAverages = nullptr;
    QChartView *ChartBoxPlot = nullptr;
    QAction *actShowScores = nullptr;

    // Opens (or brings forward) the score window; set by the main window.
    std::function<TfrmStudentScore *()> openScoreWindow;

    void FormCreate() override;
    // Computes the statistics of the chosen filters on the worker; a change
    // of a filter while it runs starts again with the new ones.
    void compute();
    // The current group's score rows in the score window.
    void DBGrid1DblClick();

    const stats::ScoreStatistics &statistics() const { return m_statistics; }
    // The groups the charts show (indexes into statistics().groups) and how they say which.
    QList<int> chartGroups(QString *range) const;
    // The caption of printouts: the window's name and the filters of the rows shown.
    QString printCaption() const;

    // Most groups one chart shows.
    static constexpr int chartGroupLimit = 20;

protected:
    void FormClose() override;
    void settingsChanged() override { compute(); }

private:
    void collegeChanged();
    void showStatistics(stats::ScoreStatistics statistics, const stats::ResultTable &table);
    void updateCharts();
    QString groupLabel(const stats::ScoreGroup &group) const;
    QList<PrintFigure> printFigures() const;

    stats::ScoreStatistics m_statistics;
    bool m_hasStatistics = false;
    QString m_filterText;  // the filters of the rows shown, as the lists showed them
    WorkRunner *m_termRunner = nullptr;
};

extern QPointer<TfrmScoreStatistics> frmScoreStatistics;
