#pragma once
// 成绩排名: each student's 总分, 平均分, credit-weighted average, grade point
// average, credits earned and failed subjects over the marks of a term (or
// of all terms), ranked within a scope (班级, 学院 or 全校) by one measure,
// ties as in competitions. Students of the scope with no mark (or without
// the measure) are listed after the ranked ones, unranked.
#include "data/stats/ResultTable.h"
#include "data/stats/StatsSettings.h"
#include "data/stats/WorkerRead.h"

#include <QList>
#include <QString>
#include <optional>

namespace dravon { class Connection; }

namespace stats {

enum class RankScope { Class, College, School };
enum class RankMeasure { Total, Average, WeightedAverage, GradePoint };
QString RankScopeName(RankScope scope);        // "班级", "学院", "全校"
QString RankMeasureName(RankMeasure measure);  // "总分", "平均分", "学分加权平均分", "绩点"

struct RankingRequest
{
    std::optional<QString> term;       // no value: all terms
    RankScope scope = RankScope::Class;
    // Narrow the students to whole scopes: one college (scope 学院 or 班级)
    // and one class (scope 班级); no value: all.
    std::optional<QString> collegeId;
    std::optional<QString> classId;
    RankMeasure measure = RankMeasure::Total;
    StatsSettings settings;
};

// One examination's mark as the totals take it.
struct RankedMark
{
    QString subjectId;  // empty: a mark naming no subject counts as a subject of its own
    double mark = 0;
    std::optional<double> credit;  // the row's credit, else the subject's
};

struct StudentTotals
{
    int marks = 0;  // marks that have a value
    std::optional<double> total;
    std::optional<double> average;
    std::optional<double> weightedAverage;  // over marks with a positive credit
    std::optional<double> gradePoint;       // credit-weighted, over the same marks
    double creditsEarned = 0;  // once per subject, from its first mark at or above the pass mark
    int failedSubjects = 0;    // subjects with a mark below the pass mark
};

// The totals of one student's marks, given first to last (term order, then date).
StudentTotals TotalsOf(const QList<RankedMark> &marks, const StatsSettings &settings);

struct StudentRanking
{
    QString studentId;
    QString name;
    QString classId;
    QString className;
    QString collegeId;
    QString collegeName;
    StudentTotals totals;
    int rank = 0;  // 0: unranked
    QString scopeKey;  // the class or college number the rank is within (empty for 全校)
};

struct Rankings
{
    RankingRequest request;
    QList<StudentRanking> students;  // by scope, then rank; unranked last in each scope, by number
};

// The measure of a student's totals that the ranking uses.
std::optional<double> MeasureOf(const StudentTotals &totals, RankMeasure measure);

// The columns each score row contributes.
QString RankingColumns();
ScanCondition RankingCondition(const RankingRequest &request, int firstParameter = 2);

Rankings ComputeRankings(ReadConnection &connection, const RankingRequest &request);

// The grid: "名次", "学号", "姓名", "班级", "学院", "成绩数", "总分", "平均分",
// "学分加权平均分", "绩点", "已获学分", "不及格门数". A row's tag is its
// index in rankings.students.
ResultTable RankingTable(const Rankings &rankings);

// A student's average mark per term, terms in term order (marks naming no
// term last, as "未注明学期"), for the trend chart.
struct TermAverage
{
    QString term;
    double average = 0;
    int marks = 0;
};
QList<TermAverage> StudentTermAverages(dravon::Connection &connection, const QString &studentId);

}
