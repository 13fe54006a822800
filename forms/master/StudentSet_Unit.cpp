#include "forms/master/StudentSet_Unit.h"

#include "gui/Shell_Unit.h"
#include "gui/TranscriptPrint.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPushButton>

QPointer<TfrmStudentSet> frmStudentSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmStudentSet"), QStringLiteral("学生信息维护"), QStringLiteral("DataStudent"),
            QStringLiteral("StudentInfo"), QStringLiteral("StudentID"), QStringLiteral("StuName"),
            QStringLiteral("2007001"),
            {
                {QStringLiteral("StudentID"), QStringLiteral("学好")},
                {QStringLiteral("StuName"), QStringLiteral("姓名")},
                {QStringLiteral("StuSex"), QStringLiteral("性别")},
                {QStringLiteral("StuAge"), QStringLiteral("年龄")},
                {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
                {QStringLiteral("InSchoolDate"), QStringLiteral("入学时间")},
                {QStringLiteral("OutSchoolDate"), QStringLiteral("毕业时间")},
                {QStringLiteral("StuContact"), QStringLiteral("联系方式")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmStudentSet::TfrmStudentSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    DataClassName = new DataSource(QStringLiteral("DataClassName"), this);
    cmbxSex = makeComboBox(QStringLiteral("cmbxSex"), QStringLiteral("StuSex"), {QStringLiteral("男"), QStringLiteral("女")});
    edtAge = makeEdit(QStringLiteral("edtAge"), QStringLiteral("StuAge"));
    cmbxClass = makeLookup(QStringLiteral("cmbxClass"), QStringLiteral("ClassID"), DataClassName,
                           QStringLiteral("ClassID;ClaName"), 200);
    QWidget *inDate = makeDateBox(QStringLiteral("edtInDate"), QStringLiteral("btnInDate"), QStringLiteral("InSchoolDate"),
                                  &edtInDate, &btnInDate);
    QWidget *outDate = makeDateBox(QStringLiteral("edtOutDate"), QStringLiteral("btnOutDate"), QStringLiteral("OutSchoolDate"),
                                   &edtOutDate, &btnOutDate);
    edtAddress = makeEdit(QStringLiteral("edtAddress"), QStringLiteral("StuContact"));
    setPanelRows({{{Label1, txtID}, {Label2, edtName}, {makeLabel(QStringLiteral("Label4"), QStringLiteral("性  别：")), cmbxSex},
                   {makeLabel(QStringLiteral("Label5"), QStringLiteral("年  龄：")), edtAge}},
                  {{makeLabel(QStringLiteral("Label6"), QStringLiteral("班  级：")), cmbxClass},
                   {makeLabel(QStringLiteral("Label7"), QStringLiteral("入学时间：")), inDate},
                   {makeLabel(QStringLiteral("Label8"), QStringLiteral("毕业时间：")), outDate}},
                  {{makeLabel(QStringLiteral("Label9"), QStringLiteral("联系方式：")), edtAddress}}});

    const QString transcript = QStringLiteral("打印成绩单…");
    actPrintTranscript = new QAction(transcript, DBGrid);
    actPrintTranscript->setObjectName(QStringLiteral("actPrintTranscript"));
    connect(actPrintTranscript, &QAction::triggered, this, [this] { Guarded([this] { btnPrintTranscriptClick(); }); });
    DBGrid->addAction(actPrintTranscript);
    btnPrintTranscript = new QPushButton(transcript, Panel2);
    btnPrintTranscript->setObjectName(QStringLiteral("btnPrintTranscript"));
    connect(btnPrintTranscript, &QPushButton::clicked, this, [this] { Guarded([this] { btnPrintTranscriptClick(); }); });
    frame()->addTrailingButton(btnPrintTranscript);
}

void TfrmStudentSet::btnPrintTranscriptClick()
{
    dravon::RecordSet *rs = mainSource()->dataSet();
    const QString id = rs && rs->recNo() >= 0 ? rs->fieldText(QStringLiteral("StudentID")) : QString();
    PrintTranscript(this, connection(), id);
}

void TfrmStudentSet::FormCreate()
{
    TfrmDictionaryBase::FormCreate();
    openInto(DataClassName, QStringLiteral("Select * From ClassInfo"));
}

void TfrmStudentSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmStudentSet = nullptr;
}
