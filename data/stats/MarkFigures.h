#pragma once
// The figures of a set of marks as a teaching office reports them: count,
// mean, extremes, population standard deviation, median and quartiles (exact,
// by selection, no sampling), pass and excellence counts and rates, and the
// five mark bands. Also competition ranking (1, 1, 3) and grade points.
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace stats {

// The marks from which a mark passes and is excellent (the 设置 dialog).
struct Thresholds
{
    double pass = 60;
    double excellent = 85;
};

// How a mark becomes a grade point.
enum class GpaFormula {
    FourPoint,  // 90-100 -> 4.0, 80-89 -> 3.0, 70-79 -> 2.0, 60-69 -> 1.0, below 60 -> 0
    Linear      // (mark - 50) / 10, at least 0
};

double GradePoint(double mark, GpaFormula formula);

// Bands, lowest first: below 60, 60-69, 70-79, 80-89, 90 and above. A band
// holds the marks from its lower bound up to (not including) the next one.
constexpr int bandCount = 5;
const QStringList &BandTitles();
int BandOf(double mark);

struct MarkFigures
{
    qint64 count = 0;   // marks that have a value
    qint64 absent = 0;  // marks that are empty (缺考), left out of every figure
    std::optional<double> mean;
    std::optional<double> max;
    std::optional<double> min;
    std::optional<double> stddev;  // population standard deviation
    std::optional<double> median;
    std::optional<double> lowerQuartile;  // quartiles by linear interpolation (inclusive)
    std::optional<double> upperQuartile;
    qint64 passed = 0;
    qint64 excellent = 0;
    std::optional<double> passRate;       // percent of count
    std::optional<double> excellentRate;  // percent of count
    std::array<qint64, bandCount> bands{};
};

// The figures of marks (reordered in place) and of `absent` empty marks.
MarkFigures DescribeMarks(std::vector<double> &marks, qint64 absent, const Thresholds &thresholds);

// The value at fraction p (0..1) of marks, by linear interpolation between
// the two nearest ranks; marks are reordered. No value for no marks.
std::optional<double> Quantile(std::vector<double> &marks, double p);

// Ranks as in competitions, highest value first: equal values share the
// rank, the next one skips (1, 1, 3). Values without a value get rank 0
// (unranked). Values are compared to six decimals, so that sums taken in
// another order do not split a tie.
std::vector<int> CompetitionRanks(const std::vector<std::optional<double>> &values);

// Texts as the windows show figures: one decimal ("87.0"), a rate as
// "87.5 %", two decimals for grade points and amounts; halves round away
// from zero.
QString OneDecimal(double value);
QString RateText(double percent);
QString TwoDecimals(double value);

}
