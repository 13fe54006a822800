#include "data/Connection.h"

#include "data/BusyWait.h"
#include "data/Error.h"
#include "data/SchemaUpgrade.h"
#include "data/server/ServerSchema.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <sqlite3.h>

namespace dravon {

namespace {
QAtomicInt connectionCounter;
std::atomic<quint64> userActions{0};
const QString dataSourceKey = QStringLiteral("Data Source=");
const QString persistKey = QStringLiteral(";Persist Security Info=");

// The program's own tables; a file without any of them is not its database
// (an empty file, or another program's SQLite file).
const QStringList programTables = {
    QStringLiteral("TeacherInfo"), QStringLiteral("StudentInfo"), QStringLiteral("GradeInfo"),
    QStringLiteral("ClassInfo"),   QStringLiteral("SubjectInfo"), QStringLiteral("DormInfo"),
    QStringLiteral("User"),        QStringLiteral("Score"),       QStringLiteral("Practice"),
    QStringLiteral("Moral"),       QStringLiteral("Price"),       QStringLiteral("Dorm"),
    QStringLiteral("Course")};

// Empty when every program table is there, else the missing names or the
// engine's error.
QString missingTables(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return q.lastError().text();
    QStringList present;
    while (q.next())
        present << q.value(0).toString().toLower();
    QStringList missing;
    for (const QString &table : programTables) {
        if (!present.contains(table.toLower()))
            missing << table;
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("不是本程序的数据库(缺少数据表 %1)").arg(missing.join(QStringLiteral(", ")));
}
}

QString dataSourceOf(const QString &connectionString)
{
    const int start = connectionString.indexOf(dataSourceKey, 0, Qt::CaseInsensitive);
    if (start < 0)
        return {};
    const int from = start + dataSourceKey.size();
    int end = connectionString.lastIndexOf(persistKey, -1, Qt::CaseInsensitive);
    if (end < from)
        end = connectionString.indexOf(QLatin1Char(';'), from);
    return end < 0 ? connectionString.mid(from) : connectionString.mid(from, end - from);
}

QString engineErrorText(sqlite3 *db, const QString &text)
{
    // The engine compares the open file with what its path names now.
    int moved = 0;
    if (!db || sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) != SQLITE_OK || !moved)
        return text;
    const QString path = QString::fromUtf8(sqlite3_db_filename(db, "main"));
    if (QFileInfo::exists(path))
        return QStringLiteral("数据库文件 %1 在程序运行时被另一个文件替换了,修改没有保存。请重新启动程序。").arg(path);
    return QStringLiteral("数据库文件 %1 在程序运行时被删除或移走了,修改没有保存。请恢复该文件后重新启动程序。")
        .arg(path);
}

QString engineErrorText(sqlite3 *db)
{
    return engineErrorText(db, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("数据库没有连接。"));
}

QString engineErrorText(const QSqlQuery &query)
{
    const QSqlError e = query.lastError();
    const QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    const QSqlDriver *driver = query.driver();
    if (!driver)
        return text;
    const QVariant handle = driver->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return text;
    return engineErrorText(*static_cast<sqlite3 *const *>(handle.data()), text);
}

Connection::Connection()
    : m_name(QStringLiteral("dravon-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
}

Connection::~Connection()
{
    close();
}

void Connection::setConnectionString(const QString &text)
{
    m_connectionString = text;
    m_server.reset();
}

void Connection::setServerAddress(const pg::ServerAddress &address)
{
    m_server = address;
}

const Dialect &Connection::dialect() const
{
    if (!isServer())
        return m_sqlite;
    if (!m_postgres)
        throw Error(QStringLiteral("数据库没有连接。"));
    return *m_postgres;
}

pg::Session &Connection::session() const
{
    if (!m_session)
        throw Error(QStringLiteral("数据库没有连接。"));
    // A lost connection was reported by the statement that found it; the
    // next statement connects again (the same session object, so callers
    // holding it go on), or says the server is still away.
    if (!m_session->isOk()) {
        // Once per action: an unreachable host makes each try wait for the
        // connection timeout.
        if (m_reconnectFailure && m_failedInAction == userActions.load())
            throw *m_reconnectFailure;
        try {
            m_session->reconnect();
            m_reconnectFailure.reset();
        } catch (const pg::ServerError &e) {
            m_reconnectFailure = pg::ServerError(QStringLiteral("与数据库服务器的连接中断了,现在还连不上,这次的操作没有完成。"
                                                                "请等服务器恢复后再试。\n%1")
                                                     .arg(e.text()),
                                                 e.sqlState());
            m_failedInAction = userActions.load();
            throw *m_reconnectFailure;
        }
    }
    return *m_session;
}

QString Connection::rewrite(const QString &sql)
{
    if (isServer() && m_postgres && !m_postgres->unknownTables(sql).isEmpty())
        readServerNames();
    return dialect().rewrite(sql);
}

void Connection::readServerNames()
{
    pg::Session &server = session();
    m_postgres->setNames(pg::serverNames(server));
    m_catalog = pg::ServerCatalog::read(server);
}

QString Connection::serverTableNamed(const QString &name)
{
    if (m_catalog) {
        const QString table = m_catalog->tableNamed(name);
        if (!table.isEmpty())
            return table;
    }
    // A table made since the catalog was read (or none read yet).
    readServerNames();
    return m_catalog->tableNamed(name);
}

const QVector<pg::CatalogColumn> &Connection::serverColumnsOf(const QString &table)
{
    if (!m_catalog || !m_catalog->columnsOf(table))
        readServerNames();
    if (const QVector<pg::CatalogColumn> *columns = m_catalog->columnsOf(table))
        return *columns;
    throw Error(QStringLiteral("数据库中没有表 %1。").arg(table));
}

void Connection::noteUserAction()
{
    ++userActions;
}

void Connection::openServer()
{
    // The clerk's writes wait for another session's lock about as long as on
    // the file, then fail with the file's lock message (the typed values kept).
    auto session = std::make_unique<pg::Session>(*m_server, pg::Access::ReadWrite, pg::LockWait::Limited);
    pg::prepareServerSchema(*session);
    m_postgres = std::make_unique<PostgresDialect>(pg::serverNames(*session));
    m_catalog = pg::ServerCatalog::read(*session);
    m_session = std::move(session);
}

QString Connection::databasePath() const
{
    return dataSourceOf(m_connectionString);
}

void Connection::open()
{
    close();
    if (isServer()) {
        openServer();
        return;
    }
    const QString path = databasePath();
    if (path.isEmpty())
        throw Error(QStringLiteral("没有指定数据库文件。"));
    const QFileInfo info(path);
    if (!info.exists())
        throw Error(QStringLiteral("数据库文件不存在: %1").arg(path));
    if (!info.isFile())
        throw Error(QStringLiteral("不是数据库文件: %1").arg(path));

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        // mode=rw: SQLite must not create a missing file behind our back.
        const QString uri = QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded)
                            + QStringLiteral("?mode=rw");
        db.setDatabaseName(uri);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
        QString failure;
        if (!db.open()) {
            failure = db.lastError().text();
        } else {
            installBusyWait(static_cast<sqlite3 *>(nativeHandle()), 1000);
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                failure = probe.lastError().text();
            else if (sqlite3_db_readonly(static_cast<sqlite3 *>(nativeHandle()), "main") != 0)
                failure = QStringLiteral("只能以只读方式打开");
            else
                failure = missingTables(db);
        }
        if (!failure.isEmpty()) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            throw Error(QStringLiteral("无法打开数据库 %1: %2").arg(path, failure));
        }
    }
    // A file of an earlier version gets the current table shapes first.
    try {
        upgradeSchema(nativeHandle(), info.absoluteFilePath());
    } catch (...) {
        close();
        throw;
    }
}

void Connection::close()
{
    m_session.reset();
    m_reconnectFailure.reset();
    m_postgres.reset();
    m_catalog.reset();
    if (!QSqlDatabase::contains(m_name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

bool Connection::isOpen() const
{
    if (isServer())
        return m_session && m_session->isOk();
    return QSqlDatabase::contains(m_name) && QSqlDatabase::database(m_name, false).isOpen();
}

QSqlDatabase Connection::database() const
{
    if (!isOpen())
        throw Error(QStringLiteral("数据库没有连接。"));
    return QSqlDatabase::database(m_name, false);
}

void *Connection::nativeHandle() const
{
    if (!QSqlDatabase::contains(m_name))
        return nullptr;
    const QVariant handle = QSqlDatabase::database(m_name, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.data());
}

}
