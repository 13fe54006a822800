#include "data/stats/Rankings.h"

#include "data/Dravon.h"
#include "data/TermOrder.h"
#include "data/stats/IdOrder.h"
#include "data/stats/KeyIndex.h"
#include "data/stats/SchoolNames.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <tuple>

namespace stats {

namespace {

// Where a mark stands among a student's marks: term (in term order), date, row.
struct MarkOrder
{
    int term = 0;
    int date = INT_MAX;  // yyyymmdd; no date last
    qint64 id = 0;
};

struct TotalsContext
{
    Thresholds thresholds;
    GpaFormula gpa = GpaFormula::FourPoint;
    std::function<bool(int, int)> termBefore;  // term a before term b

    bool before(const MarkOrder &a, const MarkOrder &b) const
    {
        if (a.term != b.term)
            return termBefore(a.term, b.term);
        return std::tie(a.date, a.id) < std::tie(b.date, b.id);
    }
};

// One student's marks taken one at a time, in any order.
class TotalsAccumulator
{
public:
    void add(const TotalsContext &context, int subject, double mark, std::optional<double> credit,
             const MarkOrder &order)
    {
        ++m_marks;
        m_total += mark;
        if (credit && *credit > 0) {
            m_weighted += mark * *credit;
            m_credits += *credit;
            m_points += GradePoint(mark, context.gpa) * *credit;
        }
        if (mark >= context.thresholds.pass) {
            if (subject < 0) {
                m_looseCredits += credit.value_or(0);
                return;
            }
            for (Earned &e : m_earned) {
                if (e.subject != subject)
                    continue;
                if (context.before(order, e.order))
                    e = {subject, order, credit.value_or(0)};
                return;
            }
            m_earned.push_back({subject, order, credit.value_or(0)});
        } else if (subject < 0) {
            ++m_looseFailed;
        } else if (std::find(m_failed.begin(), m_failed.end(), subject) == m_failed.end()) {
            m_failed.push_back(subject);
        }
    }

    StudentTotals totals() const
    {
        StudentTotals t;
        t.marks = m_marks;
        if (m_marks > 0) {
            t.total = m_total;
            t.average = m_total / m_marks;
        }
        if (m_credits > 0) {
            t.weightedAverage = m_weighted / m_credits;
            t.gradePoint = m_points / m_credits;
        }
        t.creditsEarned = m_looseCredits;
        for (const Earned &e : m_earned)
            t.creditsEarned += e.credit;
        t.failedSubjects = m_looseFailed + int(m_failed.size());
        return t;
    }

private:
    struct Earned
    {
        int subject;
        MarkOrder order;
        double credit;
    };
    int m_marks = 0;
    double m_total = 0;
    double m_weighted = 0;
    double m_credits = 0;
    double m_points = 0;
    double m_looseCredits = 0;
    int m_looseFailed = 0;
    std::vector<Earned> m_earned;
    std::vector<int> m_failed;
};

// "yyyy-MM-dd" as yyyymmdd; anything else sorts last.
int dateNumber(std::string_view iso)
{
    if (iso.size() != 10 || iso[4] != '-' || iso[7] != '-')
        return INT_MAX;
    int n = 0;
    for (const std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (iso[i] < '0' || iso[i] > '9')
            return INT_MAX;
        n = n * 10 + (iso[i] - '0');
    }
    return n;
}

}

QString RankScopeName(RankScope scope)
{
    switch (scope) {
    case RankScope::Class:
        return QStringLiteral("班级");
    case RankScope::College:
        return QStringLiteral("学院");
    case RankScope::School:
        return QStringLiteral("全校");
    }
    return {};
}

QString RankMeasureName(RankMeasure measure)
{
    switch (measure) {
    case RankMeasure::Total:
        return QStringLiteral("总分");
    case RankMeasure::Average:
        return QStringLiteral("平均分");
    case RankMeasure::WeightedAverage:
        return QStringLiteral("学分加权平均分");
    case RankMeasure::GradePoint:
        return QStringLiteral("绩点");
    }
    return {};
}

StudentTotals TotalsOf(const QList<RankedMark> &marks, const StatsSettings &settings)
{
    TotalsContext context{settings.thresholds, settings.gpa, [](int a, int b) { return a < b; }};
    KeyIndex subjects;
    TotalsAccumulator acc;
    for (int i = 0; i < marks.size(); ++i) {
        const RankedMark &m = marks[i];
        const int subject = m.subjectId.isEmpty() ? -1 : subjects.index(m.subjectId);
        acc.add(context, subject, m.mark, m.credit, {0, 0, i});
    }
    return acc.totals();
}

std::optional<double> MeasureOf(const StudentTotals &totals, RankMeasure measure)
{
    switch (measure) {
    case RankMeasure::Total:
        return totals.total;
    case RankMeasure::Average:
        return totals.average;
    case RankMeasure::WeightedAverage:
        return totals.weightedAverage;
    case RankMeasure::GradePoint:
        return totals.gradePoint;
    }
    return std::nullopt;
}

QString RankingColumns()
{
    return QStringLiteral("Id, StudentID, SubjectID, Term, ScoreDateTime, Score, CreditHour");
}

namespace {

// The students' condition of a request over StudentInfo's columns.
ScanCondition studentCondition(const RankingRequest &request, int firstParameter)
{
    ScanCondition c;
    if (request.scope == RankScope::Class && request.classId) {
        c.sql = QStringLiteral("ClassID = ?%1").arg(firstParameter);
        c.binds << *request.classId;
    } else if (request.scope != RankScope::School && request.collegeId) {
        c.sql = QStringLiteral("ClassID IN (SELECT ClassID FROM ClassInfo WHERE GradeID = ?%1)").arg(firstParameter);
        c.binds << *request.collegeId;
    }
    return c;
}

}

ScanCondition RankingCondition(const RankingRequest &request, int firstParameter)
{
    ScanCondition c;
    QStringList parts;
    if (request.term) {
        parts << QStringLiteral("Term = ?%1").arg(firstParameter);
        c.binds << *request.term;
    }
    const ScanCondition students = studentCondition(request, firstParameter + int(c.binds.size()));
    if (!students.sql.isEmpty()) {
        parts << QStringLiteral("StudentID IN (SELECT StudentID FROM StudentInfo WHERE %1)").arg(students.sql);
        c.binds << students.binds;
        c.rowKeyOrder = false;  // the students' marks by the index on StudentID
    }
    c.sql = parts.isEmpty() ? QStringLiteral("1 = 1") : parts.join(QStringLiteral(" AND "));
    return c;
}

Rankings ComputeRankings(ReadConnection &connection, const RankingRequest &request)
{
    Rankings result;
    result.request = request;
    const SchoolNames names = ReadSchoolNames(connection);

    // The students of the scope, each with a number of its own.
    KeyIndex studentIndex;
    {
        const ScanCondition c = studentCondition(request, 1);
        Rows rows(connection, QStringLiteral("SELECT StudentID, StuName, ClassID FROM StudentInfo%1")
                                  .arg(c.sql.isEmpty() ? QString() : QStringLiteral(" WHERE ") + c.sql));
        for (int i = 0; i < c.binds.size(); ++i)
            rows.bind(i + 1, c.binds[i]);
        while (rows.next()) {
            const std::string_view id = rows.bytes(0);
            if (studentIndex.find(id) >= 0)
                continue;
            studentIndex.index(id, false);
            StudentRanking s;
            s.studentId = rows.text(0);
            s.name = rows.text(1);
            s.classId = rows.text(2);
            s.className = s.classId.isEmpty() ? QString() : NameOrNote(names.className, s.classId);
            s.collegeId = names.collegeOf(s.classId);
            s.collegeName = s.collegeId.isEmpty() ? QString() : NameOrNote(names.collegeName, s.collegeId);
            result.students.append(s);
        }
    }

    KeyIndex subjects;
    std::vector<std::optional<double>> subjectCredit;
    KeyIndex terms;
    std::vector<dravon::TermKey> termKeys;
    TotalsContext context{request.settings.thresholds, request.settings.gpa, [&](int a, int b) {
                              const dravon::TermKey &x = termKeys[std::size_t(a)];
                              const dravon::TermKey &y = termKeys[std::size_t(b)];
                              return std::tie(x.year, x.place, x.text) < std::tie(y.year, y.place, y.text);
                          }};
    std::vector<TotalsAccumulator> totals(std::size_t(result.students.size()));
    std::string lastStudent;
    int lastStudentIndex = -1;

    const ScanCondition condition = RankingCondition(request);
    ScanScores(connection, RankingColumns(), condition, [&](const Rows &row) {
        if (row.isNull(5))
            return;
        // A student's marks mostly lie together.
        const std::string_view studentBytes = row.bytes(1);
        if (studentBytes != lastStudent) {
            lastStudent.assign(studentBytes);
            lastStudentIndex = studentIndex.find(studentBytes);
        }
        const int student = lastStudentIndex;
        if (student < 0)
            return;
        int subject = -1;
        if (const std::string_view s = row.bytes(2); !s.empty()) {
            subject = subjects.index(s, false);
            if (subject == int(subjectCredit.size())) {
                const auto credit = names.subjectCredit.constFind(subjects.text(subject));
                subjectCredit.push_back(credit == names.subjectCredit.constEnd() ? std::nullopt
                                                                                 : std::optional<double>(*credit));
            }
        }
        const std::string_view termBytes = row.bytes(3);
        const int term = terms.indexAfterLast(termBytes, termBytes.empty());
        if (term == int(termKeys.size()))
            termKeys.push_back(terms.isNull(term) ? dravon::TermKey{INT_MAX, INT_MAX, QString()}
                                                  : dravon::termKey(terms.text(term)));
        std::optional<double> credit;
        if (!row.isNull(6))
            credit = row.real(6);
        else if (subject >= 0)
            credit = subjectCredit[std::size_t(subject)];
        totals[std::size_t(student)].add(context, subject, row.real(5), credit,
                                         {term, dateNumber(row.bytes(4)), row.int64(0)});
    });
    connection.throwIfCancelled();

    // Ranks within each scope.
    QHash<QString, std::vector<int>> scopes;
    for (int i = 0; i < result.students.size(); ++i) {
        StudentRanking &s = result.students[i];
        s.totals = totals[std::size_t(i)].totals();
        s.scopeKey = request.scope == RankScope::Class    ? s.classId
                     : request.scope == RankScope::College ? s.collegeId
                                                           : QString();
        scopes[s.scopeKey].push_back(i);
    }
    for (const std::vector<int> &members : std::as_const(scopes)) {
        std::vector<std::optional<double>> values;
        values.reserve(members.size());
        for (const int i : members)
            values.push_back(MeasureOf(result.students[i].totals, request.measure));
        const std::vector<int> ranks = CompetitionRanks(values);
        for (std::size_t k = 0; k < members.size(); ++k)
            result.students[members[k]].rank = ranks[k];
    }

    std::stable_sort(result.students.begin(), result.students.end(),
                     [](const StudentRanking &a, const StudentRanking &b) {
                         if (a.scopeKey != b.scopeKey)
                             return idLess(a.scopeKey, b.scopeKey);
                         if ((a.rank > 0) != (b.rank > 0))
                             return a.rank > 0;
                         if (a.rank != b.rank)
                             return a.rank < b.rank;
                         return idLess(a.studentId, b.studentId);
                     });
    return result;
}

ResultTable RankingTable(const Rankings &rankings)
{
    using dravon::FieldType;
    const NumberFormat whole = NumberFormat::Whole, one = NumberFormat::OneDecimal;
    ResultTable table({{QStringLiteral("名次"), FieldType::Integer, whole},
                       {QStringLiteral("学号"), FieldType::Text},
                       {QStringLiteral("姓名"), FieldType::Text},
                       {QStringLiteral("班级"), FieldType::Text},
                       {QStringLiteral("学院"), FieldType::Text},
                       {QStringLiteral("成绩数"), FieldType::Integer, whole},
                       {QStringLiteral("总分"), FieldType::Real, one},
                       {QStringLiteral("平均分"), FieldType::Real, one},
                       {QStringLiteral("学分加权平均分"), FieldType::Real, one},
                       {QStringLiteral("绩点"), FieldType::Real, NumberFormat::TwoDecimals},
                       {QStringLiteral("已获学分"), FieldType::Real, one},
                       {QStringLiteral("不及格门数"), FieldType::Integer, whole}});
    table.rows().reserve(rankings.students.size());
    for (int i = 0; i < rankings.students.size(); ++i) {
        const StudentRanking &s = rankings.students[i];
        ResultRow &row = table.addRow();
        row.tag = i;
        if (s.rank > 0)
            ResultTable::setNumber(row, 0, s.rank);
        ResultTable::setTextWithKey(row, 1, s.studentId, s.studentId);
        ResultTable::setText(row, 2, s.name);
        ResultTable::setText(row, 3, s.className);
        ResultTable::setText(row, 4, s.collegeName);
        ResultTable::setNumber(row, 5, s.totals.marks);
        auto number = [&](int column, const std::optional<double> &v) {
            if (v)
                ResultTable::setNumber(row, column, *v);
        };
        number(6, s.totals.total);
        number(7, s.totals.average);
        number(8, s.totals.weightedAverage);
        number(9, s.totals.gradePoint);
        if (s.totals.marks > 0) {
            ResultTable::setNumber(row, 10, s.totals.creditsEarned);
            ResultTable::setNumber(row, 11, s.totals.failedSubjects);
        }
    }
    return table;
}

QList<TermAverage> StudentTermAverages(dravon::Connection &connection, const QString &studentId)
{
    auto rs = SQLDataSet(QStringLiteral("Select Term As Term, Avg(Score) As Average, Count(Score) As Marks From Score "
                                        "Where StudentID = %1 And Score Is Not Null Group By Term")
                             .arg(dravon::QuotedStr(studentId)),
                         connection);
    rs->waitForCount();
    QList<TermAverage> list;
    QList<TermAverage> unnamed;
    for (int r = 0; r < rs->recordCount(); ++r) {
        rs->moveTo(r);
        TermAverage t;
        t.term = rs->fieldText(QStringLiteral("Term")).trimmed();
        t.average = rs->fieldValue(QStringLiteral("Average")).toDouble();
        t.marks = rs->fieldValue(QStringLiteral("Marks")).toInt();
        if (t.term.isEmpty()) {
            if (unnamed.isEmpty())
                unnamed.append({QStringLiteral("未注明学期"), 0, 0});
            TermAverage &u = unnamed.first();
            u.average = (u.average * u.marks + t.average * t.marks) / (u.marks + t.marks);
            u.marks += t.marks;
        } else {
            list.append(t);
        }
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const TermAverage &a, const TermAverage &b) { return dravon::termLess(a.term, b.term); });
    return list + unnamed;
}

}
