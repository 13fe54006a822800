#pragma once
// The record-editing frame that every editing window hosts: a main data
// source, its grid, a panel of bound controls declared as rows, and the five
// record commands Add, Modify, Delete, Save and Cancel. A window only
// declares its columns, controls and record sets; what Add does after the
// new row is inserted (a generated identifier, say) is the window's hook.
#include "gui/controls/DataControls.h"
#include "gui/controls/DataGrid.h"

#include <QHash>
#include <QSet>
#include <QWidget>
#include <functional>

class QBoxLayout;
class QFrame;
class QGridLayout;
class QLabel;
class QPushButton;
class TfrmBase;

class RecordFrame : public QWidget
{
    Q_OBJECT
public:
    // Where the panel of fields and the buttons stand around the grid.
    enum class Arrangement {
        PanelBelowGrid,          // grid, then the fields with the buttons under them
        FieldsAboveButtonsBelow  // the fields, then the grid, then a row of buttons
    };

    RecordFrame(TfrmBase *window, const QString &dataSourceName, QWidget *parent,
                Arrangement arrangement = Arrangement::PanelBelowGrid);

    QFrame *Panel1 = nullptr;   // holds the grid
    DataGrid *grid = nullptr;
    QFrame *Panel2 = nullptr;   // holds the bound controls
    QPushButton *btnAdd = nullptr;
    QPushButton *btnModify = nullptr;
    QPushButton *btnDel = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;

    DataSource *mainSource() const { return m_main; }
    TfrmBase *hostWindow() const { return m_window; }

    // Runs after Add has inserted the new row (dictionary windows generate
    // the identifier here); empty for windows whose new rows start empty.
    std::function<void()> afterInsert;

    // Asked when Save (or the store of a pending record by Add) failed: true
    // when the window has put right what made it fail (a generated number
    // that another program took meanwhile), so the store is tried again, at
    // most storeAttempts times in all. Empty: a failed store is reported.
    std::function<bool()> retryStore;
    static constexpr int storeAttempts = 10;

    // The record commands, on the main record set.
    void btnAddClick();
    void btnModifyClick();
    void btnDelClick();
    void btnSaveClick();
    void btnCancelClick();

    // Controls bound to a column of the main record set, inside the panel.
    QLabel *makeLabel(const QString &name, const QString &text);
    DBEdit *makeEdit(const QString &name, const QString &field);
    DBMemo *makeMemo(const QString &name, const QString &field, int lines = 3);
    DBComboBox *makeComboBox(const QString &name, const QString &field, const QStringList &items,
                             bool acceptsTypedText = true);
    DBText *makeText(const QString &name, const QString &field);
    DBLookupComboBox *makeLookup(const QString &name, const QString &field, DataSource *list,
                                 const QString &listFields, int dropDownWidth);
    // A date box: a bound field with a small "…" button that never takes the
    // focus and fills the field from the date picker. typing: whether the
    // field also accepts typed text.
    QWidget *makeDateBox(const QString &editName, const QString &buttonName, const QString &field, bool typing,
                         DBEdit **edit, QPushButton **button);

    // One row of the panel: labels beside their controls, left to right, in
    // columns that line up from row to row; the one control of a row with a
    // single control spans the panel, unless keepToColumn names it.
    using PanelRow = QList<QPair<QLabel *, QWidget *>>;
    // Lays the panel out row by row. The tab order follows the rows, then the
    // buttons, unless setTabOrderList names another.
    void setPanelRows(const QList<PanelRow> &rows);
    // The control stays as wide as the others of its column even when it is
    // alone in its row (call before setPanelRows).
    void keepToColumn(QWidget *control);
    // Sets each label-and-control pair of a row apart from the pair before it.
    void separatePanelPairs();
    // An explicit tab order over controls and buttons.
    void setTabOrderList(const QList<QWidget *> &order);
    // The buttons left to right (the usual order is Add, Modify, Delete, Save, Cancel).
    void setButtonOrder(const QList<QPushButton *> &order);
    // A further command at the end of the button row, balanced by a space of
    // its width at the start, so the record commands stay where they were;
    // it comes after them in the tab order.
    void addTrailingButton(QPushButton *button);

    // Opens a statement on the shared connection into a data source.
    void openInto(DataSource *source, const QString &sql);
    // Columns as wide as their titles and first rows; the grid as wide as its
    // columns, within reason.
    void fitGridColumns(int minimumWidth = 640, int maximumWidth = 1000);

protected:
    // Esc cancels a record being edited; a control that uses Esc itself
    // (an open list, a find bar) has it first.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Runs a store of the pending record, again while retryStore allows.
    void storeRetrying(const std::function<void()> &store);
    // The desktop keys of the record commands, beside the access keys.
    void addCommandKeys(QWidget *scope);
    // The record set names a column by its label (or grid title) when it
    // refuses a value.
    void applyFieldLabels();
    template<typename T>
    T *bound(T *control, const QString &field)
    {
        m_fieldOf.insert(control, field);
        return control;
    }

    QHash<QWidget *, QString> m_fieldOf;
    QSet<QWidget *> m_keptToColumn;
    TfrmBase *m_window = nullptr;
    DataSource *m_main = nullptr;
    QGridLayout *m_panelLayout = nullptr;
    QBoxLayout *m_buttonRow = nullptr;
    QList<PanelRow> m_rows;
    QList<QPushButton *> m_buttons;
};
