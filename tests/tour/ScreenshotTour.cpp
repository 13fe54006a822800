// Screenshot tour: renders every window of the program to PNG files, on a
// temporary copy of the delivered database with a few sample rows.
// Usage: ScreenshotTour <output folder>   (runs offscreen by itself)
#include "app/Common_Unit.h"
#include "app/DBSetup_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/Program_Unit.h"
#include "app/Looks_Unit.h"
#include "gui/Shell_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/SettingsClient.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/courses/FindSubject_Unit.h"
#include "forms/courses/PlanSubject_Unit.h"
#include "forms/master/ClassSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/MoralSet_Unit.h"
#include "forms/system/About_Unit.h"
#include "forms/system/BackUpData_Unit.h"
#include "forms/system/ModifyPassword_Unit.h"
#include "forms/system/RecycleBin_Unit.h"
#include "forms/system/SchoolInfo_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "forms/stats/ScoreRanking_Unit.h"
#include "forms/stats/ScoreStatistics_Unit.h"
#include "forms/stats/StatsSettings_Unit.h"
#include "forms/stats/Summary_Unit.h"
#include "gui/stats/ResultGrid.h"
#include "gui/stats/WorkRunner.h"
#include "data/export/Transcript.h"
#include "gui/GridExport.h"
#include "gui/RowHistory.h"
#include "gui/controls/DataGrid.h"
#include "gui/QuickFindBox.h"
#include "gui/controls/GridFindBar.h"
#include "gui/TranscriptPrint.h"
#include "gui/import/ImportWizard.h"
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemView>
#include <QDateEdit>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <QTreeView>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <cstdio>

namespace {

QString outputDir;

void save(QWidget *widget, const QString &name)
{
    QApplication::processEvents();
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(path))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

const char *sampleRows = R"SQL(
INSERT INTO GradeInfo VALUES ('2007001', '计算机学院', NULL), ('2007002', '外国语学院', '含日语系');
INSERT INTO ClassInfo VALUES ('2007001', '2007001', '软件工程一班', NULL), ('2007002', '2007001', '网络工程二班', NULL),
  ('2007003', '2007002', '英语一班', '班主任:李老师');
INSERT INTO StudentInfo VALUES
  ('2007001', '王小明', '男', 19, '2007001', '2007-09-01', '2011-07-01', '13800000001', NULL),
  ('2007002', '李晓红', '女', 18, '2007002', '2007-09-01', '2011-07-01', 'lixh@example.edu', '班长'),
  ('2007003', '欧阳修远', '男', 20, '2009999', '2007-09-03', NULL, NULL, '班级编号已不存在');
INSERT INTO TeacherInfo VALUES ('2007001', '张建国', '男', 45, '教授', '010-12345678', '系主任'),
  ('2007002', '陈静', '女', 32, '讲师', NULL, NULL);
INSERT INTO SubjectInfo VALUES ('2007001', '高等数学', 4, NULL), ('2007002', '大学英语', 3.5, NULL),
  ('2007003', '数据结构', 3, '专业课');
INSERT INTO DormInfo VALUES ('2007001', '东区一号楼101', NULL), ('2007002', '西区三号楼412', '女生宿舍');
INSERT INTO "User" VALUES ('1002', '教务员', '123456', NULL);
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark) VALUES
  ('2007001', '2007001', '2007001', '第一学期', '2007-09-10', '2008-01-15', '周一上午'),
  ('2007002', '2007002', '2007002', '第一学期', '2007-09-15', '2008-01-20', NULL),
  ('2007003', '2007003', '2007001', '第二学期', '2008-02-25', '2008-07-01', '实验课在机房');
INSERT INTO Practice (StudentID, ClassID, PracticeDateTime, PracticeName, PracticeResult, Remark) VALUES
  ('2007001', '2007001', '2007-10-01', '社区义务支教,每周两次', '优秀', NULL),
  ('2007002', '2007002', '2007-11-05', '敬老院志愿服务', '良好', '带队:张老师');
INSERT INTO Moral (StudentID, ClassID, MoralID, MoralResult, Remark) VALUES
  ('2007001', '2007001', '1002', 92, NULL), ('2007002', '2007002', '3002', 85.5, '劳动积极'),
  ('2007003', '2007003', '2001', 78, NULL);
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES
  ('2007001', '2008-01-15', '第一学期', '2007001', '2007001', 92, 4, NULL),
  ('2007001', '2008-01-17', '第一学期', '2007002', '2007001', 85.5, 3.5, NULL),
  ('2007002', '2008-01-15', '第一学期', '2007001', '2007002', 78, 4, '补考'),
  ('2007003', '2008-06-20', '第二学期', '2007003', '2007003', 66, 3, NULL);
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) VALUES ('2007001', '2007001', '男', '2007001', NULL),
  ('2007002', '2007002', '女', '2007002', '舍长');
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) VALUES ('2007001', '学费', '2007001', 4800, NULL),
  ('2007001', '书本费', '2007001', 320.5, NULL), ('2007002', '学费', '2007002', 4800, '分两次缴清');
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark) VALUES ('2007001', '2008-01-10', '第一学期', '2007001', '2007001', 86, 4, NULL),
  ('2007001', '2008-01-12', '第一学期', '2007002', '2007001', 58, 3.5, NULL),
  ('2007001', '2008-07-01', '第二学期', '2007002', '2007001', 75, 3.5, '补考'),
  ('2007001', '2008-07-03', '第二学期', '2007003', '2007001', 92, 3, NULL),
  ('2007001', '2009-01-08', '第三学期', '2007002', '2007001', 81, 3.5, '重修');
INSERT INTO StudentInfo VALUES
  ('2007004', '司马𠀀', '女', 19, '2007002', '2007-09-01', NULL, '+86 138 0000 0001', '转专业学生，原就读于外国语学院英语一班，2008年3月经学院批准转入网络工程二班；'
   || '入学以来学习刻苦，成绩稳定，连续两年获得校级三好学生称号，并担任班级学习委员；2009年参加全国大学生数学建模竞赛获省级二等奖（团队）；'
   || '课余积极参加社区义务支教和敬老院志愿服务，累计服务时长超过120小时；家庭经济困难，已申请国家助学金，需在每学期开学前复核材料；'
   || '宿舍调整记录：2008年9月由东区一号楼101迁至西区三号楼412；联系人：母亲，电话见联系方式一栏。');
)SQL";

const char *sampleSchool = "[Info]\nSchoolName=第一实验学校\nSchoolAddress=北京市海淀区学院路 38 号\n"
                           "LinkMan=王主任\nType=010-62345678\n";

// Renders a modal dialog of type T while the menu command that opens it runs.
template<typename T>
void shootModal(const QString &shot, std::function<void(T *)> prepare = {})
{
    QTimer::singleShot(50, [shot, prepare] {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!dialog) {
            shootModal<T>(shot, prepare);
            return;
        }
        if (prepare)
            prepare(dialog);
        save(dialog, shot);
        dialog->close();
    });
}

// The first page of a PDF file as a PNG picture, through pdftoppm.
void savePdfPage(const QString &pdf, const QString &name)
{
    const QString base = QDir(outputDir).filePath(name);
    if (QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("90"),
                                                      QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                                      QStringLiteral("1"), QStringLiteral("-singlefile"), pdf, base})
        != 0)
        std::fprintf(stderr, "cannot render %s\n", qPrintable(pdf));
    else
        std::printf("%s.png\n", qPrintable(base));
}

// Every page of a PDF file as PNG pictures (name-1.png, name-2.png, ...).
void savePdfPages(const QString &pdf, const QString &name)
{
    const QString base = QDir(outputDir).filePath(name);
    if (QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("70"), pdf, base})
        != 0)
        std::fprintf(stderr, "cannot render %s\n", qPrintable(pdf));
    else
        std::printf("%s-*.png\n", qPrintable(base));
}

// A class of students each with marks in three subjects over two terms, for the statistics' pictures.
const char *statisticsRows = R"SQL(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 36)
INSERT INTO StudentInfo (StudentID, StuName, StuSex, ClassID, InSchoolDate)
  SELECT 2008000 + i, '学生' || i, CASE i % 2 WHEN 0 THEN '女' ELSE '男' END, '200700' || (1 + i % 3), '2007-09-01' FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 36),
  s(j) AS (SELECT 1 UNION ALL SELECT j + 1 FROM s WHERE j < 3),
  t(k, term) AS (VALUES (1, '第一学期'), (2, '第二学期'))
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour)
  SELECT 2008000 + i, CASE k WHEN 1 THEN '2008-01-15' ELSE '2008-07-01' END, term, '200700' || j, '200700' || (1 + i % 3),
         CASE WHEN (i * 7 + j * 3 + k) % 17 = 0 THEN NULL ELSE 45 + ((i * 37 + j * 11 + k * 5) % 55) END,
         CASE j WHEN 1 THEN 4 WHEN 2 THEN 3.5 ELSE 3 END
  FROM n, s, t;
)SQL";

// Shows the next print preview at a readable size, saves it, and closes it.
void savePreview(const QString &name)
{
    testsupport::whenModal<QPrintPreviewDialog>([name](QPrintPreviewDialog *dialog) {
        dialog->resize(1000, 760);
        QApplication::processEvents();
        save(dialog, name);
        dialog->reject();
    });
}

// Answers the login window, which the main window shows before it appears.
void loginWhenAsked()
{
    QTimer::singleShot(50, [] {
        auto *login = qobject_cast<TfrmLogin *>(QApplication::activeModalWidget());
        if (!login) {
            loginWhenAsked();
            return;
        }
        login->edtUserID->setText(QStringLiteral("1001"));
        login->edtUserPwd->setText(QStringLiteral("admin"));
        save(login, QStringLiteral("01-login"));
        login->btnLogin->click();
    });
}

void openFromMenu(const QString &item, const QString &shot)
{
    frmTeachMain->menuItem(item)->trigger();
    QApplication::processEvents();
    save(frmTeachMain, shot);
}

}

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    outputDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outputDir);
    ApplyLooks(app);

    testsupport::TestWorkspace workspace;
    QFile::remove(workspace.dbPath());
    QFile::copy(QDir(testsupport::buildBinDir()).filePath(QStringLiteral("Teach.mdb")), workspace.dbPath());
    QFile(workspace.dbPath()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    workspace.exec(QString::fromUtf8(sampleRows));
    {
        QFile ini(workspace.iniPath());
        if (ini.open(QIODevice::Append))
            ini.write(sampleSchool);
    }

    auto *mainWindow = new TfrmTeachMain;
    TDM dataModule;

    {
        TfrmDBSetup setup(nullptr);
        setup.show();
        save(&setup, QStringLiteral("02-db-setup"));
        // Its file dialog, with Qt's own texts in Chinese.
        setup.OpenPath->setDirectory(workspace.dir());
        setup.OpenPath->show();
        save(setup.OpenPath, QStringLiteral("02-db-setup-file-dialog"));
        setup.OpenPath->hide();
    }

    loginWhenAsked();
    mainWindow->resize(1280, 860);
    ShowMainWindowAfterLogin(false);
    save(mainWindow, QStringLiteral("03-main"));

    openFromMenu(QStringLiteral("D2"), QStringLiteral("10-teachers"));
    openFromMenu(QStringLiteral("D3"), QStringLiteral("11-students"));
    if (frmStudentSet) {
        frmStudentSet->cmbxClass->showPopup();
        QApplication::processEvents();
        save(frmStudentSet->cmbxClass->view()->window(), QStringLiteral("12-students-class-list"));
        frmStudentSet->cmbxClass->hidePopup();
        // Sorted by a click on the 姓名 title, then again: descending.
        QHeaderView *header = frmStudentSet->DBGrid->horizontalHeader();
        for (int c = 0; c < header->count(); ++c) {
            if (header->model()->headerData(c, Qt::Horizontal).toString() != QStringLiteral("姓名"))
                continue;
            const QPoint title(header->sectionViewportPosition(c) + header->sectionSize(c) / 2, header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
        }
        QApplication::processEvents();
        save(frmTeachMain, QStringLiteral("12-students-sorted-by-name"));
    }
    openFromMenu(QStringLiteral("D4"), QStringLiteral("13-subjects"));
    openFromMenu(QStringLiteral("D5"), QStringLiteral("14-colleges"));
    openFromMenu(QStringLiteral("D6"), QStringLiteral("15-classes"));
    openFromMenu(QStringLiteral("D7"), QStringLiteral("16-dormitories"));
    openFromMenu(QStringLiteral("S3"), QStringLiteral("17-users"));
    openFromMenu(QStringLiteral("N6"), QStringLiteral("18-course-arrangement"));
    if (frmPlanSubject) {
        frmPlanSubject->cmbxSubject->showPopup();
        QApplication::processEvents();
        save(frmPlanSubject->cmbxSubject->view()->window(), QStringLiteral("18-course-subject-list"));
        frmPlanSubject->cmbxSubject->hidePopup();
    }
    openFromMenu(QStringLiteral("N7"), QStringLiteral("19-course-query"));
    if (frmFindSubject) {
        // Item and value empty: the arrangements that begin in the autumn term.
        frmFindSubject->dtpBeginDate->setDate(QDate(2007, 9, 1));
        frmFindSubject->dtpEndDate->setDate(QDate(2007, 12, 31));
        frmFindSubject->btnFind->click();
        QApplication::processEvents();
    }
    openFromMenu(QStringLiteral("M3"), QStringLiteral("40-practice"));
    openFromMenu(QStringLiteral("M4"), QStringLiteral("41-moral"));
    openFromMenu(QStringLiteral("S2"), QStringLiteral("50-school-info"));
    openFromMenu(QStringLiteral("N2"), QStringLiteral("51-backup"));
    openFromMenu(QStringLiteral("M5"), QStringLiteral("60-dorm-places"));
    openFromMenu(QStringLiteral("M6"), QStringLiteral("61-payments"));
    openFromMenu(QStringLiteral("M2"), QStringLiteral("62-scores"));
    // Each working window on its own, as a person sees it in front.
    const auto windows = mainWindow->mdiArea()->subWindowList();
    for (QMdiSubWindow *sub : windows)
        save(sub, QStringLiteral("20-") + sub->widget()->objectName());

    // The conduct-item tree with a category open and an item picked.
    if (frmMoralSet) {
        QTreeWidgetItem *category = frmMoralSet->trvwMoralName->topLevelItem(0);
        category->setExpanded(true);
        frmMoralSet->trvwMoralName->setCurrentItem(category->child(2));
        frmMoralSet->btnModify->click();
        frmMoralSet->trvwMoralNameDblClick();
        save(frmMoralSet->mdiSubWindow(), QStringLiteral("21-frmMoralSet-tree-open"));
        frmMoralSet->btnCancel->click();
    }

    // The backup window while a copy runs: the strip moves.
    if (frmBackupData) {
        frmBackupData->Animate1->start();
        for (int i = 0; i < 7; ++i)
            QTest::qWait(60);
        save(frmBackupData->mdiSubWindow(), QStringLiteral("52-backup-copying"));
        frmBackupData->Animate1->stop();
    }

    shootModal<TfrmModifyPassword>(QStringLiteral("53-modify-password"),
                                   [](TfrmModifyPassword *d) { d->edtOldPassword->setText(QStringLiteral("admin")); });
    mainWindow->menuItem(QStringLiteral("S4"))->trigger();
    shootModal<TfrmAbout>(QStringLiteral("54-about"));
    mainWindow->menuItem(QStringLiteral("H3"))->trigger();

    // The score window's query page with a result: the subjects of one student.
    if (frmStudentScore) {
        frmStudentScore->mdiSubWindow()->raise();
        frmStudentScore->PageControl1->setCurrentIndex(1);
        frmStudentScore->cmbxItems->setCurrentIndex(frmStudentScore->cmbxItems->findText(QStringLiteral("科目")));
        frmStudentScore->cmbxItemsChange();
        frmStudentScore->cmbxCondition->setCurrentIndex(frmStudentScore->cmbxCondition->findText(QStringLiteral("=")));
        frmStudentScore->cmbxValues->setCurrentIndex(0);
        Guarded([] { frmStudentScore->btnFindClick(); });
        save(frmStudentScore->mdiSubWindow(), QStringLiteral("63-scores-query"));
        frmStudentScore->cmbxValues->showPopup();
        QApplication::processEvents();
        save(frmStudentScore->cmbxValues->view()->window(), QStringLiteral("64-scores-value-list"));
        frmStudentScore->cmbxValues->hidePopup();
        frmStudentScore->PageControl1->setCurrentIndex(0);
    }
    // The dormitory window's query page: the longest item, a result by dormitory.
    if (frmDormManager) {
        frmDormManager->PageControl1->setCurrentIndex(1);
        frmDormManager->cmbxItems->setCurrentIndex(frmDormManager->cmbxItems->findText(QStringLiteral("宿舍编号")));
        frmDormManager->cmbxItemsChange();
        frmDormManager->cmbxCondition->setCurrentIndex(frmDormManager->cmbxCondition->findText(QStringLiteral("Like")));
        frmDormManager->cmbxValues->setEditText(QStringLiteral("2007%"));
        Guarded([] { frmDormManager->btnFindClick(); });
        save(frmDormManager, QStringLiteral("65-dorm-places-query"));
        frmDormManager->PageControl1->setCurrentIndex(0);
    }
    // Finding: the student window's find bar with a match highlighted, and
    // the main window's quick find with its list.
    if (frmStudentSet) {
        frmStudentSet->mdiSubWindow()->raise();
        frmTeachMain->mdiArea()->setActiveSubWindow(frmStudentSet->mdiSubWindow());
        GridFindBar *bar = GridFindBar::of(frmStudentSet->DBGrid);
        bar->open();
        bar->edtFind->setText(QStringLiteral("oyx"));
        for (int i = 0; i < 100 && bar->isSearching(); ++i)
            QTest::qWait(10);
        QApplication::processEvents();
        save(frmStudentSet->mdiSubWindow(), QStringLiteral("22-students-find-bar"));
        bar->close();
    }
    if (QuickFindBox *box = frmTeachMain->quickFind()) {
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("x"));
        QApplication::processEvents();
        QImage shot = mainWindow->grab().toImage();
        if (box->list()->isVisible()) {
            // The list is a window of its own: drawn where it stands over the main window.
            QPainter painter(&shot);
            painter.drawPixmap(mainWindow->mapFromGlobal(box->list()->mapToGlobal(QPoint(0, 0))), box->list()->grab());
        }
        const QString path = QDir(outputDir).filePath(QStringLiteral("23-quick-find.png"));
        if (!shot.save(path))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        else
            std::printf("%s\n", qPrintable(path));
        box->list()->hide();
        box->clear();
    }
    // Taking rows out: the grid's menu, a class list's print preview and
    // PDF page, and a student's transcript.
    testsupport::MessageRecorder messages;
    if (frmStudentSet) {
        frmStudentSet->mdiSubWindow()->setFocus();
        QMenu *menu = BuildGridContextMenu(frmStudentSet->DBGrid, frmStudentSet->DBGrid);
        menu->popup(frmStudentSet->DBGrid->viewport()->mapToGlobal(QPoint(120, 40)));
        QApplication::processEvents();
        save(menu, QStringLiteral("70-grid-menu"));
        menu->hide();
        delete menu;
    }
    if (frmClassSet) {
        savePreview(QStringLiteral("71-class-list-preview"));
        PrintGrid(frmClassSet->DBGrid);
        const QString pdf = QDir(outputDir).filePath(QStringLiteral("class-list.pdf"));
        WriteTablePdf(GridExportTable(frmClassSet->DBGrid), PrintHeader(frmClassSet->windowTitle()), pdf);
        savePdfPage(pdf, QStringLiteral("72-class-list-pdf"));
    }
    if (frmStudentSet) {
        // A student list with a long remark: every other column keeps its width.
        const QString list = QDir(outputDir).filePath(QStringLiteral("student-list.pdf"));
        WriteTablePdf(GridExportTable(frmStudentSet->DBGrid), PrintHeader(frmStudentSet->windowTitle()), list);
        savePdfPage(list, QStringLiteral("77-long-remark-pdf"));
        savePreview(QStringLiteral("73-transcript-preview"));
        frmStudentSet->btnPrintTranscript->click();
        const QString pdf = QDir(outputDir).filePath(QStringLiteral("transcript.pdf"));
        WriteTranscriptPdf(exporting::LoadTranscript(DM->ADOConn, QStringLiteral("2007001")), exporting::schoolName(), pdf);
        savePdfPage(pdf, QStringLiteral("74-transcript-pdf"));
    }
    // Bringing rows in: each page of the import wizard with a real workbook
    // (two of its rows name classes the sample database does not have).
    {
        ImportWizard wizard(mainWindow, QStringLiteral("StudentInfo"));
        wizard.openFile(QStringLiteral(VELTRANA_IMPORT_DATA "/students-openpyxl.xlsx"));
        wizard.show();
        save(&wizard, QStringLiteral("80-import-file"));
        wizard.next();
        save(&wizard, QStringLiteral("81-import-mapping"));
        wizard.next();
        save(&wizard, QStringLiteral("82-import-mode"));
        wizard.next();
        auto *check = wizard.findChild<ImportCheckPage *>();
        for (int i = 0; i < 500 && !check->isComplete(); ++i)
            QTest::qWait(10);
        save(&wizard, QStringLiteral("83-import-check"));
        wizard.next();
        auto *apply = wizard.findChild<ImportApplyPage *>();
        for (int i = 0; i < 500 && !apply->isComplete(); ++i)
            QTest::qWait(10);
        save(&wizard, QStringLiteral("84-import-done"));
    }
    {
        // A wide score sheet: one column of marks per subject.
        ImportWizard wizard(mainWindow, QStringLiteral("Score"));
        wizard.openFile(QStringLiteral(VELTRANA_IMPORT_DATA "/scores-wide-gnumeric.xlsx"));
        wizard.show();
        wizard.next();
        save(&wizard, QStringLiteral("85-import-wide-score-mapping"));
    }
    // The change log: two scores deleted with Ctrl+Del, the edit menu
    // naming the undo, the recycle bin, and a student's history.
    if (frmStudentScore) {
        mainWindow->mdiArea()->setActiveSubWindow(frmStudentScore->mdiSubWindow());
        DataGrid *grid = frmStudentScore->DBGrid1;
        grid->selectionModel()->select(grid->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        grid->selectionModel()->select(grid->model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        messages.answer(QMessageBox::Ok);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        auto *edit = mainWindow->findChild<QMenu *>(QStringLiteral("E1"));
        mainWindow->menuBar()->setActiveAction(edit->menuAction());
        QApplication::processEvents();
        // The open menu is a window of its own: drawn over the main window's picture.
        QPixmap picture = mainWindow->grab();
        {
            QPainter painter(&picture);
            painter.drawPixmap(edit->mapToGlobal(QPoint()) - mainWindow->mapToGlobal(QPoint()), edit->grab());
        }
        const QString path = QDir(outputDir).filePath(QStringLiteral("97-undo-menu.png"));
        if (picture.save(path))
            std::printf("%s\n", qPrintable(path));
        edit->hide();
        mainWindow->menuBar()->setActiveAction(nullptr);
    }
    openFromMenu(QStringLiteral("N10"), QStringLiteral("98-recycle-bin"));
    if (frmRecycleBin)
        save(frmRecycleBin->mdiSubWindow(), QStringLiteral("98-recycle-bin-window"));
    if (frmStudentSet) {
        dravon::RecordSet *students = frmStudentSet->mainSource()->dataSet();
        students->first();
        students->edit();
        students->setFieldText(QStringLiteral("StuName"), QStringLiteral("王晓明"));
        students->setFieldText(QStringLiteral("StuContact"), QStringLiteral("13900000009"));
        students->post();
        RowHistoryDialog history(students, mainWindow);
        history.show();
        save(&history, QStringLiteral("99-row-history"));
    }
    // The statistics, on more marks: a group chosen, its charts, the PDF
    // with the charts below the table; a student's ranking and trend; the summaries.
    workspace.exec(QString::fromUtf8(statisticsRows));
    mainWindow->mdiArea()->closeAllSubWindows();
    QApplication::processEvents();
    mainWindow->menuItem(QStringLiteral("T2"))->trigger();
    if (frmScoreStatistics) {
        frmScoreStatistics->runner->waitUntilIdle();
        frmScoreStatistics->cmbxTerm->setCurrentIndex(1);
        frmScoreStatistics->compute();
        frmScoreStatistics->runner->waitUntilIdle();
        frmScoreStatistics->DBGrid1->selectRow(2);
        save(frmScoreStatistics->mdiSubWindow(), QStringLiteral("90-statistics-group"));
        const QString pdf = QDir(outputDir).filePath(QStringLiteral("statistics.pdf"));
        DataGrid *grid = frmScoreStatistics->DBGrid1;
        WriteTablePdf(GridExportTable(grid), PrintHeader(PrintCaption(grid)), pdf, {}, PrintFigures(grid));
        savePdfPages(pdf, QStringLiteral("91-statistics-pdf"));
        frmScoreStatistics->cmbxGrouping->setCurrentIndex(frmScoreStatistics->cmbxGrouping->findText(QStringLiteral("班级")));
        frmScoreStatistics->compute();
        frmScoreStatistics->runner->waitUntilIdle();
        frmScoreStatistics->DBGrid1->selectAll();
        save(frmScoreStatistics->mdiSubWindow(), QStringLiteral("92-statistics-classes"));
        frmScoreStatistics->closeWindow();
    }
    mainWindow->menuItem(QStringLiteral("T3"))->trigger();
    if (frmScoreRanking) {
        frmScoreRanking->runner->waitUntilIdle();
        frmScoreRanking->DBGrid1->selectRow(1);
        save(frmScoreRanking->mdiSubWindow(), QStringLiteral("93-ranking-trend"));
        const QString pdf = QDir(outputDir).filePath(QStringLiteral("ranking.pdf"));
        DataGrid *grid = frmScoreRanking->DBGrid1;
        WriteTablePdf(GridExportTable(grid), PrintHeader(PrintCaption(grid)), pdf, {}, PrintFigures(grid));
        savePdfPages(pdf, QStringLiteral("94-ranking-pdf"));
        frmScoreRanking->closeWindow();
    }
    mainWindow->menuItem(QStringLiteral("T4"))->trigger();
    if (frmSummary) {
        for (int page = 0; page < frmSummary->PageControl1->count(); ++page) {
            frmSummary->PageControl1->setCurrentIndex(page);
            frmSummary->runner->waitUntilIdle();
            QTest::qWait(300);
            save(frmSummary->mdiSubWindow(), QStringLiteral("95-summary-%1").arg(page + 1));
        }
    }
    shootModal<TfrmStatsSettings>(QStringLiteral("96-stats-settings"));
    mainWindow->menuItem(QStringLiteral("T6"))->trigger();

    for (const testsupport::Message &m : messages.messages)
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    // Real message boxes: an export's outcome with its open buttons, and a
    // delete question with 否 as the default.
    SetMessageHandler(nullptr);
    shootModal<QMessageBox>(QStringLiteral("75-export-done"));
    ReportWrittenFile(QStringLiteral("已将 3 行导出到文件 \"/home/教务/学生信息维护.xlsx\"。"), QStringLiteral("导出到 Excel"),
                      QStringLiteral("/home/教务/学生信息维护.xlsx"));
    shootModal<QMessageBox>(QStringLiteral("76-delete-question"));
    ConfirmDestructive(QStringLiteral("确定要删除此条记录?"), QStringLiteral("提示"));

    {
        TfrmDateChoice picker(mainWindow);
        picker.show();
        save(&picker, QStringLiteral("30-date-choice"));
    }
    delete mainWindow;
    return 0;
}
