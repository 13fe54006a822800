#pragma once
// The window that keeps the students' social-practice records (Practice):
// a grid of all rows over a panel with the student and class lookups, the
// date box and three memos; no query page.
#include "forms/base/Base_Unit.h"
#include "forms/base/RecordFrame.h"

#include <QPointer>

class QPushButton;

class TfrmPracticeSet : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmPracticeSet(QWidget *owner);

    RecordFrame *frame = nullptr;
    DataSource *DataPractice = nullptr;
    DataSource *DataClassName = nullptr;
    DataSource *DataStudentID = nullptr;
    DataGrid *DBGrid1 = nullptr;
    DBLookupComboBox *cmbxStudentID = nullptr;
    DBLookupComboBox *cmbxClassName = nullptr;
    DBMemo *memRemark = nullptr;
    DBMemo *memPracticeName = nullptr;
    DBMemo *memPracticeResult = nullptr;
    DBEdit *edtPracticeDateTime = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnModify = nullptr;
    QPushButton *btnDel = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormCreate() override;

protected:
    void FormClose() override;
};

extern QPointer<TfrmPracticeSet> frmPracticeSet;
