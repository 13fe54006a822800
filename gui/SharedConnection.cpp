#include "gui/SharedConnection.h"

#include "data/Connection.h"
#include "data/Error.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {

dravon::Connection *registered = nullptr;

// Tells the data layer of each key and click: a server connection that could
// not be made again is tried once more at the person's next action. A click
// or key that only answers a message box is no new attempt.
class UserActionWatch : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            if (auto *widget = qobject_cast<QWidget *>(watched);
                widget && !qobject_cast<QMessageBox *>(widget->window()))
                dravon::Connection::noteUserAction();
            break;
        default:
            break;
        }
        return false;
    }
};

void watchUserActions()
{
    static QPointer<QObject> watch;
    if (watch || !qApp)
        return;
    watch = new UserActionWatch(qApp);
    qApp->installEventFilter(watch);
}

}

void SetSharedConnection(dravon::Connection *connection)
{
    registered = connection;
    if (connection)
        watchUserActions();
}

dravon::Connection &SharedConnection()
{
    if (!registered)
        throw dravon::Error(QStringLiteral("数据库没有连接。"));
    return *registered;
}
