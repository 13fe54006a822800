#include "app/Common_Unit.h"

#include "data/SettingsClient.h"

#include <QDir>

QString CurrentUserID;

QString GetConfigFileName()
{
    QString folder = settings::executableDir();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("ConfigDB.ini");
}

QString ReadDBFileName(const QString &configFileName)
{
    return settings::readIni(configFileName, QStringLiteral("BDConn"), QStringLiteral("DBConFileName"));
}

QString BuildConnectionString(const QString &databasePath)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + databasePath
           + QStringLiteral(";Persist Security Info=False");
}
