#include "data/server/ServerResultCopy.h"

#include "data/server/ServerQuerySource.h"
#include "data/server/WorkerSession.h"

#include <sqlite3.h>

#include <QHash>

#include <cctype>
#include <charconv>
#include <cstring>

namespace dravon {

namespace {
// Rows handed to the writer at once: as many as it stores with one
// statement, their bytes kept until it has.
constexpr int batchRows = 64;
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

// One value's part of a row key; value null for NULL.
void appendKey(QByteArray &key, const char *value, int length)
{
    if (!value) {
        key.append('\0');
        return;
    }
    key.append('\1');
    key.append(reinterpret_cast<const char *>(&length), sizeof length);
    key.append(value, length);
}

// A value of COPY's text format: NULL as \N, the delimiter, line ends and
// backslashes (and other control characters) as backslash sequences.
struct Value
{
    const char *text = nullptr;  // null for NULL
    int length = 0;
};

// Splits a row into its values, each unescaped in place (an unescaped value
// is never longer). False when the row has another number of values.
bool splitRow(char *row, int length, int columns, Value *values)
{
    if (length > 0 && row[length - 1] == '\n')
        --length;
    char *end = row + length;
    char *field = row;
    for (int c = 0; c < columns; ++c) {
        if (field > end)
            return false;
        char *stop = static_cast<char *>(std::memchr(field, '\t', size_t(end - field)));
        if (!stop)
            stop = end;
        const int size = int(stop - field);
        if (size == 2 && field[0] == '\\' && field[1] == 'N') {
            values[c] = {};
        } else if (!std::memchr(field, '\\', size_t(size))) {
            values[c] = {field, size};
        } else {
            char *to = field;
            for (char *from = field; from < stop; ++from) {
                if (*from != '\\' || from + 1 == stop) {
                    *to++ = *from;
                    continue;
                }
                const char code = *++from;
                if (code >= '0' && code <= '7') {
                    int octal = 0;
                    for (int digits = 0; digits < 3 && from < stop && *from >= '0' && *from <= '7'; ++digits)
                        octal = octal * 8 + (*from++ - '0');
                    --from;
                    *to++ = char(octal);
                    continue;
                }
                if (code == 'x' && from + 1 < stop && std::isxdigit(static_cast<unsigned char>(from[1]))) {
                    int hex = 0;
                    for (int digits = 0; digits < 2 && from + 1 < stop && std::isxdigit(static_cast<unsigned char>(from[1]));
                         ++digits) {
                        const char h = *++from;
                        hex = hex * 16 + (h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
                    }
                    *to++ = char(hex);
                    continue;
                }
                switch (code) {
                case 'b': *to++ = '\b'; break;
                case 'f': *to++ = '\f'; break;
                case 'n': *to++ = '\n'; break;
                case 'r': *to++ = '\r'; break;
                case 't': *to++ = '\t'; break;
                case 'v': *to++ = '\v'; break;
                default: *to++ = code; break;
                }
            }
            values[c] = {field, int(to - field)};
        }
        field = stop + 1;
    }
    return field > end;
}

}

ServerResultCopy::ServerResultCopy(const pg::ServerAddress &address, const QString &sql, const QVector<unsigned> &types,
                                   const QVector<QByteArray> &shown)
    : ResultCopy(QString(), sql, int(types.size())), m_address(address), m_types(types), m_shown(shown)
{
}

QByteArray ServerResultCopy::rowKey(const pg::Result &result, int row)
{
    QByteArray key;
    for (int c = 0; c < result.columns(); ++c) {
        int length = 0;
        const char *value = result.raw(row, c, &length);
        appendKey(key, value, length);
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
    const int columns = this->columns();
    // How each column goes into the copy: numbers as numbers, so that the
    // copy sorts as the file does; texts and dates as sent.
    QVector<FieldType> types(columns);
    QVector<bool> truth(columns);
    for (int c = 0; c < columns; ++c) {
        types[c] = fieldTypeOfServerType(m_types[c]);
        truth[c] = m_types[c] == boolType;
    }
    // The rows shown keep their numbers 1..n, each the first time a row
    // equal to it comes; the others are numbered after them.
    QHash<QByteArray, QVector<qint64>> places;
    for (int i = 0; i < m_shown.size(); ++i)
        places[m_shown[i]].append(i + 1);
    qint64 awaited = m_shown.size();
    qint64 after = m_shown.size();

    // A batch of rows, their bytes kept (and bound without a copy) until
    // the writer has stored the last of them.
    std::vector<pg::CopyRow> batch;
    batch.reserve(batchRows);
    std::vector<Value> values(size_t(batchRows) * size_t(columns));
    bool writing = true;
    QByteArray key;
    auto store = [&] {
        const int count = int(batch.size());
        for (int r = 0; r < count && writing; ++r) {
            const Value *row = values.data() + size_t(r) * size_t(columns);
            qint64 number = 0;  // after the rows so far
            if (!m_shown.isEmpty()) {
                if (awaited > 0) {
                    key.resize(0);
                    for (int c = 0; c < columns; ++c)
                        appendKey(key, row[c].text, row[c].length);
                    const auto place = places.find(key);
                    if (place != places.end() && !place->isEmpty()) {
                        number = place->takeFirst();
                        --awaited;
                    }
                }
                if (number == 0)
                    number = ++after;
            }
            writing = rows.add(
                [&](sqlite3_stmt *insert, int first) {
                    for (int c = 0; c < columns; ++c) {
                        const Value &value = row[c];
                        if (!value.text)
                            sqlite3_bind_null(insert, first + c);
                        else if (truth[c])
                            sqlite3_bind_int64(insert, first + c, value.text[0] == 't' ? 1 : 0);
                        else if (types[c] == FieldType::Integer)
                            sqlite3_bind_int64(insert, first + c, integerOf(value.text, value.length));
                        else if (types[c] == FieldType::Real)
                            sqlite3_bind_double(insert, first + c, realOf(value.text, value.length));
                        else
                            sqlite3_bind_text(insert, first + c, value.text, value.length, SQLITE_STATIC);
                    }
                },
                number, count - r - 1);
        }
        batch.clear();
        return writing;
    };

    QString failure;
    try {
        pg::WorkerSession worker(m_address, m_canceller);
        if (!isCancelled()) {
            // A line end before the parenthesis: a closing comment must not swallow it.
            worker.session().copyOut(QStringLiteral("COPY (%1\n) TO STDOUT").arg(sql()), [&](pg::CopyRow &&row) {
                if (isCancelled())
                    return false;
                if (!splitRow(row.data(), row.length(), columns, values.data() + batch.size() * size_t(columns)))
                    throw Error(QStringLiteral("查询结果的列数与第一页不同。"));
                batch.push_back(std::move(row));
                return int(batch.size()) < batchRows || store();
            });
            if (!isCancelled() && writing)
                store();
        }
    } catch (const Error &e) {
        // A copy cancelled here fails on the server as cancelled: not a failure to report.
        if (!isCancelled())
            failure = e.text();
    }
    return failure;
}

}
