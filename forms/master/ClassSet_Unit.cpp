#include "forms/master/ClassSet_Unit.h"

#include <QPushButton>

QPointer<TfrmClassSet> frmClassSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmClassSet"), QStringLiteral("班级信息维护"), QStringLiteral("DataClass"),
            QStringLiteral("ClassInfo"), QStringLiteral("ClassID"), QStringLiteral("ClaName"),
            QStringLiteral("2007001"),
            {
                {QStringLiteral("ClassID"), QStringLiteral("编号")},
                {QStringLiteral("GradeID"), QStringLiteral("所属院系编号")},
                {QStringLiteral("ClaName"), QStringLiteral("班级名称")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmClassSet::TfrmClassSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    DataGradeID = new DataSource(QStringLiteral("DataGradeID"), this);
    cmbxCollege = makeLookup(QStringLiteral("cmbxCollege"), QStringLiteral("GradeID"), DataGradeID,
                             QStringLiteral("GradeID;GrdName"), 150);
    setPanelRows({{{Label1, txtID}, {makeLabel(QStringLiteral("Label4"), QStringLiteral("所属学院：")), cmbxCollege}},
                  {{Label2, edtName}}});
}

void TfrmClassSet::FormCreate()
{
    TfrmDictionaryBase::FormCreate();
    openInto(DataGradeID, QStringLiteral("Select * From GradeInfo"));
}

void TfrmClassSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmClassSet = nullptr;
}
