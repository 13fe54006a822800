// The change log as a clerk meets it: the score window's Save (with the
// subject's credit copied), Delete and Ctrl+Del each leave one batch with the
// exact entries; Ctrl+Z and Ctrl+Y undo and redo them, also after the window
// was closed and reopened, and say why when they cannot; the edit menu names
// the action; the recycle bin restores, refuses a taken key, asks about a
// missing student and empties; the grid's "修改记录…" shows a row's history
// with the window's labels.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "forms/system/BackUpData_Unit.h"
#include "forms/system/RecycleBin_Unit.h"
#include "gui/GridExport.h"
#include "gui/RowHistory.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataGrid.h"
#include "support/ChangeLogLines.h"
#include "support/GuiHelpers.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <functional>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

const char seedRows[] = R"SQL(
INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001','王小明','2007001'),('2007002','李四','2007001'),
  ('2007003','赵五','2007002');
INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('2007001','语文',4.0),('2007003','数学',3.5);
INSERT INTO ClassInfo (ClassID, GradeID, ClaName) VALUES ('2007001','2007001','一班'),('2007002','2007001','二班');
INSERT INTO Score (Id, StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES
  (1,'2007001','2007-01-15','第一学期','2007001','2007001',90.0,4.0,'s1'),
  (2,'2007002','2007-01-16','第一学期','2007003','2007001',70.0,3.5,'s2'),
  (3,'2007003','2007-06-20','第二学期','2007001','2007002',50.0,4.0,'s3');
DELETE FROM ChangeLog;
)SQL";

// A view's row count when its viewport is first painted.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QAbstractItemView *view) : m_view(view) { view->viewport()->installEventFilter(this); }
    int rows = -1;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && rows < 0)
            rows = m_view->model()->rowCount();
        return false;
    }

private:
    QAbstractItemView *m_view;
};

void click(QPushButton *button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

}

class ChangeLogWindowsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> recorder;
    TDM *dm = nullptr;

    TfrmStudentScore *openScores()
    {
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        TfrmStudentScore *w = frmStudentScore;
        if (w) {
            w->mdiSubWindow()->setFocus();
            w->DBGrid1->setFocus();
        }
        return w;
    }
    QString scores()
    {
        return ws->query(QStringLiteral("SELECT group_concat(Id || ':' || StudentID || ':' || %1 || ':' || %2, ' ') "
                                        "FROM (SELECT * FROM Score ORDER BY Id) AS s")
                             .arg(testsupport::quotedReal(*ws, QStringLiteral("Score")),
                                  testsupport::quotedReal(*ws, QStringLiteral("CreditHour"))))
            .value(0);
    }
    // The log after the seed: batches and their entries, as in the data-layer suite.
    QStringList log() { return testsupport::logLines(*ws); }
    static QString editMenuText(const char *item)
    {
        auto *menu = frmTeachMain->findChild<QMenu *>(QStringLiteral("E1"));
        emit menu->aboutToShow();
        QAction *action = frmTeachMain->menuItem(QString::fromLatin1(item));
        const QString text = action->isEnabled() ? action->text() : QString();
        emit menu->aboutToHide();
        return text;
    }

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }

    void init()
    {
        ws = std::make_unique<TestWorkspace>();
        ws->exec(QString::fromUtf8(seedRows) + "DELETE FROM ChangeLog; DELETE FROM ChangeBatch;");
        ResetApplicationEndForTesting();
        recorder = std::make_unique<MessageRecorder>();
        auto *main = new TfrmTeachMain;
        dm = new TDM;
        QVERIFY(dm->ADOConn.isOpen());
        main->resize(1200, 860);
        testsupport::showMainWindowLoggedIn();
        QVERIFY(QTest::qWaitForWindowActive(main));
    }

    void cleanup()
    {
        delete frmTeachMain;
        delete dm;
        dm = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        recorder.reset();
        ws.reset();
    }

    // Add with the subject's credit copied, then Modify: each Save is one
    // batch of the window with exactly its entries; Ctrl+Z and Ctrl+Y take
    // them back and forth, the edit menu names them, and the log outlives
    // the window.
    void saveUndoRedoThroughTheKeys()
    {
        TfrmStudentScore *w = openScores();
        QVERIFY(w);
        click(w->btnAdd);
        w->cmbxStudentID->pickRow(1);
        w->cmbxSubjectName->pickRow(1);
        w->edtScore->setFocus();
        testsupport::typeText(w->edtScore, QStringLiteral("66.5"));
        click(w->btnSave);
        QVERIFY2(recorder->messages.isEmpty(), qPrintable(recorder->texts().join('|')));
        const QString newId = ws->query("SELECT max(Id) FROM Score").value(0);
        QCOMPARE(log(), QStringList({"B 保存|frmStudentScore|新增 1 条成绩记录|1001",
                                     "Score " + newId + " I - NULL '{\"StudentID\":\"2007002\",\"ScoreDateTime\":null,"
                                     "\"Term\":null,\"SubjectID\":\"2007003\",\"ClassID\":null,\"Score\":66.5,"
                                     "\"CreditHour\":3.5,\"Remark\":null}'"}));

        // Modify the first row's mark.
        w->DBGrid1->setFocus();
        QTest::keyClick(w->DBGrid1, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(w->DBGrid1, Qt::Key_Down);
        QCOMPARE(w->DataStudentScore->dataSet()->fieldText(QStringLiteral("Remark")), QStringLiteral("s1"));
        click(w->btnModify);
        w->edtScore->setFocus();
        w->edtScore->selectAll();
        testsupport::typeText(w->edtScore, QStringLiteral("95"));
        click(w->btnSave);
        const QString afterBoth = scores();
        QCOMPARE(log().mid(2), QStringList({"B 保存|frmStudentScore|修改 1 条成绩记录|1001", "Score 1 U Score 90.0 95.0"}));
        QCOMPARE(editMenuText("E2"), QStringLiteral("撤销 修改 1 条成绩记录"));
        QCOMPARE(editMenuText("E3"), QString());

        // Ctrl+Z in the grid undoes the Save, the grid shows the stored mark again.
        w->DBGrid1->setFocus();
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY2(recorder->messages.isEmpty(), qPrintable(recorder->texts().join('|')));
        QCOMPARE(ws->query(QStringLiteral("SELECT %1 FROM Score WHERE Id = 1").arg(testsupport::quotedReal(*ws, "Score"))),
                 QStringList{"90.0"});
        w = frmStudentScore;
        QCOMPARE(w->DataStudentScore->dataSet()->fieldText(QStringLiteral("Score")), QStringLiteral("90"));
        QCOMPARE(editMenuText("E2"), QStringLiteral("撤销 新增 1 条成绩记录"));
        QCOMPARE(editMenuText("E3"), QStringLiteral("重做 修改 1 条成绩记录"));
        QCOMPARE(log().mid(4), QStringList({"B 撤销|frmStudentScore|撤销 修改 1 条成绩记录|1001", "Score 1 U Score 95.0 90.0"}));

        // Ctrl+Y puts it back; the window closed and opened again still knows both.
        QTest::keyClick(w->DBGrid1, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(scores(), afterBoth);
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmStudentScore);
        w = openScores();
        QCOMPARE(editMenuText("E2"), QStringLiteral("撤销 修改 1 条成绩记录"));
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"3"});
        QCOMPARE(w->DataStudentScore->dataSet()->recordCount(), 3);
        QCOMPARE(editMenuText("E2"), QString());
        // Nothing more to undo: the key does nothing.
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"3"});
        QVERIFY(recorder->messages.isEmpty());

        // In a text field Ctrl+Z undoes the typing, not a Save.
        click(w->btnModify);
        w->edtScore->setFocus();
        w->edtScore->selectAll();
        testsupport::typeText(w->edtScore, QStringLiteral("1"));
        QTest::keyClick(w->edtScore, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->edtScore->text(), QStringLiteral("90"));
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"3"});
    }

    // Delete and Ctrl+Del of two rows: one batch each, every deleted row
    // whole in the log; undo brings them back with their own keys.
    void deletesAndTheirUndo()
    {
        TfrmStudentScore *w = openScores();
        const QString before = scores();
        recorder->answer(QMessageBox::Yes);
        click(w->btnDel);
        QCOMPARE(log(), QStringList({"B 删除|frmStudentScore|删除 1 条成绩记录|1001",
                                     "Score 1 D - '{\"StudentID\":\"2007001\",\"ScoreDateTime\":\"2007-01-15\",\"Term\":\"第一学期\","
                                     "\"SubjectID\":\"2007001\",\"ClassID\":\"2007001\",\"Score\":90.0,\"CreditHour\":4.0,"
                                     "\"Remark\":\"s1\"}' NULL"}));
        DataGrid *grid = w->DBGrid1;
        grid->setFocus();
        grid->selectionModel()->select(grid->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        grid->selectionModel()->select(grid->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"0"});
        const QStringList lines = log().mid(2);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("B 批量删除|frmStudentScore|删除 2 条成绩记录|1001"));
        QVERIFY(lines[1].startsWith("Score 2 D - '{\"StudentID\":\"2007002\""));
        QVERIFY(lines[2].startsWith("Score 3 D - '{\"StudentID\":\"2007003\""));

        QCOMPARE(editMenuText("E2"), QStringLiteral("撤销 删除 2 条成绩记录"));
        // Through the menu command as well as the key.
        frmTeachMain->menuItem(QStringLiteral("E2"))->trigger();
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"2"});
        QTest::keyClick(frmStudentScore->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(scores(), before);
        QCOMPARE(frmStudentScore->DataStudentScore->dataSet()->recordCount(), 3);
        if (!ws->onServer())
            QCOMPARE(ws->query("PRAGMA integrity_check"), QStringList{"ok"});
    }

    // The undo is refused as a whole when the row was changed since, and
    // while a record is being edited; it says why.
    void refusedUndoSaysWhy()
    {
        TfrmStudentScore *w = openScores();
        click(w->btnModify);
        w->edtScore->setFocus();
        w->edtScore->selectAll();
        testsupport::typeText(w->edtScore, QStringLiteral("91"));
        click(w->btnSave);
        ws->exec("UPDATE Score SET Remark = '补考' WHERE Id = 1;");
        const QString now = scores();
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY2(recorder->last().text.startsWith(
                     QStringLiteral("不能撤销“修改 1 条成绩记录”:以下记录此后又被修改过:\n成绩记录 1: ")),
                 qPrintable(recorder->last().text));
        QVERIFY(recorder->last().text.endsWith(QStringLiteral("由其他程序修改")));
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(scores(), now);

        // A record with typed, unsaved changes: first save or cancel.
        w->DBGrid1->setFocus();
        QTest::keyClick(w->DBGrid1, Qt::Key_Down);
        click(w->btnModify);
        w->edtRemark->setFocus();
        testsupport::typeText(w->edtRemark, QStringLiteral("x"));
        w->DBGrid1->setFocus();
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(recorder->last().text, QStringLiteral("正在编辑的记录还没有保存,请先保存或取消,再撤销。"));
        QCOMPARE(w->DataStudentScore->state(), dravon::DataSetState::Edit);
    }

    // The recycle bin through the menu: the deleted rows with who and when;
    // a key taken refuses; a missing student is asked about; the restore is
    // undone in the bin; emptying asks first.
    void recycleBinWindow()
    {
        TfrmStudentScore *scoresWindow = openScores();
        DataGrid *grid = scoresWindow->DBGrid1;
        grid->selectAll();
        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"0"});
        ws->exec("INSERT INTO Score (Id, StudentID) VALUES (3, '2007009'); DELETE FROM StudentInfo WHERE StudentID = '2007002';");

        frmTeachMain->menuItem(QStringLiteral("N10"))->trigger();
        QCoreApplication::processEvents();
        TfrmRecycleBin *bin = frmRecycleBin;
        QVERIFY(bin);
        QCOMPARE(bin->windowTitle(), QStringLiteral("回收站"));
        // It opens on the table of the latest delete: another program's.
        QCOMPARE(bin->cmbxTable->currentText(), QStringLiteral("学生"));
        QCOMPARE(bin->DataRecycleBin->dataSet()->recordCount(), 1);
        QCOMPARE(bin->DBGrid1->model()->index(0, 1).data().toString(), QStringLiteral("其他程序"));
        QCOMPARE(bin->DBGrid1->model()->index(0, 4).data().toString(), QStringLiteral("李四"));
        const int scoreItem = bin->cmbxTable->findText(QStringLiteral("成绩"));
        bin->cmbxTable->setCurrentIndex(scoreItem);
        emit bin->cmbxTable->activated(scoreItem);
        dravon::RecordSet *rows = bin->DataRecycleBin->dataSet();
        QCOMPARE(rows->recordCount(), 3);
        QStringList titles;
        for (const GridColumn &c : bin->DBGrid1->columns())
            titles << c.title;
        QCOMPARE(titles, QStringList({"删除时间", "用户", "操作", "记录号", "学号", "时间", "学期", "科目", "班级编号",
                                      "分数", "学分", "备注"}));
        // Latest first: row 0 is Id 3.
        auto cell = [&](int row, int column) { return bin->DBGrid1->model()->index(row, column).data().toString(); };
        QCOMPARE(cell(0, 1) + cell(0, 2) + cell(0, 3) + cell(0, 11), QStringLiteral("1001批量删除3s3"));

        // Id 3 is taken now: refused.
        bin->DBGrid1->setFocus();
        bin->DBGrid1->setCurrentIndex(bin->DBGrid1->model()->index(0, 0));
        click(bin->btnRestore);
        QCOMPARE(recorder->last().text, QStringLiteral("不能还原1 条成绩记录:以下记录的编号已被其他记录使用:\n成绩记录 3"));
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"1"});

        // Id 2's student is gone: asked; No restores nothing, Yes restores.
        bin->DBGrid1->setCurrentIndex(bin->DBGrid1->model()->index(1, 0));
        recorder->answer(QMessageBox::No);
        click(bin->btnRestore);
        QCOMPARE(recorder->last().text,
                 QStringLiteral("所选记录引用的以下数据已不存在:\n成绩记录 2: 学生 2007002 不存在\n\n仍要还原吗?"));
        QCOMPARE(ws->query("SELECT count(*) FROM Score"), QStringList{"1"});
        recorder->answer(QMessageBox::Yes);
        click(bin->btnRestore);
        QCOMPARE(recorder->last().text, QStringLiteral("已还原 1 条成绩记录。"));
        QCOMPARE(ws->query("SELECT StudentID || ' ' || Remark FROM Score WHERE Id = 2"), QStringList{"2007002 s2"});
        QCOMPARE(bin->DataRecycleBin->dataSet()->recordCount(), 2);

        // Ctrl+Z in the bin takes the restore back.
        bin->DBGrid1->setFocus();
        QTest::keyClick(bin->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ws->query("SELECT count(*) FROM Score WHERE Id = 2"), QStringList{"0"});
        QCOMPARE(bin->DataRecycleBin->dataSet()->recordCount(), 3);

        // Emptying what was deleted before tomorrow, in every table: asked, then gone for good.
        bin->dtpBefore->setDate(QDate::currentDate().addDays(1));
        recorder->answer(QMessageBox::Yes);
        click(bin->btnPurge);
        const QString day = QDate::currentDate().addDays(1).toString(QStringLiteral("yyyy/M/d"));
        QCOMPARE(recorder->messages.at(recorder->messages.size() - 2).text,
                 QStringLiteral("确定要清空回收站中所有数据表 %1 以前删除的 4 条记录吗?\n清空后这些记录不能再还原。").arg(day));
        QCOMPARE(recorder->last().text, QStringLiteral("已清空 4 条记录。"));
        QCOMPARE(bin->DataRecycleBin->dataSet()->recordCount(), 0);
        click(bin->btnPurge);
        QCOMPARE(recorder->last().text, QStringLiteral("回收站中没有 %1 以前删除的记录。").arg(day));
    }

    // A bin of several pages paints its first page at once; the rest follow
    // once the window shows, in the log's order (latest delete first), each
    // row once, and one of them is restored.
    void recycleBinOfSeveralPages()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 101 UNION ALL SELECT i + 1 FROM n WHERE i < 700) "
                                "INSERT INTO Score (Id, StudentID, Remark) SELECT i, '2007001', 'r' || i FROM n"));
        ws->exec(QStringLiteral("DELETE FROM Score WHERE Id > 100"));
        const QStringList deleted = ws->query(QStringLiteral(
            "SELECT RowKey FROM ChangeLog WHERE TableName = 'Score' AND Operation = 'D' ORDER BY ChangeID DESC"));
        QCOMPARE(deleted.size(), 600);

        frmTeachMain->menuItem(QStringLiteral("N10"))->trigger();
        TfrmRecycleBin *bin = frmRecycleBin;
        QVERIFY(bin);
        FirstPaint painted(bin->DBGrid1);
        QTRY_VERIFY(painted.rows >= 0);
        QCOMPARE(painted.rows, 128);
        dravon::RecordSet *rows = bin->DataRecycleBin->dataSet();
        QTRY_VERIFY(rows->countKnown());
        QCOMPARE(rows->recordCount(), 600);
        QStringList shown;
        for (int row = 0; row < 600; ++row)
            shown << bin->DBGrid1->model()->index(row, 3).data().toString();
        QCOMPARE(shown, deleted);

        bin->DBGrid1->setFocus();
        bin->DBGrid1->setCurrentIndex(bin->DBGrid1->model()->index(300, 0));
        click(bin->btnRestore);
        QCOMPARE(recorder->last().text, QStringLiteral("已还原 1 条成绩记录。"));
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM Score WHERE Id = %1").arg(deleted.at(300))),
                 QStringList{QStringLiteral("r%1").arg(deleted.at(300))});
        QTRY_COMPARE(bin->DataRecycleBin->dataSet()->recordCount(), 599);
    }

    // A backup carries the log; restoring it brings back the backup's own
    // log, with the restore noted in it, and its actions can be undone.
    void restoreKeepsTheBackupsLog()
    {
        // On the server the backup's tools and the restore's new database
        // find the password where libpq looks for it.
        if (ws->onServer())
            qputenv("PGPASSWORD", testsupport::TestServer::password().toUtf8());
        auto noPassword = qScopeGuard([] { qunsetenv("PGPASSWORD"); });
        TfrmStudentScore *w = openScores();
        auto saveMark = [&](const QString &mark) {
            click(frmStudentScore->btnModify);
            frmStudentScore->edtScore->setFocus();
            frmStudentScore->edtScore->selectAll();
            testsupport::typeText(frmStudentScore->edtScore, mark);
            click(frmStudentScore->btnSave);
        };
        saveMark(QStringLiteral("91"));
        const QString backup = QDir(ws->dir()).filePath(QStringLiteral("copy"));
        SetFileDialogHandler([&](QFileDialog *dialog) {
            return dialog->objectName() == QLatin1String("SaveDialog") ? backup : backup + QStringLiteral(".mdb");
        });
        frmTeachMain->menuItem(QStringLiteral("N2"))->trigger();
        QCoreApplication::processEvents();
        click(frmBackupData->btnBackup);
        QCOMPARE(recorder->last().text, QStringLiteral("备份成功!"));
        w->mdiSubWindow()->setFocus();
        saveMark(QStringLiteral("92"));
        QCOMPARE(log().size(), 4);
        click(frmBackupData->btnRestore);
        SetFileDialogHandler({});
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("还原成功!")), qPrintable(recorder->last().text));
        QCOMPARE(log(), QStringList({"B 保存|frmStudentScore|修改 1 条成绩记录|1001", "Score 1 U Score 90.0 91.0",
                                     QStringLiteral("B 还原|frmBackupData|从备份文件 %1 还原数据库|1001")
                                         .arg(QDir::toNativeSeparators(backup + QStringLiteral(".mdb")))}));
        // The restore closed the score window; opened again, it undoes the
        // backup's own Save.
        QVERIFY(!frmStudentScore);
        w = openScores();
        QCOMPARE(editMenuText("E2"), QStringLiteral("撤销 修改 1 条成绩记录"));
        QTest::keyClick(w->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ws->query(QStringLiteral("SELECT %1 FROM Score WHERE Id = 1").arg(testsupport::quotedReal(*ws, "Score"))),
                 QStringList{"90.0"});
    }

    // "修改记录…" in the grid's right-click menu: the current row's changes
    // with the window's own labels, its time and user, old and new values.
    void rowHistoryFromTheGridMenu()
    {
        frmTeachMain->menuItem(QStringLiteral("D3"))->trigger();
        QCoreApplication::processEvents();
        TfrmStudentSet *w = frmStudentSet;
        QVERIFY(w);
        w->DBGrid->setFocus();
        click(w->btnModify);
        QLineEdit *name = w->findChild<QLineEdit *>(QStringLiteral("edtName"));
        QVERIFY(name);
        name->setFocus();
        name->selectAll();
        testsupport::typeText(name, QStringLiteral("王晓明"));
        click(w->btnSave);
        ws->exec("UPDATE StudentInfo SET StuContact = '13800000000' WHERE StudentID = '2007001';");

        QStringList cells;
        QString label, firstTime;
        testsupport::whenModal<RowHistoryDialog>([&](RowHistoryDialog *dialog) {
            label = dialog->lblRow->text();
            for (int r = 0; r < dialog->grdHistory->rowCount(); ++r) {
                QStringList row;
                for (int c = 1; c < dialog->grdHistory->columnCount(); ++c)
                    row << dialog->grdHistory->item(r, c)->text();
                cells << row.join('|');
            }
            firstTime = dialog->grdHistory->rowCount() > 0 ? dialog->grdHistory->item(0, 0)->text() : QString();
            QTest::mouseClick(dialog->btnClose, Qt::LeftButton);
        }, 60000);
        // A real right-click opens the menu; its item is clicked with the mouse.
        QStringList items;
        bool historyEnabled = false;
        std::function<void(int)> clickHistory = [&](int remainingMs) {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu) {
                if (remainingMs > 0)
                    QTimer::singleShot(10, [&clickHistory, remainingMs] { clickHistory(remainingMs - 10); });
                return;
            }
            QAction *history = nullptr;
            for (QAction *a : menu->actions()) {
                items << a->text();
                if (a->objectName() == QLatin1String("actRowHistory"))
                    history = a;
            }
            historyEnabled = history && history->isEnabled();
            if (historyEnabled)
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(history).center());
            if (menu->isVisible())
                menu->close();
        };
        QTimer::singleShot(10, [&clickHistory] { clickHistory(20000); });
        const QPoint at = w->DBGrid->visualRect(w->DBGrid->model()->index(0, 1)).center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, w->DBGrid->viewport()->mapToGlobal(at));
        QApplication::sendEvent(w->DBGrid->viewport(), &rightClick);
        QVERIFY(historyEnabled);
        QCOMPARE(items.mid(4), (QStringList{QString(), "查找…", "从文件导入…", QString(), "修改记录…", QString(),
                                            "打印成绩单…"}));
        QCOMPARE(label, QStringLiteral("学生记录 2007001 的修改记录(共 2 项):"));
        QVERIFY2(firstTime.startsWith(QDate::currentDate().toString(Qt::ISODate)), qPrintable(firstTime));
        QCOMPARE(cells, QStringList({"1001|保存(修改)|名称|王小明|王晓明", "其他程序|其他程序(修改)|联系方式||13800000000"}));
    }
};

QTEST_MAIN(ChangeLogWindowsTest)
#include "tst_changelogwindows.moc"
