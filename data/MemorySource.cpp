#include "data/MemorySource.h"

namespace dravon {

MemorySource::MemorySource(Connection &connection, const QVector<Field> &fields, QVector<Values> rows,
                           QObject *parent)
    : RowSource(connection, parent), m_rows(std::move(rows))
{
    m_fields = fields;
    m_rowsFetched = m_rows.size();
}

Values MemorySource::values(int row)
{
    return row >= 0 && row < count() ? m_rows[row] : Values(m_fields.size());
}

}
