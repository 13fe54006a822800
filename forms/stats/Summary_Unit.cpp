#include "forms/stats/Summary_Unit.h"

#include "data/stats/Summaries.h"
#include "gui/GridExport.h"
#include "gui/Shell_Unit.h"
#include "gui/stats/ResultGrid.h"
#include "gui/stats/WorkRunner.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>
#include <memory>

using namespace stats;

QPointer<TfrmSummary> frmSummary;

namespace {

const QList<HeadcountGrouping> headcountGroupings = {HeadcountGrouping::College, HeadcountGrouping::Class,
                                                     HeadcountGrouping::Sex, HeadcountGrouping::EntryYear};

void setCaption(ResultGrid *grid, const std::function<QString()> &caption)
{
    auto *extras = new GridPrintExtras(grid);
    extras->caption = caption;
}

// A grid under its title, the pair filling its part of a page.
QWidget *titled(QWidget *parent, QLabel *title, QWidget *grid)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    if (title)
        layout->addWidget(title);
    layout->addWidget(grid, 1);
    return box;
}

}

TfrmSummary::TfrmSummary(QWidget *owner) : TfrmStatsBase(owner)
{
    setObjectName(QStringLiteral("frmSummary"));
    setWindowTitle(QStringLiteral("汇总"));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl1->addTab(TabSheet1, QStringLiteral("缴费汇总"));
    PageControl1->addTab(TabSheet2, QStringLiteral("宿舍汇总"));
    PageControl1->addTab(TabSheet3, QStringLiteral("学生人数"));

    auto grid = [this](const char *name, const char *source, QWidget *page) {
        auto *g = new ResultGrid(QString::fromLatin1(source), page);
        g->setObjectName(QString::fromLatin1(name));
        g->setMinimumSize(720, 200);
        return g;
    };
    auto title = [](const char *name, const QString &text, QWidget *page) {
        auto *l = new QLabel(text, page);
        l->setObjectName(QString::fromLatin1(name));
        QFont bold = l->font();
        bold.setBold(true);
        l->setFont(bold);
        return l;
    };

    // 缴费汇总
    cmbxClass = makeList("cmbxClass", [this] { computeFees(); });
    cmbxClass->setMinimumContentsLength(14);
    cmbxPriceName = makeList("cmbxPriceName", [this] { computeFees(); });
    lblClass = makeLabel("lblClass", QStringLiteral("班级："), cmbxClass);
    lblPriceName = makeLabel("lblPriceName", QStringLiteral("缴费项目："), cmbxPriceName);
    DBGrid1 = grid("DBGrid1", "DataFeeSummary", TabSheet1);
    DBGrid2 = grid("DBGrid2", "DataUnpaid", TabSheet1);
    lblUnpaid = title("lblUnpaid", QStringLiteral("欠费名单"), TabSheet1);
    setCaption(DBGrid1, [this] { return QStringLiteral("缴费汇总　") + m_feeCaption; });
    setCaption(DBGrid2, [this] { return QStringLiteral("欠费名单　") + m_feeCaption; });
    auto *feeSplit = new QSplitter(Qt::Vertical, TabSheet1);
    feeSplit->setChildrenCollapsible(false);
    feeSplit->addWidget(titled(feeSplit, nullptr, DBGrid1));
    feeSplit->addWidget(titled(feeSplit, lblUnpaid, DBGrid2));
    auto *feeLayout = new QVBoxLayout(TabSheet1);
    feeLayout->addLayout(filterRow({lblClass, cmbxClass, lblPriceName, cmbxPriceName}, false));
    feeLayout->addWidget(feeSplit, 1);

    // 宿舍汇总
    DBGrid3 = grid("DBGrid3", "DataDormSummary", TabSheet2);
    DBGrid4 = grid("DBGrid4", "DataNoDorm", TabSheet2);
    lblNoDorm = title("lblNoDorm", QStringLiteral("没有宿舍的学生"), TabSheet2);
    setCaption(DBGrid3, [] { return QStringLiteral("宿舍汇总"); });
    setCaption(DBGrid4, [] { return QStringLiteral("没有宿舍的学生"); });
    auto *dormSplit = new QSplitter(Qt::Vertical, TabSheet2);
    dormSplit->setChildrenCollapsible(false);
    dormSplit->addWidget(titled(dormSplit, nullptr, DBGrid3));
    dormSplit->addWidget(titled(dormSplit, lblNoDorm, DBGrid4));
    auto *dormLayout = new QVBoxLayout(TabSheet2);
    dormLayout->addWidget(dormSplit, 1);

    // 学生人数
    cmbxHeadcount = makeList("cmbxHeadcount", [this] { computeHeadcount(); });
    for (const HeadcountGrouping g : headcountGroupings)
        cmbxHeadcount->addItem(HeadcountGroupingName(g));
    lblHeadcount = makeLabel("lblHeadcount", QStringLiteral("分组："), cmbxHeadcount);
    DBGrid5 = grid("DBGrid5", "DataHeadcount", TabSheet3);
    setCaption(DBGrid5, [this] { return QStringLiteral("学生人数　") + m_headcountCaption; });
    auto *countLayout = new QVBoxLayout(TabSheet3);
    countLayout->addLayout(filterRow({lblHeadcount, cmbxHeadcount}, false));
    countLayout->addWidget(DBGrid5, 1);

    m_dormRunner = new WorkRunner(indicator, this);
    m_headcountRunner = new WorkRunner(indicator, this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(statusRow());
    btnSettings->hide();  // nothing here depends on the statistics' settings

    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) { Guarded([&] { pageShown(page); }); });
}

void TfrmSummary::FormCreate()
{
    fillEntries(cmbxClass, QStringLiteral("Select * From ClassInfo"), QStringLiteral("ClassID"),
                QStringLiteral("ClaName"));
    // The fee items: the standard four at once, any other stored name once read.
    fillTexts(cmbxPriceName, {QStringLiteral("学费"), QStringLiteral("书本费"), QStringLiteral("工本费"),
                              QStringLiteral("其他费用")});
    pageShown(PageControl1->currentIndex());
}

void TfrmSummary::pageShown(int page)
{
    if (page < 0 || page >= m_computed.size() || m_computed[page])
        return;
    m_computed[page] = true;
    if (page == 0)
        computeFees();
    else if (page == 1)
        computeDorms();
    else
        computeHeadcount();
}

QString TfrmSummary::feeFilterText() const
{
    return QStringLiteral("班级：%1　缴费项目：%2").arg(shownChoice(cmbxClass), shownChoice(cmbxPriceName));
}

void TfrmSummary::computeFees()
{
    const FeeFilter filter{chosenNumber(cmbxClass), chosenText(cmbxPriceName)};
    const QString caption = feeFilterText();
    struct Result
    {
        ResultTable fees;
        ResultTable unpaid;
        QStringList items;
    };
    auto result = std::make_shared<Result>();
    lblStatus->setText(QString());
    runner->start(
        [filter, result](ReadConnection &c) {
            result->items = FeeItems(c);
            result->fees = FeeSummary(c, filter);
            result->unpaid = UnpaidStudents(c, filter);
        },
        [this, result, caption](const QString &error) {
            if (!error.isEmpty()) {
                ReportError(error);
                return;
            }
            m_feeCaption = caption;
            fillTexts(cmbxPriceName, result->items);
            DBGrid1->setTable(result->fees, QStringLiteral("缴费汇总"));
            DBGrid2->setTable(result->unpaid, QStringLiteral("欠费名单"));
            lblUnpaid->setText(QStringLiteral("欠费名单（%1）：%2 名学生没有缴费记录")
                                   .arg(caption)
                                   .arg(result->unpaid.rowCount()));
        });
}

void TfrmSummary::computeDorms()
{
    struct Result
    {
        ResultTable dorms;
        ResultTable homeless;
    };
    auto result = std::make_shared<Result>();
    m_dormRunner->start(
        [result](ReadConnection &c) {
            result->dorms = DormSummary(c);
            result->homeless = StudentsWithoutDorm(c);
        },
        [this, result](const QString &error) {
            if (!error.isEmpty()) {
                ReportError(error);
                return;
            }
            DBGrid3->setTable(result->dorms, QStringLiteral("宿舍汇总"));
            DBGrid4->setTable(result->homeless, QStringLiteral("没有宿舍的学生"));
            lblNoDorm->setText(QStringLiteral("没有宿舍的学生（%1 名）").arg(result->homeless.rowCount()));
        });
}

void TfrmSummary::computeHeadcount()
{
    const HeadcountGrouping grouping = headcountGroupings.value(cmbxHeadcount->currentIndex());
    const QString caption = QStringLiteral("分组：%1").arg(HeadcountGroupingName(grouping));
    auto result = std::make_shared<ResultTable>();
    m_headcountRunner->start([grouping, result](ReadConnection &c) { *result = StudentHeadcount(c, grouping); },
                             [this, result, caption](const QString &error) {
                                 if (!error.isEmpty()) {
                                     ReportError(error);
                                     return;
                                 }
                                 m_headcountCaption = caption;
                                 DBGrid5->setTable(*result, QStringLiteral("学生人数"));
                             });
}

void TfrmSummary::FormClose()
{
    m_dormRunner->cancel();
    m_headcountRunner->cancel();
    TfrmStatsBase::FormClose();
    frmSummary = nullptr;
}
