// Record sets over a PostgreSQL server at a size where the workers take part:
// a table shows its first page before its count (learnt on a connection of
// its own) and then writes the right rows; a query result shows its first
// page before it has been read to its end, is copied whole by a worker, and
// sorts as on the file; closing a set stops its worker and leaves no
// connection behind.
#include "data/Connection.h"
#include "data/Dravon.h"
#include "data/Error.h"
#include "data/RecordSet.h"
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
        QTest::addColumn<bool>("knownAtOnce");
        QTest::newRow("large") << QString() << scoreRows << false;
        QTest::newRow("a few pages, read whole at once") << QStringLiteral(" And B.Id <= 700") << 700 << true;
        QTest::newRow("one page") << QStringLiteral(" And B.Id <= 50") << 50 << true;
    }
    void queryResultIsCopiedAndSortsAsOnTheFile()
    {
        QFETCH(QString, where);
        QFETCH(int, expected);
        QFETCH(bool, knownAtOnce);
        auto rs = open(QStringLiteral("Select B.StudentID, B.Score, B.Term From SubjectInfo A, Score B "
                                      "Where A.SubjectID = B.SubjectID%1 Order By B.Id")
                           .arg(where));
        QVERIFY(rs->isReadOnly());
        QCOMPARE(rs->countKnown(), knownAtOnce);
        QVERIFY(rs->rowsFetched() <= 128 + 1024);
        QCOMPARE(rs->text(0, 0), student(1));
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), expected);
        QCOMPARE(rs->text(expected - 1, 0), student(expected));
        QCOMPARE(rs->fields().at(1).type, dravon::FieldType::Real);

        // The expected orders, from the rows as the server holds them.
        struct Row
        {
            int n;
            QVariant score;
            QByteArray term;
        };
        QVector<Row> rows;
        for (int n = 1; n <= expected; ++n)
            rows.append({n, n % 7 == 0 ? QVariant() : QVariant((n * 37) % 101),
                         QByteArrayList{"第一学期", "第二学期", "Term B", "term a"}.at(n % 4)});
        auto check = [&](int field, bool descending) {
            QVector<Row> order = rows;
            std::stable_sort(order.begin(), order.end(), [&](const Row &a, const Row &b) {
                auto less = [&](const Row &x, const Row &y) {
                    if (field == 1)
                        return y.score.isValid() && (!x.score.isValid() || x.score.toInt() < y.score.toInt());
                    return x.term < y.term;
                };
                return descending ? less(b, a) : less(a, b);
            });
            QVERIFY(rs->sortBy(field, descending));
            QCOMPARE(rs->recordCount(), expected);
            for (int row : {0, 1, expected / 3, expected / 2, expected - 2, expected - 1})
                QCOMPARE(rs->text(row, 0), student(order[row].n));
        };
        check(1, false);
        check(1, true);
        check(2, false);
        check(2, true);
    }

    // A result of several of the worker's batches (the next batch is asked
    // for while the last one is written): every row once, in order, across
    // the batches' seams; a failure in a later batch is reported and the
    // program's session stays usable.
    void longResultIsCopiedAcrossBatches()
    {
        auto rs = open(QStringLiteral("Select g, 'r' || g From generate_series(1, 12345) g"));
        QVERIFY(!rs->countKnown());
        rs->waitForCount();
        QCOMPARE(rs->recordCount(), 12345);
        for (int row : {0, 4998, 4999, 5000, 9999, 10000, 12344}) {
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
        QTRY_VERIFY_WITH_TIMEOUT(!warnings.isEmpty(), 20000);
        qInstallMessageHandler(previous);
        QVERIFY2(warnings.first().contains(QStringLiteral("division by zero")), qPrintable(warnings.first()));
        QCOMPARE(open(QStringLiteral("Select count(*) From Score"))->text(0, 0), QString::number(scoreRows));
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
