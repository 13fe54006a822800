#pragma once
// A table's rows on a PostgreSQL server, in the order of the row key "Id"
// (the stand-in for the file's row key, never reused). Reads are keyset
// pages by "Id" through the connection's libpq session, so nothing stays
// open between events; the rows' places are the position map's business, as
// for a file (PositionMap.h). A store or delete changes exactly the row that
// was read and only while every column is as it was read, so a second clerk's
// Save of a row changed meanwhile is refused and nothing is lost.
#include "data/PositionMap.h"
#include "data/RowSource.h"

#include <QCache>

namespace dravon {

namespace pg {
class Session;
class Result;
}

// The name of the server's table that name means (any case); empty when
// the database has no such table.
QString serverTableNamed(Connection &connection, const QString &name);

class ServerTableSource : public RowSource, private KeyReader
{
    Q_OBJECT
public:
    // table: the name as the server's schema writes it; condition: the WHERE
    // condition in the program's SQL (rewritten by the connection's dialect).
    ServerTableSource(Connection &connection, const QString &table, const QString &condition,
                      QObject *parent = nullptr);

    QString tableName() const override { return m_table; }
    int count() const override { return m_map.count(); }
    bool countKnown() const override { return m_map.countKnown(); }
    bool ensure(int row) override;
    bool fetchMore() override;
    int loadLast() override;
    Values values(int row) override;
    void learnAfter(int row) override;
    void learnBefore(int row) override;
    void settle(int row) override;

    void insertRow(int row, const Values &values) override;
    void updateRow(int row, const Values &read, const Values &values, const QVector<bool> &changed) override;
    void deleteRows(const QVector<int> &rows, const QVector<Values> &read) override;
    Values reread(int row, const Values &read) override;
    void forget(int row) override;
    void forgetValues() override
    {
        forgetMemo();
        m_values.clear();
    }

    std::optional<QVariant> lookup(int keyField, const QString &key, int resultField) override;
    std::optional<int> find(int field, const QString &text, bool prefix) override;
    qint64 keyOfRow(int row) override { return row >= 0 && row < count() ? m_map.keyAt(row) : -1; }
    std::optional<int> rowOfKey(qint64 key) override { return positionOfKey(key); }
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;

protected:
    void applyCount(const RowCounter::Result &) override {}

private:
    QVector<qint64> keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending) override;
    pg::Result run(const QString &sql, const QVector<QVariant> &params);
    // Runs a write; the server's refusal becomes WriteRefused.
    pg::Result write(const QString &sql, const QVector<QVariant> &params);
    QString where(const QString &keyCondition) const;
    QString localKeyList() const;
    QVector<qint64> takeRows(const pg::Result &result);
    void readFront(int wanted);
    void fetchAround(int row);
    bool readOne(qint64 key);
    std::optional<int> positionOfKey(qint64 key);
    // The text as a value of the field's type; none when it cannot be one
    // (the server would refuse to compare it with the column).
    std::optional<QVariant> comparable(int field, const QString &text) const;

    QString m_table;
    QString m_quotedTable;
    QString m_condition;  // rewritten for the server; empty for none
    QString m_columns;    // "Id", then the fields, quoted
    PositionMap m_map;
    QCache<qint64, Values> m_values;
};

}
