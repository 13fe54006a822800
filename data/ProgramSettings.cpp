#include "data/ProgramSettings.h"

#include "data/SettingsClient.h"

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
