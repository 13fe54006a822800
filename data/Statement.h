#pragma once
// A prepared engine statement on a raw connection handle (the same
// libsqlite3 that Qt's driver links), and the one way engine failures become
// dravon::Error texts.
#include <QByteArray>
#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace dravon {

// The database refused a write; the engine's text.
struct WriteRefused
{
    QString engineText;
};

// A prepared statement, reset after use and finalized when its owner releases
// statements at the end of the running event.
class Statement
{
public:
    Statement() = default;
    ~Statement() { finalize(); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Prepares sql on db unless already prepared there; throws dravon::Error.
    void prepare(sqlite3 *db, const QString &sql);
    bool isPrepared() const { return m_stmt != nullptr; }
    void bind(int index, const QVariant &value);  // 1-based
    // Steps once: true for a row, false at the end; throws on failure.
    bool step();
    // After a write the bound values are let go, unless the caller binds
    // every value again before the next run: then kept, their memory is reused.
    enum class Bindings { Clear, Keep };
    // Runs a write; throws WriteRefused with the engine's text when refused.
    void execWrite(Bindings after = Bindings::Clear);
    bool isReadOnly() const;
    QString columnName(int column) const;
    QString declaredType(int column) const;
    QVariant value(int column) const;
    qint64 int64(int column) const;
    int columnCount() const;
    void reset();
    void finalize();
    QString sql() const { return m_sql; }
    sqlite3_stmt *handle() const { return m_stmt; }

private:
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    QString m_sql;
    QByteArray m_utf8;  // a text value's bytes while it is bound (the engine copies them)
};

// Throws dravon::Error with the engine's message for a failed call; a busy
// or locked file gets the text that asks to try again later.
[[noreturn]] void failEngine(sqlite3 *db, const QString &what);

}
