#pragma once
// The program's statements are written once, in the SQL the windows quote
// ("Select * From [User]", "Like", "#2009-1-13#", "?1" parameters, SQLite's
// functions). A dialect rewrites such a text for one engine; it runs no SQL,
// so each rewriting is tested as data.
//
// SQLite takes the statements nearly as written: only date literals between
// "#" signs become ISO text literals.
//
// PostgreSQL differs in what follows, and the dialect bridges it:
// - names: "[User]" and `User` become "User"; a bare or quoted name that is
//   one of the database's tables or columns is written quoted in the case
//   the schema gives it (PostgreSQL folds bare names to lower case and
//   compares quoted ones exactly; SQLite ignores case);
// - "Like" is case-insensitive for ASCII letters in SQLite and has no escape
//   character: it becomes ILIKE, with ESCAPE '' after a pattern that has no
//   escape clause of its own (the columns compare in the "C" collation, whose
//   ILIKE folds only ASCII letters, as SQLite does);
// - "GLOB '<pattern>'" becomes a regular-expression match "~ '<regex>'";
// - "rowid" becomes the row key column "Id" that every server table has;
// - "?1"/"?" parameters become "$1"/"$n";
// - ifnull -> coalesce, typeof -> the type names SQLite reports,
//   group_concat -> string_agg, instr -> strpos, date/datetime of 'now' ->
//   the server's clock as ISO text, REAL -> double precision (PostgreSQL's
//   REAL is single precision), INTEGER -> bigint, "==" -> "=";
// - "INSERT OR IGNORE" becomes "INSERT ... ON CONFLICT DO NOTHING".
// total() is left as it is: the server schema defines it (SQLite's sum that
// is 0.0 over no rows and also adds up comparisons).
// What cannot be rewritten faithfully (a GLOB with a pattern that is not a
// literal, INSERT OR REPLACE) throws dravon::Error naming the statement.
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

namespace dravon {

enum class Engine { Sqlite, Postgres };

class Dialect
{
public:
    virtual ~Dialect() = default;
    virtual Engine engine() const = 0;
    // The statement as this engine runs it. Throws dravon::Error for a date
    // literal it cannot read or a construct it cannot rewrite.
    virtual QString rewrite(const QString &sql) const = 0;
    // A name written for this engine, quoted ("User" -> "\"User\"").
    virtual QString quoteName(const QString &name) const;
};

class SqliteDialect final : public Dialect
{
public:
    Engine engine() const override { return Engine::Sqlite; }
    QString rewrite(const QString &sql) const override;
};

class PostgresDialect final : public Dialect
{
public:
    // names: the database's table and column names as the schema writes
    // them; a name in a statement that matches one of them regardless of
    // case is written quoted in that case.
    explicit PostgresDialect(const QStringList &names);
    Engine engine() const override { return Engine::Postgres; }
    QString rewrite(const QString &sql) const override;
    QString quoteName(const QString &name) const override;
    // The names a statement reads or writes tables by (after FROM, JOIN,
    // INTO, UPDATE) that are none of the database's names, other than those
    // the statement gives its own parts ("WITH part AS (...)").
    QStringList unknownTables(const QString &sql) const;
    // The database's names as they are now, for a table made after they were read.
    void setNames(const QStringList &names);

private:
    QHash<QString, QString> m_names;  // lower case -> as in the schema
};

// The table and column names that "CREATE TABLE" statements of a schema text
// declare, in their order (a name once).
QStringList namesDeclaredIn(const QString &schemaSql);

}
