#include "data/server/ServerResultCopy.h"

#include <sqlite3.h>

namespace dravon {

namespace {
// Rows sent by the server at once.
constexpr int batchRows = 5000;
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
            session.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
            // The whole result is read: planned for its end, not for its first rows.
            session.exec(QStringLiteral("SET LOCAL cursor_tuple_fraction = 1"));
            session.exec(QStringLiteral("DECLARE veltrana_copy NO SCROLL CURSOR FOR ") + sql());
            bool more = true;
            while (more && !isCancelled()) {
                const pg::Result batch = session.exec(QStringLiteral("FETCH %1 FROM veltrana_copy").arg(batchRows));
                for (int r = 0; r < batch.rows(); ++r) {
                    const bool added = add([&](sqlite3_stmt *insert) {
                        // Numbers as numbers, so that the copy sorts as the file does.
                        for (int c = 0; c < columns(); ++c) {
                            const QVariant v = batch.value(r, c);
                            switch (v.typeId()) {
                            case QMetaType::UnknownType:
                                sqlite3_bind_null(insert, c + 1);
                                break;
                            case QMetaType::LongLong:
                                sqlite3_bind_int64(insert, c + 1, v.toLongLong());
                                break;
                            case QMetaType::Double:
                                sqlite3_bind_double(insert, c + 1, v.toDouble());
                                break;
                            default: {
                                const QByteArray text = v.toString().toUtf8();
                                sqlite3_bind_text(insert, c + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
                            }
                            }
                        }
                    });
                    if (!added) {
                        more = false;
                        break;
                    }
                }
                more = more && batch.rows() == batchRows;
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
