#pragma once
// The base of every child window (and of the date picker): fixed frame,
// Enter moves to the next field, the clipboard context menu, and a closed
// window frees itself.
#include <QDialog>
#include <QPointer>

class QAction;
class QMenu;
class QMdiArea;
class QMdiSubWindow;
namespace dravon { class Connection; }

class TfrmBase : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmBase(QWidget *owner = nullptr);
    ~TfrmBase() override;

    // Shows the window inside the main window's workspace, centred, with a
    // fixed frame (minimize, no maximize).
    QMdiSubWindow *showAsChild(QMdiArea *area);
    QMdiSubWindow *mdiSubWindow() const;
    // Closes the window the way its close box does.
    void closeWindow();
    // Creation handler: opens the window's record sets. Runs once, right
    // after the window is shown by its menu command.
    virtual void FormCreate() {}
    // The program's one database connection.
    dravon::Connection &connection() const;

    QMenu *PopupMenu1 = nullptr;
    QObject *ActionList1 = nullptr;
    QAction *EditCut1 = nullptr;
    QAction *EditCopy1 = nullptr;
    QAction *EditPaste1 = nullptr;
    QAction *EditDelete1 = nullptr;
    QAction *EditUndo1 = nullptr;
    QAction *EditSelectAll1 = nullptr;

protected:
    // Close handler: the close action is "free". Descendants that keep an
    // instance reference empty it after calling this.
    virtual void FormClose();
    // Key preview: carriage return moves the focus to the next field.
    virtual bool FormKeyPress(QObject *target, QKeyEvent *event);

    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildEditActions();
    void updateEditActions();
    QWidget *focusedTextField() const;

    const QEvent *m_previewedKey = nullptr;
    QPointer<QWidget> m_previewedTarget;
};
