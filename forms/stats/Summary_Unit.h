#pragma once
// 汇总: one page per summary. 缴费汇总: per class and fee item the students
// who paid, the sum and the average, and the students of the chosen class who
// have not paid the chosen item (欠费名单). 宿舍汇总: each dormitory with its
// occupants, and the students without a place. 学生人数: per college,
// class, sex or year of entry.
#include "forms/stats/StatsBase_Unit.h"

#include <QPointer>

class QComboBox;
class QLabel;
class QTabWidget;
class ResultGrid;

class TfrmSummary : public TfrmStatsBase
{
    Q_OBJECT
public:
    explicit TfrmSummary(QWidget *owner);

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;  // 缴费汇总
    QWidget *TabSheet2 = nullptr;  // 宿舍汇总
    QWidget *TabSheet3 = nullptr;  // 学生人数

    QLabel *lblClass = nullptr;
    QComboBox *cmbxClass = nullptr;
    QLabel *lblPriceName = nullptr;
    QComboBox *cmbxPriceName = nullptr;
    ResultGrid *DBGrid1 = nullptr;  // fees per class and item
    QLabel *lblUnpaid = nullptr;
    ResultGrid *DBGrid2 = nullptr;  // 欠费名单

    ResultGrid *DBGrid3 = nullptr;  // dormitories
    QLabel *lblNoDorm = nullptr;
    ResultGrid *DBGrid4 = nullptr;  // students without a place

    QLabel *lblHeadcount = nullptr;
    QComboBox *cmbxHeadcount = nullptr;  // 学院, 班级, 性别, 入学年份
    ResultGrid *DBGrid5 = nullptr;

    void FormCreate() override;
    // Computes the page shown (each page when it is first shown and when its lists change).
    void computeFees();
    void computeDorms();
    void computeHeadcount();

protected:
    void FormClose() override;

private:
    void pageShown(int page);
    QString feeFilterText() const;

    QList<bool> m_computed = {false, false, false};
    WorkRunner *m_dormRunner = nullptr;
    WorkRunner *m_headcountRunner = nullptr;
    QString m_feeCaption;
    QString m_headcountCaption;
};

extern QPointer<TfrmSummary> frmSummary;
