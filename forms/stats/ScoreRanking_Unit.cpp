#include "forms/stats/ScoreRanking_Unit.h"

#include "data/SqlText.h"
#include "data/stats/ScoreStatistics.h"
#include "data/stats/StatsSettings.h"
#include "gui/GridExport.h"
#include "gui/Shell_Unit.h"
#include "gui/stats/ResultGrid.h"
#include "gui/stats/ScoreCharts.h"
#include "gui/stats/WorkRunner.h"

#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>
#include <memory>

using namespace stats;

QPointer<TfrmScoreRanking> frmScoreRanking;

namespace {

const QList<RankScope> scopes = {RankScope::Class, RankScope::College, RankScope::School};
const QList<RankMeasure> measures = {RankMeasure::Total, RankMeasure::Average, RankMeasure::WeightedAverage,
                                     RankMeasure::GradePoint};

}

TfrmScoreRanking::TfrmScoreRanking(QWidget *owner) : TfrmStatsBase(owner)
{
    setObjectName(QStringLiteral("frmScoreRanking"));
    setWindowTitle(QStringLiteral("成绩排名"));

    cmbxTerm = makeList("cmbxTerm", [this] { compute(); });
    cmbxScope = makeList("cmbxScope", [this] { scopeChanged(); });
    cmbxCollege = makeList("cmbxCollege", [this] { collegeChanged(); });
    cmbxClass = makeList("cmbxClass", [this] { compute(); });
    cmbxMeasure = makeList("cmbxMeasure", [this] { compute(); });
    cmbxTerm->addItem(allText());
    for (const RankScope s : scopes)
        cmbxScope->addItem(RankScopeName(s));
    for (const RankMeasure m : measures)
        cmbxMeasure->addItem(RankMeasureName(m));
    for (QComboBox *box : {cmbxCollege, cmbxClass})
        box->setMinimumContentsLength(12);
    lblTerm = makeLabel("lblTerm", QStringLiteral("学期："), cmbxTerm);
    lblScope = makeLabel("lblScope", QStringLiteral("范围："), cmbxScope);
    lblCollege = makeLabel("lblCollege", QStringLiteral("学院："), cmbxCollege);
    lblClass = makeLabel("lblClass", QStringLiteral("班级："), cmbxClass);
    lblMeasure = makeLabel("lblMeasure", QStringLiteral("排名依据："), cmbxMeasure);

    DBGrid1 = new ResultGrid(QStringLiteral("DataRanking"), this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setMinimumSize(780, 520);
    DBGrid1->cellLook = [this](int student, int column, int role) { return cellLook(student, column, role); };
    connect(DBGrid1, &ResultGrid::currentTagChanged, this, [this] { Guarded([this] { updateTrend(); }); });
    auto *extras = new GridPrintExtras(DBGrid1);
    extras->caption = [this] { return printCaption(); };
    extras->figures = [this] {
        const QString student = m_trendStudent;
        const QList<TermAverage> trend = m_trend;
        return QList<PrintFigure>{{0.45, [student, trend](QPainter &p, const QRectF &r) {
                                       PaintChart(p, r, MakeTrendChart(student, trend));
                                   }}};
    };

    ChartTrend = makeChartView("ChartTrend");
    ChartTrend->setMinimumSize(340, 300);
    auto *body = new QSplitter(Qt::Horizontal, this);
    body->setObjectName(QStringLiteral("Splitter1"));
    body->setChildrenCollapsible(false);
    body->addWidget(DBGrid1);
    body->addWidget(ChartTrend);
    body->setStretchFactor(0, 3);
    body->setStretchFactor(1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addLayout(filterRow({lblTerm, cmbxTerm, lblScope, cmbxScope, lblCollege, cmbxCollege, lblClass, cmbxClass,
                                 lblMeasure, cmbxMeasure},
                                true));
    layout->addLayout(statusRow());
    layout->addWidget(body, 1);

    m_termRunner = new WorkRunner(nullptr, this);
    setChart(ChartTrend, MakeTrendChart(QString(), {}));
}

void TfrmScoreRanking::FormCreate()
{
    fillCollegesAndClasses(cmbxCollege, cmbxClass);
    readTerms(m_termRunner, cmbxTerm);
    scopeChanged();
}

void TfrmScoreRanking::scopeChanged()
{
    // A scope is ranked whole: only the lists that choose whole scopes are open.
    const RankScope scope = scopes.value(cmbxScope->currentIndex(), RankScope::Class);
    const bool college = scope != RankScope::School;
    const bool klass = scope == RankScope::Class;
    for (QWidget *w : {static_cast<QWidget *>(lblCollege), static_cast<QWidget *>(cmbxCollege)})
        w->setEnabled(college);
    for (QWidget *w : {static_cast<QWidget *>(lblClass), static_cast<QWidget *>(cmbxClass)})
        w->setEnabled(klass);
    if (!college)
        cmbxCollege->setCurrentIndex(0);
    if (!klass)
        cmbxClass->setCurrentIndex(0);
    compute();
}

void TfrmScoreRanking::collegeChanged()
{
    fillClassesOfCollege(cmbxClass, cmbxCollege);
    compute();
}

void TfrmScoreRanking::compute()
{
    RankingRequest request;
    request.term = chosenText(cmbxTerm);
    request.scope = scopes.value(cmbxScope->currentIndex(), RankScope::Class);
    if (request.scope != RankScope::School)
        request.collegeId = chosenNumber(cmbxCollege);
    if (request.scope == RankScope::Class)
        request.classId = chosenNumber(cmbxClass);
    request.measure = measures.value(cmbxMeasure->currentIndex(), RankMeasure::Total);
    request.settings = ReadStatsSettings();
    QString scopeText = RankScopeName(request.scope);
    if (request.scope == RankScope::Class && request.classId)
        scopeText += QStringLiteral("（%1）").arg(cmbxClass->currentText());
    else if (request.scope != RankScope::School && request.collegeId)
        scopeText += QStringLiteral("（%1）").arg(cmbxCollege->currentText());
    const QString filterText = QStringLiteral("学期：%1　范围：%2　排名依据：%3")
                                   .arg(shownChoice(cmbxTerm), scopeText, RankMeasureName(request.measure));
    struct Result
    {
        Rankings rankings;
        ResultTable table;
    };
    auto result = std::make_shared<Result>();
    lblStatus->setText(QString());
    runner->start([=](ReadConnection &c) {
                      result->rankings = ComputeRankings(c, request);
                      result->table = RankingTable(result->rankings);
                  },
                  [this, result, filterText](const QString &error) {
                      if (!error.isEmpty()) {
                          lblStatus->setText(QStringLiteral("排名没有完成。"));
                          ReportError(error);
                          return;
                      }
                      m_rankings = std::move(result->rankings);
                      m_hasRankings = true;
                      m_filterText = filterText;
                      int ranked = 0;
                      for (const StudentRanking &s : m_rankings.students)
                          ranked += s.rank > 0 ? 1 : 0;
                      DBGrid1->setTable(result->table, printCaption());
                      lblStatus->setText(
                          m_rankings.students.isEmpty()
                              ? QStringLiteral("没有符合条件的学生。")
                              : QStringLiteral("共 %1 名学生，其中 %2 名有排名；没有成绩的学生列在各范围之后。及格线 %3 分。")
                                    .arg(m_rankings.students.size())
                                    .arg(ranked)
                                    .arg(m_rankings.request.settings.thresholds.pass));
                  });
}

QVariant TfrmScoreRanking::cellLook(int student, int column, int role) const
{
    if (!m_hasRankings || student < 0 || student >= m_rankings.students.size())
        return {};
    const StudentRanking &s = m_rankings.students[student];
    const double pass = m_rankings.request.settings.thresholds.pass;
    if (role == Qt::BackgroundRole && s.rank >= 1 && s.rank <= 3) {
        static const QColor medals[] = {QColor(255, 226, 140), QColor(226, 230, 236), QColor(240, 208, 176)};
        return medals[s.rank - 1];
    }
    const QString name = DBGrid1->table().columns().value(column).name;
    if (role == Qt::FontRole && name == QStringLiteral("名次") && s.rank >= 1 && s.rank <= 3) {
        QFont bold = DBGrid1->font();
        bold.setBold(true);
        return bold;
    }
    if (role == Qt::ForegroundRole) {
        const StudentTotals &t = s.totals;
        const bool failed = (name == QStringLiteral("平均分") && t.average && *t.average < pass)
                            || (name == QStringLiteral("学分加权平均分") && t.weightedAverage && *t.weightedAverage < pass)
                            || (name == QStringLiteral("不及格门数") && t.failedSubjects > 0);
        if (failed)
            return QColor(200, 0, 0);
    }
    return {};
}

QString TfrmScoreRanking::currentStudentText() const
{
    const int i = DBGrid1->currentTag();
    if (!m_hasRankings || i < 0 || i >= m_rankings.students.size())
        return {};
    const StudentRanking &s = m_rankings.students[i];
    return s.studentId + QLatin1Char(' ') + s.name;
}

void TfrmScoreRanking::updateTrend()
{
    const int i = DBGrid1->currentTag();
    m_trendStudent = currentStudentText();
    m_trend.clear();
    if (m_hasRankings && i >= 0 && i < m_rankings.students.size())
        m_trend = StudentTermAverages(connection(), m_rankings.students[i].studentId);
    setChart(ChartTrend, MakeTrendChart(m_trendStudent, m_trend));
}

QString TfrmScoreRanking::printCaption() const
{
    return QStringLiteral("成绩排名　") + m_filterText;
}

void TfrmScoreRanking::FormClose()
{
    m_termRunner->cancel();
    TfrmStatsBase::FormClose();
    frmScoreRanking = nullptr;
}
