// 数据迁移: a database file copied into a server database keeps every row and
// value (texts with tabs, newlines and backslashes, empty texts and NULLs,
// numbers to the last digit, dates, row numbers), reports its progress and
// checked counts, and numbers new rows after the copied ones. A failure
// half-way, a cancel or a database that already holds rows leaves the server
// database exactly as it was. The dialog does the same by clicks and keys,
// and Esc while it waits cancels.
#include "data/Dravon.h"
#include "data/ProgramSettings.h"
#include "data/server/Migration.h"
#include "data/server/ServerSchema.h"
#include "forms/system/DataMigration_Unit.h"
#include "gui/ServerAddressBox.h"
#include "support/EngineRows.h"
#include "support/SeededData.h"
#include "support/GuiHelpers.h"
#include "support/TestServer.h"
#include "support/TestWorkspace.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

using dravon::pg::MigratedTable;
using dravon::pg::MigrationProgress;
using dravon::pg::Session;
using testsupport::seededFile;
using testsupport::ServerDatabase;
using testsupport::serverState;
using testsupport::TestWorkspace;

namespace {

QByteArray fileHash(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// Ctrl+A, the text and Tab into the field that has the focus.
void typeThenTab(const QString &text)
{
    QWidget *field = QApplication::focusWidget();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Tab);
}

}

class TestMigration : public QObject
{
    Q_OBJECT

private slots:
    void copiesEveryRowAndValue()
    {
        const auto file = seededFile();
        {
            // A batch of the program in the file's log, beside the seed's own entries.
            dravon::Connection connection;
            connection.setConnectionString(file->connectionString());
            connection.open();
            CurrentUserID = QStringLiteral("1001");
            SQLExecute(QStringLiteral("Update Score Set Remark = 'logged' Where Id = 5"), connection);
            CurrentUserID.clear();
        }
        const QByteArray before = fileHash(file->dbPath());
        ServerDatabase db;
        QList<MigrationProgress> seen;
        const QList<MigratedTable> counts =
            dravon::pg::migrateFileToServer(file->dbPath(), db.address(), [&](const MigrationProgress &p) {
                seen << p;
                return true;
            });

        Session session(db.address());
        const dravon::PostgresDialect dialect(dravon::pg::serverNames(session));
        QCOMPARE(counts.size(), dravon::pg::programTableNames().size());
        qint64 total = 0;
        for (const MigratedTable &t : counts) {
            const QStringList columns =
                file->query(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(t.table));
            // The row number first: master rows keep it as their row key, record rows their Id.
            const QString sql =
                QStringLiteral("SELECT rowid, %1 FROM \"%2\" ORDER BY rowid").arg(columns.join(QStringLiteral(", ")), t.table);
            const QStringList expected = testsupport::fileRows(file->dbPath(), sql);
            QVERIFY2(!expected.isEmpty(), qPrintable(t.table));
            QCOMPARE(t.fileRows, qint64(expected.size()));
            QCOMPARE(t.serverRows, t.fileRows);
            QCOMPARE(testsupport::serverRows(session, dialect, sql), expected);
            total += t.fileRows;
        }
        QCOMPARE(fileHash(file->dbPath()), before);
        // The file's change log comes along as it is; the copy itself is not logged.
        for (const QString &sql : {QStringLiteral("SELECT ChangeID, BatchID, ChangedAt, TableName, RowKey, Operation, Field, "
                                                  "OldValue, NewValue, UndoneBy FROM ChangeLog ORDER BY ChangeID"),
                                   QStringLiteral("SELECT BatchID, ChangedAt, UserID, Window, Action, Description, UndoOf, "
                                                  "UndoneBy FROM ChangeBatch ORDER BY BatchID")}) {
            const QStringList expected = testsupport::fileRows(file->dbPath(), sql);
            QVERIFY2(!expected.isEmpty(), qPrintable(sql));
            QCOMPARE(testsupport::serverRows(session, dialect, sql), expected);
        }
        // Writes after the copy are logged again, numbered after the file's entries.
        const QString lastChange = file->query(QStringLiteral("SELECT max(ChangeID) FROM ChangeLog")).value(0);
        db.exec(QStringLiteral("UPDATE \"Score\" SET \"Remark\" = 'after' WHERE \"Id\" = 1"));
        QCOMPARE(db.query(QStringLiteral("SELECT \"ChangeID\" || ' ' || \"Field\" || ' ' || \"NewValue\" FROM \"ChangeLog\" "
                                         "WHERE \"ChangeID\" > %1").arg(lastChange)),
                 QStringList(QString::number(lastChange.toLongLong() + 1) + QStringLiteral(" Remark after")));

        // Progress: from nothing to every row, never backwards, several steps for the long table.
        QVERIFY(seen.size() > 3);
        QCOMPARE(seen.first().rowsDone, qint64(0));
        QCOMPARE(seen.last().rowsDone, total);
        int scoreSteps = 0;
        for (int i = 0; i < seen.size(); ++i) {
            QCOMPARE(seen.at(i).rowsTotal, total);
            QVERIFY(i == 0 || seen.at(i).rowsDone >= seen.at(i - 1).rowsDone);
            scoreSteps += seen.at(i).table == QLatin1String("Score");
        }
        QVERIFY2(scoreSteps > 2, qPrintable(QString::number(scoreSteps)));

        // The file's accounts replaced the first account; new rows come after the copied ones.
        QCOMPARE(db.query(QStringLiteral("SELECT \"UserID\" || '/' || \"UserPassword\" FROM \"User\" ORDER BY \"Id\"")),
                 QStringList({QStringLiteral("1001/changed"), QStringLiteral("1002/p:w\\d")}));
        QCOMPARE(db.query(QStringLiteral("INSERT INTO \"Score\" (\"StudentID\") VALUES ('x') RETURNING \"Id\"")),
                 QStringList(QStringLiteral("6001")));
        QCOMPARE(db.query(QStringLiteral("INSERT INTO \"TeacherInfo\" (\"TeacherID\") VALUES ('0009') RETURNING \"Id\"")),
                 QStringList(QStringLiteral("4")));
        // The program's next connection finds its database ready.
        dravon::pg::prepareServerSchema(session);
    }

    void failureLeavesTheServerDatabaseAsItWas_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty database, a value the server refuses in the last table")
            << QStringLiteral("empty") << QStringLiteral("bad text") << QStringLiteral("表 Course 的数据没有写入服务器");
        QTest::newRow("set up by the program, the same value")
            << QStringLiteral("set up") << QStringLiteral("bad text") << QStringLiteral("表 Course 的数据没有写入服务器");
        QTest::newRow("cancelled in the middle of the long table")
            << QStringLiteral("empty") << QStringLiteral("cancel") << QStringLiteral("数据迁移已取消");
        QTest::newRow("the database already holds rows")
            << QStringLiteral("with rows") << QString() << QStringLiteral("表 TeacherInfo 有 1 行");
        QTest::newRow("another program's tables")
            << QStringLiteral("foreign") << QString() << QStringLiteral("不是本程序的数据库");
    }

    void failureLeavesTheServerDatabaseAsItWas()
    {
        QFETCH(QString, server);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        const auto file = seededFile();
        if (fault == QLatin1String("bad text")) {
            // Bytes that are not UTF-8, which a file may hold and the server refuses.
            file->exec(QStringLiteral("UPDATE Course SET Remark = CAST(x'ff41' AS TEXT) WHERE Remark = '第二'"));
        }
        ServerDatabase db;
        if (server != QLatin1String("empty") && server != QLatin1String("foreign")) {
            Session setup(db.address());
            dravon::pg::prepareServerSchema(setup);
        }
        if (server == QLatin1String("with rows"))
            db.exec(QStringLiteral("INSERT INTO \"TeacherInfo\" (\"TeacherID\") VALUES ('0001')"));
        if (server == QLatin1String("foreign"))
            db.exec(QStringLiteral("CREATE TABLE invoices (id int)"));
        const QString before = serverState(db);

        qint64 rowsSent = 0;
        try {
            dravon::pg::migrateFileToServer(file->dbPath(), db.address(), [&](const MigrationProgress &p) {
                rowsSent = p.rowsDone;
                return !(fault == QLatin1String("cancel") && p.table == QLatin1String("Score") && p.rowsDone > 1000);
            });
            QFAIL("the migration went through");
        } catch (const dravon::Error &e) {
            QVERIFY2(e.text().contains(message), qPrintable(e.text()));
            QCOMPARE(fault == QLatin1String("cancel"), bool(dynamic_cast<const dravon::pg::MigrationCancelled *>(&e)));
        }
        if (!fault.isEmpty())
            QVERIFY2(rowsSent > 1000, qPrintable(QString::number(rowsSent)));
        QCOMPARE(serverState(db), before);
        if (!fault.isEmpty()) {
            // Nothing was left behind: the sound file goes into the same database afterwards.
            const auto sound = seededFile();
            const QList<MigratedTable> counts = dravon::pg::migrateFileToServer(sound->dbPath(), db.address());
            QCOMPARE(counts.size(), dravon::pg::programTableNames().size());
        }
    }

    void dialogCopiesAndEscCancelsWhileItWaits()
    {
        const auto file = seededFile();
        ServerDatabase db;
        testsupport::MessageRecorder rec;
        TfrmDataMigration dialog(nullptr);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        // The configured file is offered; nothing typed for the server is refused.
        QCOMPARE(dialog.edtSourceFile->text(), file->dbPath());
        QTest::mouseClick(dialog.btnStart, Qt::LeftButton);
        QCOMPARE(rec.last().text, QStringLiteral("请填写服务器的主机、端口(1-65535)、数据库和用户!"));
        QVERIFY(!dialog.isRunning());

        const dravon::pg::ServerAddress a = db.address();
        QTest::mouseClick(dialog.grpServer->edtHost, Qt::LeftButton);
        for (const QString &text : {a.host, QString::number(a.port), a.database, a.user, a.password})
            typeThenTab(text);
        QSignalSpy finished(&dialog, &TfrmDataMigration::finished);

        // Another program holds a table: the migration waits for it, and Esc
        // (and the close box) cancel; the database is left as it was.
        Session other(a);
        dravon::pg::prepareServerSchema(other);
        const QString before = serverState(db);
        other.exec(QStringLiteral("BEGIN"));
        other.exec(QStringLiteral("LOCK TABLE \"Course\" IN ACCESS EXCLUSIVE MODE"));
        QTest::mouseClick(dialog.btnStart, Qt::LeftButton);
        QVERIFY(dialog.isRunning() && !dialog.btnStart->isEnabled() && !dialog.btnClose->isEnabled());
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog, Qt::Key_Escape);
        QCOMPARE(dialog.lblStatus->text(), QStringLiteral("正在取消……"));
        dialog.close();
        QVERIFY(dialog.isVisible());
        other.exec(QStringLiteral("COMMIT"));
        QVERIFY(finished.wait(30000));
        QCOMPARE(rec.last().text, QStringLiteral("数据迁移已取消,服务器上的数据库没有改变。"));
        QCOMPARE(serverState(db), before);

        // Started again, it copies every row and shows each table's counts.
        QTest::mouseClick(dialog.btnStart, Qt::LeftButton);
        QVERIFY(finished.wait(30000));
        const int scoreRows = 5997;
        qint64 total = 0;
        for (const QString &table : dravon::pg::programTableNames())
            total += file->query(QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table)).value(0).toLongLong();
        QVERIFY2(rec.last().text.startsWith(QStringLiteral("数据迁移成功!共复制 %1 行,各表行数核对无误。").arg(total)),
                 qPrintable(rec.last().text));
        QCOMPARE(dialog.grdCounts->rowCount(), dravon::pg::programTableNames().size());
        const auto scoreRow = dialog.grdCounts->findItems(QStringLiteral("Score"), Qt::MatchExactly);
        QCOMPARE(scoreRow.size(), 1);
        QCOMPARE(dialog.grdCounts->item(scoreRow.first()->row(), 1)->text(), QString::number(scoreRows));
        QCOMPARE(dialog.grdCounts->item(scoreRow.first()->row(), 2)->text(), QString::number(scoreRows));
        QCOMPARE(dialog.prgMigration->value(), dialog.prgMigration->maximum());
        QCOMPARE(db.query(QStringLiteral("SELECT count(*) FROM \"Score\"")), QStringList(QString::number(scoreRows)));

        // A second time the database is no longer empty: refused, counts cleared, nothing changed.
        const QString filled = serverState(db);
        QTest::keyClick(dialog.btnStart, Qt::Key_Space);
        QVERIFY(finished.wait(30000));
        QVERIFY2(rec.last().text.startsWith(QStringLiteral("数据迁移失败,服务器上的数据库没有改变。\n原因: ")), qPrintable(rec.last().text));
        QVERIFY(rec.last().text.contains(QStringLiteral("已有数据")));
        QCOMPARE(dialog.grdCounts->rowCount(), 0);
        QCOMPARE(serverState(db), filled);
    }
};

QTEST_MAIN(TestMigration)
#include "tst_migration.moc"
