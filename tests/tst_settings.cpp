// Ini settings through the real settings library, loaded by the client from a
// temporary folder that stands in for the executable's folder.

#include "data/SettingsClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <QLibrary>
#include <QRandomGenerator>

#include <csignal>
#include <memory>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {

// One line of an ini file as bytes: its text and its ending ("\n", "\r\n",
// a bare "\r", or nothing at the end of the file).
struct RawLine
{
    QByteArray text;
    QByteArray eol;
    bool operator==(const RawLine &) const = default;
};

QList<RawLine> rawLines(QByteArray data)
{
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    QList<RawLine> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype at = start;
        while (at < data.size() && data[at] != '\n' && data[at] != '\r')
            ++at;
        RawLine line{data.mid(start, at - start), {}};
        if (at < data.size())
            line.eol = data.mid(at, data[at] == '\r' && at + 1 < data.size() && data[at + 1] == '\n' ? 2 : 1);
        lines.append(line);
        start = at + line.eol.size();
    }
    return lines;
}

// Empty when `after` is `before` with one value changed or one key (and its
// section) added, every other line keeping its bytes (a last line without an
// ending may gain one); otherwise what differs.
QString otherLinesKept(const QByteArray &before, const QByteArray &after)
{
    if (before.startsWith("\xEF\xBB\xBF") != after.startsWith("\xEF\xBB\xBF"))
        return QStringLiteral("byte order mark changed");
    const QList<RawLine> b = rawLines(before);
    const QList<RawLine> a = rawLines(after);
    qsizetype j = 0, unmatched = 0;
    for (qsizetype i = 0; i < b.size(); ++i) {
        const bool last = i == b.size() - 1;
        qsizetype k = j;
        while (k < a.size() && !(a[k].text == b[i].text && (a[k].eol == b[i].eol || (last && b[i].eol.isEmpty()))))
            ++k;
        if (k == a.size()) {
            ++unmatched;
            continue;
        }
        j = k + 1;
    }
    const qsizetype added = a.size() - (b.size() - unmatched);
    if (unmatched > 1 || added > 2 || (unmatched == 1 && a.size() != b.size()))
        return QStringLiteral("lines changed: %1 unmatched, %2 added\n--- before\n%3\n--- after\n%4")
            .arg(unmatched).arg(added).arg(QString::fromUtf8(before.toPercentEncoding(" =[];#")),
                                            QString::fromUtf8(after.toPercentEncoding(" =[];#")));
    for (const RawLine &line : a) {
        if (line.text.contains('\r') || line.text.contains('\n'))
            return QStringLiteral("line ending inside a line");
    }
    return QString();
}

// Random names, values and files for the round-trip property.
class IniFuzzer
{
public:
    explicit IniFuzzer(quint32 seed) : m_random(seed) {}

    int below(int n) { return int(m_random.bounded(n)); }
    template<typename T>
    const T &pick(const QList<T> &list) { return list[below(int(list.size()))]; }

    // Text without line breaks, drawn from characters that have tripped ini code.
    QString text(int maxLength)
    {
        static const QList<QString> pieces = {
            "a", "Z", "k", " ", "\t", "=", ";", "#", "[", "]", "\\", "\"", "'", ",", "%", "$", "0", "9",
            "\u6570", "\u636E", "\u5E93", "\uFEFF", "\u3000", "\u00A0", "\u00C4", "\u00E4", "\U0001F600",
            "\u2028", QString(QChar(0)), "\x7F", "C:\\a b\\", "/tmp/x.mdb"};
        QString out;
        const int n = below(maxLength + 1);
        for (int i = 0; i < n; ++i)
            out += pick(pieces);
        return out;
    }
    QString name()
    {
        static const QList<QString> common = {"BDConn", "bdconn", " BDConn ", "\uFEFFBDConn", "DBConFileName",
                                              "Info", "\u6570\u636E", "\uFEFF", "a b", "A B"};
        return below(3) == 0 ? pick(common) : text(6);
    }
    QByteArray eol()
    {
        static const QList<QByteArray> endings = {"\n", "\r\n", "\r"};
        return pick(endings);
    }
    QByteArray file()
    {
        QByteArray out = below(4) == 0 ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        const bool mixed = below(3) == 0;
        const QByteArray fileEol = eol();
        const int lines = below(12);
        for (int i = 0; i < lines; ++i) {
            switch (below(7)) {
            case 0: out += '[' + name().toUtf8() + ']'; break;
            case 1: out += "  [" + name().toUtf8() + "]  ; note"; break;
            case 2: out += name().toUtf8() + '=' + text(8).toUtf8(); break;
            case 3: out += pick(QList<QByteArray>{"; comment", "# hash", "", "   ", "garbage", "[unclosed"}); break;
            case 4: out += QByteArray("\xFF\xFE raw ") + text(3).toUtf8(); break;
            case 5: out += ' ' + name().toUtf8() + " = " + text(5).toUtf8(); break;
            default: out += text(10).toUtf8(); break;
            }
            if (i < lines - 1 || below(2) == 0)
                out += mixed ? eol() : fileEol;
        }
        return out;
    }

private:
    QRandomGenerator m_random;
};

// Rewrites a file as the test's fixture, checking every byte went out.
bool putFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}

}

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

    // --- a failed write leaves the old file byte for byte ---
    // A real full disk: a small tmpfs filled to the last byte. A change of a
    // few bytes fits any write buffer, so the failure shows only when the
    // bytes reach the disk.
    void fullDiskKeepsTheFile()
    {
        const QString mountPoint = m_tmp->filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(mountPoint));
        if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no tmpfs can be mounted here; the file size limit test covers the failing write");
        struct Unmount
        {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{QFile::encodeName(mountPoint)};

        const QString file = mountPoint + QStringLiteral("/ConfigDB.ini");
        const QByteArray before = "; settings\r\n[BDConn]\r\nDBConFileName=/data/Teach.mdb\r\n";
        QVERIFY(putFile(file, before));
        // Fill every remaining block.
        QFile filler(mountPoint + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        while (filler.write("x", 1) == 1) {
        }
        filler.close();

        const QString expected = QStringLiteral("无法写入配置文件: ") + file;
        QCOMPARE(write(file, QStringLiteral("BDConn"), QStringLiteral("DBConFileName"), QStringLiteral("/b.mdb")), expected);
        QCOMPARE(write(file, QStringLiteral("New"), QStringLiteral("k"), QStringLiteral("v")), expected);
        QCOMPARE(content(file), before);
        QCOMPARE(QDir(mountPoint).entryList(QDir::Files | QDir::Hidden), QStringList({"ConfigDB.ini", "filler"}));

        // With room again the same write succeeds.
        QVERIFY(QFile::remove(mountPoint + QStringLiteral("/filler")));
        QCOMPARE(write(file, QStringLiteral("BDConn"), QStringLiteral("DBConFileName"), QStringLiteral("/b.mdb")), QString());
        QCOMPARE(content(file), QByteArray("; settings\r\n[BDConn]\r\nDBConFileName=/b.mdb\r\n"));
    }
    // The same through the process's file size limit, which needs no mount:
    // the write stops part way and must not be renamed over the old file.
    void fileSizeLimitKeepsTheFile()
    {
        const QByteArray before = "[BDConn]\nDBConFileName=/data/Teach.mdb\n[Other]\nx=1\n";
        setContent(before);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit limited = old;
        limited.rlim_cur = rlim_t(before.size());
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const QString longer = write(QStringLiteral("BDConn"), QStringLiteral("DBConFileName"),
                                     QStringLiteral("/a/much/longer/path/than/before/Teach.mdb"));
        const QString added = write(QStringLiteral("Third"), QStringLiteral("k"), QStringLiteral("v"));
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        const QString expected = QStringLiteral("无法写入配置文件: ") + ini();
        QCOMPARE(longer, expected);
        QCOMPARE(added, expected);
        QCOMPARE(content(), before);
        QCOMPARE(entries(), withIni());
    }

    // A new settings file is private (it names the database); a rewritten
    // one keeps the mode it had.
    void fileModes()
    {
        QCOMPARE(write(QStringLiteral("BDConn"), QStringLiteral("DBConFileName"), QStringLiteral("/a.mdb")), QString());
        QCOMPARE(QFileInfo(ini()).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                                          | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(ini(), shared));
        QCOMPARE(write(QStringLiteral("BDConn"), QStringLiteral("DBConFileName"), QStringLiteral("/b.mdb")), QString());
        QCOMPARE(content(), QByteArray("[BDConn]\nDBConFileName=/b.mdb\n"));
        QCOMPARE(QFileInfo(ini()).permissions(), shared);
    }

    // --- line endings and marks ---
    void lineEndingsStayOutOfValues_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("last line ends with bare CR")
            << QByteArray("[BDConn]\r\nDBConFileName=C:\\old.mdb\r") << "BDConn" << "DBConFileName"
            << QByteArray("[BDConn]\r\nDBConFileName=/new.mdb\r");
        QTest::newRow("bare CR file, key added")
            << QByteArray("[A]\rk=1\r") << "A" << "m" << QByteArray("[A]\rk=1\rm=/new.mdb\r");
        QTest::newRow("bare CR file, section added")
            << QByteArray("[A]\rk=1") << "B" << "m" << QByteArray("[A]\rk=1\r[B]\rm=/new.mdb\r");
        QTest::newRow("mixed endings kept")
            << QByteArray("[A]\nk=1\r\nj=2\r") << "A" << "j" << QByteArray("[A]\nk=1\r\nj=/new.mdb\r");
        QTest::newRow("CR before CRLF")
            << QByteArray("[A]\r\nk=1\r\r\n") << "A" << "k" << QByteArray("[A]\r\nk=/new.mdb\r\r\n");
    }
    void lineEndingsStayOutOfValues()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QByteArray, after);
        setContent(before);
        QCOMPARE(write(section, key, QStringLiteral("/new.mdb")), QString());
        QCOMPARE(read(section, key), QStringLiteral("/new.mdb"));
        QCOMPARE(content(), after);
    }
    void byteOrderMarkInNamesAndValues()
    {
        const QString section = QStringLiteral("\uFEFFBDConn");
        const QString value = QStringLiteral("\uFEFF/data/Teach.mdb");
        QCOMPARE(write(section, QStringLiteral("DBConFileName"), value), QString());
        QCOMPARE(write(section, QStringLiteral("DBConFileName"), value), QString());
        QCOMPARE(write(QStringLiteral("\uFEFF"), QStringLiteral("\uFEFFk"), QStringLiteral("\uFEFF")), QString());
        QCOMPARE(read(section, QStringLiteral("DBConFileName")), value);
        QCOMPARE(read(QStringLiteral("BDConn"), QStringLiteral("DBConFileName")), QString());
        QCOMPARE(read(QStringLiteral("\uFEFF"), QStringLiteral("\uFEFFk")), QStringLiteral("\uFEFF"));
        QCOMPARE(content(), QByteArray("[\xEF\xBB\xBF" "BDConn]\nDBConFileName=\xEF\xBB\xBF/data/Teach.mdb\n"
                                       "[\xEF\xBB\xBF]\n\xEF\xBB\xBFk=\xEF\xBB\xBF\n"));
        // A lone surrogate cannot be stored as UTF-8 and is refused.
        QVERIFY(!write(QStringLiteral("S"), QStringLiteral("k"), QString(QChar(0xD800))).isEmpty());
    }

    // Property: for generated files and every write the library accepts, a
    // read returns exactly what was written, and every other line keeps its
    // bytes. Fixed seed, so a failure repeats.
    void generatedRoundTrip()
    {
        // Many small writes, each forced to the disk: on a memory file system
        // where there is one, so the loop stays quick.
        std::unique_ptr<QTemporaryDir> memoryDir;
        QString file = ini();
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
            memoryDir = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/tst_settings-XXXXXX"));
            if (memoryDir->isValid())
                file = memoryDir->filePath(QStringLiteral("ConfigDB.ini"));
        }
        QLibrary quelmi(library());
        QVERIFY(quelmi.load());
        using ReadFn = void (*)(QString &, const QString &, const QString &, const QString &);
        using WriteFn = bool (*)(const QString &, const QString &, const QString &, const QString &);
        const auto readIni = reinterpret_cast<ReadFn>(quelmi.resolve("ReadIni"));
        const auto writeIni = reinterpret_cast<WriteFn>(quelmi.resolve("WriteIni"));
        QVERIFY(readIni && writeIni);
        const auto readBack = [&](const QString &section, const QString &key) {
            QString value;
            readIni(value, file, section, key);
            return value;
        };
        const auto same = [](const QString &a, const QString &b) {
            return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
        };

        IniFuzzer fuzz(20260408);
        int accepted = 0;
        for (int round = 0; round < 400; ++round) {
            QByteArray before = fuzz.file();
            setContent(before, file);
            struct Entry { QString section, key, value; };
            QList<Entry> written;
            for (int step = 0; step < 8; ++step) {
                const QString section = fuzz.name();
                const QString key = fuzz.name();
                const QString value = fuzz.text(10);
                const bool ok = writeIni(file, section, key, value);
                const QByteArray after = content(file);
                if (!ok) {
                    QVERIFY2(after == before, qPrintable(QStringLiteral("refused write changed the file, round %1").arg(round)));
                    continue;
                }
                ++accepted;
                const QString kept = otherLinesKept(before, after);
                QVERIFY2(kept.isEmpty(), qPrintable(QStringLiteral("round %1 step %2: %3").arg(round).arg(step).arg(kept)));
                auto it = std::find_if(written.begin(), written.end(), [&](const Entry &e) {
                    return same(e.section, section) && same(e.key, key);
                });
                if (it == written.end())
                    written.append({section, key, value});
                else
                    it->value = value;
                for (const Entry &e : std::as_const(written)) {
                    const QString got = readBack(e.section, e.key);
                    QVERIFY2(got == e.value,
                             qPrintable(QStringLiteral("round %1 step %2: [%3] %4 read %5, wrote %6")
                                            .arg(round).arg(step).arg(e.section, e.key, got, e.value)));
                }
                before = after;
            }
        }
        // Most generated writes are storable; the property was exercised.
        QVERIFY2(accepted > 1500, qPrintable(QString::number(accepted)));
        QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("ConfigDB.ini")),
                 QStringList{QStringLiteral("ConfigDB.ini")});
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
