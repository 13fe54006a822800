#include "forms/base/DictionaryBase_Unit.h"

#include "data/Dravon.h"
#include "gui/Shell_Unit.h"

#include <QLabel>
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
    m_frame = new RecordFrame(this, declaration.dataSource, this);
    Panel1 = m_frame->Panel1;
    DBGrid = m_frame->grid;
    DBGrid->setObjectName(QStringLiteral("DBGrid"));
    DBGrid->setColumns(declaration.columns);
    Panel2 = m_frame->Panel2;
    btnAdd = m_frame->btnAdd;
    btnModify = m_frame->btnModify;
    btnDel = m_frame->btnDel;
    btnSave = m_frame->btnSave;
    btnCancel = m_frame->btnCancel;

    Label1 = makeLabel(QStringLiteral("Label1"), QStringLiteral("编  号："));
    Label2 = makeLabel(QStringLiteral("Label2"), QStringLiteral("名  称："));
    Label3 = makeLabel(QStringLiteral("Label3"), QStringLiteral("备  注："));
    txtID = m_frame->makeText(QStringLiteral("txtID"), declaration.idColumn);
    edtName = makeEdit(QStringLiteral("edtName"), declaration.nameColumn);
    edtRemark = m_frame->makeMemo(QStringLiteral("edtRemark"), QStringLiteral("Remark"));

    // Add inserts the new row, then hands it the next identifier.
    m_frame->afterInsert = [this] {
        m_proposedId.clear();
        proposeNumber(NextIdentifier(connection(), m_declaration.table, m_declaration.idColumn, m_declaration.seed));
    };
    // Nothing reserves the number between Add and the store: another program
    // may store it first. Every store of the new row (Save, Add, moving to
    // another row) checks it first, and a store the key refused anyway (the
    // other program stored it in between) is tried again with the next one.
    m_frame->retryStore = [this] { return takeNextNumberIfTaken(); };
    connect(mainSource(), &DataSource::dataSetChanged, this, [this] {
        if (dravon::RecordSet *rs = mainSource()->dataSet())
            rs->addEditorLink({[this] { takeNextNumberIfTaken(); }, {}});
    });

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(m_frame);
}

void TfrmDictionaryBase::proposeNumber(const QString &id)
{
    txtID->setText(id);
    mainSource()->dataSet()->setFieldText(m_declaration.idColumn, id);
    m_proposedId = id;
}

bool TfrmDictionaryBase::takeNextNumberIfTaken()
{
    dravon::RecordSet *rs = mainSource()->dataSet();
    if (!rs || rs->state() != DataSetState::Insert || m_proposedId.isEmpty()
        || rs->fieldText(m_declaration.idColumn) != m_proposedId)
        return false;
    const QString taken = QStringLiteral("SELECT 1 FROM %1 WHERE %2 = %3")
                              .arg(dravon::quotedIdentifier(m_declaration.table),
                                   dravon::quotedIdentifier(m_declaration.idColumn), dravon::QuotedStr(m_proposedId));
    if (!SQLSearch(taken, connection()))
        return false;
    const QString before = m_proposedId;
    proposeNumber(NextIdentifier(connection(), m_declaration.table, m_declaration.idColumn, m_declaration.seed));
    TellUser(this, QStringLiteral("编号 %1 已被其他用户使用，新记录改用编号 %2。").arg(before, m_proposedId));
    return true;
}

QLabel *TfrmDictionaryBase::makeLabel(const QString &name, const QString &text)
{
    return m_frame->makeLabel(name, text);
}

DBEdit *TfrmDictionaryBase::makeEdit(const QString &name, const QString &field)
{
    return m_frame->makeEdit(name, field);
}

DBComboBox *TfrmDictionaryBase::makeComboBox(const QString &name, const QString &field, const QStringList &items)
{
    return m_frame->makeComboBox(name, field, items, true);
}

DBLookupComboBox *TfrmDictionaryBase::makeLookup(const QString &name, const QString &field, DataSource *list,
                                                 const QString &listFields, int dropDownWidth)
{
    return m_frame->makeLookup(name, field, list, listFields, dropDownWidth);
}

QWidget *TfrmDictionaryBase::makeDateBox(const QString &editName, const QString &buttonName, const QString &field,
                                         DBEdit **edit, QPushButton **button)
{
    return m_frame->makeDateBox(editName, buttonName, field, false, edit, button);
}

void TfrmDictionaryBase::setPanelRows(const QList<PanelRow> &rows, QLabel *remarkLabel)
{
    QList<PanelRow> all = rows;
    all.append({{remarkLabel ? remarkLabel : Label3, edtRemark}});
    m_frame->setPanelRows(all);
}

void TfrmDictionaryBase::openInto(DataSource *source, const QString &sql)
{
    m_frame->openInto(source, sql);
}

void TfrmDictionaryBase::FormCreate()
{
    openInto(mainSource(), QStringLiteral("Select * From %1").arg(m_declaration.table == QLatin1String("User")
                                                                       ? QStringLiteral("[User]")
                                                                       : m_declaration.table));
    m_frame->fitGridColumns();
}

void TfrmDictionaryBase::btnAddClick()
{
    m_frame->btnAddClick();
}

void TfrmDictionaryBase::btnModifyClick()
{
    m_frame->btnModifyClick();
}

void TfrmDictionaryBase::btnDelClick()
{
    m_frame->btnDelClick();
}

void TfrmDictionaryBase::btnSaveClick()
{
    m_frame->btnSaveClick();
}

void TfrmDictionaryBase::btnCancelClick()
{
    m_frame->btnCancelClick();
}
