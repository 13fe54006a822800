// Screenshot tour: renders every window of the program to PNG files, on a
// temporary copy of the delivered database with a few sample rows.
// Usage: ScreenshotTour <output folder>   (runs offscreen by itself)
#include "app/Common_Unit.h"
#include "app/DBSetup_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/Looks_Unit.h"
#include "app/Shell_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/SettingsClient.h"
#include "forms/base/DateChoice_Unit.h"
#include "forms/master/ClassSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "data/export/Transcript.h"
#include "gui/GridExport.h"
#include "gui/TranscriptPrint.h"
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
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
INSERT INTO Score VALUES ('2007001', '2008-01-10', '2007-2008学年第一学期', '2007001', '2007001', 86, 4, NULL),
  ('2007001', '2008-01-12', '2007-2008学年第一学期', '2007002', '2007001', 58, 3.5, NULL),
  ('2007001', '2008-07-01', '2007-2008学年第二学期', '2007002', '2007001', 75, 3.5, '补考'),
  ('2007001', '2008-07-03', '2007-2008学年第二学期', '2007003', '2007001', 92, 3, NULL);
)SQL";

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
    settings::writeIni(workspace.iniPath(), QStringLiteral("Info"), QStringLiteral("SchoolName"),
                       QStringLiteral("青山理工学院"));

    auto *mainWindow = new TfrmTeachMain;
    TDM dataModule;

    {
        TfrmDBSetup setup(nullptr);
        setup.show();
        save(&setup, QStringLiteral("02-db-setup"));
    }

    loginWhenAsked();
    mainWindow->resize(1280, 860);
    mainWindow->show();
    save(mainWindow, QStringLiteral("03-main"));

    openFromMenu(QStringLiteral("D2"), QStringLiteral("10-teachers"));
    openFromMenu(QStringLiteral("D3"), QStringLiteral("11-students"));
    if (frmStudentSet) {
        frmStudentSet->cmbxClass->showPopup();
        QApplication::processEvents();
        save(frmStudentSet->cmbxClass->view()->window(), QStringLiteral("12-students-class-list"));
        frmStudentSet->cmbxClass->hidePopup();
    }
    openFromMenu(QStringLiteral("D4"), QStringLiteral("13-subjects"));
    openFromMenu(QStringLiteral("D5"), QStringLiteral("14-colleges"));
    openFromMenu(QStringLiteral("D6"), QStringLiteral("15-classes"));
    openFromMenu(QStringLiteral("D7"), QStringLiteral("16-dormitories"));
    openFromMenu(QStringLiteral("S3"), QStringLiteral("17-users"));
    // Each working window on its own, as a person sees it in front.
    const auto windows = mainWindow->mdiArea()->subWindowList();
    for (QMdiSubWindow *sub : windows)
        save(sub, QStringLiteral("20-") + sub->widget()->objectName());

    // Taking rows out: the grid's menu, a class list's print preview and
    // PDF page, and a student's transcript.
    testsupport::MessageRecorder messages;
    if (frmStudentSet) {
        frmStudentSet->mdiSubWindow()->setFocus();
        QMenu *menu = BuildGridContextMenu(frmStudentSet->DBGrid, frmStudentSet->DBGrid);
        menu->popup(frmStudentSet->DBGrid->viewport()->mapToGlobal(QPoint(120, 40)));
        QApplication::processEvents();
        save(menu, QStringLiteral("40-grid-menu"));
        menu->hide();
        delete menu;
    }
    if (frmClassSet) {
        savePreview(QStringLiteral("41-class-list-preview"));
        PrintGrid(frmClassSet->DBGrid);
        const QString pdf = QDir(outputDir).filePath(QStringLiteral("class-list.pdf"));
        WriteTablePdf(GridExportTable(frmClassSet->DBGrid), PrintHeader(frmClassSet->windowTitle()), pdf);
        savePdfPage(pdf, QStringLiteral("42-class-list-pdf"));
    }
    if (frmStudentSet) {
        savePreview(QStringLiteral("43-transcript-preview"));
        frmStudentSet->btnPrintTranscript->click();
        const QString pdf = QDir(outputDir).filePath(QStringLiteral("transcript.pdf"));
        WriteTranscriptPdf(exporting::LoadTranscript(DM->ADOConn, QStringLiteral("2007001")), exporting::schoolName(), pdf);
        savePdfPage(pdf, QStringLiteral("44-transcript-pdf"));
    }
    for (const testsupport::Message &m : messages.messages)
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));

    {
        TfrmDateChoice picker(mainWindow);
        picker.show();
        save(&picker, QStringLiteral("30-date-choice"));
    }
    delete mainWindow;
    return 0;
}
