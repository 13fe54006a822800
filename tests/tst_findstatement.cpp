// The find statements of the score, dormitory and payment windows as data:
// every item and condition, the value part, the quoting and the "%" wrapping
// of names; then the statements run against known rows, and user values that
// look like SQL stay quoted literals.
#include "data/Dravon.h"
#include "data/QueryStatement.h"
#include "forms/students/CapturePrice_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "support/TestWorkspace.h"

#include <QtTest>
#include <memory>

using testsupport::TestWorkspace;

namespace {

const QString scoreByNumber =
    QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StudentID ");
const QString scoreBySubject =
    QStringLiteral("Select B.* From SubjectInfo A, Score B where A.SubjectID=B.SubjectID and A.SubjectID ");
const QString scoreByClass = QStringLiteral("Select B.* From ClassInfo A, Score B where A.ClassID=B.ClassID and A.ClassID ");
const QString scoreByName =
    QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StuName ");
const QString dormByNumber =
    QStringLiteral("Select B.* From StudentInfo A, Dorm B where A.StudentID=B.StudentID and A.StudentID ");
const QString dormByName = QStringLiteral("Select B.* From StudentInfo A, Dorm B where A.StudentID=B.StudentID and A.StuName ");
const QString dormByDorm = QStringLiteral("Select B.* From DormInfo A, Dorm B where A.DormID=B.DormID and A.DormID ");
const QString priceByNumber =
    QStringLiteral("Select B.* From StudentInfo A, Price B where A.StudentID=B.StudentID and A.StudentID ");
const QString priceByName =
    QStringLiteral("Select B.* From StudentInfo A, Price B where A.StudentID=B.StudentID and A.StuName ");

QList<dravon::QueryItem> itemsOf(const QString &window)
{
    if (window == QLatin1String("score"))
        return TfrmStudentScore::queryItems();
    if (window == QLatin1String("dorm"))
        return TfrmDormManager::queryItems();
    return TfrmCapturePrice::queryItems();
}

int indexOf(const QList<dravon::QueryItem> &items, const QString &caption)
{
    for (int i = 0; i < items.size(); ++i)
        if (items[i].caption == caption)
            return i;
    return -1;
}

// Known rows; the Remark of each record row names it.
const char seedRows[] = R"SQL(
INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001','王小明','2007001'),('2007002','李四','2007001'),
  ('2007003','小王','2007002'),('2007005','O''Neil','2007002'),('2007006',NULL,'2007002'),('2007007','100%_王;','2007002');
INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('2007001','语文',4.0),('2007003','数学',4.0),('2007004','英语',3.0);
INSERT INTO ClassInfo (ClassID, GradeID, ClaName) VALUES ('2007001','2007001','一班'),('2007002','2007001','二班');
INSERT INTO DormInfo (DormID, DormName) VALUES ('2007001','一号楼101'),('2007003','一号楼103');
INSERT INTO Score (StudentID, SubjectID, ClassID, Score, Remark) VALUES
  ('2007001','2007001','2007001',90.0,'s1'), ('2007001','2007004','2007001',80.0,'s2'),
  ('2007002','2007003','2007001',70.0,'s3'), ('2007003','2007001','2007002',60.0,'s4'),
  ('2007005','2007004','2007002',50.0,'s5'), ('2007006','2007003','2007002',40.0,'s6'),
  ('2009999','2007001','2007001',30.0,'s7'), ('2007007','2007001','2007002',20.0,'s8');
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES ('2007001','2007001','男','2007001','d1'),
  ('2007001','2007002','女','2007003','d2'),('2007002','2007003','男','2007001','d3'),('2007002','2007005','男','2009999','d4');
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES ('2007001','学费','2007001',100.0,'p1'),
  ('2007001','书本费','2007002',50.0,'p2'),('2007002','学费','2007003',30.0,'p3'),('2007002','学费','2007003',30.0,'p4');
)SQL";

}

class FindStatementTest : public QObject
{
    Q_OBJECT

    // The known rows, shared by the read-only queries below.
    std::unique_ptr<TestWorkspace> seeded;
    std::unique_ptr<dravon::Connection> conn;

private slots:
    void initTestCase()
    {
        seeded = std::make_unique<TestWorkspace>(false);
        seeded->exec(QString::fromUtf8(seedRows));
        conn = std::make_unique<dravon::Connection>();
        seeded->pointAt(*conn);
        conn->open();
    }
    void cleanupTestCase()
    {
        conn.reset();
        seeded.reset();
    }

    void itemsInListOrder()
    {
        auto captions = [](const QList<dravon::QueryItem> &items) {
            QStringList list;
            for (const auto &i : items)
                list << i.caption;
            return list;
        };
        QCOMPARE(captions(TfrmStudentScore::queryItems()),
                 QStringList({QStringLiteral("学号"), QStringLiteral("科目"), QStringLiteral("班级"), QStringLiteral("姓名")}));
        QCOMPARE(captions(TfrmDormManager::queryItems()),
                 QStringList({QStringLiteral("学号"), QStringLiteral("姓名"), QStringLiteral("宿舍编号")}));
        QCOMPARE(captions(TfrmCapturePrice::queryItems()), QStringList({QStringLiteral("学号"), QStringLiteral("姓名")}));
    }

    void statementText_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("statement");
        auto row = [](const char *tag, const char *window, const QString &item, const QString &condition,
                      const QString &value, const QString &statement) {
            QTest::newRow(tag) << QString::fromLatin1(window) << item << condition << value << statement;
        };
        const QString number = QStringLiteral("学号"), subject = QStringLiteral("科目"), klass = QStringLiteral("班级"),
                      name = QStringLiteral("姓名"), dorm = QStringLiteral("宿舍编号");
        // Score window: each item with each condition.
        row("score number =", "score", number, "=", "2007001", scoreByNumber + "='2007001'");
        row("score number >", "score", number, ">", "2007001", scoreByNumber + ">'2007001'");
        row("score number <", "score", number, "<", "2007001", scoreByNumber + "<'2007001'");
        row("score number Like adds no wildcard", "score", number, "Like", "2007%", scoreByNumber + "Like'2007%'");
        row("score number takes an entry whole", "score", number, "=", QStringLiteral("2007003.高等数学"),
            scoreByNumber + QStringLiteral("='2007003.高等数学'"));
        row("score subject >", "score", subject, ">", QStringLiteral("2007003.高等数学"), scoreBySubject + ">'2007003'");
        row("score subject =", "score", subject, "=", QStringLiteral("2007003.高等数学"), scoreBySubject + "='2007003'");
        row("score subject <", "score", subject, "<", QStringLiteral("2007003.高等数学"), scoreBySubject + "<'2007003'");
        row("score subject Like adds no wildcard", "score", subject, "Like", QStringLiteral("2007%.数学"),
            scoreBySubject + "Like'2007%'");
        row("score subject without dot is empty", "score", subject, "=", "2007003", scoreBySubject + "=''");
        row("score subject several dots", "score", subject, "=", "2007003.A.B", scoreBySubject + "='2007003'");
        row("score subject empty", "score", subject, "=", "", scoreBySubject + "=''");
        row("score class =", "score", klass, "=", QStringLiteral("2007001.一班"), scoreByClass + "='2007001'");
        row("score class Like", "score", klass, "Like", QStringLiteral("2007001.一班"), scoreByClass + "Like'2007001'");
        row("score class without dot is empty", "score", klass, ">", "2007001", scoreByClass + ">''");
        row("score name =", "score", name, "=", QStringLiteral("王"), scoreByName + QStringLiteral("='王'"));
        row("score name >", "score", name, ">", QStringLiteral("王"), scoreByName + QStringLiteral(">'王'"));
        row("score name <", "score", name, "<", QStringLiteral("王"), scoreByName + QStringLiteral("<'王'"));
        row("score name Like wraps", "score", name, "Like", QStringLiteral("王"), scoreByName + QStringLiteral("Like'%王%'"));
        row("score name Like empty", "score", name, "Like", "", scoreByName + "Like'%%'");
        row("score name quote doubled", "score", name, "=", "O'Neil", scoreByName + "='O''Neil'");
        row("score name Like quote doubled", "score", name, "Like", "O'Neil", scoreByName + "Like'%O''Neil%'");
        row("score name keeps dots", "score", name, "=", "A.B", scoreByName + "='A.B'");
        row("no condition gives no operator", "score", number, "", "2007001", scoreByNumber + "'2007001'");
        row("condition is case sensitive for wrapping", "score", name, "like", QStringLiteral("王"),
            scoreByName + QStringLiteral("like'王'"));
        // Values that look like SQL reach the statement only as one literal.
        row("injection in number", "score", number, "=", "x'; DELETE FROM Score; --",
            scoreByNumber + "='x''; DELETE FROM Score; --'");
        row("injection in name Like", "score", name, "Like", "' OR 1=1 --", scoreByName + "Like'%'' OR 1=1 --%'");
        row("percent underscore semicolon chinese", "score", name, "=", QStringLiteral("100%_王;"),
            scoreByName + QStringLiteral("='100%_王;'"));
        row("injection in subject number", "score", subject, "=", "1' OR '1'='1.x", scoreBySubject + "='1'' OR ''1''=''1'");
        // Dormitory window.
        row("dorm number =", "dorm", number, "=", "2007001", dormByNumber + "='2007001'");
        row("dorm number Like", "dorm", number, "Like", "2007%", dormByNumber + "Like'2007%'");
        row("dorm name Like", "dorm", name, "Like", QStringLiteral("王"), dormByName + QStringLiteral("Like'%王%'"));
        row("dorm name =", "dorm", name, "=", QStringLiteral("王"), dormByName + QStringLiteral("='王'"));
        row("dorm number typed whole", "dorm", dorm, "=", "2007001", dormByDorm + "='2007001'");
        row("dorm number from entry", "dorm", dorm, "=", QStringLiteral("2007001.一号楼101"), dormByDorm + "='2007001'");
        row("dorm number several dots", "dorm", dorm, ">", "2007001.A.B", dormByDorm + ">'2007001'");
        row("dorm number Like", "dorm", dorm, "Like", "2007%", dormByDorm + "Like'2007%'");
        row("dorm number empty", "dorm", dorm, "<", "", dormByDorm + "<''");
        row("dorm number quote", "dorm", dorm, "=", "1'1", dormByDorm + "='1''1'");
        // Payment window.
        row("price number =", "price", number, "=", "2007001", priceByNumber + "='2007001'");
        row("price number Like adds no wildcard", "price", number, "Like", "2007%", priceByNumber + "Like'2007%'");
        row("price name Like", "price", name, "Like", QStringLiteral("王"), priceByName + QStringLiteral("Like'%王%'"));
        row("price name =", "price", name, "=", QStringLiteral("王"), priceByName + QStringLiteral("='王'"));
        row("price name >", "price", name, ">", "O'Neil", priceByName + ">'O''Neil'");
    }
    void statementText()
    {
        QFETCH(QString, window);
        QFETCH(QString, item);
        QFETCH(QString, condition);
        QFETCH(QString, value);
        QFETCH(QString, statement);
        const auto items = itemsOf(window);
        const int index = indexOf(items, item);
        QVERIFY(index >= 0);
        QCOMPARE(dravon::QueryStatement(items, index, condition, value), statement);
    }

    void noItemGivesNoStatement()
    {
        const auto items = TfrmStudentScore::queryItems();
        QCOMPARE(dravon::QueryStatement(items, -1, QStringLiteral("="), QStringLiteral("2007001")), QString());
        QCOMPARE(dravon::QueryStatement(items, items.size(), QStringLiteral("="), QStringLiteral("2007001")), QString());
    }

    void entryNumber()
    {
        QCOMPARE(dravon::NumberOfEntry(QStringLiteral("2007003.高等数学")), QStringLiteral("2007003"));
        QCOMPARE(dravon::NumberOfEntry(QStringLiteral("2007003")), QString());
        QCOMPARE(dravon::NumberOfEntry(QStringLiteral(".名")), QString());
        QCOMPARE(dravon::NumberOfEntry(QStringLiteral("1.2.3")), QStringLiteral("1"));
    }

    // The statements run against known rows: the rows found, by their remark.
    void rowsFound_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("found");
        auto row = [](const char *tag, const char *window, const QString &item, const char *condition,
                      const QString &value, const QString &found) {
            QTest::newRow(tag) << QString::fromLatin1(window) << item << QString::fromLatin1(condition) << value
                                << (found.isEmpty() ? QStringList() : found.split(QLatin1Char(',')));
        };
        const QString number = QStringLiteral("学号"), subject = QStringLiteral("科目"), klass = QStringLiteral("班级"),
                      name = QStringLiteral("姓名"), dorm = QStringLiteral("宿舍编号");
        row("score number =", "score", number, "=", "2007001", "s1,s2");
        row("score number Like pattern", "score", number, "Like", "2007%", "s1,s2,s3,s4,s5,s6,s8");
        row("score number >", "score", number, ">", "2007002", "s4,s5,s6,s8");
        row("score number <", "score", number, "<", "2007002", "s1,s2");
        row("score number entry compares whole", "score", number, "=", QStringLiteral("2007001.王小明"), "");
        row("score subject =", "score", subject, "=", QStringLiteral("2007001.语文"), "s1,s4,s7,s8");
        row("score subject >", "score", subject, ">", QStringLiteral("2007003.数学"), "s2,s5");
        row("score subject without dot", "score", subject, "=", "2007001", "");
        row("score class =", "score", klass, "=", QStringLiteral("2007002.二班"), "s4,s5,s6,s8");
        row("score name Like", "score", name, "Like", QStringLiteral("王"), "s1,s2,s4,s8");
        row("score name Like empty finds named students", "score", name, "Like", "", "s1,s2,s3,s4,s5,s8");
        row("score name quote", "score", name, "=", "O'Neil", "s5");
        row("score name partial = finds nothing", "score", name, "=", QStringLiteral("王"), "");
        row("score name with percent underscore semicolon", "score", name, "=", QStringLiteral("100%_王;"), "s8");
        row("score injection finds nothing", "score", number, "=", "x'; DELETE FROM Score; --", "");
        row("score injection OR finds nothing", "score", name, "=", "' OR '1'='1", "");
        row("dorm number =", "dorm", number, "=", "2007002", "d2");
        row("dorm name Like", "dorm", name, "Like", QStringLiteral("王"), "d1,d3");
        row("dorm number typed whole", "dorm", dorm, "=", "2007001", "d1,d3");
        row("dorm number from entry", "dorm", dorm, "=", QStringLiteral("2007001.一号楼101"), "d1,d3");
        row("dorm unknown dormitory", "dorm", dorm, "=", "2009999", "");
        row("price number =", "price", number, "=", "2007003", "p3,p4");
        row("price name Like", "price", name, "Like", QStringLiteral("小"), "p1,p3,p4");
        row("price name =", "price", name, "=", QStringLiteral("李四"), "p2");
    }
    void rowsFound()
    {
        QFETCH(QString, window);
        QFETCH(QString, item);
        QFETCH(QString, condition);
        QFETCH(QString, value);
        QFETCH(QStringList, found);
        const QString counts = QStringLiteral("SELECT count(*) FROM Score UNION ALL SELECT count(*) FROM StudentInfo");
        const QStringList before = seeded->query(counts);
        const auto items = itemsOf(window);
        const QString sql = dravon::QueryStatement(items, indexOf(items, item), condition, value);
        const auto rs = SQLDataSet(sql, *conn);
        QStringList remarks;
        for (rs->first(); !rs->eof(); rs->next())
            remarks << rs->fieldText(QStringLiteral("Remark"));
        remarks.sort();
        QCOMPARE(remarks, found);
        // Nothing in the value ran as SQL.
        QCOMPARE(seeded->query(counts), before);
    }

    void entriesInDatabaseOrder()
    {
        TestWorkspace ws(false);
        dravon::Connection conn;
        ws.pointAt(conn);
        conn.open();
        QCOMPARE(dravon::NumberAndNameEntries(conn, QStringLiteral("Select * From SubjectInfo"), QStringLiteral("SubjectID"),
                                              QStringLiteral("SubName")),
                 QStringList());
        ws.exec(QString::fromUtf8(seedRows));
        QCOMPARE(dravon::NumberAndNameEntries(conn, QStringLiteral("Select * From SubjectInfo"), QStringLiteral("SubjectID"),
                                              QStringLiteral("SubName")),
                 QStringList({QStringLiteral("2007001.语文"), QStringLiteral("2007003.数学"), QStringLiteral("2007004.英语")}));
        QCOMPARE(dravon::NumberAndNameEntries(conn, QStringLiteral("Select * From DormInfo"), QStringLiteral("DormID"),
                                              QStringLiteral("DormName")),
                 QStringList({QStringLiteral("2007001.一号楼101"), QStringLiteral("2007003.一号楼103")}));
    }
};

QTEST_MAIN(FindStatementTest)
#include "tst_findstatement.moc"
