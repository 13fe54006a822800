#pragma once
// Where each row of a table set stands: its position in the set, mapped to
// the engine's row key. The map runs no SQL; it asks a KeyReader for the keys
// it lacks, so that its logic can be checked without a database.
//
// Positions: before the count is known, the rows read from the front, then
// (after a jump to the end) the rows read from the back. Once the count is
// known the rows between take their places, first by position (read by
// stepping from the nearest page already read), then by key when the
// counting worker's checkpoints (the key of every stride-th row) arrive, so
// that rows stored or deleted here do not shift the others. A sort replaces
// the whole map by the keys in their new order.
#include <QCache>
#include <QSet>
#include <QVector>
#include <functional>
#include <limits>
#include <optional>

namespace dravon {

class KeyReader
{
public:
    virtual ~KeyReader() = default;
    // The keys of the set's rows above `above` and below `below` (both
    // exclusive), ascending, or descending when asked, after skipping
    // `offset` of them; at most `limit` (all when negative).
    virtual QVector<qint64> keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending) = 0;
};

// What the map tells its owner, so that views hear of rows coming and going.
struct PositionEvents
{
    std::function<void(int first, int last)> aboutToInsert = [](int, int) {};
    std::function<void()> inserted = [] {};
    std::function<void()> aboutToReset = [] {};
    std::function<void()> resetDone = [] {};
    // Keys at some positions may have changed (read again, placed, moved).
    std::function<void()> keysChanged = [] {};
};

class PositionMap
{
public:
    enum class State {
        Front,         // rows read from the front; more may follow
        FrontAndBack,  // also the last rows, read from the back; rows may lie between
        Provisional,   // the count is known; the rows between stand by position until placed by key
        Placed,        // every row has its lasting place
    };

    struct Sizes
    {
        int stride = 128;        // rows between two checkpoints
        int page = 128;          // rows read at once by position
        int walkPage = 1024;     // rows read at once by a walk
        int cachedKeys = 20000;  // keys kept of pages read by position
    };

    PositionMap(KeyReader &reader, qint64 maxKey, Sizes sizes);
    PositionMap(KeyReader &reader, qint64 maxKey) : PositionMap(reader, maxKey, Sizes{}) {}
    void setEvents(PositionEvents events) { m_events = std::move(events); }

    State state() const { return m_state; }
    bool countKnown() const { return m_state == State::Provisional || m_state == State::Placed; }
    bool gapOpen() const { return m_state == State::Front || m_state == State::FrontAndBack; }
    bool backLoaded() const { return m_backLoaded; }
    int count() const;
    // Rows read from the front so far (and placed before the rest).
    int frontSize() const { return m_chunks.isEmpty() ? 0 : m_chunks.first().size(); }
    // The snapshot: rows with keys up to this belong to the set as opened.
    qint64 maxKey() const { return m_maxKey; }
    // The largest key stepped over from the front (min() before any).
    qint64 frontLast() const { return m_frontLast; }
    // The smallest key stepped over from the back (maxKey + 1 before any).
    qint64 backFirst() const { return m_backFirst; }

    // Keys stepped over from the front, ascending; reachedEnd when the read
    // found fewer than it asked for: every row then has its position.
    void addFront(const QVector<qint64> &stepped, bool reachedEnd);
    // The rows from the back follow the front until the count is known.
    void openBack();
    // Keys stepped over from the back, descending.
    void addBack(const QVector<qint64> &stepped, bool reachedFront);
    // The count of the snapshot's rows, before the checkpoints: the rows
    // between take their places by position. False when it cannot be used
    // (rows stored or deleted here meanwhile, or no gap left).
    bool applyFirstCount(qint64 count);
    // The worker's checkpoints: the rows between are placed by key.
    void applyCheckpoints(const QVector<qint64> &checkpoints, qint64 count);
    // True while position row stands only by position (before the checkpoints).
    bool isProvisional(int row) const;
    // Places the rows standing by position by their keys, read at once (no
    // checkpoints are coming: a small table, or the worker failed).
    void placeByKeys();
    // Every row, in this order: a sort. Rows not among the keys are dropped.
    void setOrder(const QVector<qint64> &keys);

    // The key at a position; -1 for a row gone elsewhere or past the end.
    qint64 keyAt(int row);

    // A row stored here takes position row (count() appends it).
    void insertKey(int row, qint64 key);
    // A row deleted here; its key.
    qint64 removeAt(int row);
    // Rows first..last deleted here, in one pass whatever their number.
    struct Removed
    {
        QVector<qint64> keys;     // the keys of rows that were kept by key
        bool unlisted = false;    // rows read by checkpoints went too (keys not read)
    };
    Removed removeRange(int first, int last);
    // The row at position row now has another key (-1: gone).
    void replaceKey(int row, qint64 key);
    bool isLocal(qint64 key) const { return m_localInserted.contains(key); }
    const QSet<qint64> &localKeys() const { return m_localInserted; }

    struct Lookup
    {
        std::optional<int> row;
        // The position needs the count (or the checkpoints) first.
        bool needsCount = false;
    };
    Lookup positionOf(qint64 key);

private:
    enum class Kind {
        Keys,     // keys in display order (-1 for a row gone elsewhere)
        Range,    // the snapshot's rows at positions [first, end), read by checkpoints
        Pending,  // the rows between front and back before the checkpoints: [0, end) of that range
    };
    struct Chunk
    {
        Kind kind = Kind::Keys;
        QVector<qint64> keys;
        int first = 0;
        int end = 0;
        int size() const { return kind == Kind::Keys ? int(keys.size()) : end - first; }
    };

    int chunkAt(int row, int *offset) const;
    int pendingIndex() const;
    const QVector<qint64> &segment(int index);
    qint64 pendingKey(int offset, int size);
    int positionAtOrAbove(qint64 key);
    void replacePending(const QVector<Chunk> &middle);
    int splitAt(int row, int *offset);
    void appendRangePart(QVector<Chunk> &chunks, int first, int end);
    QVector<qint64> withoutLocal(const QVector<qint64> &keys) const;
    qint64 upperBound() const { return m_backLoaded ? m_backFirst : m_maxKey + 1; }
    void keysChanged();

    KeyReader &m_reader;
    PositionEvents m_events;
    Sizes m_sizes;
    State m_state = State::Front;
    qint64 m_maxKey = 0;
    QVector<Chunk> m_chunks;  // [0] the front; the back last while the gap is open
    bool m_backLoaded = false;
    bool m_changedLocally = false;  // rows stored or deleted here
    qint64 m_frontLast = std::numeric_limits<qint64>::min();
    qint64 m_backFirst = 0;
    int m_frontBase = 0;  // snapshot rows stepped over from the front
    int m_backBase = 0;   // snapshot rows stepped over from the back
    QVector<qint64> m_checkpoints;
    int m_snapshotCount = 0;
    QSet<qint64> m_localInserted;
    QCache<int, QVector<qint64>> m_pendingPages;
    QCache<int, QVector<qint64>> m_segments;
};

}
