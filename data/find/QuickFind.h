#pragma once
// Quick find: the students and teachers whose number begins with the typed
// number, or whose name matches the typed text or pinyin (TextMatch.h), found
// by the engine over the whole tables.
#include <QString>
#include <QVector>

namespace dravon { class Connection; }

namespace findtext {

struct Person
{
    enum class Kind { Student, Teacher };
    Kind kind = Kind::Student;
    QString number;
    QString name;
    QString group;  // the student's class (its name, else its number); the teacher's post
};

// At most limit people: students first, teachers after them (teachers keep
// a quarter of the places when there are more students than places). Those
// whose whole name or number is the query come first. Throws dravon::Error.
QVector<Person> quickFind(dravon::Connection &connection, const QString &query, int limit = 20);

}
