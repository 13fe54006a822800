// The import's dry run and apply on a real database: what each row would do,
// the error texts, names resolved to numbers, wide score sheets, the modes,
// all or nothing, cancel, the backup copy, a full disk, a locked file, a
// database changed after the check, importing twice, a round trip through
// the program's own CSV and Excel export, and the apply as one batch of the
// change log.
#include "data/Dravon.h"
#include "data/ProgramSettings.h"
#include "data/changes/Reversal.h"
#include "data/export/TableExport.h"
#include "data/import/ImportRun.h"
#include "support/ChangeLogLines.h"
#include "support/ImportFixtures.h"
#include "support/SmallDisk.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

using namespace importing;
using testsupport::countsText;
using testsupport::importFixture;
using testsupport::prepareImport;
using testsupport::quotedReal;
using testsupport::TestWorkspace;

class ImportCheckTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<dravon::Connection> conn;
    std::unique_ptr<QTemporaryDir> files;

    QString writeCsv(const QString &name, const QString &text)
    {
        const QString path = files->filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8());
        return path;
    }

    // The dry run of a file into a table; the run stays for an apply.
    std::unique_ptr<ImportRun> check(const QString &path, const QString &table,
                                     std::function<void(ImportPlan &)> adjust = {})
    {
        testsupport::PreparedImport p = prepareImport(*conn, path, table);
        if (adjust)
            adjust(p.plan);
        auto run = std::make_unique<ImportRun>(*conn, p.plan);
        if (!run->check(*p.reader))
            return nullptr;
        return run;
    }

    QStringList reasons(const ImportRun &run)
    {
        QStringList all;
        for (const ErrorRow &e : run.errorRows())
            all << e.reasons;
        return all;
    }

    // A score sheet of n new marks of one student, one term each.
    QString manyScores(int n)
    {
        QString csv = QStringLiteral("学号,课程,学期,成绩\n");
        for (int i = 0; i < n; ++i)
            csv += QStringLiteral("0024001,高等数学,第%1学期,%2\n").arg(i).arg(i % 100);
        return writeCsv(QStringLiteral("many.csv"), csv);
    }

    QStringList backups() const
    {
        return QDir(ws->dir()).entryList({QStringLiteral("Teach.mdb.before-import-*")});
    }

private slots:
    void initTestCase()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
    }
    void init()
    {
        ws = std::make_unique<TestWorkspace>();
        files = std::make_unique<QTemporaryDir>();
        conn = std::make_unique<dravon::Connection>();
        ws->openConnection(*conn);
    }
    void cleanup()
    {
        conn.reset();
        ws.reset();
        files.reset();
        CurrentUserID.clear();
    }

    void studentsFromAWorkbookAreCheckedThenWrittenAndASecondRunChangesNothing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::newRow("openpyxl") << "students-openpyxl.xlsx" << 1;
        QTest::newRow("openpyxl, 1904 dates") << "students-1904-openpyxl.xlsx" << 1;
        QTest::newRow("gnumeric xlsx") << "students-gnumeric.xlsx" << 1;
        QTest::newRow("gnumeric xls") << "students-gnumeric.xls" << 1;
        QTest::newRow("gnumeric csv") << "students-gnumeric.csv" << 0;
    }
    void studentsFromAWorkbookAreCheckedThenWrittenAndASecondRunChangesNothing()
    {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        testsupport::seedSchool(*ws, false);
        testsupport::PreparedImport p = prepareImport(*conn, importFixture(file), QStringLiteral("StudentInfo"), sheet);
        // The title row and the blank row above the headers are passed over.
        QCOMPARE(p.plan.headerLine, 3);
        QStringList mapped;
        for (const ColumnMapping &m : p.plan.columns)
            mapped << m.field;
        QCOMPARE(mapped, (QStringList{"StudentID", "StuName", "StuSex", "StuAge", "ClassID", "InSchoolDate", "StuContact",
                                      "Remark"}));
        ImportRun run(*conn, p.plan);
        QVERIFY(run.check(*p.reader));
        QCOMPARE(countsText(run.counts()), QStringLiteral("新增 4 更新 0 不变 0 跳过 0 错误 0"));
        // Nothing is written by the check.
        QCOMPARE(ws->query("SELECT count(*) FROM StudentInfo"), QStringList{"0"});
        QVERIFY(backups().isEmpty());

        const ApplyResult result = applyImport(run);
        QVERIFY(result.completed);
        QCOMPARE(result.added, 4);
        // A file is copied beside itself first; a server keeps its own log.
        QCOMPARE(QFileInfo::exists(result.backupPath), !ws->onServer());
        QCOMPARE(ws->query("SELECT StudentID || '|' || StuName || '|' || StuSex || '|' || typeof(StuAge) || StuAge || '|' || "
                           "ClassID || '|' || InSchoolDate || '|' || ifnull(StuContact, '') || '|' || ifnull(Remark, '') "
                           "FROM StudentInfo ORDER BY StudentID"),
                 (QStringList{"0024001|张三|男|integer18|2007001|2024-09-01|13800000001|",
                              "0024002|李四|女|integer19|2007001|2024-09-02|13800000002|=1+2",
                              "0024003|王五|男|integer19|2007002|2024-09-03||转专业",
                              "0024004|赵六|女|integer20|2007002|2024-09-04|+86 139|"}));

        // The same file again: nothing new, nothing to change.
        testsupport::PreparedImport again = prepareImport(*conn, importFixture(file), QStringLiteral("StudentInfo"), sheet);
        ImportRun second(*conn, again.plan);
        QVERIFY(second.check(*again.reader));
        QCOMPARE(countsText(second.counts()), QStringLiteral("新增 0 更新 0 不变 4 跳过 0 错误 0"));
    }

    void errorsNameTheRowTheColumnAndWhatIsWrong_data()
    {
        QTest::addColumn<QString>("csv");
        QTest::addColumn<QStringList>("expected");
        const QString head = QStringLiteral("学号,姓名,年龄,班级,入学时间\n");
        QTest::newRow("not a whole number") << head + "0024101,甲,十八,2007001,\n"
                                            << QStringList{"第 2 行 年龄: \"十八\" 不是整数"};
        QTest::newRow("no such date") << head + "0024101,甲,18,,2024-02-30\n"
                                      << QStringList{"第 2 行 入学时间: \"2024-02-30\" 不是有效的日期"};
        QTest::newRow("unknown class") << head + "0024101,甲,18,计算机九班,\n"
                                       << QStringList{"第 2 行 班级: \"计算机九班\" 找不到这个班级"};
        QTest::newRow("a name two classes share is not guessed")
            << head + "0024101,甲,18,物理一班,\n"
            << QStringList{"第 2 行 班级: \"物理一班\" 对应多个班级(2007003、2007004),请改用编号"};
        QTest::newRow("no number") << head + ",甲,18,,\n" << QStringList{"第 2 行 学号: 不能为空"};
        QTest::newRow("a number twice in the file")
            << head + "0024101,甲,18,,\n0024101,乙,19,,\n"
            << QStringList{"第 3 行 学号: \"0024101\" 在文件中重复(第 2 行已有)"};
        QTest::newRow("two faults in one row") << head + "0024101,甲,X,Y,Z\n"
                                               << QStringList{"第 2 行 年龄: \"X\" 不是整数",
                                                              "第 2 行 班级: \"Y\" 找不到这个班级",
                                                              "第 2 行 入学时间: \"Z\" 不是有效的日期"};
    }
    void errorsNameTheRowTheColumnAndWhatIsWrong()
    {
        QFETCH(QString, csv);
        QFETCH(QStringList, expected);
        testsupport::seedSchool(*ws, false);
        std::unique_ptr<ImportRun> run = check(writeCsv("students.csv", csv), QStringLiteral("StudentInfo"));
        QVERIFY(run);
        QCOMPARE(reasons(*run), expected);
        QCOMPARE(run->counts().errorRows, 1);
    }

    void scoreSheetsResolveNamesAndTakeTheSubjectsCredit_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("GB18030 CSV") << "scores-gb18030.csv";
        QTest::newRow("UTF-8 CSV") << "scores-utf8-bom.csv";
        QTest::newRow("text") << "scores-tab.txt";
    }
    void scoreSheetsResolveNamesAndTakeTheSubjectsCredit()
    {
        QFETCH(QString, file);
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run = check(importFixture(file), QStringLiteral("Score"));
        QVERIFY(run);
        QCOMPARE(countsText(run->counts()), QStringLiteral("新增 2 更新 0 不变 0 跳过 0 错误 1"));
        QCOMPARE(reasons(*run), QStringList{"第 3 行 成绩: \"九十\" 不是数字"});
        QVERIFY(applyImport(*run).completed);
        // The student's class and the subject's credit, as the score window takes them.
        QCOMPARE(ws->query(QStringLiteral("SELECT StudentID || '|' || SubjectID || '|' || Term || '|' || %1 || '|' || %2 "
                                          "|| '|' || ClassID || '|' || ScoreDateTime FROM Score ORDER BY Id")
                               .arg(quotedReal(*ws, "Score"), quotedReal(*ws, "CreditHour"))),
                 (QStringList{"0024001|2007001|第一学期|85.0|4.0|2007001|2025-01-10",
                              "0024003|2007002|第一学期|78.0|3.0|2007002|2025-01-10"}));
    }

    void aWideScoreSheetBecomesOneRowPerMark()
    {
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run =
            check(importFixture("scores-wide-gnumeric.xlsx"), QStringLiteral("Score"), [](ImportPlan &plan) {
                QStringList shown;
                for (const ColumnMapping &m : plan.columns)
                    shown << (m.isSubject() ? "#" + m.subjectName : m.field);
                QCOMPARE(shown, (QStringList{"StudentID", "", "#高等数学", "#大学英语", ""}));
                plan.sheetTerm = QStringLiteral("第二学期");
                plan.sheetDate = QDate(2025, 6, 30);
            });
        QVERIFY(run);
        // The row with a bad mark is left out whole.
        QCOMPARE(countsText(run->counts()), QStringLiteral("新增 3 更新 0 不变 0 跳过 0 错误 1"));
        QCOMPARE(reasons(*run), QStringList{"第 3 行 高等数学: \"九十\" 不是数字"});
        QVERIFY(applyImport(*run).completed);
        QCOMPARE(ws->query(QStringLiteral("SELECT StudentID || '|' || SubjectID || '|' || Term || '|' || %1 || '|' || %2 "
                                          "|| '|' || ScoreDateTime FROM Score ORDER BY Id")
                               .arg(quotedReal(*ws, "Score"), quotedReal(*ws, "CreditHour"))),
                 (QStringList{"0024001|2007001|第二学期|85.0|4.0|2025-06-30", "0024001|2007002|第二学期|90.5|3.0|2025-06-30",
                              "0024003|2007002|第二学期|60.0|3.0|2025-06-30"}));
    }

    // A row repeating an earlier one is left out whole; a later row that
    // repeats only the part taken back is then new (rows are checked in
    // the file's order, however many are staged at once).
    void aRowTakenBackNoLongerTurnsALaterRowAway()
    {
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run =
            check(writeCsv("wide.csv", "学号,高等数学,大学英语\n0024001,80,\n0024001,81,70\n0024001,,75\n0024002,60,61\n"),
                  QStringLiteral("Score"), [](ImportPlan &plan) { plan.sheetTerm = QStringLiteral("第一学期"); });
        QVERIFY(run);
        QCOMPARE(countsText(run->counts()), QStringLiteral("新增 4 更新 0 不变 0 跳过 0 错误 1"));
        QCOMPARE(run->errorRows().size(), 1);
        QCOMPARE(run->errorRows().first().line, 3);
        QVERIFY2(reasons(*run).first().contains(QStringLiteral("在文件中重复(第 2 行已有)")), qPrintable(reasons(*run).join('\n')));
        QVERIFY(applyImport(*run).completed);
        QCOMPARE(ws->query(QStringLiteral("SELECT StudentID || '|' || SubjectID || '|' || %1 FROM Score ORDER BY Id")
                               .arg(quotedReal(*ws, "Score"))),
                 (QStringList{"0024001|2007001|80.0", "0024001|2007002|75.0", "0024002|2007001|60.0", "0024002|2007002|61.0"}));
    }

    void theModeDecidesWhatHappensToNewAndChangedRows_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("counts");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("add only") << int(ImportMode::AddOnly) << "新增 1 更新 0 不变 1 跳过 1 错误 0"
                                  << QStringList{"0024001|张三", "0024002|李四", "0024003|王五", "0024009|新生"};
        QTest::newRow("update only") << int(ImportMode::UpdateOnly) << "新增 0 更新 1 不变 1 跳过 1 错误 0"
                                     << QStringList{"0024001|张三", "0024002|李思", "0024003|王五"};
        QTest::newRow("add and update") << int(ImportMode::AddAndUpdate) << "新增 1 更新 1 不变 1 跳过 0 错误 0"
                                        << QStringList{"0024001|张三", "0024002|李思", "0024003|王五", "0024009|新生"};
    }
    void theModeDecidesWhatHappensToNewAndChangedRows()
    {
        QFETCH(int, mode);
        QFETCH(QString, counts);
        QFETCH(QStringList, stored);
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run = check(writeCsv("s.csv", "学号,姓名\n0024001,张三\n0024002,李思\n0024009,新生\n"),
                                               QStringLiteral("StudentInfo"),
                                               [mode](ImportPlan &plan) { plan.mode = ImportMode(mode); });
        QVERIFY(run);
        QCOMPARE(countsText(run->counts()), counts);
        QVERIFY(applyImport(*run).completed);
        QCOMPARE(ws->query("SELECT StudentID || '|' || StuName FROM StudentInfo ORDER BY StudentID"), stored);
        // Columns the file does not have are kept.
        QCOMPARE(ws->query("SELECT ClassID FROM StudentInfo WHERE StudentID = '0024002'"), QStringList{"2007001"});
    }

    void scoresAreMatchedByTheChosenColumnsWhicheverSideIsRead_data()
    {
        QTest::addColumn<int>("filler");
        // Fewer file rows than students: each row looks up its student's
        // rows; more: the table is read once.
        QTest::newRow("file rows look up the table") << 0;
        QTest::newRow("the table looks up the file rows") << 6;
    }
    void scoresAreMatchedByTheChosenColumnsWhicheverSideIsRead()
    {
        QFETCH(int, filler);
        testsupport::seedSchool(*ws);
        ws->exec("INSERT INTO Score (StudentID, Term, SubjectID, ClassID, Score, CreditHour) VALUES "
                 "('0024001', '第一学期', '2007001', '2007001', 85, 4), ('0024001', '第二学期', '2007001', '2007001', 70, 4),"
                 "('0024002', '第一学期', '2007001', '2007001', 60, 4), ('0024002', '第一学期', '2007001', '2007001', 61, 4)");
        QString csv = QStringLiteral("学号,课程,学期,成绩\n0024001,高等数学,第一学期,85\n0024001,高等数学,第二学期,75\n"
                                     "0024002,高等数学,第一学期,62\n0024003,高等数学,第一学期,90\n");
        for (int i = 0; i < filler; ++i)
            csv += QStringLiteral("0024003,大学英语,第%1学期,80\n").arg(i + 1);
        std::unique_ptr<ImportRun> run = check(writeCsv("scores.csv", csv), QStringLiteral("Score"));
        QVERIFY(run);
        QCOMPARE(countsText(run->counts()), QStringLiteral("新增 %1 更新 1 不变 1 跳过 0 错误 1").arg(1 + filler));
        QCOMPARE(reasons(*run), QStringList{"第 4 行: 表中有 2 条记录的学号、课程、学期与之相同,无法确定更新哪一条"});
        QVERIFY(applyImport(*run).completed);
        QCOMPARE(ws->query(QStringLiteral("SELECT %1 FROM Score WHERE StudentID = '0024001' ORDER BY Id").arg(quotedReal(*ws, "Score"))),
                 (QStringList{"85.0", "75.0"}));
    }

    void aFailureInTheApplyRollsEverythingBackAndKeepsTheCopy()
    {
        testsupport::seedSchool(*ws);
        // A rule the check cannot know of: the engine refuses the third row.
        if (ws->onServer())
            conn->session().execScript(QStringLiteral(
                "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "IF NEW.\"StudentID\" = '0024012' THEN RAISE EXCEPTION 'refused by a rule'; END IF; RETURN NEW; END $$;"
                "CREATE TRIGGER refuse BEFORE INSERT ON \"StudentInfo\" FOR EACH ROW EXECUTE FUNCTION refuse()"));
        else
            ws->exec("CREATE TRIGGER refuse BEFORE INSERT ON StudentInfo WHEN NEW.StudentID = '0024012' "
                     "BEGIN SELECT RAISE(ABORT, 'refused by a rule'); END");
        std::unique_ptr<ImportRun> run = check(
            writeCsv("s.csv", "学号,姓名\n0024010,甲\n0024011,乙\n0024012,丙\n0024001,张三丰\n"), QStringLiteral("StudentInfo"));
        QVERIFY(run);
        QCOMPARE(countsText(run->counts()), QStringLiteral("新增 3 更新 1 不变 0 跳过 0 错误 0"));
        try {
            applyImport(*run);
            QFAIL("the apply did not fail");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().contains(QStringLiteral("导入失败,已全部撤销")), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral("refused by a rule")), qPrintable(e.text()));
            QCOMPARE(e.text().contains(QStringLiteral(".before-import-")), !ws->onServer());
        }
        QCOMPARE(ws->query("SELECT StudentID || '|' || StuName FROM StudentInfo ORDER BY StudentID"),
                 (QStringList{"0024001|张三", "0024002|李四", "0024003|王五"}));
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatch"), QStringList{"0"});
        if (ws->onServer())
            return;
        QCOMPARE(backups().size(), 1);
        // The copy is the database as it was before.
        QCOMPARE(testsupport::querySql(QDir(ws->dir()).filePath(backups().first()), "SELECT count(*) FROM StudentInfo"),
                 QStringList{"3"});
    }

    void aCancelledApplyLeavesTheDatabaseAsItWas()
    {
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run = check(manyScores(30000), QStringLiteral("Score"));
        QVERIFY(run);
        QCOMPARE(run->counts().added, 30000);
        int calls = 0;
        const ApplyResult result = applyImport(*run, [&](qint64, qint64) { return ++calls < 2; });
        QVERIFY(!result.completed);
        QVERIFY(calls >= 2);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"0"});
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatch"), QStringList{"0"});
        QCOMPARE(QFileInfo::exists(result.backupPath), !ws->onServer());
        // Cancelled is not done: the same check is applied whole after all.
        QCOMPARE(applyImport(*run).added, 30000);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"30000"});
    }

    // The apply is one batch "导入" of the window it was started from: an
    // entry per added row and per changed column, none for a column the row
    // already had; a cancelled apply leaves no batch behind, and the
    // window's undo takes the whole import back.
    void anImportIsOneBatchThatUndoTakesBack()
    {
        testsupport::seedSchool(*ws, true);
        CurrentUserID = QStringLiteral("1001");
        const QString before = ws->query("SELECT ifnull(max(ChangeID), 0) FROM ChangeLog").value(0);
        const QString students = QStringLiteral("SELECT StudentID || '|' || StuName || '|' || ifnull(CAST(StuAge AS TEXT), '') || '|' || "
                                                "ClassID FROM StudentInfo ORDER BY StudentID");
        const QStringList seeded = ws->query(students);
        std::unique_ptr<ImportRun> run =
            check(writeCsv("s.csv", "学号,姓名,年龄,班级\n0024001,张三丰,18,2007001\n0024009,新生,19,2007002\n"),
                  QStringLiteral("StudentInfo"), [](ImportPlan &plan) { plan.window = QStringLiteral("frmStudentSet"); });
        QVERIFY(run);
        QCOMPARE(countsText(run->counts()), QStringLiteral("新增 1 更新 1 不变 0 跳过 0 错误 0"));
        QVERIFY(!applyImport(*run, [](qint64, qint64) { return false; }).completed);
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatch"), QStringList{"0"});
        QCOMPARE(ws->query(students), seeded);

        QVERIFY(applyImport(*run).completed);
        QCOMPARE(ws->query("SELECT Action || '|' || Window || '|' || Description || '|' || UserID FROM ChangeBatch"),
                 QStringList{"导入|frmStudentSet|导入 2 条学生记录|1001"});
        QCOMPARE(ws->query(QStringLiteral("SELECT Operation || ' ' || RowKey || ' ' || coalesce(Field, '-') FROM ChangeLog "
                                          "WHERE ChangeID > %1 AND BatchID = (SELECT BatchID FROM ChangeBatch) ORDER BY ChangeID")
                               .arg(before)),
                 (QStringList{"I 0024009 -", "U 0024001 StuName", "U 0024001 StuAge"}));
        // The values as the file keeps them.
        if (!ws->onServer())
            QCOMPARE(ws->query(QStringLiteral(
                     "SELECT (BatchID = (SELECT BatchID FROM ChangeBatch)) || ' ' || Operation || ' ' || RowKey || ' ' || "
                     "coalesce(Field, '-') || ' ' || quote(OldValue) || ' ' || CASE Operation WHEN 'I' THEN "
                     "json_extract(NewValue, '$.StuName') || '/' || json_extract(NewValue, '$.StuAge') || '/' || "
                     "json_extract(NewValue, '$.ClassID') ELSE quote(NewValue) END FROM ChangeLog WHERE ChangeID > %1 "
                     "ORDER BY ChangeID")
                     .arg(before)),
                 (QStringList{"1 I 0024009 - NULL 新生/19/2007002", "1 U 0024001 StuName '张三' '张三丰'",
                              "1 U 0024001 StuAge NULL 18"}));

        const auto batch = dravon::batchToUndo(*conn, QStringLiteral("frmStudentSet"));
        QVERIFY(batch);
        QCOMPARE(dravon::undoText(*batch), QStringLiteral("撤销 导入 2 条学生记录"));
        dravon::undoBatch(*conn, batch->id, QStringLiteral("frmStudentSet"));
        QCOMPARE(ws->query(students), seeded);
    }

    void aFullDiskInTheMiddleOfTheApplyRollsEverythingBack()
    {
        if (ws->onServer())
            QSKIP("a file's disk");
        testsupport::seedSchool(*ws);
        // The database is opened on a disk that fills up.
        testsupport::SmallDisk disk;
        conn = std::make_unique<dravon::Connection>();
        conn->setConnectionString(ws->connectionString());
        conn->open();
        std::unique_ptr<ImportRun> run = check(manyScores(30000), QStringLiteral("Score"));
        QVERIFY(run);
        // Room for what the engine writes out while the first 20,000 rows
        // and their change log entries are added, not for the rest.
        disk.setFreeBytes(6000 * 1024);
        qint64 written = 0;
        try {
            applyImport(*run, [&](qint64 done, qint64) {
                written = done;
                return true;
            });
            QFAIL("the apply did not fail");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().contains(QStringLiteral("导入失败,已全部撤销")), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral("磁盘空间不足")), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral(".before-import-")), qPrintable(e.text()));
        }
        // The disk filled after rows had been written: the file is put back
        // from the journal at once, so that any reader sees it as before.
        QCOMPARE(written, 20000);
        QVERIFY(!QFileInfo::exists(ws->dbPath() + QStringLiteral("-journal")));
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"0"});
        QCOMPARE(backups().size(), 1);
        QCOMPARE(testsupport::querySql(QDir(ws->dir()).filePath(backups().first()), "SELECT count(*) FROM Score"),
                 QStringList{"0"});
        // With room again, the same check is applied whole.
        disk.makeRoom();
        QCOMPARE(applyImport(*run).added, 30000);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"30000"});
        run.reset();
        conn.reset();
    }

    void aLockedDatabaseIsReportedAndNothingIsWritten()
    {
        if (ws->onServer())
            QSKIP("a file's lock");
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run = check(writeCsv("s.csv", "学号,姓名\n0024010,甲\n"), QStringLiteral("StudentInfo"));
        QVERIFY(run);
        sqlite3 *other = nullptr;
        QCOMPARE(sqlite3_open(ws->dbPath().toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        QElapsedTimer timer;
        timer.start();
        try {
            applyImport(*run);
            QFAIL("the apply did not fail");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().contains(QStringLiteral("已锁定")), qPrintable(e.text()));
        }
        QVERIFY(timer.elapsed() < 5000);
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(ws->query("SELECT count(*) FROM StudentInfo"), QStringList{"3"});
    }

    // Another clerk saves between the check and the apply: nothing of the
    // import is written over it; checked again, the import sees the save.
    void aDatabaseChangedAfterTheCheckIsCheckedAgain_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("csv");
        QTest::addColumn<QString>("otherSave");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("counts");
        const QString students = QStringLiteral("SELECT StudentID || '|' || StuName FROM StudentInfo ORDER BY StudentID");
        QTest::newRow("a row added with a new row's number")
            << "StudentInfo" << "学号,姓名\n0024010,甲\n"
            << "INSERT INTO StudentInfo (StudentID, StuName) VALUES ('0024010', '别人先加的')" << students
            << QStringList{"0024001|张三", "0024002|李四", "0024003|王五", "0024010|别人先加的"}
            << "新增 0 更新 1 不变 0 跳过 0 错误 0";
        QTest::newRow("a row the import changes")
            << "StudentInfo" << "学号,姓名\n0024002,李思\n"
            << "UPDATE StudentInfo SET StuName = '李四四' WHERE StudentID = '0024002'" << students
            << QStringList{"0024001|张三", "0024002|李四四", "0024003|王五"} << "新增 0 更新 1 不变 0 跳过 0 错误 0";
        QTest::newRow("a row the import found unchanged")
            << "StudentInfo" << "学号,姓名\n0024002,李四\n0024011,乙\n"
            << "UPDATE StudentInfo SET StuName = '李四四' WHERE StudentID = '0024002'" << students
            << QStringList{"0024001|张三", "0024002|李四四", "0024003|王五"} << "新增 1 更新 1 不变 0 跳过 0 错误 0";
        QTest::newRow("a mark added that the file's row now matches")
            << "Score" << "学号,课程,学期,成绩\n0024001,高等数学,第一学期,85\n"
            << "INSERT INTO Score (StudentID, Term, SubjectID, Score) VALUES ('0024001', '第一学期', '2007001', 60)"
            << "SELECT StudentID || '|' || Term FROM Score ORDER BY Id" << QStringList{"0024001|第一学期"}
            << "新增 0 更新 1 不变 0 跳过 0 错误 0";
    }
    void aDatabaseChangedAfterTheCheckIsCheckedAgain()
    {
        QFETCH(QString, table);
        QFETCH(QString, csv);
        QFETCH(QString, otherSave);
        QFETCH(QString, shown);
        QFETCH(QStringList, before);
        QFETCH(QString, counts);
        testsupport::seedSchool(*ws);
        const QString path = writeCsv("s.csv", csv);
        std::unique_ptr<ImportRun> run = check(path, table);
        QVERIFY(run);
        ws->exec(otherSave);
        try {
            applyImport(*run);
            QFAIL("the import wrote over another clerk's save");
        } catch (const StaleCheck &e) {
            QCOMPARE(e.text(), QStringLiteral("检查之后数据库已被其他程序修改,需要重新检查。"));
        }
        QCOMPARE(ws->query(shown), before);
        run.reset();
        run = check(path, table);
        QCOMPARE(countsText(run->counts()), counts);
        QVERIFY(applyImport(*run).completed);
    }

    // The connection to the server is lost in the middle of the apply:
    // a clear message, nothing written, and the next try, after the check
    // has run again on the new connection, imports everything.
    void aLostConnectionInTheApplyWritesNothingAndTheNextTryWorks_data()
    {
        QTest::addColumn<bool>("serverStopped");
        QTest::newRow("connection ended") << false;
        QTest::newRow("server stopped") << true;
    }
    void aLostConnectionInTheApplyWritesNothingAndTheNextTryWorks()
    {
        QFETCH(bool, serverStopped);
        if (!ws->onServer())
            QSKIP("a server's connection");
        testsupport::seedSchool(*ws);
        const QString path = writeCsv("s.csv", "学号,姓名\n0024002,李思\n0024010,甲\n");
        std::unique_ptr<ImportRun> run = check(path, QStringLiteral("StudentInfo"));
        QVERIFY(run);
        const QString pid = conn->session().exec(QStringLiteral("SELECT pg_backend_pid()")).text(0, 0);
        int calls = 0;
        try {
            // The new row is written; the connection ends before the changed one.
            applyImport(*run, [&](qint64, qint64) {
                if (++calls != 2)
                    return true;
                if (serverStopped) {
                    // What was committed before is kept, as a real server keeps it.
                    ws->query(QStringLiteral("CHECKPOINT"));
                    testsupport::TestServer::instance().stop();
                } else {
                    ws->query(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(pid));
                }
                return true;
            });
            QFAIL("the apply did not fail");
        } catch (const StaleCheck &) {
            QFAIL("the lost connection was taken for another clerk's save");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("导入失败,已全部撤销,数据库与导入前相同。")), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral("连接中断")), qPrintable(e.text()));
        }
        QCOMPARE(calls, 2);
        if (serverStopped) {
            // Still away: the next try says so at once.
            dravon::Connection::noteUserAction();
            try {
                applyImport(*run);
                QFAIL("applied with the server away");
            } catch (const dravon::Error &e) {
                QVERIFY2(e.text().contains(QStringLiteral("现在还连不上")), qPrintable(e.text()));
            }
            testsupport::TestServer::instance().start();
            dravon::Connection::noteUserAction();
        }
        const QString students = QStringLiteral("SELECT StudentID || '|' || StuName FROM StudentInfo ORDER BY StudentID");
        QCOMPARE(ws->query(students), (QStringList{"0024001|张三", "0024002|李四", "0024003|王五"}));
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatch"), QStringList{"0"});
        // The staged rows went with the connection: the check runs again.
        try {
            applyImport(*run);
            QFAIL("applied what the lost connection had staged");
        } catch (const StaleCheck &e) {
            QCOMPARE(e.text(), QStringLiteral("与数据库服务器的连接中断过,需要重新检查。"));
        }
        run.reset();
        run = check(path, QStringLiteral("StudentInfo"));
        QVERIFY(run);
        const ApplyResult result = applyImport(*run);
        QCOMPARE(result.added + result.updated, 2);
        QCOMPARE(ws->query(students), (QStringList{"0024001|张三", "0024002|李思", "0024003|王五", "0024010|甲"}));
        // One batch, begun afresh on the new connection.
        QCOMPARE(ws->query("SELECT count(*) FROM ChangeBatch"), QStringList{"1"});
    }

    void errorRowsAreSavedWithTheirReasons()
    {
        testsupport::seedSchool(*ws);
        std::unique_ptr<ImportRun> run = check(importFixture("scores-utf8-bom.csv"), QStringLiteral("Score"));
        QVERIFY(run);
        const QString path = files->filePath("errors.csv");
        QCOMPARE(run->writeErrorRows(path, {"学号", "课程", "学期", "成绩", "考试日期"}), exporting::Outcome::Written);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray saved = f.readAll();
        QVERIFY(saved.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(saved.mid(3)),
                 QStringLiteral("学号,课程,学期,成绩,考试日期,错误原因\r\n"
                                "0024002,高等数学,第一学期,九十,2025/1/10,\"第 3 行 成绩: \"\"九十\"\" 不是数字\"\r\n"));
        // The saved file, fixed, imports as the rest did.
        QFile fixed(path);
        QVERIFY(fixed.open(QIODevice::ReadWrite));
        QString text = QString::fromUtf8(fixed.readAll()).replace(QStringLiteral("九十"), QStringLiteral("90"));
        fixed.resize(0);
        fixed.write(text.toUtf8());
        fixed.close();
        std::unique_ptr<ImportRun> again = check(path, QStringLiteral("Score"));
        QCOMPARE(countsText(again->counts()), QStringLiteral("新增 1 更新 0 不变 0 跳过 0 错误 0"));
    }

    void aGridExportedByTheProgramImportsBackWithoutChanges_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::newRow("csv") << "csv";
        QTest::newRow("xlsx") << "xlsx";
    }
    void aGridExportedByTheProgramImportsBackWithoutChanges()
    {
        QFETCH(QString, extension);
        testsupport::seedSchool(*ws);
        ws->exec("INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES "
                 "('0024001', '2025-01-10', '第一学期', '2007001', '2007001', 85, 4, '=补考'),"
                 "('0024001', '2025-01-11', '第一学期', '2007002', '2007001', 90.5, 3, NULL),"
                 "('0024002', '2025-01-10', '第一学期', '2007001', '2007001', 59, 4, '缓考, \"病假\"')");
        // The score window's grid: its columns and titles.
        const QList<QPair<QString, QString>> titles = {
            {"StudentID", "学号"}, {"ScoreDateTime", "时间"}, {"Term", "学期"}, {"SubjectID", "科目"},
            {"ClassID", "班级编号"}, {"Score", "分数"}, {"CreditHour", "学分"}, {"Remark", "备注"}};
        std::unique_ptr<dravon::RecordSet> rs = SQLDataSet(QStringLiteral("Select * From Score"), *conn);
        QVector<int> fields;
        QStringList captions;
        for (const auto &[field, title] : titles) {
            fields << rs->fieldIndex(field);
            captions << title;
        }
        const QString path = files->filePath("scores." + extension);
        const exporting::ExportTable table(rs.get(), fields, captions);
        if (extension == "csv")
            exporting::writeCsv(table, path);
        else
            exporting::writeXlsx(table, path, QStringLiteral("学生成绩"));
        rs.reset();
        testsupport::PreparedImport p = prepareImport(*conn, path, QStringLiteral("Score"), -1, titles);
        p.plan.mode = ImportMode::UpdateOnly;
        ImportRun run(*conn, p.plan);
        QVERIFY(run.check(*p.reader));
        QCOMPARE(countsText(run.counts()), QStringLiteral("新增 0 更新 0 不变 3 跳过 0 错误 0"));
    }
};

QTEST_GUILESS_MAIN(ImportCheckTest)
#include "tst_importcheck.moc"
