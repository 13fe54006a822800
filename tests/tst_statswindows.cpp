// The statistics windows driven through the main window's menu 统计分析(&T)
// with real keys and clicks, on the small school of support/StatsFixture:
// filters, groups and their figures, sorting by a column title, the score
// window opened on a group's rows, charts that follow the selection, the
// printout with its filters and charts (read back with pdftotext), rankings
// with their colours and trend, the settings dialog, the summaries, and the
// work that runs beside the window and is cancelled by a change.
#include "app/DM_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/SettingsClient.h"
#include "forms/stats/ScoreRanking_Unit.h"
#include "forms/stats/ScoreStatistics_Unit.h"
#include "forms/stats/StatsSettings_Unit.h"
#include "forms/stats/Summary_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/GridExport.h"
#include "gui/SaveFileDialog.h"
#include "gui/stats/ResultGrid.h"
#include "gui/stats/WorkRunner.h"
#include "support/GuiHelpers.h"
#include "support/PdfProbe.h"
#include "support/StatsFixture.h"
#include "support/TestWorkspace.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBoxPlotSeries>
#include <QBoxSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

using testsupport::MessageRecorder;
using testsupport::TestWorkspace;

namespace {

QStringList items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// Chooses an entry with the keyboard, as a user does: Home, then Down.
void choose(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(box, Qt::Key_Down);
    QCOMPARE(box->currentText(), text);
}

int columnOf(const QAbstractItemView *grid, const QString &title)
{
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        if (grid->model()->headerData(c, Qt::Horizontal).toString() == title)
            return c;
    return -1;
}

QString cell(const QAbstractItemView *grid, int row, const QString &title)
{
    return grid->model()->index(row, columnOf(grid, title)).data().toString();
}

QStringList column(const QAbstractItemView *grid, const QString &title)
{
    QStringList list;
    for (int r = 0; r < grid->model()->rowCount(); ++r)
        list << cell(grid, r, title);
    return list;
}

QPoint cellCenter(const QTableView *grid, int row, int column)
{
    return grid->visualRect(grid->model()->index(row, column)).center();
}

void clickRow(QTableView *grid, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    grid->scrollTo(grid->model()->index(row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cellCenter(grid, row, 1));
}

// A double-click as a mouse makes it: press and release, then the second press.
void doubleClickRow(QTableView *grid, int row)
{
    grid->scrollTo(grid->model()->index(row, 1));
    const QPoint at = cellCenter(grid, row, 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
}

void clickTitle(QTableView *grid, const QString &title)
{
    QHeaderView *header = grid->horizontalHeader();
    const int c = columnOf(grid, title);
    grid->scrollTo(grid->model()->index(0, c));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(c) + header->sectionSize(c) / 2, header->height() / 2));
}

QList<qreal> barValues(QChartView *view, int set = 0)
{
    QList<qreal> values;
    for (QAbstractSeries *s : view->chart()->series())
        if (auto *bars = qobject_cast<QBarSeries *>(s))
            for (int i = 0; i < bars->barSets().at(set)->count(); ++i)
                values << bars->barSets().at(set)->at(i);
    return values;
}

QStringList categories(QChartView *view)
{
    for (QAbstractAxis *axis : view->chart()->axes(Qt::Horizontal))
        if (auto *c = qobject_cast<QBarCategoryAxis *>(axis))
            return c->categories();
    return {};
}

}

class StatsWindowsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<MessageRecorder> recorder;
    TDM *dm = nullptr;
    QString savePath;

    template<typename T>
    T *open(const char *menu, const QPointer<T> &window)
    {
        frmTeachMain->menuItem(QString::fromLatin1(menu))->trigger();
        QCoreApplication::processEvents();
        if (window && window->runner)
            window->runner->waitUntilIdle();
        return window.data();
    }
    static void settle(TfrmStatsBase *w) { QVERIFY(w->runner->waitUntilIdle()); }

    // The term list is read beside the first computation.
    static bool termsRead(TfrmStatsBase *w, QComboBox *terms)
    {
        w->runner->waitUntilIdle();
        return QTest::qWaitFor([&] { return terms->count() > 1; }, 5000);
    }
    TfrmScoreStatistics *firstTerm()
    {
        TfrmScoreStatistics *w = open("T2", frmScoreStatistics);
        if (!termsRead(w, w->cmbxTerm))
            qWarning("no terms");
        choose(w->cmbxTerm, QStringLiteral("第一学期"));
        settle(w);
        return w;
    }
    // A grid's export or print command from its right-click menu, into savePath.
    void exportFromMenu(DataGrid *grid, const char *action)
    {
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(grid, grid));
        QAction *a = menu->findChild<QAction *>(QString::fromLatin1(action));
        QVERIFY(a && a->isEnabled());
        a->trigger();
    }

private slots:
    void initTestCase() { dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d")); }

    void init()
    {
        ws = std::make_unique<TestWorkspace>();
        ws->exec(QString::fromUtf8(testsupport::statsSeedRows()));
        // The school's name beside the connection the workspace wrote (a file or a server).
        QFile ini(ws->iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        ws->writeIni(ini.readAll() + QStringLiteral("\n[Info]\nSchoolName=第一实验学校\n").toUtf8());
        ResetApplicationEndForTesting();
        recorder = std::make_unique<MessageRecorder>();
        new TfrmTeachMain;
        dm = new TDM;
        QVERIFY(dm->ADOConn.isOpen());
        testsupport::showMainWindowLoggedIn();
        frmTeachMain->resize(1400, 900);
        savePath = ws->dir() + QStringLiteral("/out");
        SetSaveFileNameHandler([this](QWidget *, const QString &, const QString &, const QString &) { return savePath; });
    }

    void cleanup()
    {
        WorkRunner::setStartDelayForTesting(0);
        SetSaveFileNameHandler({});
        delete frmTeachMain;
        delete dm;
        dm = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        recorder.reset();
        ws.reset();
    }

    void menuOpensOneWindowOfEachKind_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("caption");
        QTest::newRow("statistics") << "T2" << "成绩统计";
        QTest::newRow("rankings") << "T3" << "成绩排名";
        QTest::newRow("summaries") << "T4" << "汇总";
    }
    void menuOpensOneWindowOfEachKind()
    {
        QFETCH(QString, menu);
        QFETCH(QString, caption);
        auto window = [&]() -> TfrmStatsBase * {
            if (menu == "T2")
                return frmScoreStatistics;
            if (menu == "T3")
                return frmScoreRanking;
            return frmSummary;
        };
        frmTeachMain->menuItem(menu)->trigger();
        QPointer<TfrmStatsBase> first = window();
        QVERIFY(first);
        QCOMPARE(first->windowTitle(), caption);
        settle(first);
        frmTeachMain->menuItem(menu)->trigger();
        QCOMPARE(window(), first.data());
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 1);
        // Fits the workspace, centred.
        QMdiSubWindow *sub = first->mdiSubWindow();
        const QRect area = frmTeachMain->mdiArea()->viewport()->rect();
        QVERIFY(area.contains(sub->geometry()));
        QVERIFY(qAbs(sub->geometry().center().x() - area.center().x()) <= 1);
        first->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
        QVERIFY(!window());
        QCOMPARE(recorder->messages.size(), 0);
    }

    void statisticsFollowTheFilters()
    {
        TfrmScoreStatistics *w = open("T2", frmScoreStatistics);
        QVERIFY(termsRead(w, w->cmbxTerm));
        QCOMPARE(items(w->cmbxTerm), (QStringList{"全部", "第一学期", "第二学期", "第三学期", "第十学期"}));
        QCOMPARE(items(w->cmbxGrouping), (QStringList{"班级 × 课程", "班级", "课程", "学院"}));
        QCOMPARE(items(w->cmbxCollege), (QStringList{"全部", "2007001.计算机学院", "2007002.外语学院"}));
        choose(w->cmbxTerm, QStringLiteral("第一学期"));
        settle(w);
        QCOMPARE(w->DBGrid1->model()->rowCount(), 8);
        QStringList first;
        for (const char *title : {"班级编号", "班级名称", "课程名称", "人数", "缺考", "平均分", "标准差", "中位数",
                                     "及格率", "优秀率", "80–89", "90–100"})
            first << cell(w->DBGrid1, 0, title);
        QCOMPARE(first, (QStringList{"2007001", "一班", "数学", "2", "1", "87.5", "7.5", "87.5", "100.0 %", "50.0 %",
                                     "1", "1"}));
        QCOMPARE(w->lblStatus->text(), QStringLiteral("共 8 组，10 个成绩，缺考 2 个。及格线 60 分，优秀线 85 分。"));

        // A college narrows the classes offered and the groups.
        choose(w->cmbxCollege, QStringLiteral("2007002.外语学院"));
        settle(w);
        QCOMPARE(items(w->cmbxClass), (QStringList{"全部", "2007003.英语班"}));
        QCOMPARE(column(w->DBGrid1, "课程名称"), (QStringList{"数学", "语文", "体育"}));
        choose(w->cmbxGrouping, QStringLiteral("学院"));
        settle(w);
        QCOMPARE(column(w->DBGrid1, "学院名称"), QStringList{"外语学院"});
        QCOMPARE(cell(w->DBGrid1, 0, "人数") + "/" + cell(w->DBGrid1, 0, "缺考"), QStringLiteral("2/1"));
        // A term without marks.
        ws->exec("UPDATE Score SET Term = '第四学期' WHERE Term = '第十学期'");
        w->closeWindow();
        w = open("T2", frmScoreStatistics);
        QVERIFY(termsRead(w, w->cmbxTerm));
        choose(w->cmbxTerm, QStringLiteral("第四学期"));
        settle(w);
        choose(w->cmbxClass, QStringLiteral("2007001.一班"));
        settle(w);
        QCOMPARE(w->DBGrid1->model()->rowCount(), 0);
        QCOMPARE(w->lblStatus->text(), QStringLiteral("没有符合条件的成绩。"));
        QCOMPARE(recorder->messages.size(), 0);
    }

    void aTitleClickSortsAndExportsTakeThatOrder()
    {
        TfrmScoreStatistics *w = firstTerm();
        clickRow(w->DBGrid1, 0);  // 一班 数学, 87.5
        clickTitle(w->DBGrid1, QStringLiteral("平均分"));
        QCOMPARE(column(w->DBGrid1, "平均分"), (QStringList{"45.0", "59.5", "60.0", "66.7", "70.0", "87.5", "95.0", ""}));
        clickTitle(w->DBGrid1, QStringLiteral("平均分"));
        QCOMPARE(column(w->DBGrid1, "平均分"), (QStringList{"95.0", "87.5", "70.0", "66.7", "60.0", "59.5", "45.0", ""}));
        // The title shows that order: the table's own sort, not the record set's.
        const QHeaderView *header = w->DBGrid1->horizontalHeader();
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(header->model()->headerData(header->sortIndicatorSection(), Qt::Horizontal).toString(),
                 QStringLiteral("平均分"));
        // The group chosen before stays chosen.
        QCOMPARE(w->DBGrid1->currentIndex().row(), 1);
        QCOMPARE(w->DBGrid1->currentTag(), 0);
        exportFromMenu(w->DBGrid1, "actExportCsv");
        QFile csv(savePath + ".csv");
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 9);
        QVERIFY(lines[1].startsWith(QStringLiteral("2007003,英语班,2007003,体育,1,0,95.0,")));
        QVERIFY(lines[2].contains(QStringLiteral(",87.5,95.0,80.0,7.5,87.5,2,100.0 %,1,50.0 %,0,0,0,1,1")));
        QCOMPARE(recorder->texts().size(), 1);  // "已将 8 行导出到文件 …"
    }

    void doubleClickShowsTheGroupsRowsInTheScoreWindow()
    {
        TfrmScoreStatistics *w = firstTerm();
        doubleClickRow(w->DBGrid1, 1);
        QVERIFY(frmStudentScore);
        QCOMPARE(frmStudentScore->PageControl1->currentWidget(), frmStudentScore->TabSheet2);
        const QString statement = QStringLiteral(
            "Select B.* From Score B where B.Term ='第一学期' and B.ClassID ='2007001' and B.SubjectID ='2007002'");
        QCOMPARE(frmStudentScore->findPage->edtStatement->text(), statement);
        QCOMPARE(column(frmStudentScore->DBGrid2, "分数"), (QStringList{"65", "80", "55"}));

        // Another group, the same score window; a group of empty marks too.
        doubleClickRow(w->DBGrid1, 4);
        QCOMPARE(frmTeachMain->mdiArea()->subWindowList().size(), 2);
        QCOMPARE(column(frmStudentScore->DBGrid2, "分数"), QStringList{""});
        // The page's own find shows its own statement.
        choose(frmStudentScore->cmbxItems, QStringLiteral("学号"));
        choose(frmStudentScore->cmbxCondition, QStringLiteral("="));
        frmStudentScore->cmbxValues->setEditText(QStringLiteral("2007007"));
        QTest::mouseClick(frmStudentScore->btnFind, Qt::LeftButton);
        QCOMPARE(frmStudentScore->findPage->edtStatement->text(), frmStudentScore->findPage->statement());
        QCOMPARE(frmStudentScore->DBGrid2->model()->rowCount(), 2);
        QCOMPARE(recorder->messages.size(), 0);
    }

    void chartsFollowTheSelection()
    {
        TfrmScoreStatistics *w = firstTerm();
        clickRow(w->DBGrid1, 0);
        QCOMPARE(w->ChartBands->chart()->title(), QStringLiteral("分数段分布：一班·数学"));
        QCOMPARE(barValues(w->ChartBands), (QList<qreal>{0, 0, 0, 1, 1}));
        QCOMPARE(categories(w->ChartBands), (QStringList{"&lt;60", "60–69", "70–79", "80–89", "90–100"}));
        QCOMPARE(w->ChartAverages->chart()->title(), QStringLiteral("各组平均分与及格率"));
        QCOMPARE(barValues(w->ChartAverages), (QList<qreal>{87.5, 66.7, 60, 59.5, 0, 95, 70, 45}));
        QCOMPARE(categories(w->ChartAverages).size(), 8);
        auto *boxes = qobject_cast<QBoxPlotSeries *>(w->ChartBoxPlot->chart()->series().value(0));
        QVERIFY(boxes);
        QCOMPARE(boxes->count(), 7);  // the group of empty marks has no box
        QBoxSet *box = boxes->boxSets().first();
        QCOMPARE((QList<qreal>{box->at(QBoxSet::LowerExtreme), box->at(QBoxSet::LowerQuartile), box->at(QBoxSet::Median),
                               box->at(QBoxSet::UpperQuartile), box->at(QBoxSet::UpperExtreme)}),
                 (QList<qreal>{80, 83.75, 87.5, 91.25, 95}));

        clickRow(w->DBGrid1, 2);
        QCOMPARE(w->ChartBands->chart()->title(), QStringLiteral("分数段分布：二班·数学"));
        QCOMPARE(barValues(w->ChartBands), (QList<qreal>{0, 1, 0, 0, 0}));
        clickRow(w->DBGrid1, 5, Qt::ControlModifier);
        QCOMPARE(w->ChartAverages->chart()->title(), QStringLiteral("各组平均分与及格率（所选 2 组）"));
        QCOMPARE(barValues(w->ChartAverages), (QList<qreal>{60, 95}));
        QCOMPARE(categories(w->ChartBoxPlot), (QStringList{"二班<br>数学", "英语班<br>体育"}));
    }

    // Print and PDF: the filters in the caption, the table, the charts below it as text.
    void printoutCarriesFiltersTableAndCharts()
    {
        TfrmScoreStatistics *w = firstTerm();
        choose(w->cmbxCollege, QStringLiteral("2007001.计算机学院"));
        settle(w);
        clickRow(w->DBGrid1, 0);
        exportFromMenu(w->DBGrid1, "actExportPdf");
        const QStringList pages = testsupport::pdfPages(savePath + ".pdf");
        QVERIFY(pages.size() >= 2);
        const QString all = pages.join(QString());
        for (const char *text :
             {"成绩统计　学期：第一学期　学院：2007001.计算机学院　班级：全部　课程：全部　分组：班级 × 课程", "87.5",
              "分数段分布：一班·数学", "分数段", "<60", "90–100", "各组平均分与及格率", "及格率（%）",
              "各组成绩箱线图", "二班"})
            QVERIFY2(all.contains(QString::fromUtf8(text).replace(QChar(0x3000), QLatin1Char(' '))), text);
        // Rates as shown; a narrow column may put the sign on the next line.
        for (const char *rate : {"100\\.0\\s*%", "66\\.7\\s*%", "50\\.0\\s*%"})
            QVERIFY2(all.contains(QRegularExpression(QString::fromLatin1(rate))), rate);
        for (int p = 0; p < pages.size(); ++p) {
            QVERIFY(pages[p].contains(QStringLiteral("第一实验学校")));
            QString squeezed = pages[p];
            squeezed.remove(QRegularExpression(QStringLiteral("\\s")));
            QVERIFY2(squeezed.contains(QStringLiteral("第%1页/共%2页").arg(p + 1).arg(pages.size())),
                     qPrintable(pages[p].right(300)));
        }
        // The charts come after the table: the last table row before the first chart title.
        QVERIFY(all.indexOf(QStringLiteral("二班")) < all.indexOf(QStringLiteral("分数段分布")));
        QCOMPARE(recorder->messages.size(), 1);
    }

    void rankingsWithinScopesWithColours()
    {
        TfrmScoreRanking *w = open("T3", frmScoreRanking);
        QVERIFY(termsRead(w, w->cmbxTerm));
        QCOMPARE(items(w->cmbxScope), (QStringList{"班级", "学院", "全校"}));
        QCOMPARE(items(w->cmbxMeasure), (QStringList{"总分", "平均分", "学分加权平均分", "绩点"}));
        choose(w->cmbxTerm, QStringLiteral("第一学期"));
        settle(w);
        QCOMPARE(column(w->DBGrid1, "学号"),
                 (QStringList{"2007001", "2007002", "2007003", "2007004", "2007006", "2007007", "2007005"}));
        QCOMPARE(column(w->DBGrid1, "名次"), (QStringList{"1", "1", "3", "1", "", "", "1"}));

        choose(w->cmbxScope, QStringLiteral("全校"));
        settle(w);
        QVERIFY(!w->cmbxCollege->isEnabled() && !w->cmbxClass->isEnabled());
        QCOMPARE(column(w->DBGrid1, "名次"), (QStringList{"1", "1", "3", "4", "5", "", ""}));
        QCOMPARE(cell(w->DBGrid1, 4, "姓名"), QStringLiteral("丙"));
        choose(w->cmbxScope, QStringLiteral("学院"));
        settle(w);
        QVERIFY(w->cmbxCollege->isEnabled() && !w->cmbxClass->isEnabled());
        choose(w->cmbxMeasure, QStringLiteral("学分加权平均分"));
        settle(w);
        QCOMPARE(column(w->DBGrid1, "名次"), (QStringList{"1", "2", "3", "4", "", "", "1"}));

        // Colours, as painted: the first place gold, a failed average red.
        clickRow(w->DBGrid1, 5);
        QApplication::processEvents();
        const QImage shot = w->DBGrid1->viewport()->grab().toImage();
        const QRect first = w->DBGrid1->visualRect(w->DBGrid1->model()->index(0, columnOf(w->DBGrid1, "姓名")));
        QCOMPARE(shot.pixelColor(first.left() + 3, first.center().y()), QColor(255, 226, 140));
        const QRect unranked = w->DBGrid1->visualRect(w->DBGrid1->model()->index(4, columnOf(w->DBGrid1, "姓名")));
        QVERIFY(shot.pixelColor(unranked.left() + 3, unranked.center().y()) != QColor(255, 226, 140));
        auto hasRed = [&](int row, const char *title) {
            const QRect r = w->DBGrid1->visualRect(w->DBGrid1->model()->index(row, columnOf(w->DBGrid1, title)));
            for (int x = r.left(); x < r.right(); ++x)
                for (int y = r.top(); y < r.bottom(); ++y) {
                    const QColor c = shot.pixelColor(x, y);
                    if (c.red() > 150 && c.green() < 80 && c.blue() < 80)
                        return true;
                }
            return false;
        };
        QCOMPARE(cell(w->DBGrid1, 3, "姓名"), QStringLiteral("丙"));
        QVERIFY(hasRed(3, "平均分"));     // 55 below 60
        QVERIFY(hasRed(3, "不及格门数"));
        QVERIFY(!hasRed(0, "平均分"));    // 80
        QCOMPARE(recorder->messages.size(), 0);
    }

    void trendFollowsTheCurrentStudentAndPrints()
    {
        TfrmScoreRanking *w = open("T3", frmScoreRanking);
        choose(w->cmbxScope, QStringLiteral("全校"));
        settle(w);
        const int row = int(column(w->DBGrid1, "学号").indexOf(QStringLiteral("2007007")));
        clickRow(w->DBGrid1, row);
        QCOMPARE(w->ChartTrend->chart()->title(), QStringLiteral("2007007 庚 各学期平均分"));
        auto *line = qobject_cast<QLineSeries *>(w->ChartTrend->chart()->series().value(0));
        QVERIFY(line);
        QCOMPARE(line->points(), (QList<QPointF>{{0, 66}, {1, 70}}));
        QCategoryAxis *terms = nullptr;
        for (QAbstractAxis *a : w->ChartTrend->chart()->axes(Qt::Horizontal))
            terms = terms ? terms : qobject_cast<QCategoryAxis *>(a);
        QVERIFY(terms);
        QCOMPARE(terms->categoriesLabels(), (QStringList{"第二学期", "第三学期"}));

        exportFromMenu(w->DBGrid1, "actExportPdf");
        const QString text = testsupport::pdfText(savePath + ".pdf");
        for (const char *t : {"成绩排名　学期：全部　范围：全校　排名依据：总分", "2007007 庚 各学期平均分", "第二学期",
                                 "第三学期", "学分加权平均分", "68.5"})
            QVERIFY2(text.contains(QString::fromUtf8(t).replace(QChar(0x3000), QLatin1Char(' '))), t);
    }

    void settingsAreStoredAndTheWindowsFollow()
    {
        TfrmScoreStatistics *w = firstTerm();
        choose(w->cmbxClass, QStringLiteral("2007001.一班"));
        choose(w->cmbxSubject, QStringLiteral("2007002.语文"));
        settle(w);
        QCOMPARE(column(w->DBGrid1, "及格率"), QStringList{"66.7 %"});

        bool shown = false;
        testsupport::whenModal<TfrmStatsSettings>([&](TfrmStatsSettings *d) {
            shown = true;
            QCOMPARE(d->windowTitle(), QStringLiteral("统计设置"));
            QCOMPARE(d->edtPassMark->value(), 60.0);
            QVERIFY(d->rbFourPoint->isChecked());
            d->edtPassMark->setFocus();
            d->edtPassMark->selectAll();
            QTest::keyClicks(d->edtPassMark, QStringLiteral("70"));
            QTest::keyClick(d->edtPassMark, Qt::Key_Tab);
            QTest::mouseClick(d->rbLinear, Qt::LeftButton, {}, QPoint(8, d->rbLinear->height() / 2));
            QVERIFY(d->rbLinear->isChecked());
            QTest::mouseClick(d->btnOK, Qt::LeftButton);
        });
        QTest::mouseClick(w->btnSettings, Qt::LeftButton);
        QVERIFY(shown);
        QCOMPARE(settings::readIni(ws->iniPath(), "Statistics", "PassMark"), QStringLiteral("70"));
        QCOMPARE(settings::readIni(ws->iniPath(), "Statistics", "GpaFormula"), QStringLiteral("Linear"));
        settle(w);
        QCOMPARE(column(w->DBGrid1, "及格率"), QStringList{"33.3 %"});
        QVERIFY(w->lblStatus->text().contains(QStringLiteral("及格线 70 分")));

        // Refused values: said, nothing stored, the dialog stays for a correction.
        shown = false;
        testsupport::whenModal<TfrmStatsSettings>([&](TfrmStatsSettings *d) {
            shown = true;
            d->edtExcellentMark->setFocus();
            d->edtExcellentMark->selectAll();
            QTest::keyClicks(d->edtExcellentMark, QStringLiteral("65"));
            QTest::mouseClick(d->btnOK, Qt::LeftButton);
            QVERIFY(d->isVisible());
            QTest::mouseClick(d->btnCancel, Qt::LeftButton);
        });
        frmTeachMain->menuItem(QStringLiteral("T6"))->trigger();
        QVERIFY(shown);
        QCOMPARE(recorder->last().text, QStringLiteral("及格线不能高于优秀线。"));
        QCOMPARE(recorder->last().title, QStringLiteral("错误"));
        QCOMPARE(settings::readIni(ws->iniPath(), "Statistics", "ExcellentMark"), QStringLiteral("85"));
    }

    void summariesOfFeesDormsAndStudents()
    {
        TfrmSummary *w = open("T4", frmSummary);
        settle(w);
        QCOMPARE(w->PageControl1->tabText(0), QStringLiteral("缴费汇总"));
        QCOMPARE(column(w->DBGrid1, "缴费项目"), (QStringList{"书本费", "学费", "学费"}));
        QCOMPARE(column(w->DBGrid1, "人数"), (QStringList{"1", "2", "0"}));
        QCOMPARE(items(w->cmbxPriceName), (QStringList{"全部", "学费", "书本费", "工本费", "其他费用"}));
        choose(w->cmbxClass, QStringLiteral("2007001.一班"));
        choose(w->cmbxPriceName, QStringLiteral("学费"));
        settle(w);
        QCOMPARE(column(w->DBGrid2, "学号"), QStringList{"2007003"});
        QCOMPARE(w->lblUnpaid->text(),
                 QStringLiteral("欠费名单（班级：2007001.一班　缴费项目：学费）：1 名学生没有缴费记录"));
        QCOMPARE(PrintCaption(w->DBGrid2), QStringLiteral("欠费名单　班级：2007001.一班　缴费项目：学费"));

        QTabBar *tabs = w->PageControl1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QTRY_COMPARE(w->DBGrid3->model()->rowCount(), 4);
        QCOMPARE(column(w->DBGrid3, "人数"), (QStringList{"3", "1", "0", "1"}));
        QCOMPARE(column(w->DBGrid4, "姓名"), (QStringList{"己", "庚"}));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
        QTRY_COMPARE(w->DBGrid5->model()->rowCount(), 2);
        choose(w->cmbxHeadcount, QStringLiteral("性别"));
        QTRY_COMPARE(column(w->DBGrid5, "性别"), (QStringList{"男", "女"}));
        QCOMPARE(column(w->DBGrid5, "人数"), (QStringList{"3", "4"}));
        QCOMPARE(recorder->messages.size(), 0);
    }

    // The work runs beside the window: the indication after a moment, a
    // change of a filter starts again and only its rows are shown.
    void workRunsBesideTheWindowAndAChangeCancelsIt()
    {
        WorkRunner::setStartDelayForTesting(700);
        frmTeachMain->menuItem(QStringLiteral("T2"))->trigger();
        TfrmScoreStatistics *w = frmScoreStatistics;
        QVERIFY(w);
        QSignalSpy shown(w->DBGrid1, &ResultGrid::tableShown);
        QTest::qWait(150);
        QVERIFY(w->runner->isRunning());
        QVERIFY(!w->indicator->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(w->indicator->isVisible(), 600);
        QVERIFY(w->findChild<QProgressBar *>(QStringLiteral("prgWorking"))->isVisible());
        // The window answers meanwhile: a new grouping replaces the running work.
        choose(w->cmbxGrouping, QStringLiteral("学院"));
        settle(w);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(w->DBGrid1->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("学院名称"));
        QVERIFY(!w->indicator->isVisible());
        // Closing the window while it works stops the work.
        choose(w->cmbxGrouping, QStringLiteral("课程"));
        QVERIFY(w->runner->isRunning());
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmScoreStatistics);
        QCOMPARE(recorder->messages.size(), 0);
    }

    void aFailedReadIsReported()
    {
        ws->exec("ALTER TABLE Score RENAME TO ScoreGone");
        TfrmScoreStatistics *w = open("T2", frmScoreStatistics);
        settle(w);
        QVERIFY(!recorder->messages.isEmpty());
        QVERIFY2(recorder->last().text.contains(QStringLiteral("Score")), qPrintable(recorder->last().text));
        QCOMPARE(recorder->last().icon, QMessageBox::Critical);
        QCOMPARE(w->lblStatus->text(), QStringLiteral("统计没有完成。"));
    }
};

QTEST_MAIN(StatsWindowsTest)
#include "tst_statswindows.moc"
