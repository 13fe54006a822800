#include "support/EngineRows.h"

#include <QFile>
#include <QtTest>
#include <sqlite3.h>

namespace testsupport {

namespace {

QString shown(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return QStringLiteral("NULL");
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

}

QStringList fileRows(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, dravon::SqliteDialect().rewrite(sql).toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
        qFatal("%s: %s", sqlite3_errmsg(db), qPrintable(sql));
    QStringList rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            switch (sqlite3_column_type(stmt, c)) {
            case SQLITE_NULL: row << shown(QVariant()); break;
            case SQLITE_INTEGER: row << shown(qlonglong(sqlite3_column_int64(stmt, c))); break;
            case SQLITE_FLOAT: row << shown(sqlite3_column_double(stmt, c)); break;
            default: row << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c)));
            }
        }
        rows << row.join(QLatin1Char('|'));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

QStringList serverRows(dravon::pg::Session &session, const dravon::Dialect &dialect, const QString &sql)
{
    const dravon::pg::Result r = session.exec(dialect.rewrite(sql));
    QStringList rows;
    for (int i = 0; i < r.rows(); ++i) {
        QStringList row;
        for (int c = 0; c < r.columns(); ++c)
            row << shown(r.value(i, c));
        rows << row.join(QLatin1Char('|'));
    }
    return rows;
}

}
