#pragma once
// The window that keeps classes (ClassInfo), each choosing its college from a lookup.
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmClassSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmClassSet(QWidget *owner);

    DataSource *DataGradeID = nullptr;
    DBLookupComboBox *cmbxCollege = nullptr;

    void FormCreate() override;
protected:
    void FormClose() override;
};

extern QPointer<TfrmClassSet> frmClassSet;
