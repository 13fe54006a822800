#pragma once
// The record set: an editable, navigable result of a SELECT, with the states
// browse, edit and insert. A plain "SELECT * FROM <table> [WHERE ...]" writes
// through to its table by row identity (SQLite rowid); any other statement is
// read-only. Rows are read lazily in short pages, so a set over millions of
// rows opens as fast as one over ten, and no statement stays open between
// calls. It is also the item model that grids and lookup lists show.
#include <QAbstractTableModel>
#include <QCache>
#include <QHash>
#include <QSet>
#include <QVector>
#include <functional>
#include <optional>

namespace dravon {

class Connection;

enum class DataSetState { Browse, Edit, Insert };
enum class FieldType { Text, Integer, Real, Date };

struct Field
{
    QString name;
    FieldType type = FieldType::Text;
};

// A bound control's part in storing a record: before a store it writes its
// text into the record, and it tells whether it holds an unstored change.
struct EditorLink
{
    std::function<void()> updateRecord;
    std::function<bool()> isModified;
};

class RecordSet : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Opens the statement; throws dravon::Error when the database refuses it.
    RecordSet(Connection &connection, const QString &sql);
    ~RecordSet() override;

    QString sql() const { return m_sql; }
    bool isReadOnly() const { return m_readOnly; }
    QString tableName() const { return m_table; }
    const QVector<Field> &fields() const { return m_fields; }
    int fieldIndex(const QString &name) const;  // -1 when there is no such column

    // Navigation. recordCount includes a pending new record.
    int recordCount() const;
    bool isEmpty() const { return recordCount() == 0; }
    int recNo() const { return m_recNo; }
    bool eof() const { return m_eof || isEmpty(); }
    bool bof() const { return m_bof || isEmpty(); }
    void first();
    void last();
    void next();
    void prior();
    // Makes a row current; a pending record is stored first if changed, else dropped.
    void moveTo(int row);

    DataSetState state() const { return m_state; }
    bool isModified() const { return m_modified; }
    // A change in the record or in a bound control that is not stored yet.
    bool hasPendingChanges() const;

    // Columns of the current row, as text (dates in the short date format).
    QString fieldText(const QString &name) const;
    QVariant fieldValue(const QString &name) const;
    // Sets a column of the current record from text; converted when stored.
    void setFieldText(const QString &name, const QString &text);
    // Any row's column as shown in a grid.
    QString text(int row, int column) const;

    void insert();
    void edit();
    void remove();
    void post();
    void cancel();
    // Stores the pending record if it was changed, else drops it.
    void checkBrowseMode();
    // Deletes several rows in one transaction (grid multi-selection).
    void deleteRows(QList<int> rows);

    // The result column of the first row whose key column equals key, among
    // the rows of this set; no value when no row matches. Does not move.
    std::optional<QString> lookup(const QString &keyField, const QString &key,
                                  const QString &resultField) const;

    // The row, in this set's order, of the first row whose column equals
    // text, or begins with it when prefix is set; -1 when none. Does not
    // move. A table set asks the database, so an index on the column serves
    // it, and counts the rows before the match without reading their values.
    int findRow(const QString &field, const QString &text, bool prefix) const;

    // Makes the first row whose key column equals key the current row (a
    // pending record is stored first, as when moving). False when no row matches.
    bool locate(const QString &keyField, const QString &key);

    int addEditorLink(const EditorLink &link);
    void removeEditorLink(int id);

    // Number of rows whose values have been read from the database so far.
    qint64 rowsFetched() const { return m_rowsFetched; }

    // Item model.
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString displayText(const QVariant &value, FieldType type);

    // A read that a view or control could not take as an exception (the
    // database went away while a grid paints): reported once, after the
    // running event, through readFailed.
    void reportReadFailure(const QString &text) const;

signals:
    void stateChanged();
    // The current row changed, or its record was read again.
    void recordChanged();
    // One column of the current record was set.
    void fieldChanged(int field);
    // Rows could not be read; the text says why.
    void readFailed(const QString &text);

private:
    using Values = QVector<QVariant>;

    void openTable(const QString &table, const QString &condition);
    void openQuery();
    int underlyingCount() const;
    int underlyingIndex(int row) const;  // -1 for the pending new record
    bool ensureKnown(int underlying);
    qint64 rowidAt(int underlying);
    Values valuesAt(int underlying);
    Values rowValues(int row) const;
    void fetchValuesAround(int underlying);
    Values readRow(qint64 rowid);
    QString baseFilter() const;
    void setCurrent(int row);
    void runEditorHooks();
    QVariant storageValue(int field, const QVariant &value) const;
    QString refusal(const QString &engineText, const QVector<QVariant> &values) const;
    void requireWritable() const;
    void scheduleCountCheck();
    void checkCount();
    void invalidateLookups() { m_lookupCache.clear(); }

    Connection &m_connection;
    QString m_sql;
    QString m_translated;
    bool m_readOnly = true;
    QString m_table;
    QString m_condition;
    QVector<Field> m_fields;
    QHash<QString, int> m_fieldByName;

    // Table sets: known rows in display order, the rest still to fetch by rowid.
    QVector<qint64> m_order;
    qint64 m_maxRowid = 0;
    qint64 m_lastBaseRowid = 0;
    int m_baseRemaining = 0;
    QSet<qint64> m_localInserted;
    QCache<qint64, Values> m_cache;
    // Read-only sets: rows by position.
    int m_queryCount = 0;
    QCache<int, Values> m_queryCache;
    bool m_countCheckScheduled = false;

    int m_recNo = -1;
    bool m_eof = false;
    bool m_bof = false;
    DataSetState m_state = DataSetState::Browse;
    int m_insertPos = -1;
    Values m_buffer;
    QVector<bool> m_changed;
    bool m_modified = false;

    QHash<int, EditorLink> m_links;
    int m_nextLinkId = 1;
    qint64 m_rowsFetched = 0;
    mutable QHash<QString, std::optional<QString>> m_lookupCache;
    mutable bool m_readFailurePending = false;
};

}
