#include "forms/master/SubjectSet_Unit.h"

#include <QPushButton>

QPointer<TfrmSubjectSet> frmSubjectSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmSubjectSet"), QStringLiteral("教学科目维护"), QStringLiteral("DataSubject"),
            QStringLiteral("SubjectInfo"), QStringLiteral("SubjectID"), QStringLiteral("SubName"),
            QStringLiteral("2007001"),
            {
                {QStringLiteral("SubjectID"), QStringLiteral("编号")},
                {QStringLiteral("SubName"), QStringLiteral("科目")},
                {QStringLiteral("CreditHour"), QStringLiteral("学分")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmSubjectSet::TfrmSubjectSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    edtSorce = makeEdit(QStringLiteral("edtSorce"), QStringLiteral("CreditHour"));
    setPanelRows({{{Label1, txtID}, {Label2, edtName}, {makeLabel(QStringLiteral("Label4"), QStringLiteral("学  分：")), edtSorce}}});
}

void TfrmSubjectSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmSubjectSet = nullptr;
}
