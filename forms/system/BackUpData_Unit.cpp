#include "forms/system/BackUpData_Unit.h"

#include "data/Connection.h"
#include "data/DatabaseFiles.h"
#include "data/Error.h"
#include "data/changes/ChangeBatch.h"
#include "data/ProgramSettings.h"
#include "data/server/ServerBackup.h"
#include "forms/system/KeptDatabases_Unit.h"
#include "gui/SharedConnection.h"
#include "gui/Shell_Unit.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

QPointer<TfrmBackupData> frmBackupData;

namespace {

FileDialogHandler &fileDialogHandler()
{
    static FileDialogHandler handler;
    return handler;
}

QString chooseFile(QFileDialog *dialog)
{
    dialog->setDirectory(FileDialogStartFolder());
    QString chosen;
    if (const FileDialogHandler &handler = fileDialogHandler())
        chosen = handler(dialog);
    else if (ExecDialog(dialog) == QDialog::Accepted)
        chosen = dialog->selectedFiles().value(0);
    RememberFileDialogFolder(chosen);
    return chosen;
}

QFileDialog *makeFileDialog(QWidget *parent, const char *name, QFileDialog::AcceptMode mode)
{
    auto *dialog = new QFileDialog(parent, QString(), QString(), QStringLiteral("Access(*.mdb)"));
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    // Names are taken as typed: no extension added, no question about an
    // existing file, and the open dialog also takes a missing file's name.
    dialog->setDefaultSuffix(QString());
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setFileMode(QFileDialog::AnyFile);
    return dialog;
}

bool sameFile(const QString &a, const QString &b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

void reportFailure(const QString &headline, const QString &files, const QString &reason)
{
    ShowMessage(QStringLiteral("%1\n%2\n原因: %3").arg(headline, files, reason), QStringLiteral("错误"),
                QMessageBox::Critical, QMessageBox::Ok);
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The program's connection, when there is one.
dravon::Connection *sharedConnectionIfAny()
{
    try {
        return &SharedConnection();
    } catch (const dravon::Error &) {
        return nullptr;
    }
}

// The server database the program works on; no value when it works on a file.
std::optional<dravon::pg::ServerAddress> serverInUse()
{
    dravon::Connection *shared = sharedConnectionIfAny();
    return shared && shared->isServer() ? shared->serverAddress() : std::nullopt;
}

QString serverDatabaseName(const dravon::pg::ServerAddress &address)
{
    return QStringLiteral("服务器上的数据库 %1").arg(address.display());
}

// The line that names the windows a restore closed; empty when none.
QString closedNotice(const QStringList &closed)
{
    if (closed.isEmpty())
        return QString();
    return QStringLiteral("\n已关闭打开的窗口(请重新打开以显示还原后的数据): %1").arg(closed.join(QStringLiteral("、")));
}

}

void SetFileDialogHandler(FileDialogHandler handler)
{
    fileDialogHandler() = std::move(handler);
}

// ---- the animation -----------------------------------------------------

FileCopyAnimation::FileCopyAnimation(QWidget *parent) : QWidget(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(60);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % 40;
        update();
    });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void FileCopyAnimation::start()
{
    m_frame = 0;
    m_timer->start();
    // The copy runs on this thread: show the first frame before it starts.
    repaint();
}

void FileCopyAnimation::stop()
{
    m_timer->stop();
    m_frame = 0;
    update();
}

bool FileCopyAnimation::isActive() const
{
    return m_timer->isActive();
}

QSize FileCopyAnimation::sizeHint() const
{
    return QSize(300, 60);
}

void FileCopyAnimation::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal h = height();
    const qreal folderW = h * 0.8, folderH = h * 0.6;
    const qreal top = (h - folderH) / 2;
    auto folder = [&](qreal x) {
        QPainterPath path;
        path.moveTo(x, top + folderH * 0.15);
        path.lineTo(x + folderW * 0.35, top + folderH * 0.15);
        path.lineTo(x + folderW * 0.45, top);
        path.lineTo(x + folderW, top);
        path.lineTo(x + folderW, top + folderH);
        path.lineTo(x, top + folderH);
        path.closeSubpath();
        p.setPen(QPen(QColor(150, 110, 20), 1.2));
        p.setBrush(QColor(240, 200, 90));
        p.drawPath(path);
    };
    const qreal left = 12, right = width() - 12 - folderW;
    folder(left);
    folder(right);

    // Documents on their way; a still strip shows none.
    if (!m_timer->isActive())
        return;
    const qreal docW = h * 0.3, docH = h * 0.4;
    const qreal span = right - left - folderW * 0.2;
    for (int i = 0; i < 3; ++i) {
        const qreal phase = std::fmod(m_frame / 40.0 + i / 3.0, 1.0);
        const qreal x = left + folderW * 0.6 + phase * (span - docW);
        const qreal y = top + folderH * 0.2 - std::sin(phase * 3.14159) * h * 0.15;
        p.setPen(QPen(QColor(60, 80, 110), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(x, y, docW, docH));
        for (int l = 1; l <= 3; ++l)
            p.drawLine(QPointF(x + docW * 0.2, y + docH * l / 4.5), QPointF(x + docW * 0.8, y + docH * l / 4.5));
    }
}

// ---- the window --------------------------------------------------------

TfrmBackupData::TfrmBackupData(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmBackupData"));
    setWindowTitle(QStringLiteral("数据备份/还原"));

    Animate1 = new FileCopyAnimation(this);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    btnBackup = new QPushButton(QStringLiteral("备份(&B)"), this);
    btnBackup->setObjectName(QStringLiteral("btnBackup"));
    btnRestore = new QPushButton(QStringLiteral("还原(&R)"), this);
    btnRestore->setObjectName(QStringLiteral("btnRestore"));
    btnKeptDatabases = new QPushButton(QStringLiteral("旧数据库(&O)…"), this);
    btnKeptDatabases->setObjectName(QStringLiteral("btnKeptDatabases"));
    btnKeptDatabases->setToolTip(QStringLiteral("查看和删除还原时保存的旧数据库"));
    btnKeptDatabases->setVisible(serverInUse().has_value());
    for (QPushButton *b : {btnBackup, btnRestore, btnKeptDatabases})
        b->setAutoDefault(false);
    SaveDialog = makeFileDialog(this, "SaveDialog", QFileDialog::AcceptSave);
    OpenDialog = makeFileDialog(this, "OpenDialog", QFileDialog::AcceptOpen);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnBackup);
    buttons->addSpacing(24);
    buttons->addWidget(btnRestore);
    if (!btnKeptDatabases->isHidden()) {
        buttons->addSpacing(24);
        buttons->addWidget(btnKeptDatabases);
    }
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->setSpacing(16);
    layout->addWidget(Animate1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(btnBackup, btnRestore);
    setTabOrder(btnRestore, btnKeptDatabases);

    connect(btnBackup, &QPushButton::clicked, this, [this] { Guarded([this] { btnBackupClick(); }); });
    connect(btnRestore, &QPushButton::clicked, this, [this] { Guarded([this] { btnRestoreClick(); }); });
    connect(btnKeptDatabases, &QPushButton::clicked, this, [this] { Guarded([this] { btnKeptDatabasesClick(); }); });
}

void TfrmBackupData::btnBackupClick()
{
    // On a server, the server's dump tool writes the backup file.
    const auto server = serverInUse();
    const QString database = server ? QString() : ReadDBFileName(GetConfigFileName());
    const QString chosen = chooseFile(SaveDialog);
    if (chosen.isEmpty())
        return;
    // ".mdb" is appended whatever the name already ends with.
    const QString target = chosen + QStringLiteral(".mdb");
    if (QFileInfo::exists(target)
        && !ConfirmDestructive(QStringLiteral("文件名重复,是否覆盖!"), QStringLiteral("提示")))
        return;
    Animate1->start();
    try {
        if (server)
            dravon::pg::backupServerDatabase(*server, target);
        else
            dbfiles::backupDatabase(database, target);
    } catch (const std::exception &e) {
        Animate1->stop();
        reportFailure(QStringLiteral("备份失败!"),
                      QStringLiteral("数据库: %1\n备份文件: %2")
                          .arg(server ? serverDatabaseName(*server) : native(database), native(target)),
                      ErrorText(e));
        return;
    }
    Animate1->stop();
    ShowMessage(QStringLiteral("备份成功!"), QStringLiteral("提示"), QMessageBox::Information, QMessageBox::Ok);
}

QStringList TfrmBackupData::closeOtherWindows()
{
    QStringList closed;
    QMdiSubWindow *own = mdiSubWindow();
    QMdiArea *area = own ? own->mdiArea() : nullptr;
    if (!area)
        return closed;
    for (QMdiSubWindow *sub : area->subWindowList()) {
        if (sub == own)
            continue;
        const QString title = sub->widget() ? sub->widget()->windowTitle() : sub->windowTitle();
        if (!sub->close())
            continue;
        closed << title;
        // At once, not later: the window's record sets and their readers go
        // before the file is replaced.
        delete sub;
    }
    return closed;
}

void TfrmBackupData::btnRestoreClick()
{
    const auto server = serverInUse();
    const QString database = server ? QString() : ReadDBFileName(GetConfigFileName());
    const QString chosen = chooseFile(OpenDialog);
    if (chosen.isEmpty())
        return;
    Animate1->start();

    // The program's connection is closed around the replacement when it is
    // open on the file being replaced; the ini may name another file. The
    // working windows show and write that file's rows: they are closed once
    // the backup has passed its checks, and the user is told which.
    // On a server the database is replaced by name, which needs every
    // connection to it closed: the program's own always.
    dbfiles::RestoreHooks hooks;
    dravon::Connection *shared = sharedConnectionIfAny();
    QStringList closed;
    if (shared && shared->isOpen() && (server || sameFile(shared->databasePath(), database))) {
        hooks.closeConnection = [this, shared, &closed] {
            closed = closeOtherWindows();
            shared->close();
        };
        hooks.reopenConnection = [shared] { shared->open(); };
    }
    QString kept;
    try {
        kept = server ? dravon::pg::restoreServerDatabase(chosen, *server, hooks)
                      : dbfiles::restoreDatabase(chosen, database, hooks);
    } catch (const std::exception &e) {
        Animate1->stop();
        reportFailure(QStringLiteral("还原失败!"),
                      QStringLiteral("备份文件: %1\n数据库: %2")
                          .arg(native(chosen), server ? serverDatabaseName(*server) : native(database)),
                      ErrorText(e) + closedNotice(closed));
        return;
    }
    Animate1->stop();
    QString text = QStringLiteral("还原成功!");
    if (!kept.isEmpty())
        text += QStringLiteral("\n原数据库已保存为 %1").arg(server ? QStringLiteral("服务器上的数据库 ") + kept : native(kept));
    if (server && !kept.isEmpty())
        text += QStringLiteral("\n不再需要的旧数据库可以在“旧数据库…”中删除。");
    // The restored database keeps the backup's own change log; the restore
    // is noted in it.
    try {
        const dravon::BatchTag note{QStringLiteral("还原"), objectName(),
                                    QStringLiteral("从备份文件 %1 还原数据库").arg(native(chosen))};
        if (hooks.reopenConnection) {
            dravon::noteBatch(*shared, note);
        } else if (server) {
            dravon::Connection restored;
            restored.setServerAddress(*server);
            restored.open();
            dravon::noteBatch(restored, note);
        } else {
            dravon::Connection restored;
            restored.setConnectionString(QStringLiteral("Data Source=") + database);
            restored.open();
            dravon::noteBatch(restored, note);
        }
    } catch (const std::exception &e) {
        text += QStringLiteral("\n(修改记录中没能记下这次还原: %1)").arg(ErrorText(e));
    }
    text += closedNotice(closed);
    ShowMessage(text, QStringLiteral("提示"), QMessageBox::Information, QMessageBox::Ok);
}

void TfrmBackupData::btnKeptDatabasesClick()
{
    const auto server = serverInUse();
    if (!server)
        return;
    TfrmKeptDatabases dialog(*server, this);
    ExecDialog(&dialog);
}

void TfrmBackupData::FormClose()
{
    TfrmBase::FormClose();
    frmBackupData = nullptr;
}
