#include "data/QueryStatement.h"

#include "data/Dravon.h"

namespace dravon {

QString NumberOfEntry(const QString &entry)
{
    const int dot = entry.indexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : entry.left(dot);
}

QString QueryStatement(const QList<QueryItem> &items, int itemIndex, const QString &condition,
                       const QString &valueText)
{
    if (itemIndex < 0 || itemIndex >= items.size())
        return {};
    const QueryItem &item = items.at(itemIndex);
    QString value;
    switch (item.kind) {
    case QueryValueKind::Number:
    case QueryValueKind::Name:
        value = valueText;
        break;
    case QueryValueKind::NumberWithName:
        value = NumberOfEntry(valueText);
        break;
    case QueryValueKind::NumberOrEntry:
        value = valueText.contains(QLatin1Char('.')) ? NumberOfEntry(valueText) : valueText;
        break;
    }
    // A name is matched anywhere within it when the condition is "Like".
    if (item.kind == QueryValueKind::Name && condition == QLatin1String("Like"))
        value = QLatin1Char('%') + valueText + QLatin1Char('%');
    return item.prefix + condition + QuotedStr(value);
}

QString CourseQueryStatement(const QString &item, const QString &value, const QDate &begin, const QDate &end)
{
    QString sql = QStringLiteral(
        "Select A.Term,A.Remark,B.SubName,C.StuName,D.TchName ,A.BeginTime ,A.EndTime "
        "From Course A  ,SubjectInfo B   ,StudentInfo C   ,TeacherInfo D   "
        "where A.SubjectID = B.SubjectID and A.StudentID = C.StudentID and A.TeacherID = D.TeacherID");
    if (item == QStringLiteral("科目编号"))
        sql += QStringLiteral(" and A.SubjectID = ") + QuotedStr(value);
    else if (item == QStringLiteral("学号"))
        sql += QStringLiteral(" and A.StudentID = ") + QuotedStr(value);
    else if (item == QStringLiteral("教师编号"))
        sql += QStringLiteral(" and A.TeacherID = ") + QuotedStr(value);
    else if (item.isEmpty() && value.isEmpty())
        sql += QStringLiteral(" and A.BeginTime between #") + formatShortDate(begin) + QStringLiteral("# and #")
               + formatShortDate(end) + QLatin1Char('#');
    return sql;
}

QStringList NumberAndNameEntries(Connection &connection, const QString &sql, const QString &numberField,
                                 const QString &nameField)
{
    QStringList entries;
    const auto rows = SQLDataSet(sql, connection);
    for (rows->first(); !rows->eof(); rows->next())
        entries << rows->fieldText(numberField) + QLatin1Char('.') + rows->fieldText(nameField);
    return entries;
}

}
