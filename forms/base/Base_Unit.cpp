#include "forms/base/Base_Unit.h"

#include "data/Dravon.h"
#include "data/changes/Reversal.h"
#include "gui/SharedConnection.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataSource.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>

TfrmBase::TfrmBase(QWidget *owner) : QDialog(owner)
{
    buildEditActions();
    // Key preview and the shared context menu for every control of the window.
    qApp->installEventFilter(this);
}

dravon::Connection &TfrmBase::connection() const
{
    return SharedConnection();
}

QString TfrmBase::undoCommandText() const
{
    const auto batch = dravon::batchToUndo(connection(), objectName());
    return batch ? dravon::undoText(*batch) : QString();
}

QString TfrmBase::redoCommandText() const
{
    const auto batch = dravon::batchToRedo(connection(), objectName());
    return batch ? dravon::redoText(*batch) : QString();
}

void TfrmBase::undoLastAction()
{
    reverseLastAction(false);
}

void TfrmBase::redoLastAction()
{
    reverseLastAction(true);
}

bool TfrmBase::readyForUndo(const QString &command)
{
    for (DataSource *source : findChildren<DataSource *>()) {
        dravon::RecordSet *rs = source->dataSet();
        if (!rs || rs->state() == dravon::DataSetState::Browse)
            continue;
        if (rs->hasPendingChanges()) {
            ShowMessage(QStringLiteral("正在编辑的记录还没有保存,请先保存或取消,再%1。").arg(command),
                        QStringLiteral("提示"), QMessageBox::Information, QMessageBox::Ok);
            return false;
        }
        rs->cancel();
    }
    return true;
}

void TfrmBase::reverseLastAction(bool redo)
{
    const QString command = redo ? QStringLiteral("重做") : QStringLiteral("撤销");
    const auto batch = redo ? dravon::batchToRedo(connection(), objectName())
                            : dravon::batchToUndo(connection(), objectName());
    if (!batch) {
        TellUser(this, redo ? QStringLiteral("没有可重做的操作。") : QStringLiteral("没有可撤销的操作。"));
        return;
    }
    if (!readyForUndo(command))
        return;
    try {
        if (redo)
            dravon::redoBatch(connection(), batch->id, objectName());
        else
            dravon::undoBatch(connection(), batch->id, objectName());
    } catch (const dravon::ChangeRefused &refused) {
        ShowMessage(refused.text(), QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    reloadDataSets();
}

void TfrmBase::reloadDataSets()
{
    for (DataSource *source : findChildren<DataSource *>())
        source->reread();
}

TfrmBase::~TfrmBase()
{
    qApp->removeEventFilter(this);
}

void TfrmBase::buildEditActions()
{
    ActionList1 = new QObject(this);
    ActionList1->setObjectName(QStringLiteral("ActionList1"));
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto make = [this](const char *name, const QString &caption, const QKeySequence &key, const char *itemName) {
        auto *action = new QAction(caption, ActionList1);
        action->setObjectName(QString::fromLatin1(name));
        action->setProperty("category", QStringLiteral("Edit"));
        action->setShortcut(key);
        // The focused field handles the keys itself; the menu only shows them.
        action->setShortcutContext(Qt::WidgetShortcut);
        PopupMenu1->addAction(action);
        action->setProperty("menuItem", QString::fromLatin1(itemName));
        return action;
    };
    EditCut1 = make("EditCut1", QStringLiteral("剪切(Cu&t)"), QKeySequence(Qt::CTRL | Qt::Key_X), "Cut1");
    EditCopy1 = make("EditCopy1", QStringLiteral("复制(&Copy)"), QKeySequence(Qt::CTRL | Qt::Key_C), "Copy1");
    EditPaste1 = make("EditPaste1", QStringLiteral("粘贴(&Paste)"), QKeySequence(Qt::CTRL | Qt::Key_V), "Paste1");
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    EditDelete1 = make("EditDelete1", QStringLiteral("删除(&Delete)"), QKeySequence(Qt::Key_Delete), "Delete1");
    EditUndo1 = make("EditUndo1", QStringLiteral("撤销(&Undo)"), QKeySequence(Qt::CTRL | Qt::Key_Z), "Undo1");
    EditSelectAll1 = make("EditSelectAll1", QStringLiteral("全选(Select &All)"), QKeySequence(Qt::CTRL | Qt::Key_A),
                          "SelectAll1");

    auto onField = [this](void (QLineEdit::*line)(), void (QPlainTextEdit::*memo)()) {
        return [this, line, memo] {
            QWidget *field = focusedTextField();
            if (auto *edit = qobject_cast<QLineEdit *>(field))
                (edit->*line)();
            else if (auto *text = qobject_cast<QPlainTextEdit *>(field))
                (text->*memo)();
        };
    };
    connect(EditCut1, &QAction::triggered, this, onField(&QLineEdit::cut, &QPlainTextEdit::cut));
    connect(EditCopy1, &QAction::triggered, this, [this] {
        QWidget *field = focusedTextField();
        if (auto *edit = qobject_cast<QLineEdit *>(field))
            edit->copy();
        else if (auto *text = qobject_cast<QPlainTextEdit *>(field))
            text->copy();
    });
    connect(EditPaste1, &QAction::triggered, this, onField(&QLineEdit::paste, &QPlainTextEdit::paste));
    connect(EditUndo1, &QAction::triggered, this, onField(&QLineEdit::undo, &QPlainTextEdit::undo));
    connect(EditSelectAll1, &QAction::triggered, this, onField(&QLineEdit::selectAll, &QPlainTextEdit::selectAll));
    connect(EditDelete1, &QAction::triggered, this, [this] {
        QWidget *field = focusedTextField();
        if (auto *edit = qobject_cast<QLineEdit *>(field)) {
            if (edit->hasSelectedText())
                edit->del();
        } else if (auto *text = qobject_cast<QPlainTextEdit *>(field)) {
            QTextCursor cursor = text->textCursor();
            cursor.removeSelectedText();
            text->setTextCursor(cursor);
        }
    });
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TfrmBase::updateEditActions);
    updateEditActions();
}

QWidget *TfrmBase::focusedTextField() const
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus || !isAncestorOf(focus))
        return nullptr;
    if (qobject_cast<QLineEdit *>(focus) || qobject_cast<QPlainTextEdit *>(focus))
        return focus;
    return nullptr;
}

void TfrmBase::updateEditActions()
{
    QWidget *field = focusedTextField();
    const bool clipboardText = !QApplication::clipboard()->text().isEmpty();
    bool selection = false, writable = false, undo = false, text = false;
    if (auto *edit = qobject_cast<QLineEdit *>(field)) {
        selection = edit->hasSelectedText();
        writable = !edit->isReadOnly();
        undo = edit->isUndoAvailable();
        text = !edit->text().isEmpty();
    } else if (auto *memo = qobject_cast<QPlainTextEdit *>(field)) {
        selection = memo->textCursor().hasSelection();
        writable = !memo->isReadOnly();
        undo = memo->document()->isUndoAvailable();
        text = !memo->document()->isEmpty();
    }
    EditCut1->setEnabled(field && selection && writable);
    EditCopy1->setEnabled(field && selection);
    EditPaste1->setEnabled(field && writable && clipboardText);
    EditDelete1->setEnabled(field && selection && writable);
    EditUndo1->setEnabled(field && writable && undo);
    EditSelectAll1->setEnabled(field && text);
}

QMdiSubWindow *TfrmBase::showAsChild(QMdiArea *area)
{
    QMdiSubWindow *sub = area->addSubWindow(this, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                                                      | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // The system menu keeps restore, move, minimize and close; no size, no
    // maximize. Its items are known only by their texts, which are compared
    // as Qt shows them: translated when Qt's translations are loaded.
    if (QMenu *menu = sub->systemMenu()) {
        QStringList hidden;
        for (const char *source : {"&Size", "Ma&ximize", "Stay on &Top"})
            hidden << QCoreApplication::translate("QMdiSubWindow", source);
        for (QAction *action : menu->actions()) {
            if (hidden.contains(action->text()))
                action->setVisible(false);
        }
    }
    adjustSize();
    sub->adjustSize();
    sub->setFixedSize(sub->sizeHint());
    const QRect free = area->viewport()->rect();
    sub->move(qMax(0, (free.width() - sub->width()) / 2), qMax(0, (free.height() - sub->height()) / 2));
    sub->show();
    sub->raise();
    area->setActiveSubWindow(sub);
    return sub;
}

QMdiSubWindow *TfrmBase::mdiSubWindow() const
{
    return qobject_cast<QMdiSubWindow *>(parentWidget());
}

void TfrmBase::closeWindow()
{
    if (QMdiSubWindow *sub = mdiSubWindow())
        sub->close();
    else
        close();
}

void TfrmBase::FormClose()
{
    // A child window is freed with its frame; a modal one by its caller.
    if (mdiSubWindow())
        setAttribute(Qt::WA_DeleteOnClose);
}

void TfrmBase::closeEvent(QCloseEvent *event)
{
    Guarded([this] { FormClose(); });
    QDialog::closeEvent(event);
}

void TfrmBase::keyPressEvent(QKeyEvent *event)
{
    // No default button and no Escape-to-close: Enter only moves between fields.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    case Qt::Key_Escape:
        if (mdiSubWindow()) {
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QDialog::keyPressEvent(event);
}

bool TfrmBase::FormKeyPress(QObject *, QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        focusNextChild();
    // The key itself goes on to the control unchanged.
    return false;
}

bool TfrmBase::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ContextMenu)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !(widget == this || isAncestorOf(widget)))
        return false;
    if (type == QEvent::KeyPress) {
        // An ignored key travels up to the parents; it is previewed once, at
        // the control it was typed into.
        if (event == m_previewedKey && m_previewedTarget && m_previewedTarget != widget
            && widget->isAncestorOf(m_previewedTarget))
            return false;
        m_previewedKey = event;
        m_previewedTarget = widget;
        return FormKeyPress(watched, static_cast<QKeyEvent *>(event));
    }
    // The clipboard menu replaces the controls' own context menus.
    if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QPlainTextEdit *>(widget)
        || qobject_cast<QPlainTextEdit *>(widget->parentWidget())) {
        auto *menuEvent = static_cast<QContextMenuEvent *>(event);
        QWidget *field = qobject_cast<QPlainTextEdit *>(widget->parentWidget()) ? widget->parentWidget() : widget;
        field->setFocus(Qt::PopupFocusReason);
        PopupMenu1->popup(menuEvent->globalPos());
        return true;
    }
    if (widget == this) {
        PopupMenu1->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    return false;
}
