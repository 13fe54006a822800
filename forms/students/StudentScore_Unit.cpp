#include "forms/students/StudentScore_Unit.h"

#include "forms/base/DateChoice_Unit.h"
#include "gui/Shell_Unit.h"
#include "gui/TranscriptPrint.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

using dravon::QueryValueKind;

QPointer<TfrmStudentScore> frmStudentScore;

QList<dravon::QueryItem> TfrmStudentScore::queryItems()
{
    return {
        {QStringLiteral("学号"), QueryValueKind::Number,
         QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StudentID ")},
        {QStringLiteral("科目"), QueryValueKind::NumberWithName,
         QStringLiteral("Select B.* From SubjectInfo A, Score B where A.SubjectID=B.SubjectID and A.SubjectID ")},
        {QStringLiteral("班级"), QueryValueKind::NumberWithName,
         QStringLiteral("Select B.* From ClassInfo A, Score B where A.ClassID=B.ClassID and A.ClassID ")},
        {QStringLiteral("姓名"), QueryValueKind::Name,
         QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StuName ")}
    };
}

namespace {
RecordPagesDeclaration declaration()
{
    return {QStringLiteral("frmStudentScore"), QStringLiteral("学生成绩"), QStringLiteral("成绩录入"),
            QStringLiteral("成绩查询"), QStringLiteral("DataStudentScore"),
            {
        {QStringLiteral("StudentID"), QStringLiteral("学号")},
        {QStringLiteral("ScoreDateTime"), QStringLiteral("时间")},
        {QStringLiteral("Term"), QStringLiteral("学期")},
        {QStringLiteral("SubjectID"), QStringLiteral("科目")},
        {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
        {QStringLiteral("Score"), QStringLiteral("分数")},
        {QStringLiteral("CreditHour"), QStringLiteral("学分")},
        {QStringLiteral("Remark"), QStringLiteral("备注")}
            },
            QStringLiteral("DataFindScore"), TfrmStudentScore::queryItems(),
            {
        {QStringLiteral("StudentID"), QStringLiteral("编号")},
        {QStringLiteral("ScoreDateTime"), QStringLiteral("时间")},
        {QStringLiteral("Term"), QStringLiteral("学期")},
        {QStringLiteral("SubjectID"), QStringLiteral("科目")},
        {QStringLiteral("ClassID"), QStringLiteral("班级")},
        {QStringLiteral("Score"), QStringLiteral("分数")},
        {QStringLiteral("CreditHour"), QStringLiteral("学分")},
        {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmStudentScore::TfrmStudentScore(QWidget *owner) : TfrmRecordPages(owner, declaration())
{
    DataStudentScore = mainSource();
    DataStudentID = listSource(QStringLiteral("DataStudentID"));
    DataClassName = listSource(QStringLiteral("DataClassName"));
    DataSubjectName = listSource(QStringLiteral("DataSubjectName"));
    DataFindScore = resultSource();

    cmbxStudentID = frame->makeLookup(QStringLiteral("cmbxStudentID"), QStringLiteral("StudentID"), DataStudentID,
                                      QStringLiteral("StudentID;StuName"), 200);
    QWidget *dateBox = frame->makeDateBox(QStringLiteral("edtScoreDateTime"), QStringLiteral("SpeedButton1"),
                                          QStringLiteral("ScoreDateTime"), true, &edtScoreDateTime, &SpeedButton1);
    cmbxTerm = frame->makeComboBox(QStringLiteral("cmbxTerm"), QStringLiteral("Term"),
                                   {QStringLiteral("第一学期"), QStringLiteral("第二学期"), QStringLiteral("第三学期"),
                                    QStringLiteral("第四学期")},
                                   true);
    cmbxClassName = frame->makeLookup(QStringLiteral("cmbxClassName"), QStringLiteral("ClassID"), DataClassName,
                                      QStringLiteral("ClassID;ClaName"), 200);
    cmbxSubjectName = frame->makeLookup(QStringLiteral("cmbxSubjectName"), QStringLiteral("SubjectID"),
                                        DataSubjectName, QStringLiteral("SubjectID;SubName"), 200);
    edtScore = frame->makeEdit(QStringLiteral("edtScore"), QStringLiteral("Score"));
    txtCreditHour = frame->makeText(QStringLiteral("txtCreditHour"), QStringLiteral("CreditHour"));
    // On a tab page the shaded panel frame all but vanishes; an explicit border reads as a field.
    txtCreditHour->setStyleSheet(QStringLiteral(
        "QLabel { border: 1px solid palette(mid); background: palette(window); padding: 0px 3px; }"));
    edtRemark = frame->makeMemo(QStringLiteral("edtRemark"), QStringLiteral("Remark"), 2);

    auto label = [this](const char *name, const QString &text) {
        return frame->makeLabel(QString::fromLatin1(name), text);
    };
    frame->setPanelRows({{{label("Label1", QStringLiteral("学  号：")), cmbxStudentID},
                          {label("Label2", QStringLiteral("时  间：")), dateBox},
                          {label("Label3", QStringLiteral("学  期：")), cmbxTerm},
                          {label("Label4", QStringLiteral("班  级：")), cmbxClassName}},
                         {{label("Label5", QStringLiteral("科目名称：")), cmbxSubjectName},
                          {label("Label6", QStringLiteral("成  绩：")), edtScore},
                          {label("Label7", QStringLiteral("学  分：")), txtCreditHour}},
                         {{label("Label8", QStringLiteral("备  注：")), edtRemark}}});
    separatePanelPairs();

    // The lookup has stored the subject's number by the time it says so.
    connect(cmbxSubjectName, &DBLookupComboBox::picked, this, &TfrmStudentScore::cmbxSubjectNameClick);
    findPage->itemPicked = [this] { cmbxItemsChange(); };

    // The current row's student's transcript: from the grid's menu and from
    // a button after the record commands.
    const QString transcript = QStringLiteral("打印成绩单…");
    actPrintTranscript = new QAction(transcript, DBGrid1);
    actPrintTranscript->setObjectName(QStringLiteral("actPrintTranscript"));
    connect(actPrintTranscript, &QAction::triggered, this, [this] { Guarded([this] { btnPrintTranscriptClick(); }); });
    DBGrid1->addAction(actPrintTranscript);
    btnPrintTranscript = new QPushButton(transcript, this);
    btnPrintTranscript->setObjectName(QStringLiteral("btnPrintTranscript"));
    connect(btnPrintTranscript, &QPushButton::clicked, this, [this] { Guarded([this] { btnPrintTranscriptClick(); }); });
    frame->addTrailingButton(btnPrintTranscript);
}

void TfrmStudentScore::btnPrintTranscriptClick()
{
    dravon::RecordSet *rs = DataStudentScore->dataSet();
    const QString id = rs && rs->recNo() >= 0 ? rs->fieldText(QStringLiteral("StudentID")) : QString();
    PrintTranscript(this, connection(), id);
}

void TfrmStudentScore::FormCreate()
{
    openInto(DataStudentScore, QStringLiteral("Select * From Score"));
    openInto(DataStudentID, QStringLiteral("Select * From StudentInfo"));
    openInto(DataClassName, QStringLiteral("Select * From ClassInfo"));
    openInto(DataSubjectName, QStringLiteral("Select * From SubjectInfo"));
    fitGrids();
}

void TfrmStudentScore::SpeedButton1Click()
{
    PickDateInto(this, edtScoreDateTime);
}

void TfrmStudentScore::cmbxSubjectNameClick()
{
    dravon::RecordSet *subjects = DataSubjectName->dataSet();
    dravon::RecordSet *scores = DataStudentScore->dataSet();
    if (!subjects || !scores || subjects->recNo() < 0)
        return;
    scores->setFieldText(QStringLiteral("CreditHour"), subjects->fieldText(QStringLiteral("CreditHour")));
}

void TfrmStudentScore::cmbxItemsChange()
{
    const QString item = cmbxItems->currentText();
    // Emptied first, so a list that cannot be read is left empty, not stale.
    findPage->setValueList({});
    QStringList entries;
    if (item == QStringLiteral("科目"))
        entries = dravon::NumberAndNameEntries(connection(), QStringLiteral("Select * From SubjectInfo"),
                                               QStringLiteral("SubjectID"), QStringLiteral("SubName"));
    else if (item == QStringLiteral("班级"))
        entries = dravon::NumberAndNameEntries(connection(), QStringLiteral("Select * From ClassInfo"),
                                               QStringLiteral("ClassID"), QStringLiteral("ClaName"));
    findPage->setValueList(entries);
}

void TfrmStudentScore::FormClose()
{
    TfrmBase::FormClose();
    frmStudentScore = nullptr;
}
