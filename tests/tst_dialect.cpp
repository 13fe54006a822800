// The statements of the program as each engine receives them: the windows'
// own texts, the identifier order, the find queries, the transcript, the row
// sources' keyset pages, and SQLite's functions and clauses that the server
// spells differently. Pure rewriting; no database is opened.
#include "data/Dialect.h"
#include "data/Error.h"
#include "data/FieldValue.h"
#include "data/QueryStatement.h"
#include "data/ReadStatement.h"
#include "data/ShortDate.h"
#include "support/TestWorkspace.h"

#include <QFile>
#include <QtTest>

namespace {

QStringList programNames()
{
    QFile schema(testsupport::schemaFile());
    if (!schema.open(QIODevice::ReadOnly))
        qFatal("cannot read the schema");
    return dravon::namesDeclaredIn(QString::fromUtf8(schema.readAll()));
}

}

class TestDialect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }
    void cleanupTestCase() { dravon::setShortDateFormatForTesting(QString()); }

    void schemaNames()
    {
        const QStringList names = programNames();
        for (const char *n : {"TeacherInfo", "StudentInfo", "GradeInfo", "ClassInfo", "SubjectInfo", "DormInfo", "User",
                              "Score", "Practice", "Moral", "Price", "Dorm", "Course", "TchAge", "InSchoolDate",
                              "UserPassword", "CreditHour", "BeginTime", "Id", "Remark"})
            QVERIFY2(names.contains(QLatin1String(n)), n);
        // Constraint names and type words are not columns.
        for (const char *n : {"CONSTRAINT", "TEXT", "CHECK", "PRIMARY", "INTEGER"})
            QVERIFY2(!names.contains(QLatin1String(n), Qt::CaseInsensitive), n);
        QCOMPARE(names.count(QStringLiteral("StudentID")), 1);
        QCOMPARE(dravon::namesDeclaredIn(QStringLiteral("create table if not exists \"a b\" (x int, [y] text, "
                                                        "primary key (x), constraint c check (x > 0))")),
                 QStringList({QStringLiteral("a b"), QStringLiteral("x"), QStringLiteral("y")}));
    }

    void postgres_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const QDate begin(2009, 1, 13);
        const QDate end(2009, 12, 31);

        QTest::newRow("login") << QStringLiteral("SELECT * FROM [User] WHERE UserID='1001' AND UserPassword='a''b'")
                               << QStringLiteral("SELECT * FROM \"User\" WHERE \"UserID\"='1001' AND \"UserPassword\"='a''b'");
        QTest::newRow("password")
            << QStringLiteral("Update [User] Set UserPassword='new' where UserID='1001'")
            << QStringLiteral("Update \"User\" Set \"UserPassword\"='new' where \"UserID\"='1001'");
        QTest::newRow("whole table") << QStringLiteral("Select * From TeacherInfo")
                                     << QStringLiteral("Select * From \"TeacherInfo\"");
        QTest::newRow("quoted name in another case") << QStringLiteral("select \"user\".userid from \"user\"")
                                                     << QStringLiteral("select \"User\".\"UserID\" from \"User\"");
        QTest::newRow("max as its own name")
            << QStringLiteral("SELECT Max(TeacherID) as TeacherID FROM TeacherInfo")
            << QStringLiteral("SELECT Max(\"TeacherID\") as \"TeacherID\" FROM \"TeacherInfo\"");
        QTest::newRow("identifier order")
            << QStringLiteral("SELECT \"StudentID\" FROM \"StudentInfo\" ORDER BY (\"StudentID\" GLOB '*[^0-9]*' OR "
                              "\"StudentID\" = '') DESC, length(ltrim(\"StudentID\", '0')) DESC, "
                              "ltrim(\"StudentID\", '0') DESC LIMIT 1")
            << QStringLiteral("SELECT \"StudentID\" FROM \"StudentInfo\" ORDER BY (\"StudentID\" ~ '[^0-9]' OR "
                              "\"StudentID\" = '') DESC, length(ltrim(\"StudentID\", '0')) DESC, "
                              "ltrim(\"StudentID\", '0') DESC LIMIT 1");
        QTest::newRow("score by name, Like")
            << dravon::QueryStatement(
                   {{QStringLiteral("姓名"), dravon::QueryValueKind::Name,
                     QStringLiteral("Select B.* From StudentInfo A, Score B where A.StudentID=B.StudentID and A.StuName ")}},
                   0, QStringLiteral("Like"), QStringLiteral("王"))
            << QStringLiteral("Select B.* From \"StudentInfo\" A, \"Score\" B where A.\"StudentID\"=B.\"StudentID\" "
                              "and A.\"StuName\" ILIKE'%王%' ESCAPE ''");
        QTest::newRow("dorm by number, >")
            << QStringLiteral("Select B.* From DormInfo A, Dorm B where A.DormID=B.DormID and A.DormID >'2007001'")
            << QStringLiteral("Select B.* From \"DormInfo\" A, \"Dorm\" B where A.\"DormID\"=B.\"DormID\" and "
                              "A.\"DormID\" >'2007001'");
        QTest::newRow("course query between dates")
            << dravon::CourseQueryStatement(QString(), QString(), begin, end)
            << QStringLiteral("Select A.\"Term\",A.\"Remark\",B.\"SubName\",C.\"StuName\",D.\"TchName\" ,A.\"BeginTime\" "
                              ",A.\"EndTime\" From \"Course\" A  ,\"SubjectInfo\" B   ,\"StudentInfo\" C   ,"
                              "\"TeacherInfo\" D   where A.\"SubjectID\" = B.\"SubjectID\" and A.\"StudentID\" = "
                              "C.\"StudentID\" and A.\"TeacherID\" = D.\"TeacherID\" and A.\"BeginTime\" between "
                              "'2009-01-13' and '2009-12-31'");
        QTest::newRow("transcript")
            << QStringLiteral("Select Coalesce(s.Term, '') As Term, j.SubName As SubName From Score s Left Join "
                              "SubjectInfo j On j.SubjectID = s.SubjectID Where s.StudentID = '2007001' Order By "
                              "(Coalesce(s.Term, '') = ''), s.Term, (s.ScoreDateTime Is Null)")
            << QStringLiteral("Select Coalesce(s.\"Term\", '') As \"Term\", j.\"SubName\" As \"SubName\" From "
                              "\"Score\" s Left Join \"SubjectInfo\" j On j.\"SubjectID\" = s.\"SubjectID\" Where "
                              "s.\"StudentID\" = '2007001' Order By (Coalesce(s.\"Term\", '') = ''), s.\"Term\", "
                              "(s.\"ScoreDateTime\" Is Null)");
        QTest::newRow("keyset page")
            << QStringLiteral("SELECT rowid, * FROM \"Score\" WHERE rowid > ?1 AND rowid <= ?2 AND (StudentID = ?5) "
                              "ORDER BY rowid LIMIT ?3")
            << QStringLiteral("SELECT \"Id\", * FROM \"Score\" WHERE \"Id\" > $1 AND \"Id\" <= $2 AND (\"StudentID\" = "
                              "$5) ORDER BY \"Id\" LIMIT $3");
        QTest::newRow("anonymous parameters follow the largest number")
            << QStringLiteral("UPDATE \"Score\" SET \"Score\" = ?, \"Remark\" = ? WHERE rowid = ?2 AND x = ?")
            << QStringLiteral("UPDATE \"Score\" SET \"Score\" = $1, \"Remark\" = $2 WHERE \"Id\" = $2 AND x = $3");
        QTest::newRow("named parameters")
            << QStringLiteral("SELECT :a, @b, :a") << QStringLiteral("SELECT $1, $2, $1");
        QTest::newRow("Like keeps its own escape")
            << QStringLiteral("SELECT 1 FROM Score WHERE Remark NOT LIKE ?1 ESCAPE '\\' AND Term like 'a%'")
            << QStringLiteral("SELECT 1 FROM \"Score\" WHERE \"Remark\" NOT ILIKE $1 ESCAPE '\\' AND \"Term\" ILIKE "
                              "'a%' ESCAPE ''");
        QTest::newRow("Like over a concatenation, then a clause")
            << QStringLiteral("SELECT 1 FROM Score WHERE (Remark LIKE '%' || ?1 || '%') ORDER BY Id")
            << QStringLiteral("SELECT 1 FROM \"Score\" WHERE (\"Remark\" ILIKE '%' || $1 || '%' ESCAPE '') ORDER BY \"Id\"");
        QTest::newRow("glob sets, wildcards and specials")
            << QStringLiteral("SELECT 1 WHERE a GLOB '[0-9]?.x*' AND b NOT GLOB '*(a+b)*' AND c GLOB '[]x]*'")
            << QStringLiteral("SELECT 1 WHERE a ~ '^[0-9].\\.x' AND b !~ '\\(a\\+b\\)' AND c ~ '^[\\]x]'");
        QTest::newRow("glob with a quote")
            << QStringLiteral("SELECT 1 WHERE a GLOB '*''*'") << QStringLiteral("SELECT 1 WHERE a ~ ''''");
        QTest::newRow("ifnull, instr, ==")
            << QStringLiteral("SELECT ifnull(Remark, ''), instr(StuName, '王') FROM StudentInfo WHERE 1 == 1")
            << QStringLiteral("SELECT coalesce(\"Remark\", ''), strpos(\"StuName\", '王') FROM \"StudentInfo\" WHERE 1 = 1");
        QTest::newRow("substr of a date column's text")
            << QStringLiteral("SELECT substr(InSchoolDate, 1, 4), substr(StuName, ?1) FROM StudentInfo")
            << QStringLiteral("SELECT substr(CAST(\"InSchoolDate\" AS text), 1, 4), substr(CAST(\"StuName\" AS text), $1) "
                              "FROM \"StudentInfo\"");
        QTest::newRow("typeof")
            << QStringLiteral("SELECT typeof(StuAge) = 'integer' FROM StudentInfo")
            << QStringLiteral("SELECT (CASE WHEN (\"StuAge\") IS NULL THEN 'null' WHEN pg_typeof(\"StuAge\")::text IN "
                              "('bigint', 'integer', 'smallint', 'boolean') THEN 'integer' WHEN "
                              "pg_typeof(\"StuAge\")::text IN ('double precision', 'real', 'numeric') THEN 'real' WHEN "
                              "pg_typeof(\"StuAge\")::text = 'bytea' THEN 'blob' ELSE 'text' END) = 'integer' FROM "
                              "\"StudentInfo\"");
        QTest::newRow("group_concat and total")
            << QStringLiteral("SELECT group_concat(DISTINCT ClassID), group_concat(Term, ';'), total(Price) FROM Dorm")
            << QStringLiteral("SELECT string_agg(DISTINCT CAST(\"ClassID\" AS text), ','), string_agg(CAST(\"Term\" AS "
                              "text), ';'), total(\"Price\") FROM \"Dorm\"");
        QTest::newRow("clock")
            << QStringLiteral("SELECT datetime('now', 'localtime'), datetime('now', 'localtime', ?1), date('now')")
            << QStringLiteral("SELECT to_char(LOCALTIMESTAMP, 'YYYY-MM-DD HH24:MI:SS'), to_char(LOCALTIMESTAMP + "
                              "CAST($1 AS interval), 'YYYY-MM-DD HH24:MI:SS'), to_char((CURRENT_TIMESTAMP AT TIME ZONE "
                              "'UTC'), 'YYYY-MM-DD')");
        QTest::newRow("date of a column")
            << QStringLiteral("SELECT date(ScoreDateTime, '+1 day') FROM Score")
            << QStringLiteral("SELECT to_char(CAST(\"ScoreDateTime\" AS timestamp) + CAST('+1 day' AS interval), "
                              "'YYYY-MM-DD') FROM \"Score\"");
        QTest::newRow("types")
            << QStringLiteral("SELECT CAST(Score AS REAL), CAST(StuAge AS INTEGER) FROM Score, StudentInfo")
            << QStringLiteral("SELECT CAST(\"Score\" AS double precision), CAST(\"StuAge\" AS bigint) FROM \"Score\", "
                              "\"StudentInfo\"");
        QTest::newRow("insert or ignore")
            << QStringLiteral("INSERT OR IGNORE INTO GradeInfo (GradeID) VALUES (?1);  ")
            << QStringLiteral("INSERT INTO \"GradeInfo\" (\"GradeID\") VALUES ($1) ON CONFLICT DO NOTHING;  ");
        QTest::newRow("texts, comments and unknown names stay")
            << QStringLiteral("SELECT 'Like #1# [User] rowid', x.y -- User Like\nFROM other /* Score */")
            << QStringLiteral("SELECT 'Like #1# [User] rowid', x.y -- User Like\nFROM other /* Score */");
    }

    void postgres()
    {
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        const dravon::PostgresDialect dialect(programNames());
        QCOMPARE(dialect.rewrite(sql), expected);
    }

    // The tables a statement names that the dialect does not know, so that
    // the connection reads the database's names again before rewriting it;
    // nothing for the program's own tables, subqueries, a statement's own
    // parts, other schemas' tables and words that only look like tables.
    void unknownTables_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("unknown");
        QTest::newRow("program tables, aliases, joins")
            << QStringLiteral("Select S.* From Score S, [StudentInfo] As I Left Join ClassInfo C On C.ClassID = I.ClassID")
            << QStringList();
        QTest::newRow("a new table in a list and a join")
            << QStringLiteral("Select * From Score S, Notice N Join \"Extra\" E On E.Id = N.Id Where S.Id In "
                              "(Select Id From Later)")
            << QStringList{"Notice", "Extra", "Later"};
        QTest::newRow("writes") << QStringLiteral("Insert Into Notice (Text) Values (1); Update [Extra] Set A = 1; "
                                                  "Delete From Later")
                                << QStringList{"Notice", "Extra", "Later"};
        QTest::newRow("not tables")
            << QStringLiteral("With part As (Select 1) Select * From part, Score Where Id In (Select g From "
                              "generate_series(1, 3) g) And Id In (Select oid From pg_catalog.pg_class) And Id Not In "
                              "(Select 2 From (Select 3) q) And Remark Is Distinct From Null And "
                              "extract(year From ScoreDateTime) > 1 For Update Of Score")
            << QStringList();
    }

    void unknownTables()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, unknown);
        dravon::PostgresDialect dialect(programNames());
        QCOMPARE(dialect.unknownTables(sql), unknown);
        // Known once the names are read again.
        dialect.setNames(programNames() + unknown);
        QCOMPARE(dialect.unknownTables(sql), QStringList());
    }

    void postgresRefuses_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("reason");
        QTest::newRow("glob of a parameter") << QStringLiteral("SELECT 1 WHERE a GLOB ?1") << QStringLiteral("GLOB");
        QTest::newRow("glob of an expression") << QStringLiteral("SELECT 1 WHERE a GLOB 'x' || b")
                                               << QStringLiteral("GLOB");
        QTest::newRow("insert or replace") << QStringLiteral("INSERT OR REPLACE INTO Dorm VALUES (1)")
                                           << QStringLiteral("INSERT OR REPLACE");
        QTest::newRow("replace into") << QStringLiteral("REPLACE INTO Dorm VALUES (1)") << QStringLiteral("REPLACE INTO");
        QTest::newRow("open date literal") << QStringLiteral("SELECT #2009/1/1") << QStringLiteral("#");
        QTest::newRow("no such date") << QStringLiteral("SELECT #2009/2/30#") << QStringLiteral("2009/2/30");
    }

    void postgresRefuses()
    {
        QFETCH(QString, sql);
        QFETCH(QString, reason);
        const dravon::PostgresDialect dialect(programNames());
        try {
            dialect.rewrite(sql);
            QFAIL("rewritten without complaint");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().contains(reason), qPrintable(e.text()));
        }
    }

    void sqliteKeepsTheStatement()
    {
        const dravon::SqliteDialect dialect;
        const QString sql = QStringLiteral("SELECT rowid FROM [User] WHERE UserID GLOB '1*' AND UserName Like 'a%' "
                                           "AND ifnull(Remark, '') = ?1");
        QCOMPARE(dialect.rewrite(sql), sql);
        QCOMPARE(dialect.rewrite(QStringLiteral("SELECT * FROM Course WHERE BeginTime < #2009/1/13#")),
                 QStringLiteral("SELECT * FROM Course WHERE BeginTime < '2009-01-13'"));
        QCOMPARE(dialect.quoteName(QStringLiteral("User")), QStringLiteral("\"User\""));
        QCOMPARE(dravon::PostgresDialect(programNames()).quoteName(QStringLiteral("user")), QStringLiteral("\"User\""));
    }

    // A refused write names its column and why, in either engine's words.
    void refusalNamesTheColumn_data()
    {
        QTest::addColumn<QString>("engineText");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("why");
        QTest::newRow("file, missing") << "NOT NULL constraint failed: TeacherInfo.TeacherID" << "TeacherID" << "不能为空";
        QTest::newRow("file, duplicate") << "UNIQUE constraint failed: User.UserID" << "UserID" << "与已有记录重复";
        QTest::newRow("file, check") << "CHECK constraint failed: InSchoolDate" << "InSchoolDate" << "类型或格式不符合该字段";
        QTest::newRow("server, missing")
            << "ERROR:  null value in column \"TeacherID\" of relation \"TeacherInfo\" violates not-null constraint\n"
               "DETAIL:  Failing row contains (null, 无编号, 1)."
            << "TeacherID" << "不能为空";
        QTest::newRow("server, duplicate")
            << "ERROR:  duplicate key value violates unique constraint \"User_pkey\"\n"
               "DETAIL:  Key (\"UserID\")=(1001) already exists."
            << "UserID" << "与已有记录重复";
        QTest::newRow("server, duplicate of a lower-case name")
            << "ERROR:  duplicate key value violates unique constraint \"t_pkey\"\nDETAIL:  Key (code)=(7) already exists."
            << "code" << "与已有记录重复";
        QTest::newRow("server, check")
            << "ERROR:  new row for relation \"StudentInfo\" violates check constraint \"InSchoolDate\""
            << "InSchoolDate" << "类型或格式不符合该字段";
        QTest::newRow("neither") << "disk I/O error" << "" << "不符合该字段的要求";
    }
    void refusalNamesTheColumn()
    {
        QFETCH(QString, engineText);
        QFETCH(QString, column);
        QFETCH(QString, why);
        const dravon::RefusalReason reason = dravon::readRefusal(engineText);
        QCOMPARE(reason.column, column);
        QCOMPARE(reason.why, why);
    }

    // The server is sent only the parameters a rewritten statement uses,
    // numbered again in the order of their first use; quoted text is left alone.
    void serverParametersNumberedDensely_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("dense");
        QTest::addColumn<QList<int>>("original");
        QTest::newRow("gaps closed")
            << QStringLiteral("SELECT \"Id\" FROM t WHERE \"Id\" >= $4 AND \"Id\" <= $5 AND a >= $2")
            << QStringLiteral("SELECT \"Id\" FROM t WHERE \"Id\" >= $1 AND \"Id\" <= $2 AND a >= $3")
            << QList<int>{4, 5, 2};
        QTest::newRow("one parameter twice")
            << QStringLiteral("SELECT $6, total(x < $6), $10") << QStringLiteral("SELECT $1, total(x < $1), $2")
            << QList<int>{6, 10};
        QTest::newRow("quotes, doubled quotes and a dollar sign alone")
            << QStringLiteral("SELECT '$1 it''s $2', \"a$3\"\"$4\", $ , $3")
            << QStringLiteral("SELECT '$1 it''s $2', \"a$3\"\"$4\", $ , $1") << QList<int>{3};
        QTest::newRow("none") << QStringLiteral("SELECT 1") << QStringLiteral("SELECT 1") << QList<int>{};
    }
    void serverParametersNumberedDensely()
    {
        QFETCH(QString, sql);
        QFETCH(QString, dense);
        QFETCH(QList<int>, original);
        const dravon::DenseParameters d = dravon::denseParameters(sql);
        QCOMPARE(d.sql, dense);
        QCOMPARE(QList<int>(d.original.begin(), d.original.end()), original);
    }
};

QTEST_GUILESS_MAIN(TestDialect)
#include "tst_dialect.moc"
