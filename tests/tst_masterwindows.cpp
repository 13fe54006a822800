// The seven master-data windows driven through the main window's menu: the
// identifier rule, the Add/Modify/Delete/Save/Cancel protocol, refusals,
// the date boxes, the lookups, the users window with the login, and how the
// windows are opened, reused and closed.
#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "gui/Shell_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/KeyOrder.h"
#include "data/RowSource.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/master/ClassSet_Unit.h"
#include "forms/master/CollegeSet_Unit.h"
#include "forms/master/DormSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/master/SubjectSet_Unit.h"
#include "forms/master/TeacherSet_Unit.h"
#include "forms/master/UserSet_Unit.h"
#include "gui/WorkProgress.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QCalendarWidget>
#include <QHeaderView>
#include <QProgressDialog>
#include <QTableView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>

using dravon::DataSetState;
using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

struct WindowKind
{
    QString menu;
    QString table;
    QString idColumn;
    QString nameColumn;
    QString seed;
    QString caption;
    QStringList titles;
    std::function<TfrmDictionaryBase *()> window;
};

const QList<WindowKind> &kinds()
{
    static const QList<WindowKind> list = {
        {"D2", "TeacherInfo", "TeacherID", "TchName", "2007001", "老师信息维护",
         {"编号", "姓名", "性别", "年龄", "职务", "联系方式", "备注"}, [] { return frmTeacherSet.data(); }},
        {"D3", "StudentInfo", "StudentID", "StuName", "2007001", "学生信息维护",
         {"学好", "姓名", "性别", "年龄", "班级编号", "入学时间", "毕业时间", "联系方式", "备注"},
         [] { return frmStudentSet.data(); }},
        {"D4", "SubjectInfo", "SubjectID", "SubName", "2007001", "教学科目维护", {"编号", "科目", "学分", "备注"},
         [] { return frmSubjectSet.data(); }},
        {"D5", "GradeInfo", "GradeID", "GrdName", "2007001", "学院信息维护", {"编号", "名称", "备注"},
         [] { return frmCollegeSet.data(); }},
        {"D6", "ClassInfo", "ClassID", "ClaName", "2007001", "班级信息维护", {"编号", "所属院系编号", "班级名称", "备注"},
         [] { return frmClassSet.data(); }},
        {"D7", "DormInfo", "DormID", "DormName", "2007001", "宿舍信息维护", {"编号", "名称", "备注"},
         [] { return frmDormSet.data(); }},
        {"S3", "User", "UserID", "UserName", "1001", "用户管理维护", {"登录编号", "用户名", "密码", "备注"},
         [] { return frmUserSet.data(); }},
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

QString quoted(const QString &table)
{
    return QStringLiteral("\"%1\"").arg(table);
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

}

class MasterWindowsTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmDictionaryBase *open(const QString &menu)
    {
        frmTeachMain->menuItem(menu)->trigger();
        QCoreApplication::processEvents();
        return kind(menu).window();
    }
    static dravon::RecordSet *rs(TfrmDictionaryBase *w) { return w->mainSource()->dataSet(); }
    static DataSetState state(TfrmDictionaryBase *w) { return w->mainSource()->state(); }
    QStringList storedIds(const WindowKind &k)
    {
        return ws->query(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(k.idColumn, quoted(k.table)));
    }
    QString stored(const QString &sql) { return ws->query(sql).value(0); }
    // Replaces the table's rows with the given identifiers (names "名<id>").
    void seed(const WindowKind &k, const QStringList &ids)
    {
        ws->exec(QStringLiteral("DELETE FROM %1").arg(quoted(k.table)));
        for (const QString &id : ids)
            ws->exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ('%4', '名%4')")
                         .arg(quoted(k.table), k.idColumn, k.nameColumn, id));
    }
    static QString gridText(TfrmDictionaryBase *w, int row, const QString &title)
    {
        QAbstractItemModel *m = w->DBGrid->model();
        for (int c = 0; c < m->columnCount(); ++c)
            if (m->headerData(c, Qt::Horizontal).toString() == title)
                return m->index(row, c).data().toString();
        return QStringLiteral("<no column %1>").arg(title);
    }
    static void selectRow(TfrmDictionaryBase *w, int row)
    {
        w->DBGrid->setCurrentIndex(w->DBGrid->model()->index(row, 0));
        QCOMPARE(rs(w)->recNo(), row);
    }
    // Makes a row current as a person does: a click on it in the grid.
    static void clickRow(TfrmDictionaryBase *w, int row)
    {
        const QRect cell = w->DBGrid->visualRect(w->DBGrid->model()->index(row, 1));
        QVERIFY(cell.isValid());
        QTest::mouseClick(w->DBGrid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(rs(w)->recNo(), row);
    }
    bool login(const QString &user, const QString &password)
    {
        std::unique_ptr<TfrmLogin> dialog(new TfrmLogin(nullptr));
        dialog->edtUserID->setText(user);
        dialog->edtUserPwd->setText(password);
        dialog->btnLogin->click();
        return dialog->result() == QDialog::Accepted;
    }
    static void pickDate(QPushButton *button, const QDate &date)
    {
        testsupport::whenModal<TfrmDateChoice>([date](TfrmDateChoice *dialog) {
            dialog->MonthCalendar1->setSelectedDate(date);
            emit dialog->MonthCalendar1->clicked(date);
        });
        click(button);
    }

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }

    void init() { startProgram(); }

    void cleanup()
    {
        dravon::KeyOrder::holdForTesting(false);
        dravon::RowSource::setSortHereLimitForTesting(dravon::RowSource::defaultSortHereLimit);
        WorkProgress::setShowDelay(400);
        stopProgram();
    }

    // A click on a column title of a large table paints the first rows of
    // the new order at once while the whole order is still being read: the
    // current record stays current where it now stands, Ctrl+End and
    // Ctrl+Home reach the last and first rows at once, and PageDown past
    // the rows known waits with the sort's progress, whose 取消 keeps the
    // current record; asked again, the rows come in order.
    void largeSortPaintsItsFirstRowsAtOnce()
    {
        stopProgram();
        startProgram(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                    "INSERT INTO TeacherInfo (TeacherID, TchName) SELECT 2007000 + i, '名' || (i * 7919 % 997) FROM n"),
                     Screen::LoggedIn);
        const QStringList expected = ws->query(QStringLiteral("SELECT TeacherID FROM TeacherInfo ORDER BY TchName, rowid"));
        QCOMPARE(expected.size(), 3000);
        dravon::RowSource::setSortHereLimitForTesting(0);
        TfrmDictionaryBase *w = open(QStringLiteral("D2"));
        QVERIFY(w && QTest::qWaitForWindowExposed(w));
        QTableView *grid = w->DBGrid;
        auto visibleRowsInOrder = [&] {
            QCoreApplication::processEvents();
            const int top = grid->rowAt(0);
            const int bottom = grid->rowAt(grid->viewport()->height() - 1);
            if (top < 0 || bottom <= top)
                return false;
            for (int row = top; row <= bottom; ++row)
                if (gridText(w, row, QStringLiteral("编号")) != expected[row])
                    return false;
            return true;
        };
        clickRow(w, 4);
        const QString current = w->txtID->text();
        QCOMPARE(current, QStringLiteral("2007005"));

        dravon::KeyOrder::holdForTesting(true);
        WorkProgress::setShowDelay(0);
        QHeaderView *header = grid->horizontalHeader();
        int nameColumn = 0;
        while (grid->model()->headerData(nameColumn, Qt::Horizontal).toString() != QStringLiteral("姓名"))
            ++nameColumn;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(nameColumn) + header->sectionSize(nameColumn) / 2,
                                 header->height() / 2));
        QVERIFY(rs(w)->orderPending());
        QCOMPARE(w->txtID->text(), current);
        QCOMPARE(grid->currentIndex().row(), int(expected.indexOf(current)));
        QVERIFY(visibleRowsInOrder());
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(w->txtID->text(), expected.last());
        QVERIFY(visibleRowsInOrder());
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(w->txtID->text(), expected.first());
        QVERIFY(visibleRowsInOrder());

        QString progressTitle;
        testsupport::whenModal<QProgressDialog>([&](QProgressDialog *dialog) {
            progressTitle = dialog->windowTitle();
            QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
        });
        int before = 0;
        while (rs(w)->recNo() >= before && progressTitle.isEmpty()) {
            before = rs(w)->recNo() + 1;
            QTest::keyClick(grid, Qt::Key_PageDown);
        }
        QCOMPARE(progressTitle, QStringLiteral("排序"));
        const int stayed = rs(w)->recNo();
        QVERIFY2(stayed > 0 && stayed < 128, qPrintable(QString::number(stayed)));
        QCOMPARE(w->txtID->text(), expected[stayed]);
        QVERIFY(rs(w)->orderPending());

        dravon::KeyOrder::holdForTesting(false);
        QTest::keyClick(grid, Qt::Key_PageDown);
        QVERIFY(!rs(w)->orderPending());
        QVERIFY(rs(w)->recNo() > stayed);
        QCOMPARE(w->txtID->text(), expected[rs(w)->recNo()]);
        QVERIFY(visibleRowsInOrder());
        QVERIFY2(recorder->messages.isEmpty(), qPrintable(recorder->texts().join('\n')));
    }

    // ---- identifiers -------------------------------------------------------

    void addOnEmptyTableGivesTheSeed_data() { addWindowRows(); }
    void addOnEmptyTableGivesTheSeed()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {});
        TfrmDictionaryBase *w = open(menu);
        QVERIFY(w);
        click(w->btnAdd);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->txtID->text(), k.seed);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(storedIds(k), QStringList{k.seed});
    }

    void addFollowsTheLargestStoredIdentifier_data() { addWindowRows(); }
    void addFollowsTheLargestStoredIdentifier()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {"2007003", "2007005", "2007001", "2007004", "2007002"});
        TfrmDictionaryBase *w = open(menu);
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007006"));
        QCOMPARE(rs(w)->fieldText(k.idColumn), QStringLiteral("2007006"));
        QCOMPARE(recorder->messages.size(), 0);
    }

    void userNumbersGrowPastFourDigits()
    {
        const WindowKind &k = kind("S3");
        seed(k, {"9999"});
        TfrmDictionaryBase *w = open("S3");
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("10000"));
        click(w->btnSave);
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("10001"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QStringList ids = storedIds(k);
        ids.sort();
        QCOMPARE(ids, QStringList({"10000", "10001", "9999"}));
    }

    void leadingZerosCountAsNumber()
    {
        const WindowKind &k = kind("D7");
        seed(k, {"0012", "9"});
        TfrmDictionaryBase *w = open("D7");
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("13"));
    }

    void identifierBeyondIntegerIsReported_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("largest");
        QTest::newRow("dorm-overflow") << "D7" << "99999999999";
        QTest::newRow("teacher-text") << "D2" << "abc";
        QTest::newRow("user-just-past-int32") << "S3" << "2147483648";
    }
    void identifierBeyondIntegerIsReported()
    {
        QFETCH(QString, menu);
        QFETCH(QString, largest);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001", largest});
        TfrmDictionaryBase *w = open(menu);
        click(w->btnAdd);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(recorder->last().text, QStringLiteral("'%1' is not a valid integer value").arg(largest));
        QCOMPARE(recorder->last().title, QStringLiteral("Veltrana"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->txtID->text(), QString());
        QCOMPARE(rs(w)->fieldText(k.idColumn), QString());
    }

    void deletedHighestIdentifierIsHandedOutAgain_data() { addWindowRows(); }
    void deletedHighestIdentifierIsHandedOutAgain()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001", "2007002", "2007003"});
        TfrmDictionaryBase *w = open(menu);
        selectRow(w, 2);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007003"));
        click(w->btnDel);
        QCOMPARE(storedIds(k), QStringList({"2007001", "2007002"}));
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007003"));
    }

    // ---- the editing protocol ----------------------------------------------

    void addThenAddStoresTheFirstRow_data() { addWindowRows(); }
    void addThenAddStoresTheFirstRow()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {});
        TfrmDictionaryBase *w = open(menu);
        click(w->btnAdd);
        click(w->btnAdd);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(storedIds(k), QStringList{k.seed});
        QCOMPARE(w->txtID->text(), QString::number(k.seed.toInt() + 1));
        QCOMPARE(state(w), DataSetState::Insert);
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedIds(k), QStringList{k.seed});
        QCOMPARE(rs(w)->recordCount(), 1);
    }

    void addThenCancelStoresNothing_data() { addWindowRows(); }
    void addThenCancelStoresNothing()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001"});
        TfrmDictionaryBase *w = open(menu);
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007002"));
        testsupport::typeText(w->edtName, QStringLiteral("临时"));
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedIds(k), QStringList{"2007001"});
        QCOMPARE(w->txtID->text(), QStringLiteral("2007001"));
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007001"));
        click(w->btnAdd);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007002"));
    }

    void deleteAsksAndObeysTheAnswer_data() { addWindowRows(); }
    void deleteAsksAndObeysTheAnswer()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001", "2007002"});
        TfrmDictionaryBase *w = open(menu);
        recorder->answer(QMessageBox::No);
        click(w->btnDel);
        QCOMPARE(recorder->messages.size(), 1);
        const testsupport::Message question = recorder->last();
        QCOMPARE(question.text, QStringLiteral("确定要删除此条记录?"));
        QCOMPARE(question.title, QStringLiteral("提示"));
        QCOMPARE(question.icon, QMessageBox::Information);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(storedIds(k), QStringList({"2007001", "2007002"}));
        QCOMPARE(rs(w)->recordCount(), 2);

        recorder->answer(QMessageBox::Yes);
        click(w->btnDel);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(storedIds(k), QStringList{"2007002"});
        QCOMPARE(rs(w)->recordCount(), 1);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007002"));
    }

    void deleteOnEmptyTableIsReported_data() { addWindowRows(); }
    void deleteOnEmptyTableIsReported()
    {
        QFETCH(QString, menu);
        seed(kind(menu), {});
        TfrmDictionaryBase *w = open(menu);
        click(w->btnDel);
        QCOMPARE(recorder->texts(), QStringList({"确定要删除此条记录?", "Cannot perform this operation on an empty dataset"}));
        QCOMPARE(recorder->last().title, QStringLiteral("Veltrana"));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
    }

    void deleteWhileAddingDropsOnlyTheNewRecord()
    {
        const WindowKind &k = kind("D5");
        seed(k, {"2007001", "2007002"});
        TfrmDictionaryBase *w = open("D5");
        click(w->btnAdd);
        testsupport::typeText(w->edtName, QStringLiteral("新学院"));
        click(w->btnDel);
        QCOMPARE(recorder->texts(), QStringList{"确定要删除此条记录?"});
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedIds(k), QStringList({"2007001", "2007002"}));
        QCOMPARE(rs(w)->recordCount(), 2);
    }

    void modifyOnEmptyTableStartsARecordWithoutIdentifier_data() { addWindowRows(); }
    void modifyOnEmptyTableStartsARecordWithoutIdentifier()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {});
        TfrmDictionaryBase *w = open(menu);
        click(w->btnModify);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->txtID->text(), QString());
        testsupport::typeText(w->edtName, QStringLiteral("无编号"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QVERIFY2(recorder->last().text.contains(k.idColumn), qPrintable(recorder->last().text));
        QVERIFY2(recorder->last().text.contains(QStringLiteral("不能为空")), qPrintable(recorder->last().text));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->edtName->text(), QStringLiteral("无编号"));
        QVERIFY(storedIds(k).isEmpty());
    }

    void cancelOfANewRecordAmongStoredRowsStoresNothing()
    {
        // The new record sits on a row of the grid; dropping it must not
        // make the grid move onto a neighbour, which would store it first.
        const WindowKind &k = kind("D4");
        seed(k, {"2007001", "2007002", "2007003"});
        TfrmDictionaryBase *w = open("D4");
        selectRow(w, 1);
        click(w->btnAdd);
        QCOMPARE(rs(w)->recNo(), 1);
        QCOMPARE(rs(w)->recordCount(), 4);
        click(w->btnCancel);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(rs(w)->recordCount(), 3);
        QCOMPARE(storedIds(k), QStringList({"2007001", "2007002", "2007003"}));
    }

    void deleteWhileEditingDeletesTheEditedRow()
    {
        const WindowKind &k = kind("D7");
        seed(k, {"2007001", "2007002"});
        TfrmDictionaryBase *w = open("D7");
        testsupport::typeText(w->edtName, QStringLiteral("改"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnDel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(storedIds(k), QStringList{"2007002"});
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007002"));
    }

    void everyBoundFieldStartsEditWhenTypedInto()
    {
        seed(kind("D2"), {"2007001"});
        TfrmDictionaryBase *w = open("D2");
        const QList<QWidget *> fields = {w->edtName, frmTeacherSet->edtAge, frmTeacherSet->edtAddress,
                                         frmTeacherSet->cmbxSex->lineEdit(), frmTeacherSet->cmbxDuty->lineEdit(),
                                         w->edtRemark};
        for (QWidget *field : fields) {
            QVERIFY(field);
            QCOMPARE(state(w), DataSetState::Browse);
            testsupport::typeText(field, QStringLiteral("7"));
            QVERIFY2(state(w) == DataSetState::Edit, qPrintable(field->objectName()));
            click(w->btnCancel);
        }
        testsupport::typeText(frmTeacherSet->edtAddress, QStringLiteral("010-1"));
        testsupport::typeText(frmTeacherSet->cmbxSex->lineEdit(), QStringLiteral("女"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT TchContact || '|' || TchSex FROM TeacherInfo"), QStringLiteral("010-1|女"));
    }

    void typingStartsEditCancelRestoresSaveStores_data() { addWindowRows(); }
    void typingStartsEditCancelRestoresSaveStores()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001"});
        TfrmDictionaryBase *w = open(menu);
        const QString nameSql = QStringLiteral("SELECT %1 FROM %2").arg(k.nameColumn, quoted(k.table));
        // Save while browsing does nothing and says nothing.
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);

        testsupport::typeText(w->edtName, QStringLiteral("改"));
        testsupport::typeText(w->edtRemark, QStringLiteral("备注"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007001"));
        QCOMPARE(w->edtRemark->toPlainText(), QString());
        QCOMPARE(stored(nameSql), QStringLiteral("名2007001"));

        testsupport::typeText(w->edtName, QStringLiteral("甲"));
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007001甲"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(stored(nameSql), QStringLiteral("名2007001甲"));
    }
    void refusedNumberKeepsEveryValue_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("bad");
        QTest::addColumn<QString>("good");
        QTest::addColumn<QString>("label");
        QTest::newRow("teacher age") << "D2" << "edtAge" << "TchAge" << "三十" << "30" << "年龄";
        QTest::newRow("subject credit") << "D4" << "edtSorce" << "CreditHour" << "abc" << "3.5" << "学分";
        QTest::newRow("student age") << "D3" << "edtAge" << "StuAge" << "x9" << "19" << "年龄";
    }
    void refusedNumberKeepsEveryValue()
    {
        QFETCH(QString, menu);
        QFETCH(QString, field);
        QFETCH(QString, column);
        QFETCH(QString, bad);
        QFETCH(QString, good);
        QFETCH(QString, label);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001"});
        TfrmDictionaryBase *w = open(menu);
        auto *number = w->findChild<QLineEdit *>(field);
        QVERIFY(number);
        const QString storedNumber = number->text();

        // In edit state: refused, every value kept, Cancel brings the stored row back.
        testsupport::typeText(w->edtName, QStringLiteral("乙"));
        number->clear();
        testsupport::typeText(number, bad);
        testsupport::typeText(w->edtRemark, QStringLiteral("注"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        // Named as the window names the column, not by its internal name.
        QVERIFY2(recorder->last().text.startsWith(QStringLiteral("字段 \"%1\" 不能接受值 \"%2\"").arg(label, bad)),
                 qPrintable(recorder->last().text));
        QVERIFY2(!recorder->last().text.contains(column), qPrintable(recorder->last().text));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(number->text(), bad);
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007001乙"));
        QCOMPARE(w->edtRemark->toPlainText(), QStringLiteral("注"));
        click(w->btnCancel);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(number->text(), storedNumber);
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007001"));

        // In insert state: refused, then a valid number stores the row with all its values.
        click(w->btnAdd);
        testsupport::typeText(w->edtName, QStringLiteral("丙"));
        testsupport::typeText(number, bad);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(state(w), DataSetState::Insert);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007002"));
        QCOMPARE(w->edtName->text(), QStringLiteral("丙"));
        QCOMPARE(number->text(), bad);
        number->selectAll();
        testsupport::typeText(number, good);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 2);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(stored(QStringLiteral("SELECT %1 || '|' || %2 FROM %3 WHERE %4 = '2007002'")
                            .arg(k.nameColumn, column, k.table, k.idColumn)),
                 QStringLiteral("丙|%1").arg(good));
    }

    // ---- the date boxes ----------------------------------------------------

    void dateBoxesRefuseTypingAndBrowsingPickIsOnlyShown()
    {
        seed(kind("D3"), {"2007001"});
        ws->exec("UPDATE StudentInfo SET InSchoolDate = '2006-09-01'");
        TfrmDictionaryBase *w = open("D3");
        for (DBEdit *box : {frmStudentSet->edtInDate, frmStudentSet->edtOutDate}) {
            QVERIFY(box->isReadOnly());
            testsupport::typeText(box, QStringLiteral("2007/1/1"));
        }
        QCOMPARE(frmStudentSet->edtOutDate->text(), QString());
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(frmStudentSet->btnInDate->focusPolicy(), Qt::NoFocus);
        QCOMPARE(frmStudentSet->btnOutDate->focusPolicy(), Qt::NoFocus);
        QCOMPARE(frmStudentSet->edtInDate->text(), QStringLiteral("2006/9/1"));
        pickDate(frmStudentSet->btnInDate, QDate(2007, 9, 1));
        QCOMPARE(frmStudentSet->edtInDate->text(), QStringLiteral("2007/9/1"));
        QCOMPARE(state(w), DataSetState::Browse);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT InSchoolDate FROM StudentInfo"), QStringLiteral("2006-09-01"));
        click(w->btnModify);
        QCOMPARE(frmStudentSet->edtInDate->text(), QStringLiteral("2006/9/1"));
        click(w->btnSave);
        QCOMPARE(stored("SELECT InSchoolDate FROM StudentInfo"), QStringLiteral("2006-09-01"));
    }

    void datePickedAfterAddIsStored()
    {
        seed(kind("D3"), {});
        TfrmDictionaryBase *w = open("D3");
        click(w->btnAdd);
        pickDate(frmStudentSet->btnInDate, QDate(2007, 9, 1));
        QCOMPARE(frmStudentSet->edtInDate->text(), QStringLiteral("2007/9/1"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT InSchoolDate FROM StudentInfo WHERE StudentID = '2007001'"),
                 QStringLiteral("2007-09-01"));
        QCOMPARE(frmStudentSet->edtInDate->text(), QStringLiteral("2007/9/1"));
        QCOMPARE(gridText(w, 0, "入学时间"), QStringLiteral("2007/9/1"));
    }

    void closingThePickerWritesToday()
    {
        seed(kind("D3"), {});
        TfrmDictionaryBase *w = open("D3");
        click(w->btnAdd);
        testsupport::whenModal<TfrmDateChoice>([](TfrmDateChoice *dialog) { dialog->close(); });
        click(frmStudentSet->btnOutDate);
        QCOMPARE(frmStudentSet->edtOutDate->text(), dravon::formatShortDate(QDate::currentDate()));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT OutSchoolDate FROM StudentInfo"), QDate::currentDate().toString(Qt::ISODate));
    }

    // ---- lookups -----------------------------------------------------------

    void studentClassLookup()
    {
        ws->exec("INSERT INTO ClassInfo VALUES ('2007001', NULL, '一班', NULL), ('2007002', NULL, '二班', NULL);"
                 "INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001', '甲', '2007001'),"
                 " ('2007002', '乙', '2009999');");
        TfrmDictionaryBase *w = open("D3");
        DBLookupComboBox *lookup = frmStudentSet->cmbxClass;
        QCOMPARE(lookup->shownText(), QStringLiteral("2007001"));
        selectRow(w, 1);
        QCOMPARE(lookup->shownText(), QString());
        QCOMPARE(gridText(w, 1, "班级编号"), QStringLiteral("2009999"));
        QCOMPARE(state(w), DataSetState::Browse);

        lookup->pickRow(1);
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(rs(w)->fieldText("ClassID"), QStringLiteral("2007002"));
        QCOMPARE(lookup->shownText(), QStringLiteral("2007002"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT ClassID FROM StudentInfo WHERE StudentID = '2007002'"), QStringLiteral("2007002"));

        // The list was read when the window opened.
        ws->exec("INSERT INTO ClassInfo VALUES ('2007003', NULL, '三班', NULL)");
        QCOMPARE(lookup->count(), 2);
        lookup->pickRow(2);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(stored("SELECT ClassID FROM StudentInfo WHERE StudentID = '2007002'"), QStringLiteral("2007002"));
    }

    void classCollegeLookup()
    {
        ws->exec("INSERT INTO GradeInfo VALUES ('2007001', '计算机学院', NULL), ('2007002', '外语学院', NULL);"
                 "INSERT INTO ClassInfo VALUES ('2007001', '2007002', '一班', NULL), ('2007002', '2001', '二班', NULL);");
        TfrmDictionaryBase *w = open("D6");
        DBLookupComboBox *lookup = frmClassSet->cmbxCollege;
        QCOMPARE(lookup->shownText(), QStringLiteral("2007002"));
        selectRow(w, 1);
        QCOMPARE(lookup->shownText(), QString());
        QCOMPARE(gridText(w, 1, "所属院系编号"), QStringLiteral("2001"));
        lookup->pickRow(0);
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(lookup->shownText(), QStringLiteral("2007001"));
        click(w->btnSave);
        QCOMPARE(stored("SELECT GradeID FROM ClassInfo WHERE ClassID = '2007002'"), QStringLiteral("2007001"));
    }

    // ---- the users window and the login ------------------------------------

    void passwordsAreShownAndTakeEffectAtNextLogin()
    {
        TfrmDictionaryBase *w = open("S3");
        QCOMPARE(gridText(w, 0, "密码"), QStringLiteral("admin"));
        QCOMPARE(frmUserSet->edtPassword->echoMode(), QLineEdit::Normal);
        QCOMPARE(frmUserSet->edtPassword->text(), QStringLiteral("admin"));

        frmUserSet->edtPassword->selectAll();
        testsupport::typeText(frmUserSet->edtPassword, QStringLiteral("new-pw"));
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(frmUserSet->edtPassword->text(), QStringLiteral("new-pw"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(gridText(w, 0, "密码"), QStringLiteral("new-pw"));

        QVERIFY(!login("1001", "admin"));
        QCOMPARE(recorder->texts(), QStringList{"登录信息错误,请重新登录!"});
        QCOMPARE(CurrentUserID, QString());
        QVERIFY(login("1001", "new-pw"));
        QCOMPARE(CurrentUserID, QStringLiteral("1001"));
    }

    void deletingOwnAccountIsAllowed()
    {
        QVERIFY(login("1001", "admin"));
        QCOMPARE(CurrentUserID, QStringLiteral("1001"));
        ws->exec("INSERT INTO \"User\" VALUES ('1002', '教务员', '123456', NULL)");
        TfrmDictionaryBase *w = open("S3");
        QCOMPARE(w->txtID->text(), QStringLiteral("1001"));
        click(w->btnDel);
        QCOMPARE(recorder->texts(), QStringList{"确定要删除此条记录?"});
        QCOMPARE(storedIds(kind("S3")), QStringList{"1002"});
        QVERIFY(!login("1001", "admin"));
        QCOMPARE(recorder->last().text, QStringLiteral("登录信息错误,请重新登录!"));
        QVERIFY(login("1002", "123456"));
    }

    // ---- window management -------------------------------------------------

    void sameCommandTwiceGivesOneWindowInFront()
    {
        TfrmDictionaryBase *teacher = open("D2");
        TfrmDictionaryBase *student = open("D3");
        QVERIFY(teacher && student);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList(QMdiArea::StackingOrder).last(), student->mdiSubWindow());
        QCOMPARE(open("D2"), teacher);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 2);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList(QMdiArea::StackingOrder).last(), teacher->mdiSubWindow());
        QCOMPARE(frmTeachMain->mdiArea()->activeSubWindow(), teacher->mdiSubWindow());
    }

    void closingEmptiesTheReferenceAndReopensFresh_data() { addWindowRows(); }
    void closingEmptiesTheReferenceAndReopensFresh()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        seed(k, {"2007001"});
        QPointer<TfrmDictionaryBase> first = open(menu);
        QVERIFY(first);
        QCOMPARE(rs(first)->recordCount(), 1);
        first->closeWindow();
        QCOMPARE(k.window(), nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(first.isNull());
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 0);

        ws->exec(QStringLiteral("INSERT INTO %1 (%2) VALUES ('2007002')").arg(quoted(k.table), k.idColumn));
        TfrmDictionaryBase *second = open(menu);
        QVERIFY(second);
        QCOMPARE(rs(second)->recordCount(), 2);
        // The frame's close box does the same.
        second->mdiSubWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(k.window(), nullptr);
        QVERIFY(open(menu));
    }

    void closingDropsPendingRecordsWithoutAQuestion()
    {
        const WindowKind &k = kind(QStringLiteral("D7"));
        seed(k, {"2007001"});
        TfrmDictionaryBase *w = open(QStringLiteral("D7"));
        rs(w)->edit();
        w->edtName->setText(QStringLiteral("未保存的修改"));
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        w = open(QStringLiteral("D7"));
        click(w->btnAdd);
        w->edtName->setText(QStringLiteral("未保存的新记录"));
        w->mdiSubWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(storedIds(k), QStringList({"2007001"}));
        QCOMPARE(stored(QStringLiteral("SELECT DormName FROM DormInfo")), QStringLiteral("名2007001"));
        QCOMPARE(recorder->messages.size(), 0);
    }

    void minimisedWindowStaysMinimised()
    {
        TfrmDictionaryBase *w = open(QStringLiteral("D4"));
        w->mdiSubWindow()->showMinimized();
        QVERIFY(w->mdiSubWindow()->isMinimized());
        QCOMPARE(open(QStringLiteral("D4")), w);
        QVERIFY(w->mdiSubWindow()->isMinimized());
    }

    void allSevenOpenAtOnce()
    {
        for (const WindowKind &k : kinds())
            QVERIFY2(open(k.menu), qPrintable(k.menu));
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 7);
        for (const WindowKind &k : kinds())
            QVERIFY(k.window());
        QCOMPARE(recorder->messages.size(), 0);
    }

    void captionsTitlesAndButtons_data() { addWindowRows(); }
    void captionsTitlesAndButtons()
    {
        QFETCH(QString, menu);
        const WindowKind &k = kind(menu);
        TfrmDictionaryBase *w = open(menu);
        QCOMPARE(w->windowTitle(), k.caption);
        QCOMPARE(w->mdiSubWindow()->windowTitle(), k.caption);
        QStringList titles;
        for (int c = 0; c < w->DBGrid->model()->columnCount(); ++c)
            titles << w->DBGrid->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(titles, k.titles);
        const QStringList buttons = {"添加(&A)", "修改(&M)", "删除(&D)", "保存(&S)", "取消(&C)"};
        const QStringList names = {"btnAdd", "btnModify", "btnDel", "btnSave", "btnCancel"};
        for (int i = 0; i < names.size(); ++i) {
            auto *b = w->findChild<QPushButton *>(names[i]);
            QVERIFY2(b, qPrintable(names[i]));
            QCOMPARE(b->text(), buttons[i]);
        }
        auto label = [w](const char *name) {
            auto *l = w->findChild<QLabel *>(QString::fromLatin1(name));
            return l ? l->text() : QStringLiteral("<none>");
        };
        if (menu == "S3") {
            QCOMPARE(label("Label1"), QStringLiteral("用户编号："));
            QCOMPARE(label("Label2"), QStringLiteral("名    称："));
            QCOMPARE(label("Label4"), QStringLiteral("初始密码："));
            QCOMPARE(label("Label3"), QStringLiteral("备    注："));
        } else {
            QCOMPARE(label("Label1"), QStringLiteral("编  号："));
            QCOMPARE(label("Label2"), QStringLiteral("名  称："));
            QCOMPARE(label("Label3"), QStringLiteral("备  注："));
        }
    }

    void dropDownItems()
    {
        open("D2");
        open("D3");
        auto items = [](QComboBox *box) {
            QStringList list;
            for (int i = 0; i < box->count(); ++i)
                list << box->itemText(i);
            return list;
        };
        QCOMPARE(items(frmTeacherSet->cmbxDuty), QStringList({"教师", "讲师", "副教授", "教授"}));
        QCOMPARE(items(frmTeacherSet->cmbxSex), QStringList({"男", "女"}));
        QCOMPARE(items(frmStudentSet->cmbxSex), QStringList({"男", "女"}));
    }

    void postTypedAsOtherTextIsStoredAsTyped()
    {
        seed(kind("D2"), {"2007001"});
        TfrmDictionaryBase *w = open("D2");
        QLineEdit *duty = frmTeacherSet->cmbxDuty->lineEdit();
        QVERIFY(duty);
        testsupport::typeText(duty, QStringLiteral("助教"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(stored("SELECT Duty FROM TeacherInfo"), QStringLiteral("助教"));
        QCOMPARE(frmTeacherSet->cmbxDuty->currentText(), QStringLiteral("助教"));
        // A listed post is taken from the list.
        frmTeacherSet->cmbxDuty->setCurrentIndex(2);
        emit frmTeacherSet->cmbxDuty->activated(2);
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(stored("SELECT Duty FROM TeacherInfo"), QStringLiteral("副教授"));
    }

    void deletingAMasterRowLeavesReferringRows()
    {
        ws->exec("INSERT INTO GradeInfo VALUES ('2007001', '计算机学院', NULL);"
                 "INSERT INTO ClassInfo VALUES ('2007001', '2007001', '一班', NULL);"
                 "INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001', '甲', '2007001');");
        TfrmDictionaryBase *classes = open("D6");
        click(classes->btnDel);
        QCOMPARE(ws->query("SELECT ClassID FROM ClassInfo"), QStringList());
        QCOMPARE(ws->query("SELECT ClassID FROM StudentInfo"), QStringList{"2007001"});
        TfrmDictionaryBase *colleges = open("D5");
        click(colleges->btnDel);
        QCOMPARE(ws->query("SELECT GradeID FROM GradeInfo"), QStringList());
        QCOMPARE(recorder->texts(), QStringList({"确定要删除此条记录?", "确定要删除此条记录?"}));
    }

    // ---- rows written by other tools -------------------------------------

    // Text another tool stored as bytes that are not UTF-8 shows decoded
    // (as GB18030 where it is valid GB18030), and the row it is in can still
    // be saved and deleted: it is compared with what is stored byte for byte.
    void foreignTextRowIsSavedAndDeleted_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("remove");
        const QByteArray gbk("\xD5\xC5\xC8\xFD");  // 张三 in GBK
        const QByteArray stray("ab\xFF\xFE");         // neither UTF-8 nor GB18030
        const QByteArray marked("\xEF\xBB\xBF李四");  // UTF-8 led by a byte-order mark
        QTest::newRow("GBK, save") << gbk << QStringLiteral("张三") << false;
        QTest::newRow("GBK, delete") << gbk << QStringLiteral("张三") << true;
        QTest::newRow("stray bytes, save") << stray << QStringLiteral("ab\uFFFD\uFFFD") << false;
        QTest::newRow("stray bytes, delete") << stray << QStringLiteral("ab\uFFFD\uFFFD") << true;
        QTest::newRow("byte-order mark, save") << marked << QStringLiteral("\uFEFF李四") << false;
    }
    void foreignTextRowIsSavedAndDeleted()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        QFETCH(bool, remove);
        if (ws->onServer())
            QSKIP("a server database holds UTF-8 text only");
        ws->exec("INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007001', '甲')");
        testsupport::execSqlWithTextBytes(ws->dbPath(),
                                          "INSERT INTO StudentInfo (StudentID, StuName) VALUES ('2007002', ?)", bytes);
        TfrmDictionaryBase *w = open("D3");
        clickRow(w, 1);
        QCOMPARE(w->edtName->text(), shown);
        QCOMPARE(gridText(w, 1, QStringLiteral("姓名")), shown);
        if (remove) {
            recorder->answer(QMessageBox::Yes);
            click(w->btnDel);
            QCOMPARE(recorder->texts(), QStringList{QStringLiteral("确定要删除此条记录?")});
            QCOMPARE(storedIds(kind("D3")), QStringList{"2007001"});
            return;
        }
        testsupport::typeText(w->edtRemark, QStringLiteral("补"));
        QCOMPARE(state(w), DataSetState::Edit);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(state(w), DataSetState::Browse);
        // The untouched name keeps its bytes; the typed remark is stored.
        QCOMPARE(ws->query("SELECT hex(StuName) || '|' || Remark FROM StudentInfo WHERE StudentID = '2007002'"),
                 QStringList{QString::fromLatin1(bytes.toHex().toUpper()) + QStringLiteral("|补")});
        // Typed over, the name is stored as UTF-8.
        w->edtName->selectAll();
        testsupport::typeText(w->edtName, QStringLiteral("王五"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(ws->query("SELECT StuName FROM StudentInfo WHERE StudentID = '2007002'"), QStringList{"王五"});
    }

    // Two clerks, each in a program of their own, edit the same row: the
    // second Save is refused with the row as the first stored it, the typed
    // value kept; saved again, it joins the first clerk's change.
    void secondClerksSaveOfTheSameRowIsRefused()
    {
        const WindowKind &k = kind("D2");
        seed(k, {"2007001", "2007002"});
        TfrmDictionaryBase *w = open("D2");
        clickRow(w, 1);
        testsupport::typeText(w->edtName, QStringLiteral("乙"));
        QCOMPARE(state(w), DataSetState::Edit);

        dravon::Connection other;
        if (dm->ADOConn.isServer())
            other.setServerAddress(*dm->ADOConn.serverAddress());
        else
            other.setConnectionString(dm->ADOConn.connectionString());
        other.open();
        {
            auto clerk = SQLDataSet(QStringLiteral("Select * From TeacherInfo"), other);
            clerk->moveTo(1);
            clerk->edit();
            clerk->setFieldText(QStringLiteral("Duty"), QStringLiteral("教授"));
            clerk->post();
        }
        click(w->btnSave);
        QCOMPARE(recorder->texts(), QStringList{QStringLiteral(
            "该记录已被其他用户或程序修改或删除,未保存。当前显示的是数据库中的最新内容,您输入的内容仍保留,可再次保存。")});
        QCOMPARE(state(w), DataSetState::Edit);
        QCOMPARE(w->edtName->text(), QStringLiteral("名2007002乙"));
        QCOMPARE(rs(w)->fieldText(QStringLiteral("Duty")), QStringLiteral("教授"));
        QCOMPARE(stored("SELECT TchName || '|' || Duty FROM TeacherInfo WHERE TeacherID = '2007002'"),
                 QStringLiteral("名2007002|教授"));
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(state(w), DataSetState::Browse);
        QCOMPARE(stored("SELECT TchName || '|' || Duty FROM TeacherInfo WHERE TeacherID = '2007002'"),
                 QStringLiteral("名2007002乙|教授"));
        QCOMPARE(storedIds(k), (QStringList{"2007001", "2007002"}));
    }

    // A row deleted elsewhere while it is being edited: Save says so once
    // and the window leaves its edit state; a second Save does nothing.
    void vanishedRowIsReportedOnceAndLeavesEdit()
    {
        const WindowKind &k = kind("D2");
        seed(k, {"2007001", "2007002"});
        TfrmDictionaryBase *w = open("D2");
        clickRow(w, 1);
        testsupport::typeText(w->edtName, QStringLiteral("改"));
        QCOMPARE(state(w), DataSetState::Edit);
        ws->exec("DELETE FROM TeacherInfo WHERE TeacherID = '2007002'");
        click(w->btnSave);
        QCOMPARE(recorder->texts(),
                 QStringList{QStringLiteral("该记录已被其他用户或程序删除,您的修改没有保存,记录已退出编辑状态。")});
        QCOMPARE(state(w), DataSetState::Browse);
        click(w->btnSave);
        QCOMPARE(recorder->messages.size(), 1);
        QCOMPARE(storedIds(k), QStringList{"2007001"});
        QCOMPARE(stored("SELECT TchName FROM TeacherInfo"), QStringLiteral("名2007001"));
    }
};

QTEST_MAIN(MasterWindowsTest)
#include "tst_masterwindows.moc"
