#include "support/TestWorkspace.h"

#include "app/Common_Unit.h"
#include "data/Connection.h"
#include "data/Dialect.h"
#include "data/ServerSettings.h"
#include "data/SettingsClient.h"
#include "data/server/ServerSchema.h"
#include "support/TestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>
#include <utility>
#include <sqlite3.h>

namespace testsupport {

QString schemaFile()
{
    return QStringLiteral(VELTRANA_SCHEMA_FILE);
}

QString buildBinDir()
{
    return QStringLiteral(VELTRANA_BIN_DIR);
}

QString connectionStringFor(const QString &dbPath)
{
    return BuildConnectionString(dbPath);
}

namespace {

sqlite3 *openDb(const QString &path, int flags)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
        const QString error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        qFatal("cannot open %s: %s", qPrintable(path), qPrintable(error));
    }
    sqlite3_busy_timeout(db, 2000);
    return db;
}

}

void createDatabase(const QString &path)
{
    QFile schema(schemaFile());
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("cannot read the schema %s", qPrintable(schemaFile()));
    if (QFile::exists(path))
        qFatal("database %s exists already", qPrintable(path));
    // One transaction: one write to disk instead of one per statement
    // (about 3 s less per test on a busy disk).
    execSql(path, QStringLiteral("BEGIN;\n") + QString::fromUtf8(schema.readAll()) + QStringLiteral("\nCOMMIT;"));
}

void execSql(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = openDb(dbPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    char *message = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
    const QString error = message ? QString::fromUtf8(message) : QString();
    sqlite3_free(message);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        qFatal("SQL failed: %s\n%s", qPrintable(error), qPrintable(sql.left(500)));
}

void execSqlWithTextBytes(const QString &dbPath, const QString &sql, const QByteArray &bytes)
{
    sqlite3 *db = openDb(dbPath, SQLITE_OPEN_READWRITE);
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        qFatal("SQL failed: %s\n%s", sqlite3_errmsg(db), qPrintable(sql));
    sqlite3_bind_text(stmt, 1, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        qFatal("SQL failed: %s\n%s", sqlite3_errmsg(db), qPrintable(sql));
    sqlite3_close(db);
}

QStringList querySql(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = openDb(dbPath, SQLITE_OPEN_READONLY);
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        qFatal("query failed: %s", sqlite3_errmsg(db));
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const unsigned char *text = sqlite3_column_text(stmt, 0);
        rows << (text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString());
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

TestWorkspace::TestWorkspace(bool withSettingsLibrary, const QString &dbName)
{
    if (!m_dir.isValid())
        qFatal("no temporary folder");
    m_dbPath = QDir(m_dir.path()).filePath(dbName);
    createDatabase(m_dbPath);
    if (withSettingsLibrary
        && !QFile::copy(QDir(buildBinDir()).filePath(QStringLiteral("libQuelmi.so")),
                        QDir(m_dir.path()).filePath(QStringLiteral("libQuelmi.so"))))
        qFatal("cannot copy the settings library");
    writeIni(QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(m_dbPath).toUtf8());
    settings::setExecutableDirForTesting(m_dir.path());
    if (testsOnServer())
        useServer();
}

bool testsOnServer()
{
    return qgetenv("VELTRANA_TEST_ENGINE") == "server";
}

namespace {

// The objects of the program's schemas, their definitions and rights, and
// the database's own settings, as one digest: equal digests, equal structure.
const QString structureDigestSql = QStringLiteral(R"SQL(
WITH ns AS (SELECT oid, nspname FROM pg_namespace WHERE nspname NOT LIKE 'pg\_%' AND nspname <> 'information_schema')
SELECT md5(string_agg(x, E'\n' ORDER BY x)) FROM (
  SELECT 'n ' || nspname || ' ' || coalesce(n.nspacl::text, '') FROM pg_namespace n WHERE n.oid IN (SELECT oid FROM ns)
  UNION ALL SELECT 'c ' || c.oid::regclass::text || ' ' || c.relkind::text || c.relpersistence::text || ' ' || coalesce(c.relacl::text, '')
    FROM pg_class c WHERE c.relnamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 'a ' || c.oid::regclass::text || ' ' || a.attnum || ' ' || a.attname || ' '
      || format_type(a.atttypid, a.atttypmod) || a.attnotnull::text || a.attidentity::text || a.attgenerated::text || ' '
      || coalesce(pg_get_expr(d.adbin, d.adrelid), '')
    FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid
    LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum
    WHERE c.relnamespace IN (SELECT oid FROM ns) AND a.attnum > 0 AND NOT a.attisdropped
  UNION ALL SELECT 'i ' || pg_get_indexdef(i.indexrelid) FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid
    WHERE c.relnamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 'k ' || k.conname || ' ' || k.conrelid::regclass::text || ' ' || pg_get_constraintdef(k.oid)
    FROM pg_constraint k WHERE k.connamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 't ' || pg_get_triggerdef(t.oid) || t.tgenabled::text FROM pg_trigger t WHERE NOT t.tgisinternal
  UNION ALL SELECT 'p ' || p.oid::regprocedure::text || ' ' || md5(coalesce(p.prosrc, ''))
    FROM pg_proc p WHERE p.pronamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 'v ' || c.oid::regclass::text || ' ' || pg_get_viewdef(c.oid)
    FROM pg_class c WHERE c.relkind IN ('v', 'm') AND c.relnamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 'r ' || r.ev_class::regclass::text || ' ' || r.rulename FROM pg_rewrite r
    JOIN pg_class c ON c.oid = r.ev_class WHERE r.rulename <> '_RETURN' AND c.relnamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 'y ' || t.oid::regtype::text FROM pg_type t WHERE t.typnamespace IN (SELECT oid FROM ns)
  UNION ALL SELECT 's ' || coalesce(s.setconfig::text, '') FROM pg_db_role_setting s
    WHERE s.setdatabase = (SELECT oid FROM pg_database WHERE datname = current_database())
  UNION ALL SELECT 'd ' || datconnlimit || datallowconn || coalesce(datacl::text, '')
    FROM pg_database WHERE datname = current_database()
  UNION ALL SELECT 'e ' || extname FROM pg_extension
  UNION ALL SELECT 'l ' || count(*) FROM pg_largeobject_metadata
  UNION ALL SELECT 'w ' || count(*) FROM pg_event_trigger
) f(x)
)SQL");

const QString userTablesSql = QStringLiteral(
    "SELECT c.oid::regclass::text FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE c.relkind IN ('r', 'p') AND n.nspname NOT LIKE 'pg\\_%' AND n.nspname <> 'information_schema' "
    "ORDER BY 1");

// A copy of a database costs the server more than a second under load, so
// a test program keeps one database made from the program's template and
// brings it back to the template's state after each test: its rows and its
// sequences, when its structure is still the template's. A database whose
// structure a test changed is dropped, and the next test gets a new copy.
class ServerDatabases
{
public:
    static ServerDatabases &instance()
    {
        static ServerDatabases databases;
        return databases;
    }

    std::unique_ptr<ServerDatabase> take()
    {
        if (!m_spare.isEmpty())
            return std::make_unique<ServerDatabase>(ServerDatabase::Existing{std::exchange(m_spare, QString())});
        return std::make_unique<ServerDatabase>(m_template);
    }

    void giveBack(std::unique_ptr<ServerDatabase> database)
    {
        if (m_spare.isEmpty() && reset(database->address()))
            m_spare = database->release();
    }

    ~ServerDatabases()
    {
        // The run's server goes on serving other programs: this one's
        // databases go when it ends (a server of its own goes whole).
        if (!TestServer::instance().shared())
            return;
        for (const QString &name : {m_spare, m_template})
            if (!name.isEmpty())
                TestServer::instance().dropDatabase(name);
    }

private:
    ServerDatabases()
    {
        try {
            makeTemplate();
        } catch (const dravon::Error &e) {
            qFatal("the test server's template database: %s", qPrintable(e.text()));
        }
    }

    void makeTemplate()
    {
        m_template = TestServer::instance().createDatabase();
        dravon::pg::Session session(TestServer::instance().address(m_template));
        dravon::pg::prepareServerSchema(session);
        m_digest = session.exec(structureDigestSql).text(0, 0);
        // The template's rows and sequences as statements that put them back.
        const dravon::pg::Result tables = session.exec(userTablesSql);
        for (int i = 0; i < tables.rows(); ++i) {
            const QString table = tables.text(i, 0);
            const dravon::pg::Result rows = session.exec(QStringLiteral("SELECT json_agg(t)::text FROM %1 t").arg(table));
            if (!rows.isNull(0, 0))
                m_restore += session.exec(QStringLiteral("SELECT format('INSERT INTO %1 OVERRIDING SYSTEM VALUE "
                                                         "SELECT * FROM json_populate_recordset(NULL::%1, %L);', $1::text)")
                                              .arg(table),
                                          {rows.text(0, 0)})
                                 .text(0, 0);
        }
        const dravon::pg::Result sequences = session.exec(QStringLiteral(
            "SELECT format('SELECT setval(%L, %s, %L);', quote_ident(schemaname) || '.' || quote_ident(sequencename), "
            "coalesce(last_value, start_value), last_value IS NOT NULL) FROM pg_sequences"));
        for (int i = 0; i < sequences.rows(); ++i)
            m_restore += sequences.text(i, 0);
    }

    // Empties the database and puts the template's rows and sequences back;
    // false when the database is gone, or its structure is not the template's.
    bool reset(const dravon::pg::ServerAddress &address) const
    {
        try {
            dravon::pg::Session session(address);
            // Sessions the test left (workers, other programs) end first.
            for (int tries = 0;; ++tries) {
                const int others = session.exec(QStringLiteral(
                    "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                    "WHERE datname = current_database() AND pid <> pg_backend_pid()")).value(0, 0).toInt();
                if (others == 0)
                    break;
                if (tries == 100)
                    return false;
                QThread::msleep(20);
            }
            if (session.exec(structureDigestSql).text(0, 0) != m_digest)
                return false;
            // Without triggers: the change log is not to record the reset.
            session.execScript(QStringLiteral(
                "SET session_replication_role = replica;\n"
                "DO $$ DECLARE t text; filled boolean; tables text := ''; BEGIN\n"
                "  FOR t IN %1 LOOP\n"
                "    EXECUTE format('SELECT EXISTS (SELECT FROM %s)', t) INTO filled;\n"
                "    IF filled THEN tables := tables || ', ' || t; END IF;\n"
                "  END LOOP;\n"
                "  IF tables <> '' THEN EXECUTE 'TRUNCATE ' || substr(tables, 3); END IF;\n"
                "END $$;\n")
                                   .arg(userTablesSql)
                               + m_restore.join(QLatin1Char('\n')));
            return true;
        } catch (const dravon::Error &) {
            return false;
        }
    }

    QString m_template;
    QString m_digest;
    QStringList m_restore;
    QString m_spare;
};

}

void TestWorkspace::useServer()
{
    m_server = ServerDatabases::instance().take();
    dravon::pg::ServerAddress address = m_server->address();
    {
        dravon::pg::Session session(address);
        m_dialect = std::make_unique<dravon::PostgresDialect>(dravon::pg::serverNames(session));
    }
    // The password in a password file of the workspace's own, as an office
    // keeps it; the ini file names the server without it.
    qputenv("PGPASSFILE", QFile::encodeName(QDir(m_dir.path()).filePath(QStringLiteral("pgpass"))));
    StorePassword(address);
    address.password.clear();
    WriteServerAddress(iniPath(), address);
    SetServerWayOfferedForTesting(true);
}

TestWorkspace::~TestWorkspace()
{
    if (m_server) {
        SetServerWayOfferedForTesting(false);
        qunsetenv("PGPASSFILE");
        ServerDatabases::instance().giveBack(std::move(m_server));
    }
    settings::setExecutableDirForTesting(QString());
}

void TestWorkspace::exec(const QString &sql) const
{
    if (m_server) {
        // Rows given their numbers by a test: the server numbers the next
        // rows after them, as the file does.
        m_server->exec(m_dialect->rewrite(sql) + QStringLiteral(";\n") + QStringLiteral(
            "DO $$ DECLARE t text; BEGIN FOR t IN SELECT c.relname FROM pg_class c JOIN pg_attribute a "
            "ON a.attrelid = c.oid AND a.attname = 'Id' AND a.attidentity <> '' "
            "WHERE c.relkind = 'r' AND c.relnamespace = current_schema()::regnamespace LOOP "
            "EXECUTE format('SELECT setval(pg_get_serial_sequence(%L, ''Id''), "
            "coalesce((SELECT max(\"Id\") FROM %I), 0) + 1, false)', quote_ident(t), t); END LOOP; END $$"));
    } else
        execSql(m_dbPath, sql);
}

std::optional<dravon::pg::ServerAddress> TestWorkspace::serverAddress() const
{
    if (!m_server)
        return std::nullopt;
    return m_server->address();
}

void TestWorkspace::pointAt(dravon::Connection &connection) const
{
    if (m_server)
        connection.setServerAddress(m_server->address());
    else
        connection.setConnectionString(connectionString());
}

void TestWorkspace::openConnection(dravon::Connection &connection) const
{
    pointAt(connection);
    connection.open();
}

QStringList TestWorkspace::query(const QString &sql) const
{
    return m_server ? m_server->query(m_dialect->rewrite(sql)) : querySql(m_dbPath, sql);
}

QString TestWorkspace::statementForEngine(const QString &sql) const
{
    return m_server ? m_dialect->rewrite(sql) : sql;
}

QString TestWorkspace::iniPath() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("ConfigDB.ini"));
}

void TestWorkspace::writeIni(const QByteArray &content) const
{
    QFile file(iniPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(iniPath()));
}

}
