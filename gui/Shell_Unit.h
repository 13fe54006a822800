#pragma once
// The seams of the application shell: one message-box function (tests install
// a handler), the general error report, the guard that runs every command,
// one "request the application to end", and modal dialogs shown through it.
#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

class QDialog;

using MessageHandler = std::function<QMessageBox::StandardButton(
    const QString &text, const QString &title, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)>;

// Shows a message box (or asks the test handler) and returns the button pressed.
QMessageBox::StandardButton ShowMessage(const QString &text, const QString &title, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok);
void SetMessageHandler(MessageHandler handler);

// The general error report: stop icon, OK, the error's text.
void ReportError(const std::exception &error);
void ReportError(const QString &text);
// The text of an error as the user reads it.
QString ErrorText(const std::exception &error);

// Runs a command; an exception becomes the general error report, so none
// crosses the event loop. Returns false when the command failed.
template<typename F>
bool Guarded(F &&command)
{
    try {
        command();
        return true;
    } catch (const std::exception &e) {
        ReportError(e);
    } catch (...) {
        ReportError(QStringLiteral("未知错误"));
    }
    return false;
}

// Ends the application: the running handler finishes its steps, open modal
// windows end as cancelled, the event loop stops, and no later login or
// window is shown.
void RequestApplicationEnd();
bool ApplicationEndRequested();
// The program entry marks when its event loop runs, so the end request can stop it.
void SetMainLoopRunning(bool running);
// Tests start each case with a running application.
void ResetApplicationEndForTesting();

// Shows a dialog modally unless the application is ending; returns its result.
int ExecDialog(QDialog *dialog);

// The application's title, used by the general error report.
QString ApplicationTitle();
