// The record set: every operation in every state, write-through by row
// identity, conversions and refusals, lookups, and the item model it offers.
#include "data/Dravon.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using dravon::DataSetState;
using testsupport::TestWorkspace;

class RecordSetTest : public QObject
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
    QStringList ids(const QString &table = QStringLiteral("DormInfo"), const QString &column = QStringLiteral("DormID"))
    {
        return ws->query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(column, table));
    }
    void seedDorms(int n)
    {
        for (int i = 1; i <= n; ++i)
            ws->exec(QStringLiteral("INSERT INTO DormInfo VALUES ('200700%1', '宿舍%1', NULL)").arg(i));
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

private slots:
    void init()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        ws = std::make_unique<TestWorkspace>();
        conn = std::make_unique<dravon::Connection>();
        ws->openConnection(*conn);
    }
    void cleanup()
    {
        conn.reset();
        ws.reset();
    }

    void opensOnFirstRowAndWalksToEof()
    {
        seedDorms(3);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        QCOMPARE(rs->recordCount(), 3);
        QCOMPARE(rs->recNo(), 0);
        QVERIFY(!rs->eof());
        QStringList seen;
        while (!rs->eof()) {
            seen << rs->fieldText(QStringLiteral("DormName"));
            rs->next();
        }
        QCOMPARE(seen, QStringList({"宿舍1", "宿舍2", "宿舍3"}));
        auto empty = open(QStringLiteral("Select * From GradeInfo"));
        QVERIFY(empty->eof());
        QCOMPARE(empty->recNo(), -1);
        QCOMPARE(empty->fieldText(QStringLiteral("GrdName")), QString());
    }

    void insertInBrowseAddsEmptyRecordAtCurrentPosition()
    {
        seedDorms(3);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        rs->moveTo(1);
        rs->insert();
        QCOMPARE(rs->state(), DataSetState::Insert);
        QCOMPARE(rs->recordCount(), 4);
        QCOMPARE(rs->recNo(), 1);
        QCOMPARE(rs->fieldText(QStringLiteral("DormID")), QString());
        rs->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007009"));
        rs->post();
        QCOMPARE(rs->state(), DataSetState::Browse);
        // Stored, and shown where it was inserted until the set is opened again.
        QCOMPARE(ids(), QStringList({"2007001", "2007002", "2007003", "2007009"}));
        QCOMPARE(rs->text(1, 0), QStringLiteral("2007009"));
        QCOMPARE(rs->text(2, 0), QStringLiteral("2007002"));
    }

    void insertStoresPendingRecordOnlyIfChanged_data()
    {
        QTest::addColumn<bool>("fromInsert");
        QTest::addColumn<bool>("changed");
        QTest::newRow("edit, changed") << false << true;
        QTest::newRow("edit, unchanged") << false << false;
        QTest::newRow("insert, changed") << true << true;
        QTest::newRow("insert, unchanged") << true << false;
    }
    void insertStoresPendingRecordOnlyIfChanged()
    {
        QFETCH(bool, fromInsert);
        QFETCH(bool, changed);
        seedDorms(1);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        if (fromInsert) {
            rs->insert();
            if (changed)
                rs->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007002"));
        } else {
            rs->edit();
            if (changed)
                rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("新名"));
        }
        rs->insert();
        QCOMPARE(rs->state(), DataSetState::Insert);
        const QStringList stored = ws->query(QStringLiteral("SELECT DormID || ':' || DormName FROM DormInfo ORDER BY rowid"));
        if (fromInsert && changed)
            QCOMPARE(stored, QStringList({"2007001:宿舍1", ""}));  // NULL name makes the concatenation NULL
        else if (!fromInsert && changed)
            QCOMPARE(stored, QStringList({"2007001:新名"}));
        else
            QCOMPARE(stored, QStringList({"2007001:宿舍1"}));
        QCOMPARE(rs->recordCount(), fromInsert && changed ? 3 : 2);
    }

    void editStatesAndEditOnEmptySetActsAsInsert()
    {
        auto empty = open(QStringLiteral("Select * From DormInfo"));
        empty->edit();
        QCOMPARE(empty->state(), DataSetState::Insert);
        QCOMPARE(empty->recordCount(), 1);

        seedDorms(1);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        rs->edit();
        QCOMPARE(rs->state(), DataSetState::Edit);
        rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("改"));
        rs->edit();  // nothing in edit state: the change stays
        QCOMPARE(rs->fieldText(QStringLiteral("DormName")), QStringLiteral("改"));
        rs->cancel();
        rs->insert();
        rs->edit();  // nothing in insert state
        QCOMPARE(rs->state(), DataSetState::Insert);
    }

    void deleteInEachState()
    {
        seedDorms(3);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        rs->moveTo(1);
        rs->remove();  // browse: deletes the current row
        QCOMPARE(ids(), QStringList({"2007001", "2007003"}));
        QCOMPARE(rs->recNo(), 1);
        QCOMPARE(rs->fieldText(QStringLiteral("DormID")), QStringLiteral("2007003"));

        rs->edit();
        rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("丢弃"));
        rs->remove();  // edit: deletes the row, the change is lost
        QCOMPARE(ids(), QStringList({"2007001"}));
        QCOMPARE(rs->state(), DataSetState::Browse);
        QCOMPARE(rs->recNo(), 0);

        rs->insert();
        rs->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007010"));
        rs->remove();  // insert: drops only the new record
        QCOMPARE(rs->state(), DataSetState::Browse);
        QCOMPARE(ids(), QStringList({"2007001"}));
        QCOMPARE(rs->recordCount(), 1);

        rs->remove();
        QVERIFY(rs->isEmpty());
        QCOMPARE(failureOf([&] { rs->remove(); }), QStringLiteral("Cannot perform this operation on an empty dataset"));
        QCOMPARE(rs->state(), DataSetState::Browse);
    }

    void postAndCancelInEachState()
    {
        seedDorms(2);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        rs->post();  // browse: nothing
        rs->cancel();
        QCOMPARE(rs->state(), DataSetState::Browse);

        rs->edit();
        rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("撤销"));
        rs->cancel();
        QCOMPARE(rs->fieldText(QStringLiteral("DormName")), QStringLiteral("宿舍1"));
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName FROM DormInfo WHERE DormID='2007001'")), QStringList({"宿舍1"}));

        rs->moveTo(1);
        rs->insert();
        rs->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007005"));
        rs->cancel();
        QCOMPARE(rs->recordCount(), 2);
        QCOMPARE(rs->recNo(), 1);
        QCOMPARE(rs->fieldText(QStringLiteral("DormID")), QStringLiteral("2007002"));

        rs->edit();
        rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("保存"));
        rs->post();
        QCOMPARE(rs->state(), DataSetState::Browse);
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName FROM DormInfo WHERE DormID='2007002'")), QStringList({"保存"}));
    }

    void movingStoresChangedRecordAndDropsUntouchedOne()
    {
        seedDorms(3);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        rs->edit();
        rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("移动保存"));
        rs->next();
        QCOMPARE(rs->state(), DataSetState::Browse);
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName FROM DormInfo WHERE DormID='2007001'")), QStringList({"移动保存"}));

        rs->edit();  // untouched edit: dropped
        rs->next();
        QCOMPARE(rs->state(), DataSetState::Browse);

        rs->moveTo(1);
        rs->insert();  // untouched new record at row 1; moving to row 2 lands on the row that was there
        rs->moveTo(2);
        QCOMPARE(rs->recordCount(), 3);
        QCOMPARE(rs->recNo(), 1);
        QCOMPARE(rs->fieldText(QStringLiteral("DormID")), QStringLiteral("2007002"));

        rs->insert();
        rs->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007004"));
        rs->moveTo(0);
        QCOMPARE(ids().size(), 4);
        QCOMPARE(rs->recordCount(), 4);
    }

    void failedStoreKeepsStateAndValues()
    {
        seedDorms(1);
        auto rs = open(QStringLiteral("Select * From TeacherInfo"));
        rs->insert();
        rs->setFieldText(QStringLiteral("TeacherID"), QStringLiteral("2007001"));
        rs->setFieldText(QStringLiteral("TchAge"), QStringLiteral("三十"));
        const QString typeError = failureOf([&] { rs->post(); });
        QVERIFY2(typeError.contains(QLatin1String("TchAge")) && typeError.contains(QStringLiteral("三十")), qPrintable(typeError));
        QCOMPARE(rs->state(), DataSetState::Insert);
        QCOMPARE(rs->fieldText(QStringLiteral("TchAge")), QStringLiteral("三十"));
        QVERIFY(ws->query(QStringLiteral("SELECT TeacherID FROM TeacherInfo")).isEmpty());

        // An implicit store that fails leaves the record where it was, too.
        QVERIFY(!failureOf([&] { rs->insert(); }).isEmpty());
        QCOMPARE(rs->state(), DataSetState::Insert);
        QCOMPARE(rs->recordCount(), 1);

        rs->setFieldText(QStringLiteral("TchAge"), QStringLiteral(" 35 "));
        rs->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT typeof(TchAge) || TchAge FROM TeacherInfo")), QStringList({"integer35"}));

        rs->insert();
        rs->setFieldText(QStringLiteral("TeacherID"), QStringLiteral("2007001"));
        const QString duplicate = failureOf([&] { rs->post(); });
        QVERIFY2(duplicate.contains(QLatin1String("TeacherID")) && duplicate.contains(QLatin1String("2007001")), qPrintable(duplicate));
        QCOMPARE(rs->state(), DataSetState::Insert);
        rs->cancel();
        QCOMPARE(rs->recordCount(), 1);
    }

    void typesConvertOnStore()
    {
        auto rs = open(QStringLiteral("Select * From StudentInfo"));
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("2007001"));
        rs->setFieldText(QStringLiteral("InSchoolDate"), QStringLiteral("2007/9/1"));
        rs->setFieldText(QStringLiteral("StuAge"), QString());
        rs->setFieldText(QStringLiteral("StuName"), QString());
        rs->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT InSchoolDate FROM StudentInfo")), QStringList({"2007-09-01"}));
        QCOMPARE(ws->query(QStringLiteral("SELECT typeof(StuAge) || typeof(StuName) FROM StudentInfo")), QStringList({"nullnull"}));
        QCOMPARE(rs->fieldText(QStringLiteral("InSchoolDate")), QStringLiteral("2007/9/1"));

        rs->edit();
        rs->setFieldText(QStringLiteral("OutSchoolDate"), QStringLiteral("2011/2/30"));
        const QString error = failureOf([&] { rs->post(); });
        QVERIFY2(error.contains(QLatin1String("OutSchoolDate")) && error.contains(QLatin1String("2011/2/30")), qPrintable(error));
        QCOMPARE(rs->state(), DataSetState::Edit);
        rs->cancel();

        auto subjects = open(QStringLiteral("Select * From SubjectInfo"));
        subjects->insert();
        subjects->setFieldText(QStringLiteral("SubjectID"), QStringLiteral("2007001"));
        subjects->setFieldText(QStringLiteral("CreditHour"), QStringLiteral("2.5"));
        subjects->post();
        QCOMPARE(subjects->fieldText(QStringLiteral("CreditHour")), QStringLiteral("2.5"));
        subjects->edit();
        subjects->setFieldText(QStringLiteral("CreditHour"), QStringLiteral("4"));
        subjects->post();
        QCOMPARE(subjects->fieldText(QStringLiteral("CreditHour")), QStringLiteral("4"));
        QCOMPARE(failureOf([&] { subjects->setFieldText(QStringLiteral("CreditHour"), QStringLiteral("1")); }).isEmpty(), false);
    }

    void identicalRowsAreWrittenByRowIdentity()
    {
        ws->exec(QStringLiteral("INSERT INTO Score (StudentID, Score) VALUES ('2007001', 60), ('2007001', 60), ('2007001', 60)"));
        auto rs = open(QStringLiteral("Select * From Score"));
        rs->moveTo(1);
        rs->edit();
        rs->setFieldText(QStringLiteral("Score"), QStringLiteral("99"));
        rs->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT CAST(Score AS INTEGER) FROM Score ORDER BY rowid")), QStringList({"60", "99", "60"}));
        rs->moveTo(2);
        rs->remove();
        QCOMPARE(ws->query(QStringLiteral("SELECT CAST(Score AS INTEGER) FROM Score ORDER BY rowid")), QStringList({"60", "99"}));
        rs->deleteRows({0, 1});
        QVERIFY(ws->query(QStringLiteral("SELECT Score FROM Score")).isEmpty());
        QVERIFY(rs->isEmpty());
    }

    void joinsAreReadOnly()
    {
        ws->exec(QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007001', '王一');"
                                "INSERT INTO Score (StudentID, Score) VALUES ('2007001', 80);"));
        auto rs = open(QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StuName ='王一'"));
        QVERIFY(rs->isReadOnly());
        QCOMPARE(rs->recordCount(), 1);
        QCOMPARE(rs->fieldText(QStringLiteral("Score")), QStringLiteral("80"));
        QVERIFY(!failureOf([&] { rs->edit(); }).isEmpty());
        QVERIFY(!failureOf([&] { rs->insert(); }).isEmpty());
        QVERIFY(!failureOf([&] { rs->remove(); }).isEmpty());
        QCOMPARE(rs->state(), DataSetState::Browse);
        QVERIFY(!failureOf([&] { rs->setFieldText(QStringLiteral("Score"), QStringLiteral("1")); }).isEmpty());
    }

    void editorLinksWriteBeforeStoreAndCountAsChanges()
    {
        ws->exec(QStringLiteral("INSERT INTO Dorm (StudentID, Remark) VALUES ('2007001', '原有')"));
        auto rs = open(QStringLiteral("Select * From Dorm"));
        QString controlText;
        bool controlModified = false;
        rs->addEditorLink({[&] {
                               if (controlModified) {
                                   rs->setFieldText(QStringLiteral("Remark"), controlText);
                                   controlModified = false;
                               }
                           },
                           [&] { return controlModified; }});
        rs->insert();
        QVERIFY(!rs->hasPendingChanges());
        controlText = QStringLiteral("控件输入");
        controlModified = true;
        QVERIFY(rs->hasPendingChanges());
        rs->insert();  // the control's change counts: the first new record is stored
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM Dorm ORDER BY rowid")), QStringList({"原有", "控件输入"}));
        rs->insert();  // an untouched new record is dropped, not stored
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM Dorm ORDER BY rowid")).size(), 2);
        QCOMPARE(rs->recordCount(), 3);
        rs->cancel();
    }

    void lookupFindsKeysWithoutMoving()
    {
        ws->exec(QStringLiteral("INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001', '一班'), ('2007002', '二班')"));
        auto rs = open(QStringLiteral("Select * From ClassInfo"));
        QCOMPARE(rs->lookup(QStringLiteral("ClassID"), QStringLiteral("2007002"), QStringLiteral("ClaName")).value(), QStringLiteral("二班"));
        QVERIFY(!rs->lookup(QStringLiteral("ClassID"), QStringLiteral("9999999"), QStringLiteral("ClaName")).has_value());
        QCOMPARE(rs->recNo(), 0);
        // Rows added elsewhere after opening are not in this set; rows added through it are.
        ws->exec(QStringLiteral("INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007003', '三班')"));
        QVERIFY(!rs->lookup(QStringLiteral("ClassID"), QStringLiteral("2007003"), QStringLiteral("ClaName")).has_value());
        QCOMPARE(rs->recordCount(), 2);
        rs->insert();
        rs->setFieldText(QStringLiteral("ClassID"), QStringLiteral("2007004"));
        rs->setFieldText(QStringLiteral("ClaName"), QStringLiteral("四班"));
        rs->post();
        QCOMPARE(rs->lookup(QStringLiteral("ClassID"), QStringLiteral("2007004"), QStringLiteral("ClaName")).value(), QStringLiteral("四班"));
    }

    void locateMovesToTheFirstMatchingRow()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 3000) "
                                "INSERT INTO Score (StudentID, Term) SELECT substr(CAST(10000000 + i AS TEXT), 2), '第一学期' FROM n;"
                                "INSERT INTO Score (StudentID, Term) VALUES ('0002500', '第二学期')"));
        auto rs = open(QStringLiteral("Select * From Score"));
        QVERIFY(rs->locate(QStringLiteral("StudentID"), QStringLiteral("0002500")));
        QCOMPARE(rs->recNo(), 2499);
        QCOMPARE(rs->fieldText(QStringLiteral("Term")), QStringLiteral("第一学期"));
        QVERIFY(!rs->locate(QStringLiteral("StudentID"), QStringLiteral("none")));
        QCOMPARE(rs->recNo(), 2499);
        auto join = open(QStringLiteral("Select B.* From Score B, Score A where A.rowid = B.rowid and B.Term = '第二学期'"));
        QVERIFY(join->locate(QStringLiteral("StudentID"), QStringLiteral("0002500")));
        QCOMPARE(join->recNo(), 0);
    }

    // The row of a typed number or name: in the set's order, found without
    // reading the rows before it, and right with rows read, added, deleted
    // and a pending new record in between.
    void findRowGivesThePositionInTheSetsOrder()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 5000) "
                                "INSERT INTO StudentInfo (StudentID, StuName) SELECT 2007000 + i, '学生' || i FROM n;"
                                "UPDATE StudentInfo SET StuName = '王五' WHERE StudentID IN ('2011000', '2007300')"));
        auto rs = open(QStringLiteral("Select * From StudentInfo"));
        const qint64 opened = rs->rowsFetched();
        QCOMPARE(rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2011000"), false), 3999);
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("王"), true), 299);  // the first in order
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("学生49"), true), 48);
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("学生4"), false), 3);
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("学生50001"), true), -1);
        QCOMPARE(rs->findRow(QStringLiteral("StudentID"), QString(), true), -1);
        // At most the pages around the rows found, never the rows before them.
        QVERIFY2(rs->rowsFetched() - opened <= 3 * 128, qPrintable(QString::number(rs->rowsFetched() - opened)));
        QCOMPARE(rs->recNo(), 0);

        // Rows read up to 600; one deleted before the match, one added at row 10.
        rs->moveTo(600);
        rs->moveTo(5);
        rs->remove();
        QCOMPARE(rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2011000"), false), 3998);
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("王"), true), 298);
        QCOMPARE(rs->text(298, rs->fieldIndex(QStringLiteral("StuName"))), QStringLiteral("王五"));
        rs->moveTo(10);
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("3000000"));
        rs->setFieldText(QStringLiteral("StuName"), QStringLiteral("王一"));
        rs->post();
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("王"), true), 10);
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("王五"), false), 299);
        QCOMPARE(rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2011000"), false), 3999);
        // A pending new record at row 0 moves every row down by one.
        rs->moveTo(0);
        rs->insert();
        QCOMPARE(rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2011000"), false), 4000);
        QCOMPARE(rs->findRow(QStringLiteral("StuName"), QStringLiteral("王一"), false), 11);
        rs->cancel();

        // A query result is searched row by row.
        auto join = open(QStringLiteral("Select A.StudentID, A.StuName From StudentInfo A where A.StuName like '王%' order by A.StudentID"));
        QCOMPARE(join->findRow(QStringLiteral("StuName"), QStringLiteral("王五"), false), 0);
        QCOMPARE(join->findRow(QStringLiteral("StudentID"), QStringLiteral("2011"), true), 1);
        QCOMPARE(join->findRow(QStringLiteral("StuName"), QStringLiteral("王一"), true), 2);
    }

    void awkwardTextsTravelIntact_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("quote") << QStringLiteral("O'Neil ''x''");
        QTest::newRow("backslash") << QStringLiteral("C:\\数据\\a b.mdb");
        QTest::newRow("wildcards") << QStringLiteral("100% _done_");
        QTest::newRow("statement end") << QStringLiteral("x'); DROP TABLE DormInfo; --");
        QTest::newRow("long") << QString(10000, QLatin1Char('w'));
        QTest::newRow("chinese") << QStringLiteral("东区一号楼“甲”");
        QTest::newRow("leading blanks") << QStringLiteral("  两个空格");
    }
    void awkwardTextsTravelIntact()
    {
        QFETCH(QString, value);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        rs->insert();
        rs->setFieldText(QStringLiteral("DormID"), value);
        rs->setFieldText(QStringLiteral("DormName"), value);
        rs->post();
        rs->edit();
        rs->setFieldText(QStringLiteral("Remark"), value);
        rs->post();
        auto again = open(QStringLiteral("Select * From DormInfo"));
        QCOMPARE(again->fieldText(QStringLiteral("DormID")), value);
        QCOMPARE(again->fieldText(QStringLiteral("DormName")), value);
        QCOMPARE(again->fieldText(QStringLiteral("Remark")), value);
        QCOMPARE(again->lookup(QStringLiteral("DormID"), value, QStringLiteral("DormName")).value(), value);
        QVERIFY(again->locate(QStringLiteral("DormID"), value));
        auto found = open(QStringLiteral("Select * From DormInfo where DormName = ") + dravon::QuotedStr(value));
        QCOMPARE(found->recordCount(), 1);
        found->remove();
        QVERIFY(ws->query(QStringLiteral("SELECT count(*) FROM DormInfo")) == QStringList({"0"}));
    }

    void setFieldOutsideEditIsRefused()
    {
        seedDorms(1);
        auto rs = open(QStringLiteral("Select * From DormInfo"));
        QVERIFY(!failureOf([&] { rs->setFieldText(QStringLiteral("DormName"), QStringLiteral("x")); }).isEmpty());
        QVERIFY(!failureOf([&] { rs->fieldText(QStringLiteral("NoSuchColumn")); }).isEmpty());
    }

    void largeTableOpensLazilyAndWalksInPages()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 50000) "
                                "INSERT INTO Score (StudentID, Score) SELECT substr(CAST(10000000 + i AS TEXT), 2), i % 100 FROM n"));
        auto rs = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
        QVERIFY(rs->rowsFetched() <= 256);
        QTRY_COMPARE_WITH_TIMEOUT(rs->recordCount(), 50000, 30000);
        int walked = 0;
        while (!rs->eof()) {
            ++walked;
            rs->next();
        }
        QCOMPARE(walked, 50000);
        QCOMPARE(rs->fieldText(QStringLiteral("StudentID")), QStringLiteral("0050000"));
        // Inserting in the middle after walking keeps every row exactly once.
        rs->moveTo(25000);
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("new"));
        rs->post();
        QCOMPARE(rs->recordCount(), 50001);
        const int student = rs->fieldIndex(QStringLiteral("StudentID"));
        QCOMPARE(rs->text(25000, student), QStringLiteral("new"));
        QCOMPARE(rs->text(25001, student), QStringLiteral("0025001"));
        QCOMPARE(rs->text(50000, student), QStringLiteral("0050000"));
    }
};

QTEST_MAIN(RecordSetTest)
#include "tst_recordset.moc"
