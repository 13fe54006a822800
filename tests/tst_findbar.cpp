// Finding rows by typed text: the search over record sets (through the
// engine for table sets, row by row for query results; both must agree,
// also with rows stored through the set and past the end), and the grids'
// find bar driven with real keys and clicks in the program's windows.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/find/RowSearch.h"
#include "data/find/QuickFind.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/master/TeacherSet_Unit.h"
#include "gui/QuickFindBox.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/GridExport.h"
#include "gui/controls/GridFindBar.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

// Students in stored order: row i holds number 2007001 + i.
const QStringList names = {"张三", "李四", "张帅", "王五", "单雄信", "赵四", "吕布", "Smith", "张三丰", "欧阳修"};

void seedStudents(TestWorkspace &ws)
{
    for (int i = 0; i < names.size(); ++i)
        ws.exec(QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName, StuContact) VALUES ('%1', '%2', '1380000%3')")
                    .arg(2007001 + i)
                    .arg(names[i])
                    .arg(i, 4, 10, QLatin1Char('0')));
}

int runSearch(dravon::Connection &c, dravon::RecordSet *rs, const QVector<int> &fields, const QString &query,
              int from, bool forward)
{
    findtext::RowSearch search(c, rs, fields, query, from, forward);
    while (search.run(5) == findtext::RowSearch::Status::Running) {
    }
    return search.status() == findtext::RowSearch::Status::Found ? search.foundRow() : -1;
}

QVector<int> allFields(const dravon::RecordSet *rs)
{
    QVector<int> f;
    for (int i = 0; i < rs->fields().size(); ++i)
        f << i;
    return f;
}

}

class FindBarTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmStudentSet *openStudents()
    {
        frmTeachMain->menuItem(QStringLiteral("D3"))->trigger();
        QCoreApplication::processEvents();
        return frmStudentSet.data();
    }
    // Waits until the bar's search and count are over.
    static void settle(GridFindBar *bar)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!bar->isSearching(), 10000);
    }

private slots:
    void init() { startProgram(); }

    void cleanup() { stopProgram(); }

    // ---- the search over record sets ---------------------------------------

    void search_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("from");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<int>("expected");
        QTest::newRow("initials from the top") << "zs" << 0 << true << 0;
        QTest::newRow("at or after the start row") << "zs" << 1 << true << 2;
        QTest::newRow("past the end round to the top") << "zs" << 9 << true << 0;
        QTest::newRow("backward") << "zs" << 7 << false << 5;  // 赵四 reads zhao si
        QTest::newRow("backward round to the end") << "ou" << 0 << false << 9;
        QTest::newRow("polyphonic surname") << "shanxx" << 0 << true << 4;
        QTest::newRow("ü as v") << "lvb" << 0 << true << 6;
        QTest::newRow("Chinese substring") << "三丰" << 0 << true << 8;
        QTest::newRow("Latin ignoring case") << "SMI" << 0 << true << 7;
        QTest::newRow("number by prefix in the number") << "2007004" << 0 << true << 3;
        QTest::newRow("number prefix, next one") << "200700" << 4 << true << 4;
        QTest::newRow("a number is not looked for in other columns") << "1380000" << 0 << true << -1;
        QTest::newRow("no match") << "qqq" << 3 << true << -1;
        QTest::newRow("quote and percent literally") << "'%" << 0 << true << -1;
    }

    // The same search on a table set (through the engine) and on a query
    // result (row by row) finds the same row.
    void search()
    {
        QFETCH(QString, query);
        QFETCH(int, from);
        QFETCH(bool, forward);
        QFETCH(int, expected);
        seedStudents(*ws);
        dravon::Connection &c = dm->ADOConn;
        auto table = SQLDataSet(QStringLiteral("Select * From StudentInfo"), c);
        auto result = SQLDataSet(QStringLiteral("Select * From StudentInfo Order By rowid"), c);
        QVERIFY(table->keyedRows().has_value());
        QVERIFY(!result->keyedRows().has_value());
        QCOMPARE(runSearch(c, table.get(), allFields(table.get()), query, from, forward), expected);
        QCOMPARE(runSearch(c, result.get(), allFields(result.get()), query, from, forward), expected);
    }

    // Sorted by a column, a table set's rows no longer follow their keys:
    // the search takes them in the order shown, as on a query result in that order.
    void searchFollowsTheSortedOrder()
    {
        seedStudents(*ws);
        dravon::Connection &c = dm->ADOConn;
        auto table = SQLDataSet(QStringLiteral("Select * From StudentInfo"), c);
        QVERIFY(table->sortBy(table->fieldIndex(QStringLiteral("StuName")), true));
        QVERIFY(!table->keyedRows().has_value());
        auto result = SQLDataSet(QStringLiteral("Select * From StudentInfo Order By StuName Desc, rowid"), c);
        for (const char *query : {"zs", "ou", "2007004", "SMI"}) {
            for (int from : {0, 4, 9}) {
                for (bool forward : {true, false}) {
                    const int found = runSearch(c, table.get(), allFields(table.get()), QString::fromUtf8(query), from, forward);
                    QVERIFY(found >= 0);
                    QCOMPARE(found, runSearch(c, result.get(), allFields(result.get()), QString::fromUtf8(query), from, forward));
                }
            }
        }
    }

    // Rows stored through the set stay where they were added: the search
    // and the count take them at that place.
    void searchSeesRowsStoredThroughTheSet()
    {
        seedStudents(*ws);
        dravon::Connection &c = dm->ADOConn;
        auto table = SQLDataSet(QStringLiteral("Select * From StudentInfo"), c);
        table->moveTo(1);
        table->insert();
        table->setFieldText(QStringLiteral("StudentID"), QStringLiteral("2009999"));
        table->setFieldText(QStringLiteral("StuName"), QStringLiteral("张小三"));
        table->post();
        QCOMPARE(table->recNo(), 1);
        const QVector<int> fields = allFields(table.get());
        QCOMPARE(runSearch(c, table.get(), fields, QStringLiteral("zxs"), 0, true), 1);
        QCOMPARE(runSearch(c, table.get(), fields, QStringLiteral("zx"), 1, true), 1);
        QCOMPARE(runSearch(c, table.get(), fields, QStringLiteral("zx"), 2, true), 1);  // round the end
        QCOMPARE(runSearch(c, table.get(), fields, QStringLiteral("zs"), 1, true), 3);
        QCOMPARE(runSearch(c, table.get(), fields, QStringLiteral("zx"), 5, false), 1);
        QCOMPARE(runSearch(c, table.get(), fields, QStringLiteral("2009"), 5, true), 1);
        // 张三, 张帅, 赵四 and 张三丰; 张小三 is no "zs"
        findtext::MatchCount count(c, table.get(), fields, QStringLiteral("zs"), 3);
        while (!count.run(5)) {
        }
        QCOMPARE(count.total(), 4);
        QCOMPARE(count.before(), 1);
        findtext::MatchCount local(c, table.get(), fields, QStringLiteral("zx"), 4);
        while (!local.run(5)) {
        }
        QCOMPARE(local.total(), 1);
        QCOMPARE(local.before(), 1);
    }

    // A large table: a number goes through the index when its range is short
    // and is walked when it is long; both agree with reading every row.
    void largeTableAgreesWithReadingEveryRow()
    {
        ws->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 29999) "
            "INSERT INTO Score (StudentID, Term, SubjectID, ClassID, Score, Remark) "
            "SELECT CAST(2007001 + (i * 7919) % 3000 AS TEXT), '第一学期', CAST(2007001 + i % 40 AS TEXT), "
            "CAST(2007001 + i % 60 AS TEXT), 60 + i % 41, CASE WHEN i % 997 = 0 THEN '补考' END FROM n"));
        dravon::Connection &c = dm->ADOConn;
        auto table = SQLDataSet(QStringLiteral("Select * From Score"), c);
        table->waitForCount();
        auto result = SQLDataSet(QStringLiteral("Select * From Score Order By Id"), c);
        result->waitForCount();
        const QVector<int> fields = allFields(table.get());
        for (const QString &query : {QStringLiteral("2007999"), QStringLiteral("2008"), QStringLiteral("bk"),
                                     QStringLiteral("2007"), QStringLiteral("200")}) {
            for (int from : {0, 12345, 29999}) {
                for (bool forward : {true, false}) {
                    const int expected = runSearch(c, result.get(), fields, query, from, forward);
                    QCOMPARE(runSearch(c, table.get(), fields, query, from, forward), expected);
                }
            }
        }
        findtext::MatchCount count(c, table.get(), fields, QStringLiteral("2007999"), 100);
        while (!count.run(5)) {
        }
        QCOMPARE(count.total(), 10);
    }

    // ---- the find bar in the windows ----------------------------------------

    // Ctrl+F opens the bar under the grid; typing moves the current row to the
    // first match at or after it and counts; F3 / Shift+F3 go on; Esc closes
    // the bar and gives the focus back to the grid.
    void typingFindsAndKeysMoveOn()
    {
        seedStudents(*ws);
        testsupport::showMainWindowLoggedIn();
        TfrmStudentSet *w = openStudents();
        QVERIFY(w);
        DataGrid *grid = w->DBGrid;
        dravon::RecordSet *rs = w->mainSource()->dataSet();
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(rs->recNo(), 1);
        QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
        GridFindBar *bar = GridFindBar::of(grid, false);
        QVERIFY(bar && bar->isVisible());
        QTRY_COMPARE(QApplication::focusWidget(), bar->edtFind);
        // Under the grid, inside the window.
        QVERIFY(bar->mapTo(w, QPoint(0, 0)).y() >= grid->mapTo(w, QPoint(0, grid->height())).y());
        QVERIFY(w->rect().contains(QRect(bar->mapTo(w, QPoint(0, 0)), bar->size())));

        QTest::keyClicks(bar->edtFind, QStringLiteral("zs"));
        settle(bar);
        QCOMPARE(rs->recNo(), 2);  // 张帅: the first at or after the current row
        QCOMPARE(grid->currentIndex().row(), 2);
        QCOMPARE(bar->lblFindCount->text(), QStringLiteral("第 2 个,共 4 个"));
        QTest::keyClick(bar->edtFind, Qt::Key_F3);
        settle(bar);
        QCOMPARE(rs->recNo(), 5);  // 赵四 reads zhao si
        QTest::keyClick(bar->edtFind, Qt::Key_F3);
        settle(bar);
        QCOMPARE(rs->recNo(), 8);
        QCOMPARE(bar->lblFindCount->text(), QStringLiteral("第 4 个,共 4 个"));
        QTest::keyClick(bar->edtFind, Qt::Key_F3);
        settle(bar);
        QCOMPARE(rs->recNo(), 0);  // round to the top
        QTest::keyClick(bar->edtFind, Qt::Key_F3, Qt::ShiftModifier);
        settle(bar);
        QCOMPARE(rs->recNo(), 8);
        QTest::mouseClick(bar->btnFindPrev, Qt::LeftButton);
        settle(bar);
        QCOMPARE(rs->recNo(), 5);
        QTest::mouseClick(bar->btnFindPrev, Qt::LeftButton);
        settle(bar);
        QCOMPARE(rs->recNo(), 2);

        // Text that matches nothing says so and leaves the row.
        QTest::keyClicks(bar->edtFind, QStringLiteral("qq"));
        settle(bar);
        QCOMPARE(rs->recNo(), 2);
        QVERIFY(bar->lblFindCount->text().startsWith(QStringLiteral("找不到")));

        QTest::keyClick(bar->edtFind, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(grid));
        // F3 in the grid goes on with the bar's text... after it is typed again.
        QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->edtFind->selectedText(), QStringLiteral("zsqq"));
        QCOMPARE(recorder->messages.size(), 0);
    }

    // The matched text is painted highlighted in the cells.
    void matchesAreHighlighted()
    {
        seedStudents(*ws);
        testsupport::showMainWindowLoggedIn();
        TfrmStudentSet *w = openStudents();
        DataGrid *grid = w->DBGrid;
        auto highlighted = [grid] {
            const QImage image = grid->viewport()->grab().toImage();
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += image.pixelColor(x, y) == QColor(255, 214, 64) ? 1 : 0;
            return n;
        };
        QCOMPARE(highlighted(), 0);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
        GridFindBar *bar = GridFindBar::of(grid, false);
        QTest::keyClicks(bar->edtFind, QStringLiteral("wang"));
        settle(bar);
        QCOMPARE(w->mainSource()->dataSet()->recNo(), 3);
        QVERIFY(highlighted() > 20);
        QCOMPARE(bar->matchesIn(1, QStringLiteral("王五")), (QList<findtext::MatchRange>{{0, 1}}));
        QVERIFY(bar->matchesIn(0, QStringLiteral("2007004")).isEmpty());
        QTest::keyClick(bar->edtFind, Qt::Key_Escape);
        QCOMPARE(highlighted(), 0);
    }

    // While the record is being edited the bar is disabled; the grid menu
    // offers 查找….
    void disabledWhileEditingAndInTheGridMenu()
    {
        seedStudents(*ws);
        testsupport::showMainWindowLoggedIn();
        TfrmStudentSet *w = openStudents();
        DataGrid *grid = w->DBGrid;
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(grid, grid));
        QAction *find = menu->findChild<QAction *>(QStringLiteral("actFind"));
        QVERIFY(find);
        QCOMPARE(find->text(), QStringLiteral("查找…"));
        find->trigger();
        GridFindBar *bar = GridFindBar::of(grid, false);
        QVERIFY(bar && bar->isVisible() && bar->isEnabled());

        testsupport::typeText(w->edtName, QStringLiteral("改"));
        QCOMPARE(w->mainSource()->state(), dravon::DataSetState::Edit);
        QVERIFY(!bar->isEnabled());
        QCOMPARE(bar->lblFindCount->text(), QStringLiteral("请先保存或取消当前记录"));
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F3);
        QCOMPARE(w->mainSource()->dataSet()->recNo(), 0);
        QTest::mouseClick(w->btnCancel, Qt::LeftButton);
        QVERIFY(bar->isEnabled());
    }

    // Typing into an open lookup list filters it by number, name or pinyin
    // of the name; Enter picks the row and the whole list comes back.
    void lookupListFiltersByPinyin()
    {
        ws->exec(QStringLiteral("INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES "
                                "('2007001', '大学英语', 3.0), ('2007002', '高等数学', 4.0), ('2007003', '线性代数', 2.0);"
                                "INSERT INTO Score (StudentID, SubjectID) VALUES ('2007001', '2007001')"));
        testsupport::showMainWindowLoggedIn();
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        TfrmStudentScore *w = frmStudentScore.data();
        DBLookupComboBox *box = w->cmbxSubjectName;
        QTest::mouseClick(box, Qt::LeftButton);
        QAbstractItemView *view = box->view();
        QTRY_VERIFY(view->isVisible());
        QCOMPARE(view->model()->rowCount(), 3);
        testsupport::typeText(view, QStringLiteral("gdsx"));
        QCOMPARE(view->model()->rowCount(), 1);
        QCOMPARE(view->model()->index(0, 1).data().toString(), QStringLiteral("高等数学"));
        QCOMPARE(box->listFilter(), QStringLiteral("gdsx"));
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(view, Qt::Key_Backspace);
        testsupport::typeText(view, QStringLiteral("200700"));
        QCOMPARE(view->model()->rowCount(), 3);
        QTest::keyClick(view, Qt::Key_Backspace);
        testsupport::typeText(view, QStringLiteral("3"));
        QCOMPARE(view->model()->rowCount(), 0);  // 20073: no number begins so
        QTest::keyClick(view, Qt::Key_Backspace);
        testsupport::typeText(view, QStringLiteral("03"));
        QCOMPARE(view->model()->rowCount(), 1);
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(w->DataStudentScore->state(), dravon::DataSetState::Edit);
        QCOMPARE(box->shownText(), QStringLiteral("2007003"));
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("2"));
        QTRY_COMPARE(box->model()->rowCount(), 3);
        QCOMPARE(recorder->messages.size(), 0);
    }

    // ---- quick find ------------------------------------------------------------

    // At most 20 people, students then teachers (who keep some places), the
    // exact name first; numbers by prefix; hostile text finds nothing.
    void quickFindLists()
    {
        ws->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 29) "
            "INSERT INTO StudentInfo (StudentID, StuName, ClassID) SELECT 2007001 + i, '张' || i, '2007001' FROM n;"
            "INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2008001', '张三');"
            "INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001', '计算机1班');"
            "INSERT INTO TeacherInfo (TeacherID, TchName, Duty) VALUES ('2007001', '张老师', '讲师'), ('2007002', '李老师', '教授')"));
        dravon::Connection &c = dm->ADOConn;
        const QVector<findtext::Person> zs = findtext::quickFind(c, QStringLiteral("zs"));
        QCOMPARE(zs.size(), 1);
        QCOMPARE(zs[0].name, QStringLiteral("张三"));
        const QVector<findtext::Person> z = findtext::quickFind(c, QStringLiteral("z"));
        QCOMPARE(z.size(), 20);
        QCOMPARE(z[0].group, QStringLiteral("计算机1班"));
        QCOMPARE(z.last().kind, findtext::Person::Kind::Teacher);
        QCOMPARE(z.last().name, QStringLiteral("张老师"));
        const QVector<findtext::Person> exact = findtext::quickFind(c, QStringLiteral("张三"));
        QCOMPARE(exact[0].number, QStringLiteral("2008001"));
        QCOMPARE(findtext::quickFind(c, QStringLiteral("200700")).size(), 11);  // 2007001-2007009, two teachers
        const QVector<findtext::Person> number = findtext::quickFind(c, QStringLiteral("2007"));
        QCOMPARE(number.size(), 20);
        QCOMPARE(number[0].number, QStringLiteral("2007001"));
        QCOMPARE(number.last().kind, findtext::Person::Kind::Teacher);
        QCOMPARE(findtext::quickFind(c, QStringLiteral("2008")).size(), 1);
        QCOMPARE(findtext::quickFind(c, QStringLiteral("lls")).size(), 1);  // 李老师
        for (const QString &text : {QStringLiteral("'"), QStringLiteral("%"), QStringLiteral("_"),
                                    QStringLiteral("\\"), QString(QChar(0xDC00)), QString(10000, QLatin1Char('z'))})
            QCOMPARE(findtext::quickFind(c, text).size(), 0);
    }

    // Ctrl+K, typing and Enter open the student window on the student's
    // row; a highlighted teacher opens the teacher window on his row.
    void quickFindOpensTheWindowOnTheRow()
    {
        seedStudents(*ws);
        ws->exec(QStringLiteral("INSERT INTO TeacherInfo (TeacherID, TchName) VALUES ('2007001', '李白'), ('2007002', '杜甫')"));
        testsupport::showMainWindowLoggedIn();
        QuickFindBox *box = frmTeachMain->quickFind();
        QVERIFY(box);
        QCOMPARE(box->placeholderText(), QStringLiteral("学号、姓名或拼音"));
        QTest::keyClick(frmTeachMain, Qt::Key_K, Qt::ControlModifier);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(box));
        QTest::keyClicks(box, QStringLiteral("wangw"));
        QTRY_VERIFY(box->list()->isVisible());
        QCOMPARE(box->list()->model()->rowCount(), 1);
        QCOMPARE(box->list()->model()->index(0, 1).data().toString(), QStringLiteral("王五"));
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_VERIFY(frmStudentSet);
        QCOMPARE(frmStudentSet->mainSource()->dataSet()->recNo(), 3);
        QCOMPARE(frmStudentSet->DBGrid->currentIndex().row(), 3);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_K, Qt::ControlModifier);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(box));
        QCOMPARE(box->selectedText(), QStringLiteral("wangw"));
        QTest::keyClicks(box, QStringLiteral("d"));  // 单雄信 (dan), 杜甫 (du)
        QTRY_VERIFY(box->list()->isVisible());
        QCOMPARE(box->list()->model()->rowCount(), 2);
        QTest::keyClick(box->list(), Qt::Key_Down);
        QTest::keyClick(box->list(), Qt::Key_Down);
        QTest::keyClick(box->list(), Qt::Key_Return);
        QTRY_VERIFY(frmTeacherSet);
        QCOMPARE(frmTeacherSet->mainSource()->dataSet()->recNo(), 1);
        QCOMPARE(frmStudentSet->mainSource()->dataSet()->recNo(), 3);
        QCOMPARE(recorder->messages.size(), 0);
    }

    // The score window finds a student number among many rows through the
    // index, and hostile text finds nothing without a word.
    void scoreWindowByNumberAndHostileText()
    {
        ws->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 4999) "
            "INSERT INTO Score (StudentID, Term, SubjectID, ClassID, Score) "
            "SELECT CAST(2007001 + i / 10 AS TEXT), '第一学期', '2007001', '2007001', 80 FROM n"));
        testsupport::showMainWindowLoggedIn();
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        TfrmStudentScore *w = frmStudentScore.data();
        QVERIFY(w);
        DataGrid *grid = w->DBGrid1;
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F, Qt::ControlModifier);
        GridFindBar *bar = GridFindBar::of(grid, false);
        QTest::keyClicks(bar->edtFind, QStringLiteral("2007321"));
        settle(bar);
        QCOMPARE(w->DataStudentScore->dataSet()->recNo(), 3200);
        QCOMPARE(bar->lblFindCount->text(), QStringLiteral("第 1 个,共 10 个"));
        for (const QString &text : {QStringLiteral("'"), QStringLiteral("%_\\"), QStringLiteral(".*["),
                                    QString(QChar(0xD800)), QString(QLatin1Char('x')).repeated(10000)}) {
            bar->edtFind->clear();
            testsupport::typeText(bar->edtFind, text.left(20));
            if (text.size() > 20)
                bar->edtFind->insert(text.mid(20));
            settle(bar);
            QCOMPARE(w->DataStudentScore->dataSet()->recNo(), 3200);
        }
        QCOMPARE(recorder->messages.size(), 0);
    }
};

QTEST_MAIN(FindBarTest)
#include "tst_findbar.moc"
