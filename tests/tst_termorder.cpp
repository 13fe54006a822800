// The order of school terms: numbered terms by number (Chinese or Arabic
// numerals), academic years and seasons by year then term, other texts as text.
#include "data/TermOrder.h"

#include <QtTest>

class TermOrderTest : public QObject
{
    Q_OBJECT
private slots:
    void sortsAsAnOfficeReadsTerms_data()
    {
        QTest::addColumn<QStringList>("shuffled");
        QTest::addColumn<QStringList>("ordered");
        QTest::newRow("numbered") << QStringList{"第十一学期", "第三学期", "第一学期", "第十学期", "第二学期", "第二十学期"}
                                  << QStringList{"第一学期", "第二学期", "第三学期", "第十学期", "第十一学期", "第二十学期"};
        QTest::newRow("arabic and full-width") << QStringList{"第10学期", "第２学期", "第1学期"}
                                               << QStringList{"第1学期", "第２学期", "第10学期"};
        QTest::newRow("academic years")
            << QStringList{"2024-2025学年第一学期", "2023-2024学年第二学期", "2024-2025学年第二学期",
                           "2023-2024学年第一学期"}
            << QStringList{"2023-2024学年第一学期", "2023-2024学年第二学期", "2024-2025学年第一学期",
                           "2024-2025学年第二学期"};
        QTest::newRow("halves and seasons") << QStringList{"2024年秋季", "2024年春季", "2023下学期", "2024上学期"}
                                            << QStringList{"2023下学期", "2024上学期", "2024年春季", "2024年秋季"};
        QTest::newRow("without year first, other text last")
            << QStringList{"补考", "2024-2025学年第一学期", "第二学期", "期末"}
            << QStringList{"第二学期", "期末", "补考", "2024-2025学年第一学期"};
    }
    void sortsAsAnOfficeReadsTerms()
    {
        QFETCH(QStringList, shuffled);
        QFETCH(QStringList, ordered);
        dravon::sortTerms(shuffled);
        QCOMPARE(shuffled, ordered);
        for (int i = 1; i < ordered.size(); ++i) {
            QVERIFY2(dravon::termLess(ordered[i - 1], ordered[i]), qPrintable(ordered[i - 1] + " < " + ordered[i]));
            QVERIFY(!dravon::termLess(ordered[i], ordered[i - 1]));
        }
    }
};

QTEST_GUILESS_MAIN(TermOrderTest)
#include "tst_termorder.moc"
