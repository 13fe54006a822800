// Ten programs saving scores at once for a minute, on a database of a
// throw-away PostgreSQL server and on one database file, side by side: each
// a process with its own connection and record sets (tests/helpers/ScoreClerk),
// adding score rows and raising shared rows' marks. Prints the saves per
// second and checks that no row was lost or stored twice and that no clerk
// hung (tests/support/ScoreClerks.h).
//   BenchConcurrentSaves [--clerks 10] [--seconds 60] [--only server|file]
#include "support/ScoreClerks.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>

namespace {

int report(const char *engine, const testsupport::ClerksOutcome &outcome)
{
    std::printf("%-6s %s\n", engine, qPrintable(outcome.summary()));
    for (const QString &r : outcome.refusals)
        std::printf("       refused: %s\n", qPrintable(r.left(200)));
    for (const QString &f : outcome.faults)
        std::printf("       FAULT: %s\n", qPrintable(f));
    std::fflush(stdout);
    return outcome.faults.isEmpty() ? 0 : 1;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&](const char *name, const QString &fallback) {
        const int at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args[at + 1] : fallback;
    };
    const int clerks = option("--clerks", QStringLiteral("10")).toInt();
    const double seconds = option("--seconds", QStringLiteral("60")).toDouble();
    const QString only = option("--only", {});
    int failed = 0;
    if (only.isEmpty() || only == QLatin1String("server")) {
        testsupport::ServerDatabase db;
        failed |= report("server", testsupport::runScoreClerks({{}, db.name()}, clerks, seconds));
    }
    if (only.isEmpty() || only == QLatin1String("file")) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Teach.mdb"));
        testsupport::createDatabase(path);
        failed |= report("file", testsupport::runScoreClerks({path, {}}, clerks, seconds));
    }
    return failed;
}
