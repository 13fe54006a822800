// The record set's rows over large tables and query results (first rows at
// once, the count learnt later, the last rows without the count), and its
// writes while another program uses the same file: a row changed, deleted
// and replaced, or the file vacuumed, is never overwritten.
#include "data/BusyWait.h"
#include "data/Dravon.h"
#include "data/TableSource.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>
#include <sqlite3.h>
#include <atomic>
#include <thread>

using dravon::DataSetState;
using testsupport::TestWorkspace;

namespace {

const QString changedElsewhere = QStringLiteral(
    "该记录已被其他用户或程序修改或删除,未保存。当前显示的是数据库中的最新内容,您输入的内容仍保留,可再次保存。");
const QString deletedElsewhere = QStringLiteral("该记录已被其他用户或程序删除,您的修改没有保存,记录已退出编辑状态。");

// Another program on the same file: its own connection, its result code kept.
class OtherProgram
{
public:
    explicit OtherProgram(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(m_db, 200);
    }
    ~OtherProgram() { sqlite3_close(m_db); }
    // Empty when the statements ran, else the engine's message.
    QString exec(const QString &sql)
    {
        char *message = nullptr;
        const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message);
        const QString text = rc == SQLITE_OK ? QString() : QString::fromUtf8(message ? message : "failed");
        sqlite3_free(message);
        return text;
    }

private:
    sqlite3 *m_db = nullptr;
};

}

class RecordSetRowsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<dravon::Connection> conn;

    std::unique_ptr<dravon::RecordSet> open(const QString &sql)
    {
        auto rs = SQLDataSet(sql, *conn);
        new QAbstractItemModelTester(rs.get(), QAbstractItemModelTester::FailureReportingMode::QtTest, rs.get());
        return rs;
    }
    void seedScores(int n)
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < %1) "
                                "INSERT INTO Score (StudentID, Term, Score) SELECT printf('%07d', i), 'T', i % 100 FROM n")
                     .arg(n));
    }
    static QString failureOf(const std::function<void()> &f)
    {
        try {
            f();
        } catch (const dravon::Error &e) {
            return e.text();
        }
        return {};
    }
    static QString id(int i) { return QStringLiteral("%1").arg(i, 7, 10, QLatin1Char('0')); }
    // 3,000 rows of values of every kind in a column of no declared type,
    // each row tagged; large enough to be sorted by pages and a worker.
    std::unique_ptr<dravon::RecordSet> openMixed()
    {
        ws->exec(QStringLiteral(
            "CREATE TABLE Mixed (v, tag TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 3000) "
            "INSERT INTO Mixed SELECT CASE i % 11 WHEN 0 THEN NULL WHEN 1 THEN i % 7 - 3 "
            "WHEN 2 THEN (i % 7 - 3) * 1.0 WHEN 3 THEN (i % 13) / 4.0 - 1.5 WHEN 4 THEN printf('t%d', i % 5) "
            "WHEN 5 THEN '王' || (i % 3) WHEN 6 THEN '' WHEN 7 THEN CAST(printf('b%d', i % 4) AS BLOB) "
            "WHEN 8 THEN 9007199254740993 WHEN 9 THEN 9007199254740992.0 "
            "ELSE CASE WHEN i % 2 = 0 THEN 'ab' ELSE 'abc' END END, printf('r%05d', i) FROM n"));
        dravon::RowSource::setSortHereLimitForTesting(0);
        auto rs = open(QStringLiteral("Select * From Mixed"));
        rs->waitForCount();
        return rs;
    }

private slots:
    void init()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        // Tables of any size here take the worker's paths unless a case says otherwise.
        dravon::TableSource::setCountAtOpenLimitForTesting(0);
        ws = std::make_unique<TestWorkspace>();
        conn = std::make_unique<dravon::Connection>();
        ws->pointAt(*conn);
        conn->open();
    }
    void cleanup()
    {
        dravon::RowCounter::holdCheckpointsForTesting(false);
        dravon::TableSource::setCountAtOpenLimitForTesting(dravon::TableSource::defaultCountAtOpenLimit);
        dravon::RowSource::setSortHereLimitForTesting(dravon::RowSource::defaultSortHereLimit);
        dravon::KeyOrder::holdForTesting(false);
        conn.reset();
        ws.reset();
    }

    void firstRowsAtOnceCountLater()
    {
        seedScores(5000);
        auto rs = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
        QVERIFY(!rs->countKnown());
        QVERIFY2(rs->rowsFetched() <= 256, qPrintable(QString::number(rs->rowsFetched())));
        new QAbstractItemModelTester(rs.get(), QAbstractItemModelTester::FailureReportingMode::QtTest, rs.get());
        QSignalSpy grown(rs.get(), &QAbstractItemModel::rowsInserted);
        QVERIFY(rs->recordCount() > 0 && rs->recordCount() < 5000);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        QCOMPARE(rs->recordCount(), 5000);
        QVERIFY(!grown.isEmpty());
        // Rows in the middle come by one keyset page each.
        const qint64 before = rs->rowsFetched();
        QCOMPARE(rs->text(2500, rs->fieldIndex(QStringLiteral("StudentID"))), id(2501));
        QCOMPARE(rs->text(4999, rs->fieldIndex(QStringLiteral("StudentID"))), id(5000));
        QVERIFY2(rs->rowsFetched() - before <= 256, qPrintable(QString::number(rs->rowsFetched() - before)));
        // Locate finds the key by the index and its position by the checkpoints.
        const qint64 beforeLocate = rs->rowsFetched();
        QVERIFY(rs->locate(QStringLiteral("StudentID"), id(3777)));
        QCOMPARE(rs->recNo(), 3776);
        QVERIFY2(rs->rowsFetched() - beforeLocate <= 256, qPrintable(QString::number(rs->rowsFetched() - beforeLocate)));
    }

    void lastRowWithoutCountThenMiddleFilledIn()
    {
        seedScores(3000);
        auto rs = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
        rs->last();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(3000));
        QVERIFY(rs->eof());
        QVERIFY2(rs->rowsFetched() <= 256, qPrintable(QString::number(rs->rowsFetched())));
        new QAbstractItemModelTester(rs.get(), QAbstractItemModelTester::FailureReportingMode::QtTest, rs.get());
        rs->prior();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(2999));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        // The rows between came in before the current row: it stays current.
        QCOMPARE(rs->recordCount(), 3000);
        QCOMPARE(rs->recNo(), 2998);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(2999));
        QCOMPARE(rs->headerData(2998, Qt::Vertical).toString(), QStringLiteral("\u25B6"));
        for (int row : {0, 127, 128, 1500, 2871, 2872, 2999})
            QCOMPARE(rs->text(row, rs->fieldIndex(QStringLiteral("StudentID"))), id(row + 1));
    }

    void walkingBeforeTheCountSeesEveryRowOnce()
    {
        seedScores(1000);
        auto rs = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
        rs->last();  // the back is read first; walking must not skip the rows between
        rs->first();
        QStringList seen;
        while (!rs->eof()) {
            seen << rs->fieldText(QStringLiteral("StudentID"));
            rs->next();
        }
        QCOMPARE(seen.size(), 1000);
        QCOMPARE(seen.first(), id(1));
        QCOMPARE(seen.last(), id(1000));
        QCOMPARE(seen.removeDuplicates(), 0);
        QVERIFY(rs->countKnown());
        // And backwards from the end, before any count.
        auto back = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
        back->last();
        int walked = 1;
        while (!back->bof()) {
            back->prior();
            if (!back->bof())
                ++walked;
        }
        QCOMPARE(walked, 1000);
        QCOMPARE(back->fieldText(QStringLiteral("StudentID")), id(1));
    }

    void insertAndDeleteWhileTheCountIsLearnt()
    {
        seedScores(2000);
        auto rs = open(QStringLiteral("Select * From Score"));
        rs->moveTo(50);
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("new"));
        rs->post();
        rs->last();
        rs->remove();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1999));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        QCOMPARE(rs->recordCount(), 2000);
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        QCOMPARE(rs->text(50, sid), QStringLiteral("new"));
        QCOMPARE(rs->text(51, sid), id(51));
        QCOMPARE(rs->text(1000, sid), id(1000));
        QCOMPARE(rs->text(1999, sid), id(1999));
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1999));
        // A delete and an insert in the middle, read by checkpoints.
        rs->moveTo(1200);
        rs->remove();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1201));
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("mid"));
        rs->post();
        QCOMPARE(rs->text(1200, sid), QStringLiteral("mid"));
        QCOMPARE(rs->text(1201, sid), id(1201));
        QCOMPARE(rs->text(1199, sid), id(1199));
        QCOMPARE(rs->recordCount(), 2000);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Score")), QStringList({"2000"}));
        QVERIFY(rs->locate(QStringLiteral("StudentID"), QStringLiteral("mid")));
        QCOMPARE(rs->recNo(), 1200);
        QVERIFY(rs->locate(QStringLiteral("StudentID"), id(1500)));
        QCOMPARE(rs->recNo(), 1500);  // after the new row at 50
    }

    void readOnlyQueryWalksForwardAndCountsLater()
    {
        seedScores(3000);
        ws->exec(QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName) SELECT StudentID, 'S' FROM Score"));
        const QString sql = QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID");
        auto rs = SQLDataSet(sql, *conn);
        QVERIFY(rs->isReadOnly());
        QVERIFY(!rs->countKnown());
        QVERIFY2(rs->rowsFetched() <= 256, qPrintable(QString::number(rs->rowsFetched())));
        int walked = 0;
        while (!rs->eof()) {
            ++walked;
            QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(walked));
            rs->next();
        }
        QCOMPARE(walked, 3000);
        QCOMPARE(rs->recordCount(), 3000);
        QVERIFY(rs->countKnown());

        auto counted = open(sql);
        QTRY_VERIFY_WITH_TIMEOUT(counted->countKnown(), 30000);
        QCOMPARE(counted->recordCount(), 3000);
        QCOMPARE(counted->text(2999, counted->fieldIndex(QStringLiteral("StudentID"))), id(3000));
        counted->last();
        QCOMPARE(counted->fieldText(QStringLiteral("StudentID")), id(3000));
    }

    void noLockHeldBetweenEvents()
    {
        seedScores(3000);
        auto table = open(QStringLiteral("Select * From Score"));
        auto query = open(QStringLiteral("Select B.* From Score B, Score A where A.rowid = B.rowid"));
        table->moveTo(100);
        query->next();
        query->text(500, 0);
        QTRY_VERIFY_WITH_TIMEOUT(table->countKnown() && query->countKnown(), 30000);
        QCoreApplication::processEvents();
        OtherProgram other(ws->dbPath());
        QCOMPARE(other.exec(QStringLiteral("INSERT INTO Score (StudentID) VALUES ('other')")), QString());
        QCOMPARE(other.exec(QStringLiteral("VACUUM")), QString());
        // The sets go on reading after the vacuum.
        QCOMPARE(query->text(2000, query->fieldIndex(QStringLiteral("StudentID"))), id(2001));
        QCOMPARE(table->text(2500, table->fieldIndex(QStringLiteral("StudentID"))), id(2501));
    }

    void changeElsewhereIsNotOverwritten_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("column");
        QTest::newRow("master table, text key") << QStringLiteral("DormInfo") << QStringLiteral("DormName");
        QTest::newRow("record table") << QStringLiteral("Dorm") << QStringLiteral("Remark");
    }
    void changeElsewhereIsNotOverwritten()
    {
        QFETCH(QString, table);
        QFETCH(QString, column);
        if (table == QLatin1String("DormInfo"))
            ws->exec(QStringLiteral("INSERT INTO DormInfo (DormID, DormName) VALUES ('2007001', 'A'), ('2007002', 'B')"));
        else
            ws->exec(QStringLiteral("INSERT INTO Dorm (StudentID, Remark) VALUES ('1', 'A'), ('2', 'B')"));
        auto rs = open(QStringLiteral("Select * From ") + table);
        rs->edit();
        rs->setFieldText(column, QStringLiteral("mine"));
        OtherProgram other(ws->dbPath());
        QCOMPARE(other.exec(QStringLiteral("UPDATE %1 SET %2 = 'theirs' WHERE rowid = 1").arg(table, column)), QString());
        QCOMPARE(failureOf([&] { rs->post(); }), changedElsewhere);
        QCOMPARE(ws->query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(column, table)), QStringList({"theirs", "B"}));
        // What is stored now shows under the typed value; saving again applies it.
        QCOMPARE(rs->state(), DataSetState::Edit);
        QCOMPARE(rs->fieldText(column), QStringLiteral("mine"));
        rs->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(column, table)), QStringList({"mine", "B"}));

        // A row changed elsewhere is not deleted either.
        rs->moveTo(1);
        QCOMPARE(other.exec(QStringLiteral("UPDATE %1 SET %2 = 'changed' WHERE rowid = 2").arg(table, column)), QString());
        QVERIFY(failureOf([&] { rs->remove(); }).contains(QStringLiteral("已被其他用户或程序修改或删除")));
        QCOMPARE(rs->fieldText(column), QStringLiteral("changed"));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM %1").arg(table)), QStringList({"2"}));
        rs->remove();  // now as shown
        QCOMPARE(ws->query(QStringLiteral("SELECT %1 FROM %2").arg(column, table)), QStringList({"mine"}));
    }

    void deletedAndReplacedRowIsNeverTouched()
    {
        ws->exec(QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007001', '甲'), ('2007002', '乙')"));
        auto rs = open(QStringLiteral("Select * From StudentInfo"));
        rs->moveTo(1);
        rs->edit();
        rs->setFieldText(QStringLiteral("StuName"), QStringLiteral("改名"));
        OtherProgram other(ws->dbPath());
        // The new student reuses the row key of the deleted one.
        QCOMPARE(other.exec(QStringLiteral("DELETE FROM StudentInfo WHERE StudentID = '2007002';"
                                           "INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007009', '丙')")),
                 QString());
        QCOMPARE(ws->query(QStringLiteral("SELECT rowid FROM StudentInfo WHERE StudentID = '2007009'")), QStringList({"2"}));
        // Said once: the row is gone, so the edit ends and nothing is
        // applied to the other row, then or later.
        QCOMPARE(failureOf([&] { rs->post(); }), deletedElsewhere);
        QCOMPARE(rs->state(), DataSetState::Browse);
        QCOMPARE(failureOf([&] { rs->post(); }), QString());
        QVERIFY(!failureOf([&] { rs->remove(); }).isEmpty());
        QCOMPARE(ws->query(QStringLiteral("SELECT StudentID || StuName FROM StudentInfo ORDER BY rowid")),
                 QStringList({"2007001甲", "2007009丙"}));
    }

    // The count of a whole table comes first; until the checkpoints follow,
    // rows between are read from the nearer end, and the checkpoints then
    // take over without moving a row.
    void countFirstThenCheckpoints()
    {
        seedScores(20000);
        dravon::RowCounter::holdCheckpointsForTesting(true);
        auto rs = open(QStringLiteral("Select * From Score"));
        QSignalSpy resets(rs.get(), &QAbstractItemModel::modelReset);
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        QCOMPARE(rs->recordCount(), 20000);
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        qint64 before = rs->rowsFetched();
        for (int row : {128, 6000, 9999, 10000, 15000, 19872, 19999})
            QCOMPARE(rs->text(row, sid), id(row + 1));
        QVERIFY2(rs->rowsFetched() - before <= 7 * 128, qPrintable(QString::number(rs->rowsFetched() - before)));
        rs->moveTo(15000);
        rs->last();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(20000));
        rs->moveTo(15000);
        dravon::RowCounter::holdCheckpointsForTesting(false);
        rs->waitForCount();
        QCOMPARE(resets.count(), 0);
        QCOMPARE(rs->recordCount(), 20000);
        QCOMPARE(rs->recNo(), 15000);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(15001));
        for (int row : {0, 127, 128, 5000, 10000, 19999})
            QCOMPARE(rs->text(row, sid), id(row + 1));
    }

    void countFirstThenRowsDeletedElsewhere()
    {
        seedScores(10000);
        dravon::RowCounter::holdCheckpointsForTesting(true);
        auto rs = open(QStringLiteral("Select * From Score"));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        QCOMPARE(rs->recordCount(), 10000);
        OtherProgram other(ws->dbPath());
        QCOMPARE(other.exec(QStringLiteral("DELETE FROM Score WHERE rowid BETWEEN 4001 AND 4100")), QString());
        rs->moveTo(6000);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(6001));
        dravon::RowCounter::holdCheckpointsForTesting(false);
        // The rows moved under the user's eyes: a delete by position is refused.
        const QString refused = failureOf([&] { rs->remove(); });
        QVERIFY2(refused.contains(QStringLiteral("未删除")), qPrintable(refused));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Score")), QStringList({"9900"}));
        // The walk found the rows as they are now: none shows twice or empty.
        QCOMPARE(rs->recordCount(), 9900);
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        QCOMPARE(rs->text(3999, sid), id(4000));
        QCOMPARE(rs->text(4000, sid), id(4101));
        QCOMPARE(rs->text(9899, sid), id(10000));
    }

    void deleteAndInsertInTheRangeBeforeCheckpoints()
    {
        seedScores(8000);
        dravon::RowCounter::holdCheckpointsForTesting(true);
        auto rs = open(QStringLiteral("Select * From Score"));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        rs->moveTo(5000);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(5001));
        dravon::RowCounter::holdCheckpointsForTesting(false);
        rs->remove();  // by key: the checkpoints are awaited first
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(5002));
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("mid"));
        rs->post();
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        QCOMPARE(rs->recordCount(), 8000);
        QCOMPARE(rs->text(4999, sid), id(5000));
        QCOMPARE(rs->text(5000, sid), QStringLiteral("mid"));
        QCOMPARE(rs->text(5001, sid), id(5002));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Score WHERE StudentID = '%1'").arg(id(5001))), QStringList({"0"}));
    }

    // A table of a few thousand rows is counted as it opens, with no worker;
    // rows between are read on demand, and placed by key for a delete.
    void smallTableCountedAtOpen()
    {
        dravon::TableSource::setCountAtOpenLimitForTesting(dravon::TableSource::defaultCountAtOpenLimit);
        seedScores(6000);
        auto rs = open(QStringLiteral("Select * From Score"));
        QVERIFY(rs->countKnown());
        QCOMPARE(rs->recordCount(), 6000);
        QVERIFY2(rs->rowsFetched() <= 128, qPrintable(QString::number(rs->rowsFetched())));
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        for (int row : {127, 128, 3000, 5999})
            QCOMPARE(rs->text(row, sid), id(row + 1));
        QVERIFY2(rs->rowsFetched() <= 4 * 128, qPrintable(QString::number(rs->rowsFetched())));
        // A walk reads every row once, in order.
        {
            auto walk = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
            QStringList seen;
            while (!walk->eof()) {
                seen << walk->fieldText(QStringLiteral("StudentID"));
                walk->next();
            }
            QCOMPARE(seen.size(), 6000);
            QCOMPARE(seen.removeDuplicates(), 0);
            QCOMPARE(seen.value(3001), id(3002));
            QVERIFY2(walk->rowsFetched() <= 6000 + 128, qPrintable(QString::number(walk->rowsFetched())));
        }
        rs->moveTo(4000);
        rs->remove();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(4002));
        QCOMPARE(rs->text(3999, sid), id(4000));
        QVERIFY(rs->locate(QStringLiteral("StudentID"), id(5000)));
        QCOMPARE(rs->recNo(), 4998);
        QCOMPARE(rs->recordCount(), 5999);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Score WHERE StudentID = '%1'").arg(id(4001))), QStringList({"0"}));

        // Rows deleted elsewhere before the rows were placed: a delete by position is refused.
        auto other = open(QStringLiteral("Select * From Score"));
        OtherProgram program(ws->dbPath());
        QCOMPARE(program.exec(QStringLiteral("DELETE FROM Score WHERE rowid BETWEEN 1001 AND 1010")), QString());
        other->moveTo(3000);
        const QString refused = failureOf([&] { other->remove(); });
        QVERIFY2(refused.contains(QStringLiteral("未删除")), qPrintable(refused));
        QCOMPARE(other->recordCount(), 5989);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Score")), QStringList({"5989"}));
    }

    // A Save waits for another program's lock as long as it is held briefly,
    // and reports the lock when it is held on.
    void writeWaitsForABriefLockAndReportsALongOne()
    {
        seedScores(10);
        auto rs = open(QStringLiteral("Select * From Score"));
        OtherProgram other(ws->dbPath());
        QCOMPARE(other.exec(QStringLiteral("BEGIN IMMEDIATE; UPDATE Score SET Score = 1 WHERE rowid = 1")), QString());
        // While the Save waits, this program's background readers are told to stand back.
        std::atomic<bool> readersToldToWait{false};
        std::thread release([&] {
            QThread::msleep(150);
            readersToldToWait = dravon::writerWaiting();
            other.exec(QStringLiteral("COMMIT"));
        });
        rs->edit();
        rs->setFieldText(QStringLiteral("Term"), QStringLiteral("后来"));
        const QString waited = failureOf([&] { rs->post(); });
        release.join();
        QCOMPARE(waited, QString());
        QVERIFY(readersToldToWait);
        QTRY_VERIFY(!dravon::writerWaiting());
        QCOMPARE(ws->query(QStringLiteral("SELECT Term FROM Score WHERE rowid = 1")), QStringList({"后来"}));

        QCOMPARE(other.exec(QStringLiteral("BEGIN IMMEDIATE; UPDATE Score SET Score = 2 WHERE rowid = 2")), QString());
        rs->moveTo(1);
        rs->edit();
        rs->setFieldText(QStringLiteral("Term"), QStringLiteral("不成"));
        QElapsedTimer clock;
        clock.start();
        const QString refused = failureOf([&] { rs->post(); });
        QVERIFY2(refused.contains(QStringLiteral("已锁定")), qPrintable(refused));
        QVERIFY(clock.elapsed() >= 900);
        QCOMPARE(rs->state(), DataSetState::Edit);  // the typed value stays
        other.exec(QStringLiteral("ROLLBACK"));
        rs->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT Term FROM Score WHERE rowid = 2")), QStringList({"不成"}));
    }

    void vacuumElsewhereWhileOpen()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 2007001 UNION ALL SELECT i+1 FROM n WHERE i < 2007300) "
                                "INSERT INTO DormInfo (DormID, DormName) SELECT i, 'N' || i FROM n"));
        ws->exec(QStringLiteral("DELETE FROM DormInfo WHERE rowid % 3 = 0"));
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        QCOMPARE(rs->recordCount(), 200);
        rs->moveTo(150);
        const QString shown = rs->fieldText(QStringLiteral("DormID"));
        QCoreApplication::processEvents();
        OtherProgram other(ws->dbPath());
        QCOMPARE(other.exec(QStringLiteral("VACUUM")), QString());
        // Rows are written by their declared key: the right row changes,
        // whatever the vacuum did to the row keys.
        rs->edit();
        rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("after vacuum"));
        const QString failure = failureOf([&] { rs->post(); });
        if (failure.isEmpty()) {
            QCOMPARE(ws->query(QStringLiteral("SELECT DormID FROM DormInfo WHERE DormName = 'after vacuum'")), QStringList({shown}));
        } else {
            QCOMPARE(failure, changedElsewhere);
            rs->post();
            QCOMPARE(ws->query(QStringLiteral("SELECT DormID FROM DormInfo WHERE DormName = 'after vacuum'")), QStringList({shown}));
        }
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM DormInfo WHERE DormName = 'N' || DormID")), QStringList({"199"}));
        rs->moveTo(10);
        const QString deleted = rs->fieldText(QStringLiteral("DormID"));
        rs->remove();
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM DormInfo WHERE DormID = '%1'").arg(deleted)), QStringList({"0"}));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM DormInfo")), QStringList({"199"}));
    }

    void refusalNamesTheLabel()
    {
        auto rs = open(QStringLiteral("Select * From TeacherInfo"));
        rs->setFieldLabel(QStringLiteral("TchAge"), QStringLiteral("年  龄："));
        rs->insert();
        rs->setFieldText(QStringLiteral("TeacherID"), QStringLiteral("2007001"));
        rs->setFieldText(QStringLiteral("TchAge"), QStringLiteral("abc"));
        const QString error = failureOf([&] { rs->post(); });
        QVERIFY2(error.startsWith(QStringLiteral("字段 \"年龄\" 不能接受值 \"abc\"")), qPrintable(error));
        QVERIFY2(!error.contains(QLatin1String("TchAge")), qPrintable(error));
        // Without a label the column's name stands.
        rs->setFieldText(QStringLiteral("TchAge"), QString());
        rs->setFieldText(QStringLiteral("TchName"), QStringLiteral("x"));
        rs->post();
        rs->insert();
        rs->setFieldText(QStringLiteral("TeacherID"), QStringLiteral("2007001"));
        const QString duplicate = failureOf([&] { rs->post(); });
        QVERIFY2(duplicate.contains(QStringLiteral("字段 \"TeacherID\"")), qPrintable(duplicate));
        rs->setFieldLabel(QStringLiteral("TeacherID"), QStringLiteral("编  号："));
        const QString labelled = failureOf([&] { rs->post(); });
        QVERIFY2(labelled.contains(QStringLiteral("字段 \"编号\"")), qPrintable(labelled));
    }

    // A query's result is copied by a worker: once counted, every row comes
    // from the copy, at any depth, without running the statement again (rows
    // changed elsewhere afterwards do not move it), and the database is free
    // for other programs between events.
    void queryRowsAtAnyDepthFromTheCopy()
    {
        seedScores(6000);
        ws->exec(QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName) SELECT StudentID, 'S' || StudentID FROM Score"));
        auto rs = open(QStringLiteral("Select B.StudentID, A.StuName, B.Score From StudentInfo A, Score B "
                                      "where A.StudentID=B.StudentID"));
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        QCOMPARE(rs->recordCount(), 6000);
        QCoreApplication::processEvents();
        OtherProgram other(ws->dbPath());
        QCOMPARE(other.exec(QStringLiteral("DELETE FROM Score WHERE rowid <= 100; VACUUM")), QString());
        const qint64 before = rs->rowsFetched();
        for (int row : {5999, 3000, 5400, 17})
            QCOMPARE(rs->text(row, 0), id(row + 1));
        QVERIFY2(rs->rowsFetched() - before <= 4 * 512, qPrintable(QString::number(rs->rowsFetched() - before)));
        QCOMPARE(rs->text(5999, 1), QStringLiteral("S") + id(6000));
        rs->last();
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(6000));
        // A walk and a search read the copy in order.
        QCOMPARE(rs->findRow(QStringLiteral("StudentID"), id(4321), false), 4320);
        QCOMPARE(*rs->lookup(QStringLiteral("StudentID"), id(50), QStringLiteral("StuName")), QStringLiteral("S") + id(50));
        QCOMPARE(other.exec(QStringLiteral("INSERT INTO Score (StudentID) VALUES ('other')")), QString());
    }

    // A click on a column title sorts; the current record stays current.
    // Small sets are sorted at once, large ones by a worker (cancelled when
    // progress says so); a table and a query result alike.
    void sortKeepsTheCurrentRecord_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("byWorker");
        const QString table = QStringLiteral("Select * From Score");
        const QString query = QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID");
        QTest::newRow("table, at once") << table << false;
        QTest::newRow("table, by a worker") << table << true;
        QTest::newRow("query result, at once") << query << false;
        QTest::newRow("query result, by a worker") << query << true;
    }
    void sortKeepsTheCurrentRecord()
    {
        QFETCH(QString, sql);
        QFETCH(bool, byWorker);
        seedScores(3000);
        ws->exec(QStringLiteral("UPDATE Score SET Score = NULL WHERE rowid % 500 = 0;"
                                "INSERT INTO StudentInfo (StudentID) SELECT StudentID FROM Score"));
        if (byWorker)
            dravon::RowSource::setSortHereLimitForTesting(0);
        auto rs = open(sql);
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 30000);
        const int score = rs->fieldIndex(QStringLiteral("Score"));
        const int sid = rs->fieldIndex(QStringLiteral("StudentID"));
        rs->moveTo(1234);
        QSignalSpy reordered(rs.get(), &dravon::RecordSet::orderChanged);
        // The order of every row: by score, empty first, ties as read.
        auto checkOrder = [&](bool descending) {
            QVariant previous;
            QString previousId;
            for (int row = 0; row < rs->recordCount(); ++row) {
                const QString text = rs->text(row, score);
                const QVariant value = text.isEmpty() ? QVariant() : QVariant(text.toDouble());
                if (row > 0 && previous.isNull() == value.isNull() && previous == value) {
                    QVERIFY2(rs->text(row, sid) > previousId, qPrintable(QString::number(row)));
                } else if (row > 0) {
                    const bool nullsFirst = !descending;
                    if (previous.isNull() || value.isNull())
                        QCOMPARE(previous.isNull(), nullsFirst);
                    else
                        QVERIFY2(descending ? previous.toDouble() > value.toDouble() : previous.toDouble() < value.toDouble(),
                                 qPrintable(QString::number(row)));
                }
                previous = value;
                previousId = rs->text(row, sid);
            }
        };
        QVERIFY(rs->sortBy(score, false));
        QCOMPARE(reordered.count(), 1);
        QCOMPARE(rs->recordCount(), 3000);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1235));
        QCOMPARE(rs->text(rs->recNo(), sid), id(1235));
        QCOMPARE(rs->sortField(), score);
        checkOrder(false);
        QVERIFY(rs->text(0, score).isEmpty());
        QVERIFY(rs->sortBy(score, true));
        QVERIFY(rs->sortDescending());
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1235));
        checkOrder(true);
        // A sort that progress cancels leaves the order as it was.
        const QString top = rs->text(0, sid);
        int asked = 0;
        const bool sorted = rs->sortBy(sid, true, [&](qint64, qint64) { return ++asked > 99; });
        QCOMPARE(sorted, !byWorker);
        QCOMPARE(rs->text(0, sid), byWorker ? top : id(3000));
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), id(1235));
        // Only in browse state.
        if (!rs->isReadOnly()) {
            rs->edit();
            QVERIFY(!rs->sortBy(sid, false));
            rs->cancel();
            // A row stored after the sort stands where it was added, and a
            // new sort places it among the others.
            QVERIFY(rs->sortBy(score, false));
            rs->moveTo(10);
            rs->insert();
            rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("new"));
            rs->setFieldText(QStringLiteral("Score"), QStringLiteral("99.5"));
            rs->post();
            QCOMPARE(rs->text(10, sid), QStringLiteral("new"));
            QVERIFY(rs->sortBy(score, true));
            QCOMPARE(rs->text(0, sid), QStringLiteral("new"));
            QCOMPARE(rs->recNo(), 0);
            rs->moveTo(1);
            const QString deleted = rs->fieldText(QStringLiteral("StudentID"));
            rs->remove();
            QVERIFY(rs->text(1, sid) != deleted);
            QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Score WHERE StudentID = '%1'").arg(deleted)), QStringList({"0"}));
            QCOMPARE(rs->recordCount(), 3000);
        }
    }

    // A large sort shows its first pages (the first and last rows, those
    // around the current one) before the whole order is read; they agree
    // row for row with the engine's ORDER BY with its tie-break, over
    // NULLs, ties, integers beside equal reals, near-equal large numbers,
    // texts, empty texts and blobs, ascending and descending. When the whole
    // order arrives no known row moves and the views are not reset.
    void largeSortShowsItsPagesFirst_data()
    {
        QTest::addColumn<bool>("descending");
        QTest::addColumn<int>("keep");
        QTest::newRow("ascending, current row in the middle") << false << 1500;
        QTest::newRow("descending, current row in the middle") << true << 1500;
        QTest::newRow("ascending, first row current") << false << 0;
        QTest::newRow("descending, last row current") << true << 2999;
    }
    void largeSortShowsItsPagesFirst()
    {
        QFETCH(bool, descending);
        QFETCH(int, keep);
        auto rs = openMixed();
        rs->moveTo(keep);
        const QString keptTag = rs->fieldText(QStringLiteral("tag"));
        const QStringList expected =
            ws->query(QStringLiteral("SELECT tag FROM Mixed ORDER BY v%1, rowid").arg(descending ? " DESC" : ""));
        QCOMPARE(expected.size(), 3000);
        const int v = rs->fieldIndex(QStringLiteral("v"));
        const int tag = rs->fieldIndex(QStringLiteral("tag"));
        QSignalSpy resets(rs.get(), &QAbstractItemModel::modelReset);

        dravon::KeyOrder::holdForTesting(true);  // the whole order waits
        QVERIFY(rs->sortBy(v, descending));
        QVERIFY(rs->orderPending());
        QCOMPARE(rs->recordCount(), 3000);
        QCOMPARE(rs->fieldText(QStringLiteral("tag")), keptTag);
        QCOMPARE(rs->recNo(), int(expected.indexOf(keptTag)));
        int known = 0;
        for (int row = 0; row < 3000; ++row) {
            const QString shown = rs->data(rs->index(row, tag)).toString();
            if (shown.isEmpty())
                continue;
            QCOMPARE(shown, expected[row]);
            ++known;
        }
        for (int row : {0, 127, 2872, 2999, rs->recNo()})
            QCOMPARE(rs->data(rs->index(row, tag)).toString(), expected[row]);
        QVERIFY2(known >= 256 && known <= 3 * 128 + 1, qPrintable(QString::number(known)));

        resets.clear();
        const int current = rs->recNo();
        dravon::KeyOrder::holdForTesting(false);
        QTRY_VERIFY_WITH_TIMEOUT(!rs->orderPending(), 30000);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(rs->recNo(), current);
        QCOMPARE(rs->fieldText(QStringLiteral("tag")), keptTag);
        for (int row = 0; row < 3000; ++row)
            QCOMPARE(rs->data(rs->index(row, tag)).toString(), expected[row]);
    }

    // A wait for the rest of the order that is cancelled keeps the current
    // record and the rows shown; the set stays usable: a find, a lookup and
    // a Save of the current record work, the last waiting for the order.
    void cancelledOrderKeepsTheShownRows()
    {
        auto rs = openMixed();
        rs->moveTo(1500);
        const QString keptTag = rs->fieldText(QStringLiteral("tag"));
        const QStringList expected = ws->query(QStringLiteral("SELECT tag FROM Mixed ORDER BY v, rowid"));
        const int tag = rs->fieldIndex(QStringLiteral("tag"));
        dravon::KeyOrder::holdForTesting(true);
        QVERIFY(rs->sortBy(rs->fieldIndex(QStringLiteral("v")), false));
        const int current = rs->recNo();
        int unknown = 200;
        while (!rs->data(rs->index(unknown, tag)).toString().isEmpty())
            ++unknown;
        int waits = 0;
        rs->setLongWait([&](const std::function<void(const dravon::Progress &)> &work) {
            ++waits;
            work([](qint64, qint64) { return false; });
        });
        QSignalSpy moved(rs.get(), &dravon::RecordSet::recordChanged);
        rs->moveTo(unknown);
        QCOMPARE(waits, 1);
        QCOMPARE(rs->recNo(), current);
        QCOMPARE(rs->fieldText(QStringLiteral("tag")), keptTag);
        QCOMPARE(moved.count(), 1);  // the views go back to the current record
        QVERIFY(rs->orderPending());
        // Shown rows stay; unknown ones stay empty without asking again.
        QCOMPARE(rs->data(rs->index(0, tag)).toString(), expected[0]);
        QVERIFY(rs->data(rs->index(unknown, tag)).toString().isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(waits, 1);
        QCOMPARE(*rs->lookup(QStringLiteral("tag"), expected[2000], QStringLiteral("tag")), expected[2000]);

        dravon::KeyOrder::holdForTesting(false);
        QCOMPARE(rs->findRow(QStringLiteral("tag"), expected[2500], false), 2500);
        rs->edit();
        rs->setFieldText(QStringLiteral("tag"), QStringLiteral("edited"));
        rs->post();
        QVERIFY(!rs->orderPending());
        QCOMPARE(rs->recNo(), current);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM Mixed WHERE tag = 'edited'")), QStringList({"1"}));
        QCOMPARE(rs->data(rs->index(unknown, tag)).toString(), expected[unknown]);
    }

    void rowIndicatorShowsTheStateAtOnce()
    {
        ws->exec(QStringLiteral("INSERT INTO DormInfo (DormID) VALUES ('2007001'), ('2007002')"));
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        QSignalSpy header(rs.get(), &QAbstractItemModel::headerDataChanged);
        auto mark = [&](int row) { return rs->headerData(row, Qt::Vertical).toString(); };
        auto announced = [&](int row) {
            for (const QList<QVariant> &args : std::as_const(header))
                if (args.at(0).value<Qt::Orientation>() == Qt::Vertical && args.at(1).toInt() <= row && args.at(2).toInt() >= row)
                    return true;
            return false;
        };
        QCOMPARE(mark(0), QStringLiteral("\u25B6"));
        QCOMPARE(mark(1), QString());
        rs->edit();
        QCOMPARE(mark(0), QStringLiteral("I"));
        QVERIFY(announced(0));
        header.clear();
        rs->cancel();
        QCOMPARE(mark(0), QStringLiteral("\u25B6"));
        QVERIFY(announced(0));
        header.clear();
        rs->moveTo(1);
        QVERIFY(announced(0) && announced(1));
        rs->insert();
        QCOMPARE(mark(1), QStringLiteral("*"));
        QCOMPARE(mark(2), QString());
        header.clear();
        rs->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007003"));
        rs->post();
        QCOMPARE(mark(1), QStringLiteral("\u25B6"));
        QVERIFY(announced(1));
    }
};

QTEST_MAIN(RecordSetRowsTest)
#include "tst_recordsetrows.moc"
