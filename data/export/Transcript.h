#pragma once
// A student's transcript: who the student is, their scores grouped by term
// with subject names, marks and credits, the credits earned and the
// credit-weighted average mark.
#include <QList>
#include <QString>
#include <optional>

namespace dravon { class Connection; }

namespace exporting {

// The mark from which an examination earns its subject's credits.
constexpr double transcriptPassMark = 60.0;

struct TranscriptLine
{
    QString subjectId;
    QString subjectName;
    QString date;  // as shown (short date format)
    std::optional<double> mark;
    std::optional<double> credit;
    // This examination earned the subject's credits: the first one of the
    // subject that reached the pass mark.
    bool earned = false;
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

    bool hasScores() const { return !terms.isEmpty(); }
};

// Reads the student and their scores. Throws dravon::Error when the student
// does not exist or the database refuses the read.
Transcript LoadTranscript(dravon::Connection &connection, const QString &studentId);

// Marks which examinations earn credits and sums the totals, from the lines
// in their order (terms first to last).
void ComputeTranscriptTotals(Transcript &transcript);

// A mark or credit as printed: no trailing zeros ("85", "3.5").
QString FormatTranscriptNumber(double value);
// The label of a term; rows without one are grouped as "未注明学期".
QString TranscriptTermLabel(const QString &term);

}
