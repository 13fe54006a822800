#include "forms/master/UserSet_Unit.h"

#include <QPushButton>

QPointer<TfrmUserSet> frmUserSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmUserSet"), QStringLiteral("用户管理维护"), QStringLiteral("DataUser"),
            QStringLiteral("User"), QStringLiteral("UserID"), QStringLiteral("UserName"),
            QStringLiteral("1001"),
            {
                {QStringLiteral("UserID"), QStringLiteral("登录编号")},
                {QStringLiteral("UserName"), QStringLiteral("用户名")},
                {QStringLiteral("UserPassword"), QStringLiteral("密码")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmUserSet::TfrmUserSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    Label1->setText(QStringLiteral("用户编号："));
    Label2->setText(QStringLiteral("名    称："));
    Label3->setText(QStringLiteral("备    注："));
    // The password is kept and shown in clear text.
    edtPassword = makeEdit(QStringLiteral("edtPassword"), QStringLiteral("UserPassword"));
    setPanelRows({{{Label1, txtID}, {Label2, edtName}, {makeLabel(QStringLiteral("Label4"), QStringLiteral("初始密码：")), edtPassword}}});
}

void TfrmUserSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmUserSet = nullptr;
}
