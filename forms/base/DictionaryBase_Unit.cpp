#include "forms/base/DictionaryBase_Unit.h"

#include "app/DM_Unit.h"
#include "app/Shell_Unit.h"
#include "data/Dravon.h"
#include "forms/base/DateChoice_Unit.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QVBoxLayout>
#include <limits>

using dravon::DataSetState;

QString NextIdentifier(dravon::Connection &connection, const QString &table, const QString &idColumn,
                       const QString &seed)
{
    // The largest identifier by number, not by text ("9999" < "10000"):
    // texts that are not digit strings rank above all numbers, so such a
    // stored text is reported rather than skipped.
    const QString id = dravon::quotedIdentifier(idColumn);
    const QString sql = QStringLiteral("SELECT %1 FROM %2 ORDER BY (%1 GLOB '*[^0-9]*' OR %1 = '') DESC, "
                                       "length(ltrim(%1, '0')) DESC, ltrim(%1, '0') DESC LIMIT 1")
                            .arg(id, dravon::quotedIdentifier(table));
    const auto maximum = SQLDataSet(sql, connection);
    const QString text = maximum->isEmpty() ? QString() : maximum->fieldText(idColumn);
    if (text.isEmpty())
        return seed;
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw dravon::Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
    if (value == std::numeric_limits<qint32>::max())
        throw dravon::Error(QStringLiteral("编号 '%1' 已是最大值,无法生成下一个编号。").arg(text));
    return QString::number(value + 1);
}

TfrmDictionaryBase::TfrmDictionaryBase(QWidget *owner, const DictionaryDeclaration &declaration)
    : TfrmBase(owner), m_declaration(declaration)
{
    setObjectName(declaration.objectName);
    setWindowTitle(declaration.caption);
    m_main = new DataSource(declaration.dataSource, this);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    DBGrid = new DataGrid(Panel1);
    DBGrid->setObjectName(QStringLiteral("DBGrid"));
    DBGrid->setColumns(declaration.columns);
    DBGrid->setDataSource(m_main);
    DBGrid->setMinimumSize(640, 240);
    auto *gridLayout = new QVBoxLayout(Panel1);
    gridLayout->setContentsMargins(2, 2, 2, 2);
    gridLayout->addWidget(DBGrid);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    Label1 = makeLabel(QStringLiteral("Label1"), QStringLiteral("编  号："));
    Label2 = makeLabel(QStringLiteral("Label2"), QStringLiteral("名  称："));
    Label3 = makeLabel(QStringLiteral("Label3"), QStringLiteral("备  注："));
    txtID = new DBText(Panel2);
    txtID->setObjectName(QStringLiteral("txtID"));
    txtID->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    txtID->setMinimumWidth(90);
    edtName = new DBEdit(Panel2);
    edtName->setObjectName(QStringLiteral("edtName"));
    edtRemark = new DBMemo(Panel2);
    edtRemark->setObjectName(QStringLiteral("edtRemark"));
    edtRemark->setFixedHeight(edtRemark->fontMetrics().lineSpacing() * 3 + 12);
    txtID->bind(m_main, declaration.idColumn);
    edtName->bind(m_main, declaration.nameColumn);
    edtRemark->bind(m_main, QStringLiteral("Remark"));

    auto button = [this](const char *name, const QString &caption, void (TfrmDictionaryBase::*handler)()) {
        auto *b = new QPushButton(caption, Panel2);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, handler] { Guarded([&] { (this->*handler)(); }); });
        return b;
    };
    btnAdd = button("btnAdd", QStringLiteral("添加(&A)"), &TfrmDictionaryBase::btnAddClick);
    btnModify = button("btnModify", QStringLiteral("修改(&M)"), &TfrmDictionaryBase::btnModifyClick);
    btnDel = button("btnDel", QStringLiteral("删除(&D)"), &TfrmDictionaryBase::btnDelClick);
    btnSave = button("btnSave", QStringLiteral("保存(&S)"), &TfrmDictionaryBase::btnSaveClick);
    btnCancel = button("btnCancel", QStringLiteral("取消(&C)"), &TfrmDictionaryBase::btnCancelClick);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(Panel1, 1);
    outer->addWidget(Panel2);
    m_panelLayout = new QGridLayout(Panel2);
    m_panelLayout->setHorizontalSpacing(6);
    m_panelLayout->setVerticalSpacing(8);
}

QLabel *TfrmDictionaryBase::makeLabel(const QString &name, const QString &text)
{
    auto *label = new QLabel(text, Panel2);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

DBEdit *TfrmDictionaryBase::makeEdit(const QString &name, const QString &field)
{
    auto *edit = new DBEdit(Panel2);
    edit->setObjectName(name);
    edit->bind(m_main, field);
    return edit;
}

DBComboBox *TfrmDictionaryBase::makeComboBox(const QString &name, const QString &field, const QStringList &items)
{
    auto *combo = new DBComboBox(true, items, Panel2);
    combo->setObjectName(name);
    combo->bind(m_main, field);
    return combo;
}

DBLookupComboBox *TfrmDictionaryBase::makeLookup(const QString &name, const QString &field, DataSource *list,
                                                 const QString &listFields, int dropDownWidth)
{
    auto *lookup = new DBLookupComboBox(Panel2);
    lookup->setObjectName(name);
    lookup->setList(list, listFields.section(QLatin1Char(';'), 0, 0), listFields, dropDownWidth);
    lookup->bind(m_main, field);
    return lookup;
}

QWidget *TfrmDictionaryBase::makeDateBox(const QString &editName, const QString &buttonName, const QString &field,
                                         DBEdit **edit, QPushButton **button)
{
    auto *box = new QWidget(Panel2);
    auto *layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    *edit = new DBEdit(box);
    (*edit)->setObjectName(editName);
    (*edit)->setReadOnly(true);
    (*edit)->bind(m_main, field);
    *button = new QPushButton(QStringLiteral("…"), box);
    (*button)->setObjectName(buttonName);
    (*button)->setFocusPolicy(Qt::NoFocus);
    (*button)->setAutoDefault(false);
    (*button)->setFixedWidth((*button)->fontMetrics().horizontalAdvance(QStringLiteral("…")) + 16);
    layout->addWidget(*edit, 1);
    layout->addWidget(*button);
    DBEdit *target = *edit;
    connect(*button, &QPushButton::clicked, this, [this, target] { Guarded([&] { PickDateInto(this, target); }); });
    box->setFocusProxy(*edit);
    return box;
}

void TfrmDictionaryBase::setPanelRows(const QList<PanelRow> &rows, QLabel *remarkLabel)
{
    int widest = 0;
    for (const PanelRow &row : rows)
        widest = qMax(widest, int(row.size()));
    const int columns = qMax(1, widest) * 2;
    int r = 0;
    for (const PanelRow &row : rows) {
        int c = 0;
        for (const auto &[label, control] : row) {
            m_panelLayout->addWidget(label, r, c++);
            const bool last = &row.last().second == &control;
            m_panelLayout->addWidget(control, r, c, 1, last ? columns - c : 1);
            ++c;
        }
        ++r;
    }
    QLabel *remark = remarkLabel ? remarkLabel : Label3;
    m_panelLayout->addWidget(remark, r, 0, Qt::AlignRight | Qt::AlignTop);
    m_panelLayout->addWidget(edtRemark, r, 1, 1, columns - 1);
    ++r;
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton *b : {btnAdd, btnModify, btnDel, btnSave, btnCancel})
        buttons->addWidget(b);
    buttons->addStretch();
    m_panelLayout->addLayout(buttons, r, 0, 1, columns);
    for (int c = 1; c < columns; c += 2)
        m_panelLayout->setColumnStretch(c, 1);
    // Tab order follows the panel: fields row by row, then the buttons.
    QWidget *previous = nullptr;
    auto chain = [&previous](QWidget *w) {
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    };
    for (const PanelRow &row : rows)
        for (const auto &pair : row)
            chain(pair.second);
    chain(edtRemark);
    for (QPushButton *b : {btnAdd, btnModify, btnDel, btnSave, btnCancel})
        chain(b);
}

void TfrmDictionaryBase::openInto(DataSource *source, const QString &sql)
{
    source->setDataSet(SQLDataSet(sql, DM->ADOConn));
}

void TfrmDictionaryBase::FormCreate()
{
    openInto(m_main, QStringLiteral("Select * From %1").arg(m_declaration.table == QLatin1String("User")
                                                                 ? QStringLiteral("[User]")
                                                                 : m_declaration.table));
    // A refused value is named as the window names its column.
    if (dravon::RecordSet *rs = m_main->dataSet())
        for (const GridColumn &c : std::as_const(m_declaration.columns))
            if (rs->fieldIndex(c.field) >= 0)
                rs->setFieldLabel(c.field, c.title);
    // Columns as wide as their titles and first rows; the grid as wide as
    // its columns, within reason.
    DBGrid->resizeColumnsToContents();
    int total = DBGrid->verticalHeader()->sizeHint().width() + 4;
    for (int c = 0; c < m_declaration.columns.size(); ++c) {
        DBGrid->setColumnWidth(c, qBound(72, DBGrid->columnWidth(c) + 16, 240));
        total += DBGrid->columnWidth(c);
    }
    DBGrid->setMinimumWidth(qBound(640, total, 1000));
}

void TfrmDictionaryBase::btnAddClick()
{
    dravon::RecordSet *rs = m_main->dataSet();
    if (!rs)
        return;
    rs->insert();
    const QString id = NextIdentifier(DM->ADOConn, m_declaration.table, m_declaration.idColumn, m_declaration.seed);
    txtID->setText(id);
    rs->setFieldText(m_declaration.idColumn, id);
}

void TfrmDictionaryBase::btnModifyClick()
{
    if (dravon::RecordSet *rs = m_main->dataSet())
        rs->edit();
}

void TfrmDictionaryBase::btnDelClick()
{
    if (ShowMessage(QStringLiteral("确定要删除此条记录?"), QStringLiteral("提示"), QMessageBox::Information,
                    QMessageBox::Yes | QMessageBox::No)
        == QMessageBox::No)
        return;
    if (dravon::RecordSet *rs = m_main->dataSet())
        rs->remove();
}

void TfrmDictionaryBase::btnSaveClick()
{
    dravon::RecordSet *rs = m_main->dataSet();
    if (rs && (rs->state() == DataSetState::Edit || rs->state() == DataSetState::Insert))
        rs->post();
}

void TfrmDictionaryBase::btnCancelClick()
{
    if (dravon::RecordSet *rs = m_main->dataSet())
        rs->cancel();
}
