#pragma once
// The window that keeps colleges (GradeInfo).
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmCollegeSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmCollegeSet(QWidget *owner);

protected:
    void FormClose() override;
};

extern QPointer<TfrmCollegeSet> frmCollegeSet;
