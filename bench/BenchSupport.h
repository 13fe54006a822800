#pragma once
// What the benchmarks share: timing, medians, memory, waiting for a window's
// paint, and starting the program in process the way a clerk starts it (an
// ini file pointing to the database, the main window, the login answered).
#include "data/server/PgSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <vector>

struct sqlite3;

class QWidget;

namespace bench {

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
// Runs the events posted so far, deferred deletes included.
void settle();

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

}
