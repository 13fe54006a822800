#include "data/ProgramSettings.h"

#include "data/SettingsClient.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtDebug>
#include <exception>

namespace {
const QString dialogsSection = QStringLiteral("Dialogs");
const QString lastFolderKey = QStringLiteral("LastFolder");
}

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

QString FileDialogStartFolder()
{
    const QString last = settings::readIni(GetConfigFileName(), dialogsSection, lastFolderKey);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

void RememberFileDialogFolder(const QString &chosen)
{
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    const QString config = GetConfigFileName();
    if (settings::readIni(config, dialogsSection, lastFolderKey) == folder)
        return;
    try {
        settings::writeIni(config, dialogsSection, lastFolderKey, folder);
    } catch (const std::exception &e) {
        qWarning("the folder of the file dialogs was not remembered: %s", e.what());
    }
}
