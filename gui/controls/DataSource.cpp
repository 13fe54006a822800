#include "gui/controls/DataSource.h"

#include "data/Dravon.h"
#include "data/changes/LoggedTables.h"
#include "gui/Shell_Unit.h"

DataSource::DataSource(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
}

DataSource::~DataSource()
{
    // Views that still show the record set are told before it goes.
    if (m_dataSet) {
        auto old = std::move(m_dataSet);
        emit dataSetChanged();
    }
}

void DataSource::setDataSet(std::unique_ptr<dravon::RecordSet> dataSet)
{
    auto old = std::move(m_dataSet);
    m_dataSet = std::move(dataSet);
    if (m_dataSet) {
        connect(m_dataSet.get(), &dravon::RecordSet::readFailed, this, [](const QString &text) { ReportError(text); });
        m_dataSet->setOrigin(windowName());
    }
    emit dataSetChanged();
}

QString DataSource::windowName() const
{
    // The working window the source belongs to (a TfrmBase, one layer up).
    for (QObject *o = parent(); o; o = o->parent())
        if (o->inherits("TfrmBase"))
            return o->objectName();
    return {};
}

dravon::DataSetState DataSource::state() const
{
    return m_dataSet ? m_dataSet->state() : dravon::DataSetState::Browse;
}

void DataSource::reread()
{
    if (!m_dataSet)
        return;
    m_dataSet->checkBrowseMode();
    // The current row is found again by its key (rows stored meanwhile now
    // stand in key order); a query's row by its position.
    const dravon::LoggedTable *table = dravon::loggedTable(m_dataSet->tableName());
    const QString keyField = table && m_dataSet->fieldIndex(table->key) >= 0 ? table->key : QString();
    const QString key = !keyField.isEmpty() && m_dataSet->recNo() >= 0 ? m_dataSet->fieldText(keyField) : QString();
    const int row = m_dataSet->recNo();
    setDataSet(SQLDataSet(m_dataSet->sql(), m_dataSet->connection()));
    if (!key.isEmpty() && m_dataSet->locate(keyField, key))
        return;
    if (row >= m_dataSet->recordCount() && !m_dataSet->countKnown())
        m_dataSet->waitForCount();
    if (row > 0 && !m_dataSet->isEmpty())
        m_dataSet->moveTo(qMin(row, m_dataSet->recordCount() - 1));
}

bool DataSource::beginUserEdit()
{
    if (!m_dataSet)
        return false;
    if (m_dataSet->state() != dravon::DataSetState::Browse)
        return true;
    if (!m_autoEdit)
        return false;
    return Guarded([&] { m_dataSet->edit(); }) && m_dataSet->state() != dravon::DataSetState::Browse;
}
