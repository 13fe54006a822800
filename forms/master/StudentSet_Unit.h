#pragma once
// The window that keeps students (StudentInfo), with the class lookup and the two date boxes.
#include "forms/base/DictionaryBase_Unit.h"

#include <QPointer>

class TfrmStudentSet : public TfrmDictionaryBase
{
    Q_OBJECT
public:
    explicit TfrmStudentSet(QWidget *owner);

    DataSource *DataClassName = nullptr;
    DBComboBox *cmbxSex = nullptr;
    DBEdit *edtAge = nullptr;
    DBLookupComboBox *cmbxClass = nullptr;
    DBEdit *edtInDate = nullptr;
    QPushButton *btnInDate = nullptr;
    DBEdit *edtOutDate = nullptr;
    QPushButton *btnOutDate = nullptr;
    DBEdit *edtAddress = nullptr;
    // "打印成绩单…": the button beside the editing commands and the grid's menu command.
    QPushButton *btnPrintTranscript = nullptr;
    QAction *actPrintTranscript = nullptr;

    void btnPrintTranscriptClick();

    void FormCreate() override;
protected:
    void FormClose() override;
};

extern QPointer<TfrmStudentSet> frmStudentSet;
