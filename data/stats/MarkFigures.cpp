#include "data/stats/MarkFigures.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace stats {

double GradePoint(double mark, GpaFormula formula)
{
    if (formula == GpaFormula::Linear)
        return std::max(0.0, (mark - 50.0) / 10.0);
    if (mark >= 90)
        return 4.0;
    if (mark >= 80)
        return 3.0;
    if (mark >= 70)
        return 2.0;
    if (mark >= 60)
        return 1.0;
    return 0.0;
}

const QStringList &BandTitles()
{
    static const QStringList titles = {QStringLiteral("<60"), QStringLiteral("60–69"), QStringLiteral("70–79"),
                                       QStringLiteral("80–89"), QStringLiteral("90–100")};
    return titles;
}

int BandOf(double mark)
{
    if (mark < 60)
        return 0;
    if (mark < 70)
        return 1;
    if (mark < 80)
        return 2;
    if (mark < 90)
        return 3;
    return 4;
}

std::optional<double> Quantile(std::vector<double> &marks, double p)
{
    if (marks.empty())
        return std::nullopt;
    const double h = (double(marks.size()) - 1) * std::clamp(p, 0.0, 1.0);
    const auto low = std::size_t(std::floor(h));
    std::nth_element(marks.begin(), marks.begin() + qsizetype(low), marks.end());
    const double lower = marks[low];
    if (low + 1 >= marks.size() || h == double(low))
        return lower;
    // The next value up is the smallest of those after the selected one.
    const double upper = *std::min_element(marks.begin() + qsizetype(low) + 1, marks.end());
    return lower + (h - double(low)) * (upper - lower);
}

MarkFigures DescribeMarks(std::vector<double> &marks, qint64 absent, const Thresholds &thresholds)
{
    MarkFigures f;
    f.absent = absent;
    f.count = qint64(marks.size());
    if (marks.empty())
        return f;
    // The mean from the differences to the first mark, summed with a
    // running compensation (Neumaier), so many equal or close marks lose no digits.
    const double origin = marks.front();
    double sum = 0;
    double compensation = 0;
    double lo = marks.front();
    double hi = marks.front();
    for (const double m : marks) {
        const double d = m - origin;
        const double t = sum + d;
        compensation += std::abs(sum) >= std::abs(d) ? (sum - t) + d : (d - t) + sum;
        sum = t;
        lo = std::min(lo, m);
        hi = std::max(hi, m);
        if (m >= thresholds.pass)
            ++f.passed;
        if (m >= thresholds.excellent)
            ++f.excellent;
        ++f.bands[std::size_t(BandOf(m))];
    }
    const double mean = origin + (sum + compensation) / double(f.count);
    // Two passes: the squares of the differences from the mean, not the
    // difference of two large sums, so no digits are lost.
    double squares = 0;
    for (const double m : marks)
        squares += (m - mean) * (m - mean);
    f.mean = mean;
    f.min = lo;
    f.max = hi;
    f.stddev = std::sqrt(squares / double(f.count));
    f.passRate = 100.0 * double(f.passed) / double(f.count);
    f.excellentRate = 100.0 * double(f.excellent) / double(f.count);
    f.median = Quantile(marks, 0.5);
    f.lowerQuartile = Quantile(marks, 0.25);
    f.upperQuartile = Quantile(marks, 0.75);
    return f;
}

std::vector<int> CompetitionRanks(const std::vector<std::optional<double>> &values)
{
    std::vector<int> ranks(values.size(), 0);
    std::vector<std::pair<double, std::size_t>> ranked;
    ranked.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] && std::isfinite(*values[i]))
            ranked.emplace_back(std::round(*values[i] * 1e6), i);
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (std::size_t k = 0; k < ranked.size(); ++k) {
        if (k > 0 && ranked[k].first == ranked[k - 1].first)
            ranks[ranked[k].second] = ranks[ranked[k - 1].second];
        else
            ranks[ranked[k].second] = int(k) + 1;
    }
    return ranks;
}

namespace {

// Halves rounded away from zero, as marks are rounded by hand (77.25 -> 77.3).
QString rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double r = std::round(value * scale) / scale;
    return QString::number(r == 0 ? 0.0 : r, 'f', decimals);
}

}

QString OneDecimal(double value)
{
    return rounded(value, 1);
}

QString RateText(double percent)
{
    return OneDecimal(percent) + QStringLiteral(" %");
}

QString TwoDecimals(double value)
{
    return rounded(value, 2);
}

}
