// The database file's table shapes over time: a file of the first version
// (record tables without a row key) or of the second (no change log) is
// upgraded when it is opened, a failed upgrade leaves it untouched, and the
// build delivers its files private.

#include "data/Dravon.h"
#include "data/SchemaUpgrade.h"
#include "support/TestWorkspace.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// The record tables as the first version of the program created them.
const char *firstVersionRecordTables = R"SQL(
DROP TABLE Score; DROP TABLE Practice; DROP TABLE Moral; DROP TABLE Price; DROP TABLE Dorm; DROP TABLE Course;
CREATE TABLE Score (
  StudentID     TEXT,
  ScoreDateTime DATE CONSTRAINT ScoreDateTime CHECK (ScoreDateTime IS NULL OR (typeof(ScoreDateTime) = 'text'
                  AND ScoreDateTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(ScoreDateTime) = ScoreDateTime)),
  Term          TEXT,
  SubjectID     TEXT,
  ClassID       TEXT,
  Score         REAL CONSTRAINT Score CHECK (Score IS NULL OR typeof(Score) = 'real'),
  CreditHour    REAL CONSTRAINT CreditHour CHECK (CreditHour IS NULL OR typeof(CreditHour) = 'real'),
  Remark        TEXT
);
CREATE TABLE Practice (
  StudentID        TEXT,
  ClassID          TEXT,
  PracticeDateTime DATE CONSTRAINT PracticeDateTime CHECK (PracticeDateTime IS NULL OR (typeof(PracticeDateTime) = 'text'
                     AND PracticeDateTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(PracticeDateTime) = PracticeDateTime)),
  PracticeName     TEXT,
  PracticeResult   TEXT,
  Remark           TEXT
);
CREATE TABLE Moral (
  StudentID   TEXT,
  ClassID     TEXT,
  MoralID     TEXT,
  MoralResult REAL CONSTRAINT MoralResult CHECK (MoralResult IS NULL OR typeof(MoralResult) = 'real'),
  Remark      TEXT
);
CREATE TABLE Price (
  ClassID   TEXT,
  PriceName TEXT,
  StudentID TEXT,
  Price     REAL CONSTRAINT Price CHECK (Price IS NULL OR typeof(Price) = 'real'),
  Remark    TEXT
);
CREATE TABLE Dorm (
  ClassID   TEXT,
  StudentID TEXT,
  StuSex    TEXT,
  DormID    TEXT,
  Remark    TEXT
);
CREATE TABLE Course (
  StudentID TEXT,
  SubjectID TEXT,
  TeacherID TEXT,
  Term      TEXT,
  BeginTime DATE CONSTRAINT BeginTime CHECK (BeginTime IS NULL OR (typeof(BeginTime) = 'text'
              AND BeginTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(BeginTime) = BeginTime)),
  EndTime   DATE CONSTRAINT EndTime CHECK (EndTime IS NULL OR (typeof(EndTime) = 'text'
              AND EndTime GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]' AND date(EndTime) = EndTime)),
  Remark    TEXT
);
CREATE INDEX Score_StudentID ON Score (StudentID);
CREATE INDEX Score_SubjectID ON Score (SubjectID);
CREATE INDEX Score_ClassID ON Score (ClassID);
CREATE INDEX Practice_StudentID ON Practice (StudentID);
CREATE INDEX Practice_ClassID ON Practice (ClassID);
CREATE INDEX Moral_StudentID ON Moral (StudentID);
CREATE INDEX Moral_ClassID ON Moral (ClassID);
CREATE INDEX Price_StudentID ON Price (StudentID);
CREATE INDEX Price_ClassID ON Price (ClassID);
CREATE INDEX Dorm_StudentID ON Dorm (StudentID);
CREATE INDEX Dorm_DormID ON Dorm (DormID);
CREATE INDEX Dorm_ClassID ON Dorm (ClassID);
CREATE INDEX Course_StudentID ON Course (StudentID);
CREATE INDEX Course_SubjectID ON Course (SubjectID);
CREATE INDEX Course_TeacherID ON Course (TeacherID);
CREATE INDEX Course_BeginTime ON Course (BeginTime);
PRAGMA user_version = 0;
)SQL";

// Rows in an order that differs from their values, with gaps left by deletes.
const char *firstVersionRows = R"SQL(
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES
  ('2007003','2008-01-10','第一学期','2007002','2007001',88.5,3.0,'c'),
  ('2007001','2008-01-11','第一学期','2007001','2007001',60.0,2.0,'gone'),
  ('2007001','2008-01-11','第一学期','2007001','2007001',60.0,2.0,'same'),
  ('2007001','2008-01-11','第一学期','2007001','2007001',60.0,2.0,'same'),
  ('2007002',NULL,NULL,NULL,NULL,NULL,NULL,NULL);
DELETE FROM Score WHERE Remark = 'gone';
INSERT INTO Practice (StudentID, ClassID, PracticeDateTime, PracticeName, PracticeResult, Remark) VALUES
  ('2007002','2007001','2008-03-01','支教','优',NULL), ('2007001','2007001','2008-03-02','调查','良','x');
INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult, Remark) VALUES ('2007001','2007001','M1',90.0,NULL);
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES ('2007001','三好学生','2007002',100.0,NULL),
  ('2007001','进步奖','2007001',30.0,NULL);
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES ('2007001','2007001','男','2007001',NULL);
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark) VALUES
  ('2007001','2007001','2007001','第一学期','2007-09-01','2007-12-31',NULL),
  ('2007002','2007003','2007003','第一学期','2007-09-15','2008-01-15','b');
)SQL";

const QStringList recordTables = {"Score", "Practice", "Moral", "Price", "Dorm", "Course"};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every row of a table in stored order, all columns but the row key joined.
QStringList tableRows(const QString &dbPath, const QString &table, const QString &order)
{
    QStringList columns = testsupport::querySql(dbPath, QStringLiteral("SELECT name FROM pragma_table_info('%1') "
                                                                      "WHERE name <> 'Id'").arg(table));
    for (QString &c : columns)
        c = QStringLiteral("quote(%1)").arg(c);
    return testsupport::querySql(dbPath, QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                                             .arg(columns.join(QStringLiteral(" || '|' || ")), table, order));
}

std::optional<QString> openError(const QString &dbPath)
{
    try {
        dravon::Connection c;
        c.setConnectionString(testsupport::connectionStringFor(dbPath));
        c.open();
    } catch (const dravon::Error &e) {
        return e.text();
    }
    return std::nullopt;
}

// Makes the workspace's file one of a version before the change log.
void withoutChangeLog(const testsupport::TestWorkspace &ws, int version)
{
    QStringList drops;
    for (const QString &trigger : ws.query("SELECT name FROM sqlite_master WHERE type = 'trigger'"))
        drops << QStringLiteral("DROP TRIGGER %1;").arg(trigger);
    drops << "DROP TABLE ChangeLog; DROP TABLE ChangeBatch; DROP TABLE ChangeBatchCurrent;"
          << QStringLiteral("PRAGMA user_version = %1;").arg(version);
    ws.exec(drops.join(QLatin1Char('\n')));
}

// The change log's tables, indexes and triggers as the file defines them.
QStringList changeLogObjects(const QString &dbPath)
{
    return testsupport::querySql(dbPath, "SELECT type || ' ' || name || ': ' || sql FROM sqlite_master "
                                         "WHERE name LIKE 'Change%' OR type = 'trigger' ORDER BY name");
}

QStringList upgradeCopies(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("*.before-upgrade-*")}, QDir::Files | QDir::Hidden);
}

}

class TestSchema : public QObject
{
    Q_OBJECT

private slots:
    void deliveredSchemaIsCurrent()
    {
        testsupport::TestWorkspace ws(false);
        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
        for (const QString &table : recordTables) {
            QCOMPARE(ws.query(QStringLiteral("SELECT name || ' ' || type || ' ' || pk FROM pragma_table_info('%1') "
                                             "WHERE cid = 0").arg(table)),
                     QStringList{"Id INTEGER 1"});
        }
        // Master tables keep their text identifiers as keys.
        QCOMPARE(ws.query("SELECT type || ' ' || \"notnull\" || ' ' || pk FROM pragma_table_info('StudentInfo') "
                          "WHERE name = 'StudentID'"),
                 QStringList{"TEXT 1 1"});
        // Opening a current file changes nothing and copies nothing.
        const QByteArray before = fileBytes(ws.dbPath());
        QVERIFY(!openError(ws.dbPath()).has_value());
        QCOMPARE(fileBytes(ws.dbPath()), before);
        QVERIFY(upgradeCopies(ws.dir()).isEmpty());
    }

    void firstVersionUpgradedOnOpen()
    {
        testsupport::TestWorkspace ws(false);
        withoutChangeLog(ws, 0);
        ws.exec(QString::fromUtf8(firstVersionRecordTables));
        ws.exec(QString::fromUtf8(firstVersionRows));
        QVERIFY(QFile::setPermissions(ws.dbPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QMap<QString, QStringList> rowsBefore, rowidsBefore;
        for (const QString &table : recordTables) {
            rowsBefore[table] = tableRows(ws.dbPath(), table, QStringLiteral("rowid"));
            rowidsBefore[table] = ws.query(QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid").arg(table));
            QVERIFY(!rowsBefore[table].isEmpty());
        }
        QCOMPARE(rowidsBefore["Score"], QStringList({"1", "3", "4", "5"}));

        {
            dravon::Connection c;
            c.setConnectionString(ws.connectionString());
            c.open();
            // The program's own statements work on the upgraded tables.
            auto rs = SQLDataSet(QStringLiteral("Select * From Score"), c);
            QCOMPARE(rs->recordCount(), 4);
        }

        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
        for (const QString &table : recordTables) {
            // Same rows in the same order, each keyed by its former row number.
            QCOMPARE(tableRows(ws.dbPath(), table, QStringLiteral("Id")), rowsBefore[table]);
            QCOMPARE(ws.query(QStringLiteral("SELECT Id FROM %1 ORDER BY Id").arg(table)), rowidsBefore[table]);
            QCOMPARE(ws.query(QStringLiteral("SELECT name || ' ' || type || ' ' || pk FROM pragma_table_info('%1') "
                                             "WHERE cid = 0").arg(table)),
                     QStringList{"Id INTEGER 1"});
        }
        // Indexes are back and the checks still refuse a wrong type.
        QCOMPARE(ws.query("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'Dorm' ORDER BY name"),
                 QStringList({"Dorm_ClassID", "Dorm_DormID", "Dorm_StudentID"}));
        QCOMPARE(ws.query("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND tbl_name IN "
                          "('Score','Practice','Moral','Price','Dorm','Course')"),
                 QStringList{"16"});
        QCOMPARE(ws.query("PRAGMA integrity_check"), QStringList{"ok"});
        QCOMPARE(ws.query("SELECT count(*) FROM sqlite_master WHERE name LIKE '%upgrading%'"), QStringList{"0"});

        // A copy of the file as it was, beside it, as private as the original.
        const QStringList copies = upgradeCopies(ws.dir());
        QCOMPARE(copies.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^Teach\\.mdb\\.before-upgrade-\\d{8}-\\d{6}$")).match(copies[0]).hasMatch(),
                 qPrintable(copies[0]));
        const QString copy = QDir(ws.dir()).filePath(copies[0]);
        QCOMPARE(testsupport::querySql(copy, "PRAGMA user_version"), QStringList{"0"});
        QCOMPARE(testsupport::querySql(copy, "PRAGMA integrity_check"), QStringList{"ok"});
        for (const QString &table : recordTables) {
            QCOMPARE(tableRows(copy, table, QStringLiteral("rowid")), rowsBefore[table]);
            QCOMPARE(testsupport::querySql(copy, QStringLiteral("SELECT rowid FROM %1 ORDER BY rowid").arg(table)),
                     rowidsBefore[table]);
        }
        QCOMPARE(QFileInfo(copy).permissions(), QFileInfo(ws.dbPath()).permissions());

        // The keys survive VACUUM, which renumbers tables without them.
        ws.exec("DELETE FROM Score WHERE Remark = 'c'; VACUUM;");
        QCOMPARE(ws.query("SELECT Id FROM Score ORDER BY Id"), QStringList({"3", "4", "5"}));

        // Opened again: nothing more to do, no second copy.
        QVERIFY(!openError(ws.dbPath()).has_value());
        QCOMPARE(upgradeCopies(ws.dir()).size(), 1);
    }

    // A row the first version's checks let through cannot enter the new
    // table: the upgrade fails in its last table, and every table changed
    // before is rolled back with it.
    void failedUpgradeLeavesTheFileUntouched()
    {
        testsupport::TestWorkspace ws(false);
        withoutChangeLog(ws, 0);
        ws.exec(QString::fromUtf8(firstVersionRecordTables));
        ws.exec(QString::fromUtf8(firstVersionRows));
        ws.exec("PRAGMA ignore_check_constraints = ON;"
                "INSERT INTO Course (StudentID, BeginTime) VALUES ('2007009', '2008/1/1');");
        const QByteArray before = fileBytes(ws.dbPath());
        const QStringList entriesBefore = QDir(ws.dir()).entryList(QDir::Files | QDir::Hidden);

        const auto error = openError(ws.dbPath());
        QVERIFY(error.has_value());
        QVERIFY2(error->startsWith(QStringLiteral("数据库 %1 升级失败,文件没有改变: ").arg(ws.dbPath())), qPrintable(*error));
        QVERIFY2(error->contains("BeginTime"), qPrintable(*error));
        QCOMPARE(fileBytes(ws.dbPath()), before);
        QCOMPARE(QDir(ws.dir()).entryList(QDir::Files | QDir::Hidden), entriesBefore);
        QCOMPARE(ws.query("SELECT count(*) FROM pragma_table_info('Score') WHERE name = 'Id'"), QStringList{"0"});
    }

    // A file of version 1 gets the change log: the delivered tables,
    // indexes and triggers, after a copy; its rows stay, and from then on
    // even another program's writes are logged.
    void secondVersionGetsTheChangeLog()
    {
        testsupport::TestWorkspace ws(false);
        const QStringList delivered = changeLogObjects(ws.dbPath());
        QCOMPARE(delivered.filter(QStringLiteral("trigger ")).size(), 102);
        withoutChangeLog(ws, 1);
        ws.exec("INSERT INTO Score (StudentID, Score) VALUES ('2007001', 75.0);");
        QVERIFY(changeLogObjects(ws.dbPath()).isEmpty());

        QVERIFY(!openError(ws.dbPath()).has_value());
        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{"2"});
        QCOMPARE(changeLogObjects(ws.dbPath()), delivered);
        QCOMPARE(ws.query("SELECT StudentID || ' ' || Score FROM Score"), QStringList{"2007001 75.0"});
        QCOMPARE(ws.query("SELECT count(*) FROM ChangeLog"), QStringList{"0"});
        const QStringList copies = upgradeCopies(ws.dir());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(testsupport::querySql(QDir(ws.dir()).filePath(copies[0]), "PRAGMA user_version"), QStringList{"1"});

        ws.exec("UPDATE Score SET Score = 80.0;");
        QCOMPARE(ws.query("SELECT TableName || ' ' || Operation || ' ' || Field || ' ' || OldValue || ' ' || NewValue "
                          "|| ' ' || (BatchID IS NULL) || ' ' || (ChangedAt IS NOT NULL) FROM ChangeLog"),
                 QStringList{"Score U Score 75.0 80.0 1 1"});
    }

    // A name the change log needs is taken in the file: the upgrade fails
    // and the file is byte for byte as it was, with no copy left beside it.
    void failedChangeLogUpgradeLeavesTheFileUntouched()
    {
        testsupport::TestWorkspace ws(false);
        withoutChangeLog(ws, 1);
        ws.exec("CREATE TABLE ChangeBatchCurrent (Note TEXT);");
        const QByteArray before = fileBytes(ws.dbPath());
        const QStringList entriesBefore = QDir(ws.dir()).entryList(QDir::Files | QDir::Hidden);
        const auto error = openError(ws.dbPath());
        QVERIFY(error.has_value());
        QVERIFY2(error->contains(QStringLiteral("升级失败,文件没有改变")) && error->contains("ChangeBatchCurrent"),
                 qPrintable(*error));
        QCOMPARE(fileBytes(ws.dbPath()), before);
        QCOMPARE(QDir(ws.dir()).entryList(QDir::Files | QDir::Hidden), entriesBefore);
    }

    void newerFileRefused()
    {
        testsupport::TestWorkspace ws(false);
        ws.exec(QStringLiteral("PRAGMA user_version = %1").arg(dravon::currentSchemaVersion + 1));
        const QByteArray before = fileBytes(ws.dbPath());
        const auto error = openError(ws.dbPath());
        QVERIFY(error.has_value());
        QVERIFY2(error->contains("较新版本"), qPrintable(*error));
        QCOMPARE(fileBytes(ws.dbPath()), before);
    }

    // The build's tool makes the delivered database and ini file private;
    // files that exist keep their mode and bytes.
    void deliveredFilesArePrivate()
    {
        const QString tool = QDir(testsupport::buildBinDir()).filePath(QStringLiteral("../tools/MakeDatabase"));
        QVERIFY2(QFileInfo(tool).isExecutable(), qPrintable(tool));
        QTemporaryDir tmp;
        const QString db = tmp.filePath("Teach.mdb");
        const QString ini = tmp.filePath("ConfigDB.ini");
        QCOMPARE(QProcess::execute(tool, {testsupport::schemaFile(), db, ini}), 0);
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(db).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(ini).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0600u);
        QCOMPARE(testsupport::querySql(db, "PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
        QCOMPARE(testsupport::querySql(db, "SELECT UserID FROM \"User\""), QStringList{"1001"});
        QCOMPARE(fileBytes(ini), QStringLiteral("[BDConn]\nDBConFileName=%1\n").arg(db).toUtf8());

        // A rebuild over existing files keeps them as they are.
        QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QByteArray dbBytes = fileBytes(db), iniBytes = fileBytes(ini);
        QCOMPARE(QProcess::execute(tool, {testsupport::schemaFile(), db, ini}), 0);
        QCOMPARE(::stat(QFile::encodeName(db).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0644u);
        QCOMPARE(::stat(QFile::encodeName(ini).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(fileBytes(db), dbBytes);
        QCOMPARE(fileBytes(ini), iniBytes);
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"ConfigDB.ini", "Teach.mdb"}));
    }
};

QTEST_MAIN(TestSchema)
#include "tst_schema.moc"
