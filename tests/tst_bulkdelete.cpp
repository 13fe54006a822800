// Ctrl+Del of rows selected in the score window with the mouse (clicks,
// shift-clicks, ctrl-clicks) and Ctrl+A: exactly the selected rows are
// deleted, the grid shows the rest in order, and the row after the current
// one becomes current, whether the selection is one run of rows or many. A
// delete whose rows moved meanwhile (others changed the table) deletes nothing,
// and so does one cancelled in its progress.
#include "app/TeachMain_Unit.h"
#include "data/RowCounter.h"
#include "data/TableSource.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/WorkProgress.h"
#include "gui/controls/DataControls.h"
#include "support/ProgramFixture.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

constexpr int seededRows = 300;

// Rows s0 … s299 in key order.
QString seed()
{
    return QStringLiteral(
               "INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001','一班');"
               "INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001','甲','2007001');"
               "INSERT INTO SubjectInfo (SubjectID, SubName, CreditHour) VALUES ('2007001','语文',4.0);"
               "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
               "INSERT INTO Score (StudentID, Term, SubjectID, ClassID, Score, Remark) "
               "SELECT '2007001', '第一学期', '2007001', '2007001', 60.0, 's' || i FROM n;")
        .arg(seededRows - 1);
}

const QString moved =
    QStringLiteral("表中的记录已被其他用户或程序修改,记录的位置已变化,未删除。请重新选择要删除的记录。");

}

class BulkDeleteTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmStudentScore *openScores()
    {
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        return frmStudentScore;
    }
    // A click on a row as a person makes it: the row scrolled into view first.
    static void clickRow(DataGrid *grid, int row, Qt::KeyboardModifiers modifiers = {})
    {
        const QModelIndex cell = grid->model()->index(row, 0);
        grid->scrollTo(cell);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, grid->visualRect(cell).center());
    }
    // The clicks of a selection: "2,+5,^8" is a click on row 2, a
    // shift-click on row 5 and a ctrl-click on row 8; "all" is Ctrl+A.
    static void select(DataGrid *grid, const QString &clicks)
    {
        grid->setFocus();
        if (clicks == QLatin1String("all")) {
            QTest::keyClick(grid, Qt::Key_A, Qt::ControlModifier);
            return;
        }
        for (QString click : clicks.split(QLatin1Char(','))) {
            Qt::KeyboardModifiers modifiers;
            if (click.startsWith(QLatin1Char('+')))
                modifiers = Qt::ShiftModifier;
            else if (click.startsWith(QLatin1Char('^')))
                modifiers = Qt::ControlModifier;
            if (modifiers)
                click.remove(0, 1);
            clickRow(grid, click.toInt(), modifiers);
        }
    }
    QStringList remarks() const { return ws->query(QStringLiteral("SELECT Remark FROM Score ORDER BY Id")); }
    QString logged() const
    {
        return ws->query(QStringLiteral("SELECT (SELECT count(*) FROM ChangeLog) || '/' || (SELECT count(*) FROM ChangeBatch)"))
            .value(0);
    }
    // Clicks the cancel button of the progress dialog once its bar has moved
    // (part of the work done), as a person would; its title and text go to seen.
    static void cancelProgressOnceMoved(QWidget *owner, QString *seen)
    {
        auto *poll = new QTimer(owner);
        poll->setInterval(0);
        connect(poll, &QTimer::timeout, poll, [poll, seen] {
            auto *dialog = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible() || dialog->value() <= 0)
                return;
            poll->stop();
            poll->deleteLater();
            *seen = dialog->windowTitle() + QLatin1Char('|') + dialog->labelText();
            QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
        });
        poll->start();
    }

private slots:
    void cleanup()
    {
        dravon::RowCounter::holdCheckpointsForTesting(false);
        dravon::TableSource::setCountAtOpenLimitForTesting(dravon::TableSource::defaultCountAtOpenLimit);
        dravon::RecordSet::setDeletePartRowsForTesting(dravon::RecordSet::defaultDeletePartRows);
        WorkProgress::setShowDelay(400);
        stopProgram();
    }

    void selectedRowsAreDeletedAndTheNextBecomesCurrent_data()
    {
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<QList<int>>("deleted");
        QTest::addColumn<QString>("current");  // the Remark of the current row afterwards
        QTest::newRow("shift-click range") << "2,+5" << QList<int>{2, 3, 4, 5} << "s6";
        QTest::newRow("ctrl-clicks") << "1,^4,^7" << QList<int>{1, 4, 7} << "s8";
        QTest::newRow("range and a ctrl-click") << "2,+4,^8" << QList<int>{2, 3, 4, 8} << "s9";
        QTest::newRow("current row kept") << "9,^3,^12,^9" << QList<int>{3, 12} << "s9";
        QList<int> everyOther;
        for (int r = 0; r <= 18; r += 2)
            everyOther << r;
        QTest::newRow("every other row, many runs") << "0,^2,^4,^6,^8,^10,^12,^14,^16,^18" << everyOther << "s19";
        QList<int> farDown;
        for (int r = 270; r <= 288; r += 2)
            farDown << r;
        QTest::newRow("many runs far down") << "270,^272,^274,^276,^278,^280,^282,^284,^286,^288" << farDown << "s289";
        QTest::newRow("the last rows") << "297,+299" << QList<int>{297, 298, 299} << "s296";
        QList<int> all;
        for (int r = 0; r < seededRows; ++r)
            all << r;
        QTest::newRow("select all") << "all" << all << "";
    }
    void selectedRowsAreDeletedAndTheNextBecomesCurrent()
    {
        QFETCH(QString, clicks);
        QFETCH(QList<int>, deleted);
        QFETCH(QString, current);
        startProgram(seed(), Screen::LoggedIn);
        TfrmStudentScore *w = openScores();
        DataGrid *grid = w->DBGrid1;
        dravon::RecordSet *rs = w->DataStudentScore->dataSet();
        QCOMPARE(grid->model()->rowCount(), seededRows);
        select(grid, clicks);
        QCOMPARE(grid->selectionModel()->selectedRows().size(), deleted.size());

        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCoreApplication::processEvents();

        QCOMPARE(recorder->texts(), QStringList(deleted.size() > 1 ? QStringLiteral("Delete all selected records?")
                                                                   : QStringLiteral("Delete record?")));
        QStringList expected;
        for (int r = 0; r < seededRows; ++r)
            if (!deleted.contains(r))
                expected << QStringLiteral("s%1").arg(r);
        QCOMPARE(remarks(), expected);
        // The grid shows the rest in order; the current row is the one that
        // followed the current row, shown by the bound box and the grid alike.
        QCOMPARE(grid->model()->rowCount(), expected.size());
        const int remark = rs->fieldIndex(QStringLiteral("Remark"));
        for (int r = 0; r < expected.size(); ++r)
            QCOMPARE(rs->text(r, remark), expected[r]);
        QCOMPARE(rs->fieldText(QStringLiteral("Remark")), current);
        QCOMPARE(w->edtRemark->toPlainText(), current);
        QCOMPARE(grid->currentIndex().row(), rs->recNo());
        QCOMPARE(rs->recNo(), current.isEmpty() ? -1 : int(expected.indexOf(current)));
        QCOMPARE(grid->selectionModel()->selectedRows().size(), current.isEmpty() ? 0 : 1);
        if (!current.isEmpty()) {
            QCoreApplication::processEvents();
            QVERIFY(grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex())));
        }

        // The clerk goes on: the next Ctrl+Del deletes the new current row.
        if (current.isEmpty())
            return;
        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        expected.removeOne(current);
        QCOMPARE(remarks(), expected);
        QCOMPARE(grid->model()->rowCount(), expected.size());
    }

    // Rows shown by their position before the table's keys are all known:
    // another program deleted rows meanwhile, so the selected positions no
    // longer hold the rows the clerk saw, and nothing is deleted.
    void movedRowsAreNotDeleted()
    {
        dravon::TableSource::setCountAtOpenLimitForTesting(0);
        dravon::RowCounter::holdCheckpointsForTesting(true);
        startProgram(seed(), Screen::LoggedIn);
        TfrmStudentScore *w = openScores();
        DataGrid *grid = w->DBGrid1;
        dravon::RecordSet *rs = w->DataStudentScore->dataSet();
        QTRY_VERIFY_WITH_TIMEOUT(rs->countKnown(), 10000);
        select(grid, QStringLiteral("150,^152,^160"));
        const int remark = rs->fieldIndex(QStringLiteral("Remark"));
        QCOMPARE(rs->text(160, remark), QStringLiteral("s160"));
        ws->exec(QStringLiteral("DELETE FROM Score WHERE Remark IN ('s140', 's141')"));
        dravon::RowCounter::holdCheckpointsForTesting(false);

        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCoreApplication::processEvents();
        QCOMPARE(recorder->texts(), QStringList({QStringLiteral("Delete all selected records?"), moved}));
        QCOMPARE(remarks().size(), seededRows - 2);
        QVERIFY(remarks().contains(QStringLiteral("s150")) && remarks().contains(QStringLiteral("s160")));
        // The grid shows the rows as they are now.
        QCOMPARE(grid->model()->rowCount(), seededRows - 2);
        QCOMPARE(rs->text(150, remark), QStringLiteral("s152"));
    }

    // Ctrl+A and Ctrl+Del of many rows shows its progress. Cancelled after
    // some rows were already deleted, it deletes none and logs nothing; the
    // grid still shows every row and the selection. Not cancelled, it deletes
    // all in one batch.
    void cancelledDeleteDeletesNothing()
    {
        dravon::RecordSet::setDeletePartRowsForTesting(40);
        WorkProgress::setShowDelay(0);
        startProgram(seed(), Screen::LoggedIn);
        TfrmStudentScore *w = openScores();
        DataGrid *grid = w->DBGrid1;
        dravon::RecordSet *rs = w->DataStudentScore->dataSet();
        select(grid, QStringLiteral("all"));
        const QString loggedBefore = logged();
        const QStringList before = remarks();
        QCOMPARE(before.size(), seededRows);

        QString seen;
        cancelProgressOnceMoved(grid, &seen);
        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCoreApplication::processEvents();
        QCOMPARE(seen, QStringLiteral("删除|正在删除 300 条记录…"));
        QCOMPARE(recorder->texts(), QStringList(QStringLiteral("Delete all selected records?")));
        QCOMPARE(remarks(), before);
        QCOMPARE(logged(), loggedBefore);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(grid->model()->rowCount(), seededRows);
        const int remark = rs->fieldIndex(QStringLiteral("Remark"));
        for (int r = 0; r < seededRows; ++r)
            QCOMPARE(rs->text(r, remark), before[r]);
        QCOMPARE(grid->selectionModel()->selectedRows().size(), seededRows);

        recorder->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCoreApplication::processEvents();
        QCOMPARE(remarks(), QStringList());
        QCOMPARE(grid->model()->rowCount(), 0);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) || ' ' || min(BatchID) || ' ' || max(BatchID) FROM ChangeLog "
                                          "WHERE Operation = 'D' AND TableName = 'Score'")),
                 QStringList(QStringLiteral("300 %1 %1").arg(ws->query(QStringLiteral("SELECT max(BatchID) FROM ChangeBatch")).value(0))));
    }
};

QTEST_MAIN(BulkDeleteTest)
#include "tst_bulkdelete.moc"
