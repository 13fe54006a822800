#include "app/DBSetup_Unit.h"

#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "gui/ServerAddressBox.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataControls.h"
#include "data/SchemaUpgrade.h"
#include "data/ServerSettings.h"
#include "data/SettingsClient.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <iterator>

QPointer<TfrmDBSetup> frmDBSetup;

TfrmDBSetup::TfrmDBSetup(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmDBSetup"));
    setWindowTitle(QStringLiteral("数据库配置"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);

    auto *label = new QLabel(QStringLiteral("数据库路径："), this);
    edtDBFilePath = new QLineEdit(this);
    edtDBFilePath->setObjectName(QStringLiteral("edtDBFilePath"));
    edtDBFilePath->setReadOnly(true);
    // Read-only looks read-only: the window's own background, not a field's.
    QPalette shown = edtDBFilePath->palette();
    shown.setColor(QPalette::Base, shown.color(QPalette::Window));
    edtDBFilePath->setPalette(shown);
    AllowLongText(edtDBFilePath);
    edtDBFilePath->setMinimumWidth(360);
    btnFilePath = new QPushButton(QStringLiteral("浏览(&T)"), this);
    btnFilePath->setObjectName(QStringLiteral("btnFilePath"));
    btnOk = new QPushButton(QStringLiteral("确定(&O)"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    for (QPushButton *b : {btnFilePath, btnOk})
        b->setAutoDefault(false);

    OpenPath = new QFileDialog(this, QString(), QString(), QStringLiteral("Access(*.mdb)"));
    OpenPath->setObjectName(QStringLiteral("OpenPath"));
    OpenPath->setOption(QFileDialog::DontUseNativeDialog);
    OpenPath->setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name of a missing file is taken as it is; OK then reports the failure.
    OpenPath->setFileMode(QFileDialog::AnyFile);

    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(edtDBFilePath, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnFilePath);
    buttons->addWidget(btnOk);
    auto *layout = new QVBoxLayout(this);
    if (ServerWayOffered()) {
        buildServerWay();
        layout->addWidget(rdoFile);
        layout->addLayout(row);
        layout->addWidget(rdoServer);
        layout->addWidget(grpServer);
    } else {
        layout->addLayout(row);
    }
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(btnFilePath, btnOk);
    if (grpServer) {
        // Top to bottom: the file way, the server way, then OK.
        QWidget *order[] = {rdoFile, btnFilePath, rdoServer, grpServer->edtHost, grpServer->edtPort,
                            grpServer->edtDatabase, grpServer->edtUser, grpServer->edtPassword,
                            grpServer->btnTestConnection, btnOk};
        for (size_t i = 1; i < std::size(order); ++i)
            setTabOrder(order[i - 1], order[i]);
    }

    connect(btnFilePath, &QPushButton::clicked, this, [this] { Guarded([this] { btnFilePathClick(); }); });
    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
}

void TfrmDBSetup::buildServerWay()
{
    rdoFile = new QRadioButton(QStringLiteral("数据库文件(&F)"), this);
    rdoFile->setObjectName(QStringLiteral("rdoFile"));
    rdoServer = new QRadioButton(QStringLiteral("服务器 (PostgreSQL)(&R)"), this);
    rdoServer->setObjectName(QStringLiteral("rdoServer"));
    rdoFile->setChecked(true);
    grpServer = new ServerAddressBox(this);
    grpServer->setObjectName(QStringLiteral("grpServer"));
    connect(rdoFile, &QRadioButton::toggled, this, [this] { showWay(); });
    showWay();
}

void TfrmDBSetup::showWay()
{
    const bool server = serverChosen();
    edtDBFilePath->setEnabled(!server);
    btnFilePath->setEnabled(!server);
    grpServer->setEnabled(server);
}

bool TfrmDBSetup::serverChosen() const
{
    return rdoServer && rdoServer->isChecked();
}

void TfrmDBSetup::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        Guarded([this] { FormShow(); });
}

void TfrmDBSetup::FormShow()
{
    edtDBFilePath->setText(ReadDBFileName(GetConfigFileName()));
    btnFilePath->setFocus();
    if (!rdoServer)
        return;
    if (const auto address = ReadServerAddress(GetConfigFileName())) {
        grpServer->showAddress(*address);
        rdoServer->setChecked(true);
        grpServer->edtHost->setFocus();
    }
}

void TfrmDBSetup::btnFilePathClick()
{
    OpenPath->setDirectory(FileDialogStartFolder());
    if (ExecDialog(OpenPath) != QDialog::Accepted)
        return;
    const QStringList files = OpenPath->selectedFiles();
    if (!files.isEmpty()) {
        RememberFileDialogFolder(files.first());
        edtDBFilePath->setText(QDir::toNativeSeparators(files.first()));
    }
}

void TfrmDBSetup::okForServer(const dravon::pg::ServerAddress &address)
{
    try {
        DM->ADOConn.close();
        DM->ADOConn.setServerAddress(address);
        DM->ADOConn.open();
    } catch (const dravon::Error &e) {
        // The server's reason (unreachable, wrong password, not the program's
        // database), then the usual message.
        ShowMessage(e.text(), QStringLiteral("错误"), QMessageBox::Critical);
        ShowMessage(QStringLiteral("数据库连接失败!"), QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    try {
        if (!address.password.isEmpty())
            StorePassword(address);
        WriteServerAddress(GetConfigFileName(), address);
    } catch (const std::exception &e) {
        ShowMessage(QStringLiteral("数据库设置没有保存!\n%1\n请检查磁盘空间和写入权限后再试。").arg(ErrorText(e)),
                    QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    ShowMessage(QStringLiteral("数据连接成功,请重新启动程序!"), QStringLiteral("提示"), QMessageBox::Information);
    RequestApplicationEnd();
}

void TfrmDBSetup::btnOkClick()
{
    if (serverChosen()) {
        if (const auto address = grpServer->typedAddress())
            okForServer(*address);
        return;
    }
    if (edtDBFilePath->text().isEmpty()) {
        ShowMessage(QStringLiteral("请选择数据库路径!"), QStringLiteral("错误"), QMessageBox::Critical);
        edtDBFilePath->setFocus();
        return;
    }
    try {
        DM->ADOConn.close();
        DM->ADOConn.setConnectionString(BuildConnectionString(edtDBFilePath->text()));
        DM->ADOConn.open();
    } catch (const dravon::SchemaError &e) {
        // The file is of a newer version or could not be upgraded: say why.
        ShowMessage(e.text(), QStringLiteral("错误"), QMessageBox::Critical);
        ShowMessage(QStringLiteral("数据库连接失败!"), QStringLiteral("错误"), QMessageBox::Critical);
        return;
    } catch (const std::exception &) {
        ShowMessage(QStringLiteral("数据库连接失败!"), QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    // The library is loaded for the write and released again whatever happens.
    // A failed write (a full disk, no permission) leaves the old file as it
    // was and must not be reported as success.
    try {
        settings::writeIni(GetConfigFileName(), QStringLiteral("BDConn"), QStringLiteral("DBConFileName"),
                           edtDBFilePath->text());
        // Where the server way is offered, a file that named a server goes
        // back to the file way; one that never did is not touched again.
        if (rdoServer)
            ChooseDatabaseFile(GetConfigFileName());
    } catch (const std::exception &e) {
        ShowMessage(QStringLiteral("数据库路径没有保存!\n%1\n请检查磁盘空间和写入权限后再试。")
                        .arg(QString::fromUtf8(e.what())),
                    QStringLiteral("错误"), QMessageBox::Critical);
        return;
    }
    ShowMessage(QStringLiteral("数据连接成功,请重新启动程序!"), QStringLiteral("提示"), QMessageBox::Information);
    RequestApplicationEnd();
}

void TfrmDBSetup::closeEvent(QCloseEvent *event)
{
    FormClose();
    QDialog::closeEvent(event);
}

void TfrmDBSetup::FormClose()
{
    // During start-up no login window exists yet: closing ends the run.
    if (!LoginWindowCreated())
        RequestApplicationEnd();
}

void TfrmDBSetup::keyPressEvent(QKeyEvent *event)
{
    // No cancel button: Escape does not close the dialog.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
