#include "forms/students/PracticeSet_Unit.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QPointer<TfrmPracticeSet> frmPracticeSet;

TfrmPracticeSet::TfrmPracticeSet(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmPracticeSet"));
    setWindowTitle(QStringLiteral("社会实践管理"));

    frame = new RecordFrame(this, QStringLiteral("DataPractice"), this);
    DataPractice = frame->mainSource();
    DataClassName = new DataSource(QStringLiteral("DataClassName"), this);
    DataStudentID = new DataSource(QStringLiteral("DataStudentID"), this);
    DBGrid1 = frame->grid;
    DBGrid1->setColumns({{QStringLiteral("StudentID"), QStringLiteral("学号")},
                         {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
                         {QStringLiteral("PracticeDateTime"), QStringLiteral("时间")},
                         {QStringLiteral("PracticeName"), QStringLiteral("实践内容")},
                         {QStringLiteral("PracticeResult"), QStringLiteral("实践结果")},
                         {QStringLiteral("Remark"), QStringLiteral("备注")}});
    DBGrid1->setMultiSelect(true);
    btnAdd = frame->btnAdd;
    btnModify = frame->btnModify;
    btnDel = frame->btnDel;
    btnSave = frame->btnSave;
    btnCancel = frame->btnCancel;

    cmbxStudentID = frame->makeLookup(QStringLiteral("cmbxStudentID"), QStringLiteral("StudentID"), DataStudentID,
                                      QStringLiteral("StudentID;StuName"), 200);
    cmbxClassName = frame->makeLookup(QStringLiteral("cmbxClassName"), QStringLiteral("ClassID"), DataClassName,
                                      QStringLiteral("ClassID;ClaName"), 200);
    QWidget *dateBox = frame->makeDateBox(QStringLiteral("edtPracticeDateTime"), QStringLiteral("SpeedButton1"),
                                          QStringLiteral("PracticeDateTime"), true, &edtPracticeDateTime,
                                          &SpeedButton1);
    memPracticeName = frame->makeMemo(QStringLiteral("memPracticeName"), QStringLiteral("PracticeName"));
    memPracticeResult = frame->makeMemo(QStringLiteral("memPracticeResult"), QStringLiteral("PracticeResult"));
    memRemark = frame->makeMemo(QStringLiteral("memRemark"), QStringLiteral("Remark"), 2);

    // On screen: student, class and date in the first row, then content,
    // result and remark from top to bottom.
    frame->setPanelRows(
        {{{frame->makeLabel(QStringLiteral("Label1"), QStringLiteral("学号：")), cmbxStudentID},
          {frame->makeLabel(QStringLiteral("Label2"), QStringLiteral("班级：")), cmbxClassName},
          {frame->makeLabel(QStringLiteral("Label6"), QStringLiteral("时间：")), dateBox}},
         {{frame->makeLabel(QStringLiteral("Label4"), QStringLiteral("实践内容：")), memPracticeName}},
         {{frame->makeLabel(QStringLiteral("Label5"), QStringLiteral("实践结果：")), memPracticeResult}},
         {{frame->makeLabel(QStringLiteral("Label3"), QStringLiteral("备注：")), memRemark}}});
    frame->separatePanelPairs();
    // The tab order differs from the screen: the remark before the content,
    // and the date box last, after the buttons.
    frame->setTabOrderList({DBGrid1, cmbxStudentID, cmbxClassName, memRemark, memPracticeName, memPracticeResult,
                            btnAdd, btnModify, btnDel, btnSave, btnCancel, edtPracticeDateTime});

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(frame);
}

void TfrmPracticeSet::FormCreate()
{
    frame->openInto(DataPractice, QStringLiteral("Select * From Practice"));
    frame->openInto(DataClassName, QStringLiteral("Select * From ClassInfo"));
    frame->openInto(DataStudentID, QStringLiteral("Select * From StudentInfo"));
    frame->fitGridColumns();
}

void TfrmPracticeSet::FormClose()
{
    TfrmBase::FormClose();
    frmPracticeSet = nullptr;
}
