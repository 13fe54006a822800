#pragma once
// 成绩排名: each student's totals for a term (or all terms), ranked within
// their class, college or the whole school by one measure, ties as in
// competitions; the top three of each scope marked, marks below the pass
// line in red; beside the grid, the current student's average by term.
#include "data/stats/Rankings.h"
#include "forms/stats/StatsBase_Unit.h"
#include "gui/TablePrinter.h"

#include <QPointer>

class QChartView;
class QComboBox;
class QLabel;
class ResultGrid;

class TfrmScoreRanking : public TfrmStatsBase
{
    Q_OBJECT
public:
    explicit TfrmScoreRanking(QWidget *owner);

    QLabel *lblTerm = nullptr;
    QComboBox *cmbxTerm = nullptr;
    QLabel *lblScope = nullptr;
    QComboBox *cmbxScope = nullptr;    // 班级, 学院, 全校
    QLabel *lblCollege = nullptr;
    QComboBox *cmbxCollege = nullptr;  // with 学院 or 班级
    QLabel *lblClass = nullptr;
    QComboBox *cmbxClass = nullptr;    // with 班级
    QLabel *lblMeasure = nullptr;
    QComboBox *cmbxMeasure = nullptr;  // 总分, 平均分, 学分加权平均分, 绩点
    ResultGrid *DBGrid1 = nullptr;
    QChartView *ChartTrend = nullptr;

    void FormCreate() override;
    void compute();
    const stats::Rankings &rankings() const { return m_rankings; }
    QString printCaption() const;

    // The looks of a cell: the top three of a scope, marks below the pass line.
    QVariant cellLook(int student, int column, int role) const;

protected:
    void FormClose() override;
    void settingsChanged() override { compute(); }

private:
    void scopeChanged();
    void collegeChanged();
    void updateTrend();
    QString currentStudentText() const;

    stats::Rankings m_rankings;
    bool m_hasRankings = false;
    QString m_filterText;
    QString m_trendStudent;
    QList<stats::TermAverage> m_trend;
    WorkRunner *m_termRunner = nullptr;
};

extern QPointer<TfrmScoreRanking> frmScoreRanking;
