#include "app/Login_Unit.h"

#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "gui/Shell_Unit.h"
#include "data/Dravon.h"
#include "gui/controls/DataControls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

QPointer<TfrmLogin> frmLogin;

namespace {
bool loginWindowCreated = false;

// The decorative picture at the left: a quiet gradient with an open book.
QPixmap loginPicture(const QSize &size)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(60, 110, 170));
    sky.setColorAt(1, QColor(150, 190, 225));
    p.setBrush(sky);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(QPointF(0, 0), size).adjusted(1, 1, -1, -1), 6, 6);
    const qreal w = size.width(), h = size.height();
    QPainterPath book;
    book.moveTo(w * 0.5, h * 0.62);
    book.cubicTo(w * 0.38, h * 0.55, w * 0.24, h * 0.55, w * 0.14, h * 0.6);
    book.lineTo(w * 0.14, h * 0.36);
    book.cubicTo(w * 0.24, h * 0.31, w * 0.38, h * 0.31, w * 0.5, h * 0.38);
    book.cubicTo(w * 0.62, h * 0.31, w * 0.76, h * 0.31, w * 0.86, h * 0.36);
    book.lineTo(w * 0.86, h * 0.6);
    book.cubicTo(w * 0.76, h * 0.55, w * 0.62, h * 0.55, w * 0.5, h * 0.62);
    p.setBrush(QColor(255, 255, 255, 230));
    p.setPen(QPen(QColor(40, 70, 120), 1.5));
    p.drawPath(book);
    p.drawLine(QPointF(w * 0.5, h * 0.38), QPointF(w * 0.5, h * 0.62));
    return pixmap;
}
}

bool LoginWindowCreated()
{
    return loginWindowCreated;
}

void SetLoginWindowCreated(bool created)
{
    loginWindowCreated = created;
}

TfrmLogin::TfrmLogin(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmLogin"));
    loginWindowCreated = true;
    setWindowTitle(QStringLiteral("Veltrana登录"));
    // Title bar without system menu, so without a close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(loginPicture(QSize(120, 110)));
    picture->setScaledContents(true);
    picture->setFixedSize(120, 110);
    auto *userLabel = new QLabel(QStringLiteral("用户编号："), this);
    auto *passwordLabel = new QLabel(QStringLiteral("密    码："), this);
    edtUserID = new QLineEdit(this);
    edtUserID->setObjectName(QStringLiteral("edtUserID"));
    edtUserPwd = new QLineEdit(this);
    edtUserPwd->setObjectName(QStringLiteral("edtUserPwd"));
    edtUserPwd->setEchoMode(QLineEdit::Password);
    edtUserPwd->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    for (QLineEdit *e : {edtUserID, edtUserPwd}) {
        e->setMinimumWidth(170);
        AllowLongText(e);
    }
    btnLogin = new QPushButton(QStringLiteral("登录(&L)"), this);
    btnLogin->setObjectName(QStringLiteral("btnLogin"));
    btnExit = new QPushButton(QStringLiteral("放弃(&C)"), this);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    for (QPushButton *b : {btnLogin, btnExit}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    auto *fields = new QGridLayout;
    fields->addWidget(userLabel, 0, 0);
    fields->addWidget(edtUserID, 0, 1);
    fields->addWidget(passwordLabel, 1, 0);
    fields->addWidget(edtUserPwd, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnLogin);
    buttons->addWidget(btnExit);
    fields->addLayout(buttons, 2, 0, 1, 2);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(picture, 0, Qt::AlignVCenter);
    layout->addSpacing(8);
    layout->addLayout(fields);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(edtUserID, edtUserPwd);
    setTabOrder(edtUserPwd, btnLogin);
    setTabOrder(btnLogin, btnExit);
    edtUserID->setFocus();

    for (QWidget *w : {static_cast<QWidget *>(edtUserID), static_cast<QWidget *>(edtUserPwd),
                       static_cast<QWidget *>(btnLogin), static_cast<QWidget *>(btnExit)})
        w->installEventFilter(this);
    connect(btnLogin, &QPushButton::clicked, this, [this] { Guarded([this] { btnLoginClick(); }); });
    connect(btnExit, &QPushButton::clicked, this, [this] { Guarded([this] { btnExitClick(); }); });

    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmLogin::btnLoginClick()
{
    const QString query = QStringLiteral("SELECT * FROM [User] WHERE UserID=") + dravon::QuotedStr(edtUserID->text())
                          + QStringLiteral(" AND UserPassword=") + dravon::QuotedStr(edtUserPwd->text());
    if (SQLSearch(query, DM->ADOConn)) {
        CurrentUserID = edtUserID->text();
        accept();
        return;
    }
    ShowMessage(QStringLiteral("登录信息错误,请重新登录!"), QStringLiteral("错误"), QMessageBox::Critical);
    edtUserPwd->clear();
    edtUserID->setFocus();
}

void TfrmLogin::btnExitClick()
{
    RequestApplicationEnd();
}

bool TfrmLogin::FormKeyPress(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    // Return on a focused button presses it; elsewhere it moves to the next field.
    if (auto *button = qobject_cast<QPushButton *>(QApplication::focusWidget()); button && isAncestorOf(button)) {
        button->click();
        return true;
    }
    focusNextChild();
    return true;
}

bool TfrmLogin::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched == QApplication::focusWidget())
        return FormKeyPress(static_cast<QKeyEvent *>(event));
    return QDialog::eventFilter(watched, event);
}

void TfrmLogin::keyPressEvent(QKeyEvent *event)
{
    if (FormKeyPress(event))
        return;
    // Only the two buttons leave the window.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmLogin::closeEvent(QCloseEvent *event)
{
    if (result() == QDialog::Accepted || ApplicationEndRequested())
        QDialog::closeEvent(event);
    else
        event->ignore();
}
