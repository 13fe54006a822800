#include "gui/controls/GridFindBar.h"

#include "data/Error.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QApplication>
#include <QBoxLayout>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QToolButton>

using dravon::DataSetState;

namespace {

// A step of a search or count: short enough that typing stays fluid.
constexpr int stepMs = 10;
constexpr int countDelayMs = 50;

QHash<const DataGrid *, QPointer<GridFindBar>> &bars()
{
    static QHash<const DataGrid *, QPointer<GridFindBar>> map;
    return map;
}

// Paints the grid's cells, with the find bar's matches highlighted.
class FindHighlightDelegate : public QStyledItemDelegate
{
public:
    explicit FindHighlightDelegate(DataGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        GridFindBar *bar = GridFindBar::of(m_grid, false);
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QList<findtext::MatchRange> matches = bar ? bar->matchesIn(index.column(), opt.text) : QList<findtext::MatchRange>();
        if (matches.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QString text = opt.text;
        opt.text.clear();
        const QWidget *widget = opt.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(2, 0, -2, 0);

        QList<QTextLayout::FormatRange> formats;
        for (const findtext::MatchRange &m : matches) {
            QTextLayout::FormatRange range;
            range.start = m.start;
            range.length = m.length;
            range.format.setBackground(QColor(255, 214, 64));
            range.format.setForeground(Qt::black);
            formats << range;
        }
        QTextLayout layout(text, opt.font, painter->device());
        layout.setFormats(formats);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(1e6);
        layout.endLayout();
        const qreal width = line.naturalTextWidth();
        qreal x = area.left();
        if ((opt.displayAlignment & Qt::AlignHCenter) && width < area.width())
            x += (area.width() - width) / 2;
        else if ((opt.displayAlignment & Qt::AlignRight) && width < area.width())
            x += area.width() - width;
        const qreal y = area.top() + (area.height() - line.height()) / 2;
        const bool selected = opt.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = opt.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        painter->save();
        painter->setClipRect(area);
        painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        layout.draw(painter, QPointF(x, y));
        painter->restore();
    }

private:
    DataGrid *m_grid;
};

// The box layout that holds widget, at any depth below layout.
QBoxLayout *boxHolding(QLayout *layout, QWidget *widget, int *index)
{
    if (!layout)
        return nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == widget) {
            *index = i;
            return qobject_cast<QBoxLayout *>(layout);
        }
        if (QBoxLayout *inner = boxHolding(item->layout(), widget, index))
            return inner;
    }
    return nullptr;
}

}

GridFindBar *GridFindBar::of(DataGrid *grid, bool create)
{
    if (!grid)
        return nullptr;
    QPointer<GridFindBar> bar = bars().value(grid);
    if (!bar && create) {
        bar = new GridFindBar(grid);
        bars().insert(grid, bar);
        QObject::connect(grid, &QObject::destroyed, [grid] { bars().remove(grid); });
    }
    return bar;
}

GridFindBar::GridFindBar(DataGrid *grid) : QFrame(grid->parentWidget()), m_grid(grid)
{
    setObjectName(QStringLiteral("FindBar"));
    setFrameStyle(QFrame::NoFrame);
    edtFind = new QLineEdit(this);
    edtFind->setObjectName(QStringLiteral("edtFind"));
    edtFind->setPlaceholderText(QStringLiteral("查找"));
    edtFind->setClearButtonEnabled(true);
    edtFind->setMaxLength(std::numeric_limits<int>::max());
    edtFind->setMinimumWidth(180);
    btnFindPrev = new QPushButton(QStringLiteral("上一个"), this);
    btnFindPrev->setObjectName(QStringLiteral("btnFindPrev"));
    btnFindPrev->setToolTip(QStringLiteral("上一个 (Shift+F3)"));
    btnFindNext = new QPushButton(QStringLiteral("下一个"), this);
    btnFindNext->setObjectName(QStringLiteral("btnFindNext"));
    btnFindNext->setToolTip(QStringLiteral("下一个 (F3)"));
    for (QPushButton *b : {btnFindPrev, btnFindNext}) {
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
    }
    lblFindCount = new QLabel(this);
    lblFindCount->setObjectName(QStringLiteral("lblFindCount"));
    lblFindCount->setMinimumWidth(lblFindCount->fontMetrics().horizontalAdvance(QStringLiteral("第 00000 个,共 00000 个")));
    btnFindClose = new QToolButton(this);
    btnFindClose->setObjectName(QStringLiteral("btnFindClose"));
    btnFindClose->setText(QStringLiteral("×"));
    btnFindClose->setToolTip(QStringLiteral("关闭 (Esc)"));
    btnFindClose->setAutoRaise(true);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    auto *label = new QLabel(QStringLiteral("查找:"), this);
    label->setBuddy(edtFind);
    row->addWidget(label);
    row->addWidget(edtFind, 1);
    row->addWidget(btnFindPrev);
    row->addWidget(btnFindNext);
    row->addWidget(lblFindCount);
    row->addWidget(btnFindClose);

    connect(edtFind, &QLineEdit::textChanged, this, &GridFindBar::textEdited);
    connect(btnFindPrev, &QPushButton::clicked, this, [this] { findNext(false); });
    connect(btnFindNext, &QPushButton::clicked, this, [this] { findNext(true); });
    connect(btnFindClose, &QToolButton::clicked, this, &GridFindBar::close);
    edtFind->installEventFilter(this);
    m_steps.setSingleShot(true);
    // A millisecond between steps: the window takes its events, and a search
    // that waits for a large table's row positions does not spin.
    m_steps.setInterval(1);
    connect(&m_steps, &QTimer::timeout, this, [this] {
        m_steps.setInterval(1);
        if (m_search)
            step();
        else if (m_count)
            stepCount();
    });
    connect(grid, &DataGrid::destroyed, this, &QObject::deleteLater);
    // A record set replaced under the bar (F5 reads the rows again, a query
    // page shows new results) ends the search that was reading the old one.
    if (DataSource *source = grid->dataSource())
        connect(source, &DataSource::dataSetChanged, this, [this] {
            cancel();
            if (isVisible())
                followState();
        });
    grid->setItemDelegate(new FindHighlightDelegate(grid));
    hide();
    placeUnderGrid();
}

void GridFindBar::placeUnderGrid()
{
    QWidget *parent = parentWidget();
    int index = -1;
    if (QBoxLayout *box = parent ? boxHolding(parent->layout(), m_grid, &index) : nullptr)
        box->insertWidget(index + 1, this);
    else if (parent && parent->layout())
        parent->layout()->addWidget(this);
}

dravon::RecordSet *GridFindBar::recordSet() const
{
    return m_grid && m_grid->dataSource() ? m_grid->dataSource()->dataSet() : nullptr;
}

QVector<int> GridFindBar::searchedFields() const
{
    QVector<int> fields;
    dravon::RecordSet *rs = recordSet();
    if (!rs || !m_grid)
        return fields;
    const QList<GridColumn> &columns = m_grid->columns();
    for (int c = 0; c < columns.size(); ++c)
        if (!m_grid->isColumnHidden(c))
            if (const int f = rs->fieldIndex(columns[c].field); f >= 0)
                fields << f;
    return fields;
}

QList<findtext::MatchRange> GridFindBar::matchesIn(int column, const QString &text) const
{
    dravon::RecordSet *rs = recordSet();
    if (!isVisible() || m_query.isEmpty() || !rs || !m_grid || column < 0 || column >= m_grid->columns().size())
        return {};
    const int f = rs->fieldIndex(m_grid->columns()[column].field);
    if (f < 0 || !findtext::searchesColumn(m_query, rs->fields()[f]))
        return {};
    return m_query.ranges(text);
}

void GridFindBar::open()
{
    if (!m_grid)
        return;
    if (isHidden()) {
        // The grid gives up the bar's height, so a window of fixed size keeps it.
        m_gridMinimum = m_grid->minimumHeight();
        m_grid->setMinimumHeight(qMax(0, m_gridMinimum - sizeHint().height()));
        show();
    }
    followState();
    if (isEnabled()) {
        edtFind->setFocus(Qt::ShortcutFocusReason);
        edtFind->selectAll();
    }
    m_grid->viewport()->update();
}

void GridFindBar::close()
{
    cancel();
    if (!isHidden()) {
        hide();
        if (m_grid && m_gridMinimum >= 0)
            m_grid->setMinimumHeight(m_gridMinimum);
    }
    if (m_grid) {
        m_grid->setFocus(Qt::OtherFocusReason);
        m_grid->viewport()->update();
    }
}

void GridFindBar::followState()
{
    dravon::RecordSet *rs = recordSet();
    if (m_watched != rs) {
        if (m_watched)
            disconnect(m_watched, nullptr, this, nullptr);
        cancel();
        m_watched = rs;
        if (rs) {
            connect(rs, &dravon::RecordSet::stateChanged, this, &GridFindBar::followState);
            connect(rs, &dravon::RecordSet::recordChanged, this, [this] {
                // A move of the user's: the place among the matches is no longer known.
                if (!m_moving && m_countTotal >= 0 && !m_count)
                    showNote(QStringLiteral("共 %1 个").arg(m_countTotal));
            });
        }
    }
    const bool browsing = !rs || rs->state() == DataSetState::Browse;
    if (!browsing) {
        cancel();
        showNote(QStringLiteral("请先保存或取消当前记录"));
    } else if (!isEnabled()) {
        showNote(QString());
    }
    setEnabled(browsing);
    edtFind->setEnabled(browsing);
}

void GridFindBar::showNote(const QString &text, bool failed)
{
    lblFindCount->setText(text);
    QPalette p = edtFind->palette();
    p.setColor(QPalette::Base, failed ? QColor(255, 220, 220) : palette().color(QPalette::Base));
    edtFind->setPalette(p);
}

void GridFindBar::cancel()
{
    m_search.reset();
    m_count.reset();
    m_steps.stop();
}

void GridFindBar::textEdited()
{
    m_text = edtFind->text();
    m_query = findtext::Query(m_text);
    m_countTotal = -1;
    cancel();
    if (m_grid)
        m_grid->viewport()->update();
    dravon::RecordSet *rs = recordSet();
    if (m_query.isEmpty() || !rs) {
        showNote(QString());
        return;
    }
    // The first match at or after the current row.
    start(qMax(0, rs->recNo()), true);
}

void GridFindBar::findNext(bool forward)
{
    dravon::RecordSet *rs = recordSet();
    if (!rs || rs->state() != DataSetState::Browse)
        return;
    if (isHidden() || m_query.isEmpty()) {
        open();
        return;
    }
    const int n = rs->recordCount();
    if (n == 0)
        return;
    const int current = qMax(0, rs->recNo());
    start(forward ? (current + 1) % n : (current - 1 + n) % n, forward);
}

void GridFindBar::start(int from, bool forward)
{
    cancel();
    dravon::RecordSet *rs = recordSet();
    if (!rs)
        return;
    Guarded([&] {
        try {
            m_search = std::make_unique<findtext::RowSearch>(rs->connection(), rs, searchedFields(), m_text, from,
                                                             forward);
        } catch (const dravon::Error &) {
            m_search.reset();
            throw;
        }
    });
    if (!m_search)
        return;
    showNote(QStringLiteral("查找中…"));
    step();
}

void GridFindBar::step()
{
    findtext::RowSearch::Status status = findtext::RowSearch::Status::NotFound;
    const bool ok = Guarded([&] { status = m_search->run(stepMs); });
    if (!ok) {
        cancel();
        showNote(QString());
        emit searchFinished();
        return;
    }
    if (status == findtext::RowSearch::Status::Running) {
        m_steps.start(1);
        return;
    }
    const int row = m_search->foundRow();
    m_search.reset();
    if (status == findtext::RowSearch::Status::Found) {
        found(row);
    } else {
        showNote(QStringLiteral("找不到 \"%1\"").arg(m_text.trimmed().left(20)), true);
        emit searchFinished();
    }
}

void GridFindBar::found(int row)
{
    dravon::RecordSet *rs = recordSet();
    if (!rs || !m_grid)
        return;
    m_moving = true;
    Guarded([&] { rs->moveTo(row); });
    m_moving = false;
    const QModelIndex current = m_grid->currentIndex();
    if (current.isValid())
        m_grid->scrollTo(current);
    m_grid->viewport()->update();
    startCount(rs->recNo());
}

void GridFindBar::startCount(int row)
{
    dravon::RecordSet *rs = recordSet();
    m_countRow = row;
    Guarded([&] { m_count = std::make_unique<findtext::MatchCount>(rs->connection(), rs, searchedFields(), m_text, row); });
    if (!m_count) {
        showNote(QString());
        emit searchFinished();
        return;
    }
    showNote(QString());
    // The found row is painted first, and keys typed in quick succession
    // count only once: the count starts after a pause, then goes on in steps.
    m_steps.start(countDelayMs);
}

void GridFindBar::stepCount()
{
    bool done = false;
    if (!Guarded([&] { done = m_count->run(stepMs); })) {
        cancel();
        emit searchFinished();
        return;
    }
    if (!done) {
        m_steps.start(1);
        return;
    }
    m_countTotal = m_count->total();
    const int before = m_count->before();
    m_count.reset();
    dravon::RecordSet *rs = recordSet();
    if (rs && rs->recNo() == m_countRow)
        showNote(QStringLiteral("第 %1 个,共 %2 个").arg(before + 1).arg(m_countTotal));
    else
        showNote(QStringLiteral("共 %1 个").arg(m_countTotal));
    emit searchFinished();
}

bool GridFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != edtFind || (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress))
        return QFrame::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    const bool escape = key->key() == Qt::Key_Escape && mods == Qt::NoModifier;
    const bool f3 = key->key() == Qt::Key_F3 && (mods == Qt::NoModifier || mods == Qt::ShiftModifier);
    const bool ctrlF = key->key() == Qt::Key_F && mods == Qt::ControlModifier;
    if (!escape && !f3 && !ctrlF)
        return false;
    // The box takes these keys before any shortcut of the window does.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (escape)
        close();
    else if (f3)
        findNext(mods == Qt::NoModifier);
    else
        edtFind->selectAll();
    return true;
}
