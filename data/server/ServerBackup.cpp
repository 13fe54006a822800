#include "data/server/ServerBackup.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dravon::pg {

namespace {

// A dump of a school's database takes minutes at most; a tool that runs
// longer than this is stuck (a server that stopped answering).
constexpr int toolTimeoutMs = 60 * 60 * 1000;

QProcessEnvironment toolEnvironment(const ServerAddress &address)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!address.password.isEmpty())
        env.insert(QStringLiteral("PGPASSWORD"), address.password);
    env.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("5"));
    env.insert(QStringLiteral("PGAPPNAME"), QStringLiteral("Veltrana"));
    // The tools' messages in plain English whatever the clerk's locale.
    env.insert(QStringLiteral("LC_MESSAGES"), QStringLiteral("C"));
    return env;
}

// Runs a tool to its end; throws with its own words when it fails.
void runTool(const QString &tool, const QStringList &arguments, const ServerAddress &address, const QString &what)
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment(address));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(serverToolPath(tool), arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted())
        throw Error(QStringLiteral("%1失败: 无法启动 %2 (%3)").arg(what, tool, process.errorString()));
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        throw Error(QStringLiteral("%1失败: %2 没有在规定时间内结束。").arg(what, tool));
    }
    const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw Error(QStringLiteral("%1失败: %2").arg(what, output.isEmpty() ? tool + QStringLiteral(" 异常结束") : output));
}

QStringList connectionArguments(const ServerAddress &address)
{
    return {QStringLiteral("--host=") + address.host, QStringLiteral("--port=") + QString::number(address.port),
            QStringLiteral("--username=") + address.user, QStringLiteral("--no-password")};
}

}

QString serverToolPath(const QString &tool)
{
    const QString onPath = QStandardPaths::findExecutable(tool);
    if (!onPath.isEmpty())
        return onPath;
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(found.begin(), found.end(), [&](const QString &a, const QString &b) { return numeric.compare(a, b) > 0; });
    for (const QString &version : found) {
        const QString path = versions.filePath(version + QStringLiteral("/bin/") + tool);
        if (QFileInfo(path).isExecutable())
            return path;
    }
    throw Error(QStringLiteral("找不到 PostgreSQL 的工具 %1。请安装 postgresql-client。").arg(tool));
}

void backupServerDatabase(const ServerAddress &address, const QString &targetPath)
{
    const QString what = QStringLiteral("备份服务器上的数据库 %1 ").arg(address.display());
    const QFileInfo target(targetPath);
    // Written beside the target, then renamed over it: a failed dump never
    // leaves a half-written file under the chosen name.
    QTemporaryFile part(target.absoluteDir().filePath(target.fileName() + QStringLiteral(".XXXXXX.part")));
    if (!part.open())
        throw Error(QStringLiteral("%1失败: 无法在 %2 中写入文件 (%3)")
                        .arg(what, QDir::toNativeSeparators(target.absolutePath()), part.errorString()));
    part.close();
    QStringList dump = connectionArguments(address);
    dump << QStringLiteral("--format=custom") << QStringLiteral("--no-owner") << QStringLiteral("--no-privileges")
         << (QStringLiteral("--file=") + part.fileName()) << (QStringLiteral("--dbname=") + address.database);
    runTool(QStringLiteral("pg_dump"), dump, address, what);
    // The restore tool must be able to read what was written.
    runTool(QStringLiteral("pg_restore"), {QStringLiteral("--list"), part.fileName()}, address,
            what + QStringLiteral("(检查备份文件) "));
    // rename() replaces an existing file in one step: the old backup stays
    // whole until the new one is complete. Like the temporary file, the
    // backup is readable by its owner only (it holds the accounts' passwords).
    if (::rename(QFile::encodeName(part.fileName()).constData(), QFile::encodeName(targetPath).constData()) != 0)
        throw Error(QStringLiteral("%1失败: 无法写入文件 %2 (%3)")
                        .arg(what, QDir::toNativeSeparators(targetPath), QString::fromLocal8Bit(std::strerror(errno))));
    part.setAutoRemove(false);
}

}
