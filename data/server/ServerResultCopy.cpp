#include "data/server/ServerResultCopy.h"

#include "data/server/ServerQuerySource.h"

#include <sqlite3.h>

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

ServerResultCopy::ServerResultCopy(const pg::ServerAddress &address, const QString &sql, int columns)
    : ResultCopy(QString(), sql, columns), m_address(address)
{
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

QString ServerResultCopy::copyRows(const AddRow &add)
{
    std::unique_ptr<pg::Session> connection;
    QString failure;
    try {
        connection = std::make_unique<pg::Session>(m_address);
        pg::Session &session = *connection;
        m_canceller.attach(session);
        if (!isCancelled()) {
            const QString fetch = QStringLiteral("FETCH %1 FROM veltrana_copy").arg(batchRows);
            // The whole result is read: planned for its end, not for its first rows.
            std::vector<pg::Result> opened = session.pipeline(
                {QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"),
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
            bool more = true;
            while (more && !isCancelled()) {
                // The server makes the next batch while this one is written.
                const bool last = batch.rows() < batchRows;
                if (!last)
                    session.send(fetch);
                for (int r = 0; r < batch.rows(); ++r) {
                    const bool added = add([&](sqlite3_stmt *insert) {
                        for (int c = 0; c < columns(); ++c) {
                            int length = 0;
                            const char *value = batch.raw(r, c, &length);
                            if (!value)
                                sqlite3_bind_null(insert, c + 1);
                            else if (truth[c])
                                sqlite3_bind_int64(insert, c + 1, value[0] == 't' ? 1 : 0);
                            else if (types[c] == FieldType::Integer)
                                sqlite3_bind_int64(insert, c + 1, integerOf(value, length));
                            else if (types[c] == FieldType::Real)
                                sqlite3_bind_double(insert, c + 1, realOf(value, length));
                            else
                                sqlite3_bind_text(insert, c + 1, value, length, SQLITE_STATIC);
                        }
                    });
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
    m_canceller.detach();
    return failure;
}

}
