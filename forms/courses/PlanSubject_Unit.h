#pragma once
// The course arrangement window: which student takes which elective subject
// with which teacher, in which term and over which dates (table Course).
// Its record sets are opened when the window is first shown.
#include "forms/base/Base_Unit.h"
#include "forms/base/RecordFrame.h"

#include <QPointer>

class QLabel;
class QPushButton;

class TfrmPlanSubject : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmPlanSubject(QWidget *owner);

    RecordFrame *frame = nullptr;
    DataSource *DataPlanSubject = nullptr;
    DataSource *DataStudentID = nullptr;
    DataSource *DataSubjectID = nullptr;
    DataSource *DataTeacherID = nullptr;

    QFrame *Panel1 = nullptr;
    QFrame *Panel2 = nullptr;
    DataGrid *DBGrid1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    DBLookupComboBox *cmbxSubject = nullptr;
    DBLookupComboBox *cmbxTeacher = nullptr;
    DBLookupComboBox *cmbxStudentID = nullptr;
    DBMemo *edtRemark = nullptr;
    DBComboBox *cmbxTerm = nullptr;
    DBEdit *edtBegin = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    DBEdit *edtEnd = nullptr;
    QPushButton *SpeedButton2 = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnModify = nullptr;
    QPushButton *btnDel = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnSave = nullptr;

    void btnAddClick() { frame->btnAddClick(); }
    void btnModifyClick() { frame->btnModifyClick(); }
    void btnDelClick() { frame->btnDelClick(); }
    void btnSaveClick() { frame->btnSaveClick(); }
    void btnCancelClick() { frame->btnCancelClick(); }

protected:
    // Show handler: the first time the window appears it opens the
    // arrangements, then the student, subject and teacher lists.
    void FormShow();
    void FormClose() override;
    void showEvent(QShowEvent *event) override;

private:
    bool m_opened = false;
};

extern QPointer<TfrmPlanSubject> frmPlanSubject;
