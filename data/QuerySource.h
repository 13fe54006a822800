#pragma once
// The rows of a read-only statement, read forward by a cursor that stays
// open only while the running event reads on; later reads run the statement
// again and step to the wanted row.
#include "data/RowSource.h"

#include <QCache>

namespace dravon {

class QuerySource : public RowSource
{
    Q_OBJECT
public:
    QuerySource(Connection &connection, const QString &sql, QObject *parent = nullptr);

    int count() const override { return m_count; }
    bool countKnown() const override { return m_countKnown; }
    bool ensure(int row) override;
    bool fetchMore() override;
    int loadLast() override;
    Values values(int row) override;

protected:
    void applyCount(const RowCounter::Result &result) override;
    void statementsReleased() override;

private:
    void readPage(int start, int rows);
    void grow(int newCount, bool final);

    QString m_sql;
    int m_count = 0;
    bool m_countKnown = false;
    qint64 m_cursorPos = -1;  // rows the open cursor has stepped past; -1 when closed
    QCache<int, Values> m_rows;
};

}
