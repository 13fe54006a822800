#include "gui/ServerAddressBox.h"

#include "gui/Shell_Unit.h"
#include "data/server/ServerSchema.h"

#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ServerAddressBox::ServerAddressBox(QWidget *parent) : QGroupBox(parent)
{
    auto field = [this](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setMinimumWidth(240);
        return edit;
    };
    edtHost = field("edtHost");
    edtPort = field("edtPort");
    edtPort->setValidator(new QIntValidator(1, 65535, edtPort));
    edtPort->setText(QStringLiteral("5432"));
    edtDatabase = field("edtDatabase");
    edtUser = field("edtUser");
    edtPassword = field("edtPassword");
    edtPassword->setEchoMode(QLineEdit::Password);
    edtPassword->setPlaceholderText(QStringLiteral("留空则使用已保存的密码"));
    btnTestConnection = new QPushButton(QStringLiteral("测试连接(&E)"), this);
    btnTestConnection->setObjectName(QStringLiteral("btnTestConnection"));
    btnTestConnection->setAutoDefault(false);

    auto *form = new QFormLayout(this);
    auto row = [this, form](const QString &caption, QLineEdit *edit) {
        auto *label = new QLabel(caption, this);
        label->setBuddy(edit);
        form->addRow(label, edit);
    };
    row(QStringLiteral("主机(&H)："), edtHost);
    row(QStringLiteral("端口(&P)："), edtPort);
    row(QStringLiteral("数据库(&D)："), edtDatabase);
    row(QStringLiteral("用户(&U)："), edtUser);
    row(QStringLiteral("密码(&W)："), edtPassword);
    form->addRow(QString(), btnTestConnection);

    connect(btnTestConnection, &QPushButton::clicked, this, [this] { Guarded([this] { btnTestConnectionClick(); }); });
}

void ServerAddressBox::showAddress(const dravon::pg::ServerAddress &address)
{
    edtHost->setText(address.host);
    edtPort->setText(QString::number(address.port));
    edtDatabase->setText(address.database);
    edtUser->setText(address.user);
    edtPassword->clear();
}

std::optional<dravon::pg::ServerAddress> ServerAddressBox::typedAddress()
{
    for (QLineEdit *edit : {edtHost, edtPort, edtDatabase, edtUser}) {
        if (edit->text().trimmed().isEmpty() || (edit == edtPort && !edit->hasAcceptableInput())) {
            ShowMessage(QStringLiteral("请填写服务器的主机、端口(1-65535)、数据库和用户!"), QStringLiteral("错误"),
                        QMessageBox::Critical);
            edit->setFocus();
            return std::nullopt;
        }
    }
    dravon::pg::ServerAddress a;
    a.host = edtHost->text().trimmed();
    a.port = edtPort->text().toInt();
    a.database = edtDatabase->text().trimmed();
    a.user = edtUser->text().trimmed();
    a.password = edtPassword->text();
    return a;
}

void ServerAddressBox::btnTestConnectionClick()
{
    const auto address = typedAddress();
    if (!address)
        return;
    dravon::pg::ServerDatabaseState state;
    try {
        dravon::pg::Session session(*address);
        state = dravon::pg::inspectServerDatabase(session);
    } catch (const dravon::Error &e) {
        ShowMessage(e.text(), QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    using Kind = dravon::pg::ServerDatabaseState::Kind;
    if (state.kind == Kind::Unusable) {
        ShowMessage(state.problem, QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    const QString holds = state.kind == Kind::Empty
                              ? QStringLiteral("数据库 %1 是空的,第一次连接时将建立本程序的数据表。")
                              : QStringLiteral("数据库 %1 中有本程序的数据表。");
    ShowMessage(QStringLiteral("连接成功!\n") + holds.arg(address->database), QStringLiteral("提示"),
                QMessageBox::Information);
}
