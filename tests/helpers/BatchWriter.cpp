// Writes batches to the score table without end, through the program's own
// record set, until it is killed: a helper of the kill -9 test
// (tst_killconsistency). Each round stores three new rows as one batch
// "导入", changes a mark (one batch "保存") and deletes two rows with one
// Ctrl+Del batch "批量删除".
//   BatchWriter <seed> file <path>
//   BatchWriter <seed> server <host> <port> <database> <user>
// The server's password comes from PGPASSWORD or the password file. Once
// connected it prints "ready".
#include "data/Dravon.h"
#include "HelperPlace.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    dravon::Connection connection;
    if (args.size() < 2 || !pointAtPlace(connection, args.mid(2)))
        return 2;
    QRandomGenerator random(args[1].toUInt());
    try {
        connection.open();
        std::printf("ready\n");
        std::fflush(stdout);
        for (int round = 0;; ++round) {
            auto scores = SQLDataSet(QStringLiteral("Select * From Score"), connection);
            scores->setOrigin(QStringLiteral("BatchWriter"));
            {
                dravon::ChangeBatch batch(connection, {QStringLiteral("导入"), QStringLiteral("BatchWriter"),
                                                       QStringLiteral("导入 3 条成绩记录")});
                for (int i = 0; i < 3; ++i) {
                    scores->insert();
                    scores->setFieldText(QStringLiteral("StudentID"), QString::number(2007000 + random.bounded(100)));
                    scores->setFieldText(QStringLiteral("Score"), QString::number(random.bounded(100)));
                    scores->setFieldText(QStringLiteral("Remark"), QStringLiteral("r%1-%2").arg(round).arg(i));
                    scores->post();
                }
                batch.commit();
            }
            scores->waitForCount();
            scores->moveTo(int(random.bounded(scores->recordCount())));
            scores->edit();
            scores->setFieldText(QStringLiteral("Score"), QString::number(random.bounded(100)));
            scores->post();
            if (scores->recordCount() > 2) {
                const int first = int(random.bounded(scores->recordCount() - 1));
                scores->deleteRows({first, first + 1});
            }
        }
    } catch (const dravon::Error &e) {
        std::fprintf(stderr, "BatchWriter: %s\n", qPrintable(e.text()));
        return 1;
    }
}
