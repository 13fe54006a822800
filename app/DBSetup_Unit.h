#pragma once
// The database setup dialog: choose the database file, test it, store its
// path and ask for a restart.
#include <QDialog>
#include <QPointer>

class QFileDialog;
class QLineEdit;
class QPushButton;

class TfrmDBSetup : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmDBSetup(QWidget *owner);

    QLineEdit *edtDBFilePath = nullptr;
    QPushButton *btnFilePath = nullptr;
    QPushButton *btnOk = nullptr;
    QFileDialog *OpenPath = nullptr;

    void btnFilePathClick();
    void btnOkClick();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormShow();
    void FormClose();
};

extern QPointer<TfrmDBSetup> frmDBSetup;
