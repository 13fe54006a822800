#include "data/server/ServerResultCopy.h"

#include "data/server/ServerQuerySource.h"
#include "data/server/WorkerSession.h"

#include <sqlite3.h>

#include <QHash>

#include <charconv>

namespace dravon {

namespace {
// Rows sent by the server at once.
constexpr int batchRows = 5000;
constexpr unsigned boolType = 16;

// Numbers as the server writes them, whatever the program's locale.
qint64 integerOf(const char *text, int length)
{
    qint64 value = 0;
    std::from_chars(text, text + length, value);
    return value;
}

double realOf(const char *text, int length)
{
    double value = 0;
    std::from_chars(text, text + length, value);
    return value;
}

}

ServerResultCopy::ServerResultCopy(const pg::ServerAddress &address, const QString &sql, int columns,
                                   const QVector<QByteArray> &shown)
    : ResultCopy(QString(), sql, columns), m_address(address), m_shown(shown)
{
}

QByteArray ServerResultCopy::rowKey(const pg::Result &result, int row)
{
    QByteArray key;
    for (int c = 0; c < result.columns(); ++c) {
        int length = 0;
        const char *value = result.raw(row, c, &length);
        if (!value) {
            key.append('\0');
            continue;
        }
        key.append('\1');
        key.append(reinterpret_cast<const char *>(&length), sizeof length);
        key.append(value, length);
    }
    return key;
}

ServerResultCopy::~ServerResultCopy()
{
    cancel();
    wait();
}

void ServerResultCopy::cancel()
{
    ResultCopy::cancel();
    m_canceller.cancel();
}

QString ServerResultCopy::copyRows(RowWriter &rows)
{
    QString failure;
    try {
        pg::WorkerSession worker(m_address, m_canceller);
        pg::Session &session = worker.session();
        if (!isCancelled()) {
            const QString fetch = QStringLiteral("FETCH %1 FROM veltrana_copy").arg(batchRows);
            // The whole result is read: planned for its end, not for its first rows.
            std::vector<pg::Result> opened = session.pipeline(
                {pg::WorkerSession::snapshotStatement(),
                 QStringLiteral("SET LOCAL cursor_tuple_fraction = 1"),
                 QStringLiteral("DECLARE veltrana_copy NO SCROLL CURSOR FOR ") + sql(), fetch});
            pg::Result batch = std::move(opened.back());
            // How each column goes into the copy: numbers as numbers, so
            // that the copy sorts as the file does; texts and dates as sent.
            QVector<FieldType> types(columns());
            QVector<bool> truth(columns());
            for (int c = 0; c < columns(); ++c) {
                types[c] = fieldTypeOfServerType(batch.columnType(c));
                truth[c] = batch.columnType(c) == boolType;
            }
            // The rows shown keep their numbers 1..n, each the first time a
            // row equal to it comes; the others are numbered after them.
            QHash<QByteArray, QVector<qint64>> places;
            for (int i = 0; i < m_shown.size(); ++i)
                places[m_shown[i]].append(i + 1);
            qint64 awaited = m_shown.size();
            qint64 after = m_shown.size();
            bool more = true;
            while (more && !isCancelled()) {
                // The server makes the next batch while this one is written.
                const bool last = batch.rows() < batchRows;
                if (!last)
                    session.send(fetch);
                for (int r = 0; r < batch.rows(); ++r) {
                    qint64 number = 0;  // after the rows so far
                    if (!m_shown.isEmpty()) {
                        if (awaited > 0) {
                            const auto place = places.find(rowKey(batch, r));
                            if (place != places.end() && !place->isEmpty()) {
                                number = place->takeFirst();
                                --awaited;
                            }
                        }
                        if (number == 0)
                            number = ++after;
                    }
                    // The batch's texts are bound without a copy: it lives
                    // until its last row is stored.
                    const bool added = rows.add(
                        [&](sqlite3_stmt *insert, int first) {
                            for (int c = 0; c < columns(); ++c) {
                                int length = 0;
                                const char *value = batch.raw(r, c, &length);
                                if (!value)
                                    sqlite3_bind_null(insert, first + c);
                                else if (truth[c])
                                    sqlite3_bind_int64(insert, first + c, value[0] == 't' ? 1 : 0);
                                else if (types[c] == FieldType::Integer)
                                    sqlite3_bind_int64(insert, first + c, integerOf(value, length));
                                else if (types[c] == FieldType::Real)
                                    sqlite3_bind_double(insert, first + c, realOf(value, length));
                                else
                                    sqlite3_bind_text(insert, first + c, value, length, SQLITE_STATIC);
                            }
                        },
                        number, batch.rows() - r - 1);
                    if (!added) {
                        more = false;
                        break;
                    }
                }
                if (!last)
                    batch = session.takeResult();
                more = more && !last;
            }
            session.rollbackQuietly();
        }
    } catch (const Error &e) {
        failure = e.text();
    }
    return failure;
}

}
