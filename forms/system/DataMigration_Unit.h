#pragma once
// 数据迁移: copies a database file into an empty database on a PostgreSQL
// server, with progress and the row counts of every table, in one
// transaction (see data/server/Migration.h). The copy runs on a thread of its
// own, so the dialog keeps painting and 取消 is heard between chunks of rows.
#include "data/server/Migration.h"

#include <QDialog>
#include <QPointer>
#include <atomic>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;
class ServerAddressBox;

class TfrmDataMigration : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmDataMigration(QWidget *owner);
    ~TfrmDataMigration() override;

    QLineEdit *edtSourceFile = nullptr;
    QPushButton *btnSourceFile = nullptr;
    ServerAddressBox *grpServer = nullptr;
    QProgressBar *prgMigration = nullptr;
    QLabel *lblStatus = nullptr;
    QTableWidget *grdCounts = nullptr;
    QPushButton *btnStart = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnClose = nullptr;

    void btnSourceFileClick();
    void btnStartClick();
    void btnCancelClick();
    bool isRunning() const;

signals:
    // The migration ended (successfully or not) and its message was shown.
    void finished();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showProgress(const dravon::pg::MigrationProgress &progress);
    void showCounts(const QList<dravon::pg::MigratedTable> &counts);
    void done(const QList<dravon::pg::MigratedTable> &counts, const QString &failure, bool cancelled);
    void setRunning(bool running);

    QThread *m_worker = nullptr;
    std::atomic<bool> m_cancel{false};
};

extern QPointer<TfrmDataMigration> frmDataMigration;
