// The change log below the windows: each write of a record set is one batch
// with its exact entries, another program's writes are logged too, undo and
// redo reverse batches as a whole or refuse, the recycle bin restores and
// empties, a row's history reads back, and pruning keeps the recent log.
// Byte strings stored by another program are logged and put back exactly.

#include "data/Dravon.h"
#include "data/ProgramSettings.h"
#include "data/changes/History.h"
#include "data/changes/Pruning.h"
#include "data/changes/Reversal.h"
#include "data/server/PgSession.h"
#include "support/ChangeLogLines.h"
#include "support/TestWorkspace.h"

#include <QtTest>
#include <functional>
#include <sqlite3.h>

using testsupport::logLines;
using testsupport::quotedReal;
using testsupport::TestWorkspace;

namespace {

QString scoreRows(const TestWorkspace &ws)
{
    return ws.query(QStringLiteral("SELECT group_concat(Id || ':' || StudentID || ':' || %1 || ':' || coalesce(Remark, ''), ' ') "
                                   "FROM (SELECT * FROM Score ORDER BY Id) AS s")
                        .arg(quotedReal(ws, QStringLiteral("Score"))))
        .value(0);
}

// How the engine plans a statement (the details of EXPLAIN QUERY PLAN).
QString queryPlan(const QString &dbPath, const QString &sql)
{
    sqlite3 *handle = nullptr;
    sqlite3_open_v2(QFile::encodeName(dbPath).constData(), &handle, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    QStringList details;
    if (sqlite3_prepare_v2(handle, ("EXPLAIN QUERY PLAN " + sql).toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK)
        while (sqlite3_step(stmt) == SQLITE_ROW)
            details << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3)));
    sqlite3_finalize(stmt);
    sqlite3_close(handle);
    return details.join(QStringLiteral("; "));
}

const char *seedScores = "INSERT INTO Score (Id, StudentID, Term, Score, Remark) VALUES "
                         "(1, '2007001', '第一学期', 60.0, 'a'), (2, '2007002', '第一学期', 70.0, 'b'), "
                         "(3, '2007003', '第一学期', 80.0, 'c'), (4, '2007004', '第一学期', 90.0, 'd');";

}

class TestChangeLog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<dravon::Connection> db;

    std::unique_ptr<dravon::RecordSet> scores()
    {
        auto rs = SQLDataSet(QStringLiteral("Select * From Score"), *db);
        rs->setOrigin(QStringLiteral("frmStudentScore"));
        rs->waitForCount();
        return rs;
    }

    // Every column of every score row, NULL apart from empty text.
    QString allScoreValues() const
    {
        return ws->query(QStringLiteral("SELECT Id || '|' || coalesce(StudentID, '~') || '|' || coalesce(CAST(ScoreDateTime AS text), '~') "
                                        "|| '|' || coalesce(Term, '~') || '|' || %1 || '|' || %2 || '|' || coalesce(Remark, '~') "
                                        "FROM Score ORDER BY Id")
                             .arg(quotedReal(*ws, QStringLiteral("Score")), quotedReal(*ws, QStringLiteral("CreditHour"))))
            .join(QLatin1Char(' '));
    }

    // The statements as one batch of the import window; its number.
    qint64 runBatch(const QStringList &statements)
    {
        dravon::ChangeBatch batch(*db, {QStringLiteral("导入"), QStringLiteral("frmImport"), QStringLiteral("导入成绩")});
        for (const QString &sql : statements)
            SQLExecute(sql, *db);
        batch.commit();
        return batch.id();
    }

    // The entries of one batch as log lines.
    QStringList batchLines(qint64 batch) const
    {
        const QStringList lines = logLines(*ws, batch - 1);
        QStringList entries;
        for (int i = 1; i < lines.size() && !lines[i].startsWith(QLatin1String("B ")); ++i)
            entries << lines[i];
        return entries;
    }

private slots:
    void init()
    {
        ws = std::make_unique<TestWorkspace>(false);
        // The seed is the file's content before this test: not part of the log.
        ws->exec(QString::fromUtf8(seedScores) + "DELETE FROM ChangeLog; DELETE FROM ChangeBatch;");
        db = std::make_unique<dravon::Connection>();
        ws->pointAt(*db);
        db->open();
        CurrentUserID = QStringLiteral("1001");
    }

    void cleanup()
    {
        dravon::pg::setLockWaitForTesting(0);
        db.reset();
        ws.reset();
        CurrentUserID.clear();
    }

    // Save in insert and in edit state, Delete of one row and of several:
    // each one batch of its window with exactly its entries.
    void recordSetWritesAreBatches()
    {
        auto rs = scores();
        rs->insert();
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("2007009"));
        rs->setFieldText(QStringLiteral("Score"), QStringLiteral("88.5"));
        rs->post();
        const QString newId = ws->query("SELECT max(Id) FROM Score").value(0);
        rs->moveTo(rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2007002"), false));
        rs->edit();
        rs->setFieldText(QStringLiteral("Score"), QStringLiteral("71"));
        rs->setFieldText(QStringLiteral("Remark"), QString());
        rs->post();
        rs->moveTo(rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2007001"), false));
        rs->remove();
        rs->deleteRows({rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2007003"), false),
                        rs->findRow(QStringLiteral("StudentID"), QStringLiteral("2007004"), false)});
        // An edit that changes nothing leaves no batch.
        rs->first();
        rs->edit();
        rs->post();

        const QString json3 = "'{\"StudentID\":\"2007003\",\"ScoreDateTime\":null,\"Term\":\"第一学期\",\"SubjectID\":null,"
                              "\"ClassID\":null,\"Score\":80.0,\"CreditHour\":null,\"Remark\":\"c\"}'";
        QCOMPARE(logLines(*ws),
                 QStringList({"B 保存|frmStudentScore|新增 1 条成绩记录|1001",
                              "Score " + newId + " I - NULL '{\"StudentID\":\"2007009\",\"ScoreDateTime\":null,\"Term\":null,"
                                                 "\"SubjectID\":null,\"ClassID\":null,\"Score\":88.5,\"CreditHour\":null,\"Remark\":null}'",
                              "B 保存|frmStudentScore|修改 1 条成绩记录|1001",
                              "Score 2 U Score 70.0 71.0",
                              "Score 2 U Remark 'b' NULL",
                              "B 删除|frmStudentScore|删除 1 条成绩记录|1001",
                              "Score 1 D - '{\"StudentID\":\"2007001\",\"ScoreDateTime\":null,\"Term\":\"第一学期\",\"SubjectID\":null,"
                              "\"ClassID\":null,\"Score\":60.0,\"CreditHour\":null,\"Remark\":\"a\"}' NULL",
                              "B 批量删除|frmStudentScore|删除 2 条成绩记录|1001",
                              "Score 3 D - " + json3 + " NULL",
                              "Score 4 D - '{\"StudentID\":\"2007004\",\"ScoreDateTime\":null,\"Term\":\"第一学期\",\"SubjectID\":null,"
                              "\"ClassID\":null,\"Score\":90.0,\"CreditHour\":null,\"Remark\":\"d\"}' NULL"}));
        // Nothing is left marking a batch as running.
        if (!ws->onServer())
            QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatchCurrent"), QStringList{"0"});
    }

    // A refused store writes neither the row nor a batch; a statement of the
    // program's own is a batch too; a batch inside a batch joins it.
    void refusedAndNestedBatches()
    {
        auto rs = scores();
        rs->first();
        rs->edit();
        rs->setFieldText(QStringLiteral("Score"), QStringLiteral("75"));
        // Another program changes the row first: the Save is refused, nothing is logged for it.
        ws->exec("UPDATE Score SET Remark = 'elsewhere' WHERE Id = 1;");
        const QStringList before = logLines(*ws);
        QVERIFY_THROWS_EXCEPTION(dravon::Error, rs->post());
        QCOMPARE(logLines(*ws), before);
        rs->cancel();

        {
            dravon::ChangeBatch outer(*db, {QStringLiteral("导入"), QStringLiteral("frmImport"), QStringLiteral("导入 2 条成绩记录")});
            SQLExecute(QStringLiteral("Update Score Set Score = 61.0 Where Id = 1"), *db);
            SQLExecute(QStringLiteral("Delete From Score Where Id = 2"), *db);
            QCOMPARE(dravon::ChangeBatch::running(*db), outer.id());
            outer.commit();
        }
        SQLExecute(QStringLiteral("Update Score Set Remark = 'x' Where Id = 3"), *db);
        {
            // Not committed: rolled back with its rows.
            dravon::ChangeBatch dropped(*db, {QStringLiteral("保存"), QString(), QString()});
            SQLExecute(QStringLiteral("Delete From Score"), *db);
        }
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:61.0:elsewhere 3:2007003:80.0:x 4:2007004:90.0:d"));
        const QStringList lines = logLines(*ws).mid(before.size());
        QCOMPARE(lines, QStringList({"B 导入|frmImport|导入 2 条成绩记录|1001", "Score 1 U Score 60.0 61.0",
                                     "Score 2 D - '{\"StudentID\":\"2007002\",\"ScoreDateTime\":null,\"Term\":\"第一学期\","
                                     "\"SubjectID\":null,\"ClassID\":null,\"Score\":70.0,\"CreditHour\":null,\"Remark\":\"b\"}' NULL",
                                     "B 修改||执行修改语句|1001", "Score 3 U Remark 'c' 'x'"}));
    }

    // A plain sqlite3 connection's writes: logged without a batch, with their
    // own time; a password's change without its values.
    void otherProgramsWritesAreLogged()
    {
        ws->exec("UPDATE Score SET Score = 65.0, Term = '第二学期' WHERE Id = 1;"
                 "INSERT INTO \"User\" (UserID, UserName, UserPassword) VALUES ('1002', '王老师', 'secret');"
                 "UPDATE \"User\" SET UserPassword = 'other', Remark = 'r' WHERE UserID = '1002';");
        QCOMPARE(logLines(*ws), QStringList({"Score 1 U Term '第一学期' '第二学期'", "Score 1 U Score 60.0 65.0",
                                             "User '1002' I - NULL '{\"UserID\":\"1002\",\"UserName\":\"王老师\",\"Remark\":null}'",
                                             "User '1002' U UserPassword NULL NULL", "User '1002' U Remark NULL 'r'"}));
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeLog WHERE BatchID IS NULL AND ChangedAt LIKE '____-__-__ __:__:__'"),
                 QStringList{"5"});
        // A row's text as logged, whatever its values look like.
        ws->exec(QStringLiteral("INSERT INTO TeacherInfo (TeacherID, TchName, TchAge, Remark) "
                                "VALUES ('2007099', '王\"一\\,', 50, ',\"Id\":7}');"
                                "DELETE FROM TeacherInfo WHERE TeacherID = '2007099'"));
        const QString row = QStringLiteral("{\"TeacherID\":\"2007099\",\"TchName\":\"王\\\"一\\\\,\",\"TchSex\":null,"
                                           "\"TchAge\":50,\"Duty\":null,\"TchContact\":null,\"Remark\":\",\\\"Id\\\":7}\"}");
        QCOMPARE(ws->query("SELECT Operation || ' ' || coalesce(OldValue, NewValue) FROM ChangeLog "
                           "WHERE TableName = 'TeacherInfo' AND RowKey = '2007099' ORDER BY ChangeID"),
                 QStringList({"I " + row, "D " + row}));
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeLog WHERE OldValue LIKE '%secret%' OR NewValue LIKE '%secret%' "
                           "OR OldValue LIKE '%other%' OR NewValue LIKE '%other%'"),
                 QStringList{"0"});
        // The password's change refuses to be undone: its value is not kept.
        {
            dravon::ChangeBatch b(*db, {QStringLiteral("修改密码"), QStringLiteral("frmUserSet"), QStringLiteral("改密码")});
            SQLExecute(QStringLiteral("Update [User] Set UserPassword = 'third' Where UserID = '1002'"), *db);
            b.commit();
        }
        const auto batch = dravon::batchToUndo(*db, QStringLiteral("frmUserSet"));
        QVERIFY(batch);
        try {
            dravon::undoBatch(*db, batch->id, QStringLiteral("frmUserSet"));
            QFAIL("a password change was undone");
        } catch (const dravon::ChangeRefused &e) {
            QVERIFY2(e.text().contains(QStringLiteral("密码不记入修改记录")), qPrintable(e.text()));
        }
        QCOMPARE(ws->query("SELECT UserPassword FROM \"User\" WHERE UserID = '1002'"), QStringList{"third"});
    }

    // Undo and redo of each kind of batch give the rows back exactly, are
    // batches themselves, and follow the window's order.
    void undoAndRedoEachWrite_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("insert") << "insert";
        QTest::newRow("edit") << "edit";
        QTest::newRow("delete") << "delete";
        QTest::newRow("delete several") << "deleteRows";
    }

    void undoAndRedoEachWrite()
    {
        QFETCH(QString, kind);
        const QString window = QStringLiteral("frmStudentScore");
        const QString before = scoreRows(*ws);
        {
            auto rs = scores();
            if (kind == "insert") {
                rs->insert();
                rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("2007009"));
                rs->setFieldText(QStringLiteral("Score"), QStringLiteral("55"));
                rs->post();
            } else if (kind == "edit") {
                rs->moveTo(2);
                rs->edit();
                rs->setFieldText(QStringLiteral("Score"), QStringLiteral("10"));
                rs->setFieldText(QStringLiteral("Remark"), QStringLiteral("改"));
                rs->post();
            } else if (kind == "delete") {
                rs->moveTo(1);
                rs->remove();
            } else {
                rs->deleteRows({0, 2, 3});
            }
        }
        const QString after = scoreRows(*ws);
        QVERIFY(after != before);
        QVERIFY(!dravon::batchToRedo(*db, window));

        const auto batch = dravon::batchToUndo(*db, window);
        QVERIFY(batch);
        const QString description = batch->description;
        QCOMPARE(dravon::undoText(*batch), QStringLiteral("撤销 ") + description);
        const qint64 undo = dravon::undoBatch(*db, batch->id, window);
        QCOMPARE(scoreRows(*ws), before);
        QVERIFY(!dravon::batchToUndo(*db, window));
        QCOMPARE(ws->query(QStringLiteral("SELECT Action || '|' || Description || '|' || UndoOf FROM ChangeBatch "
                                          "WHERE BatchID = %1").arg(undo)),
                 QStringList{QStringLiteral("撤销|撤销 %1|%2").arg(description).arg(batch->id)});

        const auto redo = dravon::batchToRedo(*db, window);
        QVERIFY(redo);
        QCOMPARE(redo->id, undo);
        QCOMPARE(dravon::redoText(*redo), QStringLiteral("重做 ") + description);
        dravon::redoBatch(*db, undo, window);
        QCOMPARE(scoreRows(*ws), after);
        QVERIFY(!dravon::batchToRedo(*db, window));

        // The redo is what Ctrl+Z takes back now, and again, back and forth.
        const auto again = dravon::batchToUndo(*db, window);
        QVERIFY(again);
        QCOMPARE(dravon::undoText(*again), QStringLiteral("撤销 ") + description);
        dravon::undoBatch(*db, again->id, window);
        QCOMPARE(scoreRows(*ws), before);
        dravon::redoBatch(*db, dravon::batchToRedo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), after);
        if (!ws->onServer())
            QCOMPARE(ws->query("PRAGMA integrity_check"), QStringList{"ok"});
    }

    // Byte strings another program stores (here invalid as text, with a zero
    // byte) are written and logged: its insert and delete succeed, and the
    // program's delete, its undo and the bin's restore put them back exactly.
    void byteStringsAreLoggedAndPutBack()
    {
        if (ws->onServer())
            QSKIP("a server's text and number columns hold no byte strings");
        const QString window = QStringLiteral("frmStudentScore");
        auto stored = [&](const QString &where) {
            return ws->query(QStringLiteral("SELECT typeof(Term) || ' ' || quote(Term) || ' ' || typeof(Remark) || ' ' || "
                                            "quote(Remark) FROM Score WHERE %1").arg(where));
        };
        ws->exec("INSERT INTO Score (Id, StudentID, Term, Remark) VALUES (5, '2007005', x'00ff41', x'e4b8ad00c3');"
                 "UPDATE Score SET Remark = x'ff' WHERE Id = 2;"
                 "INSERT INTO Score (Id, StudentID, Remark) VALUES (6, '2007006', x'80');"
                 "DELETE FROM Score WHERE Id = 6;");
        QCOMPARE(stored("Id = 5"), QStringList{"blob X'00FF41' blob X'E4B8AD00C3'"});
        QCOMPARE(ws->query("SELECT json_extract(NewValue, '$.Remark.blob') FROM ChangeLog WHERE RowKey = 5"),
                 QStringList{"E4B8AD00C3"});
        // The bin puts back another program's delete.
        const qint64 deleted = ws->query("SELECT ChangeID FROM ChangeLog WHERE RowKey = 6 AND Operation = 'D'").value(0).toLongLong();
        dravon::restoreDeleted(*db, {deleted}, QStringLiteral("frmRecycleBin"));
        QCOMPARE(stored("Id = 6"), QStringList{"null NULL blob X'80'"});

        const QString before = scoreRows(*ws);
        const QStringList bytesBefore = stored("Id IN (2, 5) ORDER BY Id");
        {
            auto rs = scores();
            rs->deleteRows({1, 4});
        }
        QCOMPARE(stored("Id IN (2, 5)"), QStringList());
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(stored("Id IN (2, 5) ORDER BY Id"), bytesBefore);
        QCOMPARE(scoreRows(*ws), before);
        dravon::redoBatch(*db, dravon::batchToRedo(*db, window)->id, window);
        QCOMPARE(stored("Id IN (2, 5)"), QStringList());
    }

    // An action after an undo ends the redo; undo steps back through the
    // window's actions, latest first, and not through another window's.
    void undoOrderPerWindow()
    {
        auto rs = scores();
        auto edit = [&](int row, const QString &score) {
            rs->moveTo(row);
            rs->edit();
            rs->setFieldText(QStringLiteral("Score"), score);
            rs->post();
        };
        edit(0, "61");
        edit(1, "71");
        rs->setOrigin(QStringLiteral("frmOther"));
        edit(2, "81");
        rs->setOrigin(QStringLiteral("frmStudentScore"));
        const QString window = QStringLiteral("frmStudentScore");
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:61.0:a 2:2007002:70.0:b 3:2007003:81.0:c 4:2007004:90.0:d"));
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:60.0:a 2:2007002:70.0:b 3:2007003:81.0:c 4:2007004:90.0:d"));
        QVERIFY(!dravon::batchToUndo(*db, window));
        // The latest undo is redone first.
        dravon::redoBatch(*db, dravon::batchToRedo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:61.0:a 2:2007002:70.0:b 3:2007003:81.0:c 4:2007004:90.0:d"));
        rs.reset();
        rs = scores();
        edit(3, "91");
        QVERIFY(!dravon::batchToRedo(*db, window));
        QCOMPARE(dravon::batchToUndo(*db, window)->description, QStringLiteral("修改 1 条成绩记录"));

        // Undo, redo, undo again: the next undo is the action before, not the redone one.
        const QString withBoth = scoreRows(*ws);
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        dravon::redoBatch(*db, dravon::batchToRedo(*db, window)->id, window);
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:61.0:a 2:2007002:70.0:b 3:2007003:81.0:c 4:2007004:90.0:d"));
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:60.0:a 2:2007002:70.0:b 3:2007003:81.0:c 4:2007004:90.0:d"));
        QVERIFY(!dravon::batchToUndo(*db, window));
        dravon::redoBatch(*db, dravon::batchToRedo(*db, window)->id, window);
        dravon::redoBatch(*db, dravon::batchToRedo(*db, window)->id, window);
        QCOMPARE(scoreRows(*ws), withBoth);
        QVERIFY(!dravon::batchToRedo(*db, window));

        // On a server other clerks work in the same window at once: a clerk's
        // Ctrl+Z takes back the clerk's own actions only.
        if (ws->onServer()) {
            CurrentUserID = QStringLiteral("1002");
            QVERIFY(!dravon::batchToUndo(*db, window));
            edit(0, "62");
            QCOMPARE(dravon::batchToUndo(*db, window)->user, QStringLiteral("1002"));
            dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
            QCOMPARE(scoreRows(*ws), withBoth);
            QVERIFY(!dravon::batchToUndo(*db, window));
            CurrentUserID = QStringLiteral("1001");
            QCOMPARE(dravon::undoText(*dravon::batchToUndo(*db, window)), QStringLiteral("撤销 修改 1 条成绩记录"));
        }
    }

    // A row changed since by another batch, or by another program: the undo
    // is refused as a whole, names the rows and who changed them, and
    // changes nothing.
    void undoRefusedWhenRowsChangedSince()
    {
        auto rs = scores();
        rs->deleteRows({0, 1});
        rs->moveTo(0);
        rs->edit();
        rs->setFieldText(QStringLiteral("Score"), QStringLiteral("11"));
        rs->post();
        const QString window = QStringLiteral("frmStudentScore");
        const auto deleted = *dravon::batchToUndo(*db, window);
        // A later batch of another window takes the deleted row's key; another program changes the edited row.
        {
            dravon::ChangeBatch other(*db, {QStringLiteral("保存"), QStringLiteral("frmOther"), QString()});
            SQLExecute(QStringLiteral("Insert Into Score (Id, StudentID) Values (2, '2007099')"), *db);
            other.commit();
        }
        ws->exec("UPDATE Score SET Remark = 'x' WHERE Id = 3;");
        const QString now = scoreRows(*ws);
        const QStringList logNow = logLines(*ws);
        auto refusal = [&](qint64 batch) {
            try {
                dravon::undoBatch(*db, batch, window);
            } catch (const dravon::ChangeRefused &e) {
                return e.text();
            }
            return QString();
        };
        const QString edited = refusal(deleted.id);
        QVERIFY2(edited.startsWith(QStringLiteral("不能撤销“修改 1 条成绩记录”:以下记录此后又被修改过:\n成绩记录 3: ")),
                 qPrintable(edited));
        QVERIFY2(edited.endsWith(QStringLiteral("由其他程序修改")), qPrintable(edited));
        // The older delete is not offered, but asked for directly it is refused too.
        const qint64 deleteBatch = ws->query("SELECT BatchID FROM ChangeBatch WHERE Action = '批量删除'").value(0).toLongLong();
        const QString taken = refusal(deleteBatch);
        QVERIFY2(taken.contains(QStringLiteral("成绩记录 2: ")) && taken.contains(QStringLiteral("由用户 1001 修改")),
                 qPrintable(taken));
        QVERIFY2(!taken.contains(QStringLiteral("成绩记录 1:")), qPrintable(taken));
        QCOMPARE(scoreRows(*ws), now);
        QCOMPARE(logLines(*ws), logNow);
    }

    // Another session holds rows an undo and a restore must write (an open
    // transaction in another tool): each waits about as long as a Save on
    // the file, then is refused with the file's lock message, and nothing of
    // it is written; once that session ends both go through.
    void undoAndRestoreOfRowsHeldElsewhereAreRefusedAsLocked()
    {
        if (!ws->onServer())
            QSKIP("another session's row lock; the file's lock is the whole file's (tst_recordsetrows)");
        const QString window = QStringLiteral("frmStudentScore");
        auto rs = scores();
        rs->deleteRows({1});
        rs->moveTo(0);
        rs->edit();
        rs->setFieldText(QStringLiteral("Remark"), QStringLiteral("edited"));
        rs->post();
        const qint64 deleted = ws->query("SELECT ChangeID FROM ChangeLog WHERE Operation = 'D'").value(0).toLongLong();
        const QString rowsBefore = scoreRows(*ws);
        const QStringList logBefore = logLines(*ws);

        // The edited row is held; a row under the deleted row's key is being written.
        dravon::pg::Session holder(*ws->serverAddress());
        holder.exec(QStringLiteral("BEGIN"));
        holder.exec(QStringLiteral("UPDATE \"Score\" SET \"Remark\" = \"Remark\" WHERE \"Id\" = 1"));
        holder.exec(QStringLiteral("INSERT INTO \"Score\" (\"Id\", \"StudentID\") VALUES (2, '2007050')"));
        auto refusal = [&](const std::function<void()> &work) {
            QElapsedTimer clock;
            clock.start();
            QString text;
            try {
                work();
            } catch (const dravon::Error &e) {
                text = e.text();
            }
            if (clock.elapsed() < 900 || clock.elapsed() > 15000)
                text += QStringLiteral(" after %1 ms").arg(clock.elapsed());
            return text;
        };
        const QString undo = refusal([&] { dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window); });
        QVERIFY2(undo.startsWith(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n")) && !undo.contains(" ms"),
                 qPrintable(undo));
        const QString restore = refusal([&] { dravon::restoreDeleted(*db, {deleted}, QStringLiteral("frmRecycleBin")); });
        QVERIFY2(restore.startsWith(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n")) && !restore.contains(" ms"),
                 qPrintable(restore));
        QCOMPARE(scoreRows(*ws), rowsBefore);
        QCOMPARE(logLines(*ws), logBefore);

        holder.exec(QStringLiteral("ROLLBACK"));
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        dravon::restoreDeleted(*db, {deleted}, QStringLiteral("frmRecycleBin"));
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:60.0:a 2:2007002:70.0:b 3:2007003:80.0:c 4:2007004:90.0:d"));
    }

    // A master row whose key an edit changed: undo finds it under its new
    // key, sets every column back, and a later change under either key stops it.
    void undoFollowsAChangedKey()
    {
        ws->exec("INSERT INTO StudentInfo (StudentID, StuName, StuAge) VALUES ('2007001', '张三', 18);"
                 "DELETE FROM ChangeLog;");
        auto rs = SQLDataSet(QStringLiteral("Select * From StudentInfo"), *db);
        rs->setOrigin(QStringLiteral("frmStudentSet"));
        rs->edit();
        rs->setFieldText(QStringLiteral("StuName"), QStringLiteral("张叁"));
        rs->setFieldText(QStringLiteral("StudentID"), QStringLiteral("2007100"));
        rs->setFieldText(QStringLiteral("StuAge"), QStringLiteral("19"));
        rs->post();
        QCOMPARE(ws->query("SELECT StudentID || StuName || StuAge FROM StudentInfo"), QStringList{"2007100张叁19"});
        const QString window = QStringLiteral("frmStudentSet");
        const qint64 undo = dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(ws->query("SELECT StudentID || StuName || StuAge FROM StudentInfo"), QStringList{"2007001张三18"});
        dravon::redoBatch(*db, undo, window);
        QCOMPARE(ws->query("SELECT StudentID || StuName || StuAge FROM StudentInfo"), QStringList{"2007100张叁19"});
        ws->exec("UPDATE StudentInfo SET StuContact = '123' WHERE StudentID = '2007100';");
        QVERIFY_THROWS_EXCEPTION(dravon::ChangeRefused, dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window));
    }

    // A batch that inserts, changes several columns of several rows and
    // deletes rows holding every kind of value (NULL and empty text, a date,
    // fractions, quotes and Chinese text): its undo's entries mirror the
    // batch's exactly, every entry is marked, and redo makes the batch again.
    void undoOfAMixedBatchMirrorsItsEntries()
    {
        ws->exec("UPDATE Score SET ScoreDateTime = '2007-09-01', Remark = '' WHERE Id = 1;"
                 "UPDATE Score SET Score = 60.25, CreditHour = 2.5, Remark = 'O''Brien张\"三' WHERE Id = 3;"
                 "DELETE FROM ChangeLog;");
        const QString before = allScoreValues();
        const qint64 batch = runBatch({"Insert Into Score (Id, StudentID, ScoreDateTime, Score, Remark) "
                                       "Values (10, '2007010', '2008-01-02', 77.5, '')",
                                       "Update Score Set Score = 99, Remark = Null Where Id = 2",
                                       "Update Score Set Term = '第二学期' Where Id = 4",
                                       "Delete From Score Where Id In (1, 3)"});
        const QString after = allScoreValues();
        const QStringList made = batchLines(batch);
        QCOMPARE(made.size(), 6);

        const QString window = QStringLiteral("frmImport");
        const qint64 undo = dravon::undoBatch(*db, batch, window);
        QCOMPARE(allScoreValues(), before);
        QStringList mirrored;
        for (const QString &line : made) {
            QStringList p = line.split(QLatin1Char(' '));
            p[2] = p[2] == "I" ? "D" : p[2] == "D" ? "I" : "U";
            std::swap(p[4], p[5]);
            mirrored << p.join(QLatin1Char(' '));
        }
        QStringList undone = batchLines(undo);
        mirrored.sort();
        undone.sort();
        QCOMPARE(undone, mirrored);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM ChangeLog WHERE BatchID = %1 AND UndoneBy = %2").arg(batch).arg(undo)),
                 QStringList{"6"});

        dravon::redoBatch(*db, undo, window);
        QCOMPARE(allScoreValues(), after);
        dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window);
        QCOMPARE(allScoreValues(), before);
    }

    // A row changed by a write the log does not hold (its entry gone): the
    // undo is refused naming the row, as a whole: what was already set back
    // of other rows and columns is taken back, the log stays as it was.
    void undoRefusedForAChangeOutsideTheLog_data()
    {
        QTest::addColumn<QStringList>("batch");
        QTest::addColumn<QString>("outside");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("inserted row gone") << QStringList{"Insert Into Score (Id, StudentID) Values (10, '2007010')",
                                                          "Insert Into Score (Id, StudentID) Values (11, '2007011')"}
                                           << "DELETE FROM Score WHERE Id = 11;" << "成绩记录 11 已不在数据库中。";
        QTest::newRow("changed column") << QStringList{"Update Score Set Score = 1.5, Remark = 'n' Where Id In (2, 3)"}
                                        << "UPDATE Score SET Score = 2.5 WHERE Id = 2;"
                                        << "成绩记录 2 已不是该操作之后的样子。";
        QTest::newRow("deleted row's key taken") << QStringList{"Delete From Score Where Id In (1, 2)"}
                                                 << "INSERT INTO Score (Id, StudentID) VALUES (1, '2007099');"
                                                 << "成绩记录 1 的编号已被另一条记录使用。";
    }

    void undoRefusedForAChangeOutsideTheLog()
    {
        QFETCH(QStringList, batch);
        QFETCH(QString, outside);
        QFETCH(QString, refusal);
        const qint64 id = runBatch(batch);
        ws->exec(outside + "DELETE FROM ChangeLog WHERE BatchID IS NULL;");
        const QString now = allScoreValues();
        const QStringList logNow = logLines(*ws);
        try {
            dravon::undoBatch(*db, id, QStringLiteral("frmImport"));
            QFAIL("undone over a change outside the log");
        } catch (const dravon::ChangeRefused &e) {
            QCOMPARE(e.text(), QStringLiteral("不能撤销“导入成绩”:") + refusal);
        }
        QCOMPARE(allScoreValues(), now);
        QCOMPARE(logLines(*ws), logNow);
        QCOMPARE(dravon::batchToUndo(*db, QStringLiteral("frmImport"))->id, id);
    }

    // The recycle bin: deleted rows restore with their keys as one batch;
    // a key taken now refuses; a missing student is named first; emptying
    // drops the values for good and is logged.
    void recycleBin()
    {
        ws->exec("INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007001', '张三'), ('2007003', '李四');");
        auto rs = scores();
        rs->deleteRows({0, 1, 2});
        const QStringList deletes = ws->query("SELECT ChangeID FROM ChangeLog WHERE Operation = 'D' ORDER BY ChangeID");
        QCOMPARE(deletes.size(), 3);
        auto id = [&](int i) { return deletes[i].toLongLong(); };
        // The bin's statement lists them, latest first, with their values.
        auto bin = SQLDataSet(dravon::recycleBinSql(QStringLiteral("Score"), db->engine()), *db);
        QCOMPARE(bin->recordCount(), 3);
        QCOMPARE(bin->fieldText(QStringLiteral("RowKey")), QStringLiteral("3"));
        QCOMPARE(bin->fieldText(QStringLiteral("Remark")), QStringLiteral("c"));
        QCOMPARE(bin->fieldText(QStringLiteral("Action")), QStringLiteral("批量删除"));
        QCOMPARE(bin->fieldText(QStringLiteral("UserID")), QStringLiteral("1001"));
        // The planner reads the bin through its own index, not the whole log.
        if (!ws->onServer())
            QVERIFY2(queryPlan(ws->dbPath(), dravon::recycleBinSql(QStringLiteral("Score"))).contains("ChangeLog_Deleted"),
                     qPrintable(queryPlan(ws->dbPath(), dravon::recycleBinSql(QStringLiteral("Score")))));

        // Id 2 is taken again by a new row: refused, nothing restored.
        ws->exec("INSERT INTO Score (Id, StudentID) VALUES (2, '2007050');");
        const QString before = scoreRows(*ws);
        try {
            dravon::restoreDeleted(*db, {id(0), id(1)}, QStringLiteral("frmRecycleBin"));
            QFAIL("restored over a taken key");
        } catch (const dravon::ChangeRefused &e) {
            QCOMPARE(e.text(), QStringLiteral("不能还原2 条成绩记录:以下记录的编号已被其他记录使用:\n成绩记录 2"));
        }
        QCOMPARE(scoreRows(*ws), before);

        QCOMPARE(dravon::missingReferences(*db, {id(0), id(1), id(2)}),
                 QStringList{QStringLiteral("成绩记录 2: 学生 2007002 不存在")});
        dravon::restoreDeleted(*db, {id(0), id(2)}, QStringLiteral("frmRecycleBin"));
        QCOMPARE(scoreRows(*ws), QStringLiteral("1:2007001:60.0:a 2:2007050:NULL: 3:2007003:80.0:c 4:2007004:90.0:d"));
        QCOMPARE(logLines(*ws).filter(QStringLiteral("B 还原")), QStringList{"B 还原|frmRecycleBin|还原 2 条成绩记录|1001"});
        bin = SQLDataSet(dravon::recycleBinSql(QStringLiteral("Score"), db->engine()), *db);
        QCOMPARE(bin->recordCount(), 1);
        // The delete batch is partly restored: its undo is refused.
        const QString window = QStringLiteral("frmStudentScore");
        QVERIFY_THROWS_EXCEPTION(dravon::ChangeRefused, dravon::undoBatch(*db, dravon::batchToUndo(*db, window)->id, window));
        // The restore itself is undone in the bin's window: the rows are in the bin again.
        dravon::undoBatch(*db, dravon::batchToUndo(*db, QStringLiteral("frmRecycleBin"))->id, QStringLiteral("frmRecycleBin"));
        bin = SQLDataSet(dravon::recycleBinSql(QStringLiteral("Score"), db->engine()), *db);
        QCOMPARE(bin->recordCount(), 3);

        // Emptying rows deleted before tomorrow: all three, values gone, the emptying logged.
        const QDate tomorrow = QDate::currentDate().addDays(1);
        QCOMPARE(dravon::countDeletedBefore(*db, QDate::currentDate().addDays(-1)), 0);
        QCOMPARE(dravon::countDeletedBefore(*db, tomorrow), 3);
        QCOMPARE(dravon::purgeDeleted(*db, tomorrow, QStringLiteral("frmRecycleBin")), 3);
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeLog WHERE Operation = 'D' AND UndoneBy IS NULL"), QStringList{"0"});
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeLog WHERE Operation = 'D' AND OldValue IS NULL"), QStringList{"3"});
        QCOMPARE(ws->query("SELECT Action || '|' || Description FROM ChangeBatch ORDER BY BatchID DESC LIMIT 1"),
                 QStringList{QStringLiteral("清空|清空回收站中 %1 以前删除的 3 条记录").arg(tomorrow.toString(Qt::ISODate))});
        bin = SQLDataSet(dravon::recycleBinSql(QStringLiteral("Score"), db->engine()), *db);
        QCOMPARE(bin->recordCount(), 0);
    }

    // A row's history: every change with its time, user and action; inserts
    // and deletes column by column.
    void historyOfARow()
    {
        auto rs = scores();
        rs->moveTo(0);
        rs->edit();
        rs->setFieldText(QStringLiteral("Score"), QStringLiteral("66"));
        rs->post();
        ws->exec("UPDATE Score SET Remark = 'z' WHERE Id = 1;");
        rs = scores();
        rs->remove();
        QStringList lines;
        for (const dravon::HistoryLine &l : dravon::rowHistory(*db, QStringLiteral("Score"), qlonglong(1)))
            lines << QStringLiteral("%1 %2 %3 %4 %5>%6").arg(l.otherProgram ? QStringLiteral("其他程序") : l.user, l.action,
                                                          QString(l.operation), l.field, l.oldValue.toString(),
                                                          l.newValue.toString());
        QCOMPARE(lines, QStringList({"1001 保存 U Score 60>66", "其他程序 其他程序 U Remark a>z",
                                     "1001 删除 D StudentID 2007001>", "1001 删除 D Term 第一学期>",
                                     "1001 删除 D Score 66>", "1001 删除 D Remark z>"}));
    }

    // Pruning: entries older than the age go with their batches, the
    // oldest go while the log is over its size, and the last 30 days stay.
    void pruningKeepsTheLastThirtyDays()
    {
        // Batches of 400, 100, 40, 20 and 1 days ago, each with one entry,
        // and another program's entry of 50 days ago between them.
        for (int days : {400, 100, 50, 40, 20, 1}) {
            if (days == 50) {
                ws->exec("INSERT INTO ChangeLog (ChangedAt, TableName, RowKey, Operation, Field) "
                         "VALUES (datetime('now', 'localtime', '-50 days'), 'Score', 50, 'U', 'Remark');");
                continue;
            }
            // The server finds a batch's entries by its number, without a first change.
            const QString first = ws->onServer() ? QString() : QStringLiteral(", FirstChange");
            const QString firstValue = ws->onServer() ? QString() : QStringLiteral(", (SELECT coalesce(max(ChangeID), 0) + 1 FROM ChangeLog)");
            ws->exec(QStringLiteral("INSERT INTO ChangeBatch (ChangedAt, Action, Description%2) VALUES "
                                    "(datetime('now', 'localtime', '-%1 days'), '保存', '%1'%3);"
                                    "INSERT INTO ChangeLog (BatchID, TableName, RowKey, Operation, Field, OldValue, NewValue) "
                                    "VALUES ((SELECT max(BatchID) FROM ChangeBatch), 'Score', %1, 'U', 'Score', 1.0, 2.0);")
                         .arg(days)
                         .arg(first, firstValue));
        }
        auto kept = [&] {
            return ws->query("SELECT group_concat(RowKey, ' ') FROM (SELECT RowKey FROM ChangeLog ORDER BY ChangeID) AS k").value(0);
        };
        auto prune = [&](const dravon::LogLimits &limits) {
            return ws->onServer() ? dravon::pruneChangeLog(*db->serverAddress(), limits)
                                  : dravon::pruneChangeLog(ws->dbPath(), limits);
        };

        dravon::LogLimits limits;
        limits.keepDays = 365;
        auto outcome = prune(limits);
        QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
        QCOMPARE(outcome.entries, 1);
        QCOMPARE(kept(), QStringLiteral("100 50 40 20 1"));
        QCOMPARE(ws->query("SELECT group_concat(Description, ' ') FROM (SELECT Description FROM ChangeBatch "
                           "WHERE Action = '保存' ORDER BY BatchID) AS d").value(0),
                 QStringLiteral("100 40 20 1"));
        QCOMPARE(ws->query("SELECT Description FROM ChangeBatch WHERE Action = '清理'"),
                 QStringList{QStringLiteral("清理 1 条旧的修改记录")});

        // A size the log is far over: everything older than 30 days goes, nothing newer.
        limits.maxBytes = 1;
        outcome = prune(limits);
        QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
        QCOMPARE(kept(), QStringLiteral("20 1"));
        QCOMPARE(ws->query("SELECT group_concat(Description, ' ') FROM (SELECT Description FROM ChangeBatch "
                           "WHERE Action = '保存' ORDER BY BatchID) AS d").value(0),
                 QStringLiteral("20 1"));
        // Within its limits, nothing goes and nothing is noted.
        const QStringList before = logLines(*ws);
        limits.maxBytes = 200LL << 20;
        outcome = prune(limits);
        QCOMPARE(outcome.entries, 0);
        QCOMPARE(logLines(*ws), before);
        QVERIFY((ws->onServer() ? dravon::changeLogBytes(*db->serverAddress()) : dravon::changeLogBytes(ws->dbPath())) > 0);
    }

    // The program ends while its pruner waits on the server (another
    // session holds the log): the cancel stops the waiting statement, so the
    // program is not kept waiting; nothing is removed and no error is told.
    // Not cancelled, the pruner's wait has the clerk's limit.
    void cancelledPrunerStopsItsStatementOnTheServer()
    {
        if (!ws->onServer())
            QSKIP("the file's pruner waits for a lock in steps of its own; a statement stopped on the server");
        ws->exec("INSERT INTO ChangeBatch (ChangedAt, Action, Description) VALUES (datetime('now', 'localtime', '-400 days'), '保存', 'old');"
                 "INSERT INTO ChangeLog (BatchID, TableName, RowKey, Operation, Field) "
                 "VALUES ((SELECT max(BatchID) FROM ChangeBatch), 'Score', 1, 'U', 'Remark');");
        dravon::pg::Session holder(*ws->serverAddress());
        holder.exec(QStringLiteral("BEGIN"));
        holder.exec(QStringLiteral("LOCK TABLE \"ChangeLog\" IN ACCESS EXCLUSIVE MODE"));
        // Waiting longer than its limit, so that the cancel finds it waiting.
        dravon::pg::setLockWaitForTesting(120000);
        dravon::ChangeLogPruner pruner(*db, dravon::LogLimits{});
        pruner.start();
        QTRY_COMPARE_WITH_TIMEOUT(ws->query("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                                            "AND wait_event_type = 'Lock'"),
                                  QStringList{"1"}, 20000);
        pruner.cancel();
        QVERIFY(pruner.wait(5000));
        QVERIFY2(pruner.outcome().error.isEmpty(), qPrintable(pruner.outcome().error));
        QCOMPARE(pruner.outcome().entries, 0);

        // Left alone, it gives up about as soon as a clerk's Save would,
        // letting go of what it holds, and says why; it prunes at its next run.
        dravon::pg::setLockWaitForTesting(0);
        dravon::ChangeLogPruner limited(*db, dravon::LogLimits{});
        QElapsedTimer clock;
        clock.start();
        limited.start();
        QVERIFY(limited.wait(15000));
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(limited.outcome().error.startsWith(QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。")),
                 qPrintable(limited.outcome().error));
        QCOMPARE(limited.outcome().entries, 0);
        holder.exec(QStringLiteral("ROLLBACK"));
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeLog"), QStringList{"1"});
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatch WHERE Action = '清理'"), QStringList{"0"});
    }
};

QTEST_GUILESS_MAIN(TestChangeLog)
#include "tst_changelog.moc"
