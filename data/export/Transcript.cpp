#include "data/export/Transcript.h"

#include "data/Dravon.h"

#include <QSet>
#include <cmath>

namespace exporting {

namespace {

std::optional<double> number(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return std::nullopt;
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

}

Transcript LoadTranscript(dravon::Connection &connection, const QString &studentId)
{
    const QString id = dravon::QuotedStr(studentId);
    Transcript t;
    {
        auto student = SQLDataSet(
            QStringLiteral("Select s.StudentID As StudentID, s.StuName As StuName, s.ClassID As ClassID, "
                           "c.ClaName As ClaName, g.GrdName As GrdName From StudentInfo s "
                           "Left Join ClassInfo c On c.ClassID = s.ClassID "
                           "Left Join GradeInfo g On g.GradeID = c.GradeID Where s.StudentID = %1")
                .arg(id),
            connection);
        if (student->isEmpty())
            throw dravon::Error(QStringLiteral("找不到学号为 \"%1\" 的学生。").arg(studentId));
        t.studentId = student->fieldText(QStringLiteral("StudentID"));
        t.studentName = student->fieldText(QStringLiteral("StuName"));
        t.classId = student->fieldText(QStringLiteral("ClassID"));
        t.className = student->fieldText(QStringLiteral("ClaName"));
        t.collegeName = student->fieldText(QStringLiteral("GrdName"));
    }
    // Rows without a term come last; within a term, by date and subject.
    auto scores = SQLDataSet(
        QStringLiteral("Select Coalesce(s.Term, '') As Term, s.SubjectID As SubjectID, j.SubName As SubName, "
                       "s.ScoreDateTime As ScoreDateTime, s.Score As Score, "
                       "Coalesce(s.CreditHour, j.CreditHour) As CreditHour From Score s "
                       "Left Join SubjectInfo j On j.SubjectID = s.SubjectID Where s.StudentID = %1 "
                       "Order By (Coalesce(s.Term, '') = ''), s.Term, (s.ScoreDateTime Is Null), s.ScoreDateTime, "
                       "s.SubjectID")
            .arg(id),
        connection);
    const int term = scores->fieldIndex(QStringLiteral("Term"));
    const int subject = scores->fieldIndex(QStringLiteral("SubjectID"));
    const int name = scores->fieldIndex(QStringLiteral("SubName"));
    const int date = scores->fieldIndex(QStringLiteral("ScoreDateTime"));
    scores->waitForCount();
    for (int r = 0; r < scores->recordCount(); ++r) {
        scores->moveTo(r);
        const QString termText = scores->text(r, term).trimmed();
        if (t.terms.isEmpty() || t.terms.last().term != termText)
            t.terms.append({termText, {}, 0});
        TranscriptLine line;
        line.subjectId = scores->text(r, subject);
        line.subjectName = scores->text(r, name);
        line.date = scores->text(r, date);
        line.mark = number(scores->fieldValue(QStringLiteral("Score")));
        line.credit = number(scores->fieldValue(QStringLiteral("CreditHour")));
        t.terms.last().lines.append(line);
    }
    ComputeTranscriptTotals(t);
    return t;
}

void ComputeTranscriptTotals(Transcript &t)
{
    QSet<QString> earnedSubjects;
    double weighted = 0;
    double weights = 0;
    t.creditsEarned = 0;
    for (TranscriptTerm &term : t.terms) {
        term.creditsEarned = 0;
        for (TranscriptLine &line : term.lines) {
            line.earned = false;
            if (line.mark && line.credit && *line.credit > 0) {
                weighted += *line.mark * *line.credit;
                weights += *line.credit;
            }
            if (line.mark && *line.mark >= transcriptPassMark
                && (line.subjectId.isEmpty() || !earnedSubjects.contains(line.subjectId))) {
                if (!line.subjectId.isEmpty())
                    earnedSubjects.insert(line.subjectId);
                line.earned = true;
                const double credit = line.credit.value_or(0);
                term.creditsEarned += credit;
                t.creditsEarned += credit;
            }
        }
    }
    if (weights > 0)
        t.weightedAverage = weighted / weights;
    else
        t.weightedAverage.reset();
}

QString FormatTranscriptNumber(double value)
{
    QString text = QString::number(value, 'f', 2);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString TranscriptTermLabel(const QString &term)
{
    return term.isEmpty() ? QStringLiteral("未注明学期") : term;
}

}
