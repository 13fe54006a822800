#include "data/changes/Pruning.h"

#include "data/BusyWait.h"
#include "data/Error.h"
#include "data/ProgramSettings.h"
#include "data/RowSource.h"
#include "data/SettingsClient.h"

#include <QFile>
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

PruneOutcome pruneChangeLog(const QString &databasePath, const LogLimits &limits, const std::atomic<bool> *cancel)
{
    PruneOutcome outcome;
    auto cancelled = [cancel] { return cancel && cancel->load(); };
    try {
        Db db(databasePath);
        const int protect = qMax(0, limits.protectDays);
        const QString ageCut = db.value(QStringLiteral("SELECT datetime('now', 'localtime', ?1)"),
                                        {QStringLiteral("-%1 days").arg(qMax(limits.keepDays, protect))})
                                   .toString();
        const QString protectCut = db.value(QStringLiteral("SELECT datetime('now', 'localtime', ?1)"),
                                            {QStringLiteral("-%1 days").arg(protect)})
                                       .toString();
        // Entries beyond the size, from the average size of an entry.
        qint64 overSize = 0;
        const qint64 bytes = logBytes(db);
        if (bytes > limits.maxBytes) {
            const qint64 entries =
                db.value(QStringLiteral("SELECT max(ChangeID) - min(ChangeID) + 1 FROM ChangeLog")).toLongLong();
            if (entries > 0)
                overSize = qint64((double(bytes - limits.maxBytes) / double(bytes)) * double(entries)) + 1;
        }

        Statement oldest, remove, firstLeft, dropBatches;
        while (!cancelled()) {
            const bool bySize = overSize > 0;
            const QString cut = bySize ? protectCut : ageCut;
            const int limit = int(bySize ? qMin<qint64>(chunk, overSize) : chunk);
            waitForWriter();
            db.exec("BEGIN IMMEDIATE");
            try {
                // The oldest entries, as long as each is older than the cut.
                oldest.prepare(db.handle(), QStringLiteral(
                                                "SELECT L.ChangeID, coalesce(B.ChangedAt, L.ChangedAt) FROM ChangeLog L "
                                                "LEFT JOIN ChangeBatch B ON B.BatchID = L.BatchID ORDER BY L.ChangeID LIMIT ?1"));
                oldest.reset();
                oldest.bind(1, limit);
                qint64 last = -1;
                int taken = 0;
                while (oldest.step()) {
                    if (oldest.value(1).toString() >= cut)
                        break;
                    last = oldest.int64(0);
                    ++taken;
                }
                oldest.reset();
                if (taken > 0) {
                    remove.prepare(db.handle(), QStringLiteral("DELETE FROM ChangeLog WHERE ChangeID <= ?1"));
                    remove.reset();
                    remove.bind(1, last);
                    remove.step();
                    outcome.entries += sqlite3_changes(db.handle());
                }
                // Batches whose every entry is gone (and notes without entries) as old as the cut.
                firstLeft.prepare(db.handle(), QStringLiteral("SELECT L.ChangeID, L.BatchID FROM ChangeLog L "
                                                              "ORDER BY L.ChangeID LIMIT 1"));
                firstLeft.reset();
                const bool anyLeft = firstLeft.step();
                const QVariant first = anyLeft ? firstLeft.value(0) : QVariant();
                const QVariant firstBatch = anyLeft ? firstLeft.value(1) : QVariant();
                firstLeft.reset();
                dropBatches.prepare(db.handle(), QStringLiteral(
                                                     "DELETE FROM ChangeBatch WHERE ChangedAt < ?1 AND "
                                                     "(?2 IS NULL OR (FirstChange < ?2 AND BatchID IS NOT ?3))"));
                dropBatches.reset();
                dropBatches.bind(1, cut);
                dropBatches.bind(2, first);
                dropBatches.bind(3, firstBatch);
                dropBatches.step();
                outcome.batches += sqlite3_changes(db.handle());
                db.exec("COMMIT");
                overSize -= taken;
                // Reached entries that stay, or the end: the log is within its limits.
                if (taken < limit)
                    break;
            } catch (...) {
                sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
        oldest.finalize();
        remove.finalize();
        firstLeft.finalize();
        dropBatches.finalize();
        if (outcome.entries > 0) {
            Statement note;
            note.prepare(db.handle(), QStringLiteral(
                                          "INSERT INTO ChangeBatch (ChangedAt, Action, Description, FirstChange) "
                                          "VALUES (datetime('now', 'localtime'), '清理', ?1, "
                                          "(SELECT coalesce(max(ChangeID), 0) + 1 FROM ChangeLog))"));
            note.bind(1, QStringLiteral("清理 %1 条旧的修改记录").arg(outcome.entries));
            note.step();
        }
    } catch (const Error &e) {
        outcome.error = e.text();
    }
    return outcome;
}

ChangeLogPruner::ChangeLogPruner(const QString &databasePath, const LogLimits &limits, QObject *parent)
    : QThread(parent), m_path(databasePath), m_limits(limits)
{
}

ChangeLogPruner::~ChangeLogPruner()
{
    cancel();
    wait();
}

void ChangeLogPruner::run()
{
    m_outcome = pruneChangeLog(m_path, m_limits, &m_cancelled);
    if (!m_outcome.error.isEmpty())
        qWarning("change log not pruned: %s", qPrintable(m_outcome.error));
}

}
