#include "data/changes/LoggedTables.h"

namespace dravon {

const QList<LoggedTable> &loggedTables()
{
    static const QList<LoggedTable> tables = {
        {"TeacherInfo", QStringLiteral("老师"), "TeacherID", {"TeacherID", "TchName", "TchSex", "TchAge", "Duty", "TchContact", "Remark"}},
        {"StudentInfo", QStringLiteral("学生"), "StudentID",
         {"StudentID", "StuName", "StuSex", "StuAge", "ClassID", "InSchoolDate", "OutSchoolDate", "StuContact", "Remark"}},
        {"GradeInfo", QStringLiteral("院系"), "GradeID", {"GradeID", "GrdName", "Remark"}},
        {"ClassInfo", QStringLiteral("班级"), "ClassID", {"ClassID", "GradeID", "ClaName", "Remark"}},
        {"SubjectInfo", QStringLiteral("科目"), "SubjectID", {"SubjectID", "SubName", "CreditHour", "Remark"}},
        {"DormInfo", QStringLiteral("宿舍"), "DormID", {"DormID", "DormName", "Remark"}},
        {"User", QStringLiteral("用户"), "UserID", {"UserID", "UserName", "UserPassword", "Remark"}},
        {"Score", QStringLiteral("成绩"), "Id", {"StudentID", "ScoreDateTime", "Term", "SubjectID", "ClassID", "Score", "CreditHour", "Remark"}},
        {"Practice", QStringLiteral("社会实践"), "Id", {"StudentID", "ClassID", "PracticeDateTime", "PracticeName", "PracticeResult", "Remark"}},
        {"Moral", QStringLiteral("品德成绩"), "Id", {"StudentID", "ClassID", "MoralID", "MoralResult", "Remark"}},
        {"Price", QStringLiteral("缴费"), "Id", {"ClassID", "PriceName", "StudentID", "Price", "Remark"}},
        {"Dorm", QStringLiteral("宿舍安排"), "Id", {"ClassID", "StudentID", "StuSex", "DormID", "Remark"}},
        {"Course", QStringLiteral("课程安排"), "Id", {"StudentID", "SubjectID", "TeacherID", "Term", "BeginTime", "EndTime", "Remark"}},
    };
    return tables;
}

const LoggedTable *loggedTable(const QString &name)
{
    for (const LoggedTable &t : loggedTables())
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

QString recordsText(const QString &table, qint64 count)
{
    const LoggedTable *t = loggedTable(table);
    return QStringLiteral("%1 条%2记录").arg(count).arg(t ? t->caption : QString());
}

QString referencedTable(const QString &table, const QString &column)
{
    for (const LoggedTable &t : loggedTables())
        if (!t.recordTable() && t.key.compare(column, Qt::CaseInsensitive) == 0)
            return t.name.compare(table, Qt::CaseInsensitive) == 0 ? QString() : t.name;
    return {};
}

bool isSecretColumn(const QString &table, const QString &column)
{
    return table.compare(QLatin1String("User"), Qt::CaseInsensitive) == 0
           && column.compare(QLatin1String("UserPassword"), Qt::CaseInsensitive) == 0;
}

}
