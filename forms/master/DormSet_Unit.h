#pragma once
// The window that keeps dormitories (DormInfo).
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmDormSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmDormSet(QWidget *owner);

protected:
    void FormClose() override;
};

extern QPointer<TfrmDormSet> frmDormSet;
