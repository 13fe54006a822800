// Record sets over a PostgreSQL server at a size where the workers take part:
// a table shows its first page before its count (learnt on a connection of
// its own) and then writes the right rows; a query result shows its first
// page before it has been read to its end, is copied whole by a worker
// (every row read before it arrives keeping its place), and sorts as on the
// file; closing a set stops its worker and leaves no
// connection behind.
#include "data/Connection.h"
#include "data/Dravon.h"
#include "data/Error.h"
#include "data/ReadStatement.h"
#include "data/RecordSet.h"
#include "data/KeyOrder.h"
#include "data/server/ServerSortBlocks.h"
#include "data/RowCounter.h"
#include "data/TableSource.h"
#include "support/TestServer.h"

#include <QElapsedTimer>
#include <QtTest>

using testsupport::ServerDatabase;

namespace {

constexpr int scoreRows = 3000;

// Score rows 1..n: student "S<n>" (zero-padded), every seventh score empty,
// scores repeating so that a sort meets equal values; terms in Chinese and
// Latin letters, so that text order is byte order.
QString seedScores(int rows)
{
    return QStringLiteral(
               "INSERT INTO \"SubjectInfo\" (\"SubjectID\", \"SubName\") VALUES ('1', '语文'), ('2', '数学');"
               "INSERT INTO \"Score\" (\"StudentID\", \"SubjectID\", \"Score\", \"Term\") "
               "SELECT 'S' || lpad(g::text, 5, '0'), (g % 2 + 1)::text, "
               "CASE WHEN g % 7 = 0 THEN NULL ELSE (g * 37) % 101 END, "
               "(ARRAY['第一学期', '第二学期', 'Term B', 'term a'])[g % 4 + 1] "
               "FROM generate_series(1, %1) g ORDER BY g")
        .arg(rows);
}

QString student(int n)
{
    return QStringLiteral("S%1").arg(n, 5, 10, QLatin1Char('0'));
}

// The numbers of the first rows seeded, in the order the file sorts them
// by a column: empty values first (last when descending), numbers by
// value, texts byte by byte, equal values in key order.
enum class SortColumn { Score, Term };
QVector<int> seededOrder(int rows, SortColumn column, bool descending)
{
    struct Row
    {
        int n;
        QVariant score;
        QByteArray term;
    };
    QVector<Row> order;
    for (int n = 1; n <= rows; ++n)
        order.append({n, n % 7 == 0 ? QVariant() : QVariant((n * 37) % 101),
                      QByteArrayList{"第一学期", "第二学期", "Term B", "term a"}.at(n % 4)});
    auto less = [&](const Row &x, const Row &y) {
        if (column == SortColumn::Score)
            return y.score.isValid() && (!x.score.isValid() || x.score.toInt() < y.score.toInt());
        return x.term < y.term;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](const Row &a, const Row &b) { return descending ? less(b, a) : less(a, b); });
    QVector<int> numbers;
    for (const Row &row : std::as_const(order))
        numbers.append(row.n);
    return numbers;
}

}

class TestServerSources : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerDatabase> m_template;
    std::unique_ptr<ServerDatabase> m_db;
    std::unique_ptr<dravon::Connection> m_conn;

    std::unique_ptr<dravon::RecordSet> open(const QString &sql) { return SQLDataSet(sql, *m_conn); }

    // The server's connections to the test database other than the one given.
    int otherConnections()
    {
        return m_db->query(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                                          "AND pid <> pg_backend_pid()"))
            .value(0)
            .toInt();
    }

private slots:
    void initTestCase()
    {
        // One database with the program's tables and rows, copied for each test.
        m_template = std::make_unique<ServerDatabase>();
        dravon::Connection setup;
        setup.setServerAddress(m_template->address());
        setup.open();
        setup.close();
        m_template->exec(seedScores(scoreRows));
    }

    void init()
    {
        // Tables of any size take the worker's path here.
        dravon::TableSource::setCountAtOpenLimitForTesting(0);
        m_db = std::make_unique<ServerDatabase>(m_template->name());
        m_conn = std::make_unique<dravon::Connection>();
        m_conn->setServerAddress(m_db->address());
        m_conn->open();
    }

    void cleanup()
    {
        dravon::RowCounter::holdCheckpointsForTesting(false);
        dravon::TableSource::setCountAtOpenLimitForTesting(dravon::TableSource::defaultCountAtOpenLimit);
        dravon::RowSource::setSortHereLimitForTesting(dravon::RowSource::defaultSortHereLimit);
        dravon::KeyOrder::holdForTesting(false);
        dravon::setSortSamplePagesForTesting(0);
        m_conn.reset();
        m_db.reset();
    }

    void cleanupTestCase() { m_template.reset(); }

    // The first page shows before the count; the count arrives first, then the
    // checkpoints, without moving a row; rows stored elsewhere after the set
    // opened stay out; a row changed deep in the set is the row that was shown.
    void tableShowsItsFirstPageBeforeItsCount_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("step");  // student number = position * step + step
        QTest::newRow("whole table") << QString() << scoreRows << 1;
        QTest::newRow("with a condition") << QStringLiteral(" Where SubjectID = '1'") << scoreRows / 2 << 2;
    }
    void tableShowsItsFirstPageBeforeItsCount()
    {
        QFETCH(QString, condition);
        QFETCH(int, expected);
        QFETCH(int, step);
        dravon::RowCounter::holdCheckpointsForTesting(true);
        auto rs = open(QStringLiteral("Select * From Score") + condition);
        QVERIFY(!rs->isReadOnly());
        QVERIFY(!rs->countKnown());
        QVERIFY2(rs->rowsFetched() <= 128, qPrintable(QString::number(rs->rowsFetched())));
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        QCOMPARE(rs->text(0, sid), student(step));
        m_db->exec(QStringLiteral("INSERT INTO \"Score\" (\"StudentID\", \"SubjectID\") VALUES ('later', '1')"));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 20000);
        QCOMPARE(rs->recordCount(), expected);
        QVERIFY(!rs->positionsKnown());
        const qint64 before = rs->rowsFetched();
        for (int row : {700, expected / 2, expected - 1})
            QCOMPARE(rs->text(row, sid), student(row * step + step));
        QVERIFY2(rs->rowsFetched() - before <= 3 * 128, qPrintable(QString::number(rs->rowsFetched() - before)));
        rs->moveTo(expected / 2);
        dravon::RowCounter::holdCheckpointsForTesting(false);
        rs->waitForCount();
        QVERIFY(rs->positionsKnown());
        QCOMPARE(rs->recNo(), expected / 2);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), student(expected / 2 * step + step));
        rs->edit();
        rs->setFieldText(QStringLiteral("Remark"), QStringLiteral("改过"));
        rs->post();
        QCOMPARE(m_db->query(QStringLiteral("SELECT \"StudentID\" FROM \"Score\" WHERE \"Remark\" = '改过'")),
                 QStringList{student(expected / 2 * step + step)});
        rs->last();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), student(expected * step));
        QCOMPARE(rs->recordCount(), expected);
    }

    // A query result: the first page at once, the rest copied by a worker
    // (count and deep rows right), and sorted as the file sorts: empty
    // values first, numbers by value, texts byte by byte, equal values in
    // their order as read; a small result is known at once and sorts too.
    void queryResultIsCopiedAndSortsAsOnTheFile_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("readWhole");
        QTest::newRow("large") << QString() << scoreRows << false;
        QTest::newRow("a few pages, read whole after the first") << QStringLiteral(" And B.Id <= 700") << 700 << true;
        QTest::newRow("one page") << QStringLiteral(" And B.Id <= 50") << 50 << true;
    }
    void queryResultIsCopiedAndSortsAsOnTheFile()
    {
        QFETCH(QString, where);
        QFETCH(int, expected);
        QFETCH(bool, readWhole);
        const int program = otherConnections();
        auto rs = open(QStringLiteral("Select B.StudentID, B.Score, B.Term From SubjectInfo A, Score B "
                                      "Where A.SubjectID = B.SubjectID%1 Order By B.Id")
                           .arg(where));
        QVERIFY(rs->isReadOnly());
        // The first page alone before the events posted meanwhile (the paint) have run.
        QCOMPARE(rs->countKnown(), expected < 128);
        QCOMPARE(rs->rowsFetched(), qint64(qMin(expected, 128)));
        QCOMPARE(rs->text(0, 0), student(1));
        if (readWhole) {
            // The rest of a few pages follows without a worker.
            QTRY_VERIFY(rs->countKnown());
            QCOMPARE(rs->rowsFetched(), qint64(expected));
            QCOMPARE(otherConnections(), program);
        }
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), expected);
        QCOMPARE(rs->text(expected - 1, 0), student(expected));
        QCOMPARE(rs->fields().at(1).type, dravon::FieldType::Real);

        auto check = [&](int field, bool descending) {
            const QVector<int> order = seededOrder(expected, field == 1 ? SortColumn::Score : SortColumn::Term, descending);
            QVERIFY(rs->sortBy(field, descending));
            QCOMPARE(rs->recordCount(), expected);
            for (int row : {0, 1, expected / 3, expected / 2, expected - 2, expected - 1})
                QCOMPARE(rs->text(row, 0), student(order[row]));
        };
        check(1, false);
        check(1, true);
        check(2, false);
        check(2, true);
    }

    // A result of many of the worker's batches (the rows of one insert):
    // every row once, in order, across the batches' seams and in the last,
    // short one; a failure late in the result is tried once more and then
    // reaches the user with the server's reason, and the program's session
    // stays usable.
    void longResultIsCopiedAcrossBatches()
    {
        auto rs = open(QStringLiteral("Select g, 'r' || g From generate_series(1, 12345) g"));
        QVERIFY(!rs->countKnown());
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), 12345);
        for (int row : {0, 63, 64, 127, 128, 4999, 5000, 12287, 12288, 12344}) {
            QCOMPARE(rs->text(row, 0), QString::number(row + 1));
            QCOMPARE(rs->text(row, 1), QStringLiteral("r%1").arg(row + 1));
        }
        QVERIFY(rs->sortBy(0, true));
        QCOMPARE(rs->text(0, 0), QStringLiteral("12345"));
        QCOMPARE(rs->text(12344, 0), QStringLiteral("1"));

        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtWarningMsg)
                warnings << text;
        });
        auto failing = open(QStringLiteral("Select g, 1 / (g - 7000) From generate_series(1, 9000) g"));
        QSignalSpy told(failing.get(), &dravon::RecordSet::readFailed);
        QTRY_COMPARE_WITH_TIMEOUT(told.count(), 1, 20000);
        qInstallMessageHandler(previous);
        QCOMPARE(warnings.size(), 2);
        QVERIFY2(warnings.first().contains(QStringLiteral("division by zero")), qPrintable(warnings.first()));
        const QString text = told.first().first().toString();
        QVERIFY2(text.startsWith(QStringLiteral("数据库无法执行语句 \"Select g, 1 / (g - 7000)"))
                     && text.contains(QStringLiteral("division by zero")),
                 qPrintable(text));
        QVERIFY(!failing->countKnown());
        QCOMPARE(failing->text(127, 0), QStringLiteral("128"));
        QCOMPARE(open(QStringLiteral("Select count(*) From Score"))->text(0, 0), QString::number(scoreRows));
    }

    // Values of every kind come out of the worker's copy as the first page
    // showed them: NULL and the text \N, tabs, line ends and backslashes,
    // Chinese, truth values and numbers (sorted as numbers, not as text),
    // dates; a statement ending in a comment is copied too; and a result
    // many times the connection's buffers arrives whole and in order.
    void copyKeepsEveryValueAsTheFirstPageShowedIt()
    {
        auto rs = open(QStringLiteral(
            "Select g, CASE g % 5 WHEN 0 THEN NULL WHEN 1 THEN 'a' || chr(9) || 'b' || chr(10) || 'c' || chr(92) || g "
            "WHEN 2 THEN chr(92) || 'N' WHEN 3 THEN '' ELSE '王' || g END As v, g % 2 = 0 As even, 1000.5 - g * 0.5 As half, "
            "CAST('2020-01-01' AS date) + g As day From generate_series(1, 3000) g Order By g -- the last line"));
        auto expectRow = [&](int row) {
            const int g = row + 1;
            rs->moveTo(row);
            const QVariant v = rs->fieldValue(QStringLiteral("v"));
            switch (g % 5) {
            case 0: QVERIFY2(v.isNull(), qPrintable(QString::number(g))); break;
            case 1: QCOMPARE(v.toString(), QStringLiteral("a\tb\nc\\%1").arg(g)); break;
            case 2: QCOMPARE(v.toString(), QStringLiteral("\\N")); break;
            case 3: QVERIFY(!v.isNull()); QCOMPARE(v.toString(), QString()); break;
            default: QCOMPARE(v.toString(), QStringLiteral("王%1").arg(g));
            }
            QCOMPARE(rs->fieldValue(QStringLiteral("even")).toLongLong(), g % 2 == 0 ? 1 : 0);
            QCOMPARE(rs->fieldValue(QStringLiteral("half")).toDouble(), 1000.5 - g * 0.5);
            QCOMPARE(rs->fieldValue(QStringLiteral("day")).toDate(), QDate(2020, 1, 1).addDays(g));
        };
        for (int row = 0; row < 5; ++row)
            expectRow(row);
        QVERIFY(!rs->countKnown());
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), 3000);
        for (int row : {0, 1, 2, 3, 4, 1500, 1501, 1502, 1503, 1504, 2999})
            expectRow(row);
        QVERIFY(rs->sortBy(3, false));
        QCOMPARE(rs->text(0, 0), QStringLiteral("3000"));
        QCOMPARE(rs->text(2999, 0), QStringLiteral("1"));
        QVERIFY(rs->sortBy(2, false));
        QCOMPARE(rs->text(0, 0), QStringLiteral("1"));
        QCOMPARE(rs->text(1500, 0), QStringLiteral("2"));

        const int rows = 100000;
        auto large = open(QStringLiteral("Select g, repeat(chr(19990 + g % 50), 60) || g From generate_series(1, %1) g").arg(rows));
        large->waitForCount();
        QCOMPARE(large->recordCount(), rows);
        for (int row = 0; row < rows; row += 997)
            QCOMPARE(large->text(row, 1), QString(60, QChar(19990 + (row + 1) % 50)) + QString::number(row + 1));
        QCOMPARE(large->text(rows - 1, 0), QString::number(rows));
    }

    // The tables and columns are read once per connection: a table made
    // later by another program is found when it is first asked for, and a
    // column added through the program's own statement shows at once.
    void tablesMadeAfterOpeningAreFound()
    {
        m_db->exec(QStringLiteral("CREATE TABLE \"Extra\" (\"Id\" bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                                  "\"Name\" text); INSERT INTO \"Extra\" (\"Name\") VALUES ('一')"));
        auto extra = open(QStringLiteral("Select * From extra"));
        QVERIFY(!extra->isReadOnly());
        QCOMPARE(extra->fieldText(QStringLiteral("Name")), QStringLiteral("一"));
        SQLExecute(QStringLiteral("ALTER TABLE \"Extra\" ADD COLUMN \"Note\" text DEFAULT '注'"), *m_conn);
        auto again = open(QStringLiteral("Select * From Extra"));
        QCOMPARE(again->fieldText(QStringLiteral("Note")), QStringLiteral("注"));
        QCOMPARE(again->fields().size(), extra->fields().size() + 1);
    }

    // A query over a table that another program made after the connection
    // opened, with names in mixed case, reaches it by the names as written in
    // the program's statements: through a query's record set, a search, a
    // change and a read statement. A query over known tables does not read
    // the names again.
    void queriesOverTablesMadeAfterOpeningAreRewritten_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("join") << QStringLiteral("Select N.NoticeText, S.SubName From Notice N, SubjectInfo S "
                                                "Where N.SubjectID = S.SubjectID")
                              << QStringLiteral("期末|语文");
        QTest::newRow("like") << QStringLiteral("Select NoticeText From [notice] Where NoticeText Like '期%'")
                              << QStringLiteral("期末");
        QTest::newRow("plain table with a condition")
            << QStringLiteral("Select * From Notice Where NoticeText = '期末'") << QStringLiteral("1|期末|1");
    }

    void queriesOverTablesMadeAfterOpeningAreRewritten()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        m_db->exec(QStringLiteral("CREATE TABLE \"Notice\" (\"Id\" bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                                  "\"NoticeText\" text, \"SubjectID\" text); "
                                  "INSERT INTO \"Notice\" (\"NoticeText\", \"SubjectID\") VALUES ('期末', '1')"));
        QCOMPARE(open(QStringLiteral("Select SubName From SubjectInfo Where SubjectID = '1'"))->text(0, 0),
                 QStringLiteral("语文"));
        QCOMPARE(m_conn->dialect().quoteName(QStringLiteral("noticetext")), QStringLiteral("\"noticetext\""));

        auto rs = open(sql);
        QStringList row;
        for (int c = 0; c < rs->fields().size(); ++c)
            row << rs->text(0, c);
        QCOMPARE(row.join(QLatin1Char('|')), expected);
        QCOMPARE(m_conn->dialect().quoteName(QStringLiteral("noticetext")), QStringLiteral("\"NoticeText\""));
    }

    // The other statement paths notice a table made after opening as well.
    void searchesAndChangesOverTablesMadeAfterOpening()
    {
        m_db->exec(QStringLiteral("CREATE TABLE \"Notice\" (\"Id\" bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                                  "\"NoticeText\" text)"));
        SQLExecute(QStringLiteral("Insert Into Notice (NoticeText) Values ('期末')"), *m_conn);
        QVERIFY(SQLSearch(QStringLiteral("Select * From Notice Where NoticeText = '期末'"), *m_conn));
        m_db->exec(QStringLiteral("CREATE TABLE \"Later\" (\"LaterText\" text); INSERT INTO \"Later\" VALUES ('晚')"));
        dravon::ReadStatement read(*m_conn, QStringLiteral("Select LaterText From Later Where LaterText = ?1"));
        read.bind(1, QStringLiteral("晚"));
        QVERIFY(read.step());
        QCOMPARE(read.text(0), QStringLiteral("晚"));
    }

    // A statement without an order over a table larger than a quarter of the
    // server's buffers, after another session's scan of it stopped part way:
    // the first pages and the worker's copy give the rows in one
    // order (the server would start such a scan where the other one stopped).
    void unorderedResultKeepsItsOrder()
    {
        const int rows = 600000;
        m_db->exec(QStringLiteral("CREATE TABLE \"Big\" AS SELECT g AS \"Id\", md5(g::text) AS \"Text\" "
                                  "FROM generate_series(1, %1) g").arg(rows));
        const QString stopped = QStringLiteral("BEGIN READ ONLY; DECLARE part NO SCROLL CURSOR FOR SELECT * FROM \"Big\"; "
                                               "MOVE FORWARD %1 IN part; ROLLBACK").arg(rows / 2);
        m_db->exec(stopped);
        auto rs = open(QStringLiteral("Select \"Id\" From \"Big\""));
        QCOMPARE(rs->text(0, 0), QStringLiteral("1"));
        // The rows read on after the first page (or the copy).
        QTRY_VERIFY_WITH_TIMEOUT(rs->recordCount() > 1000, 20000);
        QCOMPARE(rs->text(1000, 0), QStringLiteral("1001"));
        m_db->exec(stopped);
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), rows);
        QCOMPARE(rs->text(0, 0), QStringLiteral("1"));
        QCOMPARE(rs->text(1000, 0), QStringLiteral("1001"));
        QCOMPARE(rs->text(rows - 1, 0), QString::number(rows));
    }

    // A statement whose order the server may give differently each time it
    // runs (here every time): the rows shown before the copy arrives keep
    // their places when it does, and every row of the copy is there once;
    // the place of a shown row the copy no longer holds goes to another.
    void shownRowsKeepTheirPlacesWhenTheCopyArrives_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("sameRows");
        QTest::newRow("distinct rows") << QStringLiteral("Select g, 'r' || g From generate_series(1, 3000) g Order By random()")
                                       << true;
        QTest::newRow("equal rows") << QStringLiteral("Select g % 40, 'r' || (g % 3) From generate_series(1, 3000) g "
                                                      "Order By random()")
                                    << true;
        QTest::newRow("tabs, line ends, backslashes")
            << QStringLiteral("Select g, 'r' || chr(9) || (g % 7) || chr(10) || chr(92) From generate_series(1, 3000) g "
                              "Order By random()")
            << true;
        QTest::newRow("other rows each time")
            << QStringLiteral("Select g, 'r' || g From generate_series(1, 3000) g Where random() < 0.9 Order By random()")
            << false;
    }
    void shownRowsKeepTheirPlacesWhenTheCopyArrives()
    {
        QFETCH(QString, sql);
        QFETCH(bool, sameRows);
        auto rs = open(sql);
        QVERIFY(!rs->countKnown());
        QStringList shown;
        for (int row = 0; row < rs->rowsFetched(); ++row)
            shown << rs->text(row, 0) + QLatin1Char('/') + rs->text(row, 1);
        rs->waitForCount();
        QStringList all;
        for (int row = 0; row < rs->recordCount(); ++row)
            all << rs->text(row, 0) + QLatin1Char('/') + rs->text(row, 1);
        if (sameRows) {
            QCOMPARE(all.size(), 3000);
            QCOMPARE(all.mid(0, shown.size()), shown);
        } else {
            // The shown rows still there are where they were; the places of
            // those gone are taken by other rows of the copy.
            int kept = 0;
            for (int row = 0; row < shown.size(); ++row) {
                if (!all.contains(shown[row]))
                    continue;
                ++kept;
                QCOMPARE(all.value(row), shown[row]);
            }
            QVERIFY(kept > 0);
        }
        QVERIFY(!all.contains(QStringLiteral("/")));
        if (!sql.contains(QLatin1Char('%')))
            QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), all.size());
    }

    // The copy comes in another order than the cursor's pages: here the
    // statement orders by the session that runs it, on a real server a
    // parallel plan does it (forced by the planner's settings for the last
    // case). Every row read by scrolling keeps its place when the copy
    // arrives, whether it was read before the copy started, while it ran, or
    // once its rows were all in; every row is there once.
    void everyRowReadKeepsItsPlaceWhenTheCopyArrives_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("read");  // rows read by scrolling from the first
        QTest::addColumn<QString>("when");
        const QString bySession = QStringLiteral("Select g, 'r' || g From generate_series(1, %1) g "
                                                 "Order By md5(g || ':' || pg_backend_pid())");
        QTest::newRow("read before the copy starts") << bySession.arg(5000) << 5000 << 3000 << "before";
        QTest::newRow("read while the copy runs") << bySession.arg(60000) << 60000 << 3000 << "while";
        QTest::newRow("read once the copy's rows are in") << bySession.arg(60000) << 60000 << 3000 << "in";
        QTest::newRow("parallel plan, read while the copy runs")
            << QStringLiteral("Select \"Id\", \"Text\" From \"Big\"") << 300000 << 3000 << "while";
    }
    void everyRowReadKeepsItsPlaceWhenTheCopyArrives()
    {
        QFETCH(QString, sql);
        QFETCH(int, rows);
        QFETCH(int, read);
        QFETCH(QString, when);
        if (sql.contains(QLatin1String("Big"))) {
            m_db->exec(QStringLiteral("CREATE TABLE \"Big\" AS SELECT g AS \"Id\", md5(g::text) AS \"Text\" "
                                      "FROM generate_series(1, %1) g; ANALYZE \"Big\"")
                           .arg(rows));
            // Sessions started from now on (the copy's) plan with parallel
            // workers, whose rows come interleaved from the first on.
            m_db->exec(QStringLiteral("ALTER DATABASE \"%1\" SET parallel_setup_cost = 0; "
                                      "ALTER DATABASE \"%1\" SET parallel_tuple_cost = 0; "
                                      "ALTER DATABASE \"%1\" SET min_parallel_table_scan_size = 0; "
                                      "ALTER DATABASE \"%1\" SET max_parallel_workers_per_gather = 4; "
                                      "ALTER DATABASE \"%1\" SET parallel_leader_participation = off")
                           .arg(m_db->name()));
        }
        auto copying = [&] {
            return m_db->query(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                                              "AND state = 'active' AND query LIKE 'COPY (%'"))
                       .value(0)
                       .toInt()
                   > 0;
        };
        auto rs = open(sql);
        QVERIFY(!rs->countKnown());
        if (when != QLatin1String("before")) {
            // Events until the copy runs on the server (it starts after the paint).
            QElapsedTimer clock;
            clock.start();
            while (!copying() && !rs->countKnown() && clock.elapsed() < 20000)
                QCoreApplication::processEvents();
            QVERIFY(!rs->countKnown());
        }
        if (when == QLatin1String("in")) {
            // Its rows all in, not yet taken (that needs the events).
            QElapsedTimer clock;
            clock.start();
            while (copying() && clock.elapsed() < 20000)
                QThread::msleep(10);
            QThread::msleep(500);
        }
        // Scrolled as a grid scrolls: more rows as the last ones show.
        QStringList seen;
        for (int row = 0; row < read; ++row) {
            while (row >= rs->recordCount() && rs->canFetchMore({}))
                rs->fetchMore({});
            seen << rs->text(row, 0) + QLatin1Char('/') + rs->text(row, 1);
        }
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), rows);
        QStringList all;
        for (int row = 0; row < rows; ++row)
            all << rs->text(row, 0) + QLatin1Char('/') + rs->text(row, 1);
        for (int row = 0; row < read; ++row)
            QVERIFY2(all[row] == seen[row], qPrintable(QStringLiteral("row %1 was %2, is %3").arg(row).arg(seen[row], all[row])));
        QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), rows);
        QVERIFY(!all.contains(QStringLiteral("/")));
    }

    // A large table sorted by a column shows its first pages (the first and
    // last rows, those around the current one) from a worker's own session
    // before the whole order arrives; they agree row for row with the
    // file's order, over empty values, ties, numbers and texts. When the
    // whole order comes no known row moves and the views are not reset.
    void largeTableSortShowsItsPagesFirst_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<int>("keep");
        // Table pages sampled to bound the pages' rows (0: the whole small table).
        QTest::addColumn<int>("samplePages");
        QTest::newRow("scores ascending, current row empty") << "Score" << false << 1399 << 0;
        QTest::newRow("scores descending, current row in the middle") << "Score" << true << 1500 << 0;
        QTest::newRow("terms ascending, first row current") << "Term" << false << 0 << 0;
        QTest::newRow("scores descending, current row empty") << "Score" << true << 2995 << 0;
        QTest::newRow("sampled: scores ascending, current row empty") << "Score" << false << 1399 << 3;
        QTest::newRow("sampled: scores descending, current row in the middle") << "Score" << true << 1500 << 3;
        QTest::newRow("sampled: terms descending, last row current") << "Term" << true << 2999 << 2;
        QTest::newRow("sampled: scores ascending, near the first rows") << "Score" << false << 40 << 1;
    }
    void largeTableSortShowsItsPagesFirst()
    {
        QFETCH(QString, column);
        QFETCH(bool, descending);
        QFETCH(int, keep);
        QFETCH(int, samplePages);
        dravon::setSortSamplePagesForTesting(samplePages);
        dravon::RowSource::setSortHereLimitForTesting(0);
        auto rs = open(QStringLiteral("Select * From Score"));
        rs->waitForCount();
        rs->moveTo(keep);
        const QString kept = rs->fieldText(QStringLiteral("StudentID"));
        QCOMPARE(kept, student(keep + 1));
        QStringList expected;
        for (int n : seededOrder(scoreRows, column == QLatin1String("Score") ? SortColumn::Score : SortColumn::Term,
                                 descending))
            expected << student(n);
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        QSignalSpy resets(rs.get(), &QAbstractItemModel::modelReset);
        // Only the program's own session: the count worker has closed its own
        // (its session leaves the server's list a moment after the count).
        QTRY_COMPARE_WITH_TIMEOUT(otherConnections(), 1, 10000);
        const int program = 1;

        dravon::KeyOrder::holdForTesting(true);  // the whole order waits
        QVERIFY(rs->sortBy(rs->fieldIndex(column), descending));
        QVERIFY(rs->orderPending());
        QCOMPARE(otherConnections(), program + 1);  // the worker's session
        QCOMPARE(rs->recordCount(), scoreRows);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), kept);
        QCOMPARE(rs->recNo(), int(expected.indexOf(kept)));
        int known = 0;
        for (int row = 0; row < scoreRows; ++row) {
            const QString shown = rs->data(rs->index(row, sid)).toString();
            if (shown.isEmpty())
                continue;
            QCOMPARE(shown, expected[row]);
            ++known;
        }
        for (int row : {0, 127, scoreRows - 128, scoreRows - 1, rs->recNo()})
            QCOMPARE(rs->data(rs->index(row, sid)).toString(), expected[row]);
        QVERIFY2(known >= 256 && known <= 3 * 128 + 1, qPrintable(QString::number(known)));

        resets.clear();
        const int current = rs->recNo();
        dravon::KeyOrder::holdForTesting(false);
        QTRY_VERIFY_WITH_TIMEOUT(!rs->orderPending(), 20000);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(rs->recNo(), current);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), kept);
        for (int row = 0; row < scoreRows; ++row)
            QCOMPARE(rs->data(rs->index(row, sid)).toString(), expected[row]);
        QTRY_COMPARE_WITH_TIMEOUT(otherConnections(), program, 10000);
    }

    // 取消 while the server reads the first pages stops the worker's
    // statement there and leaves the order as it was. A cancelled wait for
    // the rest of an order keeps the current record and the rows shown; a
    // Save then waits for the whole order, read again, and stores the row.
    void cancelledServerSortKeepsTheShownRows()
    {
        dravon::RowSource::setSortHereLimitForTesting(0);
        auto rs = open(QStringLiteral("Select * From Score"));
        rs->waitForCount();
        rs->moveTo(1500);
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        const int score = rs->fieldIndex(QStringLiteral("Score"));
        {
            // Another session holds the table: the worker's statement waits
            // on the server until it is stopped (or, at last, the server
            // ends the idle holder).
            dravon::pg::Session holder(m_db->address());
            holder.exec(QStringLiteral("SET idle_in_transaction_session_timeout = '8s'"));
            holder.exec(QStringLiteral("BEGIN"));
            holder.exec(QStringLiteral("LOCK TABLE \"Score\" IN ACCESS EXCLUSIVE MODE"));
            int asked = 0;
            QElapsedTimer clock;
            clock.start();
            QVERIFY(!rs->sortBy(score, false, [&](qint64, qint64) { return ++asked < 5; }));
            const qint64 took = clock.elapsed();
            QVERIFY2(took < 3000, qPrintable(QString::number(took)));
            QCOMPARE(rs->sortField(), -1);
            QCOMPARE(rs->recNo(), 1500);
            QCOMPARE(rs->text(0, sid), student(1));
            QTRY_COMPARE_WITH_TIMEOUT(m_db->query(QStringLiteral("SELECT count(*) FROM pg_stat_activity "
                                                                 "WHERE wait_event_type = 'Lock' AND datname = current_database() "
                                                                 "AND pid <> pg_backend_pid()")),
                                      QStringList{"0"}, 2000);
            holder.exec(QStringLiteral("ROLLBACK"));
        }

        const QString kept = rs->fieldText(QStringLiteral("StudentID"));
        QStringList expected;
        for (int n : seededOrder(scoreRows, SortColumn::Score, false))
            expected << student(n);
        dravon::KeyOrder::holdForTesting(true);
        QVERIFY(rs->sortBy(score, false));
        const int current = rs->recNo();
        int unknown = 200;
        while (!rs->data(rs->index(unknown, sid)).toString().isEmpty())
            ++unknown;
        int waits = 0;
        rs->setLongWait([&](const std::function<void(const dravon::Progress &)> &work) {
            ++waits;
            work([](qint64, qint64) { return false; });
        });
        rs->moveTo(unknown);
        QCOMPARE(waits, 1);
        QCOMPARE(rs->recNo(), current);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), kept);
        QVERIFY(rs->orderPending());
        QCOMPARE(rs->data(rs->index(0, sid)).toString(), expected[0]);
        QVERIFY(rs->data(rs->index(unknown, sid)).toString().isEmpty());

        dravon::KeyOrder::holdForTesting(false);
        rs->edit();
        rs->setFieldText(QStringLiteral("Remark"), QStringLiteral("改过"));
        rs->post();
        QVERIFY(!rs->orderPending());
        QCOMPARE(rs->recNo(), current);
        QCOMPARE(m_db->query(QStringLiteral("SELECT \"StudentID\" FROM \"Score\" WHERE \"Remark\" = '改过'")),
                 QStringList{kept});
        QCOMPARE(rs->data(rs->index(unknown, sid)).toString(), expected[unknown]);
    }

    // The read of a few pages more, sent with the first page, is still under
    // way when other statements come on the session: they wait for it, the
    // set still gets its rows (also when it asks before its events ran), in
    // order and once each, and no transaction is left open.
    void fewPagesReadOnWhileOthersRead()
    {
        const int program = otherConnections();
        const QString sql = QStringLiteral("Select g, 'r' || g From generate_series(1, 700) g");
        auto first = open(sql);
        auto between = open(QStringLiteral("Select count(*) From Score"));
        QCOMPARE(between->text(0, 0), QString::number(scoreRows));
        QVERIFY(!m_conn->session().inTransaction());
        auto last = open(sql);
        QVERIFY(!last->countKnown());
        last->last();
        QCOMPARE(last->recNo(), 699);
        QVERIFY(last->countKnown());
        auto scrolled = open(sql);
        QVERIFY(scrolled->canFetchMore({}));
        scrolled->fetchMore({});
        QVERIFY(scrolled->countKnown());
        auto waiting = open(sql);
        waiting->waitForCount();
        QTRY_VERIFY(first->countKnown());
        for (dravon::RecordSet *rs : {first.get(), last.get(), scrolled.get(), waiting.get()}) {
            QCOMPARE(rs->recordCount(), 700);
            QCOMPARE(rs->rowsFetched(), qint64(700));
            for (int row : {0, 127, 128, 129, 699})
                QCOMPARE(rs->text(row, 1), QStringLiteral("r%1").arg(row + 1));
        }
        QCOMPARE(otherConnections(), program);
        QVERIFY(!m_conn->session().inTransaction());
        // A set closed before it took its rows leaves the session as usable.
        open(sql).reset();
        QCOMPARE(open(QStringLiteral("Select count(*) From Score"))->text(0, 0), QString::number(scoreRows));
        QVERIFY(!m_conn->session().inTransaction());
    }

    // A result the server produces slowly: the first page, then the rest by
    // the worker (the read of more rows at once gives up within its time).
    void slowResultIsLeftToTheWorker()
    {
        QElapsedTimer clock;
        clock.start();
        auto rs = open(QStringLiteral("Select g, pg_sleep(0.0005) From generate_series(1, 2000) g"));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!rs->countKnown());
        QCOMPARE(rs->rowsFetched(), qint64(128));
        QCOMPARE(rs->text(127, 0), QStringLiteral("128"));
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), 2000);
        QCOMPARE(rs->text(1999, 0), QStringLiteral("2000"));
        // The session is usable after the read that gave up.
        QCOMPARE(open(QStringLiteral("Select count(*) From Score"))->text(0, 0), QString::number(scoreRows));
    }

    // A statement that is not a query is refused with the server's reason
    // and changes nothing.
    void statementThatIsNoQueryIsRefused()
    {
        QString failure;
        try {
            open(QStringLiteral("Delete From Score"));
        } catch (const dravon::Error &e) {
            failure = e.text();
        }
        QVERIFY2(failure.contains(QStringLiteral("数据库无法执行语句")), qPrintable(failure));
        QCOMPARE(m_db->query(QStringLiteral("SELECT count(*) FROM \"Score\"")), QStringList{QString::number(scoreRows)});
        // The program's session is ready for the next statement.
        QVERIFY(!m_conn->session().inTransaction());
        QCOMPARE(open(QStringLiteral("Select count(*) From Score"))->text(0, 0), QString::number(scoreRows));
    }

    // Sets closed while their workers run: the workers stop at once (also in
    // the middle of a statement) and close their connections.
    void closingStopsTheWorkers()
    {
        dravon::RowCounter::holdCheckpointsForTesting(true);
        const int program = otherConnections();  // the set's own connection
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 3; ++i) {
            auto table = open(QStringLiteral("Select * From Score"));
            auto query = open(QStringLiteral("Select B.* From SubjectInfo A, Score B, Score C "
                                             "Where A.SubjectID = B.SubjectID And C.Id <= 2000"));
            // The workers start after the events posted so far.
            QTRY_VERIFY_WITH_TIMEOUT(otherConnections() >= program + 2, 10000);
        }
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(otherConnections(), program, 10000);
    }
};

QTEST_GUILESS_MAIN(TestServerSources)
#include "tst_serversources.moc"
