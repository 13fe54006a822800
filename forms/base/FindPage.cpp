#include "forms/base/FindPage.h"

#include "data/Dravon.h"
#include "forms/base/Base_Unit.h"
#include "gui/Shell_Unit.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FindPage::FindPage(TfrmBase *window, const QString &resultSourceName, const QList<dravon::QueryItem> &items,
                   const QList<GridColumn> &columns, QWidget *parent)
    : QWidget(parent), m_window(window), m_items(items)
{
    setObjectName(QStringLiteral("FindPage"));
    m_result = new DataSource(resultSourceName, window);

    auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    lblItems = label("lblItems", QStringLiteral("项  目："));
    cmbxItems = new QComboBox(this);
    cmbxItems->setObjectName(QStringLiteral("cmbxItems"));
    for (const dravon::QueryItem &item : items)
        cmbxItems->addItem(item.caption);
    cmbxItems->setCurrentIndex(-1);
    cmbxItems->setMinimumContentsLength(6);

    lblCondition = label("lblCondition", QStringLiteral("条  件："));
    cmbxCondition = new QComboBox(this);
    cmbxCondition->setObjectName(QStringLiteral("cmbxCondition"));
    cmbxCondition->addItems({QStringLiteral(">"), QStringLiteral("<"), QStringLiteral("="), QStringLiteral("Like")});
    cmbxCondition->setCurrentIndex(-1);
    cmbxCondition->setMinimumContentsLength(5);

    lblValues = label("lblValues", QStringLiteral("值："));
    cmbxValues = new QComboBox(this);
    cmbxValues->setObjectName(QStringLiteral("cmbxValues"));
    cmbxValues->setEditable(true);
    // Typed text is a value, never a new list entry.
    cmbxValues->setInsertPolicy(QComboBox::NoInsert);
    cmbxValues->setMinimumContentsLength(16);
    cmbxValues->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);

    btnFind = new QPushButton(QStringLiteral("查询(&F)"), this);
    btnFind->setObjectName(QStringLiteral("btnFind"));
    btnFind->setAutoDefault(false);

    lblStatement = label("lblStatement", QStringLiteral("语句："));
    edtStatement = new QLineEdit(this);
    edtStatement->setObjectName(QStringLiteral("edtStatement"));
    edtStatement->setReadOnly(true);
    edtStatement->setFocusPolicy(Qt::ClickFocus);

    auto *gridPanel = new QFrame(this);
    gridPanel->setObjectName(QStringLiteral("Panel3"));
    gridPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    DBGrid2 = new DataGrid(gridPanel);
    DBGrid2->setObjectName(QStringLiteral("DBGrid2"));
    DBGrid2->setColumns(columns);
    DBGrid2->setDataSource(m_result);
    DBGrid2->setMultiSelect(true);
    DBGrid2->setMinimumSize(640, 240);
    auto *gridLayout = new QVBoxLayout(gridPanel);
    gridLayout->setContentsMargins(2, 2, 2, 2);
    gridLayout->addWidget(DBGrid2);

    auto *controls = new QHBoxLayout;
    controls->setSpacing(6);
    controls->addWidget(lblItems);
    controls->addWidget(cmbxItems);
    controls->addSpacing(12);
    controls->addWidget(lblCondition);
    controls->addWidget(cmbxCondition);
    controls->addSpacing(12);
    controls->addWidget(lblValues);
    controls->addWidget(cmbxValues, 1);
    controls->addSpacing(12);
    controls->addWidget(btnFind);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 8, 6, 6);
    outer->setSpacing(8);
    outer->addLayout(controls);
    auto *statementRow = new QHBoxLayout;
    statementRow->setSpacing(6);
    statementRow->addWidget(lblStatement);
    statementRow->addWidget(edtStatement, 1);
    outer->addLayout(statementRow);
    outer->addWidget(gridPanel, 1);

    QWidget::setTabOrder(cmbxItems, cmbxCondition);
    QWidget::setTabOrder(cmbxCondition, cmbxValues);
    QWidget::setTabOrder(cmbxValues, btnFind);
    QWidget::setTabOrder(btnFind, DBGrid2);

    connect(btnFind, &QPushButton::clicked, this, [this] { Guarded([this] { btnFindClick(); }); });
    connect(cmbxItems, &QComboBox::activated, this, [this] {
        if (itemPicked)
            Guarded([this] { itemPicked(); });
    });
}

QString FindPage::statement() const
{
    return dravon::QueryStatement(m_items, cmbxItems->currentIndex(), cmbxCondition->currentText(),
                                  cmbxValues->currentText());
}

void FindPage::btnFindClick()
{
    const QString sql = statement();
    if (sql.isEmpty())
        return;
    runStatement(sql);
}

void FindPage::runStatement(const QString &sql)
{
    // Opened first, bound after: a refused statement leaves the previous result in place.
    auto result = SQLDataSet(sql, m_window->connection());
    m_result->setDataSet(std::move(result));
    edtStatement->setText(sql);
    edtStatement->setCursorPosition(0);
    applyColumnWidths();
}

void FindPage::setColumnWidths(const QList<int> &widths)
{
    m_widths = widths;
    applyColumnWidths();
}

void FindPage::applyColumnWidths()
{
    for (int c = 0; c < m_widths.size() && c < DBGrid2->model()->columnCount(); ++c)
        DBGrid2->setColumnWidth(c, m_widths[c]);
}

void FindPage::setValueList(const QStringList &entries)
{
    const QString text = cmbxValues->currentText();
    const QSignalBlocker block(cmbxValues);
    cmbxValues->clear();
    cmbxValues->addItems(entries);
    cmbxValues->setCurrentIndex(-1);
    cmbxValues->setEditText(text);
}
