#include "gui/stats/WorkRunner.h"

#include "data/Connection.h"
#include "gui/SharedConnection.h"
#include "gui/Shell_Unit.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>

namespace {
int showDelay = 300;
int startDelay = 0;
}

WorkIndicator::WorkIndicator(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("WorkIndicator"));
    label = new QLabel(QStringLiteral("正在计算…"), this);
    label->setObjectName(QStringLiteral("lblWorking"));
    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("prgWorking"));
    bar->setRange(0, 0);  // moves without a known end
    bar->setTextVisible(false);
    bar->setFixedWidth(140);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(bar);
    // The place stays reserved, so the window does not jump when it appears.
    QSizePolicy keep = sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    setSizePolicy(keep);
    hide();
}

void WorkIndicator::engage()
{
    if (m_engaged++ == 0)
        show();
}

void WorkIndicator::release()
{
    if (m_engaged > 0 && --m_engaged == 0)
        hide();
}

WorkRunner::WorkRunner(WorkIndicator *indicator, QObject *parent) : QObject(parent), m_indicator(indicator)
{
    m_showTimer = new QTimer(this);
    m_showTimer->setSingleShot(true);
    connect(m_showTimer, &QTimer::timeout, this, [this] {
        if (m_current && m_indicator && !m_engaged) {
            m_engaged = true;
            m_indicator->engage();
        }
    });
}

WorkRunner::~WorkRunner()
{
    hideIndicator();
    // Each job's destructor cancels it and waits for its thread.
    delete m_current;
    qDeleteAll(m_retired);
}

void WorkRunner::setIndicatorDelay(int milliseconds)
{
    showDelay = milliseconds;
}

int WorkRunner::indicatorDelay()
{
    return showDelay;
}

void WorkRunner::setStartDelayForTesting(int milliseconds)
{
    startDelay = milliseconds;
}

void WorkRunner::start(stats::BackgroundJob::Work work, std::function<void(const QString &)> finished)
{
    if (m_current)
        retire(m_current);
    const stats::ReadTarget target = stats::ReadTarget::of(SharedConnection());
    if (startDelay > 0)
        work = [delay = startDelay, work = std::move(work)](stats::ReadConnection &c) {
            for (int waited = 0; waited < delay; waited += 5) {
                c.throwIfCancelled();
                QThread::msleep(5);
            }
            work(c);
        };
    auto *job = new stats::BackgroundJob(target, std::move(work));
    m_current = job;
    m_finished = std::move(finished);
    connect(job, &stats::BackgroundJob::done, this, [this, job] { jobDone(job); }, Qt::QueuedConnection);
    // Someone waits for this result: the worker runs at the window's own priority.
    job->start();
    m_showTimer->start(showDelay);
    emit busyChanged(true);
}

void WorkRunner::cancel()
{
    if (!m_current)
        return;
    retire(m_current);
    m_current = nullptr;
    hideIndicator();
    emit busyChanged(false);
}

void WorkRunner::hideIndicator()
{
    m_showTimer->stop();
    if (m_engaged && m_indicator)
        m_indicator->release();
    m_engaged = false;
}

void WorkRunner::retire(stats::BackgroundJob *job)
{
    job->cancel();
    m_retired << job;
}

void WorkRunner::jobDone(stats::BackgroundJob *job)
{
    job->wait();
    if (m_retired.removeOne(job)) {
        delete job;
        return;
    }
    if (job != m_current)
        return;
    m_current = nullptr;
    hideIndicator();
    const QString error = job->error();
    const bool cancelled = job->wasCancelled();
    delete job;
    auto finished = std::move(m_finished);
    m_finished = nullptr;
    emit busyChanged(false);
    if (!cancelled && finished)
        Guarded([&] { finished(error); });
}

bool WorkRunner::waitUntilIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    // A timer wakes the wait now and then, so the deadline is seen.
    QTimer tick;
    tick.start(50);
    while ((m_current || !m_retired.isEmpty()) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return !m_current && m_retired.isEmpty();
}
