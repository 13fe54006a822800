#include "gui/WorkProgress.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
int showDelay = 400;
}

WorkProgress::WorkProgress(QWidget *parent, const QString &name, const QString &title, const QString &label)
{
    m_dialog = new QProgressDialog(label, QStringLiteral("取消"), 0, 1000, parent);
    m_dialog->setObjectName(name);
    m_dialog->setWindowTitle(title);
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(showDelay);
    m_dialog->setAutoClose(false);
    m_dialog->setAutoReset(false);
    m_dialog->setValue(0);
}

WorkProgress::~WorkProgress()
{
    delete m_dialog;
}

void WorkProgress::setShowDelay(int milliseconds)
{
    showDelay = milliseconds;
}

std::function<bool(qint64, qint64)> WorkProgress::callback()
{
    QPointer<QProgressDialog> dialog = m_dialog;
    QElapsedTimer since;
    since.start();
    const int delay = showDelay;
    return [dialog, since, delay](qint64 done, qint64 total) {
        if (!dialog)
            return false;
        if (total <= 0) {
            // Not known how much: the bar only shows that work goes on.
            if (dialog->maximum() != 0)
                dialog->setRange(0, 0);
        } else {
            if (dialog->maximum() != 1000)
                dialog->setRange(0, 1000);
            dialog->setValue(qMin(int(done * 1000 / total), 999));
        }
        // The dialog shows once the work takes a moment, also while the bar
        // stands still; being window-modal, it lets through only the events
        // that paint and its own cancel button.
        if (!dialog->isVisible() && since.elapsed() >= delay)
            dialog->show();
        if (dialog->isVisible())
            QCoreApplication::processEvents();
        return !dialog->wasCanceled();
    };
}
