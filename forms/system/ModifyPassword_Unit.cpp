#include "forms/system/ModifyPassword_Unit.h"

#include "data/Dravon.h"
#include "data/ProgramSettings.h"
#include "gui/Shell_Unit.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

using dravon::QuotedStr;

QPointer<TfrmModifyPassword> frmModifyPassword;

TfrmModifyPassword::TfrmModifyPassword(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmModifyPassword"));
    setWindowTitle(QStringLiteral("更改密码设置"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);

    auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto password = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setEchoMode(QLineEdit::Password);
        // Every character shows as "*".
        e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
        e->setMinimumWidth(200);
        return e;
    };
    auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    Label1 = label("Label1", QStringLiteral("用 户 名："));
    Label2 = label("Label2", QStringLiteral("原始密码："));
    Label3 = label("Label3", QStringLiteral("新 密 码："));
    Label4 = label("Label4", QStringLiteral("确认密码："));
    lblUser = label("lblUser", QString());
    lblUser->setTextInteractionFlags(Qt::NoTextInteraction);
    edtOldPassword = password("edtOldPassword");
    edtNewPassword = password("edtNewPassword");
    edtPasswordAgain = password("edtPasswordAgain");
    btnOK = button("btnOK", QStringLiteral("确定(&O)"));
    btnCancel = button("btnCancel", QStringLiteral("取消(&C)"));

    auto *fields = new QGridLayout;
    const QList<QPair<QLabel *, QWidget *>> rows = {
        {Label1, lblUser}, {Label2, edtOldPassword}, {Label3, edtNewPassword}, {Label4, edtPasswordAgain}};
    for (int r = 0; r < rows.size(); ++r) {
        fields->addWidget(rows[r].first, r, 0);
        fields->addWidget(rows[r].second, r, 1);
    }
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 12);
    layout->setSpacing(12);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(edtOldPassword, edtNewPassword);
    setTabOrder(edtNewPassword, edtPasswordAgain);
    setTabOrder(edtPasswordAgain, btnOK);
    setTabOrder(btnOK, btnCancel);

    connect(btnOK, &QPushButton::clicked, this, [this] { Guarded([this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { Guarded([this] { btnCancelClick(); }); });
}

void TfrmModifyPassword::showEvent(QShowEvent *event)
{
    TfrmBase::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
}

void TfrmModifyPassword::FormShow()
{
    lblUser->setText(CurrentUserID);
    edtOldPassword->setFocus();
}

void TfrmModifyPassword::btnOKClick()
{
    const QString user = lblUser->text();
    const auto account = SQLDataSet(QStringLiteral("Select * From [User] where UserID=") + QuotedStr(user), connection());
    // An account that no longer exists cannot change: the update would touch
    // no row, and a success message would be wrong.
    if (account->isEmpty()) {
        ShowMessage(QStringLiteral("找不到用户 %1 的账户,密码没有修改!").arg(user), QStringLiteral("错误"),
                    QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    const QString stored = account->fieldText(QStringLiteral("UserPassword"));

    // The old password first, compared exactly, letter case included.
    if (edtOldPassword->text() != stored) {
        ShowMessage(QStringLiteral("原始密码错误,请重新输入!"), QStringLiteral("错误"), QMessageBox::Critical,
                    QMessageBox::Ok);
        edtOldPassword->setFocus();
        return;
    }
    if (edtNewPassword->text() != edtPasswordAgain->text()) {
        ShowMessage(QStringLiteral("输入的新密码不一致,请重新输入!"), QStringLiteral("错误"), QMessageBox::Critical,
                    QMessageBox::Ok);
        edtNewPassword->clear();
        edtPasswordAgain->clear();
        edtNewPassword->setFocus();
        return;
    }
    // One batch of the change log, which keeps no password: only that it changed.
    dravon::ChangeBatch batch(connection(), {QStringLiteral("修改密码"), objectName(),
                                             QStringLiteral("修改用户 %1 的密码").arg(user)});
    SQLExecute(QStringLiteral("Update [User] Set UserPassword=") + QuotedStr(edtNewPassword->text())
                   + QStringLiteral(" where UserID=") + QuotedStr(user),
               connection());
    batch.commit();
    ShowMessage(QStringLiteral("密码修改成功!"), QStringLiteral("提示"), QMessageBox::Information, QMessageBox::Ok);
    close();
}

void TfrmModifyPassword::btnCancelClick()
{
    close();
}

void TfrmModifyPassword::keyPressEvent(QKeyEvent *event)
{
    // Escape leaves the dialog the way its close box does, so it is freed too.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        close();
        return;
    }
    TfrmBase::keyPressEvent(event);
}

void TfrmModifyPassword::FormClose()
{
    TfrmBase::FormClose();
    // A modal dialog created for one use frees itself when closed.
    setAttribute(Qt::WA_DeleteOnClose);
    frmModifyPassword = nullptr;
}
