#include "forms/stats/ScoreStatistics_Unit.h"

#include "data/SqlText.h"
#include "data/stats/StatsSettings.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/GridExport.h"
#include "gui/Shell_Unit.h"
#include "gui/stats/ResultGrid.h"
#include "gui/stats/ScoreCharts.h"
#include "gui/stats/WorkRunner.h"

#include <QAction>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <memory>

using namespace stats;

QPointer<TfrmScoreStatistics> frmScoreStatistics;

namespace {

const QList<Grouping> groupings = {Grouping::ClassSubject, Grouping::Class, Grouping::Subject, Grouping::College};

}

TfrmScoreStatistics::TfrmScoreStatistics(QWidget *owner) : TfrmStatsBase(owner)
{
    setObjectName(QStringLiteral("frmScoreStatistics"));
    setWindowTitle(QStringLiteral("成绩统计"));

    cmbxTerm = makeList("cmbxTerm", [this] { compute(); });
    cmbxCollege = makeList("cmbxCollege", [this] { collegeChanged(); });
    cmbxClass = makeList("cmbxClass", [this] { compute(); });
    cmbxSubject = makeList("cmbxSubject", [this] { compute(); });
    cmbxGrouping = makeList("cmbxGrouping", [this] { compute(); });
    for (const Grouping g : groupings)
        cmbxGrouping->addItem(GroupingName(g));
    cmbxTerm->addItem(allText());
    for (QComboBox *box : {cmbxCollege, cmbxClass})
        box->setMinimumContentsLength(12);
    lblTerm = makeLabel("lblTerm", QStringLiteral("学期："), cmbxTerm);
    lblCollege = makeLabel("lblCollege", QStringLiteral("学院："), cmbxCollege);
    lblClass = makeLabel("lblClass", QStringLiteral("班级："), cmbxClass);
    lblSubject = makeLabel("lblSubject", QStringLiteral("课程："), cmbxSubject);
    lblGrouping = makeLabel("lblGrouping", QStringLiteral("分组："), cmbxGrouping);

    DBGrid1 = new ResultGrid(QStringLiteral("DataStatistics"), this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setMinimumSize(560, 560);
    actShowScores = new QAction(QStringLiteral("查看该组成绩…"), DBGrid1);
    actShowScores->setObjectName(QStringLiteral("actShowScores"));
    DBGrid1->addAction(actShowScores);
    connect(actShowScores, &QAction::triggered, this, [this] { Guarded([this] { DBGrid1DblClick(); }); });
    connect(DBGrid1, &QAbstractItemView::doubleClicked, this, [this] { Guarded([this] { DBGrid1DblClick(); }); });
    connect(DBGrid1, &ResultGrid::currentTagChanged, this, [this] { updateCharts(); });
    connect(DBGrid1, &ResultGrid::tableShown, this, [this] {
        if (DBGrid1->selectionModel())
            connect(DBGrid1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                    [this] { updateCharts(); });
    });
    auto *extras = new GridPrintExtras(DBGrid1);
    extras->caption = [this] { return printCaption(); };
    extras->figures = [this] { return printFigures(); };

    // The current group's bands above; the groups around it below, one chart a page.
    ChartBands = makeChartView("ChartBands");
    ChartBands->setMinimumSize(440, 230);
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    ChartAverages = makeChartView("ChartAverages");
    ChartBoxPlot = makeChartView("ChartBoxPlot");
    for (QChartView *view : {ChartAverages, ChartBoxPlot})
        view->setMinimumSize(440, 360);
    PageControl1->addTab(ChartAverages, QStringLiteral("平均分与及格率"));
    PageControl1->addTab(ChartBoxPlot, QStringLiteral("箱线图"));
    auto *charts = new QSplitter(Qt::Vertical, this);
    charts->setObjectName(QStringLiteral("Splitter2"));
    charts->setChildrenCollapsible(false);
    charts->addWidget(ChartBands);
    charts->addWidget(PageControl1);
    charts->setStretchFactor(1, 1);
    auto *body = new QSplitter(Qt::Horizontal, this);
    body->setObjectName(QStringLiteral("Splitter1"));
    body->setChildrenCollapsible(false);
    body->addWidget(DBGrid1);
    body->addWidget(charts);
    body->setStretchFactor(0, 3);
    body->setStretchFactor(1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addLayout(filterRow({lblTerm, cmbxTerm, lblCollege, cmbxCollege, lblClass, cmbxClass, lblSubject,
                                 cmbxSubject, lblGrouping, cmbxGrouping},
                                true));
    layout->addLayout(statusRow());
    layout->addWidget(body, 1);

    m_termRunner = new WorkRunner(nullptr, this);
    updateCharts();
}

void TfrmScoreStatistics::FormCreate()
{
    fillCollegesAndClasses(cmbxCollege, cmbxClass);
    fillEntries(cmbxSubject, QStringLiteral("Select * From SubjectInfo"), QStringLiteral("SubjectID"),
                QStringLiteral("SubName"));
    // The terms come from every score row: read beside the first computation.
    readTerms(m_termRunner, cmbxTerm);
    compute();
}

void TfrmScoreStatistics::collegeChanged()
{
    fillClassesOfCollege(cmbxClass, cmbxCollege);
    compute();
}

void TfrmScoreStatistics::compute()
{
    ScoreFilter filter;
    filter.term = chosenText(cmbxTerm);
    filter.collegeId = chosenNumber(cmbxCollege);
    filter.classId = chosenNumber(cmbxClass);
    filter.subjectId = chosenNumber(cmbxSubject);
    const Grouping grouping = groupings.value(cmbxGrouping->currentIndex(), Grouping::ClassSubject);
    const Thresholds thresholds = ReadStatsSettings().thresholds;
    // The filters as the lists show them, for the caption of what comes back.
    const QString filterText = QStringLiteral("学期：%1　学院：%2　班级：%3　课程：%4　分组：%5")
                                   .arg(shownChoice(cmbxTerm), shownChoice(cmbxCollege), shownChoice(cmbxClass),
                                        shownChoice(cmbxSubject), GroupingName(grouping));
    struct Result
    {
        ScoreStatistics statistics;
        ResultTable table;
    };
    auto result = std::make_shared<Result>();
    lblStatus->setText(QString());
    runner->start(
        [=](ReadConnection &c) {
            // The grid's rows too are made on the worker.
            result->statistics = ComputeScoreStatistics(c, filter, grouping, thresholds);
            result->table = StatisticsTable(result->statistics);
        },
        [this, result, filterText](const QString &error) {
            if (!error.isEmpty()) {
                lblStatus->setText(QStringLiteral("统计没有完成。"));
                ReportError(error);
                return;
            }
            m_filterText = filterText;
            showStatistics(std::move(result->statistics), result->table);
        });
}

void TfrmScoreStatistics::showStatistics(ScoreStatistics statistics, const ResultTable &table)
{
    m_statistics = std::move(statistics);
    m_hasStatistics = true;
    DBGrid1->setTable(table, printCaption());
    if (m_statistics.groups.isEmpty())
        lblStatus->setText(QStringLiteral("没有符合条件的成绩。"));
    else
        lblStatus->setText(QStringLiteral("共 %1 组，%2 个成绩，缺考 %3 个。及格线 %4 分，优秀线 %5 分。")
                               .arg(m_statistics.groups.size())
                               .arg(m_statistics.marks())
                               .arg(m_statistics.absent())
                               .arg(m_statistics.thresholds.pass)
                               .arg(m_statistics.thresholds.excellent));
    // The charts followed the grid's current row as the rows came in.
}

QString TfrmScoreStatistics::groupLabel(const ScoreGroup &group) const
{
    switch (m_statistics.grouping) {
    case Grouping::Class:
        return group.className;
    case Grouping::Subject:
        return group.subjectName;
    case Grouping::ClassSubject:
        return group.className + QStringLiteral("·") + group.subjectName;
    case Grouping::College:
        return group.collegeName;
    }
    return {};
}

QList<int> TfrmScoreStatistics::chartGroups(QString *range) const
{
    QList<int> groups;
    range->clear();
    if (!m_hasStatistics)
        return groups;
    const QList<int> selected = DBGrid1->selectedTags();
    if (selected.size() > 1) {
        groups = selected.mid(0, chartGroupLimit);
        *range = selected.size() > chartGroupLimit
                     ? QStringLiteral("所选 %1 组中的前 %2 组").arg(selected.size()).arg(chartGroupLimit)
                     : QStringLiteral("所选 %1 组").arg(selected.size());
        return groups;
    }
    // The page of groups, in the grid's order, that holds the current row.
    const int rows = DBGrid1->table().rowCount();
    const dravon::RecordSet *rs = DBGrid1->dataSource() ? DBGrid1->dataSource()->dataSet() : nullptr;
    const int current = rs ? qMax(0, rs->recNo()) : 0;
    const int first = current / chartGroupLimit * chartGroupLimit;
    const int end = qMin(rows, first + chartGroupLimit);
    for (int r = first; r < end; ++r)
        groups << DBGrid1->tagOfRow(r);
    if (rows > chartGroupLimit)
        *range = QStringLiteral("第 %1–%2 组，共 %3 组").arg(first + 1).arg(end).arg(rows);
    return groups;
}

void TfrmScoreStatistics::updateCharts()
{
    QString range;
    QList<GroupFigures> shown;
    for (const int g : chartGroups(&range))
        if (g >= 0 && g < m_statistics.groups.size())
            shown.append({groupLabel(m_statistics.groups[g]), m_statistics.groups[g].figures});
    const int current = DBGrid1->currentTag();
    GroupFigures currentGroup;
    const bool hasCurrent = m_hasStatistics && current >= 0 && current < m_statistics.groups.size();
    if (hasCurrent)
        currentGroup = {groupLabel(m_statistics.groups[current]), m_statistics.groups[current].figures};
    const QString title = GroupingName(m_statistics.grouping);
    setChart(ChartBands, MakeBandChart(hasCurrent ? &currentGroup : nullptr));
    setChart(ChartAverages, MakeAverageChart(shown, title, range));
    setChart(ChartBoxPlot, MakeBoxPlotChart(shown, title, range));
}

QString TfrmScoreStatistics::printCaption() const
{
    return QStringLiteral("成绩统计　") + m_filterText;
}

QList<PrintFigure> TfrmScoreStatistics::printFigures() const
{
    QString range;
    QList<GroupFigures> shown;
    for (const int g : chartGroups(&range))
        if (g >= 0 && g < m_statistics.groups.size())
            shown.append({groupLabel(m_statistics.groups[g]), m_statistics.groups[g].figures});
    const int current = DBGrid1->currentTag();
    std::optional<GroupFigures> currentGroup;
    if (m_hasStatistics && current >= 0 && current < m_statistics.groups.size())
        currentGroup = GroupFigures{groupLabel(m_statistics.groups[current]), m_statistics.groups[current].figures};
    const QString title = GroupingName(m_statistics.grouping);
    QList<PrintFigure> figures;
    figures.append({0.3, [currentGroup](QPainter &p, const QRectF &r) {
                        PaintChart(p, r, MakeBandChart(currentGroup ? &*currentGroup : nullptr));
                    }});
    figures.append({0.5, [shown, title, range](QPainter &p, const QRectF &r) {
                        PaintChart(p, r, MakeAverageChart(shown, title, range));
                    }});
    figures.append({0.5, [shown, title, range](QPainter &p, const QRectF &r) {
                        PaintChart(p, r, MakeBoxPlotChart(shown, title, range));
                    }});
    return figures;
}

void TfrmScoreStatistics::DBGrid1DblClick()
{
    const int g = DBGrid1->currentTag();
    if (!m_hasStatistics || g < 0 || g >= m_statistics.groups.size() || !openScoreWindow)
        return;
    const QString sql = GroupScoreStatement(m_statistics.filter, m_statistics.grouping, m_statistics.groups[g]);
    TfrmStudentScore *scores = openScoreWindow();
    if (!scores)
        return;
    scores->PageControl1->setCurrentWidget(scores->TabSheet2);
    scores->findPage->runStatement(sql);
}

void TfrmScoreStatistics::FormClose()
{
    m_termRunner->cancel();
    TfrmStatsBase::FormClose();
    frmScoreStatistics = nullptr;
}
