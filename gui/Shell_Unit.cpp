#include "gui/Shell_Unit.h"

#include "data/Error.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QStatusBar>
#include <QPointer>

namespace {
MessageHandler &messageHandler()
{
    static MessageHandler handler;
    return handler;
}
bool endRequested = false;
bool mainLoopRunning = false;

void captionButtons(QMessageBox &box, const MessageRequest &request)
{
    const std::pair<QMessageBox::StandardButton, const char *> texts[] = {
        {QMessageBox::Ok, "确定"}, {QMessageBox::Cancel, "取消"}, {QMessageBox::Yes, "是(&Y)"}, {QMessageBox::No, "否(&N)"}};
    for (const auto &[button, text] : texts)
        if (QAbstractButton *b = box.button(button))
            b->setText(QString::fromUtf8(text));
    for (auto it = request.captions.constBegin(); it != request.captions.constEnd(); ++it)
        if (QAbstractButton *b = box.button(it.key()))
            b->setText(it.value());
}
}

QMessageBox::StandardButton ShowMessage(const MessageRequest &request)
{
    const QMessageBox::StandardButtons buttons = request.buttons;
    const QMessageBox::StandardButton escape = buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                               : buttons.testFlag(QMessageBox::No)   ? QMessageBox::No
                                                                                     : QMessageBox::Ok;
    if (messageHandler())
        return messageHandler()(request);
    if (endRequested)
        return escape;
    QMessageBox box(request.icon, request.title, request.text, buttons, QApplication::activeWindow());
    captionButtons(box, request);
    if (QAbstractButton *b = box.button(escape))
        box.setEscapeButton(b);
    if (request.defaultButton != QMessageBox::NoButton && buttons.testFlag(request.defaultButton))
        box.setDefaultButton(request.defaultButton);
    const int result = box.exec();
    if (endRequested && result != QMessageBox::Ok && result != QMessageBox::Yes)
        return escape;
    return static_cast<QMessageBox::StandardButton>(result);
}

QMessageBox::StandardButton ShowMessage(const QString &text, const QString &title, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return ShowMessage(MessageRequest{text, title, icon, buttons, defaultButton, {}});
}

bool ConfirmDestructive(const QString &text, const QString &title, QMessageBox::Icon icon)
{
    return ShowMessage(text, title, icon, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void SetMessageHandler(MessageHandler handler)
{
    messageHandler() = std::move(handler);
}

void TellUser(QWidget *about, const QString &text)
{
    for (QWidget *w = about; w; w = w->parentWidget()) {
        auto *main = qobject_cast<QMainWindow *>(w);
        if (!main)
            continue;
        if (auto *bar = main->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly)) {
            bar->showMessage(text, 6000);
            return;
        }
    }
    ShowMessage(text, QStringLiteral("提示"), QMessageBox::Information);
}

QString ErrorText(const std::exception &error)
{
    if (const auto *e = dynamic_cast<const dravon::Error *>(&error))
        return e->text();
    return QString::fromUtf8(error.what());
}

void ReportError(const std::exception &error)
{
    ReportError(ErrorText(error));
}

void ReportError(const QString &text)
{
    ShowMessage(text, ApplicationTitle(), QMessageBox::Critical, QMessageBox::Ok);
}

void RequestApplicationEnd()
{
    endRequested = true;
    // Modal windows end as cancelled once the running handler returns to their loop.
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets)
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    if (mainLoopRunning)
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

bool ApplicationEndRequested()
{
    return endRequested;
}

void SetMainLoopRunning(bool running)
{
    mainLoopRunning = running;
}

void ResetApplicationEndForTesting()
{
    endRequested = false;
}

int ExecDialog(QDialog *dialog)
{
    if (endRequested || !dialog)
        return QDialog::Rejected;
    const QPointer<QDialog> guard(dialog);
    const int result = dialog->exec();
    return guard.isNull() || endRequested ? int(QDialog::Rejected) : result;
}

QString ApplicationTitle()
{
    return QStringLiteral("Veltrana");
}
