#pragma once
// The database setup dialog: choose the database file, test it, store its
// path and ask for a restart. Where the build offers the server way, the
// dialog also takes a PostgreSQL server (主机, 端口, 数据库, 用户, 密码),
// tests it (测试连接) and stores its address; the password goes into libpq's
// password file, never into the configuration file.
#include "data/server/PgSession.h"

#include <QDialog>
#include <QPointer>

class QFileDialog;
class QLineEdit;
class QPushButton;
class QRadioButton;
class ServerAddressBox;

class TfrmDBSetup : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmDBSetup(QWidget *owner);

    QLineEdit *edtDBFilePath = nullptr;
    QPushButton *btnFilePath = nullptr;
    QPushButton *btnOk = nullptr;
    QFileDialog *OpenPath = nullptr;
    // The server way; null where the build does not offer it.
    QRadioButton *rdoFile = nullptr;
    QRadioButton *rdoServer = nullptr;
    ServerAddressBox *grpServer = nullptr;

    void btnFilePathClick();
    void btnOkClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    void FormClose();
    void buildServerWay();
    void showWay();
    bool serverChosen() const;
    void okForServer(const dravon::pg::ServerAddress &address);
};

extern QPointer<TfrmDBSetup> frmDBSetup;
