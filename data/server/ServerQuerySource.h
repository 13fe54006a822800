#pragma once
// The rows of a read-only statement on a PostgreSQL server. The server runs
// the statement (rewritten by the connection's dialect) once and sends its
// whole result; the rows are kept here, so the count is known at once and
// nothing stays open on the server between events.
#include "data/RowSource.h"

namespace dravon {

class ServerQuerySource : public RowSource
{
    Q_OBJECT
public:
    // sql: in the program's own SQL. Throws dravon::Error when the server
    // refuses it.
    ServerQuerySource(Connection &connection, const QString &sql, QObject *parent = nullptr);

    int count() const override { return int(m_order.size()); }
    bool countKnown() const override { return true; }
    bool ensure(int row) override { return row >= 0 && row < count(); }
    bool fetchMore() override { return false; }
    int loadLast() override { return count() - 1; }
    Values values(int row) override;
    // In memory, equal values in their order as read; empty values first.
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;

protected:
    void applyCount(const RowCounter::Result &) override {}

private:
    QVector<Values> m_rows;  // as the server sent them
    QVector<int> m_order;    // row numbers by position
};

// How a value of one of the server's types shows (the server's type number).
FieldType fieldTypeOfServerType(unsigned type);

}
