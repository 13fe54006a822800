#include "data/server/ServerSchema.h"

#include "data/server/PgSession.h"

#include <QFile>
#include <QMap>

namespace dravon::pg {

namespace {

const QStringList programTables = {
    QStringLiteral("TeacherInfo"), QStringLiteral("StudentInfo"), QStringLiteral("GradeInfo"),
    QStringLiteral("ClassInfo"),   QStringLiteral("SubjectInfo"), QStringLiteral("DormInfo"),
    QStringLiteral("User"),        QStringLiteral("Score"),       QStringLiteral("Practice"),
    QStringLiteral("Moral"),       QStringLiteral("Price"),       QStringLiteral("Dorm"),
    QStringLiteral("Course")};

const QString versionTable = QStringLiteral("SchemaVersion");

// Serialises the setup of programs that connect to one empty database at once.
constexpr qint64 setupLock = 0x56656c7472616e61;  // "Veltrana"

// The part of the schema that version 5 adds: the change log.
QString changeLogSection()
{
    const QString schema = serverSchemaSql();
    const qsizetype from = schema.indexOf(QStringLiteral("-- Version 5:"));
    const qsizetype to = schema.indexOf(QStringLiteral("-- End of version 5."));
    if (from < 0 || to < from)
        throw Error(QStringLiteral("程序的服务器数据库结构说明 (schema.sql) 缺少版本 5 的部分"));
    return schema.mid(from, to - from);
}

// Changes from each version to the next, in order: upgrades[v - 1] brings
// version v to v + 1. The server's tables start at version 1. Versions 2
// to 4 are changes of the file's change log, which the server did not keep
// then: its tables are unchanged by them, and the numbers are carried so that
// both ways name the same table shapes. Version 5 gives the server its
// change log (the file's tables are unchanged by it).
QStringList upgrades()
{
    return {QString(), QString(), QString(), changeLogSection()};
}

QStringList tablesIn(Session &session)
{
    const Result r = session.exec(QStringLiteral(
        "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()"));
    QStringList names;
    for (int i = 0; i < r.rows(); ++i)
        names << r.text(i, 0);
    return names;
}

// What the server says of each object of one schema: its kind and name as
// the clerk reads it ("列 Score.Remark"), and its definition with the
// schema's own name taken out, so that two schemas compare.
QMap<QString, QString> describeSchema(Session &session, const QString &schema)
{
    static const QList<QPair<QString, QString>> parts = {
        {QStringLiteral("表"),
         QStringLiteral("SELECT c.relname, c.relkind::text FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                        "WHERE n.nspname = $1 AND c.relkind IN ('r', 'v', 'm', 'p', 'f')")},
        {QStringLiteral("列"),
         QStringLiteral("SELECT c.relname || '.' || a.attname, "
                        "concat_ws(' ', row_number() OVER (PARTITION BY c.oid ORDER BY a.attnum), "
                        "format_type(a.atttypid, a.atttypmod), a.attnotnull, a.attidentity, "
                        "co.collname, pg_get_expr(d.adbin, d.adrelid)) "
                        "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
                        "JOIN pg_namespace n ON n.oid = c.relnamespace "
                        "LEFT JOIN pg_collation co ON co.oid = a.attcollation "
                        "LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                        "WHERE n.nspname = $1 AND c.relkind IN ('r', 'v', 'm', 'p', 'f') "
                        "AND a.attnum > 0 AND NOT a.attisdropped")},
        {QStringLiteral("约束"),
         QStringLiteral("SELECT c.relname || '.' || k.conname, pg_get_constraintdef(k.oid) FROM pg_constraint k "
                        "JOIN pg_class c ON c.oid = k.conrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
                        "WHERE n.nspname = $1")},
        {QStringLiteral("索引"),
         QStringLiteral("SELECT i.relname, pg_get_indexdef(i.oid) FROM pg_index x "
                        "JOIN pg_class i ON i.oid = x.indexrelid JOIN pg_namespace n ON n.oid = i.relnamespace "
                        "WHERE n.nspname = $1")},
        {QStringLiteral("触发器"),
         QStringLiteral("SELECT c.relname || '.' || t.tgname, pg_get_triggerdef(t.oid) FROM pg_trigger t "
                        "JOIN pg_class c ON c.oid = t.tgrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
                        "WHERE n.nspname = $1 AND NOT t.tgisinternal")},
        {QStringLiteral("函数"),
         QStringLiteral("SELECT p.proname || '(' || pg_get_function_identity_arguments(p.oid) || ')', "
                        "pg_get_function_result(p.oid) || CASE WHEN EXISTS (SELECT 1 FROM pg_aggregate g "
                        "WHERE g.aggfnoid = p.oid) THEN ' aggregate' ELSE '' END "
                        "FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace WHERE n.nspname = $1")},
    };
    const QString plainPrefix = schema + QLatin1Char('.');
    const QString quotedPrefix = QLatin1Char('"') + schema + QStringLiteral("\".");
    QMap<QString, QString> objects;
    for (const auto &[kind, sql] : parts) {
        const Result r = session.exec(sql, {schema});
        for (int i = 0; i < r.rows(); ++i)
            objects.insert(kind + QLatin1Char(' ') + r.text(i, 0),
                           r.text(i, 1).remove(quotedPrefix).remove(plainPrefix));
    }
    return objects;
}

}

QStringList serverSchemaDifferences(Session &session)
{
    const QString own = session.exec(QStringLiteral("SELECT current_schema()")).text(0, 0);
    const QMap<QString, QString> actual = describeSchema(session, own);
    // The program's schema, made where nothing else is and never committed.
    const QString reference = QStringLiteral("veltrana_reference");
    QMap<QString, QString> expected;
    session.exec(QStringLiteral("BEGIN"));
    try {
        session.exec(QStringLiteral("CREATE SCHEMA %1").arg(reference));
        session.exec(QStringLiteral("SET LOCAL search_path TO %1").arg(reference));
        session.execScript(serverSchemaSql());
        expected = describeSchema(session, reference);
    } catch (...) {
        session.rollbackQuietly();
        throw;
    }
    session.rollbackQuietly();

    QStringList differences;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            differences << QStringLiteral("缺少") + it.key();
        else if (actual.value(it.key()) != it.value())
            differences << it.key() + QStringLiteral(" 不同");
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it)
        if (!expected.contains(it.key()))
            differences << QStringLiteral("多出") + it.key();
    return differences;
}

QString serverSchemaSql()
{
    QFile file(QStringLiteral(":/dravon/server/schema.sql"));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("程序缺少服务器数据库的表结构 (schema.sql)。"));
    return QString::fromUtf8(file.readAll());
}

int serverSchemaVersion(Session &session)
{
    const QStringList tables = tablesIn(session);
    if (!tables.contains(versionTable))
        return 0;
    return session.exec(QStringLiteral("SELECT max(\"Version\") FROM \"SchemaVersion\"")).value(0, 0).toInt();
}

const QStringList &programTableNames()
{
    return programTables;
}

ServerDatabaseState inspectServerDatabase(Session &session)
{
    const QString where = session.address().display();
    const QStringList tables = tablesIn(session);
    ServerDatabaseState state;
    if (tables.isEmpty())
        return state;
    QStringList missing;
    for (const QString &t : programTables) {
        if (!tables.contains(t))
            missing << t;
    }
    state.kind = ServerDatabaseState::Kind::Unusable;
    if (!tables.contains(versionTable) || !missing.isEmpty()) {
        state.problem = QStringLiteral("服务器上的数据库 %1 不是本程序的数据库(%2),没有做任何修改。"
                                       "请使用一个空数据库。")
                            .arg(where, missing.isEmpty() ? QStringLiteral("没有版本表")
                                                          : QStringLiteral("缺少数据表 ") + missing.join(QStringLiteral(", ")));
        return state;
    }
    state.version = serverSchemaVersion(session);
    if (state.version > currentSchemaVersion) {
        state.problem = QStringLiteral("服务器上的数据库 %1 是较新版本的程序建立的(版本 %2,本程序为版本 %3),"
                                       "本程序不能使用它,没有做任何修改。")
                            .arg(where)
                            .arg(state.version)
                            .arg(currentSchemaVersion);
        return state;
    }
    state.kind = ServerDatabaseState::Kind::Program;
    return state;
}

void prepareServerSchema(Session &session)
{
    session.transaction([&] { prepareServerSchemaWithin(session); });
}

void prepareServerSchemaWithin(Session &session)
{
    const QString where = session.address().display();
    // A program that starts while another sets up or upgrades the database
    // waits for the finished database (a copy of a large file may take
    // minutes), however its session limits lock waits otherwise.
    session.exec(QStringLiteral("SET LOCAL lock_timeout = 0"));
    session.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(setupLock));
    const ServerDatabaseState state = inspectServerDatabase(session);
    if (state.kind == ServerDatabaseState::Kind::Empty) {
        session.execScript(serverSchemaSql());
        return;
    }
    if (state.kind == ServerDatabaseState::Kind::Unusable)
        throw SchemaError(state.problem);
    const int version = state.version;
    const QStringList steps = version < currentSchemaVersion ? upgrades() : QStringList();
    for (int v = qMax(version, 1); v < currentSchemaVersion; ++v) {
        if (v - 1 >= steps.size())
            throw SchemaError(QStringLiteral("服务器上的数据库 %1 的版本 %2 无法升级,没有做任何修改。").arg(where).arg(v));
        if (!steps.at(v - 1).isEmpty())
            session.execScript(steps.at(v - 1));
    }
    if (version < currentSchemaVersion)
        session.exec(QStringLiteral("UPDATE \"SchemaVersion\" SET \"Version\" = $1"), {currentSchemaVersion});
}

QStringList serverNames(Session &session)
{
    const Result r = session.exec(QStringLiteral(
        "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema() "
        "UNION ALL SELECT column_name FROM information_schema.columns WHERE table_schema = current_schema()"));
    QStringList names;
    for (int i = 0; i < r.rows(); ++i)
        names << r.text(i, 0);
    return names;
}

}
