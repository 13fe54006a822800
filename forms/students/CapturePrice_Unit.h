#pragma once
// The window that keeps fee payments (Price): the editing page with the
// class and student lookups, and the query page by student number or name.
#include "forms/students/RecordPages_Unit.h"

#include <QPointer>

class TfrmCapturePrice : public TfrmRecordPages
{
    Q_OBJECT
public:
    explicit TfrmCapturePrice(QWidget *owner);

    // The items of the query page, in the order of cmbxItems.
    static QList<dravon::QueryItem> queryItems();

    DataSource *DataPrice = nullptr;
    DataSource *DataClassName = nullptr;
    DataSource *DataStudentID = nullptr;
    DataSource *DataFindPrice = nullptr;

    DBLookupComboBox *cmbxClassName = nullptr;
    DBLookupComboBox *cmbxStudentID = nullptr;
    DBMemo *edtRemark = nullptr;
    DBComboBox *cmbxPriceName = nullptr;
    DBEdit *edtPrice = nullptr;

    void FormCreate() override;

protected:
    void FormClose() override;
};

extern QPointer<TfrmCapturePrice> frmCapturePrice;
