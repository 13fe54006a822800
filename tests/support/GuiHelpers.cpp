#include "support/GuiHelpers.h"

#include <QKeyEvent>

namespace testsupport {

MessageRecorder::MessageRecorder()
{
    SetMessageHandler([this](const QString &text, const QString &title, QMessageBox::Icon icon,
                             QMessageBox::StandardButtons buttons) {
        messages.append({text, title, icon, buttons});
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        for (QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::Ok})
            if (buttons.testFlag(b))
                return b;
        return static_cast<QMessageBox::StandardButton>(int(buttons));
    });
}

MessageRecorder::~MessageRecorder()
{
    SetMessageHandler(nullptr);
}

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

QStringList MessageRecorder::texts() const
{
    QStringList list;
    for (const Message &m : messages)
        list << m.text;
    return list;
}

}
