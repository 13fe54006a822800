#pragma once
// The record set: an editable, navigable result of a SELECT, with the states
// browse, edit and insert. A plain "SELECT * FROM <table> [WHERE ...]" writes
// through to its table, changing only the row that was read and only while it
// is unchanged; any other statement is read-only. The rows come from a row
// source (RowSource.h): the first rows show at once and the true row count is
// learnt in the background. It is also the item model that grids and lookup
// lists show.
#include "data/RowSource.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>

namespace dravon {

class Connection;

enum class DataSetState { Browse, Edit, Insert };

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
    // A read-only set over rows from a source of the program's own (rows
    // computed in memory); description stands where a statement would.
    RecordSet(Connection &connection, std::unique_ptr<RowSource> source, const QString &description);
    ~RecordSet() override;

    QString sql() const { return m_sql; }
    // The connection the statement runs on.
    Connection &connection() const { return m_connection; }
    bool isReadOnly() const { return !m_source->isWritable(); }
    QString tableName() const;
    const QVector<Field> &fields() const { return m_fields; }
    int fieldIndex(const QString &name) const;  // -1 when there is no such column

    // Navigation. recordCount is the rows known so far plus a pending new
    // record; it grows to the true count once that is learnt (countKnown).
    int recordCount() const;
    bool countKnown() const;
    // Waits for the true row count (tests and callers that must have it now).
    void waitForCount();
    bool isEmpty() const { return recordCount() == 0; }
    int recNo() const { return m_recNo; }
    bool eof() const { return m_eof || isEmpty(); }
    bool bof() const { return m_bof || isEmpty(); }
    void first();
    void last();
    void next();
    void prior();
    // The name a window shows for a column ("年  龄：" is kept as "年龄"); a
    // refused value names the column by it.
    void setFieldLabel(const QString &field, const QString &label);
    // A computed column of a query read as the given type (the type of the
    // table column whose value it holds), so that it shows and sorts as one.
    void setFieldType(const QString &field, FieldType type);
    // That name of a column, or its own name when the window gives none.
    QString fieldLabel(const QString &field) const;
    // The window whose actions this set's writes are: each Save and Delete is
    // one batch of the change log, tagged with the window's object name.
    void setOrigin(const QString &window) { m_origin = window; }
    QString origin() const { return m_origin; }

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
    // Deletes several rows in one transaction (grid multi-selection). The
    // rows are read and deleted a part at a time, progress called before each
    // part with the rows done and the whole; false when progress cancelled,
    // and then nothing is deleted.
    bool deleteRows(QList<int> rows, const Progress &progress = {});
    // The rows of one part of such a delete (tests lower it).
    static constexpr int defaultDeletePartRows = 1000;
    static void setDeletePartRowsForTesting(int rows);
    // Rows deleted in more separate runs than this leave the views as one
    // reset rather than one removal per run.
    static constexpr int maxRunsToldApart = 8;

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

    // Puts the rows in the order of a column (descending when asked; equal
    // values in their order as read), keeping the current record current. A
    // large set is read by a worker while progress is called; false when it
    // cancelled, and in edit or insert state (a browsing command only).
    // Throws dravon::Error when the database refuses the sort.
    bool sortBy(int field, bool descending, const Progress &progress = {});
    // A large sort shows its first pages at once and reads its whole order
    // meanwhile. Rows beyond those pages wait for it: a move to one, or a
    // view showing one (after its paint), waits through the long wait, which
    // the window sets to show progress (else it waits without). False when
    // the wait was cancelled: the rows known stay, the others show empty
    // until a move asks for them again.
    using LongWait = std::function<void(const std::function<void(const Progress &)> &work)>;
    void setLongWait(LongWait wait) { m_longWait = std::move(wait); }
    bool awaitOrder();
    bool orderPending() const { return m_source->orderPending(); }
    // The column the rows are sorted by, -1 in the order as read.
    int sortField() const { return m_source->sortOrder().field; }
    bool sortDescending() const { return m_source->sortOrder().descending; }

    // A table set seen as the rows of its table, for searches that run in
    // the database; none for a query set and for a set sorted by a column.
    using KeyedRows = RowSource::KeyedRows;
    std::optional<KeyedRows> keyedRows() const { return m_source->keyedRows(); }
    // The stored key of a row (-1 for none, as for a pending new record) and
    // the row of a key (-1 when it is not in the set).
    qint64 keyOfRow(int row) const;
    int rowOfKey(qint64 key) const;
    // Whether rowOfKey answers at once; false while the positions of a large
    // table's rows are still being learnt (rowOfKey then waits for them).
    bool positionsKnown() const { return m_source->positionsKnown(); }

    int addEditorLink(const EditorLink &link);
    void removeEditorLink(int id);

    // Number of rows whose values have been read from the database so far.
    qint64 rowsFetched() const;

    // Item model.
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

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
    // The rows were put in another order (sortBy).
    void orderChanged();

private:
    using Values = dravon::Values;

    int underlyingIndex(int row) const;  // -1 for the pending new record
    int displayRow(int underlying) const;
    Values rowValues(int row) const;
    void setCurrent(int row);
    // Drops deleted rows (ascending) from the source and tells the views.
    void forgetDeleted(const QList<int> &rows);
    // The rows' values are read again when next shown (after a write that
    // ran events and was rolled back).
    void forgetValuesShown();
    void setState(DataSetState state);
    void runEditorHooks();
    QString label(int field) const;
    QVariant storageValue(int field, const QVariant &value) const;
    QString refusal(const QString &engineText, const QVector<QVariant> &values) const;
    void requireWritable() const;
    void connectSource();
    void takeFields();
    void invalidateLookups() { m_lookupCache.clear(); }
    void requestOrder() const;
    void completeOrderFirst();

    Connection &m_connection;
    QString m_sql;
    std::unique_ptr<RowSource> m_source;
    QVector<Field> m_fields;
    QHash<QString, int> m_fieldByName;
    QHash<int, QString> m_labels;
    QString m_origin;

    int m_recNo = -1;
    bool m_eof = false;
    bool m_bof = false;
    DataSetState m_state = DataSetState::Browse;
    int m_insertPos = -1;
    int m_insertedFirst = -1;  // display row of rows the source is inserting
    int m_notifying = 0;       // a change of rows is being told to the views
    int m_resets = 0;          // times the source reset its rows
    Values m_original;  // the edited row as read
    Values m_buffer;
    QVector<bool> m_changed;
    bool m_modified = false;

    QHash<int, EditorLink> m_links;
    int m_nextLinkId = 1;
    mutable QHash<QString, std::optional<QString>> m_lookupCache;
    mutable bool m_readFailurePending = false;
    LongWait m_longWait;
    mutable bool m_orderRequested = false;
    bool m_orderDeclined = false;
    bool m_awaitingOrder = false;
};

}
