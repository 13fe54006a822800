// The statistics' computations without windows, against a small school whose
// figures are known by hand (support/StatsFixture): mark figures, bands and
// thresholds, groups and their drill-down statements, rankings with ties and
// credits, grade points, summaries, the settings file, term order, and the
// worker's cancellation.
#include "data/Dravon.h"
#include "data/stats/Rankings.h"
#include "data/stats/ScoreStatistics.h"
#include "data/stats/StatsSettings.h"
#include "data/stats/Summaries.h"
#include "data/SettingsClient.h"
#include "support/StatsFixture.h"
#include "support/TestWorkspace.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <vector>

using namespace stats;
using testsupport::TestWorkspace;

namespace {

// The texts of one column of a table, top to bottom.
QStringList column(const ResultTable &table, const QString &name)
{
    const int c = table.columnIndex(name);
    if (c < 0)
        qFatal("no column %s", qPrintable(name));
    QStringList list;
    for (int r = 0; r < table.rowCount(); ++r)
        list << table.cellText(r, c);
    return list;
}

// One row of a table as "column=text" pairs for the named columns.
QString rowText(const ResultTable &table, int row, const QStringList &names)
{
    QStringList parts;
    for (const QString &n : names)
        parts << table.cellText(row, table.columnIndex(n));
    return parts.join(QLatin1Char('|'));
}

const QStringList figureColumns = {"人数", "缺考", "平均分", "最高分", "最低分", "标准差", "中位数", "及格人数",
                                   "及格率", "优秀人数", "优秀率", "<60", "60–69", "70–79", "80–89", "90–100"};

}

class StatisticsTest : public QObject
{
    Q_OBJECT

private:
    // The workspace's database, on the engine the suite runs on.
    static ReadTarget target(const TestWorkspace &w)
    {
        if (const auto address = w.serverAddress())
            return *address;
        return w.dbPath();
    }

    // One school for all cases: they only read it (the settings file is put
    // back after each case).
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<ReadConnection> read;
    QByteArray iniContent;

private slots:
    void initTestCase()
    {
        ws = std::make_unique<TestWorkspace>();
        ws->exec(QString::fromUtf8(testsupport::statsSeedRows()));
        read = std::make_unique<ReadConnection>(target(*ws));
        // Every scan of the school's marks crosses pages on the server.
        setServerScanPageForTesting(3);
        QFile ini(ws->iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        iniContent = ini.readAll();
    }
    void cleanup() { ws->writeIni(iniContent); }
    void cleanupTestCase()
    {
        setServerScanPageForTesting(0);
        read.reset();
        ws.reset();
    }

    // ---- figures of a set of marks -----------------------------------------

    void quantilesInterpolateBetweenRanks_data()
    {
        QTest::addColumn<QList<double>>("marks");
        QTest::addColumn<double>("p");
        QTest::addColumn<double>("expected");
        QTest::newRow("median of an even count") << QList<double>{4, 1, 3, 2} << 0.5 << 2.5;
        QTest::newRow("lower quartile between ranks") << QList<double>{4, 1, 3, 2} << 0.25 << 1.75;
        QTest::newRow("upper quartile on a rank") << QList<double>{55, 95, 65, 80, 80} << 0.75 << 80.0;
        QTest::newRow("median of an odd count") << QList<double>{70, 10, 30} << 0.5 << 30.0;
        QTest::newRow("one mark") << QList<double>{59.5} << 0.5 << 59.5;
        QTest::newRow("extremes") << QList<double>{3, 9, 1} << 1.0 << 9.0;
    }
    void quantilesInterpolateBetweenRanks()
    {
        QFETCH(QList<double>, marks);
        QFETCH(double, p);
        QFETCH(double, expected);
        std::vector<double> v(marks.begin(), marks.end());
        QCOMPARE(*Quantile(v, p), expected);
    }

    void describesMarksExactly()
    {
        std::vector<double> marks = {65, 80, 55};
        const MarkFigures f = DescribeMarks(marks, 2, Thresholds{});
        QCOMPARE(f.count, 3);
        QCOMPARE(f.absent, 2);
        QVERIFY(std::abs(*f.mean - 200.0 / 3) < 1e-12);
        QVERIFY(std::abs(*f.stddev - std::sqrt((std::pow(65 - 200.0 / 3, 2) + std::pow(80 - 200.0 / 3, 2)
                                                 + std::pow(55 - 200.0 / 3, 2)) / 3)) < 1e-12);
        QCOMPARE(*f.median, 65.0);
        QCOMPARE(f.passed, 2);
        QCOMPARE(RateText(*f.passRate), QStringLiteral("66.7 %"));
        QCOMPARE(f.bands, (std::array<qint64, bandCount>{1, 1, 0, 1, 0}));

        // Only empty marks: counted as absent, no figure at all.
        std::vector<double> none;
        const MarkFigures empty = DescribeMarks(none, 3, Thresholds{});
        QCOMPARE(empty.absent, 3);
        QVERIFY(!empty.mean && !empty.median && !empty.stddev && !empty.passRate);

        // A large spread of equal marks: no digits lost to the sum of squares.
        std::vector<double> same(100000, 1e6 + 0.1);
        QCOMPARE(*DescribeMarks(same, 0, Thresholds{}).stddev, 0.0);
    }

    void bandsHoldTheirLowerBound_data()
    {
        QTest::addColumn<double>("mark");
        QTest::addColumn<int>("band");
        QTest::newRow("59.5") << 59.5 << 0;
        QTest::newRow("60") << 60.0 << 1;
        QTest::newRow("69.9") << 69.9 << 1;
        QTest::newRow("70") << 70.0 << 2;
        QTest::newRow("89.5") << 89.5 << 3;
        QTest::newRow("90") << 90.0 << 4;
        QTest::newRow("100") << 100.0 << 4;
        QTest::newRow("negative") << -1.0 << 0;
    }
    void bandsHoldTheirLowerBound()
    {
        QFETCH(double, mark);
        QFETCH(int, band);
        QCOMPARE(BandOf(mark), band);
    }

    void gradePoints_data()
    {
        QTest::addColumn<int>("formula");
        QTest::addColumn<double>("mark");
        QTest::addColumn<double>("points");
        const int four = int(GpaFormula::FourPoint), linear = int(GpaFormula::Linear);
        for (const auto &[mark, points] : {std::pair{100.0, 4.0}, {90.0, 4.0}, {89.9, 3.0}, {80.0, 3.0}, {79.5, 2.0},
                                           {70.0, 2.0}, {69.0, 1.0}, {60.0, 1.0}, {59.9, 0.0}, {0.0, 0.0}})
            QTest::addRow("4-point %g", mark) << four << mark << points;
        for (const auto &[mark, points] : {std::pair{100.0, 5.0}, {75.0, 2.5}, {55.0, 0.5}, {50.0, 0.0}, {30.0, 0.0}})
            QTest::addRow("linear %g", mark) << linear << mark << points;
    }
    void gradePoints()
    {
        QFETCH(int, formula);
        QFETCH(double, mark);
        QFETCH(double, points);
        QCOMPARE(GradePoint(mark, GpaFormula(formula)), points);
    }

    void competitionRanksShareAndSkip()
    {
        const std::vector<std::optional<double>> values = {90, 80, 90, std::nullopt, 70, 80, 0.1 + 0.2, 0.3};
        QCOMPARE(CompetitionRanks(values), (std::vector<int>{1, 3, 1, 0, 5, 3, 6, 6}));
        QVERIFY(CompetitionRanks({}).empty());
    }

    // ---- statistics of the school --------------------------------------------

    void termsInTermOrder()
    {
        QCOMPARE(ScoreTerms(*read), (QStringList{"第一学期", "第二学期", "第三学期", "第十学期"}));
    }

    void groupsByClassAndSubject()
    {
        ScoreFilter filter;
        filter.term = QStringLiteral("第一学期");
        const ScoreStatistics s = ComputeScoreStatistics(*read, filter, Grouping::ClassSubject, Thresholds{});
        const ResultTable t = StatisticsTable(s);
        QCOMPARE(column(t, "班级编号"),
                 (QStringList{"2007001", "2007001", "2007002", "2007003", "2007003", "2007003", "2009999", "-"}));
        QCOMPARE(column(t, "班级名称"),
                 (QStringList{"一班", "一班", "二班", "英语班", "英语班", "英语班", "编号 2009999 不存在", "未注明"}));
        QCOMPARE(column(t, "课程名称"), (QStringList{"数学", "语文", "数学", "数学", "语文", "体育", "数学", "语文"}));
        const QStringList expected = {
            "2|1|87.5|95.0|80.0|7.5|87.5|2|100.0 %|1|50.0 %|0|0|0|1|1",
            "3|0|66.7|80.0|55.0|10.3|65.0|2|66.7 %|0|0.0 %|1|1|0|1|0",
            "1|0|60.0|60.0|60.0|0.0|60.0|1|100.0 %|0|0.0 %|0|1|0|0|0",  // one student, on the pass mark
            "1|0|59.5|59.5|59.5|0.0|59.5|0|0.0 %|0|0.0 %|1|0|0|0|0",
            "0|1||||||0||0||0|0|0|0|0",  // only an empty mark
            "1|0|95.0|95.0|95.0|0.0|95.0|1|100.0 %|1|100.0 %|0|0|0|0|1",
            "1|0|70.0|70.0|70.0|0.0|70.0|1|100.0 %|0|0.0 %|0|0|1|0|0",
            "1|0|45.0|45.0|45.0|0.0|45.0|0|0.0 %|0|0.0 %|1|0|0|0|0",
        };
        for (int r = 0; r < expected.size(); ++r)
            QCOMPARE(rowText(t, r, figureColumns), expected[r]);
        QCOMPARE(s.marks(), 10);
        QCOMPARE(s.absent(), 2);
    }

    void groupsByCollegeClassAndSubject_data()
    {
        QTest::addColumn<int>("grouping");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("college");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("counts");  // 人数/缺考
        QTest::addColumn<QStringList>("medians");
        QTest::newRow("college") << int(Grouping::College) << "第一学期" << ""
                                 << QStringList{"计算机学院", "外语学院", "未注明"} << QStringList{"6/1", "2/1", "2/0"}
                                 << QStringList{"72.5", "77.3", "57.5"};
        QTest::newRow("class") << int(Grouping::Class) << "第一学期" << ""
                               << QStringList{"一班", "二班", "英语班", "编号 2009999 不存在", "未注明"}
                               << QStringList{"5/1", "1/0", "2/1", "1/0", "1/0"}
                               << QStringList{"80.0", "60.0", "77.3", "70.0", "45.0"};
        QTest::newRow("subject within a college") << int(Grouping::Subject) << "第一学期" << "2007001"
                                                  << QStringList{"数学", "语文"} << QStringList{"3/1", "3/0"}
                                                  << QStringList{"80.0", "65.0"};
        QTest::newRow("subject over all terms") << int(Grouping::Subject) << "" << ""
                                                << QStringList{"数学", "语文", "体育"}
                                                << QStringList{"7/1", "7/1", "2/0"}
                                                << QStringList{"70.0", "66.0", "87.5"};
        QTest::newRow("a term with no marks") << int(Grouping::ClassSubject) << "第四学期" << "" << QStringList{}
                                              << QStringList{} << QStringList{};
    }
    void groupsByCollegeClassAndSubject()
    {
        QFETCH(int, grouping);
        QFETCH(QString, term);
        QFETCH(QString, college);
        QFETCH(QStringList, names);
        QFETCH(QStringList, counts);
        QFETCH(QStringList, medians);
        ScoreFilter filter;
        if (!term.isEmpty())
            filter.term = term;
        if (!college.isEmpty())
            filter.collegeId = college;
        const ScoreStatistics s = ComputeScoreStatistics(*read, filter, Grouping(grouping), Thresholds{});
        const ResultTable t = StatisticsTable(s);
        const QString nameColumn = GroupColumns(Grouping(grouping)).at(1);
        QCOMPARE(column(t, nameColumn), names);
        QStringList shownCounts;
        for (int r = 0; r < t.rowCount(); ++r)
            shownCounts << rowText(t, r, {"人数", "缺考"}).replace(QLatin1Char('|'), QLatin1Char('/'));
        QCOMPARE(shownCounts, counts);
        QCOMPARE(column(t, "中位数"), medians);
    }

    // The college of 一班 and 二班: the population deviation and the rates.
    void collegeFiguresByHand()
    {
        ScoreFilter filter;
        filter.term = QStringLiteral("第一学期");
        const ScoreStatistics s = ComputeScoreStatistics(*read, filter, Grouping::College, Thresholds{});
        const MarkFigures &f = s.groups.first().figures;
        QCOMPARE(*f.mean, 72.5);
        QVERIFY(std::abs(*f.stddev - std::sqrt(1137.5 / 6)) < 1e-12);
        QCOMPARE(*f.lowerQuartile, 61.25);
        QCOMPARE(*f.upperQuartile, 80.0);
        QCOMPARE(f.passed, 5);
        QCOMPARE(RateText(*f.passRate), QStringLiteral("83.3 %"));
        QCOMPARE(RateText(*f.excellentRate), QStringLiteral("16.7 %"));
        QCOMPARE(f.bands, (std::array<qint64, bandCount>{1, 2, 0, 2, 1}));
    }

    void thresholdsComeFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<double>("pass");
        QTest::addColumn<double>("excellent");
        QTest::addColumn<int>("gpa");
        QTest::addColumn<QString>("passedRate");  // 一班 语文: 65, 80, 55
        QTest::newRow("none stored") << QByteArray() << 60.0 << 85.0 << int(GpaFormula::FourPoint) << "66.7 %";
        QTest::newRow("stored") << QByteArray("PassMark=70\nExcellentMark=90\nGpaFormula=Linear\n") << 70.0 << 90.0
                                << int(GpaFormula::Linear) << "33.3 %";
        QTest::newRow("not numbers") << QByteArray("PassMark=abc\nExcellentMark=\nGpaFormula=whatever\n") << 60.0
                                     << 85.0 << int(GpaFormula::FourPoint) << "66.7 %";
        QTest::newRow("out of range") << QByteArray("PassMark=-5\nExcellentMark=101\n") << 60.0 << 85.0
                                      << int(GpaFormula::FourPoint) << "66.7 %";
        QTest::newRow("pass above excellence") << QByteArray("PassMark=90\nExcellentMark=80\n") << 60.0 << 85.0
                                               << int(GpaFormula::FourPoint) << "66.7 %";
        QTest::newRow("pass only") << QByteArray("PassMark=55\n") << 55.0 << 85.0 << int(GpaFormula::FourPoint)
                                   << "100.0 %";
    }
    void thresholdsComeFromTheSettingsFile()
    {
        QFETCH(QByteArray, section);
        QFETCH(double, pass);
        QFETCH(double, excellent);
        QFETCH(int, gpa);
        QFETCH(QString, passedRate);
        ws->writeIni(iniContent + "[Statistics]\n" + section);
        const StatsSettings settings = ReadStatsSettings();
        QCOMPARE(settings.thresholds.pass, pass);
        QCOMPARE(settings.thresholds.excellent, excellent);
        QCOMPARE(int(settings.gpa), gpa);
        ScoreFilter filter;
        filter.term = QStringLiteral("第一学期");
        filter.classId = QStringLiteral("2007001");
        filter.subjectId = QStringLiteral("2007002");
        const ResultTable t =
            StatisticsTable(ComputeScoreStatistics(*read, filter, Grouping::ClassSubject, settings.thresholds));
        QCOMPARE(column(t, "及格率"), QStringList{passedRate});
    }

    void settingsAreStoredTogetherAndChecked()
    {
        StatsSettings s;
        s.thresholds = {65, 88.5};
        s.gpa = GpaFormula::Linear;
        WriteStatsSettings(s);
        const StatsSettings back = ReadStatsSettings();
        QCOMPARE(back.thresholds.pass, 65.0);
        QCOMPARE(back.thresholds.excellent, 88.5);
        QCOMPARE(back.gpa, GpaFormula::Linear);
        // The database path beside them is kept.
        QCOMPARE(settings::readIni(ws->iniPath(), "BDConn", "DBConFileName"), ws->dbPath());

        s.thresholds = {90, 80};
        QVERIFY_THROWS_EXCEPTION(dravon::Error, WriteStatsSettings(s));
        QCOMPARE(StatsSettingsProblem(s), QStringLiteral("及格线不能高于优秀线。"));
        s.thresholds = {60, 120};
        QCOMPARE(StatsSettingsProblem(s), QStringLiteral("优秀线必须在 0 到 100 之间。"));
        QCOMPARE(ReadStatsSettings().thresholds.pass, 65.0);  // nothing written
    }

    // Each group's statement for the score window finds exactly its rows.
    void drillDownStatementsFindTheGroupsRows_data()
    {
        QTest::addColumn<int>("grouping");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("college");
        QTest::addColumn<QString>("subject");
        for (const Grouping g : {Grouping::Class, Grouping::Subject, Grouping::ClassSubject, Grouping::College}) {
            QTest::addRow("%s, first term", qPrintable(GroupingName(g))) << int(g) << "第一学期" << "" << "";
            QTest::addRow("%s, all terms, one college", qPrintable(GroupingName(g))) << int(g) << "" << "2007001" << "";
            QTest::addRow("%s, one subject", qPrintable(GroupingName(g))) << int(g) << "" << "" << "2007002";
        }
    }
    void drillDownStatementsFindTheGroupsRows()
    {
        QFETCH(int, grouping);
        QFETCH(QString, term);
        QFETCH(QString, college);
        QFETCH(QString, subject);
        ScoreFilter filter;
        if (!term.isEmpty())
            filter.term = term;
        if (!college.isEmpty())
            filter.collegeId = college;
        if (!subject.isEmpty())
            filter.subjectId = subject;
        dravon::Connection connection;
        ws->openConnection(connection);
        const ScoreStatistics s = ComputeScoreStatistics(*read, filter, Grouping(grouping), Thresholds{});
        QVERIFY(!s.groups.isEmpty());
        qint64 total = 0;
        for (const ScoreGroup &g : s.groups) {
            const QString sql = GroupScoreStatement(filter, Grouping(grouping), g);
            QVERIFY2(sql.startsWith(QStringLiteral("Select B.* From Score B where ")), qPrintable(sql));
            auto rows = SQLDataSet(sql, connection);
            rows->waitForCount();
            QCOMPARE(rows->recordCount(), int(g.figures.count + g.figures.absent));
            total += rows->recordCount();
        }
        QCOMPARE(total, s.marks() + s.absent());
    }

    void drillDownQuotesValues()
    {
        ScoreFilter filter;
        filter.term = QStringLiteral("第一'学期");
        ScoreGroup g;
        g.classId = QStringLiteral("20'07");
        g.subjectId = QString();
        QCOMPARE(GroupScoreStatement(filter, Grouping::ClassSubject, g),
                 QStringLiteral("Select B.* From Score B where B.Term ='第一''学期' and B.ClassID ='20''07' and "
                                "(B.SubjectID Is Null Or B.SubjectID ='')"));
    }

    void sortsByAnyColumnWithEmptyCellsLast()
    {
        ScoreFilter filter;
        filter.term = QStringLiteral("第一学期");
        ResultTable t = StatisticsTable(ComputeScoreStatistics(*read, filter, Grouping::ClassSubject, Thresholds{}));
        const int mean = t.columnIndex("平均分");
        t.sortBy(mean, Qt::DescendingOrder);
        QCOMPARE(column(t, "平均分"), (QStringList{"95.0", "87.5", "70.0", "66.7", "60.0", "59.5", "45.0", ""}));
        t.sortBy(mean, Qt::AscendingOrder);
        QCOMPARE(column(t, "平均分"), (QStringList{"45.0", "59.5", "60.0", "66.7", "70.0", "87.5", "95.0", ""}));
        // The rows still know their groups.
        QCOMPARE(GroupOfRow(t, 7), 4);
        t.sortBy(t.columnIndex("课程名称"), Qt::AscendingOrder);  // 数学 (shu) < 体育 (ti) < 语文 (yu)
        QCOMPARE(column(t, "课程名称").mid(0, 5), (QStringList{"数学", "数学", "数学", "数学", "体育"}));
        dravon::Connection unopened;
        auto rs = t.toRecordSet(unopened, QStringLiteral("test"));
        QCOMPARE(rs->recordCount(), 8);
        QVERIFY(rs->isReadOnly());
        QCOMPARE(rs->text(5, rs->fieldIndex("课程名称")), QStringLiteral("语文"));
    }

    // ---- rankings ----------------------------------------------------------

    void rankings_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("scope");
        QTest::addColumn<int>("measure");
        QTest::addColumn<int>("gpa");
        QTest::addColumn<QStringList>("order");  // 学号:名次
        const int four = int(GpaFormula::FourPoint);
        QTest::newRow("class, total, a tie") << "第一学期" << int(RankScope::Class) << int(RankMeasure::Total) << four
                                             << QStringList{"2007001:1", "2007002:1", "2007003:3", "2007004:1",
                                                            "2007006:", "2007007:", "2007005:1"};
        QTest::newRow("class, average") << "第一学期" << int(RankScope::Class) << int(RankMeasure::Average) << four
                                        << QStringList{"2007001:1", "2007002:1", "2007003:3", "2007004:1",
                                                       "2007006:", "2007007:", "2007005:1"};
        QTest::newRow("class, weighted average")
            << "第一学期" << int(RankScope::Class) << int(RankMeasure::WeightedAverage) << four
            << QStringList{"2007001:1", "2007002:2", "2007003:3", "2007004:1", "2007006:", "2007007:", "2007005:1"};
        QTest::newRow("class, 4-point GPA")
            << "第一学期" << int(RankScope::Class) << int(RankMeasure::GradePoint) << four
            << QStringList{"2007002:1", "2007001:2", "2007003:3", "2007004:1", "2007006:", "2007007:", "2007005:1"};
        QTest::newRow("class, linear GPA")
            << "第一学期" << int(RankScope::Class) << int(RankMeasure::GradePoint) << int(GpaFormula::Linear)
            << QStringList{"2007001:1", "2007002:2", "2007003:3", "2007004:1", "2007006:", "2007007:", "2007005:1"};
        QTest::newRow("school") << "第一学期" << int(RankScope::School) << int(RankMeasure::Total) << four
                                << QStringList{"2007001:1", "2007002:1", "2007005:3", "2007004:4", "2007003:5",
                                               "2007006:", "2007007:"};
        QTest::newRow("college") << "第一学期" << int(RankScope::College) << int(RankMeasure::Total) << four
                                 << QStringList{"2007001:1", "2007002:1", "2007004:3", "2007003:4", "2007006:",
                                                "2007007:", "2007005:1"};
        QTest::newRow("all terms") << "" << int(RankScope::Class) << int(RankMeasure::Total) << four
                                   << QStringList{"2007001:1", "2007002:2", "2007003:3", "2007007:1", "2007004:2",
                                                  "2007006:", "2007005:1"};
        QTest::newRow("a term with no marks") << "第四学期" << int(RankScope::School) << int(RankMeasure::Total) << four
                                              << QStringList{"2007001:", "2007002:", "2007003:", "2007004:",
                                                             "2007005:", "2007006:", "2007007:"};
    }
    void rankings()
    {
        QFETCH(QString, term);
        QFETCH(int, scope);
        QFETCH(int, measure);
        QFETCH(int, gpa);
        QFETCH(QStringList, order);
        RankingRequest request;
        if (!term.isEmpty())
            request.term = term;
        request.scope = RankScope(scope);
        request.measure = RankMeasure(measure);
        request.settings.gpa = GpaFormula(gpa);
        const ResultTable t = RankingTable(ComputeRankings(*read, request));
        QStringList shown;
        for (int r = 0; r < t.rowCount(); ++r)
            shown << rowText(t, r, {"学号", "名次"}).replace(QLatin1Char('|'), QLatin1Char(':'));
        QCOMPARE(shown, order);
    }

    void studentTotalsByHand_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("gpa");
        QTest::addColumn<QString>("student");
        QTest::addColumn<QString>("expected");  // 成绩数|总分|平均分|学分加权平均分|绩点|已获学分|不及格门数
        const int four = int(GpaFormula::FourPoint), linear = int(GpaFormula::Linear);
        QTest::newRow("甲") << "第一学期" << four << "2007001" << "2|160.0|80.0|82.1|2.71|7.0|0";
        QTest::newRow("甲, linear") << "第一学期" << linear << "2007001" << "2|160.0|80.0|82.1|3.21|7.0|0";
        QTest::newRow("丙: an empty mark left out") << "第一学期" << four << "2007003" << "1|55.0|55.0|55.0|0.00|0.0|1";
        QTest::newRow("戊: a mark without credit") << "第一学期" << four << "2007005"
                                                  << "2|154.5|77.3|59.5|0.00|0.0|1";
        QTest::newRow("己: no mark") << "第一学期" << four << "2007006" << "0||||||";
        QTest::newRow("丙, all terms: passed on retake") << "" << four << "2007003" << "2|130.0|65.0|65.0|1.00|3.0|1";
        QTest::newRow("丁, all terms: credit from the subject, once") << "" << four << "2007004"
                                                                   << "2|120.0|60.0|60.0|1.00|4.0|0";
        QTest::newRow("庚, all terms: credit of the first term's pass") << "" << four << "2007007"
                                                                     << "2|136.0|68.0|68.5|1.63|3.0|0";
    }
    void studentTotalsByHand()
    {
        QFETCH(QString, term);
        QFETCH(int, gpa);
        QFETCH(QString, student);
        QFETCH(QString, expected);
        RankingRequest request;
        if (!term.isEmpty())
            request.term = term;
        request.scope = RankScope::School;
        request.settings.gpa = GpaFormula(gpa);
        const ResultTable t = RankingTable(ComputeRankings(*read, request));
        const int row = int(column(t, "学号").indexOf(student));
        QVERIFY(row >= 0);
        QCOMPARE(rowText(t, row, {"成绩数", "总分", "平均分", "学分加权平均分", "绩点", "已获学分", "不及格门数"}), expected);
    }

    void totalsTakeTheFirstPassOfASubject()
    {
        StatsSettings settings;
        const StudentTotals t = TotalsOf({{"s1", 50, 4.0}, {"s1", 70, 4.5}, {"s1", 90, 5.0}, {"", 65, 2.0}, {"", 40, 1.0},
                                          {"s2", 80, std::nullopt}},
                                         settings);
        QCOMPARE(t.marks, 6);
        QCOMPARE(t.creditsEarned, 4.5 + 2.0);
        QCOMPARE(t.failedSubjects, 2);  // s1 once, and the mark without a subject
        QCOMPARE(*t.weightedAverage, (50 * 4.0 + 70 * 4.5 + 90 * 5.0 + 65 * 2.0 + 40 * 1.0) / 16.5);
        settings.thresholds.pass = 75;
        QCOMPARE(TotalsOf({{"s1", 70, 4.5}, {"s1", 90, 5.0}}, settings).creditsEarned, 5.0);
    }

    void scopesNarrowToWholeClassesAndColleges()
    {
        RankingRequest request;
        request.term = QStringLiteral("第一学期");
        request.scope = RankScope::Class;
        request.classId = QStringLiteral("2007001");
        QCOMPARE(column(RankingTable(ComputeRankings(*read, request)), "学号"),
                 (QStringList{"2007001", "2007002", "2007003"}));
        request.scope = RankScope::College;
        request.classId.reset();
        request.collegeId = QStringLiteral("2007002");
        const ResultTable t = RankingTable(ComputeRankings(*read, request));
        QCOMPARE(column(t, "学号"), QStringList{"2007005"});
        QCOMPARE(column(t, "学院"), QStringList{"外语学院"});
        // The school scope takes every student, whatever college was chosen before.
        request.scope = RankScope::School;
        QCOMPARE(RankingTable(ComputeRankings(*read, request)).rowCount(), 7);
    }

    void termAveragesInTermOrder()
    {
        dravon::Connection connection;
        ws->openConnection(connection);
        const QList<TermAverage> g = StudentTermAverages(connection, QStringLiteral("2007007"));
        QCOMPARE(g.size(), 2);
        QCOMPARE(g[0].term, QStringLiteral("第二学期"));
        QCOMPARE(g[0].average, 66.0);
        QCOMPARE(g[1].term, QStringLiteral("第三学期"));
        const QList<TermAverage> e = StudentTermAverages(connection, QStringLiteral("2007005"));
        QCOMPARE(e.size(), 2);
        QCOMPARE(e[0].term, QStringLiteral("第一学期"));
        QCOMPARE(e[0].average, 77.25);
        QCOMPARE(e[0].marks, 2);
        QCOMPARE(e[1].term, QStringLiteral("第十学期"));
        QVERIFY(StudentTermAverages(connection, QStringLiteral("2007006")).isEmpty());
    }

    // ---- summaries ---------------------------------------------------------

    void feeSummaryAndUnpaidStudents()
    {
        const ResultTable all = FeeSummary(*read, {});
        const QStringList cols = {"班级名称", "缴费项目", "人数", "金额合计", "平均"};
        QCOMPARE(all.rowCount(), 3);
        QCOMPARE(rowText(all, 0, cols), QStringLiteral("一班|书本费|1|30.00|30.00"));
        QCOMPARE(rowText(all, 1, cols), QStringLiteral("一班|学费|2|250.00|125.00"));
        QCOMPARE(rowText(all, 2, cols), QStringLiteral("二班|学费|0|0.00|"));  // an amount of 0 is no payment
        QCOMPARE(FeeSummary(*read, {QStringLiteral("2007001"), QStringLiteral("学费")}).rowCount(), 1);

        QCOMPARE(column(UnpaidStudents(*read, {QStringLiteral("2007001"), QStringLiteral("学费")}), "学号"),
                 QStringList{"2007003"});
        QCOMPARE(column(UnpaidStudents(*read, {QStringLiteral("2007002"), QStringLiteral("学费")}), "学号"),
                 (QStringList{"2007004", "2007006", "2007007"}));
        QCOMPARE(column(UnpaidStudents(*read, {QStringLiteral("2007001"), QStringLiteral("书本费")}), "学号"),
                 (QStringList{"2007002", "2007003"}));
        QCOMPARE(column(UnpaidStudents(*read, {}), "学号"),
                 (QStringList{"2007003", "2007004", "2007005", "2007006", "2007007"}));
        QCOMPARE(FeeItems(*read), (QStringList{"学费", "书本费", "工本费", "其他费用"}));
    }

    void dormSummaryAndStudentsWithoutPlace()
    {
        const ResultTable t = DormSummary(*read);
        const QStringList cols = {"宿舍编号", "宿舍名称", "人数", "男", "女", "班级"};
        QCOMPARE(t.rowCount(), 4);
        QCOMPARE(rowText(t, 0, cols), QStringLiteral("2007001|东一|3|1|2|一班、二班"));
        QCOMPARE(rowText(t, 1, cols), QStringLiteral("2007002|东二|1|1|0|英语班"));
        QCOMPARE(rowText(t, 2, cols), QStringLiteral("2007003|东三|0|0|0|"));
        QCOMPARE(rowText(t, 3, cols), QStringLiteral("2009999|编号 2009999 不存在|1|1|0|一班"));
        const ResultTable none = StudentsWithoutDorm(*read);
        QCOMPARE(column(none, "学号"), (QStringList{"2007006", "2007007"}));
        QCOMPARE(column(none, "班级名称"), (QStringList{"二班", "二班"}));
    }

    void headcounts_data()
    {
        QTest::addColumn<int>("grouping");
        QTest::addColumn<QStringList>("rows");  // group|人数|男|女
        QTest::newRow("college") << int(HeadcountGrouping::College)
                                 << QStringList{"计算机学院|6|2|4", "外语学院|1|1|0"};
        QTest::newRow("class") << int(HeadcountGrouping::Class)
                               << QStringList{"一班|3|2|1", "二班|3|0|3", "英语班|1|1|0"};
        QTest::newRow("sex") << int(HeadcountGrouping::Sex) << QStringList{"男|3|3|0", "女|4|0|4"};
        QTest::newRow("year of entry") << int(HeadcountGrouping::EntryYear)
                                       << QStringList{"2007|3|2|1", "2008|2|1|1", "未注明|2|0|2"};
    }
    void headcounts()
    {
        QFETCH(int, grouping);
        QFETCH(QStringList, rows);
        const ResultTable t = StudentHeadcount(*read, HeadcountGrouping(grouping));
        const int nameColumn = t.columns().size() >= 5 ? 1 : 0;  // after the number, where there is one
        QStringList shown;
        for (int r = 0; r < t.rowCount(); ++r)
            shown << rowText(t, r, {t.columns()[nameColumn].name, "人数", "男", "女"});
        QCOMPARE(shown, rows);
    }

    // ---- the worker --------------------------------------------------------
    // done() is sent from the worker's own thread and may come before a wait
    // on the spy begins, so the spy's count is watched instead.

    void cancellingStopsARunningReadAtOnce()
    {
        std::atomic<bool> started{false};
        BackgroundJob job(target(*ws), [&](ReadConnection &c) {
            started = true;
            // Endless without a cancel.
            Rows rows(c, QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                                        "SELECT count(*) FROM n"));
            rows.next();
        });
        QSignalSpy done(&job, &BackgroundJob::done);
        job.start();
        QTRY_VERIFY(started);
        QTest::qWait(50);
        QElapsedTimer timer;
        timer.start();
        job.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(job.wasCancelled());
        QCOMPARE(job.error(), QString());
    }

    void aFailedReadReportsItsError()
    {
        BackgroundJob job(target(*ws), [](ReadConnection &c) {
            Rows rows(c, QStringLiteral("SELECT x FROM Nowhere"));
            rows.next();
        });
        QSignalSpy done(&job, &BackgroundJob::done);
        job.start();
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
        QVERIFY2(job.error().contains(QStringLiteral("Nowhere"), Qt::CaseInsensitive), qPrintable(job.error()));
        BackgroundJob missing(ws->dir() + QStringLiteral("/missing.mdb"), [](ReadConnection &) {});
        QSignalSpy missingDone(&missing, &BackgroundJob::done);
        missing.start();
        QTRY_COMPARE_WITH_TIMEOUT(missingDone.count(), 1, 5000);
        QVERIFY(missing.error().contains(QStringLiteral("missing.mdb")));
        QVERIFY(!QFile::exists(ws->dir() + QStringLiteral("/missing.mdb")));
    }

    // A scan lets a waiting write of the program go first and goes on after
    // the last row key it read: in key order even where another tool added an
    // index the condition could use.
    void scansGiveWayToTheProgramsWrites()
    {
        if (ws->onServer())
            QSKIP("readers on the server never hold up writers");
        TestWorkspace own;
        own.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000) "
                                "INSERT INTO Score (StudentID, Term, Score) "
                                "SELECT '2007001', CASE i % 2 WHEN 0 THEN '第五学期' ELSE '第六学期' END, i % 100 FROM n"));
        own.exec(QStringLiteral("CREATE INDEX Score_Term ON Score (Term)"));
        const qint64 firstKey = own.query("SELECT min(Id) FROM Score").value(0).toLongLong();
        dravon::Connection connection;
        connection.setConnectionString(own.connectionString());
        connection.open();
        std::atomic<int> rows{0};
        std::vector<int> seen(300000);
        BackgroundJob job(own.dbPath(), [&](ReadConnection &c) {
            const ScanCondition bothTerms{QStringLiteral("Term IN ('第六学期', '第五学期')"), {}, true};
            ScanScores(c, QStringLiteral("Score"), bothTerms, [&](const Rows &row) {
                const qint64 key = row.int64(1) - firstKey;
                if (key >= 0 && key < qint64(seen.size()))
                    ++seen[std::size_t(key)];
                ++rows;
                if (rows % 2000 == 0)
                    QThread::msleep(5);  // a slow reader: a write arrives in the middle
            });
        });
        QSignalSpy done(&job, &BackgroundJob::done);
        job.start();
        QTRY_VERIFY(rows > 1000);
        QElapsedTimer timer;
        timer.start();
        SQLExecute(QStringLiteral("Update Score Set Remark = 'w' Where Id = %1").arg(firstKey), connection);
        QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 30000);
        QCOMPARE(job.error(), QString());
        // No row lost, none read twice.
        QCOMPARE(rows.load(), 300000);
        QCOMPARE(std::count(seen.begin(), seen.end(), 1), qsizetype(300000));
        QCOMPARE(own.query("SELECT Remark FROM Score WHERE Id = " + QString::number(firstKey)), QStringList{"w"});
        settings::setExecutableDirForTesting(ws->dir());  // back to the shared school's folder
    }
};

QTEST_MAIN(StatisticsTest)
#include "tst_statistics.moc"
