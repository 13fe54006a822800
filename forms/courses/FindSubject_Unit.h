#pragma once
// The course query window: arrangements with the names of their students,
// subjects and teachers, found by one identifier or by a range of begin dates.
// It only reads.
#include "forms/base/Base_Unit.h"

#include <QPointer>

class DataGrid;
class DataSource;
class QComboBox;
class QDateEdit;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TfrmFindSubject : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmFindSubject(QWidget *owner);

    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QComboBox *cmbxItmes = nullptr;
    QLineEdit *edtValues = nullptr;
    QPushButton *btnFind = nullptr;
    QDateEdit *dtpBeginDate = nullptr;
    QDateEdit *dtpEndDate = nullptr;
    DataSource *DataFindPlan = nullptr;
    DataGrid *DBGrid1 = nullptr;

    // Builds the statement from the search controls, opens it and shows the
    // result; the previous result stays when the statement fails.
    void btnFindClick();

protected:
    void FormClose() override;
};

extern QPointer<TfrmFindSubject> frmFindSubject;
