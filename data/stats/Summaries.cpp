#include "data/stats/Summaries.h"

#include "data/stats/IdOrder.h"
#include "data/stats/MarkFigures.h"
#include "data/stats/SchoolNames.h"

#include <QMap>
#include <algorithm>

namespace stats {

namespace {

using dravon::FieldType;

const QStringList standardFeeItems = {QStringLiteral("学费"), QStringLiteral("书本费"), QStringLiteral("工本费"),
                                      QStringLiteral("其他费用")};

// Binds texts to ?1, ?2, ... in order.
void bindAll(Rows &rows, const QStringList &binds)
{
    for (int i = 0; i < binds.size(); ++i)
        rows.bind(i + 1, binds[i]);
}

QString where(const QStringList &parts)
{
    return parts.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}

// An identifier shown as it is, "-" when empty, sorted by its number.
void setId(ResultRow &row, int column, const QString &id)
{
    ResultTable::setTextWithKey(row, column, id.isEmpty() ? QStringLiteral("-") : id,
                                id.isEmpty() ? QVariant() : QVariant(id));
}

void sortByIds(ResultTable &table, std::initializer_list<int> columns)
{
    // Stable sorts from the last key to the first give the order of all keys.
    std::vector<int> keys(columns);
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
        table.sortBy(*it, Qt::AscendingOrder);
}

// Students of StudentInfo as the lists show them.
ResultTable studentList(ReadConnection &connection, const SchoolNames &names, const QString &condition,
                        const QStringList &binds, bool withSex)
{
    QVector<ResultColumn> columns = {{QStringLiteral("学号"), FieldType::Text}, {QStringLiteral("姓名"), FieldType::Text}};
    if (withSex)
        columns.append({QStringLiteral("性别"), FieldType::Text});
    columns.append({QStringLiteral("班级编号"), FieldType::Text});
    columns.append({QStringLiteral("班级名称"), FieldType::Text});
    ResultTable table(columns);
    Rows rows(connection, QStringLiteral("SELECT s.StudentID, s.StuName, s.StuSex, s.ClassID FROM StudentInfo s%1")
                              .arg(condition.isEmpty() ? QString() : QStringLiteral(" WHERE ") + condition));
    bindAll(rows, binds);
    while (rows.next()) {
        ResultRow &row = table.addRow();
        int c = 0;
        ResultTable::setTextWithKey(row, c++, rows.text(0), rows.text(0));
        ResultTable::setText(row, c++, rows.text(1));
        if (withSex)
            ResultTable::setText(row, c++, rows.text(2));
        const QString classId = rows.text(3);
        setId(row, c++, classId);
        ResultTable::setText(row, c++, classId.isEmpty() ? QString() : NameOrNote(names.className, classId));
    }
    sortByIds(table, {0});
    return table;
}

}

QStringList FeeItems(ReadConnection &connection)
{
    QStringList items = standardFeeItems;
    Rows rows(connection, QStringLiteral("SELECT DISTINCT PriceName FROM Price WHERE PriceName IS NOT NULL AND PriceName <> ''"));
    QStringList others;
    while (rows.next()) {
        const QString name = rows.text(0);
        if (!items.contains(name))
            others << name;
    }
    std::sort(others.begin(), others.end());
    return items + others;
}

ResultTable FeeSummary(ReadConnection &connection, const FeeFilter &filter)
{
    const SchoolNames names = ReadSchoolNames(connection);
    QStringList parts;
    QStringList binds;
    if (filter.classId) {
        binds << *filter.classId;
        parts << QStringLiteral("ClassID = ?%1").arg(binds.size());
    }
    if (filter.item) {
        binds << *filter.item;
        parts << QStringLiteral("PriceName = ?%1").arg(binds.size());
    }
    Rows rows(connection, QStringLiteral("SELECT ClassID, PriceName, count(DISTINCT CASE WHEN Price > 0 THEN StudentID END), total(Price), "
                                         "count(Price) "
                                         "FROM Price%1 GROUP BY ClassID, PriceName")
                              .arg(where(parts)));
    bindAll(rows, binds);
    ResultTable table({{QStringLiteral("班级编号"), FieldType::Text},
                       {QStringLiteral("班级名称"), FieldType::Text},
                       {QStringLiteral("缴费项目"), FieldType::Text},
                       {QStringLiteral("人数"), FieldType::Integer},
                       {QStringLiteral("金额合计"), FieldType::Real, NumberFormat::TwoDecimals},
                       {QStringLiteral("平均"), FieldType::Real, NumberFormat::TwoDecimals}});
    while (rows.next()) {
        ResultRow &row = table.addRow();
        const QString classId = rows.text(0);
        setId(row, 0, classId);
        ResultTable::setText(row, 1, NameOrNote(names.className, classId));
        ResultTable::setText(row, 2, rows.isNull(1) || rows.text(1).isEmpty() ? QStringLiteral("未注明") : rows.text(1));
        const qint64 students = rows.int64(2);
        const double sum = rows.real(3);
        ResultTable::setNumber(row, 3, double(students));
        if (rows.int64(4) > 0)
            ResultTable::setNumber(row, 4, sum);
        if (students > 0 && rows.int64(4) > 0)
            ResultTable::setNumber(row, 5, sum / double(students));
    }
    sortByIds(table, {0, 2});
    return table;
}

ResultTable UnpaidStudents(ReadConnection &connection, const FeeFilter &filter)
{
    const SchoolNames names = ReadSchoolNames(connection);
    QStringList binds;
    QString paid = QStringLiteral("NOT EXISTS (SELECT 1 FROM Price p WHERE p.StudentID = s.StudentID AND p.Price > 0");
    if (filter.item) {
        binds << *filter.item;
        paid += QStringLiteral(" AND p.PriceName = ?%1").arg(binds.size());
    }
    paid += QLatin1Char(')');
    QStringList parts{paid};
    if (filter.classId) {
        binds << *filter.classId;
        parts << QStringLiteral("s.ClassID = ?%1").arg(binds.size());
    }
    return studentList(connection, names, parts.join(QStringLiteral(" AND ")), binds, false);
}

ResultTable DormSummary(ReadConnection &connection)
{
    const SchoolNames names = ReadSchoolNames(connection);
    struct Dorm
    {
        QString name;
        bool known = false;
        qint64 students = 0, men = 0, women = 0;
        QStringList classes;
    };
    QMap<QString, Dorm> dorms;
    {
        Rows rows(connection, QStringLiteral("SELECT DormID, DormName FROM DormInfo"));
        while (rows.next())
            dorms[rows.text(0)] = {rows.text(1), true, 0, 0, 0, {}};
    }
    {
        Rows rows(connection,
                  QStringLiteral("SELECT DormID, count(DISTINCT StudentID), "
                                 "count(DISTINCT CASE WHEN StuSex = '男' THEN StudentID END), "
                                 "count(DISTINCT CASE WHEN StuSex = '女' THEN StudentID END), "
                                 "group_concat(DISTINCT ClassID) FROM Dorm GROUP BY DormID"));
        while (rows.next()) {
            Dorm &d = dorms[rows.isNull(0) ? QString() : rows.text(0)];
            d.students = rows.int64(1);
            d.men = rows.int64(2);
            d.women = rows.int64(3);
            for (const QString &classId : rows.text(4).split(QLatin1Char(','), Qt::SkipEmptyParts))
                d.classes << classId;
        }
    }
    ResultTable table({{QStringLiteral("宿舍编号"), FieldType::Text},
                       {QStringLiteral("宿舍名称"), FieldType::Text},
                       {QStringLiteral("人数"), FieldType::Integer},
                       {QStringLiteral("男"), FieldType::Integer},
                       {QStringLiteral("女"), FieldType::Integer},
                       {QStringLiteral("班级"), FieldType::Text}});
    for (auto it = dorms.begin(); it != dorms.end(); ++it) {
        Dorm &d = it.value();
        ResultRow &row = table.addRow();
        setId(row, 0, it.key());
        ResultTable::setText(row, 1, d.known ? d.name : NameOrNote({}, it.key()));
        ResultTable::setNumber(row, 2, double(d.students));
        ResultTable::setNumber(row, 3, double(d.men));
        ResultTable::setNumber(row, 4, double(d.women));
        std::sort(d.classes.begin(), d.classes.end(), &idLess);
        QStringList shown;
        for (const QString &classId : d.classes)
            shown << NameOrNote(names.className, classId);
        ResultTable::setText(row, 5, shown.join(QStringLiteral("、")));
    }
    sortByIds(table, {0});
    return table;
}

ResultTable StudentsWithoutDorm(ReadConnection &connection)
{
    const SchoolNames names = ReadSchoolNames(connection);
    return studentList(connection, names,
                       QStringLiteral("NOT EXISTS (SELECT 1 FROM Dorm d WHERE d.StudentID = s.StudentID)"), {}, true);
}

QString HeadcountGroupingName(HeadcountGrouping grouping)
{
    switch (grouping) {
    case HeadcountGrouping::College:
        return QStringLiteral("学院");
    case HeadcountGrouping::Class:
        return QStringLiteral("班级");
    case HeadcountGrouping::Sex:
        return QStringLiteral("性别");
    case HeadcountGrouping::EntryYear:
        return QStringLiteral("入学年份");
    }
    return {};
}

ResultTable StudentHeadcount(ReadConnection &connection, HeadcountGrouping grouping)
{
    const SchoolNames names = ReadSchoolNames(connection);
    QString key;
    QVector<ResultColumn> columns;
    switch (grouping) {
    case HeadcountGrouping::College:
    case HeadcountGrouping::Class:
        key = QStringLiteral("ClassID");
        break;
    case HeadcountGrouping::Sex:
        key = QStringLiteral("StuSex");
        break;
    case HeadcountGrouping::EntryYear:
        key = QStringLiteral("substr(InSchoolDate, 1, 4)");
        break;
    }
    struct Count
    {
        qint64 students = 0, men = 0, women = 0;
    };
    QMap<QString, Count> counts;
    Rows rows(connection, QStringLiteral("SELECT %1, count(*), total(StuSex = '男'), total(StuSex = '女') "
                                         "FROM StudentInfo GROUP BY 1")
                              .arg(key));
    while (rows.next()) {
        QString group = rows.isNull(0) ? QString() : rows.text(0).trimmed();
        if (grouping == HeadcountGrouping::College)
            group = names.collegeOf(group);
        Count &c = counts[group];
        c.students += rows.int64(1);
        c.men += qint64(rows.real(2));
        c.women += qint64(rows.real(3));
    }
    switch (grouping) {
    case HeadcountGrouping::College:
        columns = {{QStringLiteral("学院编号"), FieldType::Text}, {QStringLiteral("学院名称"), FieldType::Text}};
        break;
    case HeadcountGrouping::Class:
        columns = {{QStringLiteral("班级编号"), FieldType::Text}, {QStringLiteral("班级名称"), FieldType::Text},
                   {QStringLiteral("学院名称"), FieldType::Text}};
        break;
    case HeadcountGrouping::Sex:
        columns = {{QStringLiteral("性别"), FieldType::Text}};
        break;
    case HeadcountGrouping::EntryYear:
        columns = {{QStringLiteral("入学年份"), FieldType::Text}};
        break;
    }
    const int first = int(columns.size());
    columns.append({QStringLiteral("人数"), FieldType::Integer});
    columns.append({QStringLiteral("男"), FieldType::Integer});
    columns.append({QStringLiteral("女"), FieldType::Integer});
    ResultTable table(columns);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        ResultRow &row = table.addRow();
        const QString &group = it.key();
        switch (grouping) {
        case HeadcountGrouping::College:
            setId(row, 0, group);
            ResultTable::setText(row, 1, NameOrNote(names.collegeName, group));
            break;
        case HeadcountGrouping::Class: {
            setId(row, 0, group);
            ResultTable::setText(row, 1, NameOrNote(names.className, group));
            const QString college = names.collegeOf(group);
            ResultTable::setText(row, 2, college.isEmpty() ? QString() : NameOrNote(names.collegeName, college));
            break;
        }
        case HeadcountGrouping::Sex:
        case HeadcountGrouping::EntryYear:
            ResultTable::setTextWithKey(row, 0, group.isEmpty() ? QStringLiteral("未注明") : group,
                                        group.isEmpty() ? QVariant() : QVariant(group));
            break;
        }
        ResultTable::setNumber(row, first, double(it->students));
        ResultTable::setNumber(row, first + 1, double(it->men));
        ResultTable::setNumber(row, first + 2, double(it->women));
    }
    sortByIds(table, {0});
    return table;
}

}
