#include "app/TeachMain_Unit.h"

#include "app/Common_Unit.h"
#include "app/DBSetup_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "data/changes/Pruning.h"
#include "gui/Shell_Unit.h"
#include "gui/QuickFindBox.h"
#include "gui/SharedConnection.h"
#include "gui/import/ImportWizard.h"
#include "data/ServerSettings.h"
#include "forms/base/Base_Unit.h"
#include "forms/courses/FindSubject_Unit.h"
#include "forms/courses/PlanSubject_Unit.h"
#include "forms/master/ClassSet_Unit.h"
#include "forms/master/CollegeSet_Unit.h"
#include "forms/master/DormSet_Unit.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/master/SubjectSet_Unit.h"
#include "forms/master/TeacherSet_Unit.h"
#include "forms/master/UserSet_Unit.h"
#include "forms/students/MoralSet_Unit.h"
#include "forms/students/PracticeSet_Unit.h"
#include "forms/system/About_Unit.h"
#include "forms/system/BackUpData_Unit.h"
#include "forms/system/DataMigration_Unit.h"
#include "forms/system/RecycleBin_Unit.h"
#include "forms/system/ModifyPassword_Unit.h"
#include "forms/system/SchoolInfo_Unit.h"
#include "forms/students/CapturePrice_Unit.h"
#include "forms/students/DormManager_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "forms/stats/ScoreRanking_Unit.h"
#include "forms/stats/ScoreStatistics_Unit.h"
#include "forms/stats/StatsSettings_Unit.h"
#include "forms/stats/Summary_Unit.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <memory>
#include <utility>

TfrmTeachMain *frmTeachMain = nullptr;

TfrmTeachMain::TfrmTeachMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmTeachMain"));
    frmTeachMain = this;
    setWindowTitle(QStringLiteral("Veltrana"));
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName(QStringLiteral("MDIClient"));
    m_mdiArea->setBackground(QColor(128, 128, 128));
    setCentralWidget(m_mdiArea);

    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        m_panels[i]->setFixedWidth(150);
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(m_panels[i]);
    }
    buildMenu();
    buildQuickFind();
    resize(1024, 720);
    qApp->installEventFilter(this);
}

TfrmTeachMain::~TfrmTeachMain()
{
    m_pruner.reset();
    qApp->removeEventFilter(this);
    if (frmTeachMain == this)
        frmTeachMain = nullptr;
}

void TfrmTeachMain::buildMenu()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto addMenu = [this](QMenuBar *bar, const char *name, const QString &caption) {
        QMenu *menu = bar->addMenu(caption);
        menu->setObjectName(QString::fromLatin1(name));
        menu->menuAction()->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption,
                          void (TfrmTeachMain::*handler)(), bool available) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        // A command whose window is not part of the program yet stays disabled.
        action->setEnabled(available);
        if (handler)
            connect(action, &QAction::triggered, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
        return action;
    };
    auto separator = [](QMenu *menu, const char *name) { menu->addSeparator()->setObjectName(QString::fromLatin1(name)); };

    QMenu *s1 = addMenu(bar, "S1", QStringLiteral("系统设置(&S)"));
    addItem(s1, "S2", QStringLiteral("学校信息"), &TfrmTeachMain::S2Click, true);
    addItem(s1, "S3", QStringLiteral("用户管理"), &TfrmTeachMain::S3Click, true);
    addItem(s1, "S4", QStringLiteral("更改密码"), &TfrmTeachMain::S4Click, true);
    QMenu *s5 = s1->addMenu(QStringLiteral("数据维护"));
    s5->setObjectName(QStringLiteral("S5"));
    s5->menuAction()->setObjectName(QStringLiteral("S5"));
    addItem(s5, "N2", QStringLiteral("备份/还原数据库"), &TfrmTeachMain::N2Click, true);
    addItem(s5, "N8", QStringLiteral("导入数据…"), &TfrmTeachMain::N8Click, true);
    // Copying a file to a server belongs to the builds that offer the server.
    if (ServerWayOffered())
        addItem(s5, "N9", QStringLiteral("数据迁移…"), &TfrmTeachMain::N9Click, true);
    addItem(s5, "N10", QStringLiteral("回收站"), &TfrmTeachMain::N10Click, true);
    separator(s5, "N4");
    addItem(s5, "N5", QStringLiteral("数据库连接设置"), &TfrmTeachMain::N5Click, true);
    separator(s1, "N1");
    addItem(s1, "S6", QStringLiteral("退出"), &TfrmTeachMain::S6Click, true);

    // Undo and redo of the active window's last actions. A text field that
    // has the focus keeps Ctrl+Z for its own typing.
    QMenu *e1 = addMenu(bar, "E1", QStringLiteral("编辑(&E)"));
    addItem(e1, "E2", QStringLiteral("撤销"), &TfrmTeachMain::E2Click, true)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    addItem(e1, "E3", QStringLiteral("重做"), &TfrmTeachMain::E3Click, true)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    connect(e1, &QMenu::aboutToShow, this, [this] { Guarded([this] { updateEditMenu(); }); });
    // Closed, the commands stay ready for their keys.
    connect(e1, &QMenu::aboutToHide, this, [e1] {
        for (QAction *a : e1->actions())
            a->setEnabled(true);
    });

    QMenu *d1 = addMenu(bar, "D1", QStringLiteral("基础字典(&D)"));
    addItem(d1, "D2", QStringLiteral("老师信息"), &TfrmTeachMain::D2Click, true);
    addItem(d1, "D3", QStringLiteral("学生信息"), &TfrmTeachMain::D3Click, true);
    addItem(d1, "D4", QStringLiteral("教学科目"), &TfrmTeachMain::D4Click, true);
    addItem(d1, "D5", QStringLiteral("院系维护"), &TfrmTeachMain::D5Click, true);
    addItem(d1, "D6", QStringLiteral("班级维护"), &TfrmTeachMain::D6Click, true);
    addItem(d1, "D7", QStringLiteral("宿舍信息"), &TfrmTeachMain::D7Click, true);

    QMenu *m1 = addMenu(bar, "M1", QStringLiteral("学生管理(&M)"));
    addItem(m1, "M2", QStringLiteral("学生成绩"), &TfrmTeachMain::M2Click, true);
    addItem(m1, "M3", QStringLiteral("社会实践"), &TfrmTeachMain::M3Click, true);
    addItem(m1, "M4", QStringLiteral("品德成绩"), &TfrmTeachMain::M4Click, true);
    addItem(m1, "M5", QStringLiteral("宿舍安排"), &TfrmTeachMain::M5Click, true);
    addItem(m1, "M6", QStringLiteral("缴费记录"), &TfrmTeachMain::M6Click, true);

    QMenu *n3 = addMenu(bar, "N3", QStringLiteral("排课管理(&P)"));
    addItem(n3, "N6", QStringLiteral("课程安排"), &TfrmTeachMain::N6Click, true);
    addItem(n3, "N7", QStringLiteral("课程查询"), &TfrmTeachMain::N7Click, true);

    QMenu *t1 = addMenu(bar, "T1", QStringLiteral("统计分析(&T)"));
    addItem(t1, "T2", QStringLiteral("成绩统计"), &TfrmTeachMain::T2Click, true);
    addItem(t1, "T3", QStringLiteral("成绩排名"), &TfrmTeachMain::T3Click, true);
    addItem(t1, "T4", QStringLiteral("汇总"), &TfrmTeachMain::T4Click, true);
    separator(t1, "T5");
    addItem(t1, "T6", QStringLiteral("统计设置…"), &TfrmTeachMain::T6Click, true);

    QMenu *h1 = addMenu(bar, "H1", QStringLiteral("使用帮助(&H)"));
    addItem(h1, "H2", QStringLiteral("使用说明"), nullptr, true);
    addItem(h1, "H3", QStringLiteral("关于(&A)…"), &TfrmTeachMain::H3Click, true);
}

void TfrmTeachMain::buildQuickFind()
{
    QToolBar *bar = addToolBar(QStringLiteral("查找"));
    bar->setObjectName(QStringLiteral("QuickFindBar"));
    bar->setMovable(false);
    m_quickFind = new QuickFindBox([]() -> dravon::Connection & { return SharedConnection(); }, bar);
    auto *label = new QLabel(QStringLiteral(" 查找: "), bar);
    label->setBuddy(m_quickFind);
    bar->addWidget(label);
    bar->addWidget(m_quickFind);
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_K), this);
    connect(shortcut, &QShortcut::activated, this, [this] {
        m_quickFind->setFocus(Qt::ShortcutFocusReason);
        m_quickFind->selectAll();
    });
    m_quickFind->setToolTip(QStringLiteral("查找学生或老师 (Ctrl+K)"));
    connect(m_quickFind, &QuickFindBox::chosen, this,
            [this](const findtext::Person &person) { Guarded([&] { openPerson(person); }); });
}

void TfrmTeachMain::openPerson(const findtext::Person &person)
{
    const bool student = person.kind == findtext::Person::Kind::Student;
    if (student)
        D3Click();
    else
        D2Click();
    TfrmDictionaryBase *window = student ? static_cast<TfrmDictionaryBase *>(frmStudentSet.data())
                                         : static_cast<TfrmDictionaryBase *>(frmTeacherSet.data());
    if (!window || !window->mainSource()->dataSet())
        return;
    window->mainSource()->dataSet()->locate(student ? QStringLiteral("StudentID") : QStringLiteral("TeacherID"),
                                            person.number);
    window->DBGrid->scrollTo(window->DBGrid->currentIndex(), QAbstractItemView::PositionAtCenter);
    window->DBGrid->setFocus(Qt::OtherFocusReason);
}

bool TfrmTeachMain::handleAccessKey(int key)
{
    const QKeySequence wanted(QKeyCombination(Qt::AltModifier, Qt::Key(key)));
    if (QMdiSubWindow *sub = m_mdiArea->activeSubWindow(); sub && sub->widget()) {
        bool claimed = false;
        for (QAbstractButton *button : sub->widget()->findChildren<QAbstractButton *>()) {
            if (!button->isVisible() || QKeySequence::mnemonic(button->text()) != wanted)
                continue;
            if (button->isEnabled()) {
                button->animateClick();
                return true;
            }
            claimed = true;
        }
        // A disabled button keeps its letter: the key does nothing rather
        // than open a menu the user did not ask for.
        if (claimed)
            return true;
    }
    for (QAction *title : menuBar()->actions()) {
        if (title->isVisible() && title->isEnabled() && QKeySequence::mnemonic(title->text()) == wanted) {
            menuBar()->setActiveAction(title);
            return true;
        }
    }
    return false;
}

bool TfrmTeachMain::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this || !isEnabled())
        return false;
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int key = keyEvent->key();
    const Qt::KeyboardModifiers modifiers = keyEvent->modifiers() & ~Qt::KeypadModifier;
    if (type == QEvent::KeyPress) {
        const int handled = std::exchange(m_handledKey, 0);
        if (handled != 0 && key == handled && modifiers == Qt::AltModifier)
            return true;
        // F10 reaches the menu bar, as Alt alone does.
        if (key == Qt::Key_F10 && modifiers == Qt::NoModifier && !menuBar()->actions().isEmpty()) {
            menuBar()->setActiveAction(menuBar()->actions().first());
            return true;
        }
        return false;
    }
    // The shortcut override comes before any shortcut is looked up: taking it
    // here decides between the window's buttons and the menu titles.
    const bool letter = (key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9);
    if (modifiers != Qt::AltModifier || !letter || keyEvent->isAutoRepeat())
        return false;
    if (!handleAccessKey(key))
        return false;
    m_handledKey = key;
    keyEvent->accept();
    return true;
}

QAction *TfrmTeachMain::menuItem(const QString &name) const
{
    const auto actions = findChildren<QAction *>(name);
    for (QAction *a : actions)
        if (!a->isSeparator() || name.startsWith(QLatin1Char('N')))
            return a;
    return nullptr;
}

QString TfrmTeachMain::statusPanelText(int panel) const
{
    return panel >= 0 && panel < 2 ? m_panels[panel]->text() : QString();
}

void TfrmTeachMain::FormShow()
{
    if (!ApplicationEndRequested()) {
        std::unique_ptr<TfrmLogin> login(new TfrmLogin(nullptr));
        frmLogin = login.get();
        ExecDialog(login.get());
    }
    m_panels[0]->setText(QStringLiteral("登录用户编号:") + CurrentUserID);
    if (!CurrentUserID.isEmpty())
        startLogPruning();
}

void TfrmTeachMain::startLogPruning()
{
    QTimer::singleShot(3000, this, [this] {
        if (m_pruner || ApplicationEndRequested() || !DM || !DM->ADOConn.isOpen())
            return;
        m_pruner = std::make_unique<dravon::ChangeLogPruner>(DM->ADOConn, dravon::logLimitsFromSettings());
        m_pruner->start(QThread::LowPriority);
    });
}

TfrmBase *TfrmTeachMain::activeChild() const
{
    QMdiSubWindow *sub = m_mdiArea->activeSubWindow();
    return sub ? qobject_cast<TfrmBase *>(sub->widget()) : nullptr;
}

void TfrmTeachMain::updateEditMenu()
{
    QAction *undo = menuItem(QStringLiteral("E2"));
    QAction *redo = menuItem(QStringLiteral("E3"));
    TfrmBase *child = activeChild();
    const QString undoText = child ? child->undoCommandText() : QString();
    const QString redoText = child ? child->redoCommandText() : QString();
    undo->setText(undoText.isEmpty() ? QStringLiteral("撤销") : undoText);
    undo->setEnabled(!undoText.isEmpty());
    redo->setText(redoText.isEmpty() ? QStringLiteral("重做") : redoText);
    redo->setEnabled(!redoText.isEmpty());
}

void TfrmTeachMain::E2Click()
{
    if (TfrmBase *child = activeChild())
        child->undoLastAction();
}

void TfrmTeachMain::E3Click()
{
    if (TfrmBase *child = activeChild())
        child->redoLastAction();
}

void TfrmTeachMain::N10Click()
{
    openChild(frmRecycleBin);
}

template<typename T>
void TfrmTeachMain::openChild(QPointer<T> &reference)
{
    if (reference) {
        if (QMdiSubWindow *sub = reference->mdiSubWindow()) {
            sub->raise();
            m_mdiArea->setActiveSubWindow(sub);
        }
        return;
    }
    T *window = new T(this);
    reference = window;
    // A failing query is reported; the window still opens, as far as it got.
    Guarded([window] { window->FormCreate(); });
    window->showAsChild(m_mdiArea);
}

void TfrmTeachMain::S2Click()
{
    openChild(frmSchoolInfo);
}

void TfrmTeachMain::S3Click()
{
    openChild(frmUserSet);
}

void TfrmTeachMain::S4Click()
{
    // A new dialog for each use; it frees itself when it closes.
    QPointer<TfrmModifyPassword> dialog = new TfrmModifyPassword(this);
    frmModifyPassword = dialog;
    ExecDialog(dialog);
    // A dialog never shown because the program is ending goes with it.
    if (dialog && ApplicationEndRequested())
        dialog->deleteLater();
}

void TfrmTeachMain::N2Click()
{
    openChild(frmBackupData);
}


void TfrmTeachMain::N8Click()
{
    OpenImportWizard(this);
}

void TfrmTeachMain::N9Click()
{
    std::unique_ptr<TfrmDataMigration> dialog(new TfrmDataMigration(this));
    frmDataMigration = dialog.get();
    ExecDialog(dialog.get());
}

void TfrmTeachMain::N5Click()
{
    std::unique_ptr<TfrmDBSetup> dialog(new TfrmDBSetup(this));
    frmDBSetup = dialog.get();
    ExecDialog(dialog.get());
}

void TfrmTeachMain::S6Click()
{
    if (ShowMessage(QStringLiteral("你确定要出退系统吗?"), QStringLiteral("提示"), QMessageBox::Information,
                    QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::Yes)
        RequestApplicationEnd();
}

void TfrmTeachMain::D2Click()
{
    openChild(frmTeacherSet);
}

void TfrmTeachMain::D3Click()
{
    openChild(frmStudentSet);
}

void TfrmTeachMain::D4Click()
{
    openChild(frmSubjectSet);
}

void TfrmTeachMain::D5Click()
{
    openChild(frmCollegeSet);
}

void TfrmTeachMain::D6Click()
{
    openChild(frmClassSet);
}

void TfrmTeachMain::D7Click()
{
    openChild(frmDormSet);
}

void TfrmTeachMain::N6Click()
{
    openChild(frmPlanSubject);
}

void TfrmTeachMain::N7Click()
{
    openChild(frmFindSubject);
}

void TfrmTeachMain::M3Click()
{
    openChild(frmPracticeSet);
}

void TfrmTeachMain::M4Click()
{
    openChild(frmMoralSet);
}

void TfrmTeachMain::H3Click()
{
    std::unique_ptr<TfrmAbout> dialog(new TfrmAbout(this));
    frmAbout = dialog.get();
    ExecDialog(dialog.get());
}

void TfrmTeachMain::M2Click()
{
    openChild(frmStudentScore);
}

void TfrmTeachMain::M5Click()
{
    openChild(frmDormManager);
}

void TfrmTeachMain::M6Click()
{
    openChild(frmCapturePrice);
}

void TfrmTeachMain::T2Click()
{
    openChild(frmScoreStatistics);
    // A group's rows are shown in the score window, opened as its menu command opens it.
    if (frmScoreStatistics)
        frmScoreStatistics->openScoreWindow = [this] {
            M2Click();
            return frmStudentScore.data();
        };
}

void TfrmTeachMain::T3Click()
{
    openChild(frmScoreRanking);
}

void TfrmTeachMain::T4Click()
{
    openChild(frmSummary);
}

void TfrmTeachMain::T6Click()
{
    std::unique_ptr<TfrmStatsSettings> dialog(new TfrmStatsSettings(this));
    frmStatsSettings = dialog.get();
    ExecDialog(dialog.get());
}
