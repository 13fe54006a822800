#pragma once
// The window that keeps teachers (TeacherInfo).
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmTeacherSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmTeacherSet(QWidget *owner);

    DBComboBox *cmbxSex = nullptr;
    DBEdit *edtAge = nullptr;
    DBComboBox *cmbxDuty = nullptr;
    DBEdit *edtAddress = nullptr;
protected:
    void FormClose() override;
};

extern QPointer<TfrmTeacherSet> frmTeacherSet;
