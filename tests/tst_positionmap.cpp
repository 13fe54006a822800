// The position map on its own, without a database: a list of row keys plays
// the table, and every read the map asks for is checked against it.
#include "data/PositionMap.h"

#include <QTest>

using dravon::PositionMap;
using State = dravon::PositionMap::State;

namespace {

// The table: its row keys, ascending. Reads are answered as the engine would
// answer the keyset statements, and remembered.
class ListReader : public dravon::KeyReader
{
public:
    QVector<qint64> table;
    struct Read
    {
        qint64 above, below;
        int limit, offset;
        bool descending;
    };
    QVector<Read> reads;

    QVector<qint64> keysBetween(qint64 above, qint64 below, int limit, int offset, bool descending) override
    {
        reads << Read{above, below, limit, offset, descending};
        QVector<qint64> in;
        for (qint64 k : std::as_const(table))
            if (k > above && k < below)
                in << k;
        if (descending)
            std::reverse(in.begin(), in.end());
        in = in.mid(offset);
        return limit < 0 ? in : in.mid(0, limit);
    }
    // What the table source reads from the front and from the back.
    void readFront(PositionMap &map, int wanted)
    {
        const QVector<qint64> stepped = keysBetween(map.frontLast(), map.backFirst(), wanted, 0, false);
        map.addFront(stepped, stepped.size() < wanted);
    }
    void readBack(PositionMap &map, int wanted)
    {
        const QVector<qint64> stepped = keysBetween(map.frontLast(), map.backFirst(), wanted, 0, true);
        map.addBack(stepped, stepped.size() < wanted);
    }
    // The counting worker: every stride-th key and the count.
    QVector<qint64> checkpoints(int stride) const
    {
        QVector<qint64> points;
        for (int i = 0; i < table.size(); i += stride)
            points << table[i];
        return points;
    }
};

// The map's notices, checked for consistency with its count as they come.
struct Notices
{
    PositionMap *map = nullptr;
    int inserts = 0;
    int resets = 0;
    int pendingFirst = -1, pendingLast = -1, countBefore = 0;
    dravon::PositionEvents events()
    {
        return {[this](int first, int last) {
                    pendingFirst = first;
                    pendingLast = last;
                    countBefore = map->count();
                    QVERIFY(first >= 0 && first <= countBefore && last >= first);
                },
                [this] {
                    ++inserts;
                    QCOMPARE(map->count(), countBefore + pendingLast - pendingFirst + 1);
                },
                [this] { countBefore = map->count(); },
                [this] { ++resets; },
                [] {}};
    }
};

QVector<qint64> keysOf(PositionMap &map)
{
    QVector<qint64> keys;
    for (int row = 0; row < map.count(); ++row)
        keys << map.keyAt(row);
    return keys;
}

QVector<qint64> range(qint64 from, qint64 to, qint64 step = 1)
{
    QVector<qint64> keys;
    for (qint64 k = from; k <= to; k += step)
        keys << k;
    return keys;
}

constexpr PositionMap::Sizes small{8, 4, 16, 64};  // stride, page, walk page, cached keys

}

class PositionMapTest : public QObject
{
    Q_OBJECT

private slots:
    // However the rows were reached (front only, front and back, with or
    // without the first count), every position ends with the table's key.
    void everyRouteEndsInKeyOrder_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("back");
        QTest::addColumn<bool>("firstCount");
        QTest::addColumn<bool>("checkpoints");
        for (int rows : {0, 3, 4, 50, 203})
            for (bool back : {false, true})
                for (bool first : {false, true})
                    for (bool points : {false, true})
                        QTest::addRow("%d rows%s%s%s", rows, back ? ", back" : "", first ? ", first count" : "",
                                      points ? ", checkpoints" : "")
                            << rows << back << first << points;
    }
    void everyRouteEndsInKeyOrder()
    {
        QFETCH(int, rows);
        QFETCH(bool, back);
        QFETCH(bool, firstCount);
        QFETCH(bool, checkpoints);
        ListReader reader;
        reader.table = range(10, 9 + 3 * rows, 3);  // keys with gaps between
        PositionMap map(reader, reader.table.isEmpty() ? 0 : reader.table.last(), small);
        Notices notices{&map};
        map.setEvents(notices.events());
        reader.readFront(map, 4);
        if (back) {
            map.openBack();
            reader.readBack(map, 4);
        }
        if (firstCount && map.gapOpen())
            QVERIFY(map.applyFirstCount(rows));
        if (checkpoints)
            map.applyCheckpoints(reader.checkpoints(8), rows);
        else if (map.state() == State::Provisional)
            map.placeByKeys();
        else
            while (map.gapOpen())
                reader.readFront(map, 16);
        QCOMPARE(map.state(), State::Placed);
        QVERIFY(map.countKnown());
        QCOMPARE(keysOf(map), reader.table);
        // The same rows in the same places: no reset on the way.
        QCOMPARE(notices.resets, 0);
        for (int row : {0, rows / 2, rows - 1})
            if (row >= 0 && row < rows)
                QCOMPARE(map.positionOf(reader.table[row]).row, std::optional<int>(row));
        QVERIFY(!map.positionOf(11).row);  // no such key
    }

    // After the first count, a walk reads on from the page before; a jump
    // reads from the nearer end; pages already read serve as anchors.
    void provisionalPagesReadFromTheNearestAnchor()
    {
        ListReader reader;
        reader.table = range(1, 100);
        PositionMap map(reader, 100, small);
        reader.readFront(map, 4);
        map.openBack();
        reader.readBack(map, 4);
        QVERIFY(map.applyFirstCount(100));
        QCOMPARE(map.state(), State::Provisional);
        QCOMPARE(map.count(), 100);
        QVERIFY(map.isProvisional(4) && map.isProvisional(95) && !map.isProvisional(3) && !map.isProvisional(96));
        reader.reads.clear();
        // Near the front: from the front's last key, skipping nothing; a walk
        // reads several pages at once only after the first.
        QCOMPARE(map.keyAt(4), 5);
        QCOMPARE(reader.reads.size(), 1);
        QCOMPARE(reader.reads[0].above, 4);
        QCOMPARE(reader.reads[0].offset, 0);
        QCOMPARE(map.keyAt(8), 9);  // the next page: from the last key read, in a walk's longer page
        QCOMPARE(reader.reads.last().above, 8);
        QCOMPARE(reader.reads.last().offset, 0);
        QCOMPARE(reader.reads.last().limit, 16);
        QCOMPARE(map.keyAt(20), 21);  // read with the walk's page
        QCOMPARE(reader.reads.size(), 2);
        // Near the back: read downwards from the back's first key.
        QCOMPARE(map.keyAt(90), 91);
        QCOMPARE(reader.reads.last().descending, true);
        QCOMPARE(reader.reads.last().below, 97);
        // In the middle, nearer the pages read below: from their last key.
        QCOMPARE(map.keyAt(40), 41);
        QCOMPARE(reader.reads.last().descending, false);
        QCOMPARE(reader.reads.last().above, 24);
        QCOMPARE(reader.reads.last().offset, 40 - 24);
        QCOMPARE(keysOf(map), reader.table);
    }

    // Rows deleted elsewhere after the count leave empty places until the
    // checkpoints place the rest by key; then the rows close up.
    void rowsDeletedElsewhereAfterTheCount()
    {
        ListReader reader;
        reader.table = range(1, 60);
        PositionMap map(reader, 60, small);
        Notices notices{&map};
        map.setEvents(notices.events());
        reader.readFront(map, 4);
        QVERIFY(map.applyFirstCount(60));
        reader.table.removeIf([](qint64 k) { return k >= 20 && k < 30; });
        // A walk reads on from the page before: the rows after the gap move
        // up, and the places at the end, whose rows are gone, show empty.
        QVector<qint64> walked;
        for (int row = 0; row < 56; ++row)
            walked << map.keyAt(row);
        QCOMPARE(walked.mid(0, 50), reader.table);
        QCOMPARE(walked.mid(50), QVector<qint64>(6, -1));
        map.applyCheckpoints(reader.checkpoints(8), reader.table.size());
        QCOMPARE(notices.resets, 1);
        QCOMPARE(map.count(), 50);
        QCOMPARE(keysOf(map), reader.table);
    }

    // Rows stored and deleted here keep their places among rows read by
    // checkpoints, and pages read later do not show them twice.
    void storedAndDeletedRowsKeepTheirPlaces()
    {
        ListReader reader;
        reader.table = range(1, 200);
        PositionMap map(reader, 200, small);
        reader.readFront(map, 4);
        map.applyCheckpoints(reader.checkpoints(8), 200);
        QCOMPARE(map.state(), State::Placed);
        // A new row (key 201) stored at position 100; the row at 150 deleted.
        reader.table << 201;
        map.insertKey(100, 201);
        QCOMPARE(map.keyAt(100), 201);
        QCOMPARE(map.keyAt(99), 100);
        QCOMPARE(map.keyAt(101), 101);
        QCOMPARE(map.removeAt(151), 151);
        reader.table.removeOne(151);
        QCOMPARE(map.count(), 200);
        QCOMPARE(map.keyAt(151), 152);
        QCOMPARE(map.positionOf(201).row, std::optional<int>(100));
        QCOMPARE(map.positionOf(180).row, std::optional<int>(179));
        QVERIFY(map.isLocal(201));
        // A row whose declared key now has another row key: kept in place.
        map.replaceKey(10, 555);
        QCOMPARE(map.keyAt(10), 555);
        QCOMPARE(map.positionOf(555).row, std::optional<int>(10));
        // Stored at the end.
        map.insertKey(map.count(), 202);
        QCOMPARE(map.keyAt(map.count() - 1), 202);
        // A row stored by key below the snapshot's top (a key reused) is not
        // read a second time from the page it falls in.
        PositionMap second(reader, 200, small);
        reader.readFront(second, 4);
        second.insertKey(2, 50);
        second.applyCheckpoints(reader.checkpoints(8), reader.table.size());
        const QVector<qint64> keys = keysOf(second);
        QCOMPARE(keys.count(50), 1);
    }

    // Rows removed in one pass end as removed one by one: across the front,
    // pages read by checkpoints (whole, in part, within one page), rows
    // stored here and the end; a page read again later does not bring a
    // removed row back, and the positions of the keys follow.
    void rangeRemovalMatchesRowByRow_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("within the front") << 1 << 2;
        QTest::newRow("front into pages") << 2 << 20;
        QTest::newRow("within one page") << 9 << 10;
        QTest::newRow("whole pages") << 16 << 39;
        QTest::newRow("page parts either side") << 13 << 45;
        QTest::newRow("over the stored row") << 95 << 130;
        QTest::newRow("to the end") << 150 << 200;
        QTest::newRow("everything") << 0 << 200;
    }
    void rangeRemovalMatchesRowByRow()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        auto prepared = [](ListReader &reader, PositionMap &map) {
            reader.readFront(map, 4);
            map.applyCheckpoints(reader.checkpoints(8), 200);
            reader.table << 201;
            map.insertKey(100, 201);
        };
        ListReader oneByOne, atOnce;
        oneByOne.table = atOnce.table = range(1, 200);
        PositionMap expected(oneByOne, 200, small), map(atOnce, 200, small);
        prepared(oneByOne, expected);
        prepared(atOnce, map);
        QVector<qint64> gone;
        for (int row = last; row >= first; --row)
            gone.prepend(expected.removeAt(row));
        const PositionMap::Removed removed = map.removeRange(first, last);
        QCOMPARE(map.count(), expected.count());
        QCOMPARE(keysOf(map), keysOf(expected));
        // The keys listed are exactly those of removed rows kept by key.
        for (qint64 key : removed.keys)
            QVERIFY(gone.contains(key));
        QCOMPARE(removed.unlisted, removed.keys.size() < gone.size());
        QCOMPARE(map.isLocal(201), !gone.contains(201));
        // The table as the engine has it now: pages read again (the map
        // keeps only a few) show the same rows.
        for (qint64 key : std::as_const(gone)) {
            atOnce.table.removeOne(key);
            oneByOne.table.removeOne(key);
        }
        const QVector<qint64> now = keysOf(expected);
        QCOMPARE(keysOf(map), now);
        QVERIFY(!now.contains(-1));
        for (qint64 key : {qint64(1), qint64(17), qint64(50), qint64(120), qint64(200), qint64(201)})
            QCOMPARE(map.positionOf(key).row,
                     gone.contains(key) ? std::nullopt : std::optional<int>(int(now.indexOf(key))));
    }

    // What needs the count says so; a first count is refused after local
    // changes (the checkpoints decide), and a sort replaces every place.
    void countNeedsAndSorting()
    {
        ListReader reader;
        reader.table = range(1, 40);
        PositionMap map(reader, 40, small);
        Notices notices{&map};
        map.setEvents(notices.events());
        reader.readFront(map, 4);
        PositionMap::Lookup found = map.positionOf(30);
        QVERIFY(!found.row && found.needsCount);
        QVERIFY(!map.positionOf(41).needsCount);  // beyond the snapshot: not a row of the set
        map.insertKey(2, 41);
        QVERIFY(!map.applyFirstCount(41));
        QVERIFY(map.gapOpen());
        QVector<qint64> sorted = reader.table;
        sorted << 41;
        std::reverse(sorted.begin(), sorted.end());
        map.setOrder(sorted);
        QCOMPARE(notices.resets, 1);
        QCOMPARE(map.state(), State::Placed);
        QCOMPARE(keysOf(map), sorted);
        QCOMPARE(map.positionOf(1).row, std::optional<int>(40));
        // A late count changes nothing after the sort.
        map.applyCheckpoints(reader.checkpoints(8), 40);
        QCOMPARE(keysOf(map), sorted);
    }
};

QTEST_APPLESS_MAIN(PositionMapTest)
#include "tst_positionmap.moc"
