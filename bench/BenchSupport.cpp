#include "bench/BenchSupport.h"

#include "app/Common_Unit.h"
#include "app/Login_Unit.h"
#include "app/Program_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/SettingsClient.h"
#include "gui/Shell_Unit.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>

namespace bench {

void fail(const QString &what)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()), qPrintable(what));
    std::exit(1);
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

PaintWatch::PaintWatch(QWidget *widget) : m_widget(widget)
{
    widget->installEventFilter(this);
}

PaintWatch::~PaintWatch()
{
    if (m_widget)
        m_widget->removeEventFilter(this);
}

void PaintWatch::wait()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_painted && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!m_painted)
        fail(QStringLiteral("a window did not paint within 10 s"));
}

bool PaintWatch::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::Paint)
        m_painted = true;
    return false;
}

void waitForPaint(QWidget *widget)
{
    PaintWatch painted(widget);
    painted.wait();
}

void prepareHeadless()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (!text.startsWith(QLatin1String("This plugin does not support")))
            std::fprintf(stderr, "%s%s\n", type == QtWarningMsg ? "warning: " : "", qPrintable(text));
    });
}

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

ProgramRun::ProgramRun(const QString &databasePath, const QElapsedTimer *since)
{
    if (since)
        m_sinceStart = *since;
    else
        m_sinceStart.start();
    if (!m_folder.isValid()
        || !QFile::copy(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libQuelmi.so")),
                        QDir(m_folder.path()).filePath(QStringLiteral("libQuelmi.so"))))
        fail(QStringLiteral("cannot prepare the program's folder (libQuelmi.so beside the benchmark?)"));
    {
        QFile ini(QDir(m_folder.path()).filePath(QStringLiteral("ConfigDB.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            fail(QStringLiteral("cannot write the ini file"));
        ini.write(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(QFileInfo(databasePath).absoluteFilePath()).toUtf8());
    }
    settings::setExecutableDirForTesting(m_folder.path());
    SetMessageHandler([this](const MessageRequest &request) {
        messages << request.text;
        return request.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    });
    if (!CreateApplicationWindows())
        fail(QStringLiteral("the program could not connect to %1").arg(databasePath));
    std::function<void()> answerLogin = [&] {
        auto *login = qobject_cast<TfrmLogin *>(QApplication::activeModalWidget());
        if (!login || !login->isVisible()) {
            QTimer::singleShot(1, answerLogin);
            return;
        }
        m_loginShown = m_sinceStart.nsecsElapsed() / 1e6;
        login->edtUserID->setText(QStringLiteral("1001"));
        login->edtUserPwd->setText(QStringLiteral("admin"));
        login->btnLogin->click();
    };
    QTimer::singleShot(0, answerLogin);
    frmTeachMain->resize(1024, 768);
    ShowMainWindowAfterLogin(false);
    settle();
    if (CurrentUserID.isEmpty())
        fail(QStringLiteral("login as 1001/admin failed; the benchmark needs the first account"));
}

}

void bench::sqliteExec(sqlite3 *db, const QString &sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = QString::fromUtf8(message ? message : "failed");
        sqlite3_free(message);
        fail(QStringLiteral("SQLite failed on %1: %2").arg(sql.left(200), text));
    }
}

dravon::pg::ServerAddress bench::serverAddressOf(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([^:/]+):(\\d+)/(.+)$"));
    const auto match = form.match(text);
    if (!match.hasMatch())
        bench::fail(QStringLiteral("a server is host:port/database, not %1").arg(text));
    dravon::pg::ServerAddress address;
    address.host = match.captured(1);
    address.port = match.captured(2).toInt();
    address.database = match.captured(3);
    address.user = qEnvironmentVariable("PGUSER", QStringLiteral("veltrana"));
    address.password = qEnvironmentVariable("PGPASSWORD");
    return address;
}
