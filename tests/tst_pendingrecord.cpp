// A new record that is given up is never stored: in each record window,
// after Add and something typed or picked, Cancel, Delete → 是 and Ctrl+Del →
// OK drop the pending row, whether one row or several were selected in the
// grid before, with no message but the question asked.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "forms/students/CapturePrice_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/MoralSet_Unit.h"
#include "forms/students/PracticeSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"
#include "support/TestWorkspace.h"

#include <QAction>
#include <QPushButton>
#include <QTest>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

const char seedRows[] = R"SQL(
INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001','一班'),('2007002','二班');
INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001','甲','2007001'),('2007002','乙','2007002');
INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('2007001','语文',4.0);
INSERT INTO DormInfo (DormID, DormName) VALUES ('2007001','一号楼101');
INSERT INTO Score (StudentID, Term, SubjectID, ClassID, Score, Remark) VALUES
  ('2007001','第一学期','2007001','2007001',90,'s1'),('2007002','第一学期','2007001','2007002',70,'s2');
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES
  ('2007001','2007001','男','2007001','d1'),('2007002','2007002','女','2007001','d2');
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES
  ('2007001','学费','2007001',100,'p1'),('2007002','学费','2007002',50,'p2');
INSERT INTO Practice (StudentID, ClassID, PracticeName, Remark) VALUES
  ('2007001','2007001','支教','r1'),('2007002','2007002','劳动','r2');
INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult, Remark) VALUES
  ('2007001','2007001','1001',90,'m1'),('2007002','2007002','2002',85,'m2');
)SQL";

struct Window
{
    QString menu;
    QString table;
    QString box;     // a box the clerk types into
    QString typed;   // what is typed (a refused value where the window has one)
    QString lookup;  // a lookup the clerk picks from
    std::function<TfrmBase *()> window;
};

const QList<Window> &windows()
{
    static const QList<Window> list = {
        {"M2", "Score", "edtScore", "abc", "cmbxStudentID", [] { return (TfrmBase *)frmStudentScore.data(); }},
        {"M5", "Dorm", "edtRemark", "新备注", "cmbxDormID", [] { return (TfrmBase *)frmDormManager.data(); }},
        {"M6", "Price", "edtPrice", "12", "cmbxStudentID", [] { return (TfrmBase *)frmCapturePrice.data(); }},
        {"M3", "Practice", "memPracticeName", "支农", "cmbxStudentID", [] { return (TfrmBase *)frmPracticeSet.data(); }},
        {"M4", "Moral", "edtMoralResult", "7", "cmbxStudentID", [] { return (TfrmBase *)frmMoralSet.data(); }},
    };
    return list;
}

}

class PendingRecordTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    // The table's rows by identity: a stored pending record adds one.
    QString tableText(const QString &table) const
    {
        return ws->query(QStringLiteral("SELECT count(*) || ':' || group_concat(rowid) FROM %1").arg(table)).join(',');
    }
    static void clickRow(DataGrid *grid, int row, Qt::KeyboardModifiers modifiers = {})
    {
        const QRect cell = grid->visualRect(grid->model()->index(row, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cell.center());
    }

private slots:
    void init() { startProgram(QString::fromUtf8(seedRows), Screen::LoggedIn); }

    void cleanup() { stopProgram(); }

    void givenUpNewRecordIsNeverStored_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("severalSelected");
        QTest::addColumn<bool>("picked");
        for (const Window &w : windows())
            for (const char *way : {"cancel", "delete", "ctrl+del"})
                for (const bool several : {false, true})
                    for (const bool picked : {false, true})
                        QTest::addRow("%s %s %s %s", qPrintable(w.table), way, several ? "several" : "one",
                                      picked ? "picked" : "typed")
                            << w.menu << QString::fromLatin1(way) << several << picked;
    }
    void givenUpNewRecordIsNeverStored()
    {
        QFETCH(QString, menu);
        QFETCH(QString, way);
        QFETCH(bool, severalSelected);
        QFETCH(bool, picked);
        const Window &kind = *std::find_if(windows().begin(), windows().end(),
                                           [&](const Window &w) { return w.menu == menu; });
        const QString before = tableText(kind.table);
        frmTeachMain->menuItem(menu)->trigger();
        QCoreApplication::processEvents();
        TfrmBase *w = kind.window();
        QVERIFY(w);
        auto *grid = w->findChild<DataGrid *>(QStringLiteral("DBGrid1"));
        QVERIFY(grid && grid->model()->rowCount() == 2);

        clickRow(grid, 0);
        if (severalSelected)
            clickRow(grid, 1, Qt::ControlModifier);
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btnAdd")), Qt::LeftButton);
        dravon::RecordSet *rs = grid->dataSource()->dataSet();
        QCOMPARE(rs->state(), dravon::DataSetState::Insert);
        if (picked) {
            auto *lookup = w->findChild<QComboBox *>(kind.lookup);
            lookup->setFocus();
            QTest::keyClick(lookup, Qt::Key_Down);
            QVERIFY(rs->isModified());
        } else {
            auto *box = w->findChild<QWidget *>(kind.box);
            box->setFocus();
            testsupport::typeText(box, kind.typed);
        }

        QStringList expected;
        if (way == QLatin1String("cancel")) {
            QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btnCancel")), Qt::LeftButton);
        } else if (way == QLatin1String("delete")) {
            recorder->answer(QMessageBox::Yes);
            QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("btnDel")), Qt::LeftButton);
            expected << QStringLiteral("确定要删除此条记录?");
        } else {
            grid->setFocus();
            QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
            expected << QStringLiteral("Delete record?");
        }
        QCoreApplication::processEvents();

        QCOMPARE(recorder->texts(), expected);
        QCOMPARE(rs->state(), dravon::DataSetState::Browse);
        QCOMPARE(rs->recordCount(), 2);
        QCOMPARE(grid->model()->rowCount(), 2);
        QCOMPARE(grid->currentIndex().row(), rs->recNo());
        QCOMPARE(tableText(kind.table), before);
    }
};

QTEST_MAIN(PendingRecordTest)
#include "tst_pendingrecord.moc"
