#include "data/find/QuickFind.h"

#include "data/Connection.h"
#include "data/Error.h"
#include "data/find/SqlMatch.h"
#include "data/find/TextMatch.h"

#include <sqlite3.h>

#include <algorithm>

namespace findtext {

namespace {

QVector<Person> read(sqlite3 *db, const QString &sql, const QString &query, bool number, Person::Kind kind)
{
    QVector<Person> people;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare16_v2(db, sql.utf16(), int(sql.size() * 2), &stmt, nullptr) != SQLITE_OK)
        throw dravon::Error(dravon::engineErrorText(db));
    auto bind = [&](int i, const QString &text) {
        sqlite3_bind_text16(stmt, i, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
    };
    bind(1, query);
    if (number) {
        QString end = query;
        end.back() = QChar(end.back().unicode() + 1);
        bind(2, query);
        bind(3, end);
    }
    auto text = [&](int column) {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, column)),
                                 sqlite3_column_bytes(stmt, column));
    };
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        people.append({kind, text(0), text(1), text(2)});
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE)
        throw dravon::Error(dravon::engineErrorText(db));
    return people;
}

}

QVector<Person> quickFind(dravon::Connection &connection, const QString &query, int limit)
{
    const QString text = query.trimmed();
    const Query q(text);
    if (q.isEmpty() || limit <= 0)
        return {};
    auto *db = static_cast<sqlite3 *>(connection.nativeHandle());
    registerSqlMatch(db);
    const bool number = q.isNumber();
    // A number is read from the number's index in number order; a name is
    // matched row by row by the engine.
    const QString match = QStringLiteral("%1(%2, ?1, 0)").arg(QLatin1String(sqlMatchFunction));
    const QString students =
        number ? QStringLiteral("SELECT s.StudentID, s.StuName, coalesce(c.ClaName, s.ClassID, '') FROM StudentInfo s "
                                "LEFT JOIN ClassInfo c ON c.ClassID = s.ClassID "
                                "WHERE s.StudentID >= ?2 AND s.StudentID < ?3 ORDER BY s.StudentID LIMIT %1")
                     .arg(limit)
               : QStringLiteral("SELECT s.StudentID, s.StuName, coalesce(c.ClaName, s.ClassID, '') FROM StudentInfo s "
                                "LEFT JOIN ClassInfo c ON c.ClassID = s.ClassID WHERE %1 ORDER BY s.rowid LIMIT %2")
                     .arg(match.arg(QStringLiteral("s.StuName")))
                     .arg(limit);
    const QString teachers =
        number ? QStringLiteral("SELECT TeacherID, TchName, coalesce(Duty, '') FROM TeacherInfo "
                                "WHERE TeacherID >= ?2 AND TeacherID < ?3 ORDER BY TeacherID LIMIT %1")
                     .arg(limit)
               : QStringLiteral("SELECT TeacherID, TchName, coalesce(Duty, '') FROM TeacherInfo WHERE %1 "
                                "ORDER BY rowid LIMIT %2")
                     .arg(match.arg(QStringLiteral("TchName")))
                     .arg(limit);
    QVector<Person> found = read(db, students, text, number, Person::Kind::Student);
    const QVector<Person> staff = read(db, teachers, text, number, Person::Kind::Teacher);
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
