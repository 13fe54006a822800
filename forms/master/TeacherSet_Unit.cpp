#include "forms/master/TeacherSet_Unit.h"

#include <QPushButton>

QPointer<TfrmTeacherSet> frmTeacherSet;

namespace {
DictionaryDeclaration declaration()
{
    return {QStringLiteral("frmTeacherSet"), QStringLiteral("老师信息维护"), QStringLiteral("DataTeacher"),
            QStringLiteral("TeacherInfo"), QStringLiteral("TeacherID"), QStringLiteral("TchName"),
            QStringLiteral("2007001"),
            {
                {QStringLiteral("TeacherID"), QStringLiteral("编号")},
                {QStringLiteral("TchName"), QStringLiteral("姓名")},
                {QStringLiteral("TchSex"), QStringLiteral("性别")},
                {QStringLiteral("TchAge"), QStringLiteral("年龄")},
                {QStringLiteral("Duty"), QStringLiteral("职务")},
                {QStringLiteral("TchContact"), QStringLiteral("联系方式")},
                {QStringLiteral("Remark"), QStringLiteral("备注")}
            }};
}
}

TfrmTeacherSet::TfrmTeacherSet(QWidget *owner) : TfrmDictionaryBase(owner, declaration())
{
    cmbxSex = makeComboBox(QStringLiteral("cmbxSex"), QStringLiteral("TchSex"), {QStringLiteral("男"), QStringLiteral("女")});
    edtAge = makeEdit(QStringLiteral("edtAge"), QStringLiteral("TchAge"));
    cmbxDuty = makeComboBox(QStringLiteral("cmbxDuty"), QStringLiteral("Duty"),
                            {QStringLiteral("教师"), QStringLiteral("讲师"), QStringLiteral("副教授"), QStringLiteral("教授")});
    edtAddress = makeEdit(QStringLiteral("edtAddress"), QStringLiteral("TchContact"));
    setPanelRows({{{Label1, txtID}, {Label2, edtName}, {makeLabel(QStringLiteral("Label4"), QStringLiteral("性  别：")), cmbxSex},
                   {makeLabel(QStringLiteral("Label5"), QStringLiteral("年  龄：")), edtAge}},
                  {{makeLabel(QStringLiteral("Label6"), QStringLiteral("职  务：")), cmbxDuty},
                   {makeLabel(QStringLiteral("Label7"), QStringLiteral("联系方式：")), edtAddress}}});
}

void TfrmTeacherSet::FormClose()
{
    TfrmDictionaryBase::FormClose();
    frmTeacherSet = nullptr;
}
