#pragma once
// The names the statistics show beside identifiers: colleges, classes (with
// their college) and subjects (with their credit), read once per computation.
#include "data/stats/WorkerRead.h"

#include <QHash>
#include <QString>
#include <optional>

namespace stats {

struct SchoolNames
{
    QHash<QString, QString> collegeName;     // GradeID -> GrdName
    QHash<QString, QString> className;       // ClassID -> ClaName
    QHash<QString, QString> classCollege;    // ClassID -> GradeID (null when none)
    QHash<QString, QString> subjectName;     // SubjectID -> SubName
    QHash<QString, double> subjectCredit;    // SubjectID -> CreditHour, where it has one

    // The college of a class; a null text when the class is unknown or has none.
    QString collegeOf(const QString &classId) const { return classCollege.value(classId); }
};

SchoolNames ReadSchoolNames(ReadConnection &connection);

// The label of a group key: its name, or a note when the rows name nothing
// ("未注明") or a number that no master row has ("编号 X 不存在").
QString NameOrNote(const QHash<QString, QString> &names, const QString &id);

}
