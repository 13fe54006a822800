#pragma once
// Rows computed by the program (statistics, summaries) held in memory and
// shown like any other record set: a grid, the export menu and printing read
// them through RecordSet. The set is read-only and its count is known at once.
#include "data/RowSource.h"

namespace dravon {

class MemorySource : public RowSource
{
    Q_OBJECT
public:
    MemorySource(Connection &connection, const QVector<Field> &fields, QVector<Values> rows,
                 QObject *parent = nullptr);

    int count() const override { return int(m_rows.size()); }
    bool countKnown() const override { return true; }
    bool ensure(int row) override { return row >= 0 && row < count(); }
    bool fetchMore() override { return false; }
    int loadLast() override { return count() - 1; }
    Values values(int row) override;

protected:
    void applyCount(const RowCounter::Result &) override {}

private:
    QVector<Values> m_rows;
};

}
