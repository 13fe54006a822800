#include "data/server/ServerSchema.h"

#include "data/server/PgSession.h"

#include <QFile>

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

// Changes from each version to the next, in order: upgrades[v - 1] brings
// version v to v + 1. The server's tables start at version 1. Version 2 is
// the file's change log, which the server does not keep yet: the server's
// tables are unchanged by it, and the number is carried so that both ways
// name the same table shapes; so is version 3, a change of the file's log.
const QStringList upgrades = {QString(), QString()};

QStringList tablesIn(Session &session)
{
    const Result r = session.exec(QStringLiteral(
        "SELECT table_name FROM information_schema.tables WHERE table_schema = current_schema()"));
    QStringList names;
    for (int i = 0; i < r.rows(); ++i)
        names << r.text(i, 0);
    return names;
}

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
    session.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(setupLock));
    const ServerDatabaseState state = inspectServerDatabase(session);
    if (state.kind == ServerDatabaseState::Kind::Empty) {
        session.execScript(serverSchemaSql());
        return;
    }
    if (state.kind == ServerDatabaseState::Kind::Unusable)
        throw SchemaError(state.problem);
    const int version = state.version;
    for (int v = qMax(version, 1); v < currentSchemaVersion; ++v) {
        if (v - 1 >= upgrades.size())
            throw SchemaError(QStringLiteral("服务器上的数据库 %1 的版本 %2 无法升级,没有做任何修改。").arg(where).arg(v));
        if (!upgrades.at(v - 1).isEmpty())
            session.execScript(upgrades.at(v - 1));
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
