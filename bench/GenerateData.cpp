// Fills a database with a college's data, the same rows for the same scale
// and seed on every run:
//   GenerateData --scale small|large [--seed N] <database>
//   GenerateData <database> [students] [scores per student]
// A database that does not exist yet is first made from the schema. Every
// table gets rows: colleges, classes, subjects with credits, teachers,
// dormitories, students with Chinese names, and the record tables Score,
// Dorm, Price, Practice, Moral and Course. All inserts name their columns, so
// a record table with an extra key column takes the same rows.
#include "bench/Generator.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char **argv)
{
    gen::Scale scale = gen::scaleByName("small");
    QString path;
    QString schema;
    quint64 seed = 20070901;
    bool named = false;
    QStringList positional;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--scale") && i + 1 < argc) {
            const QString name = QString::fromLocal8Bit(argv[++i]);
            scale = gen::scaleByName(name);
            if (scale.name.isEmpty()) {
                std::fprintf(stderr, "GenerateData: unknown scale %s (small or large)\n", qPrintable(name));
                return 2;
            }
            named = true;
        } else if (a == QLatin1String("--seed") && i + 1 < argc) {
            seed = QString::fromLocal8Bit(argv[++i]).toULongLong();
        } else if (a == QLatin1String("--schema") && i + 1 < argc) {
            schema = QString::fromLocal8Bit(argv[++i]);
        } else if (a.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "GenerateData: unknown option %s\n", qPrintable(a));
            return 2;
        } else {
            positional << a;
        }
    }
    if (positional.isEmpty() || (named && positional.size() > 1)) {
        std::fprintf(stderr,
                     "usage: %s --scale small|large [--seed N] [--schema schema.sql] <database>\n"
                     "       %s <database> [students=100000] [scores per student=10]\n",
                     argv[0], argv[0]);
        return 2;
    }
    path = positional.first();
    if (!named) {
        // The older form: a student count and scores per student; the rest in proportion.
        const long students = positional.size() > 1 ? positional[1].toLong() : 100000;
        const long perStudent = positional.size() > 2 ? positional[2].toLong() : 10;
        if (students <= 0 || perStudent < 0) {
            std::fprintf(stderr, "GenerateData: students must be positive, scores per student not negative\n");
            return 2;
        }
        scale = gen::proportionalScale(students, perStudent);
    }
    QString error;
    const gen::Counts made = gen::generate(path, scale, seed, schema, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "GenerateData: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s: %lld students, %lld scores, %lld rows in each other record table, %.1f s\n",
                qPrintable(scale.name), made.students, made.scores, made.otherRecords, made.seconds);
    return 0;
}
