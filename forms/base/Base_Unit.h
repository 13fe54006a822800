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

    // Undo and redo of the window's actions, kept in the database's change
    // log under the window's object name, so they outlive the window. The
    // commands' texts ("撤销 删除 200 条成绩记录"), empty when there is
    // nothing to undo or redo.
    QString undoCommandText() const;
    QString redoCommandText() const;
    // Refused with a message while a record is being edited, or when the
    // rows were changed since; afterwards the window's rows are read again.
    void undoLastAction();
    void redoLastAction();

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

    // After an undo or redo: every record set of the window is read again,
    // at the row it was on.
    virtual void reloadDataSets();
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildEditActions();
    // False (after saying why) while a record of the window holds unstored
    // changes; an untouched new or edited record is dropped.
    bool readyForUndo(const QString &command);
    void reverseLastAction(bool redo);
    void updateEditActions();
    QWidget *focusedTextField() const;

    const QEvent *m_previewedKey = nullptr;
    QPointer<QWidget> m_previewedTarget;
};
