#pragma once
// Helpers for driving real windows headless: the message-box seam answered
// from a queue and recorded, and modal dialogs handled when they appear.
#include "gui/Shell_Unit.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QTimer>
#include <functional>

namespace testsupport {

// What a message box was asked to show: text, title, icon, buttons, the
// default button and any button captions of its own.
using Message = MessageRequest;

// Installs the message handler while it lives. Each box takes the next queued
// answer, or else the first of Yes / OK / the box's only button.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    void answer(QMessageBox::StandardButton button) { m_answers << button; }
    QList<Message> messages;
    QStringList texts() const;
    Message last() const { return messages.isEmpty() ? Message{} : messages.last(); }

private:
    QList<QMessageBox::StandardButton> m_answers;
};

// Types text into a widget as key presses (also characters QTest::keyClicks cannot send).
void typeText(QWidget *widget, const QString &text);

// Shows the main window as the start-up sequence does: its login is answered
// with the given account (the delivered one by default) before the window is
// on screen.
void showMainWindowLoggedIn(const QString &user = QStringLiteral("1001"),
                            const QString &password = QStringLiteral("admin"));

// Calls action with the first modal dialog of type T that becomes active
// within the time limit; the caller then runs whatever opens the dialog. The
// limit is wall-clock time, so on a loaded machine a handler that found no
// dialog is gone by then and cannot catch a later test's dialog.
template<typename T>
void whenModal(std::function<void(T *)> action, QDeadlineTimer deadline)
{
    QTimer::singleShot(10, [action, deadline] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            action(dialog);
            return;
        }
        if (!deadline.hasExpired())
            whenModal<T>(action, deadline);
        else
            qWarning("no modal dialog appeared");
    });
}

template<typename T>
void whenModal(std::function<void(T *)> action, int remainingMs = 5000)
{
    whenModal<T>(std::move(action), QDeadlineTimer(remainingMs));
}

}
