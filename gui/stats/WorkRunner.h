#pragma once
// Runs a window's long reading on a worker connection while the window stays
// responsive: a new request cancels the one still running (its result is
// dropped), an indication appears when the work takes longer than a moment
// (300 ms), and the result is handed to the window on its own thread.
#include "data/stats/WorkerRead.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QTimer;

// "正在计算…" with a moving bar; hidden while nothing runs or for the first
// moment. Several runners may share one: it shows while any of them wants it.
class WorkIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit WorkIndicator(QWidget *parent);
    QLabel *label = nullptr;
    QProgressBar *bar = nullptr;

    void engage();
    void release();

private:
    int m_engaged = 0;
};

class WorkRunner : public QObject
{
    Q_OBJECT
public:
    WorkRunner(WorkIndicator *indicator, QObject *parent);
    // Cancels what still runs and waits for it.
    ~WorkRunner() override;

    // Runs work on its own read connection to the program's database; then,
    // unless cancelled or replaced, finished(error) on this thread (error
    // empty when the work completed).
    void start(stats::BackgroundJob::Work work, std::function<void(const QString &error)> finished);
    void cancel();
    bool isRunning() const { return m_current != nullptr; }
    // Waits until nothing runs any more and the results are handed over (tests, benchmarks).
    bool waitUntilIdle(int timeoutMs = 30000);

    // How long work runs before the indication appears (tests shorten it).
    static void setIndicatorDelay(int milliseconds);
    static int indicatorDelay();
    // Tests: each work waits this long (cancellable) before it begins, so
    // that what happens while it runs can be seen on a small database.
    static void setStartDelayForTesting(int milliseconds);

signals:
    void busyChanged(bool busy);

private:
    void jobDone(stats::BackgroundJob *job);
    void retire(stats::BackgroundJob *job);
    void hideIndicator();

    QPointer<WorkIndicator> m_indicator;
    QTimer *m_showTimer = nullptr;
    bool m_engaged = false;
    stats::BackgroundJob *m_current = nullptr;
    std::function<void(const QString &)> m_finished;
    QList<stats::BackgroundJob *> m_retired;
};
