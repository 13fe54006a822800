#pragma once
// The window that keeps examination scores (Score): the editing page with
// the student, class and subject lookups and the date box, and the query
// page by student number, subject, class or student name.
#include "forms/students/RecordPages_Unit.h"

#include <QPointer>

class QAction;

class TfrmStudentScore : public TfrmRecordPages
{
    Q_OBJECT
public:
    explicit TfrmStudentScore(QWidget *owner);

    // The items of the query page, in the order of cmbxItems.
    static QList<dravon::QueryItem> queryItems();

    DataSource *DataStudentScore = nullptr;
    DataSource *DataStudentID = nullptr;
    DataSource *DataClassName = nullptr;
    DataSource *DataSubjectName = nullptr;
    DataSource *DataFindScore = nullptr;

    DBLookupComboBox *cmbxStudentID = nullptr;
    DBEdit *edtScoreDateTime = nullptr;
    QPushButton *SpeedButton1 = nullptr;
    DBComboBox *cmbxTerm = nullptr;
    DBLookupComboBox *cmbxClassName = nullptr;
    DBLookupComboBox *cmbxSubjectName = nullptr;
    DBEdit *edtScore = nullptr;
    DBText *txtCreditHour = nullptr;
    DBMemo *edtRemark = nullptr;
    QPushButton *btnPrintTranscript = nullptr;
    QAction *actPrintTranscript = nullptr;

    void FormCreate() override;
    // The date button: the date picker's choice into edtScoreDateTime.
    void SpeedButton1Click();
    // A subject was picked: its credit goes into the score row.
    void cmbxSubjectNameClick();
    // An item was picked: the value list offers its entries.
    void cmbxItemsChange();
    // The transcript of the current row's student: print preview.
    void btnPrintTranscriptClick();

protected:
    void FormClose() override;
};

extern QPointer<TfrmStudentScore> frmStudentScore;
