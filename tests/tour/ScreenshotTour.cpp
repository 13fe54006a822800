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
#include "forms/base/DateChoice_Unit.h"
#include "forms/master/ClassSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "support/TestWorkspace.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
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
)SQL";

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

    {
        TfrmDateChoice picker(mainWindow);
        picker.show();
        save(&picker, QStringLiteral("30-date-choice"));
    }
    delete mainWindow;
    return 0;
}
