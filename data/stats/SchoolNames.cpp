#include "data/stats/SchoolNames.h"

namespace stats {

SchoolNames ReadSchoolNames(ReadConnection &connection)
{
    SchoolNames n;
    {
        Rows rows(connection, QStringLiteral("SELECT GradeID, GrdName FROM GradeInfo"));
        while (rows.next())
            n.collegeName.insert(rows.text(0), rows.text(1));
    }
    {
        Rows rows(connection, QStringLiteral("SELECT ClassID, ClaName, GradeID FROM ClassInfo"));
        while (rows.next()) {
            const QString id = rows.text(0);
            n.className.insert(id, rows.text(1));
            n.classCollege.insert(id, rows.isNull(2) ? QString() : rows.text(2));
        }
    }
    {
        Rows rows(connection, QStringLiteral("SELECT SubjectID, SubName, CreditHour FROM SubjectInfo"));
        while (rows.next()) {
            const QString id = rows.text(0);
            n.subjectName.insert(id, rows.text(1));
            if (!rows.isNull(2))
                n.subjectCredit.insert(id, rows.real(2));
        }
    }
    return n;
}

QString NameOrNote(const QHash<QString, QString> &names, const QString &id)
{
    if (id.isEmpty())
        return QStringLiteral("未注明");
    const auto found = names.constFind(id);
    if (found == names.constEnd())
        return QStringLiteral("编号 %1 不存在").arg(id);
    return *found;
}

}
