#pragma once
// The editing frame of the master-data windows: a grid over one table above
// a panel of bound fields and the five commands Add, Modify, Delete, Save
// and Cancel. A window only declares its table, columns, fields and seed.
#include "forms/base/Base_Unit.h"
#include "forms/base/RecordFrame.h"

class QFrame;
class QLabel;
class QPushButton;
class QToolButton;

namespace dravon { class Connection; }

// The next identifier of a master table: the numerically largest stored
// identifier plus one, or the seed when the table is empty. Throws
// "'<text>' is not a valid integer value" when the largest stored
// identifier is not a 32-bit integer.
QString NextIdentifier(dravon::Connection &connection, const QString &table, const QString &idColumn,
                       const QString &seed);

struct DictionaryDeclaration
{
    QString objectName;    // frmTeacherSet
    QString caption;       // 老师信息维护
    QString dataSource;    // DataTeacher
    QString table;         // TeacherInfo
    QString idColumn;      // TeacherID
    QString nameColumn;    // TchName
    QString seed;          // 2007001
    QList<GridColumn> columns;
};

class TfrmDictionaryBase : public TfrmBase
{
    Q_OBJECT
public:
    TfrmDictionaryBase(QWidget *owner, const DictionaryDeclaration &declaration);

    QFrame *Panel1 = nullptr;
    DataGrid *DBGrid = nullptr;
    QFrame *Panel2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    DBText *txtID = nullptr;
    DBEdit *edtName = nullptr;
    DBMemo *edtRemark = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnModify = nullptr;
    QPushButton *btnDel = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;

    RecordFrame *frame() const { return m_frame; }
    DataSource *mainSource() const { return m_frame->mainSource(); }

    void btnAddClick();
    void btnModifyClick();
    void btnDelClick();
    void btnSaveClick();
    void btnCancelClick();

    // Opens the main table (and, in descendants, their lists).
    void FormCreate() override;

protected:
    // One editing row: labels beside their controls, left to right.
    using PanelRow = RecordFrame::PanelRow;
    // Lays the panel out: the given rows, then the remark row, then the buttons.
    void setPanelRows(const QList<PanelRow> &rows, QLabel *remarkLabel = nullptr);
    QLabel *makeLabel(const QString &name, const QString &text);
    DBEdit *makeEdit(const QString &name, const QString &field);
    DBComboBox *makeComboBox(const QString &name, const QString &field, const QStringList &items);
    DBLookupComboBox *makeLookup(const QString &name, const QString &field, DataSource *list,
                                 const QString &listFields, int dropDownWidth);
    // A date box: a bound field, read-only for typing, with a small "…" button
    // that never takes the focus and fills the field from the date picker.
    QWidget *makeDateBox(const QString &editName, const QString &buttonName, const QString &field,
                         DBEdit **edit, QPushButton **button);
    // Opens "Select * From <table>" on the shared connection into a data source.
    void openInto(DataSource *source, const QString &sql);

    DictionaryDeclaration m_declaration;

private:
    // Hands the new row a number: shown in txtID and written into the row.
    void proposeNumber(const QString &id);
    // Before the new row is stored: when the number Add proposed (still held
    // by the row, so not one set otherwise) has meanwhile been stored by
    // another program, the row takes the next number instead and the clerk
    // is told. True when it did.
    bool takeNextNumberIfTaken();

    RecordFrame *m_frame = nullptr;
    QString m_proposedId;
};
