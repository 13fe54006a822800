#include "data/SchemaObjects.h"

#include "data/Error.h"

#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <sqlite3.h>

#include <algorithm>

namespace dbschema {

namespace {

struct SchemaObject
{
    QString type;  // table, index, trigger or view
    QString name;
    QStringList tokens;
    QStringList columns;  // of a table
};

using Objects = QHash<QString, SchemaObject>;  // by type and lower-case name

QString kindName(const QString &type)
{
    if (type == QLatin1String("table"))
        return QStringLiteral("表");
    if (type == QLatin1String("index"))
        return QStringLiteral("索引");
    if (type == QLatin1String("trigger"))
        return QStringLiteral("触发器");
    if (type == QLatin1String("view"))
        return QStringLiteral("视图");
    return type;
}

QString textOf(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

// Every row of a statement; throws with the engine's reason.
QList<QStringList> rows(sqlite3 *db, const QByteArray &sql, const QString &parameter = {})
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) != SQLITE_OK)
        throw dravon::Error(QString::fromUtf8(sqlite3_errmsg(db)));
    if (!parameter.isNull()) {
        const QByteArray value = parameter.toUtf8();
        sqlite3_bind_text(stmt, 1, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    QList<QStringList> result;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c)
            row << textOf(stmt, c);
        result << row;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw dravon::Error(QString::fromUtf8(sqlite3_errmsg(db)));
    return result;
}

// The objects a database holds. The indexes the engine makes for a table's
// own constraints follow from the table's definition and are not listed.
Objects objectsOf(sqlite3 *db)
{
    Objects objects;
    const QList<QStringList> listed = rows(db, "SELECT type, name, sql FROM sqlite_master "
                                               "WHERE NOT (type = 'index' AND sql IS NULL)");
    for (const QStringList &row : listed) {
        SchemaObject o{row[0], row[1], sqlTokens(row[2]), {}};
        if (o.type == QLatin1String("table")) {
            for (const QStringList &column : rows(db, "SELECT name FROM pragma_table_xinfo(?)", o.name))
                o.columns << column[0];
        }
        objects.insert(o.type + QLatin1Char(' ') + o.name.toLower(), o);
    }
    return objects;
}

// The objects of a database built from the schema, made once.
const Objects &programObjects()
{
    static const Objects objects = [] {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            throw dravon::Error(QStringLiteral("无法建立内存数据库"));
        }
        char *message = nullptr;
        const QByteArray script = schemaScript();
        const int rc = sqlite3_exec(db, script.constData(), nullptr, nullptr, &message);
        const QString error = message ? QString::fromUtf8(message) : QString();
        sqlite3_free(message);
        if (script.isEmpty() || rc != SQLITE_OK) {
            sqlite3_close(db);
            throw dravon::Error(QStringLiteral("程序自带的数据库结构无法使用: %1").arg(error));
        }
        Objects result = objectsOf(db);
        sqlite3_close(db);
        return result;
    }();
    return objects;
}

QStringList columnsOnlyIn(const QStringList &a, const QStringList &b)
{
    QStringList only;
    for (const QString &c : a)
        if (!b.contains(c, Qt::CaseInsensitive))
            only << c;
    return only;
}

}

QByteArray schemaScript()
{
    QFile file(QStringLiteral(":/dravon/schema.sql"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList differences(sqlite3 *db)
{
    const Objects &program = programObjects();
    const Objects present = objectsOf(db);
    QStringList found, foreign;
    // By name, so the text is the same each time.
    QStringList keys = present.keys();
    std::sort(keys.begin(), keys.end(),
              [&](const QString &a, const QString &b) { return present[a].name.toLower() < present[b].name.toLower(); });
    for (const QString &key : std::as_const(keys)) {
        const SchemaObject &o = present[key];
        const auto own = program.constFind(key);
        if (own == program.constEnd()) {
            foreign << QStringLiteral("含有本系统没有的%1 %2").arg(kindName(o.type), o.name);
            continue;
        }
        if (own->tokens == o.tokens)
            continue;
        if (o.type == QLatin1String("table")) {
            const QStringList extra = columnsOnlyIn(o.columns, own->columns);
            const QStringList missing = columnsOnlyIn(own->columns, o.columns);
            if (!extra.isEmpty())
                found << QStringLiteral("表 %1 多出列 %2").arg(o.name, extra.join(QStringLiteral(", ")));
            if (!missing.isEmpty())
                found << QStringLiteral("表 %1 缺少列 %2").arg(o.name, missing.join(QStringLiteral(", ")));
            if (!extra.isEmpty() || !missing.isEmpty())
                continue;
        }
        found << QStringLiteral("%1 %2 的定义与本系统的不同").arg(kindName(o.type), o.name);
    }
    QStringList missing;
    for (const SchemaObject &o : program)
        if (!present.contains(o.type + QLatin1Char(' ') + o.name.toLower()))
            missing << QStringLiteral("缺少%1 %2").arg(kindName(o.type), o.name);
    missing.sort();
    // What does not belong comes first: it is what a foreign file is known by.
    return foreign + found + missing;
}

QStringList sqlTokens(const QString &sql)
{
    QStringList tokens;
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto quotedUntil = [&](QChar close) {
        // From after the opening quote to the closing one; a doubled closing
        // quote stands for itself.
        QString text;
        while (++i < n) {
            if (sql[i] == close) {
                if (close != QLatin1Char(']') && i + 1 < n && sql[i + 1] == close) {
                    text += close;
                    ++i;
                    continue;
                }
                break;
            }
            text += sql[i];
        }
        ++i;
        return text;
    };
    while (i < n) {
        const QChar c = sql[i];
        if (c.isSpace()) {
            ++i;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            while (i < n && sql[i] != QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == QLatin1Char('\'')) {
            tokens << QLatin1Char('\'') + quotedUntil(c).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
        } else if (c == QLatin1Char('"') || c == QLatin1Char('`')) {
            tokens << quotedUntil(c).toLower();
        } else if (c == QLatin1Char('[')) {
            tokens << quotedUntil(QLatin1Char(']')).toLower();
        } else if (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$') || c.unicode() > 0x7f) {
            const qsizetype start = i;
            while (i < n && (sql[i].isLetterOrNumber() || sql[i] == QLatin1Char('_') || sql[i] == QLatin1Char('$')
                             || sql[i].unicode() > 0x7f) && !sql[i].isSpace())
                ++i;
            tokens << sql.mid(start, i - start).toLower();
        } else {
            tokens << QString(c);
            ++i;
        }
    }
    return tokens;
}

}
