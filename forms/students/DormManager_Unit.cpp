#include "forms/students/DormManager_Unit.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

using dravon::QueryValueKind;

QPointer<TfrmDormManager> frmDormManager;

QList<dravon::QueryItem> TfrmDormManager::queryItems()
{
    return {
        {QStringLiteral("学号"), QueryValueKind::Number,
         QStringLiteral("Select B.* From StudentInfo A, Dorm B where A.StudentID=B.StudentID and A.StudentID ")},
        {QStringLiteral("姓名"), QueryValueKind::Name,
         QStringLiteral("Select B.* From StudentInfo A, Dorm B where A.StudentID=B.StudentID and A.StuName ")},
        // A picked "number.name" entry gives its number; a typed number is taken whole.
        {QStringLiteral("宿舍编号"), QueryValueKind::NumberOrEntry,
         QStringLiteral("Select B.* From DormInfo A, Dorm B where A.DormID=B.DormID and A.DormID ")}
    };
}

namespace {
QList<GridColumn> columns()
{
    return {{QStringLiteral("ClassID"), QStringLiteral("班级")},
            {QStringLiteral("StudentID"), QStringLiteral("学号")},
            {QStringLiteral("StuSex"), QStringLiteral("性别")},
            {QStringLiteral("DormID"), QStringLiteral("宿舍编号")},
            {QStringLiteral("Remark"), QStringLiteral("备注")}};
}

RecordPagesDeclaration declaration()
{
    return {QStringLiteral("frmDormManager"), QStringLiteral("学生宿舍管理"), QStringLiteral("宿舍分配"),
            QStringLiteral("查询"), QStringLiteral("DataDorm"), columns(), QStringLiteral("DataFindDrom"),
            TfrmDormManager::queryItems(),
            columns()};
}
}

TfrmDormManager::TfrmDormManager(QWidget *owner) : TfrmRecordPages(owner, declaration())
{
    DataDorm = mainSource();
    DataClassName = listSource(QStringLiteral("DataClassName"));
    DataDormID = listSource(QStringLiteral("DataDormID"));
    DataStudentID = listSource(QStringLiteral("DataStudentID"));
    DataFindDrom = resultSource();

    cmbxClassName = frame->makeLookup(QStringLiteral("cmbxClassName"), QStringLiteral("ClassID"), DataClassName,
                                      QStringLiteral("ClassID;ClaName"), 200);
    cmbxStuSex = frame->makeComboBox(QStringLiteral("cmbxStuSex"), QStringLiteral("StuSex"),
                                     {QStringLiteral("男"), QStringLiteral("女")}, false);
    cmbxStudentID = frame->makeLookup(QStringLiteral("cmbxStudentID"), QStringLiteral("StudentID"), DataStudentID,
                                      QStringLiteral("StudentID;StuName"), 200);
    edtRemark = frame->makeMemo(QStringLiteral("edtRemark"), QStringLiteral("Remark"), 2);
    cmbxDormID = frame->makeLookup(QStringLiteral("cmbxDormID"), QStringLiteral("DormID"), DataDormID,
                                   QStringLiteral("DormID;DormName"), 200);

    auto label = [this](const char *name, const QString &text) {
        return frame->makeLabel(QString::fromLatin1(name), text);
    };
    // The dormitory box is as wide as the boxes above it, though alone in its row.
    frame->keepToColumn(cmbxDormID);
    frame->setPanelRows({{{label("Label1", QStringLiteral("班  级：")), cmbxClassName},
                          {label("Label2", QStringLiteral("性  别：")), cmbxStuSex},
                          {label("Label3", QStringLiteral("学  号：")), cmbxStudentID}},
                         {{label("Label5", QStringLiteral("宿舍编号：")), cmbxDormID}},
                         {{label("Label4", QStringLiteral("备  注：")), edtRemark}}});
    separatePanelPairs();
    // The remark comes before the dormitory in the tab order.
    frame->setTabOrderList({cmbxClassName, cmbxStuSex, cmbxStudentID, edtRemark, cmbxDormID, btnAdd, btnModify,
                            btnDel, btnSave, btnCancel});

    findPage->itemPicked = [this] { cmbxItemsChange(); };
}

void TfrmDormManager::FormCreate()
{
    openInto(DataDorm, QStringLiteral("Select * From Dorm"));
    openInto(DataClassName, QStringLiteral("Select * From ClassInfo"));
    openInto(DataDormID, QStringLiteral("Select * From DormInfo"));
    openInto(DataStudentID, QStringLiteral("Select * From StudentInfo"));
    fitGrids();
}

void TfrmDormManager::cmbxItemsChange()
{
    findPage->setValueList({});
    if (cmbxItems->currentText() == QStringLiteral("宿舍编号"))
        findPage->setValueList(dravon::NumberAndNameEntries(connection(), QStringLiteral("Select * From DormInfo"),
                                                            QStringLiteral("DormID"), QStringLiteral("DormName")));
}

void TfrmDormManager::FormClose()
{
    TfrmBase::FormClose();
    frmDormManager = nullptr;
}
