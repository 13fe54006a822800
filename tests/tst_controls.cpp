// Data-aware controls on their own: binding, automatic edit, text set by
// code, drop-downs, the lookup drop-down, and the grid's options.
#include "gui/Shell_Unit.h"
#include "data/Dravon.h"
#include "data/TableSource.h"
#include "gui/controls/DataControls.h"
#include "gui/controls/DataGrid.h"
#include "gui/WorkProgress.h"
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QHeaderView>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

using dravon::DataSetState;
using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

class ControlsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<dravon::Connection> conn;
    std::unique_ptr<MessageRecorder> rec;
    std::unique_ptr<QWidget> form;
    DataSource *source = nullptr;

    dravon::RecordSet *rs() const { return source->dataSet(); }
    void openDorms()
    {
        source->setDataSet(SQLDataSet(QStringLiteral("Select * From DormInfo"), *conn));
    }

private slots:
    void init()
    {
        ResetApplicationEndForTesting();
        ws = std::make_unique<TestWorkspace>();
        ws->exec(QStringLiteral("INSERT INTO DormInfo VALUES ('2007001', '东一', '备注一'), ('2007002', '西二', NULL), "
                                "('2007003', '南三', NULL)"));
        conn = std::make_unique<dravon::Connection>();
        ws->openConnection(*conn);
        rec = std::make_unique<MessageRecorder>();
        form = std::make_unique<QWidget>();
        new QVBoxLayout(form.get());
        source = new DataSource(QStringLiteral("DataDorm"), form.get());
    }
    void cleanup()
    {
        dravon::TableSource::setCountAtOpenLimitForTesting(dravon::TableSource::defaultCountAtOpenLimit);
        dravon::RowSource::setSortHereLimitForTesting(dravon::RowSource::defaultSortHereLimit);
        dravon::KeyOrder::holdForTesting(false);
        WorkProgress::setShowDelay(400);
        form.reset();
        rec.reset();
        conn.reset();
        ws.reset();
    }

    void editShowsCurrentRowAndTypingStartsEdit()
    {
        auto *edit = new DBEdit(form.get());
        edit->bind(source, QStringLiteral("DormName"));
        QCOMPARE(edit->text(), QString());  // no record set yet
        openDorms();
        QCOMPARE(edit->text(), QStringLiteral("东一"));
        rs()->moveTo(1);
        QCOMPARE(edit->text(), QStringLiteral("西二"));
        testsupport::typeText(edit, QStringLiteral("楼"));
        QCOMPARE(rs()->state(), DataSetState::Edit);
        QCOMPARE(edit->text(), QStringLiteral("西二楼"));
        // The text reaches the column when the record is stored.
        QCOMPARE(rs()->fieldText(QStringLiteral("DormName")), QStringLiteral("西二"));
        rs()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName FROM DormInfo WHERE DormID='2007002'")), QStringList({"西二楼"}));
    }

    // A single-line box keeps a long text whole: pasted, stored, read back
    // and shown again (QLineEdit would cut it at 32,767 characters).
    void longTextKeptWhole()
    {
        QString longText;
        for (int i = 0; longText.size() < 100000; ++i)
            longText += QStringLiteral("第%1行;").arg(i);
        longText.truncate(100000);
        auto *edit = new DBEdit(form.get());
        edit->bind(source, QStringLiteral("Remark"));
        auto *combo = new DBComboBox(true, {QStringLiteral("东一")}, form.get());
        combo->bind(source, QStringLiteral("DormName"));
        openDorms();
        QApplication::clipboard()->setText(longText);
        edit->selectAll();
        edit->paste();
        combo->lineEdit()->selectAll();
        combo->lineEdit()->paste();
        QCOMPARE(rs()->state(), DataSetState::Edit);
        QCOMPARE(edit->text().size(), 100000);
        rs()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM DormInfo WHERE DormID='2007001'")), QStringList{longText});
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName FROM DormInfo WHERE DormID='2007001'")), QStringList{longText});

        // Read back into fresh controls.
        edit->clear();
        openDorms();
        QCOMPARE(edit->text(), longText);
        QCOMPARE(combo->currentText(), longText);
    }

    void textSetByCodeIsStoredOnlyOutsideBrowse()
    {
        auto *edit = new DBEdit(form.get());
        edit->bind(source, QStringLiteral("Remark"));
        openDorms();
        edit->setText(QStringLiteral("浏览时设置"));
        QCOMPARE(rs()->state(), DataSetState::Browse);
        rs()->post();
        rs()->edit();  // reading the record again replaces the shown text
        QCOMPARE(edit->text(), QStringLiteral("备注一"));
        edit->setText(QStringLiteral("编辑时设置"));
        QVERIFY(rs()->hasPendingChanges());
        rs()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM DormInfo WHERE DormID='2007001'")), QStringList({"编辑时设置"}));
        // Moving away stores a changed record implicitly.
        rs()->edit();
        edit->setText(QStringLiteral("移动时保存"));
        rs()->next();
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM DormInfo WHERE DormID='2007001'")), QStringList({"移动时保存"}));
    }

    void readOnlyEditRefusesTyping()
    {
        auto *edit = new DBEdit(form.get());
        edit->setReadOnly(true);
        edit->bind(source, QStringLiteral("DormName"));
        openDorms();
        QTest::keyClicks(edit, QStringLiteral("x"));
        QCOMPARE(edit->text(), QStringLiteral("东一"));
        QCOMPARE(rs()->state(), DataSetState::Browse);
    }

    void memoAndLabel()
    {
        auto *memo = new DBMemo(form.get());
        memo->bind(source, QStringLiteral("Remark"));
        auto *label = new DBText(form.get());
        label->bind(source, QStringLiteral("DormID"));
        openDorms();
        QCOMPARE(memo->toPlainText(), QStringLiteral("备注一"));
        QCOMPARE(label->text(), QStringLiteral("2007001"));
        memo->moveCursor(QTextCursor::End);
        testsupport::typeText(memo, QStringLiteral("甲"));
        QTest::keyClick(memo, Qt::Key_Return);
        testsupport::typeText(memo, QStringLiteral("乙"));
        QCOMPARE(rs()->state(), DataSetState::Edit);
        rs()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT Remark FROM DormInfo WHERE DormID='2007001'")),
                 QStringList({"备注一甲\n乙"}));
        rs()->insert();
        QCOMPARE(label->text(), QString());
        rs()->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007009"));
        QCOMPARE(label->text(), QStringLiteral("2007009"));
        rs()->cancel();
        QCOMPARE(label->text(), QStringLiteral("2007001"));
    }

    void openAndClosedDropDowns()
    {
        auto *open = new DBComboBox(true, {QStringLiteral("东一"), QStringLiteral("西二")}, form.get());
        open->bind(source, QStringLiteral("DormName"));
        auto *closed = new DBComboBox(false, {QStringLiteral("男"), QStringLiteral("女")}, form.get());
        closed->bind(source, QStringLiteral("Remark"));
        openDorms();
        QCOMPARE(open->currentText(), QStringLiteral("东一"));
        QCOMPARE(closed->currentIndex(), -1);  // "备注一" is not in the closed list
        rs()->moveTo(2);
        QCOMPARE(open->currentText(), QStringLiteral("南三"));  // a text outside the list still shows
        emit closed->activated(1);
        QCOMPARE(rs()->state(), DataSetState::Edit);
        QCOMPARE(closed->currentText(), QStringLiteral("女"));
        testsupport::typeText(open->lineEdit(), QStringLiteral("楼"));
        rs()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName || '/' || Remark FROM DormInfo WHERE DormID='2007003'")),
                 QStringList({"南三楼/女"}));
    }

    void lookupShowsKnownNumbersAndWritesPicks()
    {
        ws->exec(QStringLiteral("INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001', '一班'), ('2007002', '二班');"
                                "INSERT INTO StudentInfo (StudentID, ClassID) VALUES ('2007001', '2007002'), ('2007002', '2009999')"));
        auto *students = new DataSource(QStringLiteral("DataStudent"), form.get());
        auto *classes = new DataSource(QStringLiteral("DataClassName"), form.get());
        auto *lookup = new DBLookupComboBox(form.get());
        lookup->setList(classes, QStringLiteral("ClassID"), QStringLiteral("ClassID;ClaName"), 200);
        lookup->bind(students, QStringLiteral("ClassID"));
        students->setDataSet(SQLDataSet(QStringLiteral("Select * From StudentInfo"), *conn));
        classes->setDataSet(SQLDataSet(QStringLiteral("Select * From ClassInfo"), *conn));
        QCOMPARE(lookup->shownText(), QStringLiteral("2007002"));
        QCOMPARE(lookup->count(), 2);
        QCOMPARE(lookup->model()->columnCount(), 2);
        QCOMPARE(lookup->model()->index(1, 1).data().toString(), QStringLiteral("二班"));
        students->dataSet()->moveTo(1);
        QCOMPARE(lookup->shownText(), QString());  // 2009999 is no stored class
        QSignalSpy picked(lookup, &DBLookupComboBox::picked);
        lookup->pickRow(0);
        QCOMPARE(picked.count(), 1);
        QCOMPARE(students->dataSet()->state(), DataSetState::Edit);
        QCOMPARE(students->dataSet()->fieldText(QStringLiteral("ClassID")), QStringLiteral("2007001"));
        QCOMPARE(lookup->shownText(), QStringLiteral("2007001"));
        QCOMPARE(classes->dataSet()->recNo(), 0);
        lookup->pickRow(1);
        QCOMPARE(classes->dataSet()->recNo(), 1);
        students->dataSet()->cancel();
        QCOMPARE(lookup->shownText(), QString());
    }

    // A list over 30,000 students opens, shows the stored student's row and
    // finds typed numbers and names while reading only the rows it shows.
    void lookupListOverManyRowsReadsOnlyWhatItShows()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 30000) "
                                "INSERT INTO StudentInfo (StudentID, StuName) SELECT 2007000 + i, '学生' || i FROM n;"
                                "INSERT INTO Dorm (StudentID, DormID) VALUES ('2036990', '2007001')"));
        auto *places = new DataSource(QStringLiteral("DataDormPlace"), form.get());
        auto *students = new DataSource(QStringLiteral("DataStudent"), form.get());
        auto *lookup = new DBLookupComboBox(form.get());
        form->layout()->addWidget(lookup);
        lookup->setList(students, QStringLiteral("StudentID"), QStringLiteral("StudentID;StuName"), 200);
        lookup->bind(places, QStringLiteral("StudentID"));
        students->setDataSet(SQLDataSet(QStringLiteral("Select * From StudentInfo"), *conn));
        places->setDataSet(SQLDataSet(QStringLiteral("Select * From Dorm"), *conn));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        dravon::RecordSet *list = students->dataSet();
        QCOMPARE(lookup->shownText(), QStringLiteral("2036990"));
        // One page of the list, not the 30,000 rows.
        QVERIFY2(list->rowsFetched() <= 128, qPrintable(QString::number(list->rowsFetched())));

        lookup->showPopup();
        QAbstractItemView *view = lookup->view();
        QTRY_VERIFY(view->isVisible());
        QCoreApplication::processEvents();
        view->viewport()->repaint();
        // At most three pages (the first, the last, the one shown) of 30,000 rows.
        QVERIFY2(list->rowsFetched() <= 3 * 128, qPrintable(QString::number(list->rowsFetched())));
        QCOMPARE(view->model()->rowCount(), 30000);
        QCOMPARE(view->currentIndex().row(), 29989);
        QVERIFY(view->selectionModel()->isRowSelected(29989, {}));  // the whole row, not only the number
        QVERIFY(view->visualRect(view->currentIndex()).intersects(view->viewport()->rect()));
        QVERIFY(view->width() >= 200);

        // Typed text filters the list, through the database: a name, taken
        // back with Backspace, then a number by prefix; the box shows the text.
        testsupport::typeText(view, QStringLiteral("学生12345"));
        QCOMPARE(view->model()->rowCount(), 1);
        QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("2019345"));
        QCOMPARE(view->currentIndex().row(), 0);
        QCOMPARE(lookup->listFilter(), QStringLiteral("学生12345"));
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(view, Qt::Key_Backspace);
        QCOMPARE(lookup->listFilter(), QStringLiteral("学生"));
        QCOMPARE(view->model()->rowCount(), 200);  // the first of many
        for (int i = 0; i < 2; ++i)
            QTest::keyClick(view, Qt::Key_Backspace);
        QCOMPARE(view->model()->rowCount(), 30000);  // the whole list again
        testsupport::typeText(view, QStringLiteral("没有这个人"));
        QCOMPARE(view->model()->rowCount(), 0);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(view, Qt::Key_Backspace);
        testsupport::typeText(view, QStringLiteral("2035"));
        QCOMPARE(view->model()->index(0, 0).data().toString(), QStringLiteral("2035000"));
        QCOMPARE(view->currentIndex().row(), 0);
        view->viewport()->repaint();
        QVERIFY2(list->rowsFetched() <= 8 * 128, qPrintable(QString::number(list->rowsFetched())));

        // Enter picks the found row: its number is stored, the list follows.
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(places->dataSet()->state(), DataSetState::Edit);
        QCOMPARE(lookup->shownText(), QStringLiteral("2035000"));
        QCOMPARE(list->recNo(), 27999);
        QTRY_COMPARE(view->model()->rowCount(), 30000);  // closed: the whole list again
        QCOMPARE(lookup->listFilter(), QString());
        places->dataSet()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT StudentID FROM Dorm")), QStringList({"2035000"}));
        QVERIFY2(list->rowsFetched() <= 8 * 128, qPrintable(QString::number(list->rowsFetched())));
    }

    // Type-ahead on the closed box picks the first row that begins with the text.
    void lookupTypeAheadOnClosedBoxPicks()
    {
        ws->exec(QStringLiteral("INSERT INTO ClassInfo (ClassID, ClaName) VALUES ('2007001', '一班'), ('2007002', '二班'),"
                                " ('2008001', '三班');"
                                "INSERT INTO StudentInfo (StudentID, ClassID) VALUES ('2007001', '2007001')"));
        auto *students = new DataSource(QStringLiteral("DataStudent"), form.get());
        auto *classes = new DataSource(QStringLiteral("DataClassName"), form.get());
        auto *lookup = new DBLookupComboBox(form.get());
        form->layout()->addWidget(lookup);
        lookup->setList(classes, QStringLiteral("ClassID"), QStringLiteral("ClassID;ClaName"), 200);
        lookup->bind(students, QStringLiteral("ClassID"));
        students->setDataSet(SQLDataSet(QStringLiteral("Select * From StudentInfo"), *conn));
        classes->setDataSet(SQLDataSet(QStringLiteral("Select * From ClassInfo"), *conn));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Picking the number already shown leaves the closed box exactly as it was.
        QCOMPARE(lookup->shownText(), QStringLiteral("2007001"));
        const QImage before = lookup->grab().toImage();
        testsupport::typeText(lookup, QStringLiteral("一"));
        QCOMPARE(lookup->currentIndex(), 0);
        QCOMPARE(lookup->shownText(), QStringLiteral("2007001"));
        QCOMPARE(lookup->grab().toImage(), before);
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
        testsupport::typeText(lookup, QStringLiteral("三"));
        QCOMPARE(students->dataSet()->fieldText(QStringLiteral("ClassID")), QStringLiteral("2008001"));
        QCOMPARE(lookup->shownText(), QStringLiteral("2008001"));
        QCOMPARE(classes->dataSet()->recNo(), 2);
        students->dataSet()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT ClassID FROM StudentInfo")), QStringList({"2008001"}));
    }

    void replacingTheRecordSetRebindsEverything()
    {
        auto *edit = new DBEdit(form.get());
        edit->bind(source, QStringLiteral("DormName"));
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}, {QStringLiteral("DormName"), QStringLiteral("名称")}});
        grid->setDataSource(source);
        openDorms();
        QCOMPARE(grid->model()->rowCount(), 3);
        source->setDataSet(SQLDataSet(QStringLiteral("Select * From DormInfo where DormID > '2007001'"), *conn));
        QCOMPARE(grid->model()->rowCount(), 2);
        QCOMPARE(edit->text(), QStringLiteral("西二"));
        QTest::keyClicks(edit, QStringLiteral("!"));
        rs()->post();
        QCOMPARE(ws->query(QStringLiteral("SELECT DormName FROM DormInfo WHERE DormID='2007002'")), QStringList({"西二!"}));
    }

    // A grid and a lookup keep the model their views were given: a record
    // set replaced (a query, F5) or gone is shown through that model, whose
    // rows, titles, row indicator and list are those of the new set.
    // Giving a view a model anew is the dearest step of a window's opening.
    void viewsKeepTheirModelWhenTheRecordSetIsReplaced()
    {
        ws->exec(QStringLiteral("INSERT INTO Dorm (StudentID, DormID) VALUES ('2007001', '2007003'), ('2007002', '2007001')"));
        auto *grid = new DataGrid(form.get());
        form->layout()->addWidget(grid);
        grid->setDataSource(source);
        QAbstractItemModel *gridModel = grid->model();
        new QAbstractItemModelTester(gridModel, QAbstractItemModelTester::FailureReportingMode::QtTest, gridModel);
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}, {QStringLiteral("DormName"), QStringLiteral("名称")}});
        QCOMPARE(gridModel->columnCount(), 2);
        QCOMPARE(gridModel->rowCount(), 0);
        QCOMPARE(gridModel->headerData(1, Qt::Horizontal).toString(), QStringLiteral("名称"));

        auto *places = new DataSource(QStringLiteral("DataDormPlace"), form.get());
        auto *lookup = new DBLookupComboBox(form.get());
        form->layout()->addWidget(lookup);
        lookup->setList(source, QStringLiteral("DormID"), QStringLiteral("DormID;DormName"), 200);
        lookup->bind(places, QStringLiteral("DormID"));
        QAbstractItemModel *listModel = lookup->model();
        QAbstractItemView *listView = lookup->view();
        new QAbstractItemModelTester(listModel, QAbstractItemModelTester::FailureReportingMode::QtTest, listModel);
        QCOMPARE(listView->model(), listModel);
        places->setDataSet(SQLDataSet(QStringLiteral("Select * From Dorm"), *conn));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        openDorms();
        QCOMPARE(gridModel->rowCount(), 3);
        QCOMPARE(gridModel->index(2, 1).data().toString(), QStringLiteral("南三"));
        QCOMPARE(lookup->count(), 3);
        QCOMPARE(lookup->shownText(), QStringLiteral("2007003"));
        QCOMPARE(lookup->currentIndex(), -1);  // the list opens at the stored row, not at its first

        // A query for fewer rows, then F5 in the grid: the same models show them.
        source->setDataSet(SQLDataSet(QStringLiteral("Select * From DormInfo where DormID < '2007003'"), *conn));
        QCOMPARE(gridModel->rowCount(), 2);
        QCOMPARE(lookup->count(), 2);
        QCOMPARE(lookup->model()->index(1, 1).data().toString(), QStringLiteral("西二"));
        QCOMPARE(lookup->shownText(), QString());  // 2007003 is not in the list now
        rs()->moveTo(1);
        QCOMPARE(grid->currentIndex().row(), 1);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_F5);
        QCOMPARE(rs()->recNo(), 1);
        QCOMPARE(grid->currentIndex().row(), 1);
        QCOMPARE(gridModel->headerData(1, Qt::Vertical).toString(), QStringLiteral("\u25B6"));
        rs()->insert();
        QCOMPARE(gridModel->rowCount(), 3);
        QCOMPARE(gridModel->headerData(1, Qt::Vertical).toString(), QStringLiteral("*"));
        rs()->cancel();
        QCOMPARE(gridModel->rowCount(), 2);
        QCOMPARE(grid->model(), gridModel);
        QCOMPARE(lookup->model(), listModel);
        QCOMPARE(lookup->view()->model(), listModel);

        // A row changed in the record set shows at once, in every column.
        places->dataSet()->moveTo(1);
        QCOMPARE(lookup->shownText(), QStringLiteral("2007001"));
        rs()->edit();
        rs()->setFieldText(QStringLiteral("DormName"), QStringLiteral("西二楼"));
        QCOMPARE(gridModel->index(1, 1).data().toString(), QStringLiteral("西二楼"));
        rs()->cancel();

        // The record set gone (its data source too): no rows, nothing dangling.
        delete source;
        source = nullptr;
        QCOMPARE(gridModel->rowCount(), 0);
        QCOMPARE(lookup->count(), 0);
        QCOMPARE(lookup->shownText(), QString());
        grid->viewport()->repaint();
        lookup->repaint();
    }

    // A grid that owns its data source (the computed grids do) is deleted
    // before the source, which tells its views as it goes: nothing of that
    // may reach the half-deleted grid, nor the grid's model, and the record
    // set is freed cleanly (a stale reference to it corrupted the heap).
    void aGridOwningItsDataSourceIsDeletedCleanly()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("shared QObject|deleted directly")));
        for (const bool sourceFirst : {false, true}) {
            // The source made before the grid's model, and after it (as the computed grids do).
            auto *grid = new DataGrid(form.get());
            form->layout()->addWidget(grid);
            DataSource *own = sourceFirst ? new DataSource(QStringLiteral("DataOwn"), grid) : nullptr;
            grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}, {QStringLiteral("DormName"), QStringLiteral("名称")}});
            if (!own)
                own = new DataSource(QStringLiteral("DataOwn"), grid);
            grid->setDataSource(own);
            own->setDataSet(SQLDataSet(QStringLiteral("Select * From DormInfo"), *conn));
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            own->dataSet()->moveTo(2);
            QCOMPARE(grid->currentIndex().row(), 2);
            // Replaced once, as a new computation does.
            own->setDataSet(SQLDataSet(QStringLiteral("Select * From DormInfo"), *conn));
            QPointer<dravon::RecordSet> shown = own->dataSet();
            QPointer<QAbstractItemModel> model = grid->model();
            bool reachedDeletedGrid = false;
            const auto watch = [&] {
                if (!grid->inherits("DataGrid"))
                    reachedDeletedGrid = true;
            };
            for (auto signal : {&QAbstractItemModel::modelAboutToBeReset, &QAbstractItemModel::modelReset})
                connect(model, signal, model, watch);
            connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, model, watch);
            connect(shown, &QObject::destroyed, model, watch);
            delete grid;
            QVERIFY(!reachedDeletedGrid);
            QVERIFY(!shown);
            QVERIFY(!model);
            // The heap is sound: objects made and freed after it come and go without harm.
            for (int i = 0; i < 3; ++i) {
                auto *again = new DataGrid(form.get());
                again->setDataSource(source);
                openDorms();
                QCOMPARE(again->model()->rowCount(), 3);
                delete again;
            }
        }
        // A lookup that owns the source of its list, likewise.
        auto *lookup = new DBLookupComboBox(form.get());
        auto *list = new DataSource(QStringLiteral("DataOwnList"), lookup);
        list->setDataSet(SQLDataSet(QStringLiteral("Select * From DormInfo"), *conn));
        lookup->setList(list, QStringLiteral("DormID"), QStringLiteral("DormID;DormName"), 200);
        QCOMPARE(lookup->count(), 3);
        QPointer<dravon::RecordSet> listed = list->dataSet();
        delete lookup;
        QVERIFY(!listed);
    }

    // The grid measures its row marks and fitted columns once per text; the
    // sizes stay those of a plain view over the same rows, as rows, marks
    // and the font change.
    void gridMeasuresAsAPlainView()
    {
        ws->exec(QStringLiteral("INSERT INTO DormInfo (DormID, DormName) VALUES ('2007004', '东一'), ('2007005', '东一')"));
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}, {QStringLiteral("DormName"), QStringLiteral("名称")},
                          {QStringLiteral("Remark"), QStringLiteral("备注")}});
        grid->setDataSource(source);
        openDorms();
        auto *plain = new QTableView(form.get());
        plain->setWordWrap(false);
        plain->setModel(grid->model());
        const auto same = [&](const char *when) {
            QAbstractItemModel *m = grid->model();
            for (int r = 0; r < m->rowCount(); ++r)
                for (int c = 0; c < 3; ++c) {
                    const QSize mine = grid->sizeHintForIndex(m->index(r, c)), theirs = plain->sizeHintForIndex(m->index(r, c));
                    if (mine != theirs)
                        return QStringLiteral("%1: cell %2,%3 %4 != %5").arg(when).arg(r).arg(c).arg(mine.width()).arg(theirs.width());
                }
            if (grid->verticalHeader()->sizeHint() != plain->verticalHeader()->sizeHint())
                return QStringLiteral("%1: row marks %2 != %3").arg(when).arg(grid->verticalHeader()->sizeHint().width()).arg(plain->verticalHeader()->sizeHint().width());
            return QString();
        };
        QCOMPARE(same("opened"), QString());
        rs()->moveTo(4);
        rs()->edit();
        rs()->setFieldText(QStringLiteral("DormName"), QStringLiteral("东一楼北侧新建的第二栋"));
        rs()->setFieldText(QStringLiteral("Remark"), QString());
        QCOMPARE(same("edited"), QString());
        rs()->post();
        rs()->insert();  // the mark "*"
        QCOMPARE(same("inserting"), QString());
        rs()->cancel();
        QFont larger = grid->font();
        larger.setPointSize(larger.pointSize() + 6);
        grid->setFont(larger);
        plain->setFont(larger);
        QCOMPARE(same("larger font"), QString());
    }

    void gridFollowsTheRecordSetBothWays()
    {
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormName"), QStringLiteral("名称")}, {QStringLiteral("DormID"), QStringLiteral("编号")}});
        grid->setDataSource(source);
        openDorms();
        new QAbstractItemModelTester(grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, grid->model());
        QCOMPARE(grid->model()->columnCount(), 2);
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("名称"));
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QCOMPARE(grid->model()->index(0, 1).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
        QCOMPARE(grid->model()->index(2, 0).data().toString(), QStringLiteral("南三"));
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid->selectionBehavior(), QAbstractItemView::SelectRows);
        grid->setCurrentIndex(grid->model()->index(2, 0));
        QCOMPARE(rs()->recNo(), 2);
        QCOMPARE(grid->model()->headerData(2, Qt::Vertical).toString(), QStringLiteral("\u25B6"));
        rs()->moveTo(1);
        QCOMPARE(grid->currentIndex().row(), 1);
        rs()->insert();
        QCOMPARE(grid->model()->rowCount(), 4);
        QCOMPARE(grid->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("*"));
        rs()->cancel();

        // A refused implicit store keeps the record where it was.
        rs()->insert();
        rs()->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007001"));  // duplicate
        grid->setCurrentIndex(grid->model()->index(3, 0));
        QCOMPARE(rec->messages.size(), 1);
        QVERIFY(rec->last().text.contains(QLatin1String("DormID")));
        QCOMPARE(rs()->state(), DataSetState::Insert);
        QCoreApplication::processEvents();
        QCOMPARE(grid->currentIndex().row(), rs()->recNo());
    }

    // Ctrl+End reaches the true last row at once, before the row count is
    // known; Ctrl+Home comes back to the first.
    void ctrlEndReachesTheLastRowBeforeTheCountIsKnown()
    {
        dravon::TableSource::setCountAtOpenLimitForTesting(0);  // counted by the worker, as a large table is
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 5000) "
                                "INSERT INTO DormInfo (DormID, DormName) SELECT 3000000 + i, '楼' || i FROM n"));
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}});
        grid->setDataSource(source);
        openDorms();
        QVERIFY(!rs()->countKnown());
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), QStringLiteral("3005000"));
        QCOMPARE(grid->currentIndex().row(), rs()->recNo());
        QVERIFY(rs()->rowsFetched() <= 3 * 128);
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(rs()->recNo(), 0);
        QCOMPARE(grid->currentIndex().row(), 0);
        // Once the count is known the last row is still the last one.
        rs()->waitForCount();
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(rs()->recNo(), 5002);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), QStringLiteral("3005000"));
        QCOMPARE(grid->currentIndex().row(), 5002);
    }

    // Saving, adding and deleting deep in a long table leave the grid where
    // the user was: the same current row and the same scroll position.
    void writesKeepTheCurrentRowAndScrollPosition()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 6000) "
                                "INSERT INTO DormInfo (DormID, DormName) SELECT 3000000 + i, '楼' || i FROM n"));
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}, {QStringLiteral("DormName"), QStringLiteral("名称")}});
        grid->setDataSource(source);
        form->layout()->addWidget(grid);
        form->resize(400, 300);
        form->show();
        openDorms();
        rs()->waitForCount();
        QCoreApplication::processEvents();
        rs()->moveTo(4000);
        grid->scrollTo(grid->currentIndex(), QAbstractItemView::PositionAtCenter);
        QCoreApplication::processEvents();
        QScrollBar *bar = grid->verticalScrollBar();
        const int scrolled = bar->value();
        QVERIFY(scrolled > 3000);
        const QString here = rs()->fieldText(QStringLiteral("DormID"));

        rs()->edit();
        rs()->setFieldText(QStringLiteral("DormName"), QStringLiteral("改过的楼"));
        rs()->post();
        QCoreApplication::processEvents();
        QCOMPARE(rs()->recNo(), 4000);
        QCOMPARE(grid->currentIndex().row(), 4000);
        QCOMPARE(bar->value(), scrolled);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), here);

        rs()->insert();
        rs()->setFieldText(QStringLiteral("DormID"), QStringLiteral("9999999"));
        rs()->post();
        QCoreApplication::processEvents();
        QCOMPARE(rs()->recNo(), 4000);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), QStringLiteral("9999999"));
        QCOMPARE(grid->currentIndex().row(), 4000);
        QVERIFY2(qAbs(bar->value() - scrolled) <= 1, qPrintable(QStringLiteral("%1 -> %2").arg(scrolled).arg(bar->value())));

        rs()->remove();
        QCoreApplication::processEvents();
        QCOMPARE(rs()->recNo(), 4000);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), here);
        QCOMPARE(grid->currentIndex().row(), 4000);
        QVERIFY2(qAbs(bar->value() - scrolled) <= 1, qPrintable(QStringLiteral("%1 -> %2").arg(scrolled).arg(bar->value())));
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM DormInfo")), QStringList({"6003"}));
    }

    // A click on a column title sorts the grid's rows by it, again:
    // descending; the current record stays current. Not while a record is
    // edited.
    void titleClickSortsAndKeepsTheCurrentRecord()
    {
        ws->exec(QStringLiteral("INSERT INTO DormInfo VALUES ('2007004', '北四', NULL), ('2007005', '东五', NULL)"));
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormName"), QStringLiteral("名称")}, {QStringLiteral("DormID"), QStringLiteral("编号")},
                          {QStringLiteral("Missing"), QStringLiteral("无此列")}});
        grid->setDataSource(source);
        form->layout()->addWidget(grid);
        form->resize(500, 300);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        openDorms();
        new QAbstractItemModelTester(grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest, grid->model());
        QHeaderView *header = grid->horizontalHeader();
        auto clickTitle = [&](int column) {
            const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };
        auto shown = [&](int column) {
            QStringList texts;
            for (int row = 0; row < grid->model()->rowCount(); ++row)
                texts << grid->model()->index(row, column).data().toString();
            return texts;
        };
        QCOMPARE(header->sortIndicatorSection(), -1);
        grid->setCurrentIndex(grid->model()->index(1, 0));  // 西二
        clickTitle(0);
        QStringList names = shown(0);
        QCOMPARE(names, QStringList({"东一", "东五", "北四", "南三", "西二"}));  // as the engine orders texts
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), QStringLiteral("2007002"));
        QCOMPARE(grid->currentIndex().row(), 4);
        QCOMPARE(header->sortIndicatorSection(), 0);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        clickTitle(0);
        std::reverse(names.begin(), names.end());
        QCOMPARE(shown(0), names);
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(grid->currentIndex().row(), 0);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormName")), QStringLiteral("西二"));
        clickTitle(2);  // shows no column of the set: nothing happens
        QCOMPARE(shown(0), names);
        QCOMPARE(header->sortIndicatorSection(), 0);
        clickTitle(1);
        QCOMPARE(shown(1), QStringList({"2007001", "2007002", "2007003", "2007004", "2007005"}));
        QCOMPARE(header->sortIndicatorSection(), 1);
        // Not while a record is being edited.
        rs()->edit();
        clickTitle(0);
        QCOMPARE(header->sortIndicatorSection(), 1);
        QCOMPARE(rs()->state(), DataSetState::Edit);
        rs()->cancel();

        // Sorted as a large set is, by one pass over the rows: a pass that
        // holds every row needs no worker for the rest of the order.
        dravon::RowSource::setSortHereLimitForTesting(0);
        dravon::KeyOrder::holdForTesting(true);
        clickTitle(0);
        QVERIFY(!rs()->orderPending());
        QVERIFY(rec->messages.isEmpty());
        QCOMPARE(shown(0), QStringList({"东一", "东五", "北四", "南三", "西二"}));
        QCOMPARE(header->sortIndicatorSection(), 0);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), QStringLiteral("2007002"));
        QCOMPARE(grid->currentIndex().row(), 4);
    }

    // A large sort paints its first rows at once while a worker reads the
    // whole order: the current record stays current and shows where it now
    // stands; Ctrl+Home and Ctrl+End reach the first and last rows without
    // waiting; PageDown past the rows known waits with the sort's progress,
    // whose cancel keeps the current record; then every row shows in order.
    void largeSortPaintsItsFirstRowsAtOnce()
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 3000) "
                                "INSERT INTO DormInfo SELECT 3000000 + i, CASE WHEN i % 50 = 0 THEN NULL "
                                "ELSE 'N' || (i * 7919 % 997) END, NULL FROM n"));
        // Empty names first, as the program sorts them on either engine.
        const QStringList expected = ws->query(QStringLiteral("SELECT DormID FROM DormInfo ORDER BY DormName IS NULL DESC, DormName, rowid"));
        dravon::RowSource::setSortHereLimitForTesting(0);
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormName"), QStringLiteral("名称")}, {QStringLiteral("DormID"), QStringLiteral("编号")}});
        grid->setDataSource(source);
        form->layout()->addWidget(grid);
        form->resize(500, 400);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        openDorms();
        QAbstractItemModel *model = grid->model();
        // What the grid paints: the identifiers of the rows in view.
        auto checkVisibleRows = [&] {
            QCoreApplication::processEvents();
            const int top = grid->rowAt(0);
            const int bottom = grid->rowAt(grid->viewport()->height() - 1);
            QVERIFY(top >= 0 && bottom > top);
            for (int row = top; row <= bottom; ++row)
                QVERIFY2(model->index(row, 1).data().toString() == expected[row],
                         qPrintable(QStringLiteral("row %1 of %2-%3, current %4").arg(row).arg(top).arg(bottom).arg(rs()->recNo())));
        };
        const QRect cell = grid->visualRect(model->index(4, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        const QString current = rs()->fieldText(QStringLiteral("DormID"));
        QCOMPARE(current, QStringLiteral("3000002"));

        dravon::KeyOrder::holdForTesting(true);
        WorkProgress::setShowDelay(0);
        QHeaderView *header = grid->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, header->height() / 2));
        QVERIFY(rs()->orderPending());
        QCOMPARE(header->sortIndicatorSection(), 0);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), current);
        QCOMPARE(grid->currentIndex().row(), int(expected.indexOf(current)));
        QVERIFY(grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex()).center()));
        checkVisibleRows();
        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(rs()->recNo(), 3002);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), expected.last());
        checkVisibleRows();
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(rs()->recNo(), 0);
        checkVisibleRows();
        QVERIFY(rec->messages.isEmpty());

        // Down the first page, then past it: the wait shows progress, cancelled.
        QString progressTitle;
        testsupport::whenModal<QProgressDialog>([&](QProgressDialog *dialog) {
            progressTitle = dialog->windowTitle() + QLatin1Char('|') + dialog->labelText();
            QTest::mouseClick(dialog->findChild<QPushButton *>(), Qt::LeftButton);
        });
        int before = 0;
        while (rs()->recNo() >= before && progressTitle.isEmpty()) {
            before = rs()->recNo() + 1;
            QTest::keyClick(grid, Qt::Key_PageDown);
        }
        QCOMPARE(progressTitle, QStringLiteral("排序|正在按 \"名称\" 排序…"));
        const int stayed = rs()->recNo();
        QVERIFY2(stayed > 0 && stayed < 128, qPrintable(QString::number(stayed)));
        QCOMPARE(grid->currentIndex().row(), stayed);
        QCOMPARE(rs()->fieldText(QStringLiteral("DormID")), expected[stayed]);
        QVERIFY(rs()->orderPending());
        // The rows known still show; those past them stay empty, not asked for again.
        for (int row = grid->rowAt(0); row <= grid->rowAt(grid->viewport()->height() - 1); ++row)
            QCOMPARE(model->index(row, 1).data().toString(), row < 128 ? expected[row] : QString());
        QCoreApplication::processEvents();
        QVERIFY(!QApplication::activeModalWidget());

        // Asked again with the worker free: the rows come, and the grid moves on.
        dravon::KeyOrder::holdForTesting(false);
        QTest::keyClick(grid, Qt::Key_PageDown);
        QVERIFY(!rs()->orderPending());
        QVERIFY(rs()->recNo() > stayed);
        QCOMPARE(grid->currentIndex().row(), rs()->recNo());
        checkVisibleRows();
        grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum() / 2);
        checkVisibleRows();
        QVERIFY(rec->messages.isEmpty());
    }

    void readsThatFailUnderAViewAreReportedOnce()
    {
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormName"), QStringLiteral("名称")}});
        grid->setDataSource(source);
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 500) "
                                "INSERT INTO DormInfo SELECT 3000000 + i, 'x', NULL FROM n"));
        openDorms();
        QTRY_COMPARE_WITH_TIMEOUT(grid->model()->rowCount(), 503, 30000);  // the count is learnt in the background
        conn->close();
        QCOMPARE(grid->model()->index(300, 0).data().toString(), QString());
        QCOMPARE(grid->model()->index(350, 0).data().toString(), QString());
        QVERIFY(rec->messages.isEmpty());  // never inside a paint
        QCoreApplication::processEvents();
        QCOMPARE(rec->messages.size(), 1);
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
    }

    void ctrlDeleteAsksAndDeletes()
    {
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}});
        grid->setMultiSelect(true);
        grid->setDataSource(source);
        openDorms();
        QCOMPARE(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(grid->palette().color(QPalette::Inactive, QPalette::Highlight),
                 grid->palette().color(QPalette::Active, QPalette::Highlight));

        rec->answer(QMessageBox::Cancel);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(rec->last().text, QStringLiteral("Delete record?"));
        QCOMPARE(rec->last().title, QStringLiteral("确认"));
        QCOMPARE(rec->last().buttons, QMessageBox::Ok | QMessageBox::Cancel);
        QCOMPARE(ws->query(QStringLiteral("SELECT count(*) FROM DormInfo")), QStringList({"3"}));

        grid->selectionModel()->select(grid->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        grid->selectionModel()->select(grid->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        rec->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(rec->last().text, QStringLiteral("Delete all selected records?"));
        QCOMPARE(rec->last().title, QStringLiteral("确认"));
        QCOMPARE(ws->query(QStringLiteral("SELECT DormID FROM DormInfo")), QStringList({"2007002"}));
        QCOMPARE(grid->model()->rowCount(), 1);

        rec->answer(QMessageBox::Ok);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QVERIFY(ws->query(QStringLiteral("SELECT DormID FROM DormInfo")).isEmpty());
        const int asked = rec->messages.size();
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);  // empty: no question
        QCOMPARE(rec->messages.size(), asked);
    }

    void leavingTheGridDropsAnUntouchedNewRecord()
    {
        auto *grid = new DataGrid(form.get());
        grid->setColumns({{QStringLiteral("DormID"), QStringLiteral("编号")}});
        grid->setDataSource(source);
        auto *edit = new DBEdit(form.get());
        edit->bind(source, QStringLiteral("DormName"));
        form->layout()->addWidget(grid);
        form->layout()->addWidget(edit);
        openDorms();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        grid->setFocus();
        rs()->insert();
        edit->setFocus();
        QCOMPARE(rs()->state(), DataSetState::Browse);
        QCOMPARE(rs()->recordCount(), 3);

        grid->setFocus();
        rs()->insert();
        rs()->setFieldText(QStringLiteral("DormID"), QStringLiteral("2007004"));
        edit->setFocus();
        QCOMPARE(rs()->state(), DataSetState::Insert);  // touched: kept
    }
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
