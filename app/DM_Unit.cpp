#include "app/DM_Unit.h"

#include "app/Common_Unit.h"
#include "app/DBSetup_Unit.h"
#include "gui/SharedConnection.h"
#include "gui/Shell_Unit.h"
#include "data/SchemaUpgrade.h"
#include "data/ServerSettings.h"
#include "data/StagingFiles.h"

#include <QDir>
#include <QFileInfo>

TDM *DM = nullptr;

TDM::TDM(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("DM"));
    DM = this;
    SetSharedConnection(&ADOConn);
    DataModuleCreate();
}

TDM::~TDM()
{
    m_startupSetup.reset();
    ADOConn.close();
    if (DM == this) {
        DM = nullptr;
        SetSharedConnection(nullptr);
    }
}

bool TDM::ConnectDB()
{
    m_schemaFailure.clear();
    m_serverFailure.clear();
    try {
        ADOConn.close();
        const auto server = ServerWayOffered() ? ReadServerAddress(GetConfigFileName()) : std::nullopt;
        if (server) {
            ADOConn.setServerAddress(*server);
        } else {
            const QString path = ReadDBFileName(GetConfigFileName());
            ADOConn.setConnectionString(BuildConnectionString(path));
        }
        ADOConn.open();
        return true;
    } catch (const dravon::SchemaError &e) {
        m_schemaFailure = e.text();
        return false;
    } catch (const dravon::pg::ServerError &e) {
        m_serverFailure = e.text();
        return false;
    } catch (const std::exception &) {
        // The cause is not shown: the caller reports a failed connection.
        return false;
    }
}

namespace {

// What killed operations of an earlier run left beside the settings, beside
// the database (and the file a link to it points to) and in the temporary
// folder goes before anything else is done.
void removeLeftoversAtStart()
{
    const QString ini = GetConfigFileName();
    const QString database = ReadDBFileName(ini);
    staging::removeLeftovers(QFileInfo(ini).absolutePath());
    staging::removeLeftovers(QDir::tempPath());
    if (database.isEmpty())
        return;
    for (const QFileInfo &file : {QFileInfo(database), QFileInfo(QFileInfo(database).canonicalFilePath())})
        if (!file.fileName().isEmpty())
            staging::removeLeftovers(file.absolutePath(), file.fileName());
}

}

void TDM::DataModuleCreate()
{
    removeLeftoversAtStart();
    if (ConnectDB())
        return;
    // A file that could not be upgraded says so before the usual message.
    if (!m_schemaFailure.isEmpty())
        ShowMessage(m_schemaFailure, QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
    if (!m_serverFailure.isEmpty())
        ShowMessage(m_serverFailure, QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
    ShowMessage(QStringLiteral("数据库连接失败!"), QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
    m_startupSetup = std::make_unique<TfrmDBSetup>(nullptr);
    frmDBSetup = m_startupSetup.get();
    ExecDialog(m_startupSetup.get());
}
