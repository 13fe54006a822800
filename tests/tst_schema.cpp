// The database file's table shapes over time: a file of the first version
// (record tables without a row key), of the second (no change log) or of the
// third (the log's first table definition) is upgraded when it is opened, a
// failed upgrade leaves it untouched, and the build delivers its files
// private.

#include "data/Dravon.h"
#include "data/SchemaUpgrade.h"
#include "data/StagingFiles.h"
#include "support/FirstVersion.h"
#include "support/TestWorkspace.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

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

// Makes the workspace's file one of version 2: the change log's table with
// its first definition, whose operation check was an IN list, and triggers
// that looked the running batch up twice.
void withFirstChangeLogTable(const testsupport::TestWorkspace &ws)
{
    ws.exec("PRAGMA writable_schema = ON;"
            "UPDATE sqlite_master SET sql = replace(sql, "
            "  'CHECK (Operation = ''I'' OR Operation = ''U'' OR Operation = ''D'')', "
            "  'CHECK (Operation IN (''I'', ''U'', ''D''))') WHERE name = 'ChangeLog';"
            "UPDATE sqlite_master SET sql = replace(replace(sql, "
            "  'SELECT C.BatchID, CASE WHEN C.BatchID IS NULL THEN', "
            "  'VALUES ((SELECT BatchID FROM ChangeBatchCurrent), CASE WHEN NOT EXISTS (SELECT 1 FROM ChangeBatchCurrent) THEN'), "
            "  char(10) || '  FROM (SELECT 1) LEFT JOIN ChangeBatchCurrent C LIMIT 1;', ');') WHERE type = 'trigger';"
            "PRAGMA writable_schema = OFF; PRAGMA user_version = 2;");
    QCOMPARE(ws.query("SELECT count(*) FROM sqlite_master WHERE name = 'ChangeLog' AND sql LIKE '%Operation IN (%'"),
             QStringList{"1"});
    QCOMPARE(ws.query("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND sql LIKE '%NOT EXISTS%' "
                      "AND sql NOT LIKE '%LEFT JOIN%'"),
             QStringList{"102"});
}

// Makes the workspace's file one of version 3: the log's insert and delete
// triggers put each value into the row's JSON as it is, which a byte string
// makes fail. The triggers are made again in their order.
void withThirdVersionTriggers(const testsupport::TestWorkspace &ws)
{
    const QRegularExpression tagged(QStringLiteral(
        "iif\\(((?:NEW|OLD)\\.\\w+) >= x'', json_object\\('blob', hex\\(\\1\\)\\), \\1\\)"));
    QStringList statements;
    for (const QString &name : ws.query("SELECT name FROM sqlite_master WHERE type = 'trigger' ORDER BY rowid"))
        statements << QStringLiteral("DROP TRIGGER %1;").arg(name);
    for (QString sql : ws.query("SELECT sql FROM sqlite_master WHERE type = 'trigger' ORDER BY rowid"))
        statements << sql.replace(tagged, QStringLiteral("\\1")) + QLatin1Char(';');
    statements << QStringLiteral("PRAGMA user_version = 3;");
    ws.exec(statements.join(QLatin1Char('\n')));
    QCOMPARE(ws.query("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND sql LIKE '%''blob''%'"),
             QStringList{"0"});
}

// Whether the engine refuses the statement on the file.
bool refused(const QString &dbPath, const QString &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return rc != SQLITE_OK;
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
        ws.exec(QString::fromUtf8(testsupport::firstVersionRecordTables));
        ws.exec(QString::fromUtf8(testsupport::firstVersionRows));
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
        ws.exec(QString::fromUtf8(testsupport::firstVersionRecordTables));
        ws.exec(QString::fromUtf8(testsupport::firstVersionRows));
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
        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
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

    // A file of version 2 keeps its log through the rebuild of the log's
    // table: every entry as it was, the definitions of a new file, a view
    // over the log working, the operation letter still checked, and the
    // next write logged after the last entry.
    void secondVersionLogTableRebuilt()
    {
        testsupport::TestWorkspace ws(false);
        const QStringList delivered = changeLogObjects(ws.dbPath());
        ws.exec("INSERT INTO Score (StudentID, Score, Remark) VALUES ('2007001', 75.0, '补考');"
                "UPDATE Score SET Score = 80.0, Remark = NULL; DELETE FROM Score;"
                "UPDATE ChangeLog SET BatchID = 7, UndoneBy = 9 WHERE ChangeID = 2;"
                "CREATE VIEW LaterChanges AS SELECT * FROM ChangeLog WHERE ChangeID > 1;");
        withFirstChangeLogTable(ws);
        const QString entriesSql = QStringLiteral(
            "SELECT ChangeID || ' ' || quote(BatchID) || ' ' || (ChangedAt IS NOT NULL) || ' ' || TableName || ' ' || "
            "RowKey || ' ' || Operation || ' ' || quote(Field) || ' ' || quote(OldValue) || ' ' || quote(NewValue) || ' ' "
            "|| quote(UndoneBy) FROM ChangeLog ORDER BY ChangeID");
        const QStringList entries = ws.query(entriesSql);
        QCOMPARE(entries.size(), 4);
        QCOMPARE(entries[1], QStringLiteral("2 7 1 Score 1 U 'Score' 75.0 80.0 9"));

        const auto error = openError(ws.dbPath());
        QVERIFY2(!error.has_value(), qPrintable(error.value_or(QString())));
        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
        QCOMPARE(changeLogObjects(ws.dbPath()), delivered);
        QCOMPARE(ws.query(entriesSql), entries);
        QCOMPARE(ws.query("SELECT count(*) FROM LaterChanges"), QStringList{"3"});
        QCOMPARE(ws.query("PRAGMA integrity_check"), QStringList{"ok"});
        const QStringList copies = upgradeCopies(ws.dir());
        QCOMPARE(copies.size(), 1);
        QCOMPARE(testsupport::querySql(QDir(ws.dir()).filePath(copies[0]), "PRAGMA user_version"), QStringList{"2"});

        QVERIFY(refused(ws.dbPath(), "INSERT INTO ChangeLog (TableName, Operation) VALUES ('Score', 'X')"));
        // Another program's write, then one inside a batch.
        ws.exec("INSERT INTO Score (StudentID, Score) VALUES ('2007002', 60.0);"
                "BEGIN; INSERT INTO ChangeBatchCurrent VALUES (12); UPDATE Score SET Score = 61.0;"
                "DELETE FROM ChangeBatchCurrent; COMMIT;");
        QCOMPARE(ws.query("SELECT ChangeID || ' ' || Operation || ' ' || quote(BatchID) || ' ' || (ChangedAt IS NOT NULL) "
                          "FROM ChangeLog WHERE ChangeID > 4 ORDER BY ChangeID"),
                 QStringList({"5 I NULL 1", "6 U 12 0"}));
    }

    // A file of version 3 gets the triggers that keep a byte string: its
    // log's entries stay as they were, the triggers are those of a new file,
    // and another program's write of a byte string, refused before, is logged.
    void thirdVersionTriggersKeepByteStrings()
    {
        testsupport::TestWorkspace ws(false);
        const QStringList delivered = changeLogObjects(ws.dbPath());
        ws.exec("INSERT INTO Score (StudentID, Score, Remark) VALUES ('2007001', 75.0, '补考');"
                "UPDATE Score SET Score = 80.0; DELETE FROM Score;");
        withThirdVersionTriggers(ws);
        const QString entriesSql = QStringLiteral("SELECT ChangeID || ' ' || Operation || ' ' || quote(OldValue) || ' ' || "
                                                  "quote(NewValue) FROM ChangeLog ORDER BY ChangeID");
        const QStringList entries = ws.query(entriesSql);
        QCOMPARE(entries.size(), 3);
        const QString blobWrite = QStringLiteral("INSERT INTO Score (StudentID, Remark) VALUES ('2007002', x'ff00')");
        QVERIFY(refused(ws.dbPath(), blobWrite));

        const auto error = openError(ws.dbPath());
        QVERIFY2(!error.has_value(), qPrintable(error.value_or(QString())));
        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
        QCOMPARE(changeLogObjects(ws.dbPath()), delivered);
        QCOMPARE(ws.query(entriesSql), entries);
        QCOMPARE(upgradeCopies(ws.dir()).size(), 1);
        QVERIFY(!refused(ws.dbPath(), blobWrite));
        QCOMPARE(ws.query("SELECT NewValue FROM ChangeLog WHERE ChangeID = 4"),
                 QStringList{"{\"StudentID\":\"2007002\",\"ScoreDateTime\":null,\"Term\":null,\"SubjectID\":null,"
                             "\"ClassID\":null,\"Score\":null,\"CreditHour\":null,\"Remark\":{\"blob\":\"FF00\"}}"});
    }

    // A name an upgrade of the change log needs is taken in the file: the
    // upgrade fails and the file is byte for byte as it was, with no copy
    // left beside it.
    void failedChangeLogUpgradeLeavesTheFileUntouched_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("taken");
        QTest::newRow("version 1: a table of the log") << 1 << "ChangeBatchCurrent";
        QTest::newRow("version 2: the rebuilt log table") << 2 << "ChangeLog_upgrading";
    }
    void failedChangeLogUpgradeLeavesTheFileUntouched()
    {
        QFETCH(int, version);
        QFETCH(QString, taken);
        testsupport::TestWorkspace ws(false);
        if (version == 1)
            withoutChangeLog(ws, 1);
        else
            withFirstChangeLogTable(ws);
        ws.exec(QStringLiteral("CREATE TABLE %1 (Note TEXT);").arg(taken));
        const QByteArray before = fileBytes(ws.dbPath());
        const QStringList entriesBefore = QDir(ws.dir()).entryList(QDir::Files | QDir::Hidden);
        const auto error = openError(ws.dbPath());
        QVERIFY(error.has_value());
        QVERIFY2(error->contains(QStringLiteral("升级失败,文件没有改变")) && error->contains(taken), qPrintable(*error));
        QCOMPARE(fileBytes(ws.dbPath()), before);
        QCOMPARE(QDir(ws.dir()).entryList(QDir::Files | QDir::Hidden), entriesBefore);
    }

    // Views and triggers another tool added to a first-version file, also
    // ones of other tables that name a record table, come through the
    // upgrade as they were, and still work.
    void firstVersionKeepsItsViewsAndTriggers()
    {
        testsupport::TestWorkspace ws(false);
        ws.exec(QString::fromUtf8(testsupport::firstVersionRecordTables));
        ws.exec(QString::fromUtf8(testsupport::firstVersionRows));
        ws.exec("INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007001', '甲'), ('2007003', '丙');"
                "CREATE VIEW StudentScores AS SELECT s.StuName, sc.Score FROM StudentInfo s "
                "  JOIN Score sc ON sc.StudentID = s.StudentID;"
                "CREATE VIEW GoodScores AS SELECT * FROM StudentScores WHERE Score >= 80;"
                "CREATE TRIGGER StudentGone AFTER DELETE ON StudentInfo "
                "  BEGIN DELETE FROM Score WHERE StudentID = old.StudentID; END;"
                "CREATE TRIGGER NewScoreMarked AFTER INSERT ON Score WHEN new.Remark IS NULL "
                "  BEGIN UPDATE Score SET Remark = '新' WHERE rowid = new.rowid; END;"
                "CREATE TRIGGER GoodScoresRead INSTEAD OF INSERT ON GoodScores BEGIN SELECT 1; END;");
        const QString objectsSql = QStringLiteral(
            "SELECT type || ' ' || name || ' ' || tbl_name || ' ' || sql FROM sqlite_master "
            "WHERE type IN ('view', 'trigger') AND name NOT GLOB '*_Log*' ORDER BY name");
        const QStringList before = ws.query(objectsSql);
        QCOMPARE(before.size(), 5);

        const auto error = openError(ws.dbPath());
        QVERIFY2(!error.has_value(), qPrintable(error.value_or(QString())));
        QCOMPARE(ws.query("PRAGMA user_version"), QStringList{QString::number(dravon::currentSchemaVersion)});
        QCOMPARE(ws.query("SELECT count(*) FROM pragma_table_info('Score') WHERE name = 'Id' AND pk = 1"), QStringList{"1"});
        QCOMPARE(ws.query(objectsSql), before);
        QCOMPARE(ws.query("PRAGMA integrity_check"), QStringList{"ok"});
        QCOMPARE(ws.query("SELECT StuName || ':' || Score FROM GoodScores ORDER BY Score"), QStringList({"丙:88.5"}));
        ws.exec("INSERT INTO Score (StudentID, Score) VALUES ('2007003', 70.0)");
        QCOMPARE(ws.query("SELECT Remark FROM Score WHERE Score = 70.0"), QStringList{"新"});
        ws.exec("DELETE FROM StudentInfo WHERE StudentID = '2007001'");
        QCOMPARE(ws.query("SELECT count(*) FROM Score WHERE StudentID = '2007001'"), QStringList{"0"});
        QCOMPARE(ws.query("SELECT count(*) FROM Score WHERE StudentID = '2007003'"), QStringList{"2"});
    }

    // An upgrade killed at any moment leaves the file as it was or upgraded,
    // and no second full copy: the copy gets its kept name only when the
    // upgrade is done, and a partial one is the program's leftover, removed
    // next time.
    void killedUpgradeLeavesOneCopyAtMost()
    {
        testsupport::TestWorkspace ws(false);
        ws.exec(QString::fromUtf8(testsupport::firstVersionRecordTables));
        ws.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150000) "
                "INSERT INTO Score (StudentID, Term, SubjectID, Score, Remark) "
                "SELECT printf('S%07d', i), '第一学期', 'K' || (i % 40), 60.0 + (i % 40), 'some remark ' || i FROM n");
        const QString original = QDir(ws.dir()).filePath("first.mdb");
        QVERIFY(QFile::copy(ws.dbPath(), original));
        auto runChild = [&](int killAfterMs) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open-child"), ws.dbPath()});
            QVERIFY(child.waitForStarted());
            if (killAfterMs >= 0) {
                QThread::msleep(killAfterMs);
                child.kill();
            }
            QVERIFY(child.waitForFinished(60000));
        };
        auto partial = [&] { return QDir(ws.dir()).entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden); };

        QElapsedTimer timer;
        timer.start();
        runChild(-1);
        const int whole = int(timer.elapsed());
        QCOMPARE(upgradeCopies(ws.dir()).size(), 1);
        QVERIFY(partial().isEmpty());

        int killedBefore = 0;
        for (int i = 0; i < 10; ++i) {
            for (const QString &copy : upgradeCopies(ws.dir()))
                QVERIFY(QFile::remove(QDir(ws.dir()).filePath(copy)));
            QVERIFY(QFile::remove(ws.dbPath()));
            QVERIFY(QFile::copy(original, ws.dbPath()));
            runChild(int((i + QRandomGenerator::global()->generateDouble()) / 10.0 * whole));
            // A writing connection rolls back what the killed one left unfinished.
            ws.exec("SELECT count(*) FROM sqlite_master");
            QCOMPARE(ws.query("PRAGMA integrity_check"), QStringList{"ok"});
            const QString version = ws.query("PRAGMA user_version").value(0);
            const QString current = QString::number(dravon::currentSchemaVersion);
            QVERIFY(version == "0" || version == current);
            // A kept copy only beside an upgraded file (none when the kill
            // came between the commit and the copy's rename).
            QVERIFY(upgradeCopies(ws.dir()).size() <= (version == current ? 1 : 0));
            if (version == "0")
                ++killedBefore;
            staging::removeLeftovers(ws.dir());
            QCOMPARE(partial(), QStringList());
        }
        qInfo("one upgrade took %d ms; %d of 10 killed runs stopped it before its end", whole, killedBefore);
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

// The test binary doubles as the process whose upgrade the kill test stops.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--open-child") == 0) {
        QCoreApplication app(argc, argv);
        try {
            dravon::Connection c;
            c.setConnectionString(testsupport::connectionStringFor(QString::fromLocal8Bit(argv[2])));
            c.open();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    QApplication app(argc, argv);
    TestSchema test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_schema.moc"
