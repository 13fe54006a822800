#include "data/export/Transcript.h"

#include "data/Dravon.h"
#include "data/TermOrder.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <algorithm>
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
            QStringLiteral("Select s.StudentID As StudentID, s.StuName As StuName, s.StuSex As StuSex, "
                           "s.InSchoolDate As InSchoolDate, s.ClassID As ClassID, "
                           "c.ClaName As ClaName, g.GrdName As GrdName From StudentInfo s "
                           "Left Join ClassInfo c On c.ClassID = s.ClassID "
                           "Left Join GradeInfo g On g.GradeID = c.GradeID Where s.StudentID = %1")
                .arg(id),
            connection);
        if (student->isEmpty())
            throw dravon::Error(QStringLiteral("找不到学号为 \"%1\" 的学生。").arg(studentId));
        t.studentId = student->fieldText(QStringLiteral("StudentID"));
        t.studentName = student->fieldText(QStringLiteral("StuName"));
        t.sex = student->fieldText(QStringLiteral("StuSex"));
        t.inSchoolDate = student->fieldText(QStringLiteral("InSchoolDate"));
        t.classId = student->fieldText(QStringLiteral("ClassID"));
        t.className = student->fieldText(QStringLiteral("ClaName"));
        t.collegeName = student->fieldText(QStringLiteral("GrdName"));
    }
    // Within a term, by date and subject; the terms are ordered below.
    auto scores = SQLDataSet(
        QStringLiteral("Select Coalesce(s.Term, '') As Term, s.SubjectID As SubjectID, j.SubName As SubName, "
                       "s.ScoreDateTime As ScoreDateTime, s.Score As Score, "
                       "Coalesce(s.CreditHour, j.CreditHour) As CreditHour, s.Remark As Remark From Score s "
                       "Left Join SubjectInfo j On j.SubjectID = s.SubjectID Where s.StudentID = %1 "
                       "Order By (s.ScoreDateTime Is Null), s.ScoreDateTime, s.SubjectID, s.Id")
            .arg(id),
        connection);
    const int term = scores->fieldIndex(QStringLiteral("Term"));
    const int subject = scores->fieldIndex(QStringLiteral("SubjectID"));
    const int name = scores->fieldIndex(QStringLiteral("SubName"));
    const int date = scores->fieldIndex(QStringLiteral("ScoreDateTime"));
    const int remark = scores->fieldIndex(QStringLiteral("Remark"));
    scores->waitForCount();
    QHash<QString, qsizetype> termIndex;
    for (int r = 0; r < scores->recordCount(); ++r) {
        scores->moveTo(r);
        const QString termText = scores->text(r, term).trimmed();
        auto found = termIndex.constFind(termText);
        if (found == termIndex.cend()) {
            found = termIndex.insert(termText, t.terms.size());
            t.terms.append({termText, {}, 0});
        }
        TranscriptLine line;
        line.subjectId = scores->text(r, subject);
        line.subjectName = scores->text(r, name);
        line.date = scores->text(r, date);
        line.mark = number(scores->fieldValue(QStringLiteral("Score")));
        line.credit = number(scores->fieldValue(QStringLiteral("CreditHour")));
        line.remark = scores->text(r, remark).trimmed();
        t.terms[*found].lines.append(line);
    }
    // Rows without a term come last.
    std::stable_sort(t.terms.begin(), t.terms.end(), [](const TranscriptTerm &a, const TranscriptTerm &b) {
        if (a.term.isEmpty() || b.term.isEmpty())
            return !a.term.isEmpty() && b.term.isEmpty();
        return dravon::termLess(a.term, b.term);
    });
    ComputeTranscriptTotals(t);
    return t;
}

void ComputeTranscriptTotals(Transcript &t)
{
    QSet<QString> earnedSubjects;
    double weighted = 0;
    double weights = 0;
    t.creditsEarned = 0;
    t.averagedMarks = 0;
    for (TranscriptTerm &term : t.terms) {
        term.creditsEarned = 0;
        for (TranscriptLine &line : term.lines) {
            line.earned = false;
            line.averaged = line.mark && line.credit && *line.credit > 0;
            if (line.averaged) {
                weighted += *line.mark * *line.credit;
                weights += *line.credit;
                ++t.averagedMarks;
            }
            if (!line.mark)
                line.outcome = CreditOutcome::NoMark;
            else if (*line.mark < transcriptPassMark)
                line.outcome = CreditOutcome::Failed;
            else if (!line.subjectId.isEmpty() && earnedSubjects.contains(line.subjectId))
                line.outcome = CreditOutcome::EarnedBefore;
            else
                line.outcome = CreditOutcome::Earned;
            if (line.outcome == CreditOutcome::Earned) {
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

QString TranscriptLineNote(const TranscriptLine &line)
{
    QStringList parts;
    if (!line.remark.isEmpty())
        parts << line.remark;
    switch (line.outcome) {
    case CreditOutcome::Earned:
        break;
    case CreditOutcome::Failed:
        parts << QStringLiteral("不及格");
        break;
    case CreditOutcome::NoMark:
        parts << QStringLiteral("无成绩");
        break;
    case CreditOutcome::EarnedBefore:
        parts << QStringLiteral("学分已由此前成绩取得");
        break;
    }
    return parts.join(QStringLiteral("，"));
}

QString TranscriptEarnedCredits(const TranscriptLine &line)
{
    return FormatTranscriptNumber(line.earned ? line.credit.value_or(0) : 0);
}

QString TranscriptAverageNote()
{
    return QStringLiteral("说明：加权平均成绩 = Σ(成绩 × 学分) ÷ Σ学分，计入每一条有成绩且学分大于 0 的记录，"
                          "不及格、补考和重修的成绩也计入；无成绩的记录不计入。每门科目的学分只由其第一次"
                          "达到 %1 分的成绩取得一次。")
        .arg(FormatTranscriptNumber(transcriptPassMark));
}

}
