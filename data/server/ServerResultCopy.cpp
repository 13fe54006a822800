#include "data/server/ServerResultCopy.h"

#include "data/server/ServerQuerySource.h"
#include "data/server/WorkerSession.h"

#include <sqlite3.h>

#include <QHash>
#include <QMap>
#include <QSet>

#include <algorithm>
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

// A row's hash with one more value; value null for NULL. Each value is
// hashed with the hash so far as its seed (no copy of the row's bytes): the
// same values in the same columns, the same hash, whatever the engine's
// part they came through.
quint64 withValue(quint64 hash, const char *value, int length)
{
    if (!value)
        return qHash(hash ^ 0x9e3779b97f4a7c15ull, 1);
    return qHash(QByteArrayView(value, length), size_t(hash));
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

bool SeenRows::add(qint64 position, quint64 hash)
{
    std::lock_guard lock(m_mutex);
    m_rows.insert(position, hash);
    return !m_taken;
}

int SeenRows::startCopy()
{
    std::lock_guard lock(m_mutex);
    m_taken = false;
    return ++m_copy;
}

QHash<qint64, quint64> SeenRows::soFar()
{
    std::lock_guard lock(m_mutex);
    return m_rows;
}

QHash<qint64, quint64> SeenRows::take(int copy)
{
    std::lock_guard lock(m_mutex);
    if (copy != m_copy)
        return {};
    m_taken = true;
    return m_rows;
}

namespace {

// The moves that put each row seen at its position in the copy: a row of
// the copy equal to the one seen there, taken from elsewhere when the copy
// has another row there. hashes: of the copy's rows, numbered from 1. A
// row seen that the copy does not hold (changed or deleted since) leaves
// its place to the copy's row. The rows nobody saw keep their order but
// for the places they give up.
QVector<QPair<qint64, qint64>> placesOfRowsSeen(const QHash<qint64, quint64> &seen, const std::vector<quint64> &hashes)
{
    const qint64 rows = qint64(hashes.size());
    QHash<quint64, QVector<qint64>> wanted;  // a hash's places still to fill
    QSet<qint64> inPlace;                     // copy rows already where they were seen
    QList<qint64> positions = seen.keys();
    std::sort(positions.begin(), positions.end());
    for (qint64 p : std::as_const(positions)) {
        if (p >= rows)
            continue;
        if (hashes[size_t(p)] == seen.value(p))
            inPlace.insert(p);
        else
            wanted[seen.value(p)].append(p);
    }
    if (wanted.isEmpty())
        return {};
    // The first equal row not in place already fills each place, in order.
    QMap<qint64, qint64> fill;  // place -> copy row
    for (qint64 i = 0; i < rows && !wanted.isEmpty(); ++i) {
        const auto w = wanted.find(hashes[size_t(i)]);
        if (w == wanted.end() || inPlace.contains(i))
            continue;
        fill.insert(w->takeFirst(), i);
        if (w->isEmpty())
            wanted.erase(w);
    }
    // Each place in turn takes its row, which swaps places with the row
    // there; a place filled stays so (its row is not taken again).
    QHash<qint64, qint64> rowAt, placeOf;
    for (auto f = fill.cbegin(); f != fill.cend(); ++f) {
        const qint64 place = f.key(), row = f.value();
        const qint64 from = placeOf.value(row, row);
        if (from == place)
            continue;
        const qint64 displaced = rowAt.value(place, place);
        rowAt[place] = row;
        placeOf[row] = place;
        rowAt[from] = displaced;
        placeOf[displaced] = from;
    }
    QVector<QPair<qint64, qint64>> moves;
    for (auto m = placeOf.cbegin(); m != placeOf.cend(); ++m)
        if (m.key() != m.value())
            moves.append({m.key() + 1, m.value() + 1});
    return moves;
}

}

ServerResultCopy::ServerResultCopy(const pg::ServerAddress &address, const QString &sql, const QVector<unsigned> &types,
                                   std::shared_ptr<SeenRows> seen)
    : ResultCopy(QString(), sql, int(types.size())), m_address(address), m_types(types), m_seen(std::move(seen)),
      m_copyNumber(m_seen ? m_seen->startCopy() : 0)
{
}

quint64 ServerResultCopy::rowHash(const pg::Result &result, int row)
{
    quint64 hash = 0;
    for (int c = 0; c < result.columns(); ++c) {
        int length = 0;
        const char *value = result.raw(row, c, &length);
        hash = withValue(hash, value, length);
    }
    return hash;
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
    // The rows seen before the copy began have their places kept for them:
    // each takes its own as it comes (no row of the file moves afterwards);
    // the other rows take the places left, in the order they come.
    QHash<quint64, QVector<qint64>> keptFor;  // a row's hash: its numbers kept, ascending
    QSet<qint64> kept;
    qint64 awaited = 0, nextFree = 1, added = 0, lastKept = 0;
    if (m_seen) {
        const QHash<qint64, quint64> before = m_seen->soFar();
        QList<qint64> positions = before.keys();
        std::sort(positions.begin(), positions.end());
        for (qint64 p : std::as_const(positions)) {
            keptFor[before.value(p)].append(p + 1);
            kept.insert(p + 1);
        }
        awaited = positions.size();
        lastKept = positions.isEmpty() ? 0 : positions.last() + 1;
    }
    // Each row's hash, by its number: the rows seen while the copy ran are
    // looked for among them once all are in.
    std::vector<quint64> hashes;
    std::vector<bool> used;  // by number: a row has it

    // A batch of rows, their bytes kept (and bound without a copy) until
    // the writer has stored the last of them.
    std::vector<pg::CopyRow> batch;
    batch.reserve(batchRows);
    std::vector<Value> values(size_t(batchRows) * size_t(columns));
    bool writing = true;
    auto store = [&] {
        const int count = int(batch.size());
        for (int r = 0; r < count && writing; ++r) {
            const Value *row = values.data() + size_t(r) * size_t(columns);
            qint64 number = 0;  // after the rows so far
            if (m_seen) {
                quint64 hash = 0;
                for (int c = 0; c < columns; ++c)
                    hash = withValue(hash, row[c].text, row[c].length);
                if (awaited > 0) {
                    const auto place = keptFor.find(hash);
                    if (place != keptFor.end() && !place->isEmpty()) {
                        number = place->takeFirst();
                        --awaited;
                    }
                }
                if (number == 0) {
                    while (nextFree <= lastKept && kept.contains(nextFree))
                        ++nextFree;
                    number = nextFree++;
                }
                if (qint64(hashes.size()) < number) {
                    hashes.resize(size_t(number), 0);
                    used.resize(size_t(number), false);
                }
                hashes[size_t(number - 1)] = hash;
                used[size_t(number - 1)] = true;
                ++added;
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
            if (!isCancelled() && writing && store() && m_seen) {
                // Every row is in. The places kept for rows the copy no
                // longer holds go to the rows numbered past the end.
                QVector<qint64> holes;
                for (const QVector<qint64> &numbers : std::as_const(keptFor))
                    for (qint64 n : numbers)
                        if (n <= added)
                            holes.append(n);
                std::sort(holes.begin(), holes.end());
                QVector<QPair<qint64, qint64>> filled;
                for (qint64 n = qint64(hashes.size()); n > added && filled.size() < holes.size(); --n) {
                    if (!used[size_t(n - 1)])
                        continue;
                    const qint64 to = holes[filled.size()];
                    filled.append({n, to});
                    hashes[size_t(to - 1)] = hashes[size_t(n - 1)];
                }
                hashes.resize(size_t(added));
                // The rows the set read while the copy ran keep their
                // places too; a row it reads from now on comes from the copy.
                const QVector<QPair<qint64, qint64>> moves = placesOfRowsSeen(m_seen->take(m_copyNumber), hashes);
                if ((filled.isEmpty() || rows.renumber(filled)) && !moves.isEmpty())
                    rows.renumber(moves);
            }
        }
    } catch (const Error &e) {
        // A copy cancelled here fails on the server as cancelled: not a failure to report.
        if (!isCancelled())
            failure = e.text();
    }
    return failure;
}

}
