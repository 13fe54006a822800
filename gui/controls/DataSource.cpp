#include "gui/controls/DataSource.h"

#include "data/Dravon.h"
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
    if (m_dataSet)
        connect(m_dataSet.get(), &dravon::RecordSet::readFailed, this, [](const QString &text) { ReportError(text); });
    emit dataSetChanged();
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
    const int row = m_dataSet->recNo();
    setDataSet(SQLDataSet(m_dataSet->sql(), m_dataSet->connection()));
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
