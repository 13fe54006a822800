#include "data/ProgramSettings.h"

#include "data/SettingsClient.h"

// CurrentUserID is defined in the data-access library, whose change batches
// record it (data/changes/ChangeBatch.cpp).

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
