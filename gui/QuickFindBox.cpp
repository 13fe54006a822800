#include "gui/QuickFindBox.h"

#include "data/Error.h"
#include "gui/Shell_Unit.h"

#include <QCompleter>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>

QuickFindBox::QuickFindBox(std::function<dravon::Connection &()> connection, QWidget *parent)
    : QLineEdit(parent), m_connection(std::move(connection))
{
    setObjectName(QStringLiteral("edtQuickFind"));
    setPlaceholderText(QStringLiteral("学号、姓名或拼音"));
    setClearButtonEnabled(true);
    setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("学号、姓名或拼音")) * 2);
    m_model = new QStandardItemModel(0, 3, this);
    m_list = new QTreeView;
    m_list->setObjectName(QStringLiteral("lstQuickFind"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderHidden(true);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_completer = new QCompleter(m_model, this);
    m_completer->setWidget(this);
    m_completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_completer->setMaxVisibleItems(20);
    m_completer->setPopup(m_list);
    connect(this, &QLineEdit::textEdited, this, &QuickFindBox::search);
    // Enter reaches the box before the list reports the row it chose, so the
    // box chooses (the highlighted row, else the first) and the list's report
    // that follows is not a second choice. A click is reported by the list alone.
    connect(m_completer, qOverload<const QModelIndex &>(&QCompleter::activated), this, [this](const QModelIndex &i) {
        if (!m_justChosen)
            choose(i.row());
    });
    connect(this, &QLineEdit::returnPressed, this, [this] {
        const QModelIndex current = m_list->currentIndex();
        const int row = m_list->isVisible() && current.isValid() ? current.row() : 0;
        m_justChosen = true;
        QTimer::singleShot(0, this, [this] { m_justChosen = false; });
        choose(row);
    });
}

void QuickFindBox::search()
{
    QVector<findtext::Person> people;
    Guarded([&] { people = findtext::quickFind(m_connection(), text()); });
    m_people = people;
    m_model->removeRows(0, m_model->rowCount());
    for (const findtext::Person &p : std::as_const(m_people)) {
        const QString kind = p.kind == findtext::Person::Kind::Student ? QStringLiteral("学生") : QStringLiteral("老师");
        QList<QStandardItem *> row{new QStandardItem(p.number), new QStandardItem(p.name),
                                   new QStandardItem(kind + QStringLiteral(" ") + p.group)};
        for (QStandardItem *item : row)
            item->setEditable(false);
        m_model->appendRow(row);
    }
    if (m_people.isEmpty()) {
        m_list->hide();
        return;
    }
    // The list is as wide as its columns need (at least as the box), below the box.
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    int width = m_list->frameWidth() * 2 + 8;
    for (int c = 0; c < 3; ++c) {
        int column = 0;
        for (int r = 0; r < m_model->rowCount(); ++r)
            column = qMax(column, m_list->fontMetrics().horizontalAdvance(m_model->index(r, c).data().toString()));
        width += column + 24;
    }
    m_completer->complete(QRect(0, 0, qMax(width, this->width()), height()));
}

void QuickFindBox::choose(int row)
{
    if (row < 0 || row >= m_people.size())
        return;
    const findtext::Person person = m_people[row];
    m_list->hide();
    emit chosen(person);
}
