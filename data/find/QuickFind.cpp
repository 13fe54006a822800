#include "data/find/QuickFind.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/ReadStatement.h"
#include "data/find/SqlMatch.h"
#include "data/find/TextMatch.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

namespace findtext {

namespace {

// Rows read at a time where names are matched here.
constexpr int namePage = 2048;

// The people a statement lists (number, name, group), with the query as ?1
// and a number's range as ?2, ?3. Without the engine's matching function (on
// the server) a name is matched here on rows read in pages of keys (?4):
// the statement then reads every row after the key, in key order, with the
// key last.
QVector<Person> read(dravon::Connection &connection, const QString &sql, const QString &query, bool number,
                     Person::Kind kind, bool matchHere, int limit)
{
    QVector<Person> people;
    const Query q(query);
    for (qint64 after = std::numeric_limits<qint64>::min();;) {
        dravon::ReadStatement s(connection, sql);
        s.bind(1, query);
        if (number) {
            QString end = query;
            end.back() = QChar(end.back().unicode() + 1);
            s.bind(2, query);
            s.bind(3, end);
        }
        s.bind(4, after);
        int read = 0;
        while (s.step()) {
            ++read;
            if (matchHere) {
                after = s.int64(3);
                if (!q.matches(s.text(1)))
                    continue;
            }
            people.append({kind, s.text(0), s.text(1), s.text(2)});
            if (people.size() >= limit)
                return people;
        }
        if (!matchHere || read < namePage)
            return people;
    }
}

}

QVector<Person> quickFind(dravon::Connection &connection, const QString &query, int limit)
{
    const QString text = query.trimmed();
    const Query q(text);
    if (q.isEmpty() || limit <= 0)
        return {};
    const bool number = q.isNumber();
    // The file's engine matches names by the program's own function; the
    // server has none, so there names are matched here.
    const bool matchHere = connection.isServer() && !number;
    if (!connection.isServer())
        registerSqlMatch(static_cast<sqlite3 *>(connection.nativeHandle()));
    // A number is read from the number's index in number order; a name is
    // matched row by row, by the engine or here.
    auto byName = [&](const QString &column, const QString &key) {
        return matchHere ? QStringLiteral("%1 > ?4").arg(key)
                         : QStringLiteral("%1(%2, ?1, 0)").arg(QLatin1String(sqlMatchFunction), column);
    };
    const int rowsRead = matchHere ? namePage : limit;
    const QString students =
        number ? QStringLiteral("SELECT s.StudentID, s.StuName, coalesce(c.ClaName, s.ClassID, '') FROM StudentInfo s "
                                "LEFT JOIN ClassInfo c ON c.ClassID = s.ClassID "
                                "WHERE s.StudentID >= ?2 AND s.StudentID < ?3 ORDER BY s.StudentID LIMIT %1")
                     .arg(limit)
               : QStringLiteral("SELECT s.StudentID, s.StuName, coalesce(c.ClaName, s.ClassID, ''), s.rowid "
                                "FROM StudentInfo s LEFT JOIN ClassInfo c ON c.ClassID = s.ClassID WHERE %1 "
                                "ORDER BY s.rowid LIMIT %2")
                     .arg(byName(QStringLiteral("s.StuName"), QStringLiteral("s.rowid")))
                     .arg(rowsRead);
    const QString teachers =
        number ? QStringLiteral("SELECT TeacherID, TchName, coalesce(Duty, '') FROM TeacherInfo "
                                "WHERE TeacherID >= ?2 AND TeacherID < ?3 ORDER BY TeacherID LIMIT %1")
                     .arg(limit)
               : QStringLiteral("SELECT TeacherID, TchName, coalesce(Duty, ''), rowid FROM TeacherInfo WHERE %1 "
                                "ORDER BY rowid LIMIT %2")
                     .arg(byName(QStringLiteral("TchName"), QStringLiteral("rowid")))
                     .arg(rowsRead);
    QVector<Person> found = read(connection, students, text, number, Person::Kind::Student, matchHere, limit);
    const QVector<Person> staff = read(connection, teachers, text, number, Person::Kind::Teacher, matchHere, limit);
    const int teacherPlaces = int(std::min<qsizetype>(staff.size(), std::max(limit / 4, limit - int(found.size()))));
    found.resize(std::min<qsizetype>(found.size(), limit - teacherPlaces));
    found += staff.mid(0, teacherPlaces);
    // Exactly the typed name or number first, else as found.
    std::stable_sort(found.begin(), found.end(), [&](const Person &a, const Person &b) {
        const bool ea = a.name == text || a.number == text;
        const bool eb = b.name == text || b.number == text;
        return ea && !eb;
    });
    return found;
}

}
