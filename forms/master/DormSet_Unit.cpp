#include "forms/master/DormSet_Unit.h"

#include <QPushButton>

QPointer<TfrmDormSet> frmDormSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmDormSet"), QStringLiteral("宿舍信息维护"), QStringLiteral("DataDorm"),
            QStringLiteral("DormInfo"), QStringLiteral("DormID"), QStringLiteral("DormName"),
            QStringLiteral("2007001"),
            {
                {QStringLiteral("DormID"), QStringLiteral("编号")},
                {QStringLiteral("DormName"), QStringLiteral("名称")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmDormSet::TfrmDormSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    setPanelRows({{{Label1, txtID}, {Label2, edtName}}});
}

void TfrmDormSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmDormSet = nullptr;
}
