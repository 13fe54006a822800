#pragma once
// The backup and restore window: copies the database file named in the
// configuration file to a file the user names, and a chosen backup back over
// it. Both copies are taken under the file's read lock into a temporary file
// and a rename;
// a restore refuses files that are not sound databases of this program,
// closes the other working windows (they show the replaced file's rows) and
// the connection around the replacement, and keeps the replaced file.
#include "forms/base/Base_Unit.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QFileDialog;
class QPushButton;
class QTimer;

// A strip showing documents travelling from one folder to another while a
// copy runs; still otherwise.
class FileCopyAnimation : public QWidget
{
    Q_OBJECT
public:
    explicit FileCopyAnimation(QWidget *parent = nullptr);
    void start();
    void stop();
    bool isActive() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer *m_timer = nullptr;
    int m_frame = 0;
};

class TfrmBackupData : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmBackupData(QWidget *owner);

    FileCopyAnimation *Animate1 = nullptr;
    QPushButton *btnBackup = nullptr;
    QPushButton *btnRestore = nullptr;
    // On a server only: the databases earlier restores kept, to look at and drop.
    QPushButton *btnKeptDatabases = nullptr;
    QFileDialog *SaveDialog = nullptr;
    QFileDialog *OpenDialog = nullptr;

    void btnBackupClick();
    void btnRestoreClick();
    void btnKeptDatabasesClick();

protected:
    void FormClose() override;

private:
    // Closes every other working window of the main window; their captions.
    QStringList closeOtherWindows();
};

extern QPointer<TfrmBackupData> frmBackupData;

// Runs a file dialog and returns the chosen file name, or empty text when the
// user cancels. Tests install their own answer; an empty handler restores
// the real dialog.
using FileDialogHandler = std::function<QString(QFileDialog *dialog)>;
void SetFileDialogHandler(FileDialogHandler handler);
