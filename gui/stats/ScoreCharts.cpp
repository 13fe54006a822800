#include "gui/stats/ScoreCharts.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBoxPlotSeries>
#include <QBoxSet>
#include <QCategoryAxis>
#include <QChart>
#include <QGraphicsScene>
#include <QLegend>
#include <QLineSeries>
#include <QPainter>
#include <QPaintDevice>
#include <QScatterSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace {

const QColor barColor(70, 120, 180);
const QColor lineColor(214, 96, 40);

QFont chartFont(qreal scale, bool bold = false)
{
    QFont f = QApplication::font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    return f;
}

QChart *newChart(const QString &title)
{
    auto *chart = new QChart;
    chart->setTitle(title);
    chart->setTitleFont(chartFont(1.05, true));
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setFont(chartFont(0.9));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    return chart;
}

void styleAxis(QAbstractAxis *axis, const QString &title)
{
    axis->setTitleText(title);
    axis->setTitleFont(chartFont(0.9));
    axis->setLabelsFont(chartFont(0.85));
}

// A value axis for marks: 0 to 100, or to the largest mark above it.
QValueAxis *markAxis(const QString &title, double largest)
{
    auto *axis = new QValueAxis;
    axis->setRange(0, std::max(100.0, std::ceil(largest / 10) * 10));
    axis->setTickCount(6);
    axis->setLabelFormat(QStringLiteral("%d"));
    styleAxis(axis, title);
    return axis;
}

// The note of an empty chart, in its middle.
void sayEmpty(QChart *chart, const QString &text)
{
    chart->setTitle(chart->title() + QStringLiteral("\n") + text);
    chart->legend()->hide();
}

QBarCategoryAxis *groupAxis(const QList<GroupFigures> &groups, const QString &title)
{
    auto *axis = new QBarCategoryAxis;
    // A label of two parts ("一班·数学") on two lines; with many groups the
    // labels stand upright (slanted ones are cut short far sooner).
    const bool upright = groups.size() > 6;
    QStringList labels;
    for (const GroupFigures &g : groups) {
        QString label = g.label.toHtmlEscaped();
        if (!upright)
            label.replace(QStringLiteral("·"), QStringLiteral("<br>"));
        labels << label;
    }
    axis->append(labels);
    styleAxis(axis, title);
    if (upright)
        axis->setLabelsAngle(-90);
    return axis;
}

QString withRange(const QString &title, const QString &range)
{
    return range.isEmpty() ? title : QStringLiteral("%1（%2）").arg(title, range);
}

}

QChart *MakeBandChart(const GroupFigures *group)
{
    QChart *chart = newChart(group ? QStringLiteral("分数段分布：%1").arg(group->label) : QStringLiteral("分数段分布"));
    if (!group) {
        sayEmpty(chart, QStringLiteral("（请选择一组）"));
        return chart;
    }
    auto *set = new QBarSet(QStringLiteral("人数"));
    set->setColor(barColor);
    qint64 most = 0;
    for (const qint64 n : group->figures.bands) {
        *set << double(n);
        most = std::max(most, n);
    }
    set->setLabelFont(chartFont(0.85));
    set->setLabelColor(Qt::black);
    auto *series = new QBarSeries;
    series->append(set);
    series->setLabelsVisible(true);
    series->setLabelsFormat(QStringLiteral("@value"));
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    // Axis labels are rich text: "<60" would be taken for a tag.
    for (const QString &band : stats::BandTitles())
        x->append(band.toHtmlEscaped());
    styleAxis(x, QStringLiteral("分数段"));
    auto *y = new QValueAxis;
    // Whole people on the axis, with room above the tallest bar for its number.
    const qint64 top = std::max<qint64>(4, qint64(std::ceil(double(most) * 1.15 / 4)) * 4);
    y->setRange(0, double(top));
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTickCount(5);
    styleAxis(y, QStringLiteral("人数"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    chart->legend()->hide();
    return chart;
}

QChart *MakeAverageChart(const QList<GroupFigures> &groups, const QString &groupTitle, const QString &range)
{
    QChart *chart = newChart(withRange(QStringLiteral("各组平均分与及格率"), range));
    if (groups.isEmpty()) {
        sayEmpty(chart, QStringLiteral("（没有数据）"));
        return chart;
    }
    auto *averages = new QBarSet(QStringLiteral("平均分"));
    averages->setColor(barColor);
    auto *rates = new QLineSeries;
    rates->setName(QStringLiteral("及格率（%）"));
    rates->setColor(lineColor);
    rates->setPointsVisible(true);
    double largest = 0;
    for (int i = 0; i < groups.size(); ++i) {
        const stats::MarkFigures &f = groups[i].figures;
        *averages << std::round(f.mean.value_or(0) * 10) / 10;
        largest = std::max(largest, f.mean.value_or(0));
        if (f.passRate)
            rates->append(i, *f.passRate);
    }
    averages->setLabelColor(Qt::black);
    averages->setLabelFont(chartFont(0.8));
    auto *bars = new QBarSeries;
    bars->append(averages);
    // Each average written on its bar, one decimal as in the grid.
    bars->setLabelsVisible(true);
    bars->setLabelsFormat(QStringLiteral("@value"));
    bars->setLabelsPrecision(3);
    bars->setLabelsPosition(QAbstractBarSeries::LabelsInsideEnd);
    chart->addSeries(bars);
    chart->addSeries(rates);
    QBarCategoryAxis *x = groupAxis(groups, groupTitle);
    QValueAxis *y = markAxis(QStringLiteral("平均分"), largest);
    auto *percent = new QValueAxis;
    percent->setRange(0, 100);
    percent->setTickCount(6);
    percent->setLabelFormat(QStringLiteral("%d"));
    styleAxis(percent, QStringLiteral("及格率（%）"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    chart->addAxis(percent, Qt::AlignRight);
    bars->attachAxis(x);
    bars->attachAxis(y);
    // The line's points stand over the bars' categories: a hidden axis from -0.5 to n - 0.5.
    auto *places = new QValueAxis;
    places->setRange(-0.5, groups.size() - 0.5);
    places->setVisible(false);
    chart->addAxis(places, Qt::AlignTop);
    rates->attachAxis(places);
    rates->attachAxis(percent);
    return chart;
}

QChart *MakeBoxPlotChart(const QList<GroupFigures> &groups, const QString &groupTitle, const QString &range)
{
    QChart *chart = newChart(withRange(QStringLiteral("各组成绩箱线图"), range));
    QList<GroupFigures> shown;
    for (const GroupFigures &g : groups)
        if (g.figures.count > 0)
            shown << g;
    if (shown.isEmpty()) {
        sayEmpty(chart, QStringLiteral("（没有数据）"));
        return chart;
    }
    auto *series = new QBoxPlotSeries;
    series->setName(QStringLiteral("最低分、下四分位、中位数、上四分位、最高分"));
    series->setBrush(QColor(170, 200, 230));
    double largest = 0;
    for (const GroupFigures &g : shown) {
        const stats::MarkFigures &f = g.figures;
        auto *box = new QBoxSet(*f.min, *f.lowerQuartile, *f.median, *f.upperQuartile, *f.max, g.label);
        series->append(box);
        largest = std::max(largest, *f.max);
    }
    chart->addSeries(series);
    QBarCategoryAxis *x = groupAxis(shown, groupTitle);
    QValueAxis *y = markAxis(QStringLiteral("分数"), largest);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    return chart;
}

QChart *MakeTrendChart(const QString &student, const QList<stats::TermAverage> &terms)
{
    QChart *chart = newChart(student.isEmpty() ? QStringLiteral("各学期平均分")
                                               : QStringLiteral("%1 各学期平均分").arg(student));
    if (terms.isEmpty()) {
        sayEmpty(chart, student.isEmpty() ? QStringLiteral("（请选择一名学生）") : QStringLiteral("（没有成绩）"));
        return chart;
    }
    auto *line = new QLineSeries;
    line->setName(QStringLiteral("平均分"));
    line->setColor(barColor);
    line->setPointsVisible(true);
    line->setPointLabelsVisible(true);
    line->setPointLabelsFont(chartFont(0.85));
    line->setPointLabelsFormat(QStringLiteral("@yPoint"));
    line->setPointLabelsClipping(false);
    double largest = 0;
    auto *x = new QCategoryAxis;
    x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int i = 0; i < terms.size(); ++i) {
        // One decimal, as the grids show averages.
        line->append(i, std::round(terms[i].average * 10) / 10);
        largest = std::max(largest, terms[i].average);
        x->append(terms[i].term, i);
    }
    x->setRange(-0.5, terms.size() - 0.5);
    styleAxis(x, QStringLiteral("学期"));
    chart->addSeries(line);
    QValueAxis *y = markAxis(QStringLiteral("平均分"), largest);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    line->attachAxis(x);
    line->attachAxis(y);
    chart->legend()->hide();
    return chart;
}

void PaintChart(QPainter &painter, const QRectF &target, QChart *chart)
{
    if (!chart)
        return;
    // Laid out as on a screen at the target's size on paper, so its texts
    // keep about their sizes; then scaled onto the page.
    const qreal dpi = painter.device() ? painter.device()->logicalDpiX() : 96;
    constexpr qreal screenDpi = 84;  // a little below a screen's: texts a little larger on paper
    const QSizeF logical(target.width() * screenDpi / dpi, target.height() * screenDpi / dpi);
    QGraphicsScene scene;
    scene.addItem(chart);
    chart->setGeometry(QRectF(QPointF(0, 0), logical));
    chart->setBackgroundVisible(false);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, target, QRectF(QPointF(0, 0), logical));
    painter.restore();
    scene.removeItem(chart);
    delete chart;
}
