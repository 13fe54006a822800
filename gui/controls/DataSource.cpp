#include "gui/controls/DataSource.h"

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
