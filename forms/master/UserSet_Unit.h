#pragma once
// The window that keeps user accounts (User), numbered from 1001, passwords in clear text.
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmUserSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmUserSet(QWidget *owner);

    DBEdit *edtPassword = nullptr;
protected:
    void FormClose() override;
};

extern QPointer<TfrmUserSet> frmUserSet;
