#pragma once
// The window that keeps the students' moral-conduct marks (Moral): the fixed
// tree of conduct items in a frame, a grid of all rows, and a panel with the
// student and class lookups, the item number, the mark and a remark.
// Double-clicking an item of the tree puts its number into the item box.
#include "forms/base/Base_Unit.h"
#include "forms/base/RecordFrame.h"

#include <QPointer>

class QGroupBox;
class QPushButton;
class QTreeWidget;

class TfrmMoralSet : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmMoralSet(QWidget *owner);

    QGroupBox *GroupBox1 = nullptr;
    QTreeWidget *trvwMoralName = nullptr;
    RecordFrame *frame = nullptr;
    DataSource *DataMoral = nullptr;
    DataSource *DataStudentID = nullptr;
    DataSource *DataClassID = nullptr;
    DataGrid *DBGrid1 = nullptr;
    DBLookupComboBox *cmbxStudentID = nullptr;
    DBLookupComboBox *cmbxClassID = nullptr;
    DBEdit *edtMoralID = nullptr;
    DBEdit *edtMoralResult = nullptr;
    DBMemo *edtRemark = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnModify = nullptr;
    QPushButton *btnDel = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormCreate() override;
    // A double-click anywhere in the tree: an item puts its number into
    // edtMoralID (only the box's text; no edit is started or ended); a
    // category or no selected node does nothing here.
    void trvwMoralNameDblClick();

protected:
    void FormClose() override;
};

extern QPointer<TfrmMoralSet> frmMoralSet;
