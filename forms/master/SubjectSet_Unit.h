#pragma once
// The window that keeps teaching subjects (SubjectInfo) with their credit.
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmSubjectSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmSubjectSet(QWidget *owner);

    DBEdit *edtSorce = nullptr;
protected:
    void FormClose() override;
};

extern QPointer<TfrmSubjectSet> frmSubjectSet;
