#pragma once
// What the benchmarks share: timing, medians, memory, waiting for a window's
// paint, and starting the program in process the way a clerk starts it (an
// ini file pointing to the database, the main window, the login answered).
#include "data/server/PgSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <vector>

struct sqlite3;

class QAbstractItemView;
class QPoint;
class QWidget;

namespace dravon {
class Connection;
}

namespace bench {

// A benchmark's command line: options with a value ("--db <file>") and
// switches ("--quick"), as the benchmark declares them; anything else
// prints the usage and ends the run with exit code 2.
class CommandLine
{
public:
    struct Declared
    {
        QStringList valued;    // "--db", "--reps" ...
        QStringList switches;  // "--quick" ...
        // A lone argument that is no option stands for this one's value
        // (an older form of the command line); empty for none.
        QString lone;
        QStringList usage;  // the forms after "usage: <program> ", one a line
    };
    CommandLine(int argc, char **argv, const Declared &declared);
    QString text(const QString &option, const QString &fallback = {}) const;
    // The option as a whole number, at least 1.
    int count(const QString &option, int fallback) const;
    bool has(const QString &option) const;

private:
    QHash<QString, QString> m_values;
    QStringList m_switches;
};

// The database file named by --db; fails the run when there is none.
QString existingFile(const QString &path);
// Fails the run when path is one of the benchmark files shared by everyone
// on this machine (/tmp/veltrana-bench-*.mdb), for a benchmark that writes.
void refuseSharedFile(const QString &path);
// The file opened read-write straight on the engine, waiting up to 5 s on a
// lock; fails the run when it cannot.
sqlite3 *openSqlite(const QString &path);
// The program's connection moved to another database with no window open
// (point sets the connection's way there); throws dravon::Error.
void reconnectProgram(const std::function<void(dravon::Connection &)> &point);

// Prints "<program>: <what>" and ends the run.
[[noreturn]] void fail(const QString &what);
// Runs sql straight on the engine (the figure beside the program's); fails the run when refused.
void sqliteExec(sqlite3 *db, const QString &sql);

template<typename F>
double timed(F &&work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> v);

// A server named as "host:port/database"; the password from PGPASSWORD (else
// libpq's password file), the user from PGUSER (default veltrana).
dravon::pg::ServerAddress serverAddressOf(const QString &text);

// Before the application is made: the offscreen platform unless another is
// chosen, and its notes about window functions it lacks kept out of the output.
void prepareHeadless();
// Resident memory of this process, in MB.
double residentMb();
// A memory figure of this process's /proc status ("VmRSS:", "VmHWM:"), in MB; 0 when unknown.
double statusMb(const char *key);

// Waits until the widget has painted (the window shows its rows).
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(QWidget *widget);
    ~PaintWatch() override;
    void wait();

protected:
    bool eventFilter(QObject *, QEvent *event) override;

private:
    QPointer<QWidget> m_widget;
    bool m_painted = false;
};

// Waits for the widget's next paint.
void waitForPaint(QWidget *widget);
// A left click, pressed and released, at a point of a widget.
void clickAt(QWidget *widget, const QPoint &at);
// The grid's column whose title is the text; fails when there is none.
int gridColumnTitled(QAbstractItemView *grid, const QString &title);
// Runs the events posted so far, deferred deletes included.
void settle();
// Runs events until done() holds or limitMs have passed; true when it holds.
// Sleeps between events as the program's own event loop does, so that its
// workers and the server have the processors meanwhile; a timer wakes it
// every 2 ms for a state that changes without an event of this thread.
bool waitUntil(const std::function<bool()> &done, int limitMs);

// The program started in this process on a database: its folder (an ini file
// pointing to the database and the settings library), every message box
// answered (Yes, else OK) and recorded, the main window shown after the
// login as 1001/admin. Fails the run when it cannot start.
class ProgramRun
{
public:
    // since: the start of the run (before the application object), else now.
    explicit ProgramRun(const QString &databasePath, const QElapsedTimer *since = nullptr);
    // Milliseconds from the start until the login window was on screen.
    double loginShownMs() const { return m_loginShown; }
    QStringList messages;

private:
    QTemporaryDir m_folder;
    QElapsedTimer m_sinceStart;
    double m_loginShown = -1;
};

// The application of a benchmark that starts the program: headless (see
// prepareHeadless) with the program's looks, then the program itself
// (ProgramRun), timed from before the application was made.
class Program
{
public:
    Program(int &argc, char **argv, const QString &databasePath);
    ProgramRun &run() { return m_run; }

private:
    QElapsedTimer m_sinceStart;
    QApplication m_app;
    ProgramRun m_run;
};

}
