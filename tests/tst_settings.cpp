// Ini settings through the real settings library, loaded by the client from a
// temporary folder that stands in for the executable's folder.

#include "data/SettingsClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QString m_builtLibrary;
    std::unique_ptr<QTemporaryDir> m_tmp;

    QString ini() const { return m_tmp->filePath(QStringLiteral("ConfigDB.ini")); }
    QString library() const { return m_tmp->filePath(QStringLiteral("libQuelmi.so")); }

    void setContent(const QByteArray &bytes, const QString &path = QString())
    {
        QFile f(path.isEmpty() ? ini() : path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    QByteArray content(const QString &path = QString()) const
    {
        QFile f(path.isEmpty() ? ini() : path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    // Everything in the folder; a leftover temporary file would show up here.
    QStringList entries() const
    {
        return QDir(m_tmp->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                             QDir::Name);
    }
    // Writes through the client; returns the exception text, empty on success.
    static QString write(const QString &file, const QString &section, const QString &key,
                         const QString &value)
    {
        try {
            settings::writeIni(file, section, key, value);
        } catch (const std::runtime_error &e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    }
    QString write(const QString &section, const QString &key, const QString &value) const
    {
        return write(ini(), section, key, value);
    }
    QString read(const QString &section, const QString &key) const
    {
        return settings::readIni(ini(), section, key);
    }
    static QStringList withIni() { return {QStringLiteral("ConfigDB.ini"), QStringLiteral("libQuelmi.so")}; }

private slots:
    void initTestCase()
    {
        m_builtLibrary = QCoreApplication::applicationDirPath() + QStringLiteral("/libQuelmi.so");
        QVERIFY2(QFileInfo(m_builtLibrary).isFile(), qPrintable(m_builtLibrary));
    }
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_tmp->isValid());
        QVERIFY(QFile::copy(m_builtLibrary, library()));
        settings::setExecutableDirForTesting(m_tmp->path());
    }
    void cleanup()
    {
        settings::setExecutableDirForTesting(QString());
        m_tmp.reset();
    }

    // --- where the library is looked for ---
    void folderOverride()
    {
        QCOMPARE(settings::executableDir(), m_tmp->path());
        QCOMPARE(settings::libraryPath(), library());
        settings::setExecutableDirForTesting(QString());
        QCOMPARE(settings::executableDir(), QCoreApplication::applicationDirPath());
        QCOMPARE(settings::libraryPath(), m_builtLibrary);
    }

    // --- values ---
    void roundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("commas") << QStringLiteral("a,b,,c");
        QTest::newRow("quotes") << QStringLiteral("\"quoted\" and 'single'");
        QTest::newRow("equals") << QStringLiteral("a=b==c=");
        QTest::newRow("blanks") << QStringLiteral("  padded\t ");
        QTest::newRow("chinese") << QStringLiteral("教务处 第二学期");
        QTest::newRow("windows path") << QStringLiteral("C:\\数据\\a b.mdb");
        QTest::newRow("comment marks") << QStringLiteral("; not # a comment");
        QTest::newRow("empty") << QString();
    }
    void roundTrip()
    {
        QFETCH(QString, value);
        QCOMPARE(write(QStringLiteral("Main"), QStringLiteral("Value"), value), QString());
        QCOMPARE(read(QStringLiteral("Main"), QStringLiteral("Value")), value);
        QCOMPARE(content(), QByteArray("[Main]\nValue=") + value.toUtf8() + '\n');
        QCOMPARE(entries(), withIni());
    }
    void readsValueVerbatim()
    {
        setContent("[ Main ]\r\n  Db Path =  C:\\a=b, \"x\"  \r\nnext=1\r\n");
        QCOMPARE(read(QStringLiteral("main"), QStringLiteral("db path")),
                 QStringLiteral("  C:\\a=b, \"x\"  "));
        QCOMPARE(read(QStringLiteral("MAIN"), QStringLiteral("NEXT")), QStringLiteral("1"));
    }
    void namesIgnoreCase()
    {
        setContent("[Database]\nDbPath=old\n[Ärzte]\nName=a\n");
        QCOMPARE(write(QStringLiteral("DATABASE"), QStringLiteral("dbpath"), QStringLiteral("new")), QString());
        QCOMPARE(content(), QByteArray("[Database]\nDbPath=new\n[Ärzte]\nName=a\n"));
        QCOMPARE(read(QStringLiteral("database"), QStringLiteral("DBPATH")), QStringLiteral("new"));
        QCOMPARE(read(QStringLiteral("äRZTE"), QStringLiteral("name")), QStringLiteral("a"));
    }

    // --- everything else in the file survives ---
    void untouchedLinesSurvive()
    {
        const QByteArray before = "orphan=top\n"
                                  "; leading comment\n"
                                  "[Paths]\n"
                                  "  # indented comment\n"
                                  "Data=C:\\old.mdb\n"
                                  "garbage line without equals\n"
                                  "\n"
                                  "Backup = D:\\bak \n"
                                  "[Other]\n"
                                  "Data=keep\n"
                                  "\xff\xfe raw bytes\n"
                                  "last=no newline";
        setContent(before);
        QCOMPARE(write(QStringLiteral("Paths"), QStringLiteral("Data"), QStringLiteral("E:\\新.mdb")), QString());
        QByteArray expected = before;
        expected.replace("Data=C:\\old.mdb", "Data=E:\\新.mdb");
        QCOMPARE(content(), expected);

        QCOMPARE(write(QStringLiteral("Other"), QStringLiteral("last"), QStringLiteral("x")), QString());
        expected.replace("last=no newline", "last=x");
        QCOMPARE(content(), expected);
        QCOMPARE(entries(), withIni());
    }
    void crlfAndBomKept()
    {
        setContent("\xEF\xBB\xBF[A]\r\nk=1\r\n\r\n[B]\r\nm=2\r\n");
        QCOMPARE(read(QStringLiteral("A"), QStringLiteral("k")), QStringLiteral("1"));
        QCOMPARE(write(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("9")), QString());
        QCOMPARE(write(QStringLiteral("A"), QStringLiteral("n"), QStringLiteral("new")), QString());
        QCOMPARE(write(QStringLiteral("C"), QStringLiteral("z"), QStringLiteral("3")), QString());
        QCOMPARE(content(), QByteArray("\xEF\xBB\xBF[A]\r\nk=9\r\nn=new\r\n\r\n[B]\r\nm=2\r\n[C]\r\nz=3\r\n"));
        QCOMPARE(read(QStringLiteral("A"), QStringLiteral("k")), QStringLiteral("9"));
    }

    // --- missing file, section or key ---
    void missingFile()
    {
        QCOMPARE(read(QStringLiteral("Main"), QStringLiteral("Key")), QString());
        QVERIFY(!QFileInfo::exists(ini()));
        QCOMPARE(write(QStringLiteral("Main"), QStringLiteral("Key"), QStringLiteral("v")), QString());
        QCOMPARE(content(), QByteArray("[Main]\nKey=v\n"));
        QCOMPARE(entries(), withIni());
    }
    void missingSectionAppended()
    {
        setContent("[A]\na=1");
        QCOMPARE(read(QStringLiteral("B"), QStringLiteral("a")), QString());
        QCOMPARE(read(QStringLiteral("A"), QStringLiteral("b")), QString());
        QCOMPARE(write(QStringLiteral("B"), QStringLiteral("b"), QStringLiteral("2")), QString());
        QCOMPARE(content(), QByteArray("[A]\na=1\n[B]\nb=2\n"));
    }
    void missingKeyAddedInsideSection()
    {
        setContent("[A]\na=1\n; note\n\n[Empty]\n[B]\nb=2\n");
        QCOMPARE(write(QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("3")), QString());
        QCOMPARE(write(QStringLiteral("Empty"), QStringLiteral("e"), QStringLiteral("4")), QString());
        QCOMPARE(content(), QByteArray("[A]\na=1\n; note\nc=3\n\n[Empty]\ne=4\n[B]\nb=2\n"));
        QCOMPARE(read(QStringLiteral("A"), QStringLiteral("c")), QStringLiteral("3"));
    }
    void duplicatesFirstWins()
    {
        setContent("[S]\nk=first\nk=second\n[s]\nk=third\n");
        QCOMPARE(read(QStringLiteral("S"), QStringLiteral("k")), QStringLiteral("first"));
        QCOMPARE(write(QStringLiteral("s"), QStringLiteral("K"), QStringLiteral("new")), QString());
        QCOMPARE(content(), QByteArray("[S]\nk=new\nk=second\n[s]\nk=third\n"));
    }
    void keysBeforeFirstSectionBelongToNone()
    {
        setContent("k=outside\n[S]\nother=1\n");
        QCOMPARE(read(QStringLiteral("S"), QStringLiteral("k")), QString());
        QCOMPARE(write(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("in")), QString());
        QCOMPARE(content(), QByteArray("k=outside\n[S]\nother=1\nk=in\n"));
    }

    // --- refused and failed writes ---
    void refused_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("LF in value") << "S" << "k" << "a\nb";
        QTest::newRow("CR in value") << "S" << "k" << "a\rb";
        QTest::newRow("CRLF in value") << "S" << "k" << "a\r\n[X]";
        QTest::newRow("LF in key") << "S" << "k\nx" << "v";
        QTest::newRow("LF in section") << "S\nT" << "k" << "v";
        QTest::newRow("empty key") << "S" << "" << "v";
        QTest::newRow("blank key") << "S" << "  " << "v";
        QTest::newRow("empty section") << "" << "k" << "v";
    }
    void refused()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QByteArray before = "[S]\nk=old\n";
        setContent(before);
        QCOMPARE(write(section, key, value),
                 QStringLiteral("无法写入配置文件: ") + QDir::toNativeSeparators(ini()));
        QCOMPARE(content(), before);
        QCOMPARE(entries(), withIni());
    }
    void unwritablePathFails()
    {
        // A regular file where the folder should be.
        const QString plain = m_tmp->filePath(QStringLiteral("plain.txt"));
        setContent("not a folder", plain);
        const QString below = plain + QStringLiteral("/ConfigDB.ini");
        QCOMPARE(write(below, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v")),
                 QStringLiteral("无法写入配置文件: ") + QDir::toNativeSeparators(below));
        QCOMPARE(content(plain), QByteArray("not a folder"));

        // A folder where the ini file should be.
        QVERIFY(QDir(m_tmp->path()).mkdir(QStringLiteral("ConfigDB.ini")));
        setContent("kept", ini() + QStringLiteral("/inside.txt"));
        QVERIFY(!write(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v")).isEmpty());
        QVERIFY(QFileInfo(ini()).isDir());
        QCOMPARE(content(ini() + QStringLiteral("/inside.txt")), QByteArray("kept"));
        QCOMPARE(entries(), withIni() << QStringLiteral("plain.txt"));
    }

    // --- no usable library: reads are empty, writes do nothing ---
    void unusableLibrary_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("missing") << false << QByteArray();
        QTest::newRow("empty file") << true << QByteArray();
        QTest::newRow("text file") << true << QByteArray("not a shared library\n");
    }
    void unusableLibrary()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, bytes);
        QVERIFY(QFile::remove(library()));
        if (present)
            setContent(bytes, library());
        const QByteArray before = "[S]\nk=old\n";
        setContent(before);

        QCOMPARE(read(QStringLiteral("S"), QStringLiteral("k")), QString());
        QCOMPARE(write(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("new")), QString());
        QCOMPARE(content(), before);
        const QString fresh = m_tmp->filePath(QStringLiteral("Fresh.ini"));
        QCOMPARE(write(fresh, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v")), QString());
        QVERIFY(!QFileInfo::exists(fresh));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
