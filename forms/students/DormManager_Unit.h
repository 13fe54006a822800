#pragma once
// The window that keeps dormitory places (Dorm): the editing page with the
// class, student and dormitory lookups, and the query page by student
// number, student name or dormitory number.
#include "forms/students/RecordPages_Unit.h"

#include <QPointer>

class TfrmDormManager : public TfrmRecordPages
{
    Q_OBJECT
public:
    explicit TfrmDormManager(QWidget *owner);

    // The items of the query page, in the order of cmbxItems.
    static QList<dravon::QueryItem> queryItems();

    DataSource *DataDorm = nullptr;
    DataSource *DataClassName = nullptr;
    DataSource *DataDormID = nullptr;
    DataSource *DataStudentID = nullptr;
    DataSource *DataFindDrom = nullptr;

    DBLookupComboBox *cmbxClassName = nullptr;
    DBComboBox *cmbxStuSex = nullptr;
    DBLookupComboBox *cmbxStudentID = nullptr;
    DBMemo *edtRemark = nullptr;
    DBLookupComboBox *cmbxDormID = nullptr;

    void FormCreate() override;
    // An item was picked: "宿舍编号" offers the dormitories, the others nothing.
    void cmbxItemsChange();

protected:
    void FormClose() override;
};

extern QPointer<TfrmDormManager> frmDormManager;
