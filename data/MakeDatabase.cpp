// Build step: creates the delivered database from the schema file, and the
// ini file that points to it, beside the executable. An existing database or
// ini file is left as it is, so a rebuild never loses data or settings. The
// database holds the accounts' passwords: what is created here is readable
// and writable by its owner only; an existing file keeps its mode.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <sqlite3.h>

#include <cstdio>
#include <sys/stat.h>

namespace {

int fail(const QString &text)
{
    std::fprintf(stderr, "MakeDatabase: %s\n", qPrintable(text));
    return 1;
}

// Creates the database at a temporary path and renames it into place, so a
// failed build leaves no half-made file.
int createDatabase(const QString &schemaPath, const QString &dbPath)
{
    QFile schema(schemaPath);
    if (!schema.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(schemaPath));
    const QByteArray sql = schema.readAll();
    const QString temp = dbPath + QStringLiteral(".building");
    QFile::remove(temp);
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(temp).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return fail(QStringLiteral("cannot create %1").arg(temp));
    }
    char *message = nullptr;
    const QByteArray script = "BEGIN;\n" + sql + "\nCOMMIT;";
    const int rc = sqlite3_exec(db, script.constData(), nullptr, nullptr, &message);
    const QString error = message ? QString::fromUtf8(message) : QString();
    sqlite3_free(message);
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        QFile::remove(temp);
        return fail(QStringLiteral("schema failed: %1").arg(error));
    }
    if (!QFile::rename(temp, dbPath))
        return fail(QStringLiteral("cannot move %1 to %2").arg(temp, dbPath));
    return 0;
}

}

int main(int argc, char **argv)
{
    if (argc != 3 && argc != 4)
        return fail(QStringLiteral("usage: MakeDatabase schema.sql database.mdb [ConfigDB.ini]"));
    // Every file made below (the database, its journal, the ini file and their
    // temporary files) is created with mode 0600.
    ::umask(077);
    const QString schemaPath = QString::fromLocal8Bit(argv[1]);
    const QString dbPath = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QDir().mkpath(QFileInfo(dbPath).absolutePath());
    if (!QFileInfo::exists(dbPath)) {
        if (const int rc = createDatabase(schemaPath, dbPath))
            return rc;
    }
    if (argc == 4) {
        const QString iniPath = QString::fromLocal8Bit(argv[3]);
        if (!QFileInfo::exists(iniPath)) {
            QSaveFile ini(iniPath);
            if (!ini.open(QIODevice::WriteOnly))
                return fail(QStringLiteral("cannot write %1").arg(iniPath));
            const QByteArray text =
                QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(QDir::toNativeSeparators(dbPath)).toUtf8();
            if (ini.write(text) != text.size() || !ini.flush() || !ini.commit())
                return fail(QStringLiteral("cannot write %1").arg(iniPath));
        }
    }
    return 0;
}
