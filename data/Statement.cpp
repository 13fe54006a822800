#include "data/Statement.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/StoredText.h"

#include <QStringEncoder>
#include <sqlite3.h>

namespace dravon {

[[noreturn]] void failEngine(sqlite3 *db, const QString &what)
{
    const QString text = engineErrorText(db);
    const int code = db ? sqlite3_errcode(db) & 0xff : SQLITE_ERROR;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw Error(lockedText(text));
    throw Error(QStringLiteral("%1: %2").arg(what, text));
}

void Statement::prepare(sqlite3 *db, const QString &sql)
{
    if (m_stmt && m_db == db && m_sql == sql)
        return;
    finalize();
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_stmt, nullptr) != SQLITE_OK || !m_stmt) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        failEngine(db, QStringLiteral("数据库无法执行语句 \"%1\"").arg(sql));
    }
    m_db = db;
    m_sql = sql;
}

void Statement::bind(int index, const QVariant &value)
{
    int rc = SQLITE_OK;
    if (value.isNull() || !value.isValid()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (const QByteArray *stored = foreignBytes(value)) {
        // Compared, or written back, as the bytes it was read with.
        rc = sqlite3_bind_text(m_stmt, index, stored->constData(), int(stored->size()), SQLITE_TRANSIENT);
    } else {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Long:
        case QMetaType::Bool:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case QMetaType::QString: {
            // Encoded into the statement's own buffer: no new array per value.
            const QString &text = *static_cast<const QString *>(value.constData());
            QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            m_utf8.resize(utf8.requiredSpace(text.size()));
            const char *end = utf8.appendToBuffer(m_utf8.data(), text);
            rc = sqlite3_bind_text(m_stmt, index, m_utf8.constData(), int(end - m_utf8.constData()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray utf8 = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        }
    }
    if (rc != SQLITE_OK)
        failEngine(m_db, QStringLiteral("数据库无法执行语句 \"%1\"").arg(m_sql));
}

void Statement::execWrite(Bindings after)
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) {
        sqlite3_reset(m_stmt);
        if (after == Bindings::Clear)
            sqlite3_clear_bindings(m_stmt);
        return;
    }
    sqlite3_reset(m_stmt);
    const QString text = engineErrorText(m_db);
    const int code = rc & 0xff;
    sqlite3_clear_bindings(m_stmt);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw Error(lockedText(text));
    throw WriteRefused{text};
}

bool Statement::isReadOnly() const
{
    return sqlite3_stmt_readonly(m_stmt) != 0;
}

QString Statement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString Statement::declaredType(int column) const
{
    const char *decl = sqlite3_column_decltype(m_stmt, column);
    return decl ? QString::fromUtf8(decl) : QString();
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    sqlite3_reset(m_stmt);
    failEngine(m_db, QStringLiteral("读取记录失败"));
}

QVariant Statement::value(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(m_stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, column));
    case SQLITE_TEXT:
        return storedTextValue(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column)),
                               sqlite3_column_bytes(m_stmt, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, column)),
                                   sqlite3_column_bytes(m_stmt, column)));
    default:
        return {};
    }
}

qint64 Statement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

int Statement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

void Statement::reset()
{
    if (m_stmt) {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
}

void Statement::finalize()
{
    if (m_stmt)
        sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_db = nullptr;
}

}
