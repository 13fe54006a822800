#include "forms/system/DataMigration_Unit.h"

#include "data/ProgramSettings.h"
#include "data/ServerSettings.h"
#include "gui/OpenFileDialog.h"
#include "gui/ServerAddressBox.h"
#include "gui/Shell_Unit.h"

#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

QPointer<TfrmDataMigration> frmDataMigration;

TfrmDataMigration::TfrmDataMigration(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmDataMigration"));
    setWindowTitle(QStringLiteral("数据迁移"));
    setModal(true);

    auto *intro = new QLabel(QStringLiteral("把数据库文件中的全部数据复制到服务器上的空数据库。数据库文件不会被修改;"
                                            "复制失败或取消时,服务器上的数据库保持原样。"),
                             this);
    intro->setWordWrap(true);

    auto *fileLabel = new QLabel(QStringLiteral("数据库文件(&L)："), this);
    edtSourceFile = new QLineEdit(this);
    edtSourceFile->setObjectName(QStringLiteral("edtSourceFile"));
    edtSourceFile->setMinimumWidth(360);
    fileLabel->setBuddy(edtSourceFile);
    btnSourceFile = new QPushButton(QStringLiteral("浏览(&T)"), this);
    btnSourceFile->setObjectName(QStringLiteral("btnSourceFile"));
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(edtSourceFile, 1);
    fileRow->addWidget(btnSourceFile);

    grpServer = new ServerAddressBox(this);
    grpServer->setObjectName(QStringLiteral("grpServer"));
    grpServer->setTitle(QStringLiteral("服务器 (PostgreSQL)"));

    prgMigration = new QProgressBar(this);
    prgMigration->setObjectName(QStringLiteral("prgMigration"));
    prgMigration->setRange(0, 1000);
    prgMigration->setValue(0);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));

    grdCounts = new QTableWidget(0, 3, this);
    grdCounts->setObjectName(QStringLiteral("grdCounts"));
    grdCounts->setHorizontalHeaderLabels(
        {QStringLiteral("数据表"), QStringLiteral("文件中的行数"), QStringLiteral("服务器上的行数")});
    grdCounts->verticalHeader()->hide();
    grdCounts->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    grdCounts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdCounts->setSelectionMode(QAbstractItemView::NoSelection);
    grdCounts->setMinimumHeight(200);

    btnStart = new QPushButton(QStringLiteral("开始迁移(&S)"), this);
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnCancel = new QPushButton(QStringLiteral("取消(&C)"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnClose = new QPushButton(QStringLiteral("关闭(&X)"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    for (QPushButton *b : {btnSourceFile, btnStart, btnCancel, btnClose})
        b->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnStart);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnClose);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(fileRow);
    layout->addWidget(grpServer);
    layout->addWidget(prgMigration);
    layout->addWidget(lblStatus);
    layout->addWidget(grdCounts, 1);
    layout->addLayout(buttons);

    connect(btnSourceFile, &QPushButton::clicked, this, [this] { Guarded([this] { btnSourceFileClick(); }); });
    connect(btnStart, &QPushButton::clicked, this, [this] { Guarded([this] { btnStartClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    // The configured file and server, when there are.
    edtSourceFile->setText(ReadDBFileName(GetConfigFileName()));
    if (const auto address = ReadServerAddress(GetConfigFileName()))
        grpServer->showAddress(*address);
    setRunning(false);
}

TfrmDataMigration::~TfrmDataMigration()
{
    // A migration still running is cancelled and rolled back before the
    // dialog goes; its last messages to the dialog are dropped with it.
    if (m_worker) {
        m_cancel = true;
        m_worker->wait();
    }
    if (frmDataMigration == this)
        frmDataMigration = nullptr;
}

bool TfrmDataMigration::isRunning() const
{
    return m_worker != nullptr;
}

void TfrmDataMigration::setRunning(bool running)
{
    edtSourceFile->setEnabled(!running);
    btnSourceFile->setEnabled(!running);
    grpServer->setEnabled(!running);
    btnStart->setEnabled(!running);
    btnCancel->setEnabled(running);
    btnClose->setEnabled(!running);
}

void TfrmDataMigration::btnSourceFileClick()
{
    const QString chosen = AskOpenFileName(this, QStringLiteral("数据库文件"), QStringLiteral("Access(*.mdb)"));
    if (!chosen.isEmpty())
        edtSourceFile->setText(QDir::toNativeSeparators(chosen));
}

void TfrmDataMigration::btnStartClick()
{
    if (isRunning())
        return;
    const QString file = edtSourceFile->text().trimmed();
    if (file.isEmpty()) {
        ShowMessage(QStringLiteral("请选择数据库文件!"), QStringLiteral("错误"), QMessageBox::Critical);
        edtSourceFile->setFocus();
        return;
    }
    const auto address = grpServer->typedAddress();
    if (!address)
        return;

    grdCounts->setRowCount(0);
    prgMigration->setValue(0);
    lblStatus->setText(QStringLiteral("正在连接服务器……"));
    m_cancel = false;
    setRunning(true);
    const QString path = QDir::fromNativeSeparators(file);
    m_worker = QThread::create([this, path, address = *address] {
        QList<dravon::pg::MigratedTable> counts;
        QString failure;
        bool cancelled = false;
        try {
            counts = dravon::pg::migrateFileToServer(path, address, [this](const dravon::pg::MigrationProgress &p) {
                QMetaObject::invokeMethod(this, [this, p] { showProgress(p); }, Qt::QueuedConnection);
                return !m_cancel.load();
            });
        } catch (const dravon::pg::MigrationCancelled &) {
            cancelled = true;
        } catch (const std::exception &e) {
            failure = ErrorText(e);
        }
        QMetaObject::invokeMethod(
            this, [this, counts, failure, cancelled] { done(counts, failure, cancelled); }, Qt::QueuedConnection);
    });
    m_worker->start();
}

void TfrmDataMigration::btnCancelClick()
{
    if (!isRunning())
        return;
    m_cancel = true;
    lblStatus->setText(QStringLiteral("正在取消……"));
}

void TfrmDataMigration::showProgress(const dravon::pg::MigrationProgress &progress)
{
    if (m_cancel || !isRunning())
        return;
    if (progress.rowsTotal > 0)
        prgMigration->setValue(int(progress.rowsDone * 1000 / progress.rowsTotal));
    lblStatus->setText(progress.table.isEmpty()
                           ? QStringLiteral("共 %1 行,准备复制……").arg(progress.rowsTotal)
                           : QStringLiteral("正在复制表 %1:已复制 %2 / %3 行")
                                 .arg(progress.table)
                                 .arg(progress.rowsDone)
                                 .arg(progress.rowsTotal));
}

void TfrmDataMigration::showCounts(const QList<dravon::pg::MigratedTable> &counts)
{
    grdCounts->setRowCount(int(counts.size()));
    for (int row = 0; row < counts.size(); ++row) {
        const dravon::pg::MigratedTable &t = counts.at(row);
        const QStringList cells = {t.table, QString::number(t.fileRows), QString::number(t.serverRows)};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            item->setTextAlignment(column == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
            grdCounts->setItem(row, column, item);
        }
    }
}

void TfrmDataMigration::done(const QList<dravon::pg::MigratedTable> &counts, const QString &failure, bool cancelled)
{
    m_worker->wait();
    delete m_worker;
    m_worker = nullptr;
    setRunning(false);
    if (cancelled) {
        prgMigration->setValue(0);
        lblStatus->setText(QStringLiteral("已取消。"));
        ShowMessage(QStringLiteral("数据迁移已取消,服务器上的数据库没有改变。"), QStringLiteral("提示"),
                    QMessageBox::Information);
    } else if (!failure.isEmpty()) {
        prgMigration->setValue(0);
        lblStatus->setText(QStringLiteral("迁移失败。"));
        ShowMessage(QStringLiteral("数据迁移失败,服务器上的数据库没有改变。\n原因: %1").arg(failure),
                    QStringLiteral("错误"), QMessageBox::Critical);
    } else {
        qint64 rows = 0;
        for (const dravon::pg::MigratedTable &t : counts)
            rows += t.serverRows;
        showCounts(counts);
        prgMigration->setValue(prgMigration->maximum());
        lblStatus->setText(QStringLiteral("完成:%1 个数据表,共 %2 行,行数核对无误。").arg(counts.size()).arg(rows));
        ShowMessage(QStringLiteral("数据迁移成功!共复制 %1 行,各表行数核对无误。\n"
                                   "要使用服务器上的数据库,请在“数据库连接设置”中选择该服务器。")
                        .arg(rows),
                    QStringLiteral("提示"), QMessageBox::Information);
    }
    emit finished();
}

void TfrmDataMigration::closeEvent(QCloseEvent *event)
{
    // While rows are being copied, closing means cancelling; the dialog
    // stays until the server has rolled back.
    if (isRunning()) {
        btnCancelClick();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmDataMigration::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && isRunning()) {
        btnCancelClick();
        event->accept();
        return;
    }
    // Enter in a field does not start a migration by itself.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
