// The program's tables on a throw-away PostgreSQL server: set up on the first
// connection to an empty database (also by two programs at once), refused
// for a database that is not the program's or is newer; the program's
// statements, rewritten by the dialect, give the same rows on the server as
// in a file; the login's faults read clearly.
#include "data/Dialect.h"
#include "data/ShortDate.h"
#include "data/server/PgSession.h"
#include "data/server/ServerSchema.h"
#include "support/EngineRows.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QFile>
#include <QtTest>
#include <sqlite3.h>
#include <thread>

using dravon::pg::Session;
using testsupport::fileRows;
using testsupport::serverRows;
using testsupport::ServerDatabase;

namespace {

// Rows in the program's own SQL, for the file and, through the dialect, the server.
const char seedRows[] = R"SQL(
INSERT INTO StudentInfo (StudentID, StuName, StuAge, ClassID, InSchoolDate) VALUES
  ('2007001','王小明',18,'2007001','2009-01-13'),('9999','O''Neil',19,'2007001','2009-09-01'),
  ('10000','oneill',NULL,'2007002',NULL),('007','Anna_%',20,'2007002','2010-02-28');
INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('2007001','语文',4.5),('2007002','数学',3.0);
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour) VALUES
  ('2007001','2009-06-30','第一学期','2007001','2007001',90.5,4.5),
  ('9999','2009-07-01','第一学期','2007002','2007001',59.0,3.0),
  ('9999',NULL,NULL,'2007001','2007001',NULL,NULL);
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID) VALUES
  ('2007001','2007001','男','2007001'),('2007002','9999','女','2007001'),('2007002','10000','女','2007002');
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime) VALUES
  ('2007001','2007001','2007001','第一学期','2009-01-13','2009-06-30'),
  ('9999','2007002','2007001','第二学期','2010-03-01','2010-07-01');
INSERT INTO TeacherInfo (TeacherID, TchName) VALUES ('2007001','张老师');
)SQL";

QStringList fileNames()
{
    QFile schema(testsupport::schemaFile());
    schema.open(QIODevice::ReadOnly);
    // The server marks the running batch in a setting of the transaction and
    // finds a batch's entries by its number: the file's table and column for
    // those are not there.
    QStringList names = dravon::namesDeclaredIn(QString::fromUtf8(schema.readAll()));
    names.removeAll(QStringLiteral("ChangeBatchCurrent"));
    names.removeAll(QStringLiteral("FirstChange"));
    return names;
}

}

class TestServerSchema : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::TestWorkspace> m_file;
    std::unique_ptr<ServerDatabase> m_server;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<dravon::PostgresDialect> m_dialect;

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }
    void cleanupTestCase()
    {
        m_dialect.reset();
        m_session.reset();
        m_server.reset();
        m_file.reset();
    }

    void firstConnectionSetsUpAnEmptyDatabase()
    {
        ServerDatabase db;
        Session session(db.address());
        QCOMPARE(dravon::pg::serverSchemaVersion(session), 0);
        dravon::pg::prepareServerSchema(session);
        QCOMPARE(dravon::pg::serverSchemaVersion(session), dravon::currentSchemaVersion);
        QCOMPARE(db.query(QStringLiteral("SELECT \"UserID\" || '/' || \"UserPassword\" FROM \"User\"")),
                 QStringList(QStringLiteral("1001/admin")));
        // A second connection finds it ready and changes nothing.
        Session again(db.address());
        dravon::pg::prepareServerSchema(again);
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM \"User\"")), QStringList(QStringLiteral("1")));
        const QStringList names = dravon::pg::serverNames(again);
        for (const QString &n : fileNames())
            QVERIFY2(names.contains(n), qPrintable(n));
    }

    // A database of version 4, before the server kept the change log, gets
    // the log's tables and triggers on the next connection and keeps its
    // rows; then the restore check finds it the program's own, and a write of
    // a plain psql session is logged as another program's.
    void fourthVersionGetsTheChangeLog()
    {
        ServerDatabase db;
        QString fourth = dravon::pg::serverSchemaSql();
        const qsizetype from = fourth.indexOf(QStringLiteral("-- Version 5:"));
        fourth.remove(from, fourth.indexOf(QStringLiteral("-- End of version 5.")) - from);
        fourth.replace(QStringLiteral("VALUES (5);"), QStringLiteral("VALUES (4);"));
        db.exec(fourth);
        db.exec(QStringLiteral("INSERT INTO \"Score\" (\"StudentID\", \"Score\") VALUES ('2007001', 60)"));
        Session session(db.address());
        QCOMPARE(dravon::pg::serverSchemaVersion(session), 4);
        dravon::pg::prepareServerSchema(session);
        QCOMPARE(dravon::pg::serverSchemaVersion(session), dravon::currentSchemaVersion);
        QCOMPARE(dravon::pg::serverSchemaDifferences(session), QStringList());
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM \"ChangeLog\"")), QStringList{"0"});

        const dravon::pg::ServerAddress a = db.address();
        QProcess psql;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGPASSWORD"), a.password);
        psql.setProcessEnvironment(env);
        psql.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                            QStringLiteral("-h"), a.host, QStringLiteral("-p"), QString::number(a.port),
                                            QStringLiteral("-U"), a.user, QStringLiteral("-d"), a.database, QStringLiteral("-c"),
                                            QStringLiteral("UPDATE \"Score\" SET \"Score\" = 65.5, \"Term\" = '第一学期'")});
        QVERIFY(psql.waitForFinished(30000));
        QVERIFY2(psql.exitCode() == 0, psql.readAllStandardError().constData());
        QCOMPARE(db.query(QStringLiteral("SELECT concat_ws('|', \"TableName\", \"RowKey\", \"Operation\", \"Field\", "
                                         "coalesce(\"OldValue\", 'NULL'), \"NewValue\", \"BatchID\" IS NULL, "
                                         "\"ChangedAt\" ~ '^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$') "
                                         "FROM \"ChangeLog\" ORDER BY \"ChangeID\"")),
                 QStringList({"Score|1|U|Term|NULL|第一学期|t|t", "Score|1|U|Score|60|65.5|t|t"}));
    }

    void twoProgramsSetUpOneDatabaseOnce()
    {
        ServerDatabase db;
        QStringList failures;
        std::mutex m;
        auto connect = [&] {
            try {
                Session s(db.address());
                dravon::pg::prepareServerSchema(s);
            } catch (const dravon::Error &e) {
                std::lock_guard<std::mutex> lock(m);
                failures << e.text();
            }
        };
        std::thread a(connect), b(connect);
        a.join();
        b.join();
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM \"User\"")), QStringList(QStringLiteral("1")));
    }

    void refusesWhatIsNotTheProgramsOrNewer_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("message");
        QTest::newRow("another program's table") << QStringLiteral("CREATE TABLE accounts (x int)")
                                                 << QStringLiteral("缺少数据表 TeacherInfo");
        QTest::newRow("newer version") << QStringLiteral("UPDATE \"SchemaVersion\" SET \"Version\" = 99")
                                       << QStringLiteral("较新版本");
        QTest::newRow("a table dropped") << QStringLiteral("DROP TABLE \"Course\"") << QStringLiteral("缺少数据表 Course");
    }

    void refusesWhatIsNotTheProgramsOrNewer()
    {
        QFETCH(QString, before);
        QFETCH(QString, message);
        ServerDatabase db;
        if (!before.startsWith(QLatin1String("CREATE"))) {
            Session setup(db.address());
            dravon::pg::prepareServerSchema(setup);
        }
        db.exec(before);
        const QStringList tablesBefore = db.query(
            QStringLiteral("SELECT string_agg(table_name, ',' ORDER BY table_name) FROM information_schema.tables "
                           "WHERE table_schema = 'public'"));
        Session session(db.address());
        try {
            dravon::pg::prepareServerSchema(session);
            QFAIL("the database was taken");
        } catch (const dravon::SchemaError &e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral("没有做任何修改")), qPrintable(e.text()));
        }
        QCOMPARE(db.query(QStringLiteral("SELECT string_agg(table_name, ',' ORDER BY table_name) FROM "
                                         "information_schema.tables WHERE table_schema = 'public'")),
                 tablesBefore);
        // The session is usable after the refusal (its transaction was rolled back).
        QCOMPARE(session.exec(QStringLiteral("SELECT 1")).text(0, 0), QStringLiteral("1"));
    }

    void statementsGiveTheFilesRows_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("login, quote doubled")
            << QStringLiteral("SELECT UserID, UserName FROM [User] WHERE UserID='1001' AND UserPassword='admin'");
        QTest::newRow("next identifier by number")
            << QStringLiteral("SELECT \"StudentID\" FROM \"StudentInfo\" ORDER BY (\"StudentID\" GLOB '*[^0-9]*' OR "
                              "\"StudentID\" = '') DESC, length(ltrim(\"StudentID\", '0')) DESC, "
                              "ltrim(\"StudentID\", '0') DESC LIMIT 1");
        QTest::newRow("names Like, ASCII case ignored, _ and % in names")
            << QStringLiteral("Select B.StudentID, B.Score From StudentInfo A, Score B where A.StudentID=B.StudentID "
                              "and A.StuName Like'%o''n%' ORDER BY B.Id");
        QTest::newRow("Like with a backslash") << QStringLiteral("SELECT count(*) FROM StudentInfo WHERE StuName Like '%\\%'");
        QTest::newRow("text order is byte order")
            << QStringLiteral("SELECT StudentID FROM StudentInfo WHERE StudentID > '2007001' ORDER BY StudentID");
        QTest::newRow("dates between #literals#")
            << QStringLiteral("Select A.Term, C.StuName, A.BeginTime From Course A, StudentInfo C where A.StudentID = "
                              "C.StudentID and A.BeginTime between #2009/1/1# and #2009/12/31#");
        QTest::newRow("numbers and NULLs")
            << QStringLiteral("SELECT t.StuAge, j.CreditHour, s.Score, ifnull(Term, '-') FROM Score s LEFT JOIN StudentInfo "
                              "t ON t.StudentID = s.StudentID LEFT JOIN SubjectInfo j ON j.SubjectID = s.SubjectID "
                              "ORDER BY s.Id");
        QTest::newRow("typeof") << QStringLiteral("SELECT typeof(StuAge), typeof(StuName), typeof(InSchoolDate) FROM "
                                                  "StudentInfo ORDER BY StudentID");
        QTest::newRow("total and group_concat")
            << QStringLiteral("SELECT DormID, count(*), total(StuSex = '男'), total(StuSex = '女'), "
                              "group_concat(DISTINCT ClassID) FROM Dorm GROUP BY DormID ORDER BY DormID");
        QTest::newRow("total over nothing") << QStringLiteral("SELECT total(Score) FROM Score WHERE Score > 100");
        QTest::newRow("glob on the server")
            << QStringLiteral("SELECT StudentID FROM StudentInfo WHERE StudentID GLOB '[0-9]*' AND StudentID NOT "
                              "GLOB '*0' ORDER BY StudentID");
        QTest::newRow("transcript order")
            << QStringLiteral("Select Coalesce(s.Term, '') As Term, s.SubjectID As SubjectID, s.ScoreDateTime As "
                              "ScoreDateTime From Score s Left Join SubjectInfo j On j.SubjectID = s.SubjectID Where "
                              "s.StudentID = '9999' Order By (Coalesce(s.Term, '') = ''), s.Term, "
                              "(s.ScoreDateTime Is Null), s.ScoreDateTime, s.SubjectID");
    }

    void statementsGiveTheFilesRows()
    {
        QFETCH(QString, sql);
        if (!m_file) {
            // One seeded pair for every row of this test: the same inserts in both.
            m_file = std::make_unique<testsupport::TestWorkspace>(false);
            m_file->exec(QString::fromUtf8(seedRows));
            m_server = std::make_unique<ServerDatabase>();
            m_session = std::make_unique<Session>(m_server->address());
            dravon::pg::prepareServerSchema(*m_session);
            m_dialect = std::make_unique<dravon::PostgresDialect>(dravon::pg::serverNames(*m_session));
            for (const QString &statement : QString::fromUtf8(seedRows).split(QLatin1Char(';'))) {
                if (!statement.trimmed().isEmpty())
                    m_session->exec(m_dialect->rewrite(statement));
            }
        }
        const QStringList expected = fileRows(m_file->dbPath(), sql);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(serverRows(*m_session, *m_dialect, sql), expected);
    }

    void identifierOrderReadsTheIndex()
    {
        ServerDatabase db;
        Session session(db.address());
        dravon::pg::prepareServerSchema(session);
        session.exec(QStringLiteral("SET enable_seqscan = off"));
        const dravon::PostgresDialect dialect(dravon::pg::serverNames(session));
        const QString plan = serverRows(
            session, dialect,
            QStringLiteral("EXPLAIN SELECT \"TeacherID\" FROM \"TeacherInfo\" ORDER BY (\"TeacherID\" GLOB '*[^0-9]*' "
                           "OR \"TeacherID\" = '') DESC, length(ltrim(\"TeacherID\", '0')) DESC, "
                           "ltrim(\"TeacherID\", '0') DESC LIMIT 1"))
                                 .join(QLatin1Char('\n'));
        QVERIFY2(plan.contains(QStringLiteral("TeacherInfo_IdOrder")) && !plan.contains(QStringLiteral("Sort")),
                 qPrintable(plan));
    }

    void connectionFaultsReadClearly_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("message");
        QTest::newRow("wrong password") << QStringLiteral("password") << QStringLiteral("用户名或密码不正确");
        QTest::newRow("no such database") << QStringLiteral("database") << QStringLiteral("服务器上没有数据库 nosuchdb");
        QTest::newRow("nothing listening") << QStringLiteral("port") << QStringLiteral("无法连接到数据库服务器");
    }

    void connectionFaultsReadClearly()
    {
        QFETCH(QString, what);
        QFETCH(QString, message);
        dravon::pg::ServerAddress a = testsupport::TestServer::instance().address(QStringLiteral("postgres"));
        if (what == QLatin1String("password"))
            a.password = QStringLiteral("wrong");
        else if (what == QLatin1String("database"))
            a.database = QStringLiteral("nosuchdb");
        else
            a.port = 1;
        try {
            Session s(a);
            QFAIL("connected");
        } catch (const dravon::pg::ServerError &e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerSchema)
#include "tst_serverschema.moc"
