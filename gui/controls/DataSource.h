#pragma once
// A data source: points at one record set (which it owns), with automatic
// edit on. Grids and bound controls attach to a data source, never to the
// record set directly, so a find command can replace the record set.
#include "data/RecordSet.h"

#include <QObject>
#include <memory>

class DataSource : public QObject
{
    Q_OBJECT
public:
    explicit DataSource(const QString &name, QObject *parent = nullptr);
    ~DataSource() override;

    dravon::RecordSet *dataSet() const { return m_dataSet.get(); }
    // Takes the record set; the previous one is dropped.
    void setDataSet(std::unique_ptr<dravon::RecordSet> dataSet);
    // The object name of the working window the source belongs to: the
    // changes made through its record set are that window's to undo.
    QString windowName() const;
    // The state as the data source reports it (browse without a record set).
    dravon::DataSetState state() const;
    bool autoEdit() const { return m_autoEdit; }
    void setAutoEdit(bool on) { m_autoEdit = on; }

    // Typing into a bound control: puts the record into edit state when it is
    // browsing (automatic edit). Reports a refusal and returns false when the
    // record cannot be edited.
    bool beginUserEdit();
    // Reads the rows again: the record set's statement is opened anew on its
    // connection and the same row position is made current (or the last row,
    // when fewer rows remain). A pending record is stored first if changed,
    // else dropped, as when moving to another row; a refused store throws and
    // nothing is read.
    void reread();

signals:
    // The record set was replaced (or set for the first time).
    void dataSetChanged();

private:
    std::unique_ptr<dravon::RecordSet> m_dataSet;
    bool m_autoEdit = true;
};
