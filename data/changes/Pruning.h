#pragma once
// Keeping the change log within limits: entries older than an age and, while
// the log is larger than a size, the oldest entries go, oldest first; the
// entries of the last 30 days always stay. Runs at start-up on a worker with
// its own connection, in short transactions that let the program's writes in.
#include <QThread>
#include <atomic>
#include <optional>

#include "data/server/PgSession.h"

namespace dravon {

class Connection;

struct LogLimits
{
    int keepDays = 365;                 // entries older than this go
    qint64 maxBytes = 200LL << 20;      // while the log is larger, the oldest go
    int protectDays = 30;               // entries this recent always stay
};

// The limits from the ini file: section "ChangeLog", keys "KeepDays" and
// "MaxSizeMB"; a missing or unreadable value keeps its default.
LogLimits logLimitsFromSettings();

struct PruneOutcome
{
    qint64 entries = 0;  // log entries removed
    qint64 batches = 0;  // batches removed with their last entry
    QString error;       // why pruning stopped early; empty when it ran through
};

// Prunes the log of the database file. Notes a pruning in the log as a batch
// "清理". Stops early when cancel becomes true.
PruneOutcome pruneChangeLog(const QString &databasePath, const LogLimits &limits,
                            const std::atomic<bool> *cancel = nullptr);
// The same on a server database, through a worker session of its own; with
// a canceller, a cancel also stops the statement the server is running
// (the short transaction it was in is rolled back). A stop on cancel is no
// error.
PruneOutcome pruneChangeLog(const pg::ServerAddress &address, const LogLimits &limits,
                            const std::atomic<bool> *cancel = nullptr, pg::Canceller *canceller = nullptr);

// The size the log takes in the file, in bytes (its tables and indexes).
qint64 changeLogBytes(const QString &databasePath);
qint64 changeLogBytes(const pg::ServerAddress &address);

class ChangeLogPruner : public QThread
{
    Q_OBJECT
public:
    // Prunes the log of the connection's database, file or server, on a
    // connection of its own.
    ChangeLogPruner(const Connection &connection, const LogLimits &limits, QObject *parent = nullptr);
    ~ChangeLogPruner() override;
    // Stops at the next step; on a server also the statement running there.
    void cancel();
    PruneOutcome outcome() const { return m_outcome; }

protected:
    void run() override;

private:
    QString m_path;
    std::optional<pg::ServerAddress> m_server;
    LogLimits m_limits;
    std::atomic<bool> m_cancelled{false};
    pg::Canceller m_canceller;
    PruneOutcome m_outcome;
};

}
