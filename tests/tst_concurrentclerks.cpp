// Two programs adding rows to one database at the same moment: the number a
// window proposes at Add is not reserved, so another program may store it
// first. The window then stores its row under the next free number and shows
// it, whether the other program stored it before the Save or during it; a
// number the window did not propose is refused as before.
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/server/PgSession.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/master/TeacherSet_Unit.h"
#include "support/GuiHelpers.h"
#include "support/ProgramFixture.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <QTest>

#include <sqlite3.h>

#include <atomic>
#include <thread>

using dravon::DataSetState;

namespace {

struct Kind
{
    QString menu, table, idColumn, nameColumn;
    std::function<TfrmDictionaryBase *()> window;
};

Kind kind(const QString &name)
{
    if (name == QLatin1String("teacher"))
        return {"D2", "TeacherInfo", "TeacherID", "TchName", [] { return frmTeacherSet.data(); }};
    return {"D3", "StudentInfo", "StudentID", "StuName", [] { return frmStudentSet.data(); }};
}

void pressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

void focus(QWidget *w)
{
    w->window()->activateWindow();
    QTRY_VERIFY(w->window()->isActiveWindow());
    w->setFocus();
    QTRY_VERIFY(w->hasFocus());
}

// The other program: its own connection to the database (the file, or the
// server's), which stores a row with the given number in a write transaction
// that it holds for a while before it commits.
class OtherProgram
{
public:
    OtherProgram(const testsupport::TestWorkspace &ws, const QString &insert, int holdMs)
    {
        const QByteArray sql = ws.statementForEngine(insert).toUtf8();
        if (const auto address = ws.serverAddress())
            m_thread = std::thread([this, address = *address, sql, holdMs] {
                try {
                    dravon::pg::Session session(address);
                    session.exec(QStringLiteral("BEGIN"));
                    session.exec(QString::fromUtf8(sql));
                    m_ok = true;
                    m_written = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                    session.exec(QStringLiteral("COMMIT"));
                } catch (const dravon::Error &) {
                    m_ok = false;
                    m_written = true;
                }
            });
        else
            m_thread = std::thread([this, path = ws.dbPath().toUtf8(), sql, holdMs] {
                sqlite3 *db = nullptr;
                sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
                sqlite3_busy_timeout(db, 5000);
                m_ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK
                       && sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
                m_written = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
                m_ok = m_ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
                sqlite3_close(db);
            });
        while (!m_written)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~OtherProgram()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    bool finish()
    {
        m_thread.join();
        m_thread = std::thread();
        return m_ok;
    }

private:
    std::atomic<bool> m_written{false};
    std::atomic<bool> m_ok{false};
    std::thread m_thread;
};

}

class ConcurrentClerksTest : public QObject, protected testsupport::ProgramFixture
{
    Q_OBJECT

private:
    TfrmDictionaryBase *open(const Kind &k)
    {
        frmTeachMain->menuItem(k.menu)->trigger();
        TfrmDictionaryBase *w = k.window();
        if (w && QTest::qWaitForWindowExposed(w))
            return w;
        return nullptr;
    }
    // The rows as stored: "<number> <name>" in number order.
    QStringList stored(const Kind &k)
    {
        return ws->query(QStringLiteral("SELECT %1 || ' ' || %2 FROM %3 ORDER BY %1")
                             .arg(k.idColumn, k.nameColumn, k.table));
    }
    // Opens the window over rows 2007001..2007005 and starts a new row by
    // Ctrl+N with a name typed; the window proposes 2007006.
    TfrmDictionaryBase *startNewRow(const Kind &k)
    {
        for (int i = 1; i <= 5; ++i)
            ws->exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ('200700%4', '旧%4')")
                         .arg(k.table, k.idColumn, k.nameColumn)
                         .arg(i));
        TfrmDictionaryBase *w = open(k);
        if (!w)
            return nullptr;
        focus(w->edtName);
        pressKey(Qt::Key_N, Qt::ControlModifier);
        focus(w->edtName);
        testsupport::typeText(w->edtName, QStringLiteral("新人"));
        return w;
    }
    QString othersRow(const Kind &k, const QString &id)
    {
        return QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ('%4', '他人')").arg(k.table, k.idColumn, k.nameColumn, id);
    }

private slots:
    void init() { startProgram({}, Screen::LoggedIn); }
    void cleanup() { stopProgram(); }

    // The other program stored the proposed number between Add and the
    // store; each way of storing the new row takes the next number.
    void numberTakenBeforeTheStoreIsReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("store");
        for (const char *k : {"teacher", "student"})
            for (const char *store : {"Ctrl+S", "Ctrl+N", "click on another row"})
                QTest::addRow("%s, %s", k, store) << k << store;
    }
    void numberTakenBeforeTheStoreIsReplaced()
    {
        QFETCH(QString, kind);
        QFETCH(QString, store);
        const Kind k = ::kind(kind);
        TfrmDictionaryBase *w = startNewRow(k);
        QVERIFY(w);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007006"));
        ws->exec(othersRow(k, QStringLiteral("2007006")));

        if (store == QLatin1String("Ctrl+S")) {
            pressKey(Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(w->mainSource()->state(), DataSetState::Browse);
            QCOMPARE(w->txtID->text(), QStringLiteral("2007007"));
            QCOMPARE(w->edtName->text(), QStringLiteral("新人"));
        } else if (store == QLatin1String("Ctrl+N")) {
            pressKey(Qt::Key_N, Qt::ControlModifier);
            QCOMPARE(w->mainSource()->state(), DataSetState::Insert);
            QCOMPARE(w->txtID->text(), QStringLiteral("2007008"));
        } else {
            // The new row stands where the current row was (the first); the click is on the next.
            const QRect cell = w->DBGrid->visualRect(w->DBGrid->model()->index(1, 1));
            QTest::mouseClick(w->DBGrid->viewport(), Qt::LeftButton, {}, cell.center());
            QCOMPARE(w->mainSource()->state(), DataSetState::Browse);
        }
        QCOMPARE(recorder->messages.size(), 0);
        QCOMPARE(frmTeachMain->statusBar()->currentMessage(),
                 QStringLiteral("编号 2007006 已被其他用户使用，新记录改用编号 2007007。"));
        QCOMPARE(stored(k), QStringList({"2007001 旧1", "2007002 旧2", "2007003 旧3", "2007004 旧4", "2007005 旧5",
                                         "2007006 他人", "2007007 新人"}));
    }

    // The other program's row is being written while the window stores its
    // row: the window's insert waits for it, the key refuses the number, and
    // the store is tried again with the next. A number the window did not
    // propose (set into the row otherwise) keeps the refusal and its values.
    void numberTakenDuringTheStoreIsRetried_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("proposed");
        QTest::newRow("teacher") << "teacher" << true;
        QTest::newRow("student") << "student" << true;
        QTest::newRow("teacher, number not proposed") << "teacher" << false;
    }
    void numberTakenDuringTheStoreIsRetried()
    {
        QFETCH(QString, kind);
        QFETCH(bool, proposed);
        const Kind k = ::kind(kind);
        TfrmDictionaryBase *w = startNewRow(k);
        QVERIFY(w);
        QCOMPARE(w->txtID->text(), QStringLiteral("2007006"));
        if (!proposed)
            w->mainSource()->dataSet()->setFieldText(k.idColumn, QStringLiteral("2007009"));
        const QString taken = proposed ? QStringLiteral("2007006") : QStringLiteral("2007009");
        OtherProgram other(*ws, othersRow(k, taken), 300);
        pressKey(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(other.finish());

        const QStringList before{"2007001 旧1", "2007002 旧2", "2007003 旧3", "2007004 旧4", "2007005 旧5"};
        if (proposed) {
            QCOMPARE(recorder->messages.size(), 0);
            QCOMPARE(w->mainSource()->state(), DataSetState::Browse);
            QCOMPARE(w->txtID->text(), QStringLiteral("2007007"));
            QCOMPARE(stored(k), before + QStringList({"2007006 他人", "2007007 新人"}));
        } else {
            QCOMPARE(recorder->messages.size(), 1);
            QVERIFY2(recorder->last().text.contains(QStringLiteral("与已有记录重复")), qPrintable(recorder->last().text));
            QCOMPARE(w->mainSource()->state(), DataSetState::Insert);
            QCOMPARE(w->mainSource()->dataSet()->fieldText(k.idColumn), QStringLiteral("2007009"));
            QCOMPARE(w->edtName->text(), QStringLiteral("新人"));
            QCOMPARE(stored(k), before + QStringList({"2007009 他人"}));
        }
    }
};

QTEST_MAIN(ConcurrentClerksTest)
#include "tst_concurrentclerks.moc"
