#pragma once
// The password change dialog: the logged-in user replaces the password of
// their own account after giving the old one. Modal, created for each use,
// and it frees itself when closed.
#include "forms/base/Base_Unit.h"

#include <QPointer>

class QLabel;
class QLineEdit;
class QPushButton;

class TfrmModifyPassword : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmModifyPassword(QWidget *owner);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *lblUser = nullptr;
    QLineEdit *edtOldPassword = nullptr;
    QLineEdit *edtNewPassword = nullptr;
    QLineEdit *edtPasswordAgain = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void FormShow();
    void btnOKClick();
    void btnCancelClick();

protected:
    void FormClose() override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

extern QPointer<TfrmModifyPassword> frmModifyPassword;
