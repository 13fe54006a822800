#pragma once
// The seams of the application shell: one message-box function (tests install
// a handler), the general error report, the guard that runs every command,
// one "request the application to end", and modal dialogs shown through it.
#include <QMap>
#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

class QDialog;
class QWidget;

// One message box as asked for: what a test handler receives.
struct MessageRequest
{
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    // The button Enter presses; NoButton leaves the choice to the box (its
    // first accepting button). Questions that destroy or replace something
    // name 否 or 取消 here.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // Buttons that carry a caption of their own instead of the usual one.
    QMap<QMessageBox::StandardButton, QString> captions;
};

using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest &request)>;

// Shows a message box (or asks the test handler) and returns the button pressed.
QMessageBox::StandardButton ShowMessage(const MessageRequest &request);
QMessageBox::StandardButton ShowMessage(const QString &text, const QString &title, QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
// A question whose Yes destroys or replaces something (delete, restore,
// overwrite, empty): 否 is the default, so Enter alone changes nothing.
// True when the answer is Yes.
bool ConfirmDestructive(const QString &text, const QString &title,
                        QMessageBox::Icon icon = QMessageBox::Information);
void SetMessageHandler(MessageHandler handler);
// A short notice about something the user tried in a window: shown for a few
// seconds in the status bar of the main window the widget sits in, or in a
// message box "提示" when it sits in none.
void TellUser(QWidget *about, const QString &text);

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
