#pragma once
// The statistics' charts, made from figures: the bands of one group
// (histogram), the averages of several groups with their pass rates (bars
// and a line), the marks of several groups as box plots, and a student's
// average by term (line). Titles and axes in Chinese. The same charts are
// shown in the windows and painted, as vectors, on printed pages.
#include "data/stats/MarkFigures.h"
#include "data/stats/Rankings.h"

#include <QList>
#include <QRectF>
#include <QString>
#include <functional>

class QChart;
class QPainter;

struct GroupFigures
{
    QString label;  // the group as the charts name it ("一班·数学")
    stats::MarkFigures figures;
};

QChart *MakeBandChart(const GroupFigures *group);
// groupTitle names what a group is ("班级 × 课程"); range says which groups
// of how many are shown ("第 1–20 组，共 24000 组"), empty when all are.
QChart *MakeAverageChart(const QList<GroupFigures> &groups, const QString &groupTitle, const QString &range);
QChart *MakeBoxPlotChart(const QList<GroupFigures> &groups, const QString &groupTitle, const QString &range);
// student: "2007001 王小明"; no terms gives an empty chart that says so.
QChart *MakeTrendChart(const QString &student, const QList<stats::TermAverage> &terms);

// Paints a chart (made at a size readable on paper) into target, then deletes it.
void PaintChart(QPainter &painter, const QRectF &target, QChart *chart);
