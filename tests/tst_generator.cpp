// The benchmark's data generator: every table filled, the schema's checks
// met, the same rows for the same seed, record tables with an extra key
// column, and no rows added to a file that holds students already.
#include "bench/Generator.h"
#include "support/TestWorkspace.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using testsupport::querySql;

class GeneratorTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    const gen::Scale scale = gen::proportionalScale(120, 6);

    QString path(const QString &name) const { return QDir(dir.path()).filePath(name); }
    QString count(const QString &file, const QString &table) const
    {
        return querySql(file, QStringLiteral("SELECT count(*) FROM \"%1\"").arg(table)).value(0);
    }
    QByteArray digest(const QString &file) const
    {
        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (const QString table : {"StudentInfo", "Score", "Course", "Price"})
            for (const QString &row : querySql(file, QStringLiteral("SELECT quote(StudentID) || '|' || quote(%1) FROM %2 ORDER BY rowid")
                                                         .arg(table == QLatin1String("StudentInfo") ? "StuName"
                                                              : table == QLatin1String("Score")     ? "Score"
                                                              : table == QLatin1String("Course")    ? "BeginTime"
                                                                                                    : "Price",
                                                              table)))
                hash.addData(row.toUtf8());
        return hash.result();
    }

private slots:
    void fillsEveryTableWithinTheSchemasChecks()
    {
        QString error;
        const gen::Counts made = gen::generate(path("a.mdb"), scale, 7, QString(), &error);
        QCOMPARE(error, QString());
        QCOMPARE(made.scores, 720LL);
        QCOMPARE(count(path("a.mdb"), "StudentInfo"), QStringLiteral("120"));
        QCOMPARE(count(path("a.mdb"), "Score"), QStringLiteral("720"));
        for (const QString table : {"Dorm", "Price", "Practice", "Moral", "Course"})
            QCOMPARE(count(path("a.mdb"), table), QStringLiteral("120"));
        for (const QString table : {"TeacherInfo", "GradeInfo", "ClassInfo", "SubjectInfo", "DormInfo"})
            QVERIFY2(count(path("a.mdb"), table).toInt() > 0, qPrintable(table));
        QCOMPARE(count(path("a.mdb"), "User"), QStringLiteral("1"));  // the first account stays
        // Every score names a stored student, subject and class, with the subject's credit.
        QCOMPARE(querySql(path("a.mdb"), "SELECT count(*) FROM Score S JOIN StudentInfo A USING (StudentID) "
                                        "JOIN SubjectInfo B ON B.SubjectID = S.SubjectID AND B.CreditHour = S.CreditHour "
                                        "JOIN ClassInfo C ON C.ClassID = S.ClassID"),
                 QStringList{"720"});
        QCOMPARE(querySql(path("a.mdb"), "SELECT count(*) FROM StudentInfo WHERE StuName GLOB '*[a-z0-9]*' OR length(StuName) < 2"),
                 QStringList{"0"});
    }

    void sameSeedSameRows()
    {
        QString error;
        gen::generate(path("b.mdb"), scale, 7, QString(), &error);
        gen::generate(path("c.mdb"), scale, 7, QString(), &error);
        gen::generate(path("d.mdb"), scale, 8, QString(), &error);
        QCOMPARE(error, QString());
        QCOMPARE(digest(path("b.mdb")), digest(path("c.mdb")));
        QVERIFY(digest(path("b.mdb")) != digest(path("d.mdb")));
    }

    void recordTablesWithAndWithoutAKeyColumn()
    {
        // The schema gives the record tables a row key; files of the earlier
        // shape have none. Both are filled alike.
        QFile schema(testsupport::schemaFile());
        QVERIFY(schema.open(QIODevice::ReadOnly));
        const QString keyedText = QString::fromUtf8(schema.readAll());
        // The earlier shape has no change log either.
        QString text = keyedText;
        const qsizetype log = text.indexOf(QStringLiteral("-- Version 2:"));
        QVERIFY(log > 0);
        text.remove(log, text.indexOf(QStringLiteral("-- End of version 2.")) - log);
        for (const QString table : {"Score", "Practice", "Moral", "Price", "Dorm", "Course"}) {
            const QRegularExpression key(QStringLiteral("(CREATE TABLE %1 \\(\n)\\s*Id\\s+INTEGER PRIMARY KEY,\n").arg(table));
            QVERIFY2(text.contains(key), qPrintable(table));
            text.replace(key, QStringLiteral("\\1"));
        }
        QFile unkeyed(path("unkeyed.sql"));
        QVERIFY(unkeyed.open(QIODevice::WriteOnly));
        unkeyed.write(text.toUtf8());
        unkeyed.close();
        QString error;
        gen::generate(path("u.mdb"), scale, 7, unkeyed.fileName(), &error);
        QCOMPARE(error, QString());
        QCOMPARE(querySql(path("u.mdb"), "SELECT count(*) FROM Score").value(0), QStringLiteral("720"));
        gen::generate(path("e.mdb"), scale, 7, QString(), &error);
        QCOMPARE(error, QString());
        QCOMPARE(querySql(path("e.mdb"), "SELECT count(*), max(Id) FROM Score").value(0), QStringLiteral("720"));
        QCOMPARE(querySql(path("e.mdb"), "SELECT max(Id) FROM Course"), QStringList{"120"});
        // Generated rows are the file's content: not in its change log, whose triggers stay.
        QCOMPARE(querySql(path("e.mdb"), "SELECT count(*) FROM ChangeLog"), QStringList{"0"});
        QCOMPARE(querySql(path("e.mdb"), "SELECT count(*) FROM sqlite_master WHERE type = 'trigger'"), QStringList{"102"});
    }

    void refusesAFileWithStudents()
    {
        testsupport::createDatabase(path("f.mdb"));
        testsupport::execSql(path("f.mdb"), "INSERT INTO StudentInfo (StudentID) VALUES ('1')");
        QString error;
        gen::generate(path("f.mdb"), scale, 7, QString(), &error);
        QVERIFY(error.contains(QLatin1String("students already")));
        QCOMPARE(count(path("f.mdb"), "StudentInfo"), QStringLiteral("1"));
        QCOMPARE(count(path("f.mdb"), "GradeInfo"), QStringLiteral("0"));
    }
};

QTEST_GUILESS_MAIN(GeneratorTest)
#include "tst_generator.moc"
