#pragma once
// The import's staging, match and apply on a server database: the same
// steps as on a file (see ImportRun.h), as the server runs them. The staged
// rows live in temporary tables of the connection's session, made from the
// target's own definition, so the server checks each value as it would
// check the row stored. Rows are staged by COPY, a few thousand at a time;
// when the server turns one of them away, the same rows go again many to a
// statement and then one by one in the file's order: a row whose match
// columns repeat an earlier row of the file is found by the staging table's
// unique index, as on the file.
#include "data/Connection.h"
#include "data/Field.h"
#include "data/import/ImportRun.h"
#include "data/import/ImportTargets.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>

namespace importing {

// One row of the file on its way into the staging table, with what became of it.
struct StagedRow
{
    enum class Outcome { Staged, Duplicate, Refused };
    qint64 line = 0;
    QStringList cells;
    QStringList reasons;                  // found before staging: the row is not staged
    QList<QVector<QVariant>> targets;     // the table rows it makes
    Outcome outcome = Outcome::Staged;
    int failedTarget = -1;                // the target refused or repeated
    qint64 firstLine = 0;                 // a duplicate: the earlier row of the file
    QString engineText;                   // a refusal: the server's words
};

class ServerStage
{
public:
    static constexpr int rowsPerStatement = 2000;

    explicit ServerStage(dravon::Connection &connection);
    // Drops the staging tables while the session is still the one that made them.
    ~ServerStage();
    ServerStage(const ServerStage &) = delete;
    ServerStage &operator=(const ServerStage &) = delete;

    // The table's columns (lower case) and their types as the file declares
    // them ("INTEGER", "REAL", "DATE", "TEXT").
    QHash<QString, QString> declaredTypes(const QString &table);
    QList<QVariantList> rows(const QString &sql, const QVariantList &params = {});

    void create(const ImportTarget &target, const QStringList &setFields, const QVector<dravon::FieldType> &types,
                const QStringList &matchFields, int freshAction);
    // Stages the rows without reasons; marks each one that the index or the
    // server refused, and takes back the rest of such a row.
    void stage(QList<StagedRow> &rows);
    // Finds each staged row's existing rows and decides what the row does,
    // as the file's match does; remembers what each found row held. The
    // statement is stopped on the server when keepGoing() returns false:
    // false then, and the stage is to be made anew.
    bool match(ImportMode mode, const std::function<bool()> &keepGoing = {});
    // Rows that several table rows match (line -> how many), taken out of the stage.
    QHash<qint64, qint64> takeAmbiguous();
    QHash<int, qint64> actionCounts();
    void addError(qint64 line, const QString &cells, const QString &reason);
    qint64 errorCellsWidth();
    // Error rows from position first (0-based), at most count.
    QList<QStringList> errorRows(qint64 first, int count);

    // Writes the staged rows in one transaction that is one batch of the
    // change log, after making sure, with the table locked against other
    // writers, that every row the check found is still as it was.
    ApplyResult apply(const QString &window, const Progress &progress);

    // Tests: called on the session's thread just before the match statement
    // is sent, so that a test can make the statement wait on the server.
    static void setBeforeMatchForTesting(std::function<void()> hook);

private:
    bool insertOne(const StagedRow &row, int part);
    qint64 stagedLineOf(const QVector<QVariant> &values);
    void dropLine(qint64 line);
    QString matchSelect() const;
    QString cast(int setIndex) const;

    dravon::Connection &m_connection;
    int m_connectionAtStart = 0;
    const ImportTarget *m_target = nullptr;
    QStringList m_setFields;
    QVector<dravon::FieldType> m_types;
    QStringList m_matchFields;
    QVector<int> m_matchIndex;
    int m_freshAction = 1;
    bool m_created = false;
};

}
