#pragma once
// The main window: the workspace of all working windows, the command menu,
// and the status bar with the logged-in user number.
#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class TfrmBase;
namespace dravon { class ChangeLogPruner; }
class QuickFindBox;
namespace findtext { struct Person; }

class TfrmTeachMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmTeachMain(QWidget *parent = nullptr);
    ~TfrmTeachMain() override;

    QMdiArea *mdiArea() const { return m_mdiArea; }
    QString statusPanelText(int panel) const;
    QAction *menuItem(const QString &name) const;
    // The tool bar's quick find box (Ctrl+K).
    QuickFindBox *quickFind() const { return m_quickFind; }
    // Opens the student (or teacher) window on the person's row.
    void openPerson(const findtext::Person &person);

    // Menu commands.
    void S2Click();
    void S3Click();
    void S4Click();
    void N2Click();
    void N5Click();
    // 导入数据…: the import wizard.
    void N8Click();
    void N9Click();
    void S6Click();
    void D2Click();
    void D3Click();
    void D4Click();
    void D5Click();
    void D6Click();
    void D7Click();
    void N6Click();
    void N7Click();
    void M3Click();
    void M4Click();
    void H3Click();
    void M2Click();
    void M5Click();
    void M6Click();
    // 统计分析(&T)
    void T2Click();
    void T3Click();
    void T4Click();
    void T6Click();
    // Additions: the recycle bin, and undo and redo in the active window.
    void N10Click();
    void E2Click();
    void E3Click();

    // The show handler: the login, then the status text. The start-up
    // sequence runs it once, before the window is first on screen.
    void FormShow();

protected:
    // Access keys and F10 inside this window (see handleAccessKey).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenu();
    // The edit menu names what undo and redo would do in the active window.
    void updateEditMenu();
    TfrmBase *activeChild() const;
    // Prunes the change log in the background, a moment after the login.
    void startLogPruning();
    void buildQuickFind();
    // Alt+letter: a button of the active child window that shows the letter
    // takes it (pressed when enabled); otherwise the menu title with that
    // letter opens. False when neither claims it. Without this, the child's
    // buttons and the menu titles share one shortcut map and Qt treats the
    // key as ambiguous: it neither presses the button nor opens the menu.
    bool handleAccessKey(int key);
    // Brings the open window of a class to the front, or creates, opens and shows one.
    template<typename T>
    void openChild(QPointer<T> &reference);

    QMdiArea *m_mdiArea = nullptr;
    QuickFindBox *m_quickFind = nullptr;
    QLabel *m_panels[2] = {nullptr, nullptr};
    // The key press that follows an access key already handled.
    int m_handledKey = 0;
    std::unique_ptr<dravon::ChangeLogPruner> m_pruner;
};

extern TfrmTeachMain *frmTeachMain;
