#pragma once
// The school information window: four school-wide facts kept in section
// "Info" of the configuration file, read when the window is shown and
// written back by OK.
#include "forms/base/Base_Unit.h"

#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmSchoolInfo : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmSchoolInfo(QWidget *owner);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *edtSchoolName = nullptr;
    QLineEdit *edtSchoolAddress = nullptr;
    QLineEdit *edtLinkMan = nullptr;
    QLineEdit *edtType = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormShow();
    void btnOKClick();
    void btnCancelClick();

protected:
    void FormClose() override;
    void showEvent(QShowEvent *event) override;

private:
    bool m_shown = false;
};

extern QPointer<TfrmSchoolInfo> frmSchoolInfo;
