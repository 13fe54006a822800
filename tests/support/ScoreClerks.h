#pragma once
// Several programs saving scores into one database at once: each a process
// of its own (tests/helpers/ScoreClerk) with its own connection and record
// sets, all started together. Afterwards the database is checked against
// what every clerk says it saved: each saved row there exactly once, no row
// whose Save failed, no row nobody saved, and each shared row's mark equal to
// the number of raises that were saved (no change lost to another clerk's).
#include <QMap>
#include <QString>
#include <QStringList>

namespace testsupport {

struct ClerksTarget
{
    QString file;            // a database file, or
    QString serverDatabase;  // a database of the throw-away test server
};

struct ClerksOutcome
{
    int clerks = 0;
    double seconds = 0;  // how long each clerk saved
    qint64 rounds = 0, added = 0, raised = 0, conflicts = 0;
    qint64 slowestSaveMs = 0;
    // Texts of failed Saves other than the refusal of a row changed by another
    // clerk, with how often each came ("3× …").
    QStringList refusals;
    // Broken rules: lost, duplicated or stray rows, a wrong mark, a clerk
    // that hung or crashed.
    QStringList faults;

    double savesPerSecond() const { return seconds > 0 ? double(added + raised) / seconds : 0; }
    // "10 clerks, 60 s: 1234 rows added, 1200 raises saved, ... per second".
    QString summary() const;
};

ClerksOutcome runScoreClerks(const ClerksTarget &target, int clerks, double seconds, int sharedRows = 5);

}
