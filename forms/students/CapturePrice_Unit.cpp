#include "forms/students/CapturePrice_Unit.h"

#include <QLabel>
#include <QPushButton>

using dravon::QueryValueKind;

QPointer<TfrmCapturePrice> frmCapturePrice;

QList<dravon::QueryItem> TfrmCapturePrice::queryItems()
{
    return {
        {QStringLiteral("学号"), QueryValueKind::Number,
         QStringLiteral("Select B.* From StudentInfo A, Price B where A.StudentID=B.StudentID and A.StudentID ")},
        {QStringLiteral("姓名"), QueryValueKind::Name,
         QStringLiteral("Select B.* From StudentInfo A, Price B where A.StudentID=B.StudentID and A.StuName ")}
    };
}

namespace {
QList<GridColumn> columns()
{
    return {{QStringLiteral("ClassID"), QStringLiteral("班级编号")},
            {QStringLiteral("PriceName"), QStringLiteral("费用名称")},
            {QStringLiteral("StudentID"), QStringLiteral("学号")},
            {QStringLiteral("Price"), QStringLiteral("费用金额")},
            {QStringLiteral("Remark"), QStringLiteral("备注")}};
}

RecordPagesDeclaration declaration()
{
    return {QStringLiteral("frmCapturePrice"), QStringLiteral("学生缴费管理"), QStringLiteral("缴费输入"),
            QStringLiteral("查询"), QStringLiteral("DataPrice"), columns(), QStringLiteral("DataFindPrice"),
            TfrmCapturePrice::queryItems(),
            columns()};
}
}

TfrmCapturePrice::TfrmCapturePrice(QWidget *owner) : TfrmRecordPages(owner, declaration())
{
    DataPrice = mainSource();
    DataClassName = listSource(QStringLiteral("DataClassName"));
    DataStudentID = listSource(QStringLiteral("DataStudentID"));
    DataFindPrice = resultSource();

    cmbxClassName = frame->makeLookup(QStringLiteral("cmbxClassName"), QStringLiteral("ClassID"), DataClassName,
                                      QStringLiteral("ClassID;ClaName"), 200);
    cmbxStudentID = frame->makeLookup(QStringLiteral("cmbxStudentID"), QStringLiteral("StudentID"), DataStudentID,
                                      QStringLiteral("StudentID;StuName"), 200);
    edtRemark = frame->makeMemo(QStringLiteral("edtRemark"), QStringLiteral("Remark"), 2);
    cmbxPriceName = frame->makeComboBox(QStringLiteral("cmbxPriceName"), QStringLiteral("PriceName"),
                                        {QStringLiteral("学费"), QStringLiteral("书本费"), QStringLiteral("工本费"),
                                         QStringLiteral("其他费用")},
                                        true);
    edtPrice = frame->makeEdit(QStringLiteral("edtPrice"), QStringLiteral("Price"));

    auto label = [this](const char *name, const QString &text) {
        return frame->makeLabel(QString::fromLatin1(name), text);
    };
    frame->setPanelRows({{{label("Label1", QStringLiteral("班  级：")), cmbxClassName},
                          {label("Label2", QStringLiteral("学  号：")), cmbxStudentID}},
                         {{label("Label4", QStringLiteral("费用名称：")), cmbxPriceName},
                          {label("Label5", QStringLiteral("费  用：")), edtPrice}},
                         {{label("Label3", QStringLiteral("备  注：")), edtRemark}}});
    separatePanelPairs();
    // The buttons come between the remark and the fee name in the tab order.
    frame->setTabOrderList({cmbxClassName, cmbxStudentID, edtRemark, btnAdd, btnModify, btnDel, btnSave, btnCancel,
                            cmbxPriceName, edtPrice});
}

void TfrmCapturePrice::FormCreate()
{
    openInto(DataPrice, QStringLiteral("Select * From Price"));
    openInto(DataClassName, QStringLiteral("Select * From ClassInfo"));
    openInto(DataStudentID, QStringLiteral("Select * From StudentInfo"));
    fitGrids();
}

void TfrmCapturePrice::FormClose()
{
    TfrmBase::FormClose();
    frmCapturePrice = nullptr;
}
