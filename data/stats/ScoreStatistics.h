#pragma once
// 成绩统计: the marks of Score, narrowed by term, college, class and subject,
// grouped by class, subject, class and subject, or college, and described
// group by group (MarkFigures). Empty marks are counted apart as absent.
// The rows of a group are those whose columns equal the group's keys; a mark
// that names no class (or subject) forms the group "未注明".
#include "data/stats/MarkFigures.h"
#include "data/stats/ResultTable.h"
#include "data/stats/WorkerRead.h"

#include <QList>
#include <QString>
#include <optional>

namespace stats {

// Each part narrows the marks; no value means 全部. A term names Score.Term
// exactly; the college is the class's college (ClassInfo.GradeID).
struct ScoreFilter
{
    std::optional<QString> term;
    std::optional<QString> collegeId;
    std::optional<QString> classId;
    std::optional<QString> subjectId;
};

enum class Grouping { Class, Subject, ClassSubject, College };
QString GroupingName(Grouping grouping);  // "班级", "课程", "班级 × 课程", "学院"

// The condition of the score rows the filter takes.
ScanCondition ScoreFilterCondition(const ScoreFilter &filter, int firstParameter = 2);
// The terms the marks name, in term order (第一学期 before 第二学期 before
// 第十学期); marks naming none are left out of the list.
QStringList ScoreTerms(ReadConnection &connection);

// The columns the statistics read of each score row.
QString StatisticsColumns();

struct ScoreGroup
{
    // Null when the group holds the marks that name none.
    QString classId;
    QString subjectId;
    QString collegeId;
    QString className;
    QString subjectName;
    QString collegeName;
    MarkFigures figures;
};

struct ScoreStatistics
{
    ScoreFilter filter;
    Grouping grouping = Grouping::ClassSubject;
    Thresholds thresholds;
    QList<ScoreGroup> groups;  // by class number, then subject number; groups naming none last

    qint64 marks() const;
    qint64 absent() const;
};

// Reads the marks (in short read transactions) and describes each group.
ScoreStatistics ComputeScoreStatistics(ReadConnection &connection, const ScoreFilter &filter, Grouping grouping,
                                       const Thresholds &thresholds);

// The score window's statement for the rows of one group under the filter,
// values as quoted text literals.
QString GroupScoreStatement(const ScoreFilter &filter, Grouping grouping, const ScoreGroup &group);

// The grid: the group's columns, then "人数", "缺考", "平均分", "最高分", "最低分", "标准差",
// "中位数", "及格人数", "及格率", "优秀人数", "优秀率" and the five bands.
ResultTable StatisticsTable(const ScoreStatistics &statistics);
// The names of the columns that hold a group's keys, for a grouping.
QStringList GroupColumns(Grouping grouping);
// Which group a row of StatisticsTable shows (also once sorted): its index in
// statistics.groups, -1 for no row.
int GroupOfRow(const ResultTable &table, int row);

}
