// The social-practice and moral-conduct windows driven through the main
// window's menu: captions, columns, labels and tab orders; the five record
// commands; the date button; the conduct-item tree and its double-click;
// refused values; the grid's Ctrl+Del over several selected rows.
#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/students/MoralSet_Unit.h"
#include "forms/students/PracticeSet_Unit.h"
#include "gui/Shell_Unit.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using dravon::DataSetState;
using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

// What the data-driven cases need to know of each window.
struct Kind
{
    QString menu;
    QString table;
    QString memo;         // a memo typed into
    QString memoColumn;   // its column
    QString summary;      // one stored row as text, alike on both engines (marks to one decimal)
    std::function<TfrmBase *()> window;
};

const QList<Kind> &kinds()
{
    static const QList<Kind> list = {
        {"M3", "Practice", "memPracticeName", "PracticeName",
         "ifnull(StudentID,'') || '|' || ifnull(ClassID,'') || '|' || ifnull(CAST(PracticeDateTime AS TEXT),'') || '|' || "
         "ifnull(PracticeName,'') || '|' || ifnull(PracticeResult,'') || '|' || ifnull(Remark,'')",
         [] { return static_cast<TfrmBase *>(frmPracticeSet.data()); }},
        {"M4", "Moral", "edtRemark", "Remark",
         "ifnull(StudentID,'') || '|' || ifnull(ClassID,'') || '|' || ifnull(MoralID,'') || '|' || "
         "ifnull(CAST(round(CAST(MoralResult AS NUMERIC), 1) AS TEXT),'') || '|' || ifnull(Remark,'')",
         [] { return static_cast<TfrmBase *>(frmMoralSet.data()); }},
    };
    return list;
}

const Kind &kind(const QString &menu)
{
    for (const Kind &k : kinds())
        if (k.menu == menu)
            return k;
    qFatal("no window for menu item %s", qPrintable(menu));
}

const QStringList practiceRows = {"2007001|2007001|2007-10-01|支教|优秀|注一",
                                  "2007002|2007002|2007-11-05|义务劳动|良好|注二"};
const QStringList moralRows = {"2007001|2007001|1001|90.0|注一", "2007002|2007002|2002|85.5|注二"};

void click(QPushButton *button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

RecordFrame *frameOf(TfrmBase *w)
{
    return w->findChild<RecordFrame *>();
}

// The focusable controls of a window in the order Tab visits them, from the first given one.
QStringList tabWalk(QWidget *window, QWidget *start, int count)
{
    QStringList names;
    QWidget *w = start;
    for (int guard = 0; w && names.size() < count && guard < 500; ++guard, w = w->nextInFocusChain()) {
        if (!window->isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled()
            || !w->isVisibleTo(window) || w->focusProxy())
            continue;
        names << w->objectName();
    }
    return names;
}

// The texts of the labels of a panel in reading order: row by row, left to right.
QStringList labelsInReadingOrder(QWidget *panel)
{
    QList<QLabel *> labels;
    for (QLabel *l : panel->findChildren<QLabel *>())
        if (!qobject_cast<DBText *>(l))
            labels << l;
    std::sort(labels.begin(), labels.end(), [](QLabel *a, QLabel *b) {
        const int ya = a->mapTo(a->window(), QPoint()).y(), yb = b->mapTo(b->window(), QPoint()).y();
        if (qAbs(ya - yb) > 4)
            return ya < yb;
        return a->mapTo(a->window(), QPoint()).x() < b->mapTo(b->window(), QPoint()).x();
    });
    QStringList texts;
    for (QLabel *l : labels)
        texts << l->text();
    return texts;
}

// The controls the focus reaches with the Tab key, from start on.
QStringList tabPresses(QWidget *start, int count)
{
    start->window()->activateWindow();
    start->setFocus(Qt::TabFocusReason);
    QStringList names;
    for (int i = 0; i < count && QApplication::focusWidget(); ++i) {
        names << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return names;
}

int top(QWidget *w)
{
    return w->mapTo(w->window(), QPoint()).y();
}

// Two controls stand in one row: their middles are level.
bool sameRow(QWidget *a, QWidget *b)
{
    return qAbs((top(a) + a->height() / 2) - (top(b) + b->height() / 2)) <= 2;
}

}

class RecordWindowsTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmBase *open(const QString &menu)
    {
        QAction *item = frmTeachMain->menuItem(menu);
        if (!item || !item->isEnabled())
            return nullptr;
        item->trigger();
        QCoreApplication::processEvents();
        return kind(menu).window();
    }
    TfrmPracticeSet *openPractice() { return static_cast<TfrmPracticeSet *>(open("M3")); }
    TfrmMoralSet *openMoral() { return static_cast<TfrmMoralSet *>(open("M4")); }
    static dravon::RecordSet *rs(TfrmBase *w) { return frameOf(w)->mainSource()->dataSet(); }
    static DataSetState state(TfrmBase *w) { return frameOf(w)->mainSource()->state(); }
    QStringList storedRows(const Kind &k)
    {
        return ws->query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(k.summary, k.table));
    }
    QStringList stored(const QString &sql) { return ws->query(sql); }
    static QString gridText(DataGrid *grid, int row, const QString &title)
    {
        QAbstractItemModel *m = grid->model();
        for (int c = 0; c < m->columnCount(); ++c)
            if (m->headerData(c, Qt::Horizontal).toString() == title)
                return m->index(row, c).data().toString();
        return QStringLiteral("<no column %1>").arg(title);
    }
    static void pickDate(QPushButton *button, const QDate &date)
    {
        testsupport::whenModal<TfrmDateChoice>([date](TfrmDateChoice *dialog) {
            dialog->MonthCalendar1->setSelectedDate(date);
            emit dialog->MonthCalendar1->clicked(date);
        });
        click(button);
    }
    static QTreeWidgetItem *node(QTreeWidget *tree, const QString &text)
    {
        const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.value(0);
    }
    // A double-click as the mouse gives it: the first click selects the node under it.
    static void doubleClick(QTreeWidget *tree, const QPoint &at)
    {
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
    }
    static void doubleClickNode(QTreeWidget *tree, const QString &text)
    {
        QTreeWidgetItem *item = node(tree, text);
        QVERIFY2(item, qPrintable(text));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        doubleClick(tree, tree->visualItemRect(item).center());
    }
    static QPoint emptyArea(QTreeWidget *tree)
    {
        const QPoint p(tree->viewport()->width() / 2, tree->viewport()->height() - 3);
        return tree->itemAt(p) ? QPoint() : p;
    }

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }

    void init()
    {
        startProgram("INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001', '一班'), ('2007002', '二班');"
                     "INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001', '甲', '2007001'),"
                     " ('2007002', '乙', '2007002');"
                     "INSERT INTO Practice (StudentID, ClassID, PracticeDateTime, PracticeName, PracticeResult, Remark)"
                     " VALUES ('2007001', '2007001', '2007-10-01', '支教', '优秀', '注一'),"
                     " ('2007002', '2007002', '2007-11-05', '义务劳动', '良好', '注二');"
                     "INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult, Remark)"
                     " VALUES ('2007001', '2007001', '1001', 90, '注一'), ('2007002', '2007002', '2002', 85.5, '注二');",
                     Screen::LoggedIn);
    }

    void cleanup() { stopProgram(); }

    // ---- how the windows look ----------------------------------------------

    void practiceWindowDeclaration()
    {
        TfrmPracticeSet *w = openPractice();
        QVERIFY(w);
        QCOMPARE(w->objectName(), QStringLiteral("frmPracticeSet"));
        QCOMPARE(w->windowTitle(), QStringLiteral("社会实践管理"));
        QCOMPARE(w->mdiSubWindow()->windowTitle(), QStringLiteral("社会实践管理"));
        QCOMPARE(recorder->messages.size(), 0);

        // The record sets, each over its whole table.
        QCOMPARE(w->DataPractice->objectName(), QStringLiteral("DataPractice"));
        QCOMPARE(w->DataPractice->dataSet()->sql(), QStringLiteral("Select * From Practice"));
        QCOMPARE(w->DataClassName->dataSet()->sql(), QStringLiteral("Select * From ClassInfo"));
        QCOMPARE(w->DataStudentID->dataSet()->sql(), QStringLiteral("Select * From StudentInfo"));
        QCOMPARE(w->DBGrid1->dataSource(), w->DataPractice);
        QCOMPARE(w->cmbxStudentID->count(), 2);
        QCOMPARE(w->cmbxClassName->count(), 2);

        QCOMPARE(w->DBGrid1->objectName(), QStringLiteral("DBGrid1"));
        QStringList titles;
        for (int c = 0; c < w->DBGrid1->model()->columnCount(); ++c)
            titles << w->DBGrid1->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(titles, QStringList({"学号", "班级编号", "时间", "实践内容", "实践结果", "备注"}));
        QCOMPARE(gridText(w->DBGrid1, 0, "时间"), QStringLiteral("2007/10/1"));
        QCOMPARE(gridText(w->DBGrid1, 1, "实践内容"), QStringLiteral("义务劳动"));

        // Kinds of the bound controls.
        QVERIFY(qobject_cast<DBLookupComboBox *>(w->findChild<QWidget *>("cmbxStudentID")));
        QVERIFY(qobject_cast<DBLookupComboBox *>(w->findChild<QWidget *>("cmbxClassName")));
        for (const char *memo : {"memRemark", "memPracticeName", "memPracticeResult"})
            QVERIFY2(qobject_cast<DBMemo *>(w->findChild<QWidget *>(memo)), memo);
        QVERIFY(qobject_cast<DBEdit *>(w->findChild<QWidget *>("edtPracticeDateTime")));
        QVERIFY(!w->edtPracticeDateTime->isReadOnly());
        QCOMPARE(w->findChild<QPushButton *>("SpeedButton1"), w->SpeedButton1);
        QCOMPARE(w->SpeedButton1->text(), QStringLiteral("…"));
        QCOMPARE(w->SpeedButton1->focusPolicy(), Qt::NoFocus);
        QCOMPARE(w->cmbxStudentID->shownText(), QStringLiteral("2007001"));
        QCOMPARE(w->memPracticeName->toPlainText(), QStringLiteral("支教"));
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("2007/10/1"));

        // Screen: student, class, date in the first row; then content, result, remark.
        QCOMPARE(labelsInReadingOrder(frameOf(w)->Panel2),
                 QStringList({"学号：", "班级：", "时间：", "实践内容：", "实践结果：", "备注："}));
        QVERIFY(sameRow(w->cmbxStudentID, w->cmbxClassName));
        QVERIFY(sameRow(w->cmbxStudentID, w->edtPracticeDateTime));
        QVERIFY(sameRow(w->edtPracticeDateTime, w->SpeedButton1));
        QVERIFY(w->edtPracticeDateTime->x() < w->SpeedButton1->x());
        QVERIFY(top(w->edtPracticeDateTime) < top(w->memPracticeName));
        QVERIFY(top(w->memPracticeName) < top(w->memPracticeResult));
        QVERIFY(top(w->memPracticeResult) < top(w->memRemark));
        QVERIFY(top(w->memRemark) < top(w->btnAdd));
        QVERIFY(top(w->DBGrid1) < top(w->cmbxStudentID));
        // The buttons left to right.
        QList<QPushButton *> buttons = {w->btnAdd, w->btnModify, w->btnDel, w->btnSave, w->btnCancel};
        const QStringList captions = {"添加(&A)", "修改(&M)", "删除(&D)", "保存(&S)", "取消(&C)"};
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(buttons[i]->text(), captions[i]);
            if (i > 0)
                QVERIFY(buttons[i - 1]->x() < buttons[i]->x());
        }
    }

    void moralWindowDeclaration()
    {
        TfrmMoralSet *w = openMoral();
        QVERIFY(w);
        QCOMPARE(w->objectName(), QStringLiteral("frmMoralSet"));
        QCOMPARE(w->windowTitle(), QStringLiteral("思想品德管理"));
        QCOMPARE(w->mdiSubWindow()->windowTitle(), QStringLiteral("思想品德管理"));
        QCOMPARE(recorder->messages.size(), 0);

        QCOMPARE(w->DataMoral->objectName(), QStringLiteral("DataMoral"));
        QCOMPARE(w->DataMoral->dataSet()->sql(), QStringLiteral("Select * From Moral"));
        QCOMPARE(w->DataStudentID->dataSet()->sql(), QStringLiteral("Select * From StudentInfo"));
        QCOMPARE(w->DataClassID->dataSet()->sql(), QStringLiteral("Select * From ClassInfo"));
        QCOMPARE(w->cmbxStudentID->count(), 2);
        QCOMPARE(w->cmbxClassID->count(), 2);

        QStringList titles;
        for (int c = 0; c < w->DBGrid1->model()->columnCount(); ++c)
            titles << w->DBGrid1->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(titles, QStringList({"学号", "班级编号", "品德条目编号", "品德成绩", "备注"}));
        QCOMPARE(gridText(w->DBGrid1, 1, "品德成绩"), QStringLiteral("85.5"));

        QVERIFY(qobject_cast<DBLookupComboBox *>(w->findChild<QWidget *>("cmbxStudentID")));
        QVERIFY(qobject_cast<DBLookupComboBox *>(w->findChild<QWidget *>("cmbxClassID")));
        QVERIFY(qobject_cast<DBEdit *>(w->findChild<QWidget *>("edtMoralResult")));
        QVERIFY(qobject_cast<DBEdit *>(w->findChild<QWidget *>("edtMoralID")));
        QVERIFY(qobject_cast<DBMemo *>(w->findChild<QWidget *>("edtRemark")));
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("1001"));

        // Top to bottom: the framed tree, the grid, the panel.
        auto *box = w->findChild<QGroupBox *>();
        QVERIFY(box);
        QCOMPARE(box->title(), QStringLiteral("思想品德内容"));
        QVERIFY(box->isAncestorOf(w->trvwMoralName));
        QVERIFY(top(w->trvwMoralName) < top(w->DBGrid1));
        QVERIFY(top(w->DBGrid1) < top(w->cmbxStudentID));
        QCOMPARE(labelsInReadingOrder(frameOf(w)->Panel2),
                 QStringList({"学  号：", "班级编号：", "品德编号：", "品德成绩：", "备  注："}));
        QVERIFY(sameRow(w->cmbxStudentID, w->cmbxClassID));
        QVERIFY(sameRow(w->cmbxStudentID, w->edtMoralID));
        QVERIFY(sameRow(w->cmbxStudentID, w->edtMoralResult));
        QVERIFY(w->cmbxClassID->x() < w->edtMoralID->x());
        QVERIFY(w->edtMoralID->x() < w->edtMoralResult->x());
        QVERIFY(top(w->edtMoralResult) < top(w->edtRemark));
    }

    void gridsCentreAndKeepSeveralRowsHighlighted()
    {
        for (const Kind &k : kinds()) {
            TfrmBase *w = open(k.menu);
            DataGrid *grid = w->findChild<DataGrid *>("DBGrid1");
            QVERIFY(grid);
            QCOMPARE(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
            QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
            QCOMPARE(grid->palette().color(QPalette::Inactive, QPalette::Highlight),
                     grid->palette().color(QPalette::Active, QPalette::Highlight));
            for (int c = 0; c < grid->model()->columnCount(); ++c) {
                QCOMPARE(grid->model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                         int(Qt::AlignCenter));
                QCOMPARE(grid->model()->index(0, c).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
            }
        }
    }

    void practiceTabOrder()
    {
        TfrmPracticeSet *w = openPractice();
        QCOMPARE(tabWalk(w, w->cmbxStudentID, 12),
                 QStringList({"cmbxStudentID", "cmbxClassName", "memRemark", "memPracticeName", "memPracticeResult",
                              "btnAdd", "btnModify", "btnDel", "btnSave", "btnCancel", "edtPracticeDateTime",
                              "DBGrid1"}));
        QCOMPARE(tabPresses(w->cmbxStudentID, 12),
                 QStringList({"cmbxStudentID", "cmbxClassName", "memRemark", "memPracticeName", "memPracticeResult",
                              "btnAdd", "btnModify", "btnDel", "btnSave", "btnCancel", "edtPracticeDateTime",
                              "DBGrid1"}));
        QCOMPARE(state(w), DataSetState::Browse);
        // Tab leaves a memo rather than typing into it.
        for (DBMemo *memo : {w->memRemark, w->memPracticeName, w->memPracticeResult})
            QVERIFY(memo->tabChangesFocus());
    }

    void moralTabOrder()
    {
        TfrmMoralSet *w = openMoral();
        QCOMPARE(tabWalk(w, w->cmbxStudentID, 11),
                 QStringList({"cmbxStudentID", "cmbxClassID", "edtMoralResult", "edtRemark", "btnAdd", "btnModify",
                              "btnDel", "btnSave", "btnCancel", "edtMoralID", "trvwMoralName"}));
        QCOMPARE(tabPresses(w->cmbxStudentID, 11),
                 QStringList({"cmbxStudentID", "cmbxClassID", "edtMoralResult", "edtRemark", "btnAdd", "btnModify",
                              "btnDel", "btnSave", "btnCancel", "edtMoralID", "trvwMoralName"}));
        QCOMPARE(state(w), DataSetState::Browse);
        QVERIFY(w->edtRemark->tabChangesFocus());
    }

    // ---- the menu ----------------------------------------------------------

    void oneInstanceEachBroughtToTheFront()
    {
        TfrmBase *practice = open("M3");
        TfrmBase *moral = open("M4");
        QVERIFY(practice && moral);
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), moral->mdiSubWindow());
        QCOMPARE(open("M3"), practice);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 2);
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), practice->mdiSubWindow());
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList(QMdiArea::StackingOrder).last(), practice->mdiSubWindow());
        QCOMPARE(open("M4"), moral);
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), moral->mdiSubWindow());

        // Closing empties the reference; the next command reads the tables again.
        practice->closeWindow();
        QVERIFY(frmPracticeSet.isNull());
        moral->mdiSubWindow()->close();
        QVERIFY(frmMoralSet.isNull());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ws->exec("INSERT INTO Moral (MoralID) VALUES ('3001')");
        TfrmBase *again = open("M4");
        QVERIFY(again);
        QCOMPARE(rs(again)->recordCount(), 3);
    }

    // ---- record commands ---------------------------------------------------

    void recordCommands_data()
    {
        QTest::addColumn<QString>("menu");
        for (const Kind &k : kinds())
            QTest::newRow(qPrintable(k.table)) << k.menu;
    }
    void recordCommands()
    {
        QFETCH(QString, menu);
        const Kind &k = kind(menu);
        const QStringList seeded = menu == "M3" ? practiceRows : moralRows;
        TfrmBase *w = open(menu);
        RecordFrame *f = frameOf(w);
        auto *memo = w->findChild<DBMemo *>(k.memo);
        QVERIFY(memo);
        QCOMPARE(storedRows(k), seeded);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(rs(w)->recNo(), 0);

        // Save in browse state does nothing.
        click(f->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedRows(k), seeded);

        // Cancel restores the stored values.
        testsupport::typeText(memo, QStringLiteral("改"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(f->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(memo->toPlainText(), menu == "M3" ? QStringLiteral("支教") : QStringLiteral("注一"));
        QCOMPARE(storedRows(k), seeded);

        // Add gives an empty row at the current position; nothing is preset.
        f->grid->setCurrentIndex(f->grid->model()->index(1, 0));
        QCOMPARE(rs(w)->recNo(), 1);
        click(f->btnAdd);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(rs(w)->recNo(), 1);
        QCOMPARE(rs(w)->recordCount(), 3);
        for (const auto &field : rs(w)->fields())
            QCOMPARE(rs(w)->fieldText(field.name), QString());
        for (auto *lookup : w->findChildren<DBLookupComboBox *>())
            QCOMPARE(lookup->shownText(), QString());
        for (auto *edit : w->findChildren<DBEdit *>())
            QCOMPARE(edit->text(), QString());
        for (auto *m : w->findChildren<DBMemo *>())
            QCOMPARE(m->toPlainText(), QString());
        QCOMPARE(gridText(f->grid, 1, "学号"), QString());
        QCOMPARE(gridText(f->grid, 2, "学号"), QStringLiteral("2007002"));
        QCOMPARE(storedRows(k), seeded);

        // The new row holds what was picked and typed.
        w->findChild<DBLookupComboBox *>("cmbxStudentID")->pickRow(1);
        testsupport::typeText(memo, QStringLiteral("新"));
        click(f->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(rs(w)->recNo(), 1);
        QStringList expected = seeded;
        expected << (menu == "M3" ? QStringLiteral("2007002|||新||") : QStringLiteral("2007002||||新"));
        QCOMPARE(storedRows(k), expected);
        QCOMPARE(gridText(f->grid, 1, "学号"), QStringLiteral("2007002"));

        // Delete answered No keeps the row; Yes deletes the current one.
        recorder->answer(QMessageBox::No);
        click(f->btnDel);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().text, QStringLiteral("确定要删除此条记录?"));
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QCOMPARE(recorder->last().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(storedRows(k), expected);
        f->grid->setCurrentIndex(f->grid->model()->index(0, 0));
        recorder->answer(QMessageBox::Yes);
        click(f->btnDel);
        QCOMPARE(recorder->messages.size(), 2);
        expected.removeFirst();
        QCOMPARE(storedRows(k), expected);
        QCOMPARE(rs(w)->recordCount(), 2);
        QCOMPARE(rs(w)->fieldText("StudentID"), QStringLiteral("2007002"));

        // Modify, then Save stores the change to that row only.
        click(f->btnModify);
        QCOMPARE(state(w), DataSetState::Edit);
        memo->selectAll();
        testsupport::typeText(memo, QStringLiteral("再改"));
        click(f->btnSave);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(stored(QStringLiteral("SELECT count(*) FROM %1 WHERE %2 = '再改'").arg(k.table, k.memoColumn)),
                 QStringList{"1"});
        QCOMPARE(rs(w)->recordCount(), 2);
    }

    void ctrlDelAsksForSeveralSelectedRows_data() { recordCommands_data(); }
    void ctrlDelAsksForSeveralSelectedRows()
    {
        QFETCH(QString, menu);
        const Kind &k = kind(menu);
        const QStringList seeded = menu == "M3" ? practiceRows : moralRows;
        ws->exec(QStringLiteral("INSERT INTO %1 (StudentID) VALUES ('2007009')").arg(k.table));
        TfrmBase *w = open(menu);
        DataGrid *grid = frameOf(w)->grid;
        QCOMPARE(rs(w)->recordCount(), 3);
        grid->setFocus();
        grid->selectionModel()->select(grid->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid->selectionModel()->select(grid->model()->index(2, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        recorder->answer(QMessageBox::Cancel);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().text, QStringLiteral("Delete all selected records?"));
        QCOMPARE(recorder->last().buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(rs(w)->recordCount(), 3);

        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(storedRows(k), QStringList{seeded[1]});
        QCOMPARE(rs(w)->recordCount(), 1);

        // One row: the single question.
        grid->selectionModel()->select(grid->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        recorder->answer(QMessageBox::Cancel);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(recorder->last().text, QStringLiteral("Delete record?"));
        QCOMPARE(storedRows(k), QStringList{seeded[1]});
    }

    // ---- the date button ---------------------------------------------------

    void datePickedInBrowseIsOnlyShown()
    {
        TfrmPracticeSet *w = openPractice();
        pickDate(w->SpeedButton1, QDate(2008, 1, 2));
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("2008/1/2"));
        QCOMPARE(state(w), DataSetState::Browse);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(storedRows(kind("M3")), practiceRows);
        // Reading the row again shows the stored date.
        click(w->btnModify);
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("2007/10/1"));
        click(w->btnSave);
        QCOMPARE(storedRows(kind("M3")), practiceRows);
    }

    void datePickedAfterAddOrModifyIsStored()
    {
        TfrmPracticeSet *w = openPractice();
        click(w->btnAdd);
        pickDate(w->SpeedButton1, QDate(2008, 1, 2));
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("2008/1/2"));
        QCOMPARE(state(w), DataSetState::Insert);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT PracticeDateTime FROM Practice ORDER BY rowid DESC LIMIT 1"),
                 QStringList{"2008-01-02"});
        QCOMPARE(gridText(w->DBGrid1, 0, "时间"), QStringLiteral("2008/1/2"));

        // On a stored row: Modify, then the picked date is stored.
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(2, 0));
        click(w->btnModify);
        pickDate(w->SpeedButton1, QDate(2009, 12, 31));
        click(w->btnSave);
        QCOMPARE(stored("SELECT PracticeDateTime FROM Practice WHERE StudentID = '2007002'"),
                 QStringList{"2009-12-31"});
        QCOMPARE(recorder->messages.size(), 0);
    }

    void dateBoxTakesTypingAndClosingThePickerGivesToday()
    {
        TfrmPracticeSet *w = openPractice();
        w->edtPracticeDateTime->selectAll();
        testsupport::typeText(w->edtPracticeDateTime, QStringLiteral("2010/5/6"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT PracticeDateTime FROM Practice WHERE StudentID = '2007001'"),
                 QStringList{"2010-05-06"});

        click(w->btnAdd);
        testsupport::whenModal<TfrmDateChoice>([](TfrmDateChoice *dialog) { dialog->close(); });
        click(w->SpeedButton1);
        QCOMPARE(w->edtPracticeDateTime->text(), dravon::formatShortDate(QDate::currentDate()));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT PracticeDateTime FROM Practice ORDER BY rowid DESC LIMIT 1"),
                 QStringList{QDate::currentDate().toString(Qt::ISODate)});
    }

    // ---- refused values ----------------------------------------------------

    void refusedDateKeepsTheRow()
    {
        TfrmPracticeSet *w = openPractice();
        // A new row.
        click(w->btnAdd);
        w->cmbxClassName->pickRow(1);
        testsupport::typeText(w->memPracticeResult, QStringLiteral("合格"));
        testsupport::typeText(w->edtPracticeDateTime, QStringLiteral("明天"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY2(recorder->last().text.contains(QStringLiteral("明天")), qPrintable(recorder->last().text));
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("明天"));
        QCOMPARE(w->memPracticeResult->toPlainText(), QStringLiteral("合格"));
        QCOMPARE(w->cmbxClassName->shownText(), QStringLiteral("2007002"));
        QCOMPARE(storedRows(kind("M3")), practiceRows);
        // Corrected, the row is stored with everything entered.
        w->edtPracticeDateTime->selectAll();
        testsupport::typeText(w->edtPracticeDateTime, QStringLiteral("2008/2/29"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedRows(kind("M3")).value(2), QStringLiteral("|2007002|2008-02-29||合格|"));

        // A stored row: refused, kept in edit state, Cancel brings the stored values back.
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(2, 0));
        QCOMPARE(w->memPracticeName->toPlainText(), QStringLiteral("义务劳动"));
        w->memPracticeName->moveCursor(QTextCursor::End);
        testsupport::typeText(w->memPracticeName, QStringLiteral("甲"));
        w->edtPracticeDateTime->selectAll();
        testsupport::typeText(w->edtPracticeDateTime, QStringLiteral("2007/2/30"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("2007/2/30"));
        QCOMPARE(w->memPracticeName->toPlainText(), QStringLiteral("义务劳动甲"));
        click(w->btnCancel);
        QCOMPARE(w->edtPracticeDateTime->text(), QStringLiteral("2007/11/5"));
        QCOMPARE(w->memPracticeName->toPlainText(), QStringLiteral("义务劳动"));
        QCOMPARE(storedRows(kind("M3")).value(1), practiceRows[1]);
    }

    void refusedMarkKeepsTheRow()
    {
        TfrmMoralSet *w = openMoral();
        w->edtMoralResult->selectAll();
        testsupport::typeText(w->edtMoralResult, QStringLiteral("优"));
        w->edtRemark->moveCursor(QTextCursor::End);
        testsupport::typeText(w->edtRemark, QStringLiteral("乙"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(w->edtMoralResult->text(), QStringLiteral("优"));
        QCOMPARE(w->edtRemark->toPlainText(), QStringLiteral("注一乙"));
        QCOMPARE(storedRows(kind("M4")), moralRows);
        w->edtMoralResult->selectAll();
        testsupport::typeText(w->edtMoralResult, QStringLiteral("77.5"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(storedRows(kind("M4")).value(0), QStringLiteral("2007001|2007001|1001|77.5|注一乙"));
    }

    // ---- the conduct-item tree ---------------------------------------------

    void treeIsFixedCollapsedAndUnselected()
    {
        TfrmMoralSet *w = openMoral();
        QTreeWidget *tree = w->trvwMoralName;
        QCOMPARE(tree->objectName(), QStringLiteral("trvwMoralName"));
        const QList<QPair<QString, QStringList>> expected = {
            {"1.基本规章", {"1001.关心国家大事", "1002.热爱集体、关心集体", "1003.尊老爱幼"}},
            {"2.道德品质", {"2001.不打架不斗殴", "2002.尊重老师、团结同学"}},
            {"3.纪律规范", {"3001.遵守学校纪律", "3002.积极参加劳动"}},
        };
        QCOMPARE(tree->topLevelItemCount(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QTreeWidgetItem *category = tree->topLevelItem(i);
            QCOMPARE(category->text(0), expected[i].first);
            QVERIFY(!category->isExpanded());
            QVERIFY(category->icon(0).isNull());
            QVERIFY(!(category->flags() & Qt::ItemIsEditable));
            QCOMPARE(category->childCount(), expected[i].second.size());
            for (int j = 0; j < category->childCount(); ++j) {
                QTreeWidgetItem *item = category->child(j);
                QCOMPARE(item->text(0), expected[i].second[j]);
                QCOMPARE(item->childCount(), 0);
                QVERIFY(item->icon(0).isNull());
                QVERIFY(!(item->flags() & Qt::ItemIsEditable));
            }
        }
        QVERIFY(tree->rootIsDecorated());
        QCOMPARE(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(tree->selectedItems().isEmpty());
        // Taking the focus selects nothing either.
        tree->setFocus(Qt::TabFocusReason);
        QCoreApplication::processEvents();
        QVERIFY(tree->selectedItems().isEmpty());
    }

    void itemPickedAfterAddIsStored()
    {
        TfrmMoralSet *w = openMoral();
        QTreeWidget *tree = w->trvwMoralName;
        click(w->btnAdd);
        QCOMPARE(w->edtMoralID->text(), QString());
        // The category opens on its double-click and leaves the box alone.
        doubleClickNode(tree, "3.纪律规范");
        QVERIFY(node(tree, "3.纪律规范")->isExpanded());
        QCOMPARE(w->edtMoralID->text(), QString());
        doubleClickNode(tree, "3002.积极参加劳动");
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("3002"));
        QCOMPARE(state(w), DataSetState::Insert);
        // Another category: the box keeps the number; the category opens.
        doubleClickNode(tree, "2.道德品质");
        QVERIFY(node(tree, "2.道德品质")->isExpanded());
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("3002"));
        doubleClickNode(tree, "2.道德品质");
        QVERIFY(!node(tree, "2.道德品质")->isExpanded());
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("3002"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT MoralID FROM Moral ORDER BY rowid DESC LIMIT 1"), QStringList{"3002"});
        QCOMPARE(gridText(w->DBGrid1, 0, "品德条目编号"), QStringLiteral("3002"));
    }

    void emptyAreaActsOnTheSelectedNode()
    {
        TfrmMoralSet *w = openMoral();
        QTreeWidget *tree = w->trvwMoralName;
        // Nothing selected: nothing happens.
        QPoint empty = emptyArea(tree);
        QVERIFY(!empty.isNull());
        doubleClick(tree, empty);
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("1001"));
        QCOMPARE(state(w), DataSetState::Browse);

        click(w->btnModify);
        doubleClickNode(tree, "1.基本规章");
        doubleClickNode(tree, "1003.尊老爱幼");
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("1003"));
        w->edtMoralID->selectAll();
        testsupport::typeText(w->edtMoralID, QStringLiteral("12"));
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("12"));
        empty = emptyArea(tree);
        QVERIFY(!empty.isNull());
        doubleClick(tree, empty);
        QCOMPARE(tree->selectedItems().value(0), node(tree, "1003.尊老爱幼"));
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("1003"));
        click(w->btnSave);
        QCOMPARE(stored("SELECT MoralID FROM Moral ORDER BY rowid LIMIT 1"), QStringList{"1003"});
        QCOMPARE(recorder->messages.size(), 0);
    }

    void itemPickedInBrowseIsOnlyShown()
    {
        TfrmMoralSet *w = openMoral();
        QTreeWidget *tree = w->trvwMoralName;
        doubleClickNode(tree, "2.道德品质");
        doubleClickNode(tree, "2001.不打架不斗殴");
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("2001"));
        QCOMPARE(state(w), DataSetState::Browse);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(storedRows(kind("M4")), moralRows);
        // Moving to another row and back shows the stored number again.
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(1, 0));
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(0, 0));
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("1001"));
        QCOMPARE(storedRows(kind("M4")), moralRows);
    }

    void typedItemNumberIsStoredAsTyped()
    {
        TfrmMoralSet *w = openMoral();
        click(w->btnAdd);
        testsupport::typeText(w->edtMoralID, QStringLiteral("9999"));
        testsupport::typeText(w->edtMoralResult, QStringLiteral("60"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(storedRows(kind("M4")).value(2), QStringLiteral("||9999|60.0|"));
        // Typed in browse state, the box starts an edit by itself.
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(2, 0));
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("2002"));
        w->edtMoralID->selectAll();
        testsupport::typeText(w->edtMoralID, QStringLiteral("8888"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(stored("SELECT MoralID FROM Moral WHERE StudentID = '2007002'"), QStringList{"8888"});
    }
};

QTEST_MAIN(RecordWindowsTest)
#include "tst_recordwindows.moc"
