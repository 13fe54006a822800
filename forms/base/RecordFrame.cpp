#include "forms/base/RecordFrame.h"

#include "data/Dravon.h"
#include "forms/base/Base_Unit.h"
#include "forms/base/DateChoice_Unit.h"
#include "gui/GridExport.h"
#include "gui/Shell_Unit.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

using dravon::DataSetState;

RecordFrame::RecordFrame(TfrmBase *window, const QString &dataSourceName, QWidget *parent,
                         Arrangement arrangement)
    : QWidget(parent), m_window(window)
{
    setObjectName(QStringLiteral("RecordFrame"));
    m_main = new DataSource(dataSourceName, window);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    grid = new DataGrid(Panel1);
    grid->setObjectName(QStringLiteral("DBGrid1"));
    grid->setDataSource(m_main);
    grid->setMinimumSize(640, 240);
    auto *gridLayout = new QVBoxLayout(Panel1);
    gridLayout->setContentsMargins(2, 2, 2, 2);
    gridLayout->addWidget(grid);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *panelLayout = new QVBoxLayout(Panel2);
    panelLayout->setContentsMargins(9, 9, 9, 9);
    panelLayout->setSpacing(10);
    m_panelLayout = new QGridLayout;
    m_panelLayout->setHorizontalSpacing(6);
    m_panelLayout->setVerticalSpacing(8);
    panelLayout->addLayout(m_panelLayout);

    QWidget *buttonParent = arrangement == Arrangement::PanelBelowGrid ? static_cast<QWidget *>(Panel2) : this;
    auto button = [this, buttonParent](const char *name, const QString &caption, void (RecordFrame::*handler)()) {
        auto *b = new QPushButton(caption, buttonParent);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
        return b;
    };
    btnAdd = button("btnAdd", QStringLiteral("添加(&A)"), &RecordFrame::btnAddClick);
    btnModify = button("btnModify", QStringLiteral("修改(&M)"), &RecordFrame::btnModifyClick);
    btnDel = button("btnDel", QStringLiteral("删除(&D)"), &RecordFrame::btnDelClick);
    btnSave = button("btnSave", QStringLiteral("保存(&S)"), &RecordFrame::btnSaveClick);
    btnCancel = button("btnCancel", QStringLiteral("取消(&C)"), &RecordFrame::btnCancelClick);
    m_buttonRow = new QHBoxLayout;
    m_buttonRow->setSpacing(8);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);
    if (arrangement == Arrangement::PanelBelowGrid) {
        outer->addWidget(Panel1, 1);
        outer->addWidget(Panel2);
        panelLayout->addLayout(m_buttonRow);
    } else {
        outer->addWidget(Panel2);
        outer->addWidget(Panel1, 1);
        outer->addLayout(m_buttonRow);
    }
    setButtonOrder({btnAdd, btnModify, btnDel, btnSave, btnCancel});
    connect(m_main, &DataSource::dataSetChanged, this, &RecordFrame::applyFieldLabels);
    addCommandKeys(parent ? parent : this);
}

void RecordFrame::addCommandKeys(QWidget *scope)
{
    // The keys act while the focus is anywhere in the frame's window (or its
    // page): a child window's shortcuts share the main window's shortcut map,
    // and only the window holding the focus may claim them.
    auto key = [this, scope](const QKeySequence &sequence, const std::function<void()> &command) {
        auto *shortcut = new QShortcut(sequence, scope);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [command] { Guarded(command); });
    };
    auto press = [](QPushButton *button) {
        if (button->isVisible() && button->isEnabled())
            button->click();
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_N), [this, press] { press(btnAdd); });
    key(QKeySequence(Qt::CTRL | Qt::Key_S), [this, press] { press(btnSave); });
    key(QKeySequence(Qt::Key_F5), [this] { m_main->reread(); });
    key(QKeySequence(Qt::CTRL | Qt::Key_P), [this] { PrintGrid(grid); });
    btnAdd->setToolTip(QStringLiteral("添加 (Ctrl+N)"));
    btnSave->setToolTip(QStringLiteral("保存 (Ctrl+S)"));
    btnCancel->setToolTip(QStringLiteral("取消 (Esc)"));
    scope->installEventFilter(this);
}

bool RecordFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->keyCombination() == QKeyCombination(Qt::Key_Escape)) {
        dravon::RecordSet *rs = m_main->dataSet();
        if (rs && rs->state() != DataSetState::Browse && btnCancel->isVisible()) {
            btnCancel->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RecordFrame::applyFieldLabels()
{
    dravon::RecordSet *rs = m_main->dataSet();
    if (!rs)
        return;
    for (const GridColumn &c : grid->columns())
        if (rs->fieldIndex(c.field) >= 0)
            rs->setFieldLabel(c.field, c.title);
    for (const PanelRow &row : std::as_const(m_rows))
        for (const auto &[label, control] : row) {
            const QString field = m_fieldOf.value(control);
            if (!field.isEmpty() && rs->fieldIndex(field) >= 0)
                rs->setFieldLabel(field, label->text());
        }
}

void RecordFrame::setButtonOrder(const QList<QPushButton *> &order)
{
    while (QLayoutItem *item = m_buttonRow->takeAt(0))
        delete item;
    m_buttons = order;
    m_buttonRow->addStretch();
    for (QPushButton *b : order)
        m_buttonRow->addWidget(b);
    m_buttonRow->addStretch();
}

void RecordFrame::addTrailingButton(QPushButton *button)
{
    button->setParent(m_buttons.isEmpty() ? this : m_buttons.last()->parentWidget());
    button->setAutoDefault(false);
    m_buttonRow->insertSpacing(1, button->sizeHint().width() + m_buttonRow->spacing());
    m_buttonRow->insertWidget(m_buttonRow->count() - 1, button);
    if (!m_buttons.isEmpty())
        QWidget::setTabOrder(m_buttons.last(), button);
}

QLabel *RecordFrame::makeLabel(const QString &name, const QString &text)
{
    auto *label = new QLabel(text, Panel2);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

DBEdit *RecordFrame::makeEdit(const QString &name, const QString &field)
{
    auto *edit = new DBEdit(Panel2);
    edit->setObjectName(name);
    edit->bind(m_main, field);
    return bound(edit, field);
}

DBMemo *RecordFrame::makeMemo(const QString &name, const QString &field, int lines)
{
    auto *memo = new DBMemo(Panel2);
    memo->setObjectName(name);
    memo->setFixedHeight(memo->fontMetrics().lineSpacing() * lines + 12);
    // Tab moves on to the next field, as in every other box of the panel.
    memo->setTabChangesFocus(true);
    memo->bind(m_main, field);
    return bound(memo, field);
}

DBComboBox *RecordFrame::makeComboBox(const QString &name, const QString &field, const QStringList &items,
                                      bool acceptsTypedText)
{
    auto *combo = new DBComboBox(acceptsTypedText, items, Panel2);
    combo->setObjectName(name);
    combo->bind(m_main, field);
    return bound(combo, field);
}

DBText *RecordFrame::makeText(const QString &name, const QString &field)
{
    auto *text = new DBText(Panel2);
    text->setObjectName(name);
    text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    text->setMinimumWidth(90);
    text->bind(m_main, field);
    return bound(text, field);
}

DBLookupComboBox *RecordFrame::makeLookup(const QString &name, const QString &field, DataSource *list,
                                          const QString &listFields, int dropDownWidth)
{
    auto *lookup = new DBLookupComboBox(Panel2);
    lookup->setObjectName(name);
    lookup->setList(list, listFields.section(QLatin1Char(';'), 0, 0), listFields, dropDownWidth);
    lookup->bind(m_main, field);
    return bound(lookup, field);
}

QWidget *RecordFrame::makeDateBox(const QString &editName, const QString &buttonName, const QString &field,
                                  bool typing, DBEdit **edit, QPushButton **button)
{
    auto *box = new QWidget(Panel2);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    *edit = new DBEdit(box);
    (*edit)->setObjectName(editName);
    (*edit)->setReadOnly(!typing);
    (*edit)->bind(m_main, field);
    *button = new QPushButton(QStringLiteral("…"), box);
    (*button)->setObjectName(buttonName);
    (*button)->setFocusPolicy(Qt::NoFocus);
    (*button)->setAutoDefault(false);
    (*button)->setFixedWidth((*button)->fontMetrics().horizontalAdvance(QStringLiteral("…")) + 16);
    layout->addWidget(*edit, 1);
    layout->addWidget(*button);
    DBEdit *target = *edit;
    TfrmBase *owner = m_window;
    connect(*button, &QPushButton::clicked, this, [owner, target] { Guarded([&] { PickDateInto(owner, target); }); });
    box->setFocusProxy(*edit);
    return bound(box, field);
}

void RecordFrame::setPanelRows(const QList<PanelRow> &rows)
{
    m_rows = rows;
    applyFieldLabels();
    int widest = 0;
    for (const PanelRow &row : rows)
        widest = qMax(widest, int(row.size()));
    const int columns = qMax(1, widest) * 2;
    int r = 0;
    for (const PanelRow &row : rows) {
        int c = 0;
        for (int i = 0; i < row.size(); ++i) {
            QLabel *label = row[i].first;
            QWidget *control = row[i].second;
            // A label beside a several-line box stands at its top.
            const bool tall = qobject_cast<DBMemo *>(control) != nullptr;
            m_panelLayout->addWidget(label, r, c++, tall ? Qt::AlignRight | Qt::AlignTop : Qt::Alignment());
            // Fields keep to their columns, so the columns line up from row to
            // row; only the one field of a row spans the panel.
            const bool alone = row.size() == 1 && !m_keptToColumn.contains(control);
            m_panelLayout->addWidget(control, r, c, 1, alone ? columns - c : 1);
            ++c;
        }
        ++r;
    }
    for (int c = 1; c < columns; c += 2)
        m_panelLayout->setColumnStretch(c, 1);
    QList<QWidget *> order;
    for (const PanelRow &row : rows)
        for (const auto &pair : row)
            order << pair.second;
    for (QPushButton *b : std::as_const(m_buttons))
        order << b;
    setTabOrderList(order);
}

void RecordFrame::keepToColumn(QWidget *control)
{
    m_keptToColumn.insert(control);
}

void RecordFrame::separatePanelPairs()
{
    for (int i = 0; i < m_panelLayout->count(); ++i) {
        int row, column, rowSpan, columnSpan;
        m_panelLayout->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        if (auto *label = qobject_cast<QLabel *>(m_panelLayout->itemAt(i)->widget()); label && column > 0)
            label->setContentsMargins(12, 0, 0, 0);
    }
}

void RecordFrame::setTabOrderList(const QList<QWidget *> &order)
{
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void RecordFrame::openInto(DataSource *source, const QString &sql)
{
    source->setDataSet(SQLDataSet(sql, m_window->connection()));
}

void RecordFrame::fitGridColumns(int minimumWidth, int maximumWidth)
{
    // Sized from one page of rows, so a long table is not read further.
    grid->horizontalHeader()->setResizeContentsPrecision(40);
    grid->resizeColumnsToContents();
    int total = grid->verticalHeader()->sizeHint().width() + 4;
    for (int c = 0; c < grid->columns().size(); ++c) {
        grid->setColumnWidth(c, qBound(72, grid->columnWidth(c) + 16, 240));
        total += grid->columnWidth(c);
    }
    grid->setMinimumWidth(qBound(minimumWidth, total, maximumWidth));
}

void RecordFrame::btnAddClick()
{
    dravon::RecordSet *rs = m_main->dataSet();
    if (!rs)
        return;
    if (rs->state() != DataSetState::Browse)
        storeRetrying([rs] { rs->checkBrowseMode(); });
    rs->insert();
    if (afterInsert)
        afterInsert();
}

void RecordFrame::btnModifyClick()
{
    if (dravon::RecordSet *rs = m_main->dataSet())
        rs->edit();
}

void RecordFrame::btnDelClick()
{
    if (!ConfirmDestructive(QStringLiteral("确定要删除此条记录?"), QStringLiteral("提示")))
        return;
    if (dravon::RecordSet *rs = m_main->dataSet())
        rs->remove();
}

void RecordFrame::btnSaveClick()
{
    dravon::RecordSet *rs = m_main->dataSet();
    if (rs && (rs->state() == DataSetState::Edit || rs->state() == DataSetState::Insert))
        storeRetrying([rs] { rs->post(); });
}

void RecordFrame::storeRetrying(const std::function<void()> &store)
{
    for (int attempt = 1;; ++attempt) {
        try {
            store();
            return;
        } catch (const dravon::Error &) {
            if (attempt >= storeAttempts || !retryStore || !retryStore())
                throw;
        }
    }
}

void RecordFrame::btnCancelClick()
{
    if (dravon::RecordSet *rs = m_main->dataSet())
        rs->cancel();
}
