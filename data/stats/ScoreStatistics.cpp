#include "data/stats/ScoreStatistics.h"

#include "data/SqlText.h"
#include "data/TermOrder.h"
#include "data/stats/IdOrder.h"
#include "data/stats/KeyIndex.h"
#include "data/stats/SchoolNames.h"

#include <algorithm>
#include <tuple>

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
    c.sql = parts.isEmpty() ? QStringLiteral("1 = 1") : parts.join(QStringLiteral(" AND "));
    // Class and subject are indexed: the engine then picks the rows by index.
    c.rowKeyOrder = !filter.classId && !filter.subjectId && !filter.collegeId;
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
    // groupOf[class][subject]: the group's place in groups, -1 before its first mark.
    std::vector<std::vector<int>> groupOf;
    std::vector<Accumulated> groups;

    const ScanCondition condition = ScoreFilterCondition(filter);
    ScanScores(connection, StatisticsColumns(), condition, [&](const Rows &row) {
        int c = 0;
        if (byClass) {
            const std::string_view classBytes = row.bytes(0);
            c = classes.indexAfterLast(classBytes, classBytes.empty());
        }
        int s = 0;
        if (bySubject) {
            const std::string_view subjectBytes = row.bytes(1);
            s = subjects.index(subjectBytes, subjectBytes.empty());
        }
        if (std::size_t(c) >= groupOf.size())
            groupOf.resize(std::size_t(c) + 1);
        std::vector<int> &ofClass = groupOf[std::size_t(c)];
        if (std::size_t(s) >= ofClass.size())
            ofClass.resize(std::size_t(s) + 1, -1);
        int &place = ofClass[std::size_t(s)];
        if (place < 0) {
            place = int(groups.size());
            groups.push_back({c, s, {}, {}, 0});
        }
        Accumulated &g = groups[std::size_t(place)];
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

    // Each class's and subject's texts once, and its place in identifier order.
    struct Key
    {
        QString id;
        QString name;
        int order = 0;
    };
    auto keysOf = [](const KeyIndex &index, const QHash<QString, QString> &names) {
        std::vector<Key> keys(std::size_t(index.size()));
        std::vector<int> byId(keys.size());
        for (int i = 0; i < index.size(); ++i) {
            keys[std::size_t(i)].id = index.text(i);
            keys[std::size_t(i)].name = NameOrNote(names, keys[std::size_t(i)].id);
            byId[std::size_t(i)] = i;
        }
        std::sort(byId.begin(), byId.end(),
                  [&](int a, int b) { return idLess(keys[std::size_t(a)].id, keys[std::size_t(b)].id); });
        for (std::size_t rank = 0; rank < byId.size(); ++rank)
            keys[std::size_t(byId[rank])].order = int(rank);
        return keys;
    };
    const std::vector<Key> classKeys = keysOf(classes, names.className);
    const std::vector<Key> subjectKeys = keysOf(subjects, names.subjectName);

    struct Described
    {
        int first;
        int second;
        ScoreGroup group;
    };
    std::vector<Described> described;
    described.reserve(groups.size());
    for (Accumulated &g : groups) {
        connection.throwIfCancelled();
        Described d{0, 0, {}};
        ScoreGroup &out = d.group;
        if (grouping == Grouping::College) {
            out.collegeId = g.collegeId;
            out.collegeName = NameOrNote(names.collegeName, g.collegeId);
        }
        if (byClass && grouping != Grouping::College) {
            const Key &k = classKeys[std::size_t(g.classIndex)];
            out.classId = k.id;
            out.className = k.name;
            d.first = k.order;
        }
        if (bySubject) {
            const Key &k = subjectKeys[std::size_t(g.subjectIndex)];
            out.subjectId = k.id;
            out.subjectName = k.name;
            (grouping == Grouping::Subject ? d.first : d.second) = k.order;
        }
        out.figures = DescribeMarks(g.marks, g.absent, thresholds);
        std::vector<double>().swap(g.marks);
        described.push_back(std::move(d));
    }

    if (grouping == Grouping::College)
        std::stable_sort(described.begin(), described.end(),
                         [](const Described &a, const Described &b) { return idLess(a.group.collegeId, b.group.collegeId); });
    else
        std::stable_sort(described.begin(), described.end(), [](const Described &a, const Described &b) {
            return std::tie(a.first, a.second) < std::tie(b.first, b.second);
        });
    result.groups.reserve(qsizetype(described.size()));
    for (Described &d : described)
        result.groups.append(std::move(d.group));
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
    auto count = [&](const QString &name) { columns.append({name, FieldType::Integer, NumberFormat::Whole}); };
    auto mark = [&](const QString &name) { columns.append({name, FieldType::Real, NumberFormat::OneDecimal}); };
    auto rate = [&](const QString &name) { columns.append({name, FieldType::Real, NumberFormat::Rate}); };
    count(QStringLiteral("人数"));
    count(QStringLiteral("缺考"));
    for (const char *name : {"平均分", "最高分", "最低分", "标准差", "中位数"})
        mark(QString::fromUtf8(name));
    count(QStringLiteral("及格人数"));
    rate(QStringLiteral("及格率"));
    count(QStringLiteral("优秀人数"));
    rate(QStringLiteral("优秀率"));
    for (const QString &band : BandTitles())
        count(band);
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
        auto number = [&](const std::optional<double> &v) {
            if (v)
                ResultTable::setNumber(row, c, *v);
            ++c;
        };
        number(double(f.count));
        number(double(f.absent));
        for (const std::optional<double> &v : {f.mean, f.max, f.min, f.stddev, f.median})
            number(v);
        number(double(f.passed));
        number(f.passRate);
        number(double(f.excellent));
        number(f.excellentRate);
        for (const qint64 n : f.bands)
            number(double(n));
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
