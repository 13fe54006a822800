// The import wizard driven as a clerk drives it: from the main menu through
// every page with a real workbook, from a grid's menu with its table preset,
// by Ctrl+V in the score window with rows copied from a spreadsheet, saving
// the error rows, and cancelling; open windows show the imported rows.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/GridExport.h"
#include "gui/OpenFileDialog.h"
#include "gui/SaveFileDialog.h"
#include "gui/controls/DataGrid.h"
#include "gui/import/ImportWizard.h"
#include "support/ChangeLogLines.h"
#include "support/GuiHelpers.h"
#include "support/ImportFixtures.h"
#include "support/TestWorkspace.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

void clickNext(QWizard *wizard)
{
    QTest::mouseClick(wizard->button(QWizard::NextButton), Qt::LeftButton);
}

// The mapping page's choice for each file column, as field names.
QStringList mappedFields(QWizard *wizard)
{
    auto *grid = wizard->findChild<QTableWidget *>(QStringLiteral("grdMapping"));
    QStringList fields;
    for (int r = 0; r < grid->rowCount(); ++r)
        fields << qobject_cast<QComboBox *>(grid->cellWidget(r, 3))->currentData().toString();
    return fields;
}

// Clicks 下一步 on the check page once the dry run is done; the apply runs.
void checkThenImport(QWizard *wizard, QString *counts, QString *result)
{
    clickNext(wizard);  // 方式 -> 检查
    auto *check = wizard->findChild<ImportCheckPage *>();
    QTRY_VERIFY_WITH_TIMEOUT(check->isComplete(), 20000);
    *counts = check->lblCounts->text();
    clickNext(wizard);  // 检查 -> 导入
    auto *apply = wizard->findChild<ImportApplyPage *>();
    QTRY_VERIFY_WITH_TIMEOUT(apply->isComplete(), 20000);
    *result = apply->lblResult->text();
    QTest::mouseClick(wizard->button(QWizard::FinishButton), Qt::LeftButton);
}

}

class ImportWizardTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> recorder;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<QTemporaryDir> files;

private slots:
    void initTestCase()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
    }
    void init()
    {
        ResetApplicationEndForTesting();
        ws = std::make_unique<TestWorkspace>();
        testsupport::seedSchool(*ws, false);
        files = std::make_unique<QTemporaryDir>();
        recorder = std::make_unique<MessageRecorder>();
        auto *main = new TfrmTeachMain;
        main->resize(1200, 850);
        dm = std::make_unique<TDM>();
        QVERIFY(dm->ADOConn.isOpen());
        testsupport::showMainWindowLoggedIn();
    }
    void cleanup()
    {
        SetOpenFileNameHandler({});
        SetSaveFileNameHandler({});
        delete frmTeachMain;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dm.reset();
        recorder.reset();
        ws.reset();
        files.reset();
    }

    void theMenuLeadsThroughEveryPageAndOpenWindowsShowTheNewRows()
    {
        frmTeachMain->menuItem(QStringLiteral("D3"))->trigger();
        QCoreApplication::processEvents();
        QVERIFY(frmStudentSet);
        QCOMPARE(frmStudentSet->DBGrid->model()->rowCount(), 0);
        SetOpenFileNameHandler([](QWidget *, const QString &, const QString &) {
            return testsupport::importFixture(QStringLiteral("students-openpyxl.xlsx"));
        });
        QString counts, result, sheet;
        QStringList fields;
        int preview = 0;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            auto *page = wizard->findChild<ImportFilePage *>();
            // Nothing to go on with before a table and a file are chosen.
            QVERIFY(!wizard->button(QWizard::NextButton)->isEnabled());
            page->cmbxTarget->setFocus();
            while (page->cmbxTarget->currentData().toString() != QLatin1String("StudentInfo"))
                QTest::keyClick(page->cmbxTarget, Qt::Key_Down);
            QTest::mouseClick(page->btnBrowse, Qt::LeftButton);
            // The visible sheet is chosen; the hidden one is listed and marked.
            sheet = page->cmbxSheet->currentText();
            QCOMPARE(page->cmbxSheet->itemText(0), QStringLiteral("说明 (隐藏)"));
            preview = page->grdPreview->rowCount();
            clickNext(wizard);
            QCOMPARE(wizard->currentId(), int(ImportWizard::MappingPageId));
            fields = mappedFields(wizard);
            clickNext(wizard);
            QCOMPARE(wizard->currentId(), int(ImportWizard::ModePageId));
            QTest::mouseClick(wizard->findChild<QRadioButton *>(QStringLiteral("rbAddAndUpdate")), Qt::LeftButton);
            checkThenImport(wizard, &counts, &result);
        });
        frmTeachMain->menuItem(QStringLiteral("N8"))->trigger();
        QCOMPARE(sheet, QStringLiteral("新生名单"));
        QCOMPARE(preview, 6);
        QCOMPARE(fields, (QStringList{"StudentID", "StuName", "StuSex", "StuAge", "ClassID", "InSchoolDate", "StuContact",
                                      "Remark"}));
        QCOMPARE(counts, QStringLiteral("新增 4,更新 0,不变 0,跳过 0,错误 0"));
        QVERIFY2(result.startsWith(QStringLiteral("导入完成:新增 4 条,更新 0 条。")), qPrintable(result));
        // A file is copied beside itself before the import; a server database is not.
        QCOMPARE(result.contains(QStringLiteral("Teach.mdb.before-import-")), !ws->onServer());
        QCOMPARE(ws->query("SELECT count(*) FROM StudentInfo"), QStringList{"4"});
        // The open student window shows them without being reopened.
        QVERIFY(frmStudentSet);
        QCOMPARE(frmStudentSet->DBGrid->model()->rowCount(), 4);
        QCOMPARE(frmStudentSet->DBGrid->model()->index(0, 1).data().toString(), QStringLiteral("张三"));
        // The mapping is offered again next time.
        QVERIFY(!importing::rememberedMapping(QStringLiteral("StudentInfo")).isEmpty());
    }

    void ctrlVInTheScoreWindowImportsCopiedRowsFromTheMappingPage()
    {
        ws->exec("INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('0024001', '张三', '2007001'),"
                 " ('0024002', '李四', '2007001')");
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        QVERIFY(frmStudentScore);
        DataGrid *grid = frmStudentScore->DBGrid1;
        // Rows as a spreadsheet copies them: tab-separated, one subject named, one by number.
        QApplication::clipboard()->setText(QStringLiteral("学号\t科目\t学期\t成绩\r\n0024001\t高等数学\t第一学期\t88\r\n"
                                                          "0024002\t2007002\t第一学期\t七十\r\n0024002\t大学英语\t第一学期\t70\r\n"));
        int startPage = -1;
        QString table, counts, result;
        QStringList fields;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            startPage = wizard->currentId();
            table = wizard->target() ? wizard->target()->table : QString();
            fields = mappedFields(wizard);
            clickNext(wizard);
            auto *match = wizard->findChild<QListWidget *>(QStringLiteral("lstMatch"));
            QStringList checked;
            for (int i = 0; i < match->count(); ++i)
                if (match->item(i)->checkState() == Qt::Checked)
                    checked << match->item(i)->data(Qt::UserRole).toString();
            QCOMPARE(checked, (QStringList{"StudentID", "Term", "SubjectID"}));
            checkThenImport(wizard, &counts, &result);
        });
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(startPage, int(ImportWizard::MappingPageId));
        QCOMPARE(table, QStringLiteral("Score"));
        QCOMPARE(fields, (QStringList{"StudentID", "SubjectID", "Term", "Score"}));
        QCOMPARE(counts, QStringLiteral("新增 2,更新 0,不变 0,跳过 0,错误 1"));
        // The answer to "有 1 行有错误…要导入其余的行吗?" was Yes.
        QVERIFY(recorder->texts().join("\n").contains(QStringLiteral("有 1 行有错误")));
        QCOMPARE(ws->query(QStringLiteral("SELECT StudentID || '|' || SubjectID || '|' || %1 || '|' || %2 || '|' || ClassID "
                                          "FROM Score ORDER BY Id")
                               .arg(testsupport::quotedReal(*ws, "Score"), testsupport::quotedReal(*ws, "CreditHour"))),
                 (QStringList{"0024001|2007001|88.0|4.0|2007001", "0024002|2007002|70.0|3.0|2007001"}));
        QCOMPARE(grid->model()->rowCount(), 2);
        // The paste was one action of the score window: Ctrl+Z there takes it back whole.
        frmTeachMain->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frmTeachMain));
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"0"});
        QCOMPARE(grid->model()->rowCount(), 0);

        // While a row is being edited, Ctrl+V is the field's paste, not an import.
        frmStudentScore->btnAdd->click();
        bool opened = false;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            opened = true;
            wizard->reject();
        }, 300);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_V, Qt::ControlModifier);
        QTest::qWait(400);
        QVERIFY(!opened);
        frmStudentScore->btnCancel->click();
    }

    void theGridMenuPresetsTheTableAndErrorRowsCanBeSaved()
    {
        frmTeachMain->menuItem(QStringLiteral("D3"))->trigger();
        QCoreApplication::processEvents();
        DataGrid *grid = frmStudentSet->DBGrid;
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(grid, grid));
        QAction *import = menu->findChild<QAction *>(QStringLiteral("actImportFile"));
        QVERIFY(import && import->isEnabled());
        const QString csv = files->filePath("students.csv");
        {
            QFile f(csv);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("学好,姓名,班级\n0024101,甲,物理一班\n0024102,乙,计算机一班\n");
        }
        const QString saved = files->filePath("errors.csv");
        SetSaveFileNameHandler([&](QWidget *, const QString &, const QString &, const QString &) { return saved; });
        QString target, counts;
        QStringList fields;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            auto *page = wizard->findChild<ImportFilePage *>();
            target = page->cmbxTarget->currentData().toString();
            page->edtFile->setFocus();
            QTest::keyClicks(page->edtFile, csv);
            QTest::keyClick(page->edtFile, Qt::Key_Return);
            clickNext(wizard);
            // The window's own grid title ("学好") names the column.
            fields = mappedFields(wizard);
            clickNext(wizard);
            clickNext(wizard);
            auto *check = wizard->findChild<ImportCheckPage *>();
            QTRY_VERIFY_WITH_TIMEOUT(check->isComplete(), 20000);
            counts = check->lblCounts->text();
            QCOMPARE(check->grdErrors->rowCount(), 1);
            QCOMPARE(check->grdErrors->item(0, 1)->text(),
                     QStringLiteral("第 2 行 班级: \"物理一班\" 对应多个班级(2007003、2007004),请改用编号"));
            QTest::mouseClick(check->btnSaveErrors, Qt::LeftButton);
            QTest::mouseClick(wizard->button(QWizard::CancelButton), Qt::LeftButton);
        });
        import->trigger();
        QCOMPARE(target, QStringLiteral("StudentInfo"));
        QCOMPARE(fields, (QStringList{"StudentID", "StuName", "ClassID"}));
        QCOMPARE(counts, QStringLiteral("新增 1,更新 0,不变 0,跳过 0,错误 1"));
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(f.readAll()).contains(QStringLiteral("0024101,甲,物理一班,")));
        // Cancelled after the check: nothing written.
        QCOMPARE(ws->query("SELECT count(*) FROM StudentInfo"), QStringList{"0"});
        // A query result's grid cannot take an import.
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        std::unique_ptr<QMenu> results(BuildGridContextMenu(frmStudentScore->DBGrid2, nullptr));
        QVERIFY(!results->findChild<QAction *>(QStringLiteral("actImportFile"))->isEnabled());
    }

    void cancelDuringTheImportLeavesTheDatabaseAsItWas()
    {
        ws->exec("INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('0024001', '张三', '2007001')");
        const QString csv = files->filePath("scores.csv");
        {
            QFile f(csv);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray text = "学号,课程,学期,成绩\n";
            for (int i = 0; i < 45000; ++i)
                text += "0024001,高等数学,第" + QByteArray::number(i) + "学期,80\n";
            f.write(text);
        }
        SetOpenFileNameHandler([&](QWidget *, const QString &, const QString &) { return csv; });
        QString result;
        testsupport::whenModal<ImportWizard>([&](ImportWizard *wizard) {
            auto *page = wizard->findChild<ImportFilePage *>();
            QTest::mouseClick(page->btnBrowse, Qt::LeftButton);
            clickNext(wizard);
            clickNext(wizard);
            clickNext(wizard);
            auto *check = wizard->findChild<ImportCheckPage *>();
            QTRY_VERIFY_WITH_TIMEOUT(check->isComplete(), 30000);
            auto *apply = wizard->findChild<ImportApplyPage *>();
            // The cancel button is pressed as soon as the import lets events through.
            QTimer::singleShot(0, apply, [apply] { QTest::mouseClick(apply->btnCancelImport, Qt::LeftButton); });
            clickNext(wizard);
            QTRY_VERIFY_WITH_TIMEOUT(apply->isComplete(), 30000);
            result = apply->lblResult->text();
            QTest::mouseClick(wizard->button(QWizard::FinishButton), Qt::LeftButton);
        });
        OpenImportWizard(frmTeachMain, QStringLiteral("Score"));
        QVERIFY2(result.startsWith(QStringLiteral("导入已取消,数据库没有任何改变。")), qPrintable(result));
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"0"});
    }
};

QTEST_MAIN(ImportWizardTest)
#include "tst_importwizard.moc"
