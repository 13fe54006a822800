#pragma once
// The rows of a read-only statement. The first rows are read at once by a
// cursor that stays open only while the running event reads on. Meanwhile a
// worker copies the whole result into a private file (ResultCopy.h); once it
// is done the count is known and any row, at any depth, is read from the copy
// by its number. Until then later reads run the statement again and step to
// the wanted row.
#include "data/ResultCopy.h"
#include "data/RowSource.h"

#include <QCache>

namespace dravon {

class QuerySource : public RowSource
{
    Q_OBJECT
public:
    QuerySource(Connection &connection, const QString &sql, QObject *parent = nullptr);
    ~QuerySource() override;

    int count() const override { return m_count; }
    bool countKnown() const override { return m_countKnown; }
    void waitForCount() override;
    bool ensure(int row) override;
    bool fetchMore() override;
    int loadLast() override;
    Values values(int row) override;
    std::optional<int> sortBy(int field, bool descending, int keep, const Progress &progress) override;

protected:
    // For another engine: its constructor sets the fields, reads the first
    // page and starts the copy when the page did not reach the end.
    QuerySource(Connection &connection, QObject *parent);
    void applyCount(const RowCounter::Result &) override {}
    void statementsReleased() override;
    // The engine's parts: rows start.. (at most rows of them) of the
    // statement, each kept by keepRow, then grow; the statement run to its
    // end, the number of its rows; a worker that copies the whole result.
    virtual void readPage(int start, int rows);
    virtual int stepToEnd();
    virtual std::unique_ptr<ResultCopy> makeCopy();
    // The user's text for a statement that failed for this reason.
    virtual QString refusal(const QString &reason) const;
    void keepRow(int position, const Values &values);
    void grow(int newCount, bool final);
    // Makes the copy and starts it once the first rows have been painted;
    // at once when they already have been (rowsPainted).
    void startCopy(bool rowsPainted = false);
    static constexpr int pageSize = 128;

private:
    void watchCopy();
    // reportFailure: a copy that failed twice is reported by readFailed.
    void takeCopy(bool reportFailure = true);
    bool waitForCopy(const Progress &progress);
    void readCopied(int row);
    qint64 copyKey(int row) const { return m_order.isEmpty() ? row + 1 : m_order.value(row, -1); }

    QString m_sql;
    int m_count = 0;
    bool m_countKnown = false;
    qint64 m_cursorPos = -1;  // rows the open cursor has stepped past; -1 when closed
    QCache<int, Values> m_rows;  // by position, read by the cursor
    std::unique_ptr<ResultCopy> m_copy;
    sqlite3 *m_copyDb = nullptr;  // reads the finished copy
    Statement m_copyRange;
    Statement m_copySome;
    QString m_copyError;
    int m_copyFailures = 0;
    QVector<qint64> m_order;  // copy row numbers by position after a sort
    QCache<qint64, Values> m_copied;  // by copy row number
};

}
