#include "data/changes/Pruning.h"

#include "data/BusyWait.h"
#include "data/Error.h"
#include "data/ProgramSettings.h"
#include "data/RowSource.h"
#include "data/SettingsClient.h"
#include "data/Connection.h"
#include "data/changes/LogDb.h"
#include "data/server/PgSession.h"
#include "data/server/ServerSchema.h"
#include "data/server/WorkerSession.h"

#include <QFile>
#include <functional>
#include <sqlite3.h>

namespace dravon {

namespace {

constexpr int chunk = 5000;  // entries removed in one short transaction

const char *logObjects = "'ChangeLog', 'ChangeLog_Row', 'ChangeLog_Deleted', 'ChangeBatch', 'ChangeBatch_Window'";

class Db
{
public:
    explicit Db(const QString &path)
    {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const QString text = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
            sqlite3_close(m_db);
            m_db = nullptr;
            throw Error(QStringLiteral("无法打开 %1: %2").arg(path, text));
        }
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~Db() { sqlite3_close(m_db); }
    sqlite3 *handle() const { return m_db; }
    void exec(const char *sql)
    {
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            failEngine(m_db, QStringLiteral("无法清理修改记录"));
    }
    QVariant value(const QString &sql, const QVariantList &binds = {})
    {
        Statement s;
        s.prepare(m_db, sql);
        for (int i = 0; i < binds.size(); ++i)
            s.bind(i + 1, binds[i]);
        return s.step() ? s.value(0) : QVariant();
    }

private:
    sqlite3 *m_db = nullptr;
};

qint64 logBytes(Db &db)
{
    try {
        return db.value(QStringLiteral("SELECT sum(pgsize) FROM dbstat('main', 1) WHERE name IN (%1)")
                            .arg(QString::fromLatin1(logObjects)))
            .toLongLong();
    } catch (const Error &) {
        // Without the engine's page statistics: about 100 bytes an entry.
        return db.value(QStringLiteral("SELECT (max(ChangeID) - min(ChangeID) + 1) * 100 FROM ChangeLog")).toLongLong();
    }
}

int settingOr(const QString &key, int fallback)
{
    bool ok = false;
    const int value = settings::readIni(GetConfigFileName(), QStringLiteral("ChangeLog"), key).trimmed().toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

qint64 serverLogBytes(pg::Session &session)
{
    return session
        .exec(QStringLiteral("SELECT pg_total_relation_size('\"ChangeLog\"') + pg_total_relation_size('\"ChangeBatch\"')"))
        .value(0, 0)
        .toLongLong();
}

// What pruning does differently on each engine.
struct PruneEngine
{
    std::function<qint64()> bytes;
    std::function<void()> begin;     // a short write transaction
    std::function<void()> commit;
    std::function<void()> rollback;
};

// Removes the oldest entries in short transactions while they are older than
// the age, or while the log is over its size and they are older than the
// protected days; then batches left without entries. The same statements on
// both engines; on the file a batch's entries lie from its FirstChange on,
// on the server they are found by the batch's number.
void pruneLog(LogDb &db, const PruneEngine &engine, const LogLimits &limits, const std::atomic<bool> *cancel,
              PruneOutcome &outcome)
{
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    const int protect = qMax(0, limits.protectDays);
    const QString ageCut = db.value(QStringLiteral("SELECT datetime('now', 'localtime', ?1)"),
                                    {QStringLiteral("-%1 days").arg(qMax(limits.keepDays, protect))})
                               .toString();
    const QString protectCut =
        db.value(QStringLiteral("SELECT datetime('now', 'localtime', ?1)"), {QStringLiteral("-%1 days").arg(protect)}).toString();
    // Entries beyond the size, from the average size of an entry.
    qint64 overSize = 0;
    const qint64 bytes = engine.bytes();
    if (bytes > limits.maxBytes) {
        const qint64 entries = db.value(QStringLiteral("SELECT max(ChangeID) - min(ChangeID) + 1 FROM ChangeLog")).toLongLong();
        if (entries > 0)
            overSize = qint64((double(bytes - limits.maxBytes) / double(bytes)) * double(entries)) + 1;
    }

    while (!cancelled()) {
        const bool bySize = overSize > 0;
        const QString cut = bySize ? protectCut : ageCut;
        const int limit = int(bySize ? qMin<qint64>(chunk, overSize) : chunk);
        engine.begin();
        int taken = 0;
        try {
            // The oldest entries, as long as each is older than the cut.
            qint64 last = -1;
            for (const LogRow &r : db.rows(QStringLiteral("SELECT L.ChangeID, coalesce(B.ChangedAt, L.ChangedAt) FROM ChangeLog L "
                                                          "LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID "
                                                          "ORDER BY L.ChangeID LIMIT ?1"),
                                           {limit})) {
                if (r[1].toString() >= cut)
                    break;
                last = r[0].toLongLong();
                ++taken;
            }
            if (taken > 0)
                outcome.entries += db.exec(QStringLiteral("DELETE FROM ChangeLog WHERE ChangeID <= ?1"), {last});
            // Batches whose every entry is gone (and notes without entries) as old as the cut.
            if (db.onServer()) {
                outcome.batches += db.exec(QStringLiteral("DELETE FROM ChangeBatch WHERE ChangedAt < ?1 AND NOT EXISTS "
                                                          "(SELECT 1 FROM ChangeLog L WHERE L.BatchID = ChangeBatch.BatchID)"),
                                           {cut});
            } else {
                const QList<LogRow> firstLeft =
                    db.rows(QStringLiteral("SELECT L.ChangeID, L.BatchID FROM ChangeLog L ORDER BY L.ChangeID LIMIT 1"));
                const QVariant first = firstLeft.isEmpty() ? QVariant() : firstLeft[0][0];
                const QVariant firstBatch = firstLeft.isEmpty() ? QVariant() : firstLeft[0][1];
                outcome.batches += db.exec(QStringLiteral("DELETE FROM ChangeBatch WHERE ChangedAt < ?1 AND "
                                                          "(?2 IS NULL OR (FirstChange < ?2 AND BatchID IS NOT ?3))"),
                                           {cut, first, firstBatch});
            }
            engine.commit();
        } catch (...) {
            engine.rollback();
            throw;
        }
        overSize -= taken;
        // Reached entries that stay, or the end: the log is within its limits.
        if (taken < limit)
            break;
    }
    if (outcome.entries > 0)
        db.exec(db.onServer() ? QStringLiteral("INSERT INTO ChangeBatch (ChangedAt, Action, Description) "
                                               "VALUES (datetime('now', 'localtime'), '清理', ?1)")
                              : QStringLiteral("INSERT INTO ChangeBatch (ChangedAt, Action, Description, FirstChange) "
                                               "VALUES (datetime('now', 'localtime'), '清理', ?1, "
                                               "(SELECT coalesce(max(ChangeID), 0) + 1 FROM ChangeLog))"),
                {QStringLiteral("清理 %1 条旧的修改记录").arg(outcome.entries)});
}

}

LogLimits logLimitsFromSettings()
{
    LogLimits limits;
    limits.keepDays = settingOr(QStringLiteral("KeepDays"), limits.keepDays);
    limits.maxBytes = qint64(settingOr(QStringLiteral("MaxSizeMB"), int(limits.maxBytes >> 20))) << 20;
    return limits;
}

qint64 changeLogBytes(const QString &databasePath)
{
    Db db(databasePath);
    return logBytes(db);
}

qint64 changeLogBytes(const pg::ServerAddress &address)
{
    pg::Session session(address);
    return serverLogBytes(session);
}

PruneOutcome pruneChangeLog(const QString &databasePath, const LogLimits &limits, const std::atomic<bool> *cancel)
{
    PruneOutcome outcome;
    try {
        Db file(databasePath);
        LogDb db(file.handle());
        pruneLog(db,
                 {[&] { return logBytes(file); },
                  [&] {
                      waitForWriter();
                      file.exec("BEGIN IMMEDIATE");
                  },
                  [&] { file.exec("COMMIT"); },
                  [&] { sqlite3_exec(file.handle(), "ROLLBACK", nullptr, nullptr, nullptr); }},
                 limits, cancel, outcome);
    } catch (const Error &e) {
        outcome.error = e.text();
    }
    return outcome;
}

PruneOutcome pruneChangeLog(const pg::ServerAddress &address, const LogLimits &limits, const std::atomic<bool> *cancel,
                            pg::Canceller *canceller)
{
    PruneOutcome outcome;
    pg::Canceller unused;
    try {
        // Limited as the clerk's own writes: a pruner left waiting behind
        // another session's lock would hold the log rows it already deleted
        // from an undo of them; it gives up instead and prunes at its next run.
        pg::WorkerSession worker(address, canceller ? *canceller : unused, pg::Access::ReadWrite, pg::LockWait::Limited);
        pg::Session &session = worker.session();
        const PostgresDialect dialect(pg::serverNames(session));
        LogDb db(session, dialect);
        pruneLog(db,
                 {[&] { return serverLogBytes(session); }, [&] { session.exec(QStringLiteral("BEGIN")); },
                  [&] { session.exec(QStringLiteral("COMMIT")); }, [&] { session.rollbackQuietly(); }},
                 limits, cancel, outcome);
    } catch (const Error &e) {
        // A statement stopped by the cancel: pruning ends as asked.
        if (!(cancel && cancel->load()))
            outcome.error = e.text();
    }
    return outcome;
}

ChangeLogPruner::ChangeLogPruner(const Connection &connection, const LogLimits &limits, QObject *parent)
    : QThread(parent), m_path(connection.isServer() ? QString() : connection.databasePath()),
      m_server(connection.serverAddress()), m_limits(limits)
{
}

void ChangeLogPruner::cancel()
{
    m_cancelled = true;
    m_canceller.cancel();
}

ChangeLogPruner::~ChangeLogPruner()
{
    cancel();
    wait();
}

void ChangeLogPruner::run()
{
    m_outcome = m_server ? pruneChangeLog(*m_server, m_limits, &m_cancelled, &m_canceller)
                         : pruneChangeLog(m_path, m_limits, &m_cancelled);
    if (!m_outcome.error.isEmpty())
        qWarning("change log not pruned: %s", qPrintable(m_outcome.error));
}

}
