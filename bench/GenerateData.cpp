// Fills a database made from the schema with a large college's data:
//   GenerateData <database> [students] [scores per student]
// Colleges, classes, subjects, teachers and dormitories in proportion; every
// student gets scores, a dormitory place, a payment and a course.
#include <QFile>
#include <QString>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

namespace {

void exec(sqlite3 *db, const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::fprintf(stderr, "GenerateData: %s\n", message ? message : "failed");
        std::exit(1);
    }
}

}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <database> [students=100000] [scores per student=10]\n", argv[0]);
        return 2;
    }
    const long students = argc > 2 ? std::atol(argv[2]) : 100000;
    const long scores = argc > 3 ? std::atol(argv[3]) : 10;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(QString::fromLocal8Bit(argv[1])).constData(), &db, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "GenerateData: cannot open %s (create it from the schema first)\n", argv[1]);
        return 1;
    }
    exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;");
    QString sql = QStringLiteral(R"SQL(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < {N})
INSERT INTO StudentInfo SELECT 2007000 + i, '学生' || i, CASE i % 2 WHEN 0 THEN '男' ELSE '女' END, 18 + i % 5,
  2007000 + 1 + i % {CLASSES}, '2007-09-01', '2011-07-01', '1380000' || i, NULL FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < {CLASSES})
INSERT INTO ClassInfo SELECT 2007000 + i, 2007000 + 1 + i % 20, '班级' || i, NULL FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO GradeInfo SELECT 2007000 + i, '学院' || i, NULL FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
INSERT INTO SubjectInfo SELECT 2007000 + i, '科目' || i, 1 + i % 5, NULL FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)
INSERT INTO TeacherInfo SELECT 2007000 + i, '教师' || i, '男', 30 + i % 30, '讲师', NULL, NULL FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < {DORMS})
INSERT INTO DormInfo SELECT 2007000 + i, '宿舍' || i, NULL FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < {N} * {PER} - 1)
INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark)
SELECT 2007001 + i / {PER}, printf('%04d-%02d-15', 2008 + i % 4, 1 + i % 12), '第一学期',
  2007001 + i % 200, 2007001 + (i / {PER}) % {CLASSES}, 50 + i % 50, 1 + i % 5, NULL FROM n;
INSERT INTO Dorm (ClassID, StudentID, StuSex, DormID, Remark) SELECT ClassID, StudentID, StuSex, 2007001 + CAST(StudentID AS INTEGER) % {DORMS}, NULL FROM StudentInfo;
INSERT INTO Price (ClassID, PriceName, StudentID, Price, Remark) SELECT ClassID, '学费', StudentID, 4500, NULL FROM StudentInfo;
INSERT INTO Course (StudentID, SubjectID, TeacherID, Term, BeginTime, EndTime, Remark)
SELECT StudentID, 2007001 + CAST(StudentID AS INTEGER) % 200, 2007001 + CAST(StudentID AS INTEGER) % 500,
  '第一学期', printf('2007-%02d-15', 9 + CAST(StudentID AS INTEGER) % 4), '2008-01-15', NULL FROM StudentInfo;
COMMIT;
)SQL")
                            .replace(QStringLiteral("{N}"), QString::number(students))
                            .replace(QStringLiteral("{CLASSES}"), QString::number(qMax(1L, students / 40)))
                            .replace(QStringLiteral("{DORMS}"), QString::number(qMax(1L, students / 6)))
                            .replace(QStringLiteral("{PER}"), QString::number(scores));
    exec(db, sql.toUtf8().constData());
    sqlite3_close(db);
    std::printf("%ld students, %ld scores\n", students, students * scores);
    return 0;
}
