#pragma once
// A college's data, generated into an SQLite file: the same rows for the same
// scale and seed. Used by GenerateData and by the benchmark.
#include <QString>

namespace gen {

struct Scale
{
    QString name;  // empty for an unknown scale name
    long long colleges = 0;
    long long classes = 0;
    long long subjects = 0;
    long long teachers = 0;
    long long dorms = 0;
    long long students = 0;
    long long scores = 0;
    long long otherRecords = 0;  // rows in each of Dorm, Price, Practice, Moral, Course
};

// "small": 2,000 students, 100,000 scores; "large": 600 classes, 40 subjects,
// 30,000 students, 5,000,000 scores, 1,000,000 rows in each other record table.
Scale scaleByName(const QString &name);
// The older command line: a student count and scores per student.
Scale proportionalScale(long long students, long long scoresPerStudent);

struct Counts
{
    long long students = 0;
    long long scores = 0;
    long long otherRecords = 0;
    double seconds = 0;
};

// The schema file this build was made from.
QString defaultSchemaFile();

// Fills the database at path (made from the schema first when it does not
// exist; schemaFile empty means the build's own). Refuses a file that holds
// students already. On failure error is set and nothing is committed.
Counts generate(const QString &path, const Scale &scale, unsigned long long seed, const QString &schemaFile,
                QString *error);

}
