#include "data/server/ServerBackup.h"

#include "data/server/ServerSchema.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
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

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// A database name with a suffix, the name cut so the whole fits the
// server's 63 bytes.
QString withSuffix(const QString &database, const QString &suffix)
{
    QString base = database;
    while ((base + suffix).toUtf8().size() > 63)
        base.chop(1);
    return base + suffix;
}

bool databaseExists(Session &session, const QString &name)
{
    return session.exec(QStringLiteral("SELECT count(*) FROM pg_database WHERE datname = $1"), {name}).value(0, 0).toInt() > 0;
}

// The address with the password the program's own database logs in with.
// A restore reaches other databases of the server (the maintenance database,
// the one the backup is restored into) as the same user, and the password
// file entry the connection dialog wrote names the program's database only;
// the server keeps one password per user, so that one serves them all. It
// goes to the tools in their environment, never into a file.
ServerAddress withPasswordInUse(const ServerAddress &address)
{
    if (!address.password.isEmpty())
        return address;
    ServerAddress known = address;
    known.password = Session(address).passwordInUse();
    return known;
}

// A session on the server's maintenance database: a database cannot be
// renamed by a session connected to it.
Session maintenanceSession(const ServerAddress &address)
{
    ServerAddress maintenance = withPasswordInUse(address);
    maintenance.database = QStringLiteral("postgres");
    return Session(maintenance);
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

QString keptDatabaseName(const QString &database, const QDateTime &when)
{
    return withSuffix(database, QStringLiteral("_before_") + when.toString(QStringLiteral("yyyyMMdd_HHmmss")));
}

namespace {

const QString keptStampFormat = QStringLiteral("yyyyMMdd_HHmmss");

// The name a restore at that moment gives the database it keeps; n > 1 for
// the n-th of one second.
QString keptName(const QString &database, const QDateTime &when, int n)
{
    QString suffix = QStringLiteral("_before_") + when.toString(keptStampFormat);
    if (n > 1)
        suffix += QStringLiteral("_%1").arg(n);
    return withSuffix(database, suffix);
}

// When a restore of database kept name; invalid when no restore of it
// would have given that name.
QDateTime keptAt(const QString &database, const QString &name)
{
    static const QRegularExpression kept(QStringLiteral("_before_(\\d{8}_\\d{6})(?:_(\\d+))?$"));
    const QRegularExpressionMatch m = kept.match(name);
    if (!m.hasMatch())
        return {};
    const QDateTime when = QDateTime::fromString(m.captured(1), keptStampFormat);
    const int n = m.captured(2).isEmpty() ? 1 : m.captured(2).toInt();
    if (!when.isValid() || n < 1 || (n == 1 && !m.captured(2).isEmpty()) || keptName(database, when, n) != name)
        return {};
    return when;
}

}

QList<KeptDatabase> keptDatabases(const ServerAddress &address)
{
    Session server = maintenanceSession(address);
    const Result r = server.exec(QStringLiteral("SELECT datname, pg_database_size(oid) FROM pg_database "
                                                "WHERE datname LIKE '%\\_before\\_%'"));
    QList<KeptDatabase> kept;
    for (int i = 0; i < r.rows(); ++i) {
        const QString name = r.text(i, 0);
        const QDateTime when = keptAt(address.database, name);
        if (when.isValid() && name != address.database)
            kept.append({name, when, r.value(i, 1).toLongLong()});
    }
    std::sort(kept.begin(), kept.end(), [](const KeptDatabase &a, const KeptDatabase &b) {
        return a.keptAt != b.keptAt ? a.keptAt > b.keptAt : a.name > b.name;
    });
    return kept;
}

void dropKeptDatabase(const ServerAddress &address, const QString &name)
{
    const QString what = QStringLiteral("删除服务器上的旧数据库 %1 ").arg(name);
    if (name == address.database || !keptAt(address.database, name).isValid())
        throw Error(what + QStringLiteral("失败: 它不是还原时保存的 %1 的旧数据库,没有删除。").arg(address.database));
    Session server = maintenanceSession(address);
    if (!databaseExists(server, name))
        throw Error(what + QStringLiteral("失败: 服务器上已没有这个数据库。"));
    try {
        server.exec(QStringLiteral("DROP DATABASE %1").arg(quoted(name)));
    } catch (const ServerError &e) {
        if (e.sqlState() == QLatin1String("55006"))
            throw Error(what + QStringLiteral("失败: 还有程序连接着这个数据库,没有删除。"));
        throw Error(what + QStringLiteral("失败: ") + e.text());
    }
}

QString restoreServerDatabase(const QString &candidatePath, const ServerAddress &program,
                              const dbfiles::RestoreHooks &hooks, const QDateTime &now)
{
    const QString what = QStringLiteral("还原服务器上的数据库 %1 ").arg(program.display());
    try {
        runTool(QStringLiteral("pg_restore"), {QStringLiteral("--list"), candidatePath}, program, what);
    } catch (const Error &e) {
        throw Error(QStringLiteral("%1失败: 文件 %2 不是服务器数据库的备份文件。\n%3")
                        .arg(what, QDir::toNativeSeparators(candidatePath), e.text()));
    }

    const ServerAddress address = withPasswordInUse(program);
    Session server = maintenanceSession(address);
    ServerAddress restored = address;
    restored.database = withSuffix(address.database, QStringLiteral("_restoring_") + now.toString(QStringLiteral("yyyyMMdd_HHmmss")));
    QString kept = keptDatabaseName(address.database, now);
    for (int n = 2; databaseExists(server, kept); ++n)
        kept = keptName(address.database, now, n);
    if (databaseExists(server, restored.database))
        server.exec(QStringLiteral("DROP DATABASE %1").arg(quoted(restored.database)));
    server.exec(QStringLiteral("CREATE DATABASE %1 TEMPLATE template0 ENCODING 'UTF8'").arg(quoted(restored.database)));
    bool switched = false;
    try {
        runTool(QStringLiteral("pg_restore"),
                connectionArguments(address)
                    << QStringLiteral("--single-transaction") << QStringLiteral("--exit-on-error")
                    << QStringLiteral("--no-owner") << QStringLiteral("--no-privileges")
                    << (QStringLiteral("--dbname=") + restored.database) << candidatePath,
                address, what);
        {
            Session check(restored);
            const ServerDatabaseState state = inspectServerDatabase(check);
            if (state.kind == ServerDatabaseState::Kind::Empty)
                throw Error(what + QStringLiteral("失败: 备份文件中没有本程序的数据表。"));
            if (state.kind == ServerDatabaseState::Kind::Unusable)
                throw Error(what + QStringLiteral("失败: ") + state.problem);
            prepareServerSchema(check);
            // Every table, column, index and trigger as the program makes
            // them: a backup altered by hand or by another program is not
            // switched in, whatever rows it holds.
            const QStringList differences = serverSchemaDifferences(check);
            if (!differences.isEmpty()) {
                const int shown = 8;
                QString list = differences.mid(0, shown).join(QStringLiteral("; "));
                if (differences.size() > shown)
                    list += QStringLiteral(" 等 %1 处").arg(differences.size());
                throw Error(what + QStringLiteral("失败: 备份文件中的数据库结构与本程序的不同(%1),没有做任何修改。").arg(list));
            }
        }
        if (hooks.closeConnection)
            hooks.closeConnection();
        try {
            server.transaction([&] {
                server.exec(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(quoted(address.database), quoted(kept)));
                server.exec(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(quoted(restored.database), quoted(address.database)));
            });
        } catch (const ServerError &e) {
            // Nothing was switched: the program goes on with the database as it was.
            if (hooks.reopenConnection)
                hooks.reopenConnection();
            if (e.sqlState() == QLatin1String("55006"))
                throw Error(what + QStringLiteral("失败: 还有其他程序连接着这个数据库。请其他用户先退出程序,然后再还原。"));
            throw;
        }
        switched = true;
        if (hooks.reopenConnection) {
            try {
                hooks.reopenConnection();
            } catch (const Error &e) {
                // The restored database could not be used: the previous one takes its name again.
                server.transaction([&] {
                    server.exec(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(quoted(address.database), quoted(restored.database)));
                    server.exec(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(quoted(kept), quoted(address.database)));
                });
                switched = false;
                hooks.reopenConnection();
                throw Error(what + QStringLiteral("失败: 还原后的数据库无法打开,已恢复原数据库。\n") + e.text());
            }
        }
    } catch (...) {
        if (!switched) {
            try {
                server.exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(quoted(restored.database)));
            } catch (const Error &) {
                // The first failure is the one to report.
            }
        }
        throw;
    }
    return kept;
}

}
