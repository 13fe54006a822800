#pragma once
// The progress dialog of a long command (an export, a sort): window-modal, so
// the window stays painted while its cancel button is seen; shown only when
// the work takes a moment.
#include <QPointer>
#include <QProgressDialog>
#include <functional>

class WorkProgress
{
public:
    WorkProgress(QWidget *parent, const QString &name, const QString &title, const QString &label);
    ~WorkProgress();
    WorkProgress(const WorkProgress &) = delete;
    WorkProgress &operator=(const WorkProgress &) = delete;
    // Called now and then with the work done and the whole (0 when not yet
    // known: the bar then only shows that work goes on); false once cancelled.
    std::function<bool(qint64 done, qint64 total)> callback();
    QProgressDialog *dialog() const { return m_dialog; }
    // How long the work runs before the dialog appears (tests show it at once).
    static void setShowDelay(int milliseconds);

private:
    QPointer<QProgressDialog> m_dialog;
};
