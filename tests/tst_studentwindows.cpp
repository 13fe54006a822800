// The score, dormitory and payment windows driven through the main window's
// menu: their pages, columns, labels, lists and tab orders; the record
// commands; the subject pick with its credit; the value list; the date box;
// refused marks and amounts; and the query page with its result grid.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/students/CapturePrice_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/Shell_Unit.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QCalendarWidget>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>

using dravon::DataSetState;
using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

const char seedRows[] = R"SQL(
INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001','王小明','2007001'),('2007002','李四','2007001'),
  ('2007003','O''Neil','2007002');
INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('2007001','语文',4.0),('2007003','数学',3.5),('2007004','英语',2.0);
INSERT INTO ClassInfo (ClassID, GradeID, ClaName) VALUES ('2007001','2007001','一班'),('2007002','2007001','二班');
INSERT INTO DormInfo (DormID, DormName) VALUES ('2007001','一号楼101'),('2007003','一号楼103');
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES
  ('2007001','2007-01-15','第一学期','2007001','2007001',90.0,4.0,'s1'),
  ('2007002','2007-01-16','第一学期','2007003','2007001',70.0,3.5,'s2'),
  ('2007003','2007-06-20','第二学期','2007004','2007002',50.0,2.0,'s3');
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES ('2007001','2007001','男','2007001','d1'),
  ('2007001','2007002','女','2007003','d2');
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES ('2007001','学费','2007001',100.0,'p1'),
  ('2007001','书本费','2007002',50.0,'p2');
)SQL";

struct WindowKind
{
    QString menu;
    QString table;
    QString caption;
    QStringList pages;
    QString mainSource;
    QString resultSource;
    QStringList titles1;
    QStringList titles2;
    QStringList labels;    // in tab order of their controls
    QStringList controls;  // the bound controls in tab order, the buttons placed where they stand
    QStringList items;
    std::function<TfrmRecordPages *()> window;
};

const QStringList buttons = {"btnAdd", "btnModify", "btnDel", "btnSave", "btnCancel"};

const QList<WindowKind> &kinds()
{
    static const QList<WindowKind> list = {
        {"M2", "Score", "学生成绩", {"成绩录入", "成绩查询"}, "DataStudentScore", "DataFindScore",
         {"学号", "时间", "学期", "科目", "班级编号", "分数", "学分", "备注"},
         {"编号", "时间", "学期", "科目", "班级", "分数", "学分", "备注"},
         {"学  号：", "时  间：", "学  期：", "班  级：", "科目名称：", "成  绩：", "学  分：", "备  注："},
         QStringList{"cmbxStudentID", "edtScoreDateTime", "cmbxTerm", "cmbxClassName", "cmbxSubjectName", "edtScore",
                     "edtRemark"} + buttons,
         {"学号", "科目", "班级", "姓名"}, [] { return frmStudentScore.data(); }},
        {"M5", "Dorm", "学生宿舍管理", {"宿舍分配", "查询"}, "DataDorm", "DataFindDrom",
         {"班级", "学号", "性别", "宿舍编号", "备注"}, {"班级", "学号", "性别", "宿舍编号", "备注"},
         {"班  级：", "性  别：", "学  号：", "备  注：", "宿舍编号："},
         QStringList{"cmbxClassName", "cmbxStuSex", "cmbxStudentID", "edtRemark", "cmbxDormID"} + buttons,
         {"学号", "姓名", "宿舍编号"}, [] { return frmDormManager.data(); }},
        {"M6", "Price", "学生缴费管理", {"缴费输入", "查询"}, "DataPrice", "DataFindPrice",
         {"班级编号", "费用名称", "学号", "费用金额", "备注"}, {"班级编号", "费用名称", "学号", "费用金额", "备注"},
         {"班  级：", "学  号：", "备  注：", "费用名称：", "费  用："},
         QStringList{"cmbxClassName", "cmbxStudentID", "edtRemark"} + buttons + QStringList{"cmbxPriceName", "edtPrice"},
         {"学号", "姓名"}, [] { return frmCapturePrice.data(); }},
    };
    return list;
}

const WindowKind &kind(const QString &menu)
{
    for (const WindowKind &k : kinds())
        if (k.menu == menu)
            return k;
    qFatal("no window for menu item %s", qPrintable(menu));
}

void addWindowRows()
{
    QTest::addColumn<QString>("menu");
    for (const WindowKind &k : kinds())
        QTest::newRow(qPrintable(k.table)) << k.menu;
}

void click(QPushButton *button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList titles(QAbstractItemView *grid)
{
    QStringList list;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        list << grid->model()->headerData(c, Qt::Horizontal).toString();
    return list;
}

QStringList items(QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// Picks an entry of a closed list as the user does.
void pick(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// The widgets of `order` as the Tab key visits them, starting at the first.
QStringList tabOrder(QWidget *window, const QStringList &order)
{
    QList<QWidget *> widgets;
    for (const QString &name : order)
        widgets << window->findChild<QWidget *>(name);
    QStringList visited{order.first()};
    QWidget *w = widgets.first();
    for (int i = 1; i < order.size() && w; ++i) {
        QWidget *next = w->nextInFocusChain();
        while (next != w && !widgets.contains(next))
            next = next->nextInFocusChain();
        if (next == w)
            break;
        visited << next->objectName();
        w = next;
    }
    return visited;
}

}

class StudentWindowsTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmRecordPages *open(const QString &menu)
    {
        frmTeachMain->menuItem(menu)->trigger();
        QCoreApplication::processEvents();
        return kind(menu).window();
    }
    static dravon::RecordSet *rs(TfrmRecordPages *w) { return w->mainSource()->dataSet(); }
    static DataSetState state(TfrmRecordPages *w) { return w->mainSource()->state(); }
    QString stored(const QString &sql) { return ws->query(sql).join(QLatin1Char(',')); }
    static QStringList resultRemarks(TfrmRecordPages *w)
    {
        QStringList list;
        dravon::RecordSet *result = w->resultSource()->dataSet();
        if (!result)
            return list;
        const int remark = w->DBGrid2->columns().size() - 1;
        for (int r = 0; r < w->DBGrid2->model()->rowCount(); ++r)
            list << w->DBGrid2->model()->index(r, remark).data().toString();
        return list;
    }
    static void pickDate(QPushButton *button, const QDate &date)
    {
        testsupport::whenModal<TfrmDateChoice>([date](TfrmDateChoice *dialog) {
            dialog->MonthCalendar1->setSelectedDate(date);
            emit dialog->MonthCalendar1->clicked(date);
        });
        click(button);
    }
    void find(TfrmRecordPages *w, const QString &item, const QString &condition, const QString &value)
    {
        if (!item.isEmpty())
            pick(w->cmbxItems, item);
        if (!condition.isEmpty())
            pick(w->cmbxCondition, condition);
        w->cmbxValues->setEditText(value);
        click(w->btnFind);
    }

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }

    void init() { startProgram(QString::fromUtf8(seedRows)); }

    void cleanup() { stopProgram(); }

    // ---- what the windows show ---------------------------------------------

    void pagesColumnsAndQueryControls_data() { addWindowRows(); }
    void pagesColumnsAndQueryControls()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        TfrmRecordPages *w = open(menu);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), k.caption);
        QCOMPARE(w->PageControl1->objectName(), QStringLiteral("PageControl1"));
        QCOMPARE(w->PageControl1->count(), 2);
        QCOMPARE(w->PageControl1->tabText(0), k.pages[0]);
        QCOMPARE(w->PageControl1->tabText(1), k.pages[1]);
        QCOMPARE(w->PageControl1->widget(0)->objectName(), QStringLiteral("TabSheet1"));
        QCOMPARE(w->PageControl1->widget(1)->objectName(), QStringLiteral("TabSheet2"));
        QCOMPARE(w->PageControl1->currentIndex(), 0);
        QCOMPARE(w->mainSource()->objectName(), k.mainSource);
        QCOMPARE(w->resultSource()->objectName(), k.resultSource);

        QCOMPARE(w->DBGrid1->objectName(), QStringLiteral("DBGrid1"));
        QCOMPARE(titles(w->DBGrid1), k.titles1);
        QCOMPARE(w->DBGrid2->objectName(), QStringLiteral("DBGrid2"));
        QCOMPARE(titles(w->DBGrid2), k.titles2);
        for (DataGrid *grid : {w->DBGrid1, w->DBGrid2}) {
            QCOMPARE(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
            QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
            for (int c = 0; c < grid->model()->columnCount(); ++c)
                QCOMPARE(grid->model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                         int(Qt::AlignCenter));
        }
        QVERIFY(rs(w)->recordCount() > 0);
        for (int c = 0; c < w->DBGrid1->model()->columnCount(); ++c)
            QCOMPARE(w->DBGrid1->model()->index(0, c).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QCOMPARE(rs(w)->recNo(), 0);
        QCOMPARE(state(w), DataSetState::Browse);

        // The query page starts empty: no item, no condition, no values, no result.
        QCOMPARE(w->cmbxItems->objectName(), QStringLiteral("cmbxItems"));
        QVERIFY(!w->cmbxItems->isEditable());
        QCOMPARE(items(w->cmbxItems), k.items);
        QCOMPARE(w->cmbxItems->currentIndex(), -1);
        QVERIFY(!w->cmbxCondition->isEditable());
        QCOMPARE(items(w->cmbxCondition), QStringList({">", "<", "=", "Like"}));
        QCOMPARE(w->cmbxCondition->currentIndex(), -1);
        QVERIFY(w->cmbxValues->isEditable());
        QCOMPARE(w->cmbxValues->count(), 0);
        QCOMPARE(w->cmbxValues->currentText(), QString());
        QCOMPARE(w->btnFind->text(), QStringLiteral("查询(&F)"));
        QCOMPARE(w->DBGrid2->model()->rowCount(), 0);
        QCOMPARE(w->resultSource()->dataSet(), nullptr);
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("lblItems"))->text(), QStringLiteral("项  目："));
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("lblCondition"))->text(), QStringLiteral("条  件："));
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("lblValues"))->text(), QStringLiteral("值："));
        QCOMPARE(recorder->messages.size(), 0);
    }

    void labelsControlsAndTabOrder_data() { addWindowRows(); }
    void labelsControlsAndTabOrder()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        TfrmRecordPages *w = open(menu);
        // Every label stands left of its control in the panel's grid, in the tab order of the controls.
        auto *grid = qobject_cast<QGridLayout *>(w->frame->Panel2->layout()->itemAt(0)->layout());
        QVERIFY(grid);
        QStringList labels;
        for (const QString &name : k.controls) {
            if (buttons.contains(name))
                continue;
            QWidget *control = w->findChild<QWidget *>(name);
            QVERIFY2(control, qPrintable(name));
            if (name == QLatin1String("edtScoreDateTime"))
                control = control->parentWidget();
            const int index = grid->indexOf(control);
            QVERIFY2(index >= 0, qPrintable(name));
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
            auto *label = qobject_cast<QLabel *>(grid->itemAtPosition(row, column - 1)->widget());
            QVERIFY2(label, qPrintable(name));
            labels << label->text();
        }
        if (menu == QLatin1String("M2")) {
            // The credit label stands beside the read-only credit, which takes no focus.
            const int index = grid->indexOf(frmStudentScore->txtCreditHour);
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
            labels.insert(6, qobject_cast<QLabel *>(grid->itemAtPosition(row, column - 1)->widget())->text());
            QCOMPARE(frmStudentScore->txtCreditHour->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(labels, k.labels);
        QCOMPARE(tabOrder(w, k.controls), k.controls);
        const QStringList captions = {"添加(&A)", "修改(&M)", "删除(&D)", "保存(&S)", "取消(&C)"};
        for (int i = 0; i < buttons.size(); ++i)
            QCOMPARE(w->findChild<QPushButton *>(buttons[i])->text(), captions[i]);
    }

    void controlKindsAndLists()
    {
        open("M2");
        open("M5");
        open("M6");
        QVERIFY(frmStudentScore && frmDormManager && frmCapturePrice);
        QCOMPARE(frmStudentScore->findChild<DBLookupComboBox *>("cmbxStudentID"), frmStudentScore->cmbxStudentID);
        QCOMPARE(frmStudentScore->cmbxStudentID->count(), 3);
        QCOMPARE(frmStudentScore->cmbxClassName->count(), 2);
        QCOMPARE(frmStudentScore->cmbxSubjectName->count(), 3);
        QVERIFY(frmStudentScore->cmbxTerm->isEditable());
        QCOMPARE(items(frmStudentScore->cmbxTerm), QStringList({"第一学期", "第二学期", "第三学期", "第四学期"}));
        QVERIFY(!frmStudentScore->edtScoreDateTime->isReadOnly());
        QCOMPARE(frmStudentScore->SpeedButton1->text(), QStringLiteral("…"));
        QCOMPARE(frmStudentScore->SpeedButton1->focusPolicy(), Qt::NoFocus);
        QVERIFY(frmStudentScore->findChild<DBText *>("txtCreditHour"));
        QVERIFY(frmStudentScore->findChild<DBMemo *>("edtRemark"));
        QVERIFY(frmStudentScore->findChild<DBEdit *>("edtScore"));
        QCOMPARE(frmStudentScore->txtCreditHour->text(), QStringLiteral("4"));

        QVERIFY(!frmDormManager->cmbxStuSex->isEditable());
        QCOMPARE(items(frmDormManager->cmbxStuSex), QStringList({"男", "女"}));
        QCOMPARE(frmDormManager->cmbxDormID->count(), 2);
        QCOMPARE(frmDormManager->cmbxDormID->shownText(), QStringLiteral("2007001"));
        QVERIFY(frmDormManager->findChild<DBMemo *>("edtRemark"));

        QVERIFY(frmCapturePrice->cmbxPriceName->isEditable());
        QCOMPARE(items(frmCapturePrice->cmbxPriceName), QStringList({"学费", "书本费", "工本费", "其他费用"}));
        QVERIFY(frmCapturePrice->findChild<DBEdit *>("edtPrice"));
        QCOMPARE(frmCapturePrice->edtPrice->text(), QStringLiteral("100"));
        QCOMPARE(recorder->messages.size(), 0);
    }

    // The record sets open in their stated order: a missing table stops the
    // opening there, with the sets before it open and those after it not.
    void recordSetsOpenInOrder_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("missing");
        QTest::addColumn<QStringList>("opened");
        QTest::addColumn<QStringList>("notOpened");
        QTest::newRow("score") << "M2" << "ClassInfo" << QStringList{"DataStudentScore", "DataStudentID"}
                               << QStringList{"DataClassName", "DataSubjectName"};
        QTest::newRow("dorm") << "M5" << "DormInfo" << QStringList{"DataDorm", "DataClassName"}
                              << QStringList{"DataDormID", "DataStudentID"};
        QTest::newRow("price") << "M6" << "ClassInfo" << QStringList{"DataPrice"}
                               << QStringList{"DataClassName", "DataStudentID"};
    }
    void recordSetsOpenInOrder()
    {
        QFETCH(QString, menu);
        QFETCH(QString, missing);
        QFETCH(QStringList, opened);
        QFETCH(QStringList, notOpened);
        ws->exec(QStringLiteral("DROP TABLE %1").arg(missing));
        TfrmRecordPages *w = open(menu);
        QVERIFY(w);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        for (const QString &name : opened) {
            auto *source = w->findChild<DataSource *>(name);
            QVERIFY2(source && source->dataSet(), qPrintable(name));
        }
        for (const QString &name : notOpened) {
            auto *source = w->findChild<DataSource *>(name);
            QVERIFY2(source && !source->dataSet(), qPrintable(name));
        }
        QCOMPARE(rs(w)->sql(), QStringLiteral("Select * From %1").arg(kind(menu).table));
    }

    // ---- record commands ---------------------------------------------------

    void recordCommands_data() { addWindowRows(); }
    void recordCommands()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        const QString remarks = QStringLiteral("SELECT Remark FROM %1 ORDER BY rowid").arg(k.table);
        const QString before = stored(remarks);
        TfrmRecordPages *w = open(menu);
        auto *remark = w->findChild<DBMemo *>(QStringLiteral("edtRemark"));
        QVERIFY(remark);

        // Save in browse state does nothing.
        click(w->btnSave);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored(remarks), before);

        // Typing starts modify state; Cancel restores without a question.
        testsupport::typeText(remark, QStringLiteral("改"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(remark->toPlainText(), before.section(QLatin1Char(','), 0, 0));
        QCOMPARE(stored(remarks), before);

        // Add gives an empty row: nothing preset in any column.
        const int count = rs(w)->recordCount();
        click(w->btnAdd);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(rs(w)->recordCount(), count + 1);
        for (const dravon::Field &f : rs(w)->fields())
            QVERIFY2(rs(w)->fieldText(f.name).isEmpty(), qPrintable(f.name));
        for (auto *lookup : w->findChildren<DBLookupComboBox *>())
            QCOMPARE(lookup->shownText(), QString());
        QCOMPARE(remark->toPlainText(), QString());
        testsupport::typeText(remark, QStringLiteral("新"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM %1 WHERE Remark = '新'").arg(k.table)), QStringList{"1"});

        // Delete: No keeps the row, Yes deletes it.
        const QString current = rs(w)->fieldText(QStringLiteral("Remark"));
        QCOMPARE(current, QStringLiteral("新"));
        recorder->answer(QMessageBox::No);
        click(w->btnDel);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().text, QStringLiteral("确定要删除此条记录?"));
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QCOMPARE(recorder->last().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM %1").arg(k.table)), QStringList{QString::number(count + 1)});
        recorder->answer(QMessageBox::Yes);
        click(w->btnDel);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(stored(remarks), before);
        QCOMPARE(rs(w)->recordCount(), count);
    }

    void severalRowsSelectedAndDeletedWithCtrlDel()
    {
        TfrmRecordPages *w = open("M2");
        DataGrid *grid = w->DBGrid1;
        // Selected rows stay highlighted when the grid has no focus.
        QCOMPARE(grid->palette().color(QPalette::Inactive, QPalette::Highlight),
                 grid->palette().color(QPalette::Active, QPalette::Highlight));
        grid->selectionModel()->select(grid->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        grid->selectionModel()->select(grid->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        recorder->answer(QMessageBox::Cancel);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().text, QStringLiteral("Delete all selected records?"));
        QCOMPARE(stored("SELECT count(*) FROM Score"), QStringLiteral("3"));
        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(stored("SELECT Remark FROM Score"), QStringLiteral("s2"));
        QCOMPARE(rs(w)->recordCount(), 1);
    }

    void sameStudentTwiceIsAccepted()
    {
        TfrmRecordPages *w = open("M5");
        for (int i = 0; i < 2; ++i) {
            click(w->btnAdd);
            frmDormManager->cmbxStudentID->pickRow(0);
            pick(frmDormManager->cmbxStuSex, QStringLiteral("女"));
            click(w->btnSave);
        }
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT StuSex FROM Dorm WHERE StudentID = '2007001' ORDER BY rowid"), QStringLiteral("男,女,女"));

        w = open("M6");
        click(w->btnAdd);
        frmCapturePrice->cmbxStudentID->pickRow(0);
        testsupport::typeText(frmCapturePrice->cmbxPriceName->lineEdit(), QStringLiteral("住宿费"));
        testsupport::typeText(frmCapturePrice->edtPrice, QStringLiteral("1200.5"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        // Amounts in tenths, which both engines write alike.
        QCOMPARE(stored("SELECT PriceName || '|' || typeof(Price) || '|' || CAST(Price * 10 AS INTEGER) FROM Price "
                        "WHERE StudentID = '2007001' ORDER BY rowid"),
                 QStringLiteral("学费|real|1000,住宿费|real|12005"));
    }

    // ---- the subject pick --------------------------------------------------

    void subjectPickCopiesCreditAndCancelRestoresBoth()
    {
        // The stored credit in tenths, which both engines write alike.
        const QString credit = QStringLiteral(
            "SELECT SubjectID || '|' || typeof(CreditHour) || '|' || CAST(CreditHour * 10 AS INTEGER) FROM Score WHERE Remark = '%1'");
        open("M2");
        TfrmStudentScore *w = frmStudentScore;
        QCOMPARE(rs(w)->fieldText("SubjectID"), QStringLiteral("2007001"));
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("4"));
        w->cmbxSubjectName->pickRow(1);  // 2007003 数学, 3.5
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(rs(w)->fieldText("SubjectID"), QStringLiteral("2007003"));
        QCOMPARE(rs(w)->fieldText("CreditHour"), QStringLiteral("3.5"));
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("3.5"));
        QCOMPARE(w->cmbxSubjectName->shownText(), QStringLiteral("2007003"));
        w->cmbxSubjectName->pickRow(2);  // every pick copies again
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("2"));
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(rs(w)->fieldText("SubjectID"), QStringLiteral("2007001"));
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("4"));
        QCOMPARE(w->cmbxSubjectName->shownText(), QStringLiteral("2007001"));
        QCOMPARE(stored(credit.arg("s1")), QStringLiteral("2007001|real|40"));

        // Picked and saved: both columns stored; a later credit change leaves the row alone.
        w->cmbxSubjectName->pickRow(1);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored(credit.arg("s1")), QStringLiteral("2007003|real|35"));
        ws->exec("UPDATE SubjectInfo SET CreditHour = 5.0 WHERE SubjectID = '2007003'");
        QCOMPARE(stored("SELECT CreditHour FROM Score WHERE Remark = 's1'"), QStringLiteral("3.5"));

        // After Add the credit comes with the subject, also when picked with the arrow keys.
        click(w->btnAdd);
        QCOMPARE(w->txtCreditHour->text(), QString());
        QTest::keyClick(w->cmbxSubjectName, Qt::Key_Down);
        QCOMPARE(rs(w)->fieldText("SubjectID"), QStringLiteral("2007001"));
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("4"));
        w->cmbxSubjectName->pickRow(2);
        QCOMPARE(w->txtCreditHour->text(), QStringLiteral("2"));
        testsupport::typeText(w->edtRemark, QStringLiteral("新"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored(credit.arg("新")), QStringLiteral("2007004|real|20"));
    }

    // ---- value list ----------------------------------------------------------

    void valueListFollowsTheItem()
    {
        open("M2");
        TfrmStudentScore *w = frmStudentScore;
        pick(w->cmbxItems, QStringLiteral("科目"));
        QCOMPARE(recorder->texts(), QStringList());
        QCOMPARE(items(w->cmbxValues), QStringList({"2007001.语文", "2007003.数学", "2007004.英语"}));
        QCOMPARE(w->cmbxValues->currentText(), QString());
        w->cmbxValues->setCurrentIndex(1);
        QCOMPARE(w->cmbxValues->currentText(), QStringLiteral("2007003.数学"));
        // A subject added since the window opened shows at the next pick: the list reads afresh.
        ws->exec("INSERT INTO SubjectInfo (SubjectID, SubName) VALUES ('2007009', '化学')");
        pick(w->cmbxItems, QStringLiteral("科目"));
        QCOMPARE(w->cmbxValues->count(), 4);
        QCOMPARE(w->cmbxValues->currentText(), QStringLiteral("2007003.数学"));
        QCOMPARE(w->cmbxSubjectName->count(), 3);
        pick(w->cmbxItems, QStringLiteral("班级"));
        QCOMPARE(items(w->cmbxValues), QStringList({"2007001.一班", "2007002.二班"}));
        QCOMPARE(w->cmbxValues->currentText(), QStringLiteral("2007003.数学"));
        pick(w->cmbxItems, QStringLiteral("学号"));
        QCOMPARE(w->cmbxValues->count(), 0);
        QCOMPARE(w->cmbxValues->currentText(), QStringLiteral("2007003.数学"));
        pick(w->cmbxItems, QStringLiteral("姓名"));
        QCOMPARE(w->cmbxValues->count(), 0);
        // With no subjects the list stays empty.
        ws->exec("DELETE FROM SubjectInfo");
        pick(w->cmbxItems, QStringLiteral("科目"));
        QCOMPARE(w->cmbxValues->count(), 0);
        QCOMPARE(recorder->messages.size(), 0);

        // The dormitory window offers its dormitories for "宿舍编号" only; payments offer nothing.
        TfrmRecordPages *dorm = open("M5");
        pick(dorm->cmbxItems, QStringLiteral("宿舍编号"));
        QCOMPARE(items(dorm->cmbxValues), QStringList({"2007001.一号楼101", "2007003.一号楼103"}));
        pick(dorm->cmbxItems, QStringLiteral("姓名"));
        QCOMPARE(dorm->cmbxValues->count(), 0);
        TfrmRecordPages *price = open("M6");
        pick(price->cmbxItems, QStringLiteral("学号"));
        pick(price->cmbxItems, QStringLiteral("姓名"));
        QCOMPARE(price->cmbxValues->count(), 0);
    }

    // ---- the date box --------------------------------------------------------

    void dateButtonAfterAddAndInBrowseState()
    {
        open("M2");
        TfrmStudentScore *w = frmStudentScore;
        QCOMPARE(w->edtScoreDateTime->text(), QStringLiteral("2007/1/15"));
        // Browsing: the picked date is only shown.
        pickDate(w->SpeedButton1, QDate(2008, 3, 4));
        QCOMPARE(w->edtScoreDateTime->text(), QStringLiteral("2008/3/4"));
        QCOMPARE(state(w), DataSetState::Browse);
        click(w->btnSave);
        QCOMPARE(stored("SELECT ScoreDateTime FROM Score WHERE Remark = 's1'"), QStringLiteral("2007-01-15"));
        // After Add the picked date is stored with the row.
        click(w->btnAdd);
        QCOMPARE(w->edtScoreDateTime->text(), QString());
        pickDate(w->SpeedButton1, QDate(2008, 3, 4));
        QCOMPARE(w->edtScoreDateTime->text(), QStringLiteral("2008/3/4"));
        testsupport::typeText(w->edtRemark, QStringLiteral("新"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT ScoreDateTime FROM Score WHERE Remark = '新'"), QStringLiteral("2008-03-04"));
        // The box also takes a typed date, which starts modify state.
        QVERIFY(rs(w)->locate(QStringLiteral("Remark"), QStringLiteral("s2")));
        w->edtScoreDateTime->selectAll();
        testsupport::typeText(w->edtScoreDateTime, QStringLiteral("2009/12/31"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT ScoreDateTime FROM Score WHERE Remark = 's2'"), QStringLiteral("2009-12-31"));
    }

    // ---- refusals ------------------------------------------------------------

    void refusedValueKeepsTheRow_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("good");
        QTest::addColumn<QString>("column");
        QTest::newRow("mark") << "M2" << "edtScore" << "九十" << "95.5" << "Score";
        QTest::newRow("amount") << "M6" << "edtPrice" << "abc" << "80" << "Price";
        QTest::newRow("date") << "M2" << "edtScoreDateTime" << "2007/13/45" << "2007/2/1" << "ScoreDateTime";
    }
    void refusedValueKeepsTheRow()
    {
        QFETCH(QString, menu);
        QFETCH(QString, field);
        QFETCH(QString, bad);
        QFETCH(QString, good);
        QFETCH(QString, column);
        const WindowKind &k = kind(menu);
        // Each value with its type, as stored.
        const QString values = QStringLiteral("SELECT typeof(%1) || ':' || coalesce(CAST(%1 AS TEXT), '') || Remark FROM %2 ORDER BY rowid")
                                   .arg(column, k.table);
        const QStringList before = ws->query(values);
        TfrmRecordPages *w = open(menu);
        auto *edit = w->findChild<DBEdit *>(field);
        auto *remark = w->findChild<DBMemo *>(QStringLiteral("edtRemark"));
        QVERIFY(edit && remark);
        const QString shown = edit->text();

        // Modify: refused, the row keeps its state and the typed values.
        edit->selectAll();
        testsupport::typeText(edit, bad);
        testsupport::typeText(remark, QStringLiteral("注"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY2(recorder->last().text.contains(bad), qPrintable(recorder->last().text));
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(edit->text(), bad);
        QVERIFY(remark->toPlainText().contains(QStringLiteral("注")));
        click(w->btnCancel);
        QCOMPARE(edit->text(), shown);
        QCOMPARE(ws->query(values), before);

        // Add: refused, corrected, stored with every value.
        click(w->btnAdd);
        testsupport::typeText(remark, QStringLiteral("新"));
        testsupport::typeText(edit, bad);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(edit->text(), bad);
        QCOMPARE(remark->toPlainText(), QStringLiteral("新"));
        edit->selectAll();
        testsupport::typeText(edit, good);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM %1 WHERE Remark = '新' AND %2 IS NOT NULL").arg(k.table, column)),
                 QStringList{"1"});
    }

    // ---- the query page ------------------------------------------------------

    void queryFindsRowsAndKeepsThemOnFailure()
    {
        TfrmRecordPages *w = open("M2");
        // No item: nothing happens.
        pick(w->cmbxCondition, QStringLiteral("="));
        w->cmbxValues->setEditText(QStringLiteral("2007001"));
        click(w->btnFind);
        QCOMPARE(w->resultSource()->dataSet(), nullptr);
        QCOMPARE(recorder->messages.size(), 0);

        find(w, QStringLiteral("姓名"), QStringLiteral("Like"), QStringLiteral("王"));
        QCOMPARE(resultRemarks(w), QStringList({"s1"}));
        QCOMPARE(w->DBGrid2->model()->index(0, 0).data().toString(), QStringLiteral("2007001"));
        find(w, QStringLiteral("姓名"), QStringLiteral("="), QStringLiteral("O'Neil"));
        QCOMPARE(resultRemarks(w), QStringList({"s3"}));
        find(w, QStringLiteral("科目"), QStringLiteral(">"), QStringLiteral("2007001.语文"));
        QCOMPARE(resultRemarks(w), QStringList({"s2", "s3"}));
        find(w, QStringLiteral("班级"), QStringLiteral("="), QStringLiteral("2007001.一班"));
        QCOMPARE(resultRemarks(w), QStringList({"s1", "s2"}));
        QCOMPARE(recorder->messages.size(), 0);

        // No condition: the database rejects the statement; the error is reported
        // and the grid keeps its rows.
        w->cmbxCondition->setCurrentIndex(-1);
        click(w->btnFind);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(recorder->last().buttons, QMessageBox::Ok);
        QCOMPARE(resultRemarks(w), QStringList({"s1", "s2"}));

        // A row saved on the first page shows in the result only at the next query.
        click(w->btnAdd);
        frmStudentScore->cmbxClassName->pickRow(0);
        testsupport::typeText(frmStudentScore->edtRemark, QStringLiteral("新"));
        click(w->btnSave);
        QCOMPARE(resultRemarks(w), QStringList({"s1", "s2"}));
        pick(w->cmbxCondition, QStringLiteral("="));
        click(w->btnFind);
        QCOMPARE(resultRemarks(w).size(), 3);
        QVERIFY(resultRemarks(w).contains(QStringLiteral("新")));
        // Values that look like SQL are compared as text and change nothing.
        find(w, QStringLiteral("学号"), QStringLiteral("="), QStringLiteral("x'; DELETE FROM Score; --"));
        QCOMPARE(resultRemarks(w), QStringList());
        find(w, QStringLiteral("姓名"), QStringLiteral("Like"), QStringLiteral("%_;'王"));
        QCOMPARE(resultRemarks(w), QStringList());
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(stored("SELECT count(*) FROM Score"), QStringLiteral("4"));
    }

    // The result is a query over two tables: it shows rows, it does not
    // delete them. Ctrl+Del asks nothing and says so in the status bar.
    void resultGridRefusesDeletion()
    {
        TfrmRecordPages *w = open("M6");
        find(w, QStringLiteral("学号"), QStringLiteral("Like"), QStringLiteral("2007%"));
        QCOMPARE(resultRemarks(w), QStringList({"p1", "p2"}));
        w->DBGrid2->setCurrentIndex(w->DBGrid2->model()->index(0, 0));
        const int before = recorder->messages.size();
        QTest::keyClick(w->DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(recorder->messages.size(), before);
        QCOMPARE(frmTeachMain->statusBar()->currentMessage(), QStringLiteral("查询结果是只读的，不能在这里删除记录。"));
        QCOMPARE(resultRemarks(w), QStringList({"p1", "p2"}));
        QCOMPARE(stored("SELECT count(*) FROM Price"), QStringLiteral("2"));
    }

    void dormAndPaymentQueries()
    {
        TfrmRecordPages *dorm = open("M5");
        find(dorm, QStringLiteral("宿舍编号"), QStringLiteral("="), QStringLiteral("2007003"));
        QCOMPARE(resultRemarks(dorm), QStringList({"d2"}));
        dorm->cmbxValues->setCurrentIndex(0);  // "2007001.一号楼101"
        click(dorm->btnFind);
        QCOMPARE(resultRemarks(dorm), QStringList({"d1"}));
        find(dorm, QStringLiteral("姓名"), QStringLiteral("="), QStringLiteral("李四"));
        QCOMPARE(resultRemarks(dorm), QStringList({"d2"}));
        QCOMPARE(titles(dorm->DBGrid2), kind("M5").titles2);

        TfrmRecordPages *price = open("M6");
        find(price, QStringLiteral("学号"), QStringLiteral("Like"), QStringLiteral("2007%"));
        QCOMPARE(resultRemarks(price), QStringList({"p1", "p2"}));
        find(price, QStringLiteral("姓名"), QStringLiteral("Like"), QStringLiteral("小"));
        QCOMPARE(resultRemarks(price), QStringList({"p1"}));
        QCOMPARE(recorder->messages.size(), 0);
    }

    // ---- the menu ------------------------------------------------------------

    void oneInstanceEachBroughtToFront()
    {
        for (const char *item : {"M2", "M5", "M6"})
            QVERIFY(frmTeachMain->menuItem(QString::fromLatin1(item))->isEnabled());
        TfrmRecordPages *score = open("M2");
        TfrmRecordPages *dorm = open("M5");
        TfrmRecordPages *price = open("M6");
        QVERIFY(score && dorm && price);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 3);
        QCOMPARE(open("M2"), score);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 3);
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), score->mdiSubWindow());
        // Closing drops a pending row without a question and empties the reference.
        click(score->btnAdd);
        testsupport::typeText(frmStudentScore->edtRemark, QStringLiteral("未保存"));
        score->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(frmStudentScore.isNull());
        QCOMPARE(stored("SELECT count(*) FROM Score"), QStringLiteral("3"));
        dorm->mdiSubWindow()->close();
        price->mdiSubWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(frmDormManager.isNull() && frmCapturePrice.isNull());
        QVERIFY(open("M5"));
        QCOMPARE(recorder->messages.size(), 0);
    }
};

QTEST_MAIN(StudentWindowsTest)
#include "tst_studentwindows.moc"
