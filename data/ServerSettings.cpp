#include "data/ServerSettings.h"

#include "data/SettingsClient.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

const QString section = QStringLiteral("BDConn");
const QString engineKey = QStringLiteral("Engine");
const QString serverEngine = QStringLiteral("PostgreSQL");

QString escaped(const QString &field)
{
    QString text = field;
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char(':'), QStringLiteral("\\:"));
    return text;
}

}

std::optional<dravon::pg::ServerAddress> ReadServerAddress(const QString &configFileName)
{
    if (settings::readIni(configFileName, section, engineKey).compare(serverEngine, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    dravon::pg::ServerAddress a;
    a.host = settings::readIni(configFileName, section, QStringLiteral("ServerHost"));
    const QString port = settings::readIni(configFileName, section, QStringLiteral("ServerPort"));
    a.port = port.isEmpty() ? 5432 : port.toInt();
    a.database = settings::readIni(configFileName, section, QStringLiteral("ServerDatabase"));
    a.user = settings::readIni(configFileName, section, QStringLiteral("ServerUser"));
    return a;
}

void WriteServerAddress(const QString &configFileName, const dravon::pg::ServerAddress &address)
{
    settings::writeIni(configFileName, section, QStringLiteral("ServerHost"), address.host);
    settings::writeIni(configFileName, section, QStringLiteral("ServerPort"), QString::number(address.port));
    settings::writeIni(configFileName, section, QStringLiteral("ServerDatabase"), address.database);
    settings::writeIni(configFileName, section, QStringLiteral("ServerUser"), address.user);
    // Last, so that a failed write above leaves the file way chosen.
    settings::writeIni(configFileName, section, engineKey, serverEngine);
}

void ChooseDatabaseFile(const QString &configFileName)
{
    if (!settings::readIni(configFileName, section, engineKey).isEmpty())
        settings::writeIni(configFileName, section, engineKey, QString());
}

QString PasswordFilePath()
{
    const QByteArray named = qgetenv("PGPASSFILE");
    if (!named.isEmpty())
        return QFile::decodeName(named);
    return QDir::home().filePath(QStringLiteral(".pgpass"));
}

QString WithPassword(const QString &passwordFileText, const dravon::pg::ServerAddress &address)
{
    const QString prefix = QStringList({escaped(address.host), QString::number(address.port),
                                        escaped(address.database), escaped(address.user)})
                               .join(QLatin1Char(':'))
                           + QLatin1Char(':');
    QStringList lines = passwordFileText.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    // libpq takes the first line that matches, so the new one replaces the old in its place.
    const QString line = prefix + escaped(address.password);
    bool placed = false;
    for (QString &l : lines) {
        if (l.startsWith(prefix)) {
            if (!placed)
                l = line;
            else
                l.clear();
            placed = true;
        }
    }
    lines.removeAll(QString());
    if (!placed)
        lines << line;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void StorePassword(const dravon::pg::ServerAddress &address)
{
    const QString path = PasswordFilePath();
    QString text;
    QFile existing(path);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly))
            throw dravon::Error(QStringLiteral("无法读取密码文件 %1: %2").arg(path, existing.errorString()));
        text = QString::fromUtf8(existing.readAll());
    }
    QSaveFile file(path);
    const QByteArray bytes = WithPassword(text, address).toUtf8();
    // Owner only: libpq ignores a password file that others may read.
    if (!file.open(QIODevice::WriteOnly)
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(bytes) != bytes.size() || !file.flush() || !file.commit())
        throw dravon::Error(QStringLiteral("无法保存密码文件 %1: %2").arg(path, file.errorString()));
}

namespace {
#ifndef VELTRANA_SERVER_WAY
#define VELTRANA_SERVER_WAY 0
#endif
bool serverWayOffered = VELTRANA_SERVER_WAY;
}

bool ServerWayOffered()
{
    return serverWayOffered;
}

void SetServerWayOfferedForTesting(bool offered)
{
    serverWayOffered = offered;
}
