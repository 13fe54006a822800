// The course windows: the course query's statement and the rows it finds
// (identifier items, the begin-date range, inner joins, quotes, a refused
// statement), and the arrangement window (record sets opened on first show,
// the record commands, the date buttons, lookups, tab and button order).
#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/QueryStatement.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/courses/FindSubject_Unit.h"
#include "forms/courses/PlanSubject_Unit.h"
#include "gui/Shell_Unit.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using dravon::DataSetState;
using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

// The base statement, character for character.
const QString base = QStringLiteral(
    "Select A.Term,A.Remark,B.SubName,C.StuName,D.TchName ,A.BeginTime ,A.EndTime From Course A  ,SubjectInfo B   "
    ",StudentInfo C   ,TeacherInfo D   where A.SubjectID = B.SubjectID and A.StudentID = C.StudentID and "
    "A.TeacherID = D.TeacherID");

// Masters and arrangements with known remarks; the last three refer to a
// student, subject or teacher that does not exist.
const char *courseRows = R"SQL(
INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007001', '甲'), ('2007002', '乙'), ('20''07', '引号');
INSERT INTO SubjectInfo (SubjectID, SubName) VALUES ('2007001', '数学'), ('2007002', '英语');
INSERT INTO TeacherInfo (TeacherID, TchName) VALUES ('2007001', '张'), ('2007002', '陈');
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark) VALUES
  ('2007001', '2007001', '2007001', '第一学期', '2007-09-01', '2008-01-15', 'r1'),
  ('2007002', '2007002', '2007002', '第二学期', '2007-09-15', '2007-09-20', 'r2'),
  ('2007001', '2007002', '2007001', '第一学期', '2007-10-01', '2007-09-10', 'r3'),
  ('2007002', '2007001', '2007001', '第一学期', '2007-08-01', '2007-09-10', 'r4'),
  ('20''07',  '2007001', '2007002', '第三学期', '2007-09-16', NULL, 'quote'),
  ('2009999', '2007001', '2007001', '第一学期', '2007-09-05', NULL, 'no-student'),
  ('2007001', '2009999', '2007001', '第一学期', '2007-09-05', NULL, 'no-subject'),
  ('2007001', '2007001', '2009999', '第一学期', '2007-09-05', NULL, 'no-teacher');
)SQL";

void click(QPushButton *button)
{
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

}

class CourseWindowsTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmPlanSubject *openPlan()
    {
        frmTeachMain->menuItem(QStringLiteral("N6"))->trigger();
        QCoreApplication::processEvents();
        return frmPlanSubject.data();
    }
    TfrmFindSubject *openFind()
    {
        frmTeachMain->menuItem(QStringLiteral("N7"))->trigger();
        QCoreApplication::processEvents();
        return frmFindSubject.data();
    }
    static DataSetState state(TfrmPlanSubject *w) { return w->DataPlanSubject->state(); }
    QString stored(const QString &sql) { return ws->query(sql).value(0); }
    // One column of every row a grid shows, by its title.
    static QStringList column(QTableView *grid, const QString &title)
    {
        QAbstractItemModel *m = grid->model();
        for (int c = 0; c < m->columnCount(); ++c)
            if (m->headerData(c, Qt::Horizontal).toString() == title) {
                QStringList values;
                for (int r = 0; r < m->rowCount(); ++r)
                    values << m->index(r, c).data().toString();
                return values;
            }
        return {QStringLiteral("<no column %1>").arg(title)};
    }
    static QStringList titles(QTableView *grid)
    {
        QStringList list;
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            list << grid->model()->headerData(c, Qt::Horizontal).toString();
        return list;
    }
    // Runs a query through the window and returns the remarks of the rows found.
    QStringList find(const QString &item, const QString &value, const QDate &begin = QDate(2007, 9, 15),
                     const QDate &end = QDate(2007, 9, 15))
    {
        TfrmFindSubject *w = frmFindSubject ? frmFindSubject.data() : openFind();
        w->cmbxItmes->setEditText(item);
        w->edtValues->setText(value);
        w->dtpBeginDate->setDate(begin);
        w->dtpEndDate->setDate(end);
        QTest::mouseClick(w->btnFind, Qt::LeftButton);
        return sorted(column(w->DBGrid1, QStringLiteral("备注")));
    }
    // Chooses a term as the user does.
    static void pickTerm(TfrmPlanSubject *w, const QString &term)
    {
        const int index = w->cmbxTerm->findText(term);
        QVERIFY(index >= 0);
        w->cmbxTerm->setCurrentIndex(index);
        emit w->cmbxTerm->activated(index);
    }
    static void pickDate(QPushButton *button, const QDate &date)
    {
        testsupport::whenModal<TfrmDateChoice>([date](TfrmDateChoice *dialog) {
            dialog->MonthCalendar1->setSelectedDate(date);
            emit dialog->MonthCalendar1->clicked(date);
        });
        click(button);
    }
    // The widgets Tab visits, from start, until the chain comes back.
    static QList<QWidget *> tabChain(QWidget *start, int count)
    {
        QList<QWidget *> chain{start};
        QWidget *w = start;
        while (chain.size() < count) {
            w = w->nextInFocusChain();
            if (w == start)
                break;
            if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(w->window())
                && !w->focusProxy())
                chain << w;
        }
        return chain;
    }

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }

    // The arrangement window reads its tables when it is first on screen,
    // so the main window is shown (after its login).
    void init() { startProgram({}, Screen::LoggedIn); }

    void cleanup() { stopProgram(); }

    // ---- the course query's statement --------------------------------------

    void statementText_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QDate>("begin");
        QTest::addColumn<QDate>("end");
        QTest::addColumn<QString>("statement");
        const QDate d(2007, 9, 15);
        QTest::newRow("subject") << "科目编号" << "2007001" << d << d << base + " and A.SubjectID = '2007001'";
        QTest::newRow("student") << "学号" << "2007001" << d << d << base + " and A.StudentID = '2007001'";
        QTest::newRow("teacher") << "教师编号" << "2007001" << d << d << base + " and A.TeacherID = '2007001'";
        QTest::newRow("value as typed") << "学号" << " 2007001 " << d << d << base + " and A.StudentID = ' 2007001 '";
        QTest::newRow("empty value") << "教师编号" << "" << d << d << base + " and A.TeacherID = ''";
        QTest::newRow("quote doubled") << "学号" << "O'Neil" << d << d << base + " and A.StudentID = 'O''Neil'";
        QTest::newRow("date range") << "" << "" << QDate(2007, 9, 1) << QDate(2007, 12, 31)
                                    << base + " and A.BeginTime between #2007/9/1# and #2007/12/31#";
        QTest::newRow("begin after end") << "" << "" << QDate(2008, 1, 2) << QDate(2007, 1, 1)
                                         << base + " and A.BeginTime between #2008/1/2# and #2007/1/1#";
        QTest::newRow("value without item") << "" << "2007001" << d << d << base;
        QTest::newRow("unknown item") << "姓名" << "甲" << d << d << base;
        QTest::newRow("unknown item, empty value") << "姓名" << "" << d << d << base;
        QTest::newRow("item with a blank") << "学号 " << "2007001" << d << d << base;
        QTest::newRow("item in part") << "学" << "2007001" << d << d << base;
    }
    void statementText()
    {
        QFETCH(QString, item);
        QFETCH(QString, value);
        QFETCH(QDate, begin);
        QFETCH(QDate, end);
        QFETCH(QString, statement);
        QCOMPARE(dravon::CourseQueryStatement(item, value, begin, end), statement);
    }

    void statementDatesFollowTheShortDateFormat()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("dd.MM.yyyy"));
        const QString sql = dravon::CourseQueryStatement({}, {}, QDate(2007, 9, 5), QDate(2007, 10, 1));
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        QVERIFY(sql.endsWith(QStringLiteral(" and A.BeginTime between #05.09.2007# and #01.10.2007#")));
    }

    // ---- the course query's rows -------------------------------------------

    void queryWindowStartsEmpty()
    {
        TfrmFindSubject *w = openFind();
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("排课查询"));
        QCOMPARE(w->DataFindPlan->dataSet(), nullptr);
        QCOMPARE(w->DBGrid1->model()->rowCount(), 0);
        QCOMPARE(titles(w->DBGrid1),
                 QStringList({"学生姓名", "科目", "任课老师", "学期", "备注", "课程起始日期", "课程结束日期"}));
        QVERIFY(w->cmbxItmes->isEditable());
        QCOMPARE(w->cmbxItmes->currentText(), QString());
        QStringList items;
        for (int i = 0; i < w->cmbxItmes->count(); ++i)
            items << w->cmbxItmes->itemText(i);
        QCOMPARE(items, QStringList({"科目编号", "学号", "教师编号"}));
        QCOMPARE(w->edtValues->text(), QString());
        QCOMPARE(w->btnFind->text(), QStringLiteral("查询(&F)"));
        QCOMPARE(w->dtpBeginDate->date(), QDate(2007, 9, 15));
        QCOMPARE(w->dtpEndDate->date(), QDate(2007, 9, 15));
        QCOMPARE(w->Label1->text(), QStringLiteral("查询条目："));
        QCOMPARE(w->Label2->text(), QStringLiteral("条 件 值："));
        QCOMPARE(w->Label3->text(), QStringLiteral("起始时间："));
        QCOMPARE(w->Label4->text(), QStringLiteral("结束时间："));
        QCOMPARE(tabChain(w->cmbxItmes, 5),
                 QList<QWidget *>({w->cmbxItmes, w->edtValues, w->btnFind, w->dtpBeginDate, w->dtpEndDate}));
    }

    void identifierItemsFindTheirRows_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("remarks");
        QTest::newRow("student") << "学号" << "2007001" << QStringList{"r1", "r3"};
        QTest::newRow("subject") << "科目编号" << "2007002" << QStringList{"r2", "r3"};
        QTest::newRow("teacher") << "教师编号" << "2007002" << QStringList{"quote", "r2"};
        QTest::newRow("quote searched literally") << "学号" << "20'07" << QStringList{"quote"};
        QTest::newRow("item with empty value") << "学号" << "" << QStringList{};
        QTest::newRow("value as typed, blanks kept") << "学号" << "2007001 " << QStringList{};
        QTest::newRow("unknown item lists everything") << "姓名" << "甲"
                                                       << QStringList{"quote", "r1", "r2", "r3", "r4"};
        QTest::newRow("value without item lists everything") << "" << "2007001"
                                                             << QStringList{"quote", "r1", "r2", "r3", "r4"};
    }
    void identifierItemsFindTheirRows()
    {
        QFETCH(QString, item);
        QFETCH(QString, value);
        QFETCH(QStringList, remarks);
        ws->exec(QString::fromUtf8(courseRows));
        // The dates would find nothing: only the identifier decides.
        QCOMPARE(find(item, value, QDate(2001, 1, 1), QDate(2001, 1, 2)), remarks);
        QCOMPARE(recorder->messages.size(), 0);
    }

    void namesOfTheFoundRows()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmFindSubject *w = openFind();
        find(QStringLiteral("科目编号"), QStringLiteral("2007001"));
        // Rows come in the engine's order: compare them as a set of whole rows.
        const QStringList titlesInOrder = {"备注", "学生姓名", "科目", "任课老师", "学期", "课程起始日期", "课程结束日期"};
        QStringList rows;
        for (int r = 0; r < w->DBGrid1->model()->rowCount(); ++r) {
            QStringList cells;
            for (const QString &title : titlesInOrder)
                cells << column(w->DBGrid1, title).value(r);
            rows << cells.join(QLatin1Char('|'));
        }
        QCOMPARE(sorted(rows), QStringList({"quote|引号|数学|陈|第三学期|2007/9/16|",
                                            "r1|甲|数学|张|第一学期|2007/9/1|2008/1/15",
                                            "r4|乙|数学|张|第一学期|2007/8/1|2007/9/10"}));
    }

    void beginDateRangeIncludesBothBounds_data()
    {
        QTest::addColumn<QDate>("begin");
        QTest::addColumn<QDate>("end");
        QTest::addColumn<QStringList>("remarks");
        // r3 ends inside the range and r4 ends inside it too, but both begin
        // outside: the end date plays no part. r2 ends after the range.
        QTest::newRow("both bounds") << QDate(2007, 9, 1) << QDate(2007, 9, 15) << QStringList{"r1", "r2"};
        QTest::newRow("one day") << QDate(2007, 9, 15) << QDate(2007, 9, 15) << QStringList{"r2"};
        QTest::newRow("between the bounds only") << QDate(2007, 9, 2) << QDate(2007, 9, 14) << QStringList{};
        QTest::newRow("wide") << QDate(2007, 1, 1) << QDate(2007, 12, 31)
                              << QStringList{"quote", "r1", "r2", "r3", "r4"};
        QTest::newRow("begin after end") << QDate(2007, 12, 31) << QDate(2007, 1, 1) << QStringList{};
    }
    void beginDateRangeIncludesBothBounds()
    {
        QFETCH(QDate, begin);
        QFETCH(QDate, end);
        QFETCH(QStringList, remarks);
        ws->exec(QString::fromUtf8(courseRows));
        QCOMPARE(find(QString(), QString(), begin, end), remarks);
        QCOMPARE(recorder->messages.size(), 0);
    }

    void refusedStatementKeepsThePreviousResult()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmFindSubject *w = openFind();
        QCOMPARE(find(QStringLiteral("学号"), QStringLiteral("2007001")), QStringList({"r1", "r3"}));
        dravon::RecordSet *before = w->DataFindPlan->dataSet();
        // Another program drops a table the statement joins.
        ws->exec("DROP TABLE TeacherInfo");
        QCOMPARE(find(QStringLiteral("学号"), QStringLiteral("2007002")), QStringList({"r1", "r3"}));
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY2(recorder->last().text.contains(QLatin1String("TeacherInfo")), qPrintable(recorder->last().text));
        QCOMPARE(w->DataFindPlan->dataSet(), before);
    }

    void queryResultIsReadOnly()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmFindSubject *w = openFind();
        find(QStringLiteral("学号"), QStringLiteral("2007002"));
        QVERIFY(w->DataFindPlan->dataSet()->isReadOnly());
        QCOMPARE(w->DBGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(w->DBGrid1->selectionBehavior(), QAbstractItemView::SelectRows);
    }

    // ---- the arrangement window: opening -----------------------------------

    void recordSetsOpenOnFirstShowInOrder()
    {
        ws->exec(QString::fromUtf8(courseRows));
        auto *w = new TfrmPlanSubject(frmTeachMain);
        frmPlanSubject = w;
        auto opened = std::make_shared<QStringList>();
        for (DataSource *s : {w->DataPlanSubject, w->DataStudentID, w->DataSubjectID, w->DataTeacherID})
            connect(s, &DataSource::dataSetChanged, w, [s, opened] { *opened << s->objectName(); });
        w->FormCreate();
        QCOMPARE(*opened, QStringList());
        for (DataSource *s : {w->DataPlanSubject, w->DataStudentID, w->DataSubjectID, w->DataTeacherID})
            QCOMPARE(s->dataSet(), nullptr);

        w->showAsChild(frmTeachMain->mdiArea());
        QCOMPARE(*opened, QStringList({"DataPlanSubject", "DataStudentID", "DataSubjectID", "DataTeacherID"}));
        QCOMPARE(w->DataPlanSubject->dataSet()->sql(), QStringLiteral("Select * From Course"));
        QCOMPARE(w->DataStudentID->dataSet()->sql(), QStringLiteral("Select * From StudentInfo"));
        QCOMPARE(w->DataSubjectID->dataSet()->sql(), QStringLiteral("Select * From SubjectInfo"));
        QCOMPARE(w->DataTeacherID->dataSet()->sql(), QStringLiteral("Select * From TeacherInfo"));
        QCOMPARE(w->DBGrid1->model()->rowCount(), 8);

        // Shown again (restored after minimising): nothing is read again.
        w->mdiSubWindow()->showMinimized();
        w->mdiSubWindow()->showNormal();
        w->hide();
        w->show();
        QCOMPARE(opened->size(), 4);
        QCOMPARE(recorder->messages.size(), 0);
    }

    void failedOpeningIsReportedAndTheWindowStays()
    {
        ws->exec("DROP TABLE SubjectInfo");
        TfrmPlanSubject *w = openPlan();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QVERIFY(w->DataPlanSubject->dataSet());
        QVERIFY(w->DataStudentID->dataSet());
        QCOMPARE(w->DataSubjectID->dataSet(), nullptr);
    }

    void menuOpensOneOfEachInFront()
    {
        TfrmPlanSubject *plan = openPlan();
        TfrmFindSubject *query = openFind();
        QVERIFY(plan && query);
        QVERIFY(frmTeachMain->menuItem("N6")->isEnabled());
        QVERIFY(frmTeachMain->menuItem("N7")->isEnabled());
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), query->mdiSubWindow());
        QCOMPARE(openPlan(), plan);
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), plan->mdiSubWindow());
        QCOMPARE(openFind(), query);
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), query->mdiSubWindow());
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 2);

        plan->closeWindow();
        query->mdiSubWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(frmPlanSubject.data(), nullptr);
        QCOMPARE(frmFindSubject.data(), nullptr);
        QVERIFY(openPlan() && openFind());
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 2);
    }

    void closingDropsAPendingArrangement()
    {
        TfrmPlanSubject *w = openPlan();
        click(w->btnAdd);
        testsupport::typeText(w->edtBegin, QStringLiteral("2007/9/1"));
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(ws->query("SELECT count(*) FROM Course"), QStringList{"0"});
        QCOMPARE(recorder->messages.size(), 0);
    }

    // ---- the arrangement window: commands ----------------------------------

    void addPickAndSaveStoresTheArrangement()
    {
        ws->exec(QString::fromUtf8(courseRows));
        ws->exec("DELETE FROM Course");
        TfrmPlanSubject *w = openPlan();
        click(w->btnAdd);
        QCOMPARE(state(w), DataSetState::Insert);
        w->cmbxSubject->pickRow(1);
        w->cmbxTeacher->pickRow(0);
        w->cmbxStudentID->pickRow(2);
        pickTerm(w, QStringLiteral("第二学期"));
        pickDate(w->SpeedButton1, QDate(2007, 9, 3));
        QCOMPARE(w->edtBegin->text(), QStringLiteral("2007/9/3"));
        testsupport::typeText(w->edtEnd, QStringLiteral("2008/1/20"));
        testsupport::typeText(w->edtRemark, QStringLiteral("选修"));
        QCOMPARE(state(w), DataSetState::Insert);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(ws->query("SELECT StudentID || '|' || SubjectID || '|' || TeacherID || '|' || Term || '|' || "
                           "BeginTime || '|' || EndTime || '|' || Remark FROM Course"),
                 QStringList{"20'07|2007002|2007001|第二学期|2007-09-03|2008-01-20|选修"});
        QCOMPARE(column(w->DBGrid1, "课程起始时间"), QStringList{"2007/9/3"});
        QCOMPARE(column(w->DBGrid1, "学生编号"), QStringList{"20'07"});
    }

    void saveWhileBrowsingDoesNothing()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmPlanSubject *w = openPlan();
        const QStringList before = ws->query("SELECT Remark FROM Course ORDER BY rowid");
        click(w->btnSave);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(ws->query("SELECT Remark FROM Course ORDER BY rowid"), before);
        QCOMPARE(w->DataPlanSubject->dataSet()->recordCount(), 8);
        QCOMPARE(recorder->messages.size(), 0);
    }

    void modifyOnAnEmptyListStartsANewRow()
    {
        TfrmPlanSubject *w = openPlan();
        click(w->btnModify);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->DataPlanSubject->dataSet()->recordCount(), 1);
        testsupport::typeText(w->edtRemark, QStringLiteral("空表修改"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(ws->query("SELECT Remark FROM Course"), QStringList{"空表修改"});
    }

    void modifyTypeAndSave()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmPlanSubject *w = openPlan();
        click(w->btnModify);
        QCOMPARE(state(w), DataSetState::Edit);
        w->edtEnd->selectAll();
        testsupport::typeText(w->edtEnd, QStringLiteral("2008/2/1"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT EndTime FROM Course WHERE Remark = 'r1'"), QStringLiteral("2008-02-01"));
    }

    void refusedDateKeepsTheRowAndItsValues()
    {
        TfrmPlanSubject *w = openPlan();
        click(w->btnAdd);
        testsupport::typeText(w->edtBegin, QStringLiteral("明天"));
        testsupport::typeText(w->edtRemark, QStringLiteral("保留"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->edtBegin->text(), QStringLiteral("明天"));
        QCOMPARE(w->edtRemark->toPlainText(), QStringLiteral("保留"));
        QCOMPARE(ws->query("SELECT count(*) FROM Course"), QStringList{"0"});
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(w->DataPlanSubject->dataSet()->recordCount(), 0);
    }

    void deleteAsksAndObeysTheAnswer()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmPlanSubject *w = openPlan();
        recorder->answer(QMessageBox::No);
        click(w->btnDel);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().text, QStringLiteral("确定要删除此条记录?"));
        QCOMPARE(recorder->last().title, QStringLiteral("提示"));
        QCOMPARE(recorder->last().icon, QMessageBox::Information);
        QCOMPARE(recorder->last().buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(ws->query("SELECT count(*) FROM Course"), QStringList{"8"});

        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(1, 0));
        recorder->answer(QMessageBox::Yes);
        click(w->btnDel);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(ws->query("SELECT Remark FROM Course ORDER BY rowid"),
                 QStringList({"r1", "r3", "r4", "quote", "no-student", "no-subject", "no-teacher"}));
        QCOMPARE(w->DataPlanSubject->dataSet()->recordCount(), 7);
    }

    void cancelDropsAdditionAndModification()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmPlanSubject *w = openPlan();
        click(w->btnAdd);
        w->cmbxSubject->pickRow(0);
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(w->DataPlanSubject->dataSet()->recordCount(), 8);

        testsupport::typeText(w->edtRemark, QStringLiteral("改"));
        QCOMPARE(state(w), DataSetState::Edit);
        pickTerm(w, QStringLiteral("第四学期"));
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(w->edtRemark->toPlainText(), QStringLiteral("r1"));
        QCOMPARE(w->cmbxTerm->currentText(), QStringLiteral("第一学期"));
        QCOMPARE(ws->query("SELECT count(*) FROM Course"), QStringList{"8"});
        QCOMPARE(stored("SELECT Remark || Term FROM Course WHERE rowid = 1"), QStringLiteral("r1第一学期"));
        // Cancel with nothing pending does nothing.
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(recorder->messages.size(), 0);
    }

    // ---- the arrangement window: date buttons ------------------------------

    void dateButtonsNeverTakeTheFocus()
    {
        TfrmPlanSubject *w = openPlan();
        QCOMPARE(w->SpeedButton1->focusPolicy(), Qt::NoFocus);
        QCOMPARE(w->SpeedButton2->focusPolicy(), Qt::NoFocus);
        QVERIFY(!w->edtBegin->isReadOnly());
        QVERIFY(!w->edtEnd->isReadOnly());
        QCOMPARE(w->SpeedButton1->text(), QStringLiteral("…"));
        QApplication::setActiveWindow(frmTeachMain);
        w->cmbxTeacher->setFocus();
        QCoreApplication::processEvents();
        click(w->btnAdd);
        w->cmbxTeacher->setFocus();
        pickDate(w->SpeedButton2, QDate(2007, 12, 24));
        QCOMPARE(w->edtEnd->text(), QStringLiteral("2007/12/24"));
        QVERIFY(!w->SpeedButton2->hasFocus());
    }

    void datePickedAfterAddIsStoredOnSave()
    {
        TfrmPlanSubject *w = openPlan();
        click(w->btnAdd);
        pickDate(w->SpeedButton1, QDate(2007, 9, 1));
        pickDate(w->SpeedButton1, QDate(2007, 9, 2));
        testsupport::whenModal<TfrmDateChoice>([](TfrmDateChoice *dialog) { dialog->close(); });
        click(w->SpeedButton2);
        QCOMPARE(w->edtBegin->text(), QStringLiteral("2007/9/2"));
        QCOMPARE(w->edtEnd->text(), dravon::formatShortDate(QDate::currentDate()));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(ws->query("SELECT BeginTime || '|' || EndTime FROM Course"),
                 QStringList{"2007-09-02|" + QDate::currentDate().toString(Qt::ISODate)});
    }

    void datePickedWhileBrowsingIsOnlyShown()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmPlanSubject *w = openPlan();
        QCOMPARE(w->edtBegin->text(), QStringLiteral("2007/9/1"));
        pickDate(w->SpeedButton1, QDate(2007, 11, 11));
        QCOMPARE(w->edtBegin->text(), QStringLiteral("2007/11/11"));
        QCOMPARE(state(w), DataSetState::Browse);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT BeginTime FROM Course WHERE Remark = 'r1'"), QStringLiteral("2007-09-01"));
        // Shown again: the stored value comes back.
        click(w->btnModify);
        QCOMPARE(w->edtBegin->text(), QStringLiteral("2007/9/1"));
        click(w->btnSave);
        QCOMPARE(stored("SELECT BeginTime FROM Course WHERE Remark = 'r1'"), QStringLiteral("2007-09-01"));
        pickDate(w->SpeedButton2, QDate(2009, 1, 1));
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(1, 0));
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(0, 0));
        QCOMPARE(w->edtEnd->text(), QStringLiteral("2008/1/15"));
        QCOMPARE(stored("SELECT EndTime FROM Course WHERE Remark = 'r1'"), QStringLiteral("2008-01-15"));
    }

    // ---- the arrangement window: lookups, screen, order --------------------

    void lookupsShowNumberAndName()
    {
        ws->exec(QString::fromUtf8(courseRows));
        TfrmPlanSubject *w = openPlan();
        struct Case { DBLookupComboBox *box; QString number; QString name; int rows; };
        for (const Case &c : {Case{w->cmbxSubject, "2007001", "数学", 2}, Case{w->cmbxTeacher, "2007001", "张", 2},
                              Case{w->cmbxStudentID, "2007001", "甲", 3}}) {
            QCOMPARE(c.box->count(), c.rows);
            QCOMPARE(c.box->model()->columnCount(), 2);
            QCOMPARE(c.box->model()->index(0, 0).data().toString(), c.number);
            QCOMPARE(c.box->model()->index(0, 1).data().toString(), c.name);
            auto *list = qobject_cast<QTableView *>(c.box->view());
            QVERIFY(list);
            QCOMPARE(list->columnWidth(0) + list->columnWidth(1) + 4, 200);
            QCOMPARE(c.box->shownText(), c.number);
            QVERIFY(!c.box->isEditable());
        }
        // A row whose teacher is gone shows an empty box; picking writes the number.
        w->DBGrid1->setCurrentIndex(w->DBGrid1->model()->index(7, 0));
        QCOMPARE(w->cmbxTeacher->shownText(), QString());
        w->cmbxTeacher->pickRow(1);
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(stored("SELECT TeacherID FROM Course WHERE Remark = 'no-teacher'"), QStringLiteral("2007002"));
        // Lists are read when the window is shown.
        ws->exec("INSERT INTO SubjectInfo (SubjectID, SubName) VALUES ('2007003', '物理')");
        QCOMPARE(w->cmbxSubject->count(), 2);
    }

    void termIsAClosedList()
    {
        TfrmPlanSubject *w = openPlan();
        QVERIFY(!w->cmbxTerm->isEditable());
        QStringList items;
        for (int i = 0; i < w->cmbxTerm->count(); ++i)
            items << w->cmbxTerm->itemText(i);
        QCOMPARE(items, QStringList({"第一学期", "第二学期", "第三学期", "第四学期"}));
    }

    void captionLabelsGridAndRemark()
    {
        TfrmPlanSubject *w = openPlan();
        QCOMPARE(w->windowTitle(), QStringLiteral("选修排课"));
        QCOMPARE(w->mdiSubWindow()->windowTitle(), QStringLiteral("选修排课"));
        QCOMPARE(titles(w->DBGrid1),
                 QStringList({"学生编号", "科目编号", "教师编号", "学期", "课程起始时间", "课程结束日期"}));
        QCOMPARE(w->DBGrid1->objectName(), QStringLiteral("DBGrid1"));
        QCOMPARE(w->DBGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(w->DBGrid1->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(w->DBGrid1->model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignCenter));
        QCOMPARE(w->edtRemark->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        const QList<QPair<QLabel *, QString>> labels = {
            {w->Label1, "选修科目："}, {w->Label2, "老师选择："}, {w->Label3, "学生编号："}, {w->Label4, "备    注："},
            {w->Label5, "学期选择："}, {w->Label6, "上课时间："}, {w->Label7, "结束时间："}};
        for (const auto &l : labels)
            QCOMPARE(l.first->text(), l.second);
    }

    void screenLayout()
    {
        TfrmPlanSubject *w = openPlan();
        auto at = [w](QWidget *c) { return c->mapTo(w, QPoint(0, 0)); };
        auto left = [&](QWidget *a, QWidget *b) { return at(a).x() + a->width() <= at(b).x(); };
        auto sameRow = [&](QWidget *a, QWidget *b) { return qAbs(at(a).y() - at(b).y()) < 4; };
        auto above = [&](QWidget *a, QWidget *b) { return at(a).y() + a->height() <= at(b).y(); };
        // Left column: term, subject, begin date; right: student, teacher, end date.
        QVERIFY(above(w->cmbxTerm, w->cmbxSubject) && above(w->cmbxSubject, w->edtBegin));
        QVERIFY(above(w->cmbxStudentID, w->cmbxTeacher) && above(w->cmbxTeacher, w->edtEnd));
        QVERIFY(sameRow(w->cmbxTerm, w->cmbxStudentID) && left(w->cmbxTerm, w->cmbxStudentID));
        QVERIFY(sameRow(w->cmbxSubject, w->cmbxTeacher) && left(w->cmbxSubject, w->cmbxTeacher));
        QVERIFY(sameRow(w->edtBegin, w->edtEnd) && left(w->SpeedButton1, w->edtEnd));
        QVERIFY(left(w->edtBegin, w->SpeedButton1) && left(w->edtEnd, w->SpeedButton2));
        QVERIFY(left(w->Label5, w->cmbxTerm) && left(w->Label3, w->cmbxStudentID));
        // The remark spans both columns below them, above the grid.
        QVERIFY(above(w->edtBegin, w->edtRemark));
        QVERIFY(at(w->edtRemark).x() <= at(w->cmbxTerm).x());
        QVERIFY(at(w->edtRemark).x() + w->edtRemark->width() >= at(w->SpeedButton2).x() + w->SpeedButton2->width());
        QVERIFY(above(w->edtRemark, w->DBGrid1));
        // The buttons in one row below the grid.
        const QList<QPushButton *> buttons = {w->btnAdd, w->btnModify, w->btnDel, w->btnCancel, w->btnSave};
        const QStringList captions = {"添加(&A)", "修改(&M)", "删除(&D)", "取消(&C)", "保存(&S)"};
        for (int i = 0; i < buttons.size(); ++i) {
            QCOMPARE(buttons[i]->text(), captions[i]);
            QVERIFY(above(w->DBGrid1, buttons[i]));
            if (i > 0)
                QVERIFY(sameRow(buttons[i - 1], buttons[i]) && left(buttons[i - 1], buttons[i]));
        }
    }

    void tabOrder()
    {
        TfrmPlanSubject *w = openPlan();
        const QList<QWidget *> expected = {w->cmbxSubject, w->cmbxTeacher, w->cmbxStudentID, w->edtRemark,
                                           w->cmbxTerm,    w->edtBegin,    w->edtEnd};
        QCOMPARE(tabChain(w->cmbxSubject, expected.size()), expected);
        // Tab in the remark box moves on instead of typing a tab.
        QVERIFY(w->edtRemark->tabChangesFocus());
    }
};

QTEST_MAIN(CourseWindowsTest)
#include "tst_coursewindows.moc"
