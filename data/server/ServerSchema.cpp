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
// version v to v + 1. The server's tables start at version 1.
const QStringList upgrades = {};

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

void prepareServerSchema(Session &session)
{
    const QString where = session.address().display();
    session.transaction([&] {
        session.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(setupLock));
        const QStringList tables = tablesIn(session);
        if (tables.isEmpty()) {
            session.execScript(serverSchemaSql());
            return;
        }
        QStringList missing;
        for (const QString &t : programTables) {
            if (!tables.contains(t))
                missing << t;
        }
        if (!tables.contains(versionTable) || !missing.isEmpty())
            throw SchemaError(QStringLiteral("服务器上的数据库 %1 不是本程序的数据库(%2),没有做任何修改。"
                                             "请使用一个空数据库。")
                                  .arg(where, missing.isEmpty() ? QStringLiteral("没有版本表")
                                                                : QStringLiteral("缺少数据表 ") + missing.join(QStringLiteral(", "))));
        const int version = serverSchemaVersion(session);
        if (version > currentSchemaVersion)
            throw SchemaError(QStringLiteral("服务器上的数据库 %1 是较新版本的程序建立的(版本 %2,本程序为版本 %3),"
                                             "本程序不能使用它,没有做任何修改。")
                                  .arg(where)
                                  .arg(version)
                                  .arg(currentSchemaVersion));
        for (int v = qMax(version, 1); v < currentSchemaVersion; ++v) {
            if (v - 1 >= upgrades.size())
                throw SchemaError(QStringLiteral("服务器上的数据库 %1 的版本 %2 无法升级,没有做任何修改。").arg(where).arg(v));
            session.execScript(upgrades.at(v - 1));
        }
        if (version < currentSchemaVersion)
            session.exec(QStringLiteral("UPDATE \"SchemaVersion\" SET \"Version\" = $1"), {currentSchemaVersion});
    });
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
