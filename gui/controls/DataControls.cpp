#include "gui/controls/DataControls.h"

#include "gui/Shell_Unit.h"
#include "data/Error.h"
#include "gui/controls/DataGrid.h"
#include "data/find/RowSearch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QKeyEvent>
#include <QTimer>

#include <limits>

using dravon::DataSetState;

namespace {

// The lookup's list: the declared columns of the list's record set, rows read
// only as they are shown, every cell aligned alike so the closed box keeps
// its alignment whichever row is current.
class LookupListModel : public GridColumnsModel
{
public:
    using GridColumnsModel::GridColumnsModel;
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        return GridColumnsModel::data(index, role);
    }
};

// The list of a lookup. While it is open, typed text filters it (number by
// prefix, name as text or pinyin) and Backspace takes a character back; on
// the closed box, typed text picks the first row whose number, else name,
// begins with it (keys typed in quick succession form one text).
class LookupListView : public QTableView
{
public:
    explicit LookupListView(DBLookupComboBox *box) : QTableView(box), m_box(box) {}

    void keyboardSearch(const QString &search) override
    {
        if (isVisible()) {
            if (!search.isEmpty() && search.at(0).isPrint())
                m_box->filterList(m_box->listFilter() + search);
            return;
        }
        if (search.isEmpty()) {
            m_typed.clear();
            return;
        }
        if (!m_sinceLastKey.isValid() || m_sinceLastKey.elapsed() > QApplication::keyboardInputInterval())
            m_typed.clear();
        m_sinceLastKey.start();
        m_typed += search;
        const int row = m_box->findListRow(m_typed);
        if (row < 0 || !model())
            return;
        const QModelIndex found = model()->index(row, 0);
        selectionModel()->setCurrentIndex(found, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(found);
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Backspace && isVisible()) {
            m_box->filterList(m_box->listFilter().chopped(qMin<qsizetype>(1, m_box->listFilter().size())));
            return;
        }
        QTableView::keyPressEvent(event);
    }

private:
    DBLookupComboBox *m_box;
    QString m_typed;
    QElapsedTimer m_sinceLastKey;
};

// The application's style, except that the list drops down below the box.
// As a menu over the box the list would first be measured row by row, which
// reads every row of a long table.
class DropDownListStyle : public QProxyStyle
{
public:
    DropDownListStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}
    // One for every lookup box, made with the first: a style is a whole
    // set of painters, too much to make for each box of a window.
    static DropDownListStyle *shared()
    {
        static QPointer<DropDownListStyle> style;
        if (!style) {
            style = new DropDownListStyle;
            style->setParent(qApp);
        }
        return style;
    }
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}

// The lookup's list as the box shows it: the list's record set, or, while a
// filter is typed, the rows that match it (read by the database, at most
// LookupFilterModel::limit). Changes of the record set's rows reach the view
// only while no filter is shown.
class LookupFilterModel : public QAbstractTableModel
{
public:
    static constexpr int limit = 200;

    LookupFilterModel(QAbstractItemModel *source, QObject *parent) : QAbstractTableModel(parent), m_source(source)
    {
        source->setParent(this);
        using M = QAbstractItemModel;
        connect(source, &M::rowsAboutToBeInserted, this, [this](const QModelIndex &, int first, int last) {
            if (!m_filtered)
                beginInsertRows({}, first, last);
        });
        connect(source, &M::rowsInserted, this, [this] {
            if (!m_filtered)
                endInsertRows();
        });
        connect(source, &M::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first, int last) {
            if (!m_filtered)
                beginRemoveRows({}, first, last);
        });
        connect(source, &M::rowsRemoved, this, [this] {
            if (!m_filtered)
                endRemoveRows();
        });
        connect(source, &M::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(source, &M::modelReset, this, [this] { endResetModel(); });
        connect(source, &M::dataChanged, this, [this](const QModelIndex &tl, const QModelIndex &br) {
            if (!m_filtered)
                emit dataChanged(index(tl.row(), tl.column()), index(br.row(), br.column()));
        });
    }

    bool isFiltered() const { return m_filtered; }
    // rows: for each, the key, then the texts of the list's columns.
    void setRows(const QVector<QStringList> &rows)
    {
        beginResetModel();
        m_filtered = true;
        m_rows = rows;
        endResetModel();
    }
    void clearRows()
    {
        if (!m_filtered)
            return;
        beginResetModel();
        m_filtered = false;
        m_rows.clear();
        endResetModel();
    }
    QString keyOf(int row) const { return m_rows.value(row).value(0); }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_filtered ? int(m_rows.size()) : m_source->rowCount();
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : m_source->columnCount();
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (!m_filtered)
            return m_source->data(m_source->index(index.row(), index.column()), role);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_rows.value(index.row()).value(index.column() + 1);
        return {};
    }
    bool canFetchMore(const QModelIndex &parent) const override
    {
        return !m_filtered && m_source->canFetchMore(parent);
    }
    void fetchMore(const QModelIndex &parent) override
    {
        if (!m_filtered)
            m_source->fetchMore(parent);
    }

private:
    QAbstractItemModel *m_source;
    bool m_filtered = false;
    QVector<QStringList> m_rows;
};

FieldLink::FieldLink(QWidget *control, std::function<QString()> read, std::function<void(const QString &)> write)
    : m_control(control), m_read(std::move(read)), m_write(std::move(write))
{
}

FieldLink::~FieldLink()
{
    detach();
}

void FieldLink::bind(DataSource *source, const QString &field)
{
    detach();
    for (const auto &c : std::as_const(m_connections))
        QObject::disconnect(c);
    m_connections.clear();
    m_source = source;
    m_field = field;
    if (source)
        m_connections << connect(source, &DataSource::dataSetChanged, this, [this] {
            detach();
            attach();
            load();
        });
    attach();
    load();
}

void FieldLink::attach()
{
    dravon::RecordSet *rs = dataSet();
    if (!rs)
        return;
    m_attached = rs;
    m_linkId = rs->addEditorLink({[this] { updateRecord(); }, [this] { return m_modified; }});
    m_connections << connect(rs, &dravon::RecordSet::recordChanged, this, &FieldLink::load);
    m_connections << connect(rs, &dravon::RecordSet::fieldChanged, this, [this](int field) {
        if (m_attached && field == m_attached->fieldIndex(m_field))
            load();
    });
}

void FieldLink::detach()
{
    if (m_attached) {
        m_attached->removeEditorLink(m_linkId);
        disconnect(m_attached, nullptr, this, nullptr);
    }
    m_attached = nullptr;
    m_linkId = 0;
}

void FieldLink::load()
{
    QString text;
    if (dravon::RecordSet *rs = dataSet(); rs && rs->recNo() >= 0) {
        try {
            text = rs->fieldText(m_field);
        } catch (const dravon::Error &e) {
            rs->reportReadFailure(e.text());
        }
    }
    m_loading = true;
    if (m_read() != text)
        m_write(text);
    m_loading = false;
    m_modified = false;
}

bool FieldLink::userEdited(const QString &newText, const std::function<void()> &restoreCursor)
{
    dravon::RecordSet *rs = dataSet();
    if (!rs) {
        load();
        return false;
    }
    if (rs->state() == DataSetState::Browse) {
        if (!m_source->beginUserEdit()) {
            load();
            return false;
        }
        // Starting the edit read the record again; the user's text goes back in.
        m_write(newText);
        if (restoreCursor)
            restoreCursor();
    }
    m_modified = true;
    return true;
}

void FieldLink::updateRecord()
{
    dravon::RecordSet *rs = dataSet();
    if (!m_modified || !rs || rs->state() == DataSetState::Browse)
        return;
    const QString text = m_read();
    m_modified = false;
    rs->setFieldText(m_field, text);
}

void AllowLongText(QLineEdit *edit)
{
    edit->setMaxLength(std::numeric_limits<int>::max());
}

DBEdit::DBEdit(QWidget *parent)
    : QLineEdit(parent),
      m_link(this, [this] { return text(); }, [this](const QString &t) { setText(t); })
{
    AllowLongText(this);
    connect(this, &QLineEdit::textEdited, this, [this](const QString &t) {
        const int cursor = cursorPosition();
        m_link.userEdited(t, [this, cursor] { setCursorPosition(cursor); });
    });
    // A text set by code marks the field changed; it is stored with the record.
    connect(this, &QLineEdit::textChanged, this, [this] { m_link.setModified(); });
}

DBMemo::DBMemo(QWidget *parent)
    : QPlainTextEdit(parent),
      m_link(this, [this] { return toPlainText(); }, [this](const QString &t) { setPlainText(t); })
{
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (m_link.isLoading() || m_reentered)
            return;
        m_reentered = true;
        const QString t = toPlainText();
        const int cursor = textCursor().position();
        m_link.userEdited(t, [this, cursor] {
            QTextCursor c = textCursor();
            c.setPosition(qMin(cursor, int(toPlainText().size())));
            setTextCursor(c);
        });
        m_reentered = false;
    });
}

DBComboBox::DBComboBox(bool open, const QStringList &items, QWidget *parent)
    : QComboBox(parent),
      m_link(this, [this] { return valueText(); }, [this](const QString &t) { showValue(t); })
{
    setEditable(open);
    addItems(items);
    setInsertPolicy(QComboBox::NoInsert);
    setCurrentIndex(-1);
    if (open) {
        AllowLongText(lineEdit());
        connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString &t) {
            const int cursor = lineEdit()->cursorPosition();
            m_link.userEdited(t, [this, cursor] { lineEdit()->setCursorPosition(cursor); });
        });
    }
    connect(this, &QComboBox::activated, this, [this](int index) { m_link.userEdited(itemText(index)); });
}

QString DBComboBox::valueText() const
{
    if (isEditable())
        return currentText();
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void DBComboBox::showValue(const QString &text)
{
    if (isEditable()) {
        const QSignalBlocker block(this);
        setCurrentIndex(findText(text));
        setEditText(text);
    } else {
        setCurrentIndex(findText(text));
    }
}

DBText::DBText(QWidget *parent)
    : QLabel(parent),
      m_link(this, [this] { return text(); }, [this](const QString &t) { setText(t); })
{
    setTextFormat(Qt::PlainText);
}

DBLookupComboBox::DBLookupComboBox(QWidget *parent)
    : QComboBox(parent),
      m_link(this, [this] { return m_key; }, [this](const QString &t) { showKey(t); })
{
    setEditable(false);
    // The list may hold many rows: never measure them all.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(8);
    setStyle(DropDownListStyle::shared());
    // One list model for the box's life: another record set for the list is
    // shown through it (rebuildList), the views keep it.
    m_list = new LookupListModel(nullptr, {}, nullptr);
    m_filter = new LookupFilterModel(m_list, this);
    setModel(m_filter);
    auto *view = new LookupListView(this);
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setView(view);
    // A plain item painter: the whole current row is highlighted, not only the number.
    setItemDelegate(new QStyledItemDelegate(this));
    connect(this, &QComboBox::activated, this, [this](int row) {
        // A row of the filtered list is found in the whole list by its number.
        if (m_filter && m_filter->isFiltered()) {
            const QString key = m_filter->keyOf(row);
            dravon::RecordSet *rs = m_listSource ? m_listSource->dataSet() : nullptr;
            row = -1;
            if (rs && !key.isEmpty()) {
                try {
                    row = rs->findRow(m_keyField, key, false);
                } catch (const dravon::Error &e) {
                    rs->reportReadFailure(e.text());
                }
            }
        }
        pickRow(row);
    });
}

DBLookupComboBox::~DBLookupComboBox()
{
    // The list's models go before the box's last part: a list source that
    // goes later (or with the box) must not rebuild them.
    if (m_listSource)
        disconnect(m_listSource, nullptr, this, nullptr);
}

void DBLookupComboBox::setList(DataSource *listSource, const QString &keyField, const QString &listFields,
                               int dropDownWidth)
{
    if (m_listSource)
        disconnect(m_listSource, nullptr, this, nullptr);
    m_listSource = listSource;
    m_keyField = keyField;
    m_listFields = listFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    m_dropDownWidth = dropDownWidth;
    if (listSource)
        connect(listSource, &DataSource::dataSetChanged, this, &DBLookupComboBox::rebuildList);
    rebuildList();
}

void DBLookupComboBox::rebuildList()
{
    QList<GridColumn> columns;
    for (const QString &f : std::as_const(m_listFields))
        columns.append({f, f});
    dravon::RecordSet *rs = m_listSource ? m_listSource->dataSet() : nullptr;
    m_filterText.clear();
    // The box would make the list's first row current as the rows change.
    {
        const QSignalBlocker block(this);
        m_filter->clearRows();
        m_list->show(rs, columns);
        setModelColumn(0);
        setCurrentIndex(-1);
    }
    if (auto *table = qobject_cast<QTableView *>(view())) {
        const int keyWidth = m_dropDownWidth / 2;
        table->setColumnWidth(0, keyWidth);
        if (columns.size() > 1)
            table->setColumnWidth(1, m_dropDownWidth - keyWidth - 4);
    }
    showKey(m_key);
}

void DBLookupComboBox::showKey(const QString &key)
{
    m_key = key;
    m_shown.clear();
    dravon::RecordSet *rs = m_listSource ? m_listSource->dataSet() : nullptr;
    if (rs && !key.isEmpty()) {
        try {
            if (rs->lookup(m_keyField, key, m_keyField).has_value())
                m_shown = key;
        } catch (const dravon::Error &e) {
            rs->reportReadFailure(e.text());
        }
    }
    update();
}

void DBLookupComboBox::pickRow(int row)
{
    dravon::RecordSet *list = m_listSource ? m_listSource->dataSet() : nullptr;
    if (!list || row < 0 || row >= list->recordCount() || !m_link.dataSet())
        return;
    Guarded([&] {
        list->moveTo(row);
        const QString key = list->fieldText(m_keyField);
        if (!m_link.dataSource()->beginUserEdit()) {
            m_link.load();
            return;
        }
        m_link.dataSet()->setFieldText(m_link.field(), key);
        emit picked();
    });
}

void DBLookupComboBox::filterList(const QString &text)
{
    if (!m_filter)
        return;
    m_filterText = text;
    dravon::RecordSet *rs = m_listSource ? m_listSource->dataSet() : nullptr;
    if (text.trimmed().isEmpty() || !rs) {
        m_filter->clearRows();
    } else {
        QVector<int> fields;
        for (const QString &f : QStringList(m_keyField) + m_listFields)
            fields << rs->fieldIndex(f);
        QVector<QStringList> rows;
        if (!fields.contains(-1)) {
            try {
                // For each row: the key, then the listed columns.
                rows = findtext::matchingRows(rs, fields, text, LookupFilterModel::limit);
            } catch (const dravon::Error &e) {
                rs->reportReadFailure(e.text());
            }
        }
        m_filter->setRows(rows);
    }
    if (QAbstractItemView *list = view(); list && model()->rowCount() > 0) {
        const QModelIndex first = model()->index(0, 0);
        list->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        list->scrollTo(first);
    }
    update();
}

void DBLookupComboBox::hidePopup()
{
    QComboBox::hidePopup();
    // The pick that closed the list still reads the filtered rows: the whole
    // list comes back after it.
    QTimer::singleShot(0, this, [this] {
        m_filterText.clear();
        if (m_filter)
            m_filter->clearRows();
        update();
    });
}

void DBLookupComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = m_filterText.isEmpty() ? m_shown : QStringLiteral("查找: ") + m_filterText;
    option.currentIcon = QIcon();
    // The same alignment before and after a pick, whatever row is current.
    option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void DBLookupComboBox::showPopup()
{
    view()->setMinimumWidth(qMax(m_dropDownWidth, width()));
    // The list opens at the stored number's row, found by the database.
    int row = -1;
    dravon::RecordSet *rs = m_listSource ? m_listSource->dataSet() : nullptr;
    if (rs && !m_shown.isEmpty()) {
        try {
            row = rs->findRow(m_keyField, m_shown, false);
        } catch (const dravon::Error &e) {
            rs->reportReadFailure(e.text());
        }
    }
    {
        const QSignalBlocker block(this);
        setCurrentIndex(row);
    }
    QComboBox::showPopup();
    if (row >= 0) {
        const QModelIndex current = model()->index(row, 0);
        view()->selectionModel()->setCurrentIndex(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view()->scrollTo(current, QAbstractItemView::PositionAtCenter);
    }
}

int DBLookupComboBox::findListRow(const QString &text) const
{
    dravon::RecordSet *rs = m_listSource ? m_listSource->dataSet() : nullptr;
    if (!rs || text.isEmpty())
        return -1;
    int row = -1;
    try {
        for (const QString &field : m_listFields) {
            row = rs->findRow(field, text, true);
            if (row >= 0)
                break;
        }
    } catch (const dravon::Error &e) {
        rs->reportReadFailure(e.text());
        return -1;
    }
    return row;
}
