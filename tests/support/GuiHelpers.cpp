#include "support/GuiHelpers.h"

#include "app/Login_Unit.h"
#include "app/Program_Unit.h"
#include "app/TeachMain_Unit.h"

#include <QLineEdit>
#include <QPushButton>

#include <QTest>

namespace testsupport {

MessageRecorder::MessageRecorder()
{
    SetMessageHandler([this](const MessageRequest &request) {
        messages.append(request);
        if (!m_answers.isEmpty())
            return m_answers.takeFirst();
        for (QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::Ok})
            if (request.buttons.testFlag(b))
                return b;
        return static_cast<QMessageBox::StandardButton>(int(request.buttons));
    });
}

MessageRecorder::~MessageRecorder()
{
    SetMessageHandler(nullptr);
}

void typeText(QWidget *widget, const QString &text)
{
    // ASCII as real keys; other characters as key events that carry only
    // their text, as from an input method.
    for (const QChar c : text) {
        if (c.unicode() < 0x7f)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

QStringList MessageRecorder::texts() const
{
    QStringList list;
    for (const Message &m : messages)
        list << m.text;
    return list;
}

void showMainWindowLoggedIn(const QString &user, const QString &password)
{
    whenModal<TfrmLogin>([user, password](TfrmLogin *login) {
        login->edtUserID->setText(user);
        login->edtUserPwd->setText(password);
        login->btnLogin->click();
    });
    ShowMainWindowAfterLogin(false);
}

}
