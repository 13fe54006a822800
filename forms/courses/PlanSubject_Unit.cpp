#include "forms/courses/PlanSubject_Unit.h"

#include "gui/Shell_Unit.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QPointer<TfrmPlanSubject> frmPlanSubject;

TfrmPlanSubject::TfrmPlanSubject(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmPlanSubject"));
    setWindowTitle(QStringLiteral("选修排课"));

    frame = new RecordFrame(this, QStringLiteral("DataPlanSubject"), this,
                            RecordFrame::Arrangement::FieldsAboveButtonsBelow);
    DataPlanSubject = frame->mainSource();
    DataStudentID = new DataSource(QStringLiteral("DataStudentID"), this);
    DataSubjectID = new DataSource(QStringLiteral("DataSubjectID"), this);
    DataTeacherID = new DataSource(QStringLiteral("DataTeacherID"), this);
    Panel1 = frame->Panel1;
    Panel2 = frame->Panel2;
    DBGrid1 = frame->grid;
    btnAdd = frame->btnAdd;
    btnModify = frame->btnModify;
    btnDel = frame->btnDel;
    btnCancel = frame->btnCancel;
    btnSave = frame->btnSave;

    DBGrid1->setColumns({{QStringLiteral("StudentID"), QStringLiteral("学生编号")},
                         {QStringLiteral("SubjectID"), QStringLiteral("科目编号")},
                         {QStringLiteral("TeacherID"), QStringLiteral("教师编号")},
                         {QStringLiteral("Term"), QStringLiteral("学期")},
                         {QStringLiteral("BeginTime"), QStringLiteral("课程起始时间")},
                         {QStringLiteral("EndTime"), QStringLiteral("课程结束日期")}});

    Label1 = frame->makeLabel(QStringLiteral("Label1"), QStringLiteral("选修科目："));
    Label2 = frame->makeLabel(QStringLiteral("Label2"), QStringLiteral("老师选择："));
    Label3 = frame->makeLabel(QStringLiteral("Label3"), QStringLiteral("学生编号："));
    Label4 = frame->makeLabel(QStringLiteral("Label4"), QStringLiteral("备    注："));
    Label5 = frame->makeLabel(QStringLiteral("Label5"), QStringLiteral("学期选择："));
    Label6 = frame->makeLabel(QStringLiteral("Label6"), QStringLiteral("上课时间："));
    Label7 = frame->makeLabel(QStringLiteral("Label7"), QStringLiteral("结束时间："));
    cmbxSubject = frame->makeLookup(QStringLiteral("cmbxSubject"), QStringLiteral("SubjectID"), DataSubjectID,
                                    QStringLiteral("SubjectID;SubName"), 200);
    cmbxTeacher = frame->makeLookup(QStringLiteral("cmbxTeacher"), QStringLiteral("TeacherID"), DataTeacherID,
                                    QStringLiteral("TeacherID;TchName"), 200);
    cmbxStudentID = frame->makeLookup(QStringLiteral("cmbxStudentID"), QStringLiteral("StudentID"), DataStudentID,
                                      QStringLiteral("StudentID;StuName"), 200);
    edtRemark = frame->makeMemo(QStringLiteral("edtRemark"), QStringLiteral("Remark"));
    edtRemark->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    cmbxTerm = frame->makeComboBox(QStringLiteral("cmbxTerm"), QStringLiteral("Term"),
                                   {QStringLiteral("第一学期"), QStringLiteral("第二学期"), QStringLiteral("第三学期"),
                                    QStringLiteral("第四学期")},
                                   false);
    QWidget *beginBox = frame->makeDateBox(QStringLiteral("edtBegin"), QStringLiteral("SpeedButton1"),
                                           QStringLiteral("BeginTime"), true, &edtBegin, &SpeedButton1);
    QWidget *endBox = frame->makeDateBox(QStringLiteral("edtEnd"), QStringLiteral("SpeedButton2"),
                                         QStringLiteral("EndTime"), true, &edtEnd, &SpeedButton2);

    // Two columns: term, subject and begin date on the left; student, teacher
    // and end date on the right; the remark spans both below them.
    frame->setPanelRows({{{Label5, cmbxTerm}, {Label3, cmbxStudentID}},
                         {{Label1, cmbxSubject}, {Label2, cmbxTeacher}},
                         {{Label6, beginBox}, {Label7, endBox}},
                         {{Label4, edtRemark}}});
    frame->setButtonOrder({btnAdd, btnModify, btnDel, btnCancel, btnSave});
    frame->setTabOrderList({cmbxSubject, cmbxTeacher, cmbxStudentID, edtRemark, cmbxTerm, edtBegin, edtEnd, DBGrid1,
                            btnAdd, btnModify, btnDel, btnCancel, btnSave});
    // Columns as wide as their titles: the rows are read only when shown.
    frame->fitGridColumns(560, 800);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(frame);
}

void TfrmPlanSubject::showEvent(QShowEvent *event)
{
    TfrmBase::showEvent(event);
    if (!m_opened) {
        m_opened = true;
        // A failing query is reported; the window stays open as far as it got.
        Guarded([this] { FormShow(); });
    }
}

void TfrmPlanSubject::FormShow()
{
    frame->openInto(DataPlanSubject, QStringLiteral("Select * From Course"));
    frame->openInto(DataStudentID, QStringLiteral("Select * From StudentInfo"));
    frame->openInto(DataSubjectID, QStringLiteral("Select * From SubjectInfo"));
    frame->openInto(DataTeacherID, QStringLiteral("Select * From TeacherInfo"));
}

void TfrmPlanSubject::FormClose()
{
    TfrmBase::FormClose();
    frmPlanSubject = nullptr;
}
