#pragma once
// A student's transcript: who the student is, their scores grouped by term
// (terms in the order terms are ordered, see TermOrder.h) with subject names,
// marks, credits and remarks, which marks earned credits and why others did
// not, the credits earned and the credit-weighted average mark.
#include <QList>
#include <QString>
#include <optional>

namespace dravon { class Connection; }

namespace exporting {

// The mark from which an examination earns its subject's credits.
constexpr double transcriptPassMark = 60.0;

// Whether an examination earned its subject's credits, and why not.
enum class CreditOutcome
{
    Earned,        // the subject's first mark that reached the pass mark
    Failed,        // below the pass mark
    NoMark,        // no mark recorded (a deferred examination, say)
    EarnedBefore,  // the subject's credits were earned by an earlier mark
};

struct TranscriptLine
{
    QString subjectId;
    QString subjectName;
    QString date;  // as shown (short date format)
    std::optional<double> mark;
    std::optional<double> credit;
    QString remark;  // Score.Remark as stored ("补考", "缓考", "重修", ...)
    // This examination earned the subject's credits: the first one of the
    // subject that reached the pass mark.
    bool earned = false;
    CreditOutcome outcome = CreditOutcome::NoMark;
    // The mark counts in the weighted average: it has a mark and a positive credit.
    bool averaged = false;
};

struct TranscriptTerm
{
    QString term;  // empty when the rows name no term
    QList<TranscriptLine> lines;
    double creditsEarned = 0;
};

struct Transcript
{
    QString studentId;
    QString studentName;
    QString sex;
    QString inSchoolDate;  // as shown (short date format)
    QString classId;
    QString className;
    QString collegeName;
    QList<TranscriptTerm> terms;
    // Each subject's credits count once, from its first examination that
    // reached the pass mark.
    double creditsEarned = 0;
    // Sum of mark x credit over sum of credits, over every examination with a
    // mark and a positive credit; no value when there is none.
    std::optional<double> weightedAverage;
    int averagedMarks = 0;  // how many marks the average counts

    bool hasScores() const { return !terms.isEmpty(); }
};

// Reads the student and their scores, terms ordered by dravon::termLess and
// rows without a term last; within a term by date, then subject. Throws dravon::Error when the student
// does not exist or the database refuses the read.
Transcript LoadTranscript(dravon::Connection &connection, const QString &studentId);

// Marks which examinations earn credits and sums the totals, from the lines
// in their order (terms first to last).
void ComputeTranscriptTotals(Transcript &transcript);

// A mark or credit as printed: no trailing zeros ("85", "3.5").
QString FormatTranscriptNumber(double value);
// The label of a term; rows without one are grouped as "未注明学期".
QString TranscriptTermLabel(const QString &term);
// What the transcript prints beside a mark: the stored remark and, for a
// mark that earned no credits, why ("不及格", "无成绩", "学分已由此前成绩取得").
QString TranscriptLineNote(const TranscriptLine &line);
// The credits a line earned as printed ("0" when it earned none).
QString TranscriptEarnedCredits(const TranscriptLine &line);
// The sentence under the table that says which marks the average counts.
QString TranscriptAverageNote();

}
