#include "bench/BenchSupport.h"

#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/Looks_Unit.h"
#include "app/Program_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Connection.h"
#include "data/SettingsClient.h"
#include "gui/Shell_Unit.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMouseEvent>
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

double statusMb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

double residentMb()
{
    return statusMb("VmRSS:");
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
    if (!waitUntil([this] { return m_painted; }, 10000))
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

void clickAt(QWidget *widget, const QPoint &at)
{
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

int gridColumnTitled(QAbstractItemView *grid, const QString &title)
{
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        if (grid->model()->headerData(c, Qt::Horizontal).toString() == title)
            return c;
    fail(QStringLiteral("no column titled %1").arg(title));
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

bool waitUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer waited;
    waited.start();
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(2);
    while (!done() && waited.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
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

bench::CommandLine::CommandLine(int argc, char **argv, const Declared &declared)
{
    // fail() names the benchmark, also before its application is made.
    QCoreApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
    auto usage = [&] {
        const QByteArray program = argv[0];
        for (int i = 0; i < declared.usage.size(); ++i)
            std::fprintf(stderr, "%s %s %s\n", i == 0 ? "usage:" : "      ", program.constData(),
                         qPrintable(declared.usage[i]));
        std::exit(2);
    };
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (declared.valued.contains(a) && i + 1 < argc)
            m_values.insert(a, QString::fromLocal8Bit(argv[++i]));
        else if (declared.switches.contains(a))
            m_switches << a;
        else if (!declared.lone.isEmpty() && !a.startsWith(QLatin1Char('-')) && !m_values.contains(declared.lone))
            m_values.insert(declared.lone, a);
        else
            usage();
    }
}

QString bench::CommandLine::text(const QString &option, const QString &fallback) const
{
    return m_values.value(option, fallback);
}

int bench::CommandLine::count(const QString &option, int fallback) const
{
    return m_values.contains(option) ? qMax(1, m_values.value(option).toInt()) : fallback;
}

bool bench::CommandLine::has(const QString &option) const
{
    return m_switches.contains(option);
}

QString bench::existingFile(const QString &path)
{
    if (path.isEmpty() || !QFileInfo(path).isFile())
        fail(QStringLiteral("--db names no database file: %1").arg(path));
    return path;
}

void bench::refuseSharedFile(const QString &path)
{
    const QFileInfo file(path);
    if (file.fileName().startsWith(QLatin1String("veltrana-bench-")))
        fail(QStringLiteral("this benchmark writes to its file: give it a copy of %1").arg(file.absoluteFilePath()));
}

sqlite3 *bench::openSqlite(const QString &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        fail(QStringLiteral("SQLite cannot open %1").arg(path));
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

void bench::reconnectProgram(const std::function<void(dravon::Connection &)> &point)
{
    frmTeachMain->mdiArea()->closeAllSubWindows();
    settle();
    DM->ADOConn.close();
    point(DM->ADOConn);
    DM->ADOConn.open();
    settle();
}

namespace {

QElapsedTimer startedNow()
{
    QElapsedTimer timer;
    timer.start();
    return timer;
}

// The headless platform is chosen before the application is made, the
// program's looks before the program starts.
int &headless(int &argc)
{
    bench::prepareHeadless();
    return argc;
}

const QString &withLooks(QApplication &app, const QString &databasePath)
{
    ApplyLooks(app);
    return databasePath;
}

}

bench::Program::Program(int &argc, char **argv, const QString &databasePath)
    : m_sinceStart(startedNow()), m_app(headless(argc), argv), m_run(withLooks(m_app, databasePath), &m_sinceStart)
{
}
