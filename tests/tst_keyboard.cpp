// The program used from the keyboard and through its dialogs, as a clerk
// does: destructive questions that default to 否, the desktop keys of the
// record commands and of the grids, dates typed in
// the usual forms and the picker's year, the file dialogs' folder, the
// export's open buttons, and the panels and the moral tree as laid out.
#include "app/Common_Unit.h"
#include "app/Program_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/ShortDate.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/master/CollegeSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/MoralSet_Unit.h"
#include "forms/students/PracticeSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "forms/system/BackUpData_Unit.h"
#include "gui/GridExport.h"
#include "gui/SaveFileDialog.h"
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <QCalendarWidget>
#include <QScopeGuard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

using dravon::DataSetState;
using testsupport::MessageRecorder;
using testsupport::TestWorkspace;
using testsupport::whenModal;

namespace {

const char seedRows[] = R"SQL(
INSERT INTO GradeInfo (GradeID, GrdName) VALUES ('2007001','计算机学院'),('2007002','外语学院');
INSERT INTO DormInfo (DormID, DormName) VALUES ('2007001','一号楼101');
INSERT INTO ClassInfo (ClassID, GradeID, ClaName) VALUES ('2007001','2007001','一班');
INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('2007001','王小明','2007001'),('2007002','李四','2007001');
INSERT INTO Score (StudentID, ScoreDateTime, Term, Score) VALUES ('2007001','2007-01-15','第一学期',90.0),
  ('2007002','2007-01-16','第一学期',70.0);
)SQL";

// Catches what the program asks the desktop to open.
class DesktopCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

}

class KeyboardTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> rec;

    template<typename T>
    T *open(const char *menu, QPointer<T> &reference)
    {
        frmTeachMain->menuItem(QString::fromLatin1(menu))->trigger();
        if (!reference || !QTest::qWaitForWindowExposed(reference))
            return nullptr;
        reference->activateWindow();
        return reference;
    }
    static void focus(QWidget *w)
    {
        // A closed modal dialog leaves no window active on this platform.
        w->window()->activateWindow();
        QTRY_VERIFY(w->window()->isActiveWindow());
        w->setFocus();
        QTRY_VERIFY(w->hasFocus() || w->isAncestorOf(QApplication::focusWidget()));
    }
    QStringList colleges() { return ws->query(QStringLiteral("SELECT GrdName FROM GradeInfo ORDER BY rowid")); }
    QString exportCsv(DataGrid *grid, const QString &path, QString *suggested = nullptr)
    {
        SetSaveFileNameHandler([path, suggested](QWidget *, const QString &, const QString &offered, const QString &) {
            if (suggested)
                *suggested = offered;
            return path;
        });
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(grid, nullptr));
        menu->findChild<QAction *>(QStringLiteral("actExportCsv"))->trigger();
        return path;
    }

private slots:
    void init()
    {
        ResetApplicationEndForTesting();
        CurrentUserID.clear();
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        ws = std::make_unique<TestWorkspace>();
        ws->exec(QString::fromUtf8(seedRows));
        rec = std::make_unique<MessageRecorder>();
        QVERIFY(CreateApplicationWindows());
        testsupport::showMainWindowLoggedIn();
        QVERIFY(QTest::qWaitForWindowExposed(frmTeachMain));
    }
    void cleanup()
    {
        DestroyApplicationWindows();
        SetSaveFileNameHandler({});
        SetFileDialogHandler({});
        rec.reset();
        ws.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Alt+D (or Ctrl+Del in the grid) and then Enter in the real box keeps
    // the row; the box's default is 否 or 取消. The other answer still deletes.
    void enterOnADeleteQuestionDeletesNothing_data()
    {
        QTest::addColumn<bool>("fromGrid");
        QTest::newRow("删除(&D) by Alt+D") << false;
        QTest::newRow("Ctrl+Del in the grid") << true;
    }
    void enterOnADeleteQuestionDeletesNothing()
    {
        QFETCH(bool, fromGrid);
        rec.reset();  // real message boxes
        TfrmCollegeSet *w = open("D5", frmCollegeSet);
        QVERIFY(w);
        QWidget *target = fromGrid ? static_cast<QWidget *>(w->DBGrid) : w->edtName;
        QString defaultText;
        auto ask = [&](bool confirm) {
            defaultText.clear();
            focus(target);
            whenModal<QMessageBox>([&, confirm](QMessageBox *box) {
                defaultText = box->defaultButton() ? box->defaultButton()->text() : QStringLiteral("<none>");
                if (confirm)
                    QTest::mouseClick(box->button(fromGrid ? QMessageBox::Ok : QMessageBox::Yes), Qt::LeftButton);
                else
                    QTest::keyClick(box, Qt::Key_Return);
            });
            pressKey(fromGrid ? Qt::Key_Delete : Qt::Key_D, fromGrid ? Qt::ControlModifier : Qt::AltModifier);
        };
        ask(false);
        QTRY_COMPARE(defaultText, fromGrid ? QStringLiteral("取消") : QStringLiteral("否(&N)"));
        QCoreApplication::processEvents();
        QCOMPARE(colleges(), QStringList({"计算机学院", "外语学院"}));
        ask(true);
        QTRY_COMPARE(colleges(), QStringList({"外语学院"}));
    }

    // Ctrl+N, Ctrl+S and Esc act from every kind of field of the window, and
    // the buttons' tooltips show them.
    void recordKeysFromEveryField_data()
    {
        QTest::addColumn<QString>("field");
        for (const char *name : {"edtName", "cmbxSex", "cmbxClass", "edtRemark", "DBGrid"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void recordKeysFromEveryField()
    {
        QFETCH(QString, field);
        TfrmStudentSet *w = open("D3", frmStudentSet);
        QVERIFY(w);
        QCOMPARE(w->btnAdd->toolTip(), QStringLiteral("添加 (Ctrl+N)"));
        QCOMPARE(w->btnSave->toolTip(), QStringLiteral("保存 (Ctrl+S)"));
        QCOMPARE(w->btnCancel->toolTip(), QStringLiteral("取消 (Esc)"));
        auto *control = w->findChild<QWidget *>(field);
        QVERIFY(control);
        focus(control);
        pressKey(Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(w->mainSource()->state(), DataSetState::Insert);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007003"));
        focus(w->edtName);
        testsupport::typeText(w->edtName, QStringLiteral("新生"));
        focus(control);
        pressKey(Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(w->mainSource()->state(), DataSetState::Browse);
        QCOMPARE(ws->query(QStringLiteral("SELECT StuName FROM StudentInfo WHERE StudentID = '2007003'")),
                 QStringList{"新生"});

        // Esc drops a change in edit state; in browse state it leaves the window open.
        focus(w->edtName);
        testsupport::typeText(w->edtName, QStringLiteral("甲"));
        QCOMPARE(w->mainSource()->state(), DataSetState::Edit);
        focus(control);
        pressKey(Qt::Key_Escape);
        QCOMPARE(w->mainSource()->state(), DataSetState::Browse);
        QCOMPARE(w->edtName->text(), QStringLiteral("新生"));
        pressKey(Qt::Key_Escape);
        QVERIFY(frmStudentSet && frmStudentSet->isVisible());
        QVERIFY(rec->messages.isEmpty());
    }

    // F5 re-reads the grid (a pending change is stored first), Ctrl+P opens
    // the print preview, Shift+F10 the grid's menu.
    void gridKeys()
    {
        TfrmCollegeSet *w = open("D5", frmCollegeSet);
        QVERIFY(w);
        w->DBGrid->setCurrentIndex(w->DBGrid->model()->index(1, 0));
        ws->exec(QStringLiteral("INSERT INTO GradeInfo (GradeID, GrdName) VALUES ('2007003', '法学院')"));
        QCOMPARE(w->DBGrid->model()->rowCount(), 2);
        focus(w->edtName);
        testsupport::typeText(w->edtName, QStringLiteral("新"));
        pressKey(Qt::Key_F5);
        QCOMPARE(w->DBGrid->model()->rowCount(), 3);
        QCOMPARE(w->mainSource()->dataSet()->recNo(), 1);
        QCOMPARE(colleges(), QStringList({"计算机学院", "外语学院新", "法学院"}));
        focus(w->DBGrid);
        ws->exec(QStringLiteral("DELETE FROM GradeInfo WHERE GradeID = '2007003'"));
        pressKey(Qt::Key_F5);
        QCOMPARE(w->DBGrid->model()->rowCount(), 2);

        bool previewed = false;
        whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *preview) {
            previewed = true;
            preview->reject();
        });
        pressKey(Qt::Key_P, Qt::ControlModifier);
        QTRY_VERIFY(previewed);

        QString menuShown;
        QTimer::singleShot(50, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                menuShown = menu->objectName();
                menu->close();
            }
        });
        focus(w->DBGrid);
        pressKey(Qt::Key_F10, Qt::ShiftModifier);
        QCOMPARE(menuShown, QStringLiteral("GridPopupMenu"));
        QVERIFY(rec->messages.isEmpty());
    }

    void datesInTheUsualForms_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        const QDate d(2009, 1, 13);
        for (const char *t : {"2009-1-13", "2009/1/13", "2009.1.13", "2009-01-13", "2009/01/13", "2009.01.13", " 2009-1-13 "})
            QTest::newRow(t) << "yyyy/M/d" << QString::fromLatin1(t) << d;
        QTest::newRow("day first") << "dd.MM.yyyy" << "13-1-2009" << d;
        QTest::newRow("month first") << "M/d/yyyy" << "1.13.2009" << d;
        QTest::newRow("no such day") << "yyyy/M/d" << "2009-2-30" << QDate();
        QTest::newRow("mixed separators") << "yyyy/M/d" << "2009-1/13" << QDate();
        QTest::newRow("two-digit year") << "yyyy/M/d" << "09-1-13" << QDate();
        QTest::newRow("year last, year-first format") << "yyyy/M/d" << "13-1-2009" << QDate();
    }
    void datesInTheUsualForms()
    {
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(QDate, date);
        dravon::setShortDateFormatForTesting(format);
        QCOMPARE(dravon::parseShortDate(text), date);
    }

    // A date typed unpadded is stored; the picker's year selector keeps the
    // month and day (the last day of a shorter February) and Enter takes it.
    void typedDateAndPickedYear()
    {
        TfrmStudentScore *w = open("M2", frmStudentScore);
        QVERIFY(w);
        focus(w->edtScore);
        pressKey(Qt::Key_N, Qt::ControlModifier);
        focus(w->edtScoreDateTime);
        testsupport::typeText(w->edtScoreDateTime, QStringLiteral("2009-1-13"));
        pressKey(Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(rec->messages.isEmpty(), qPrintable(rec->texts().join('\n')));
        QCOMPARE(ws->query(QStringLiteral("SELECT ScoreDateTime FROM Score ORDER BY Id DESC LIMIT 1")),
                 QStringList{"2009-01-13"});

        pressKey(Qt::Key_N, Qt::ControlModifier);
        whenModal<TfrmDateChoice>([](TfrmDateChoice *picker) {
            const auto closeAnyway = qScopeGuard([picker] { picker->close(); });
            picker->MonthCalendar1->setSelectedDate(QDate(2024, 2, 29));
            QTRY_VERIFY(picker->MonthCalendar1->isAncestorOf(QApplication::focusWidget()));
            pressKey(Qt::Key_Y, Qt::AltModifier);
            QVERIFY(picker->spnYear->hasFocus());
            pressKey(Qt::Key_Down);
            QCOMPARE(picker->MonthCalendar1->selectedDate(), QDate(2023, 2, 28));
            QCOMPARE(picker->MonthCalendar1->monthShown(), 2);
            picker->MonthCalendar1->setFocus();
            pressKey(Qt::Key_Return);
        });
        QTest::mouseClick(w->SpeedButton1, Qt::LeftButton);
        QCOMPARE(w->edtScoreDateTime->text(), QStringLiteral("2023/2/28"));
    }

    // The file dialogs start in the folder last used, which the settings
    // beside the program keep; an export offers to open the file or its
    // folder; replacing a file is asked with 否 as the default.
    void lastFolderAndOpeningTheExport()
    {
        TfrmCollegeSet *w = open("D5", frmCollegeSet);
        QVERIFY(w);
        DesktopCatcher desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
        const QString folder = QDir(ws->dir()).filePath(QStringLiteral("导出"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = QDir(folder).filePath(QStringLiteral("院系.csv"));
        rec->answer(QMessageBox::Open);
        exportCsv(w->DBGrid, file);
        QCOMPARE(rec->last().defaultButton, QMessageBox::Ok);
        QCOMPARE(rec->last().captions.value(QMessageBox::Open), QStringLiteral("打开文件"));
        QCOMPARE(rec->last().captions.value(QMessageBox::Apply), QStringLiteral("打开所在文件夹"));
        rec->answer(QMessageBox::Yes);  // replace the file
        rec->answer(QMessageBox::Apply);
        QString suggested;
        exportCsv(w->DBGrid, file, &suggested);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(rec->messages.at(1).defaultButton, QMessageBox::No);  // replacing the file
        QCOMPARE(desktop.opened, (QList<QUrl>{QUrl::fromLocalFile(file), QUrl::fromLocalFile(folder)}));
        QCOMPARE(QFileInfo(suggested).absolutePath(), folder);

        // Remembered in ConfigDB.ini, so a later run and the backup window start there.
        QFile ini(ws->iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(ini.readAll()).contains(QStringLiteral("LastFolder=") + folder));
        QString backupStart;
        SetFileDialogHandler([&](QFileDialog *dialog) {
            backupStart = dialog->directory().absolutePath();
            return QString();
        });
        QTest::mouseClick(open("N2", frmBackupData)->btnBackup, Qt::LeftButton);
        QCOMPARE(backupStart, folder);
        // A folder that has gone is not offered.
        QVERIFY(QDir(folder).removeRecursively());
        exportCsv(w->DBGrid, QDir(ws->dir()).filePath(QStringLiteral("b.csv")), &suggested);
        QVERIFY(QFileInfo(QFileInfo(suggested).absolutePath()).isDir());
    }

    // The dormitory box is as wide as the boxes above it; the label pairs of
    // the practice and moral panels stand apart; every menu shows "…" as one glyph.
    void panelsAndMenus()
    {
        TfrmDormManager *dorms = open("M5", frmDormManager);
        QVERIFY(dorms);
        QCOMPARE(dorms->cmbxDormID->width(), dorms->cmbxClassName->width());
        const QList<QPair<QWidget *, QString>> pairs = {{open("M3", frmPracticeSet), "Label2"},
                                                        {open("M4", frmMoralSet), "Label2"}};
        for (const auto &[window, name] : pairs) {
            auto *label = window->findChild<QLabel *>(name);
            auto *before = window->findChild<QWidget *>(QStringLiteral("cmbxStudentID"));
            const int textStart = label->geometry().left() + label->contentsRect().left();
            QVERIFY2(textStart - before->geometry().right() >= 18, qPrintable(window->objectName()));
        }
        QStringList items;
        std::function<void(QMenu *)> walk = [&](QMenu *menu) {
            for (QAction *a : menu->actions()) {
                items << a->text();
                if (a->menu())
                    walk(a->menu());
            }
        };
        for (QAction *title : frmTeachMain->menuBar()->actions())
            walk(title->menu());
        QVERIFY(items.contains(QStringLiteral("关于(&A)…")));
        QVERIFY2(!items.join('|').contains(QStringLiteral("...")), qPrintable(items.join('|')));
    }

    // The moral tree: a plus on a closed category, a minus on an open one; a
    // real double-click on the empty area acts on the node still selected.
    void moralTree()
    {
        TfrmMoralSet *w = open("M4", frmMoralSet);
        QVERIFY(w);
        QTreeWidget *tree = w->trvwMoralName;
        QTreeWidgetItem *category = tree->topLevelItem(0);
        auto branchAt = [&](QTreeWidgetItem *item) {
            const QRect row = tree->visualItemRect(item);
            return QRect(row.left() - tree->indentation(), row.top(), tree->indentation(), row.height()).center();
        };
        auto dark = [&](QPoint p) { return qGray(tree->viewport()->grab().toImage().pixel(p)) < 160; };
        const QPoint box = branchAt(category);
        QVERIFY(dark(box) && dark(box + QPoint(0, 2)) && dark(box + QPoint(2, 0)));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box);
        QVERIFY(category->isExpanded());
        QVERIFY(dark(box) && !dark(box + QPoint(0, 2)) && dark(box + QPoint(2, 0)));

        QTreeWidgetItem *item = category->child(1);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem *>{item});
        focus(w->edtRemark);
        pressKey(Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(w->edtMoralID->text(), QString());
        const QPoint empty(tree->viewport()->width() / 2, tree->viewport()->height() - 4);
        QVERIFY(!tree->indexAt(empty).isValid());
        // Through the platform: press, release, press, release, as a mouse sends them.
        QTest::mouseDClick(w->window()->windowHandle(), Qt::LeftButton, {}, tree->viewport()->mapTo(w->window(), empty));
        QCOMPARE(w->edtMoralID->text(), QStringLiteral("1002"));
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem *>{item});
    }
};

QTEST_MAIN(KeyboardTest)
#include "tst_keyboard.moc"
