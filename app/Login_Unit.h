#pragma once
// The login: user number and password compared with the user table.
#include <QDialog>
#include <QPointer>

class QLineEdit;
class QPushButton;

class TfrmLogin : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmLogin(QWidget *owner = nullptr);

    QLineEdit *edtUserID = nullptr;
    QLineEdit *edtUserPwd = nullptr;
    QPushButton *btnLogin = nullptr;
    QPushButton *btnExit = nullptr;

    void btnLoginClick();
    void btnExitClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool FormKeyPress(QKeyEvent *event);
};

extern QPointer<TfrmLogin> frmLogin;
// Set once the first login window has been created in this run: the sign
// that start-up is over.
bool LoginWindowCreated();
void SetLoginWindowCreated(bool created);
