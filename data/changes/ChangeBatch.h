#pragma once
// One user action's writes as one batch of the change log: one transaction
// that holds the batch's row (who, when, which window, what), the writes, and
// the log entries the tables' triggers make for them. While the batch runs,
// its number stands where the triggers find it: in a file in
// ChangeBatchCurrent, whose row goes again before the transaction ends, so it
// is never seen outside; on a server in the transaction's own setting
// "veltrana.batch", which no other session sees.
// A kill at any point leaves the change and its log entries both present or
// both absent.
#include <QString>

namespace dravon {

class Connection;
namespace pg { class Session; }

struct BatchTag
{
    QString action;       // "保存", "删除", "批量删除", "导入", "还原", "撤销", "重做"...
    QString window;       // the window's object name; empty for none
    QString description;  // "删除 200 条成绩记录"
};

class ChangeBatch
{
public:
    // Begins the batch. Inside a batch already running on the connection it
    // joins that one: the outer batch tags, commits or rolls back. Throws
    // dravon::Error when the database is locked or refuses the write.
    ChangeBatch(Connection &connection, const BatchTag &tag, qint64 undoOf = 0);
    // Rolls back everything the batch wrote unless it was committed.
    ~ChangeBatch();
    ChangeBatch(const ChangeBatch &) = delete;
    ChangeBatch &operator=(const ChangeBatch &) = delete;

    qint64 id() const { return m_id; }
    bool joined() const { return m_joined; }
    // A batch that changed no row is dropped at commit, unless it is kept
    // for what it says (the restore of a backup, an emptied recycle bin).
    void keepWhenEmpty() { m_keepEmpty = true; }
    // Ends the transaction; throws dravon::Error (after rolling back) when
    // the engine cannot commit.
    void commit();

    // The batch running on the connection; 0 when none.
    static qint64 running(Connection &connection);

private:
    void rollback() noexcept;

    Connection &m_connection;
    pg::Session *m_session = nullptr;  // the server session the batch runs on
    qint64 m_id = 0;
    qint64 m_firstChange = 0;  // the ChangeID of the batch's first entry
    bool m_joined = false;
    bool m_savepoint = false;  // began inside a transaction not of a batch
    bool m_keepEmpty = false;
    bool m_done = false;
};

// A batch that changes no row but says what happened (the restore of a backup).
void noteBatch(Connection &connection, const BatchTag &tag);

}
