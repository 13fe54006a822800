#include "data/stats/ScoreStatistics.h"

#include "data/SqlText.h"
#include "data/TermOrder.h"
#include "data/stats/IdOrder.h"
#include "data/stats/KeyIndex.h"
#include "data/stats/SchoolNames.h"

#include <algorithm>
#include <unordered_map>

namespace stats {

namespace {

struct Accumulated
{
    int classIndex = 0;
    int subjectIndex = 0;
    QString collegeId;  // for college groups
    std::vector<double> marks;
    qint64 absent = 0;
};

QString literal(const QString &value)
{
    return dravon::QuotedStr(value);
}

// "B.Col ='x'", or the rows that name none.
QString keyCondition(const QString &column, const QString &id)
{
    if (id.isEmpty())
        return QStringLiteral("(B.%1 Is Null Or B.%1 ='')").arg(column);
    return QStringLiteral("B.%1 =%2").arg(column, literal(id));
}

QString collegeCondition(const QString &collegeId)
{
    if (collegeId.isEmpty())
        return QStringLiteral("(B.ClassID Is Null Or B.ClassID Not In (Select ClassID From ClassInfo Where GradeID Is "
                              "Not Null And GradeID <> ''))");
    return QStringLiteral("B.ClassID In (Select ClassID From ClassInfo Where GradeID =%1)").arg(literal(collegeId));
}

}

QString GroupingName(Grouping grouping)
{
    switch (grouping) {
    case Grouping::Class:
        return QStringLiteral("班级");
    case Grouping::Subject:
        return QStringLiteral("课程");
    case Grouping::ClassSubject:
        return QStringLiteral("班级 × 课程");
    case Grouping::College:
        return QStringLiteral("学院");
    }
    return {};
}

ScanCondition ScoreFilterCondition(const ScoreFilter &filter, int firstParameter)
{
    QStringList parts;
    ScanCondition c;
    auto add = [&](const QString &sql, const QString &value) {
        parts << sql.arg(firstParameter + int(c.binds.size()));
        c.binds << value;
    };
    if (filter.term)
        add(QStringLiteral("Term = ?%1"), *filter.term);
    if (filter.classId)
        add(QStringLiteral("ClassID = ?%1"), *filter.classId);
    if (filter.subjectId)
        add(QStringLiteral("SubjectID = ?%1"), *filter.subjectId);
    if (filter.collegeId)
        add(QStringLiteral("ClassID IN (SELECT ClassID FROM ClassInfo WHERE GradeID = ?%1)"), *filter.collegeId);
    c.sql = parts.isEmpty() ? QStringLiteral("1") : parts.join(QStringLiteral(" AND "));
    return c;
}

QStringList ScoreTerms(ReadConnection &connection)
{
    QStringList terms;
    Rows rows(connection, QStringLiteral("SELECT DISTINCT Term FROM Score WHERE Term IS NOT NULL AND Term <> ''"));
    while (rows.next())
        terms << rows.text(0);
    dravon::sortTerms(terms);
    return terms;
}

QString StatisticsColumns()
{
    return QStringLiteral("ClassID, SubjectID, Score");
}

qint64 ScoreStatistics::marks() const
{
    qint64 n = 0;
    for (const ScoreGroup &g : groups)
        n += g.figures.count;
    return n;
}

qint64 ScoreStatistics::absent() const
{
    qint64 n = 0;
    for (const ScoreGroup &g : groups)
        n += g.figures.absent;
    return n;
}

ScoreStatistics ComputeScoreStatistics(ReadConnection &connection, const ScoreFilter &filter, Grouping grouping,
                                       const Thresholds &thresholds)
{
    ScoreStatistics result;
    result.filter = filter;
    result.grouping = grouping;
    result.thresholds = thresholds;
    const SchoolNames names = ReadSchoolNames(connection);

    const bool byClass = grouping == Grouping::Class || grouping == Grouping::ClassSubject
                         || grouping == Grouping::College;
    const bool bySubject = grouping == Grouping::Subject || grouping == Grouping::ClassSubject;
    KeyIndex classes;
    KeyIndex subjects;
    std::unordered_map<quint64, int> groupOf;
    std::vector<Accumulated> groups;

    const ScanCondition condition = ScoreFilterCondition(filter);
    ScanScores(connection, StatisticsColumns(), condition.sql, condition.binds, [&](const Rows &row) {
        const std::string_view classBytes = byClass ? row.bytes(0) : std::string_view();
        const std::string_view subjectBytes = bySubject ? row.bytes(1) : std::string_view();
        const int c = byClass ? classes.index(classBytes, classBytes.empty()) : 0;
        const int s = bySubject ? subjects.index(subjectBytes, subjectBytes.empty()) : 0;
        const quint64 key = (quint64(quint32(c)) << 32) | quint32(s);
        auto found = groupOf.find(key);
        if (found == groupOf.end()) {
            found = groupOf.emplace(key, int(groups.size())).first;
            groups.push_back({c, s, {}, {}, 0});
        }
        Accumulated &g = groups[std::size_t(found->second)];
        if (row.isNull(2))
            ++g.absent;
        else
            g.marks.push_back(row.real(2));
    });
    connection.throwIfCancelled();

    // Classes of one college come together into the college's group.
    if (grouping == Grouping::College) {
        std::vector<Accumulated> colleges;
        QHash<QString, int> collegeGroup;
        for (Accumulated &g : groups) {
            const QString college = classes.isNull(g.classIndex) ? QString() : names.collegeOf(classes.text(g.classIndex));
            const QString key = college.isEmpty() ? QString() : college;
            auto at = collegeGroup.constFind(key);
            if (at == collegeGroup.constEnd()) {
                at = collegeGroup.insert(key, int(colleges.size()));
                colleges.push_back({0, 0, key, {}, 0});
            }
            Accumulated &target = colleges[std::size_t(*at)];
            target.marks.insert(target.marks.end(), g.marks.begin(), g.marks.end());
            target.absent += g.absent;
            std::vector<double>().swap(g.marks);
        }
        groups = std::move(colleges);
    }

    for (Accumulated &g : groups) {
        connection.throwIfCancelled();
        ScoreGroup out;
        if (grouping == Grouping::College) {
            out.collegeId = g.collegeId;
            out.collegeName = NameOrNote(names.collegeName, g.collegeId);
        }
        if (byClass && grouping != Grouping::College) {
            out.classId = classes.text(g.classIndex);
            out.className = NameOrNote(names.className, out.classId);
        }
        if (bySubject) {
            out.subjectId = subjects.text(g.subjectIndex);
            out.subjectName = NameOrNote(names.subjectName, out.subjectId);
        }
        out.figures = DescribeMarks(g.marks, g.absent, thresholds);
        std::vector<double>().swap(g.marks);
        result.groups.append(out);
    }

    std::stable_sort(result.groups.begin(), result.groups.end(), [](const ScoreGroup &a, const ScoreGroup &b) {
        for (const auto &[x, y] : {std::pair{&a.collegeId, &b.collegeId}, std::pair{&a.classId, &b.classId},
                                    std::pair{&a.subjectId, &b.subjectId}}) {
            if (idLess(*x, *y))
                return true;
            if (idLess(*y, *x))
                return false;
        }
        return false;
    });
    return result;
}

QString GroupScoreStatement(const ScoreFilter &filter, Grouping grouping, const ScoreGroup &group)
{
    QStringList parts;
    if (filter.term)
        parts << QStringLiteral("B.Term =%1").arg(literal(*filter.term));
    const bool byClass = grouping == Grouping::Class || grouping == Grouping::ClassSubject;
    const bool bySubject = grouping == Grouping::Subject || grouping == Grouping::ClassSubject;
    if (byClass)
        parts << keyCondition(QStringLiteral("ClassID"), group.classId);
    else if (filter.classId)
        parts << keyCondition(QStringLiteral("ClassID"), *filter.classId);
    if (bySubject)
        parts << keyCondition(QStringLiteral("SubjectID"), group.subjectId);
    else if (filter.subjectId)
        parts << keyCondition(QStringLiteral("SubjectID"), *filter.subjectId);
    if (grouping == Grouping::College)
        parts << collegeCondition(group.collegeId);
    if (filter.collegeId && !(grouping == Grouping::College && group.collegeId == *filter.collegeId))
        parts << collegeCondition(*filter.collegeId);
    QString sql = QStringLiteral("Select B.* From Score B");
    if (!parts.isEmpty())
        sql += QStringLiteral(" where ") + parts.join(QStringLiteral(" and "));
    return sql;
}

QStringList GroupColumns(Grouping grouping)
{
    switch (grouping) {
    case Grouping::Class:
        return {QStringLiteral("班级编号"), QStringLiteral("班级名称")};
    case Grouping::Subject:
        return {QStringLiteral("课程编号"), QStringLiteral("课程名称")};
    case Grouping::ClassSubject:
        return {QStringLiteral("班级编号"), QStringLiteral("班级名称"), QStringLiteral("课程编号"),
                QStringLiteral("课程名称")};
    case Grouping::College:
        return {QStringLiteral("学院编号"), QStringLiteral("学院名称")};
    }
    return {};
}

ResultTable StatisticsTable(const ScoreStatistics &statistics)
{
    using dravon::FieldType;
    QVector<ResultColumn> columns;
    for (const QString &name : GroupColumns(statistics.grouping))
        columns.append({name, FieldType::Text});
    const QStringList figures = {QStringLiteral("人数"), QStringLiteral("缺考"), QStringLiteral("平均分"),
                                 QStringLiteral("最高分"), QStringLiteral("最低分"), QStringLiteral("标准差"),
                                 QStringLiteral("中位数"), QStringLiteral("及格人数"), QStringLiteral("及格率"),
                                 QStringLiteral("优秀人数"), QStringLiteral("优秀率")};
    for (const QString &name : figures + BandTitles())
        columns.append({name, FieldType::Real});
    ResultTable table(columns);
    const int keyColumns = int(GroupColumns(statistics.grouping).size());

    for (int i = 0; i < statistics.groups.size(); ++i) {
        const ScoreGroup &g = statistics.groups[i];
        ResultRow &row = table.addRow();
        int c = 0;
        auto key = [&](const QString &id, const QString &name) {
            ResultTable::setTextWithKey(row, c++, id.isEmpty() ? QStringLiteral("-") : id,
                                        id.isEmpty() ? QVariant() : QVariant(id));
            ResultTable::setText(row, c++, name);
        };
        switch (statistics.grouping) {
        case Grouping::Class:
            key(g.classId, g.className);
            break;
        case Grouping::Subject:
            key(g.subjectId, g.subjectName);
            break;
        case Grouping::ClassSubject:
            key(g.classId, g.className);
            key(g.subjectId, g.subjectName);
            break;
        case Grouping::College:
            key(g.collegeId, g.collegeName);
            break;
        }
        Q_ASSERT(c == keyColumns);
        const MarkFigures &f = g.figures;
        auto optional = [&](const std::optional<double> &v, QString (*text)(double)) {
            if (v)
                ResultTable::setNumber(row, c, *v, text(*v));
            ++c;
        };
        ResultTable::setCount(row, c++, f.count);
        ResultTable::setCount(row, c++, f.absent);
        optional(f.mean, &OneDecimal);
        optional(f.max, &OneDecimal);
        optional(f.min, &OneDecimal);
        optional(f.stddev, &OneDecimal);
        optional(f.median, &OneDecimal);
        ResultTable::setCount(row, c++, f.passed);
        optional(f.passRate, &RateText);
        ResultTable::setCount(row, c++, f.excellent);
        optional(f.excellentRate, &RateText);
        for (const qint64 n : f.bands)
            ResultTable::setCount(row, c++, n);
        row.tag = i;
    }
    return table;
}

int GroupOfRow(const ResultTable &table, int row)
{
    if (row < 0 || row >= table.rowCount())
        return -1;
    return table.row(row).tag;
}

}
