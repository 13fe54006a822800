#include "data/PositionMap.h"

#include <algorithm>

namespace dravon {

PositionMap::PositionMap(KeyReader &reader, qint64 maxKey, Sizes sizes)
    : m_reader(reader), m_sizes(sizes), m_maxKey(maxKey), m_backFirst(maxKey + 1)
{
    m_chunks.append(Chunk{});
    m_pendingPages.setMaxCost(sizes.cachedKeys / sizes.page + 8);
    m_segments.setMaxCost(sizes.cachedKeys / sizes.stride + 8);
}

void PositionMap::keysChanged()
{
    m_events.keysChanged();
}

int PositionMap::count() const
{
    int n = 0;
    for (const Chunk &c : m_chunks)
        n += c.size();
    return n;
}

int PositionMap::chunkAt(int row, int *offset) const
{
    if (row < 0)
        return -1;
    for (int i = 0; i < m_chunks.size(); ++i) {
        const int size = m_chunks[i].size();
        if (row < size) {
            *offset = row;
            return i;
        }
        row -= size;
    }
    return -1;
}

int PositionMap::pendingIndex() const
{
    for (int i = 0; i < m_chunks.size(); ++i)
        if (m_chunks[i].kind == Kind::Pending)
            return i;
    return -1;
}

QVector<qint64> PositionMap::withoutLocal(const QVector<qint64> &keys) const
{
    if (m_localInserted.isEmpty())
        return keys;
    QVector<qint64> kept;
    kept.reserve(keys.size());
    for (qint64 k : keys)
        if (!m_localInserted.contains(k))
            kept.append(k);
    return kept;
}

void PositionMap::addFront(const QVector<qint64> &stepped, bool reachedEnd)
{
    if (!gapOpen())
        return;
    keysChanged();
    if (!stepped.isEmpty())
        m_frontLast = stepped.last();
    m_frontBase += int(stepped.size());
    const QVector<qint64> keys = withoutLocal(stepped);
    if (!keys.isEmpty()) {
        const int at = int(m_chunks[0].keys.size());
        m_events.aboutToInsert(at, at + int(keys.size()) - 1);
        m_chunks[0].keys += keys;
        m_events.inserted();
    }
    // The front reached the back or the end: every row has its position.
    if (reachedEnd)
        m_state = State::Placed;
}

void PositionMap::openBack()
{
    if (!gapOpen() || m_backLoaded)
        return;
    m_chunks.append(Chunk{});
    m_backLoaded = true;
    m_backFirst = m_maxKey + 1;
    m_state = State::FrontAndBack;
}

void PositionMap::addBack(const QVector<qint64> &stepped, bool reachedFront)
{
    if (!gapOpen() || !m_backLoaded)
        return;
    keysChanged();
    if (!stepped.isEmpty())
        m_backFirst = stepped.last();
    m_backBase += int(stepped.size());
    QVector<qint64> keys = withoutLocal(stepped);
    std::reverse(keys.begin(), keys.end());
    if (!keys.isEmpty()) {
        const int at = frontSize();
        m_events.aboutToInsert(at, at + int(keys.size()) - 1);
        m_chunks.last().keys = keys + m_chunks.last().keys;
        m_events.inserted();
    }
    if (reachedFront)
        m_state = State::Placed;
}

bool PositionMap::applyFirstCount(qint64 count)
{
    // Rows stored or deleted here meanwhile could be counted or not: the
    // checkpoints, which place rows by key, decide then.
    if (!gapOpen() || m_changedLocally)
        return false;
    const qint64 gap = count - m_frontBase - (m_backLoaded ? m_backBase : 0);
    if (gap < 0 || gap > std::numeric_limits<int>::max() / 2)
        return false;
    keysChanged();
    m_state = State::Provisional;
    m_pendingPages.clear();
    if (gap == 0)
        return true;
    Chunk range;
    range.kind = Kind::Pending;
    range.end = int(gap);
    const int at = frontSize();
    m_events.aboutToInsert(at, at + int(gap) - 1);
    m_chunks.insert(1, range);
    m_events.inserted();
    return true;
}

bool PositionMap::isProvisional(int row) const
{
    int offset = 0;
    const int c = chunkAt(row, &offset);
    return c >= 0 && m_chunks[c].kind == Kind::Pending;
}

void PositionMap::placeByKeys()
{
    if (m_state != State::Provisional)
        return;
    const int index = pendingIndex();
    QVector<Chunk> middle;
    if (index >= 0) {
        Chunk keys;
        keys.keys = withoutLocal(m_reader.keysBetween(m_frontLast, upperBound(), -1, 0, false));
        middle << keys;
    }
    replacePending(middle);
}

void PositionMap::replacePending(const QVector<Chunk> &middle)
{
    keysChanged();
    m_state = State::Placed;
    m_pendingPages.clear();
    int index = pendingIndex();
    const int before = index >= 0 ? m_chunks[index].size() : 0;
    int rows = 0;
    for (const Chunk &c : middle)
        rows += c.size();
    // The same number of rows in the same places: nothing moves on screen.
    const bool moved = rows != before;
    if (moved)
        m_events.aboutToReset();
    if (index >= 0)
        m_chunks.remove(index);
    else
        index = 1;
    for (const Chunk &c : middle)
        if (c.size() > 0)
            m_chunks.insert(index++, c);
    if (moved)
        m_events.resetDone();
}

void PositionMap::applyCheckpoints(const QVector<qint64> &checkpoints, qint64 count)
{
    if (!gapOpen() && m_state != State::Provisional)
        return;
    keysChanged();
    m_checkpoints = checkpoints;
    m_snapshotCount = int(count);
    m_segments.clear();
    // The rows between the front and the back, by their keys, so that rows
    // stored or deleted here meanwhile do not shift them.
    const qint64 min = std::numeric_limits<qint64>::min();
    const int first = m_checkpoints.isEmpty() ? 0 : positionAtOrAbove(m_frontLast == min ? min : m_frontLast + 1);
    const int end = !m_backLoaded || m_checkpoints.isEmpty() ? m_snapshotCount : positionAtOrAbove(m_backFirst);
    const bool provisional = m_state == State::Provisional;
    // Whole pages are read by checkpoints; a part page at either side is kept
    // by its keys, so that no page is shared with rows kept by key.
    const int stride = m_sizes.stride;
    QVector<Chunk> middle;
    auto piece = [&](int from, int to) {
        Chunk c;
        const QVector<qint64> &keys = segment(from / stride);
        for (int b = from; b < to; ++b)
            c.keys.append(keys.value(b % stride, -1));
        middle << c;
    };
    if (end > first) {
        const int headEnd = qMin(end, (first + stride - 1) / stride * stride);
        if (headEnd > first)
            piece(first, headEnd);
        const int tailStart = qMax(headEnd, end / stride * stride);
        if (tailStart > headEnd) {
            Chunk range;
            range.kind = Kind::Range;
            range.first = headEnd;
            range.end = tailStart;
            middle << range;
        }
        if (end > tailStart)
            piece(tailStart, end);
    }
    if (provisional) {
        // The rows shown since the first count take their places by key.
        replacePending(middle);
        return;
    }
    m_state = State::Placed;
    int rows = 0;
    for (const Chunk &c : std::as_const(middle))
        rows += c.size();
    if (rows == 0)
        return;
    const int at = frontSize();
    m_events.aboutToInsert(at, at + rows - 1);
    for (int i = 0; i < middle.size(); ++i)
        m_chunks.insert(1 + i, middle[i]);
    m_events.inserted();
}

void PositionMap::setOrder(const QVector<qint64> &keys)
{
    keysChanged();
    m_events.aboutToReset();
    Chunk all;
    all.keys = keys;
    m_chunks = {all};
    m_state = State::Placed;
    m_backLoaded = false;
    m_checkpoints.clear();
    m_segments.clear();
    m_pendingPages.clear();
    m_events.resetDone();
}

const QVector<qint64> &PositionMap::segment(int index)
{
    if (const QVector<qint64> *cached = m_segments.object(index))
        return *cached;
    keysChanged();  // a page read again may find rows gone elsewhere
    const qint64 below = index + 1 < m_checkpoints.size() ? m_checkpoints[index + 1] : m_maxKey + 1;
    auto *keys = new QVector<qint64>(
        withoutLocal(m_reader.keysBetween(m_checkpoints[index] - 1, below, m_sizes.stride, 0, false)));
    // Rows deleted elsewhere since the count leave their places empty.
    const int expected = qMin(m_sizes.stride, m_snapshotCount - index * m_sizes.stride);
    while (keys->size() < expected)
        keys->append(-1);
    m_segments.insert(index, keys);
    return *m_segments.object(index);
}

qint64 PositionMap::keyAt(int row)
{
    int offset = 0;
    const int c = chunkAt(row, &offset);
    if (c < 0)
        return -1;
    const Chunk &chunk = m_chunks[c];
    switch (chunk.kind) {
    case Kind::Keys:
        return chunk.keys[offset];
    case Kind::Pending:
        return pendingKey(offset, chunk.size());
    case Kind::Range:
        break;
    }
    const int base = chunk.first + offset;
    return segment(base / m_sizes.stride).value(base % m_sizes.stride, -1);
}

qint64 PositionMap::pendingKey(int offset, int size)
{
    // Until the rows are placed by key, a page of the range is found by
    // stepping from the nearest page already read, or from the nearer end of
    // the range: a walk or a scroll reads on from the page before it.
    const int pageSize = m_sizes.page;
    const int page = offset / pageSize;
    if (const QVector<qint64> *cached = m_pendingPages.object(page))
        return cached->value(offset % pageSize, -1);
    keysChanged();
    const int from = page * pageSize;
    const int rows = qMin(pageSize, size - from);  // of this page
    auto wholePage = [&](int p) -> const QVector<qint64> * {
        const QVector<qint64> *keys = m_pendingPages.object(p);
        return keys && !keys->isEmpty() && !keys->contains(-1) ? keys : nullptr;
    };
    constexpr int anchorReach = 64;  // pages looked at on either side
    qint64 below = m_frontLast;
    int skipBelow = from;
    for (int p = page - 1; p >= 0 && p >= page - anchorReach; --p)
        if (const QVector<qint64> *keys = wholePage(p)) {
            below = keys->last();
            skipBelow = from - (p + 1) * pageSize;
            break;
        }
    qint64 above = upperBound();
    int skipAbove = size - from - rows;
    for (int p = page + 1; p * pageSize < size && p <= page + anchorReach; ++p)
        if (const QVector<qint64> *keys = wholePage(p)) {
            above = keys->first();
            skipAbove = p * pageSize - from - rows;
            break;
        }
    const bool fromAbove = skipAbove < skipBelow;
    // Reading on from the page just before: a walk, so several pages at once
    // (each read is a read transaction of its own).
    const int pages = !fromAbove && skipBelow == 0 && page > 0 ? m_sizes.walkPage / pageSize : 1;
    const int wanted = qMin(pages * pageSize, size - from);
    QVector<qint64> read = withoutLocal(fromAbove ? m_reader.keysBetween(m_frontLast, above, wanted, skipAbove, true)
                                                  : m_reader.keysBetween(below, upperBound(), wanted, skipBelow, false));
    // Rows deleted elsewhere since the count leave their places empty (on
    // the side away from where the page was read).
    while (read.size() < wanted)
        read.append(-1);
    if (fromAbove)
        std::reverse(read.begin(), read.end());
    for (int p = 0; p * pageSize < wanted; ++p)
        m_pendingPages.insert(page + p, new QVector<qint64>(read.mid(p * pageSize, qMin(pageSize, wanted - p * pageSize))));
    return read.value(offset % pageSize, -1);
}

int PositionMap::positionAtOrAbove(qint64 key)
{
    // The worker's position of the first row whose key is at least key.
    const auto after = std::upper_bound(m_checkpoints.cbegin(), m_checkpoints.cend(), key);
    const int index = int(after - m_checkpoints.cbegin()) - 1;
    if (index < 0)
        return 0;
    const QVector<qint64> &keys = segment(index);
    for (int i = 0; i < keys.size(); ++i)
        if (keys[i] >= key)
            return index * m_sizes.stride + i;
    return qMin((index + 1) * m_sizes.stride, m_snapshotCount);
}

int PositionMap::splitAt(int row, int *offset)
{
    int c = chunkAt(row, offset);
    if (c >= 0 && m_chunks[c].kind == Kind::Pending) {
        // A row of the range is to be stored or dropped: by key. The owner
        // normally has awaited the checkpoints; else the keys are read now.
        placeByKeys();
        c = chunkAt(row, offset);
    }
    if (c < 0 || m_chunks[c].kind == Kind::Keys)
        return c;
    const int stride = m_sizes.stride;
    const Chunk range = m_chunks[c];
    const int base = range.first + *offset;
    const int from = qMax(range.first, base - base % stride);
    const int to = qMin(range.end, base - base % stride + stride);
    const QVector<qint64> &seg = segment(base / stride);
    Chunk piece;
    for (int b = from; b < to; ++b)
        piece.keys.append(seg.value(b % stride, -1));
    QVector<Chunk> parts;
    if (from > range.first) {
        Chunk before = range;
        before.end = from;
        parts << before;
    }
    parts << piece;
    if (to < range.end) {
        Chunk after = range;
        after.first = to;
        parts << after;
    }
    m_chunks.remove(c);
    for (int i = 0; i < parts.size(); ++i)
        m_chunks.insert(c + i, parts[i]);
    const int at = c + (from > range.first ? 1 : 0);
    *offset = base - from;
    return at;
}

void PositionMap::insertKey(int row, qint64 key)
{
    keysChanged();
    m_changedLocally = true;
    m_localInserted.insert(key);
    if (row >= count()) {
        if (m_chunks.last().kind != Kind::Keys)
            m_chunks.append(Chunk{});
        m_chunks.last().keys.append(key);
        return;
    }
    int offset = 0;
    const int c = splitAt(qMax(0, row), &offset);
    m_chunks[c].keys.insert(offset, key);
}

qint64 PositionMap::removeAt(int row)
{
    keysChanged();
    m_changedLocally = true;
    int offset = 0;
    const int c = splitAt(row, &offset);
    if (c < 0)
        return -1;
    const qint64 key = m_chunks[c].keys.at(offset);
    m_chunks[c].keys.remove(offset);
    m_localInserted.remove(key);
    return key;
}

PositionMap::Removed PositionMap::removeRange(int first, int last)
{
    Removed removed;
    if (first > last)
        return removed;
    keysChanged();
    m_changedLocally = true;
    // Rows standing by position only are placed by key first.
    bool pending = false;
    int at = 0;
    for (const Chunk &c : std::as_const(m_chunks)) {
        pending = pending || (c.kind == Kind::Pending && at <= last && at + c.size() > first);
        at += c.size();
    }
    if (pending)
        placeByKeys();
    QVector<Chunk> kept;
    kept.reserve(m_chunks.size() + 4);
    int start = 0;
    for (int i = 0; i < m_chunks.size(); ++i) {
        const Chunk &c = m_chunks[i];
        const int size = c.size();
        const int from = qMax(first, start) - start;  // the part removed, in the chunk's rows
        const int to = qMin(last + 1, start + size) - start;
        start += size;
        if (from >= to) {
            kept << c;
            continue;
        }
        if (c.kind == Kind::Keys) {
            Chunk rest = c;
            removed.keys += c.keys.mid(from, to - from);
            rest.keys.remove(from, to - from);
            // The front and the last chunk (the back) keep their places.
            if (!rest.keys.isEmpty() || i == 0 || i == m_chunks.size() - 1)
                kept << rest;
        } else {
            // Read by checkpoints (the rows were placed above): the rows
            // left on either side keep what is read by page, and the pages
            // they share with removed rows by their keys.
            removed.unlisted = true;
            appendRangePart(kept, c.first, c.first + from);
            appendRangePart(kept, c.first + to, c.end);
        }
    }
    m_chunks = kept;
    for (qint64 key : std::as_const(removed.keys))
        m_localInserted.remove(key);
    return removed;
}

void PositionMap::appendRangePart(QVector<Chunk> &chunks, int first, int end)
{
    if (first >= end)
        return;
    const int stride = m_sizes.stride;
    const int wholeFrom = (first + stride - 1) / stride * stride;
    const int wholeTo = end / stride * stride;
    auto byKeys = [&](int from, int to) {
        if (from >= to)
            return;
        Chunk piece;
        for (int b = from; b < to; ++b)
            piece.keys.append(segment(b / stride).value(b % stride, -1));
        chunks << piece;
    };
    if (wholeFrom >= wholeTo) {
        byKeys(first, end);
        return;
    }
    byKeys(first, wholeFrom);
    Chunk range;
    range.kind = Kind::Range;
    range.first = wholeFrom;
    range.end = wholeTo;
    chunks << range;
    byKeys(wholeTo, end);
}

void PositionMap::replaceKey(int row, qint64 key)
{
    keysChanged();
    int offset = 0;
    const int c = splitAt(row, &offset);
    if (c < 0)
        return;
    m_chunks[c].keys[offset] = key;
    m_changedLocally = true;
    if (key >= 0)
        m_localInserted.insert(key);  // no longer where the key order put it
}

PositionMap::Lookup PositionMap::positionOf(qint64 key)
{
    int start = 0;
    for (const Chunk &c : std::as_const(m_chunks)) {
        if (c.kind == Kind::Keys) {
            const int i = int(c.keys.indexOf(key));
            if (i >= 0)
                return {start + i, false};
        }
        start += c.size();
    }
    if (m_localInserted.contains(key) || key > m_maxKey || key < 0)
        return {};
    // Between the rows read from the front and the back, or standing by
    // position only: the place needs the count and the keys.
    if (m_state != State::Placed)
        return {std::nullopt, true};
    if (m_checkpoints.isEmpty())
        return {};
    const auto after = std::upper_bound(m_checkpoints.cbegin(), m_checkpoints.cend(), key);
    if (after == m_checkpoints.cbegin())
        return {};
    const int index = int(after - m_checkpoints.cbegin()) - 1;
    const int inSegment = int(segment(index).indexOf(key));
    if (inSegment < 0)
        return {};
    const int base = index * m_sizes.stride + inSegment;
    start = 0;
    for (const Chunk &c : std::as_const(m_chunks)) {
        if (c.kind == Kind::Range && base >= c.first && base < c.end)
            return {start + base - c.first, false};
        start += c.size();
    }
    return {};
}

}
