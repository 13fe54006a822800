#include "forms/master/CollegeSet_Unit.h"

#include <QPushButton>

QPointer<TfrmCollegeSet> frmCollegeSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmCollegeSet"), QStringLiteral("学院信息维护"), QStringLiteral("DataCollege"),
            QStringLiteral("GradeInfo"), QStringLiteral("GradeID"), QStringLiteral("GrdName"),
            QStringLiteral("2007001"),
            {
                {QStringLiteral("GradeID"), QStringLiteral("编号")},
                {QStringLiteral("GrdName"), QStringLiteral("名称")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmCollegeSet::TfrmCollegeSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    setPanelRows({{{Label1, txtID}, {Label2, edtName}}});
}

void TfrmCollegeSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmCollegeSet = nullptr;
}
