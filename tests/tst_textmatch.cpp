// The matching rule shared by the find bar, the lookup lists and the quick
// find, checked as data: pinyin by whole syllables, initials and mixes,
// polyphonic surnames, ü, case, numbers by prefix, and hostile input.
#include "data/find/PinyinReadings.h"
#include "data/find/TextMatch.h"

#include <QTest>

using findtext::MatchRange;

Q_DECLARE_METATYPE(QList<MatchRange>)

namespace {

QString ranges(const QList<MatchRange> &list)
{
    QStringList parts;
    for (const MatchRange &r : list)
        parts << QStringLiteral("%1+%2").arg(r.start).arg(r.length);
    return parts.join(QLatin1Char(' '));
}

}

class TextMatchTest : public QObject
{
    Q_OBJECT

private slots:
    void ranges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("expected");  // "start+length ...", empty for no match

        // Pinyin: full syllables, initials, mixes, without tones.
        QTest::newRow("full") << "张三" << "zhangsan" << "0+2";
        QTest::newRow("initials") << "张三" << "zs" << "0+2";
        QTest::newRow("full then initial") << "张三" << "zhangs" << "0+2";
        QTest::newRow("initial then full") << "张三" << "zsan" << "0+2";
        QTest::newRow("two-letter initial") << "张三" << "zhsan" << "0+2";
        QTest::newRow("part of a syllable") << "张三" << "zhan" << "0+1";
        QTest::newRow("inside a name") << "欧阳张三丰" << "zsf" << "2+3";
        QTest::newRow("subject initials") << "高等数学" << "gdsx" << "0+4";
        QTest::newRow("two syllables across characters") << "西安" << "xian" << "0+2";
        QTest::newRow("no letter left over") << "张三" << "zhangsanx" << "";
        QTest::newRow("syllable must start the character") << "张三" << "hangsan" << "";
        QTest::newRow("order matters") << "张三" << "sz" << "";
        // Polyphonic surnames match by their surname reading too.
        QTest::newRow("单 shan") << "单雄信" << "shanxx" << "0+3";
        QTest::newRow("单 dan") << "单雄信" << "danxx" << "0+3";
        QTest::newRow("曾 zeng") << "曾国藩" << "zenggf" << "0+3";
        QTest::newRow("解 xie") << "解缙" << "xiej" << "0+2";
        QTest::newRow("区 ou") << "区小明" << "oxm" << "0+3";
        QTest::newRow("仇 qiu") << "仇英" << "qiuy" << "0+2";
        QTest::newRow("朴 piao") << "朴正" << "piaoz" << "0+2";
        QTest::newRow("查 zha") << "查良镛" << "zhaly" << "0+3";
        QTest::newRow("翟 zhai") << "翟东" << "zhaid" << "0+2";
        QTest::newRow("缪 miao") << "缪东" << "miaod" << "0+2";
        QTest::newRow("覃 qin") << "覃东" << "qind" << "0+2";
        QTest::newRow("种 chong") << "种东" << "chongd" << "0+2";
        QTest::newRow("尉 yu") << "尉迟恭" << "yuchig" << "0+3";
        QTest::newRow("乐 yue") << "乐东" << "yued" << "0+2";
        QTest::newRow("召 shao") << "召东" << "shaod" << "0+2";
        // ü written as ü, v or u:, and not as plain u for 吕.
        QTest::newRow("lü") << "吕布" << "lü" << "0+1";
        QTest::newRow("lv") << "吕布" << "lvb" << "0+2";
        QTest::newRow("lu:") << "吕布" << "lu:bu" << "0+2";
        QTest::newRow("LÜ upper case") << "吕布" << "LÜBU" << "0+2";
        QTest::newRow("lu is not lü") << "吕布" << "lub" << "";
        // Case and blanks.
        QTest::newRow("upper-case pinyin") << "张三" << "ZS" << "0+2";
        QTest::newRow("blanks around") << "张三" << "  zs " << "0+2";
        QTest::newRow("Latin ignoring case") << "Smith 李" << "sMiTh" << "0+5";
        QTest::newRow("full-width letters") << "ABC班" << "ａｂｃ" << "0+3";
        QTest::newRow("Chinese substring") << "计算机学院" << "学院" << "3+2";
        QTest::newRow("Chinese and pinyin mixed") << "张三" << "张s" << "0+2";
        QTest::newRow("every occurrence") << "banana" << "an" << "1+2 3+2";
        QTest::newRow("pinyin every occurrence") << "王五和王六" << "w" << "0+1 1+1 3+1";
        // Numbers by prefix only; a code with letters anywhere.
        QTest::newRow("number prefix") << "2007001" << "2007" << "0+4";
        QTest::newRow("number not inside") << "1200701" << "2007" << "";
        QTest::newRow("number whole") << "2007001" << "2007001" << "0+7";
        QTest::newRow("number longer than text") << "2007" << "20070" << "";
        QTest::newRow("code with letters anywhere") << "X-A12" << "a12" << "2+3";
        QTest::newRow("date text by its digits and signs") << "2008/1/5" << "8/1" << "3+3";
        // No match, and what cannot match.
        QTest::newRow("empty query") << "张三" << "" << "";
        QTest::newRow("blank query") << "张三" << "   " << "";
        QTest::newRow("empty text") << "" << "zs" << "";
        QTest::newRow("no pinyin for Latin") << "zoo" << "z" << "0+1";
        QTest::newRow("unrelated") << "李四" << "zs" << "";
        // Hostile input: found literally or not at all.
        QTest::newRow("quote") << "O'Neil" << "'n" << "1+2";
        QTest::newRow("percent literally") << "100%合格" << "%合" << "3+2";
        QTest::newRow("percent is no wildcard") << "abc" << "%" << "";
        QTest::newRow("underscore is no wildcard") << "abc" << "a_c" << "";
        QTest::newRow("backslash") << "a\\b" << "\\b" << "1+2";
        QTest::newRow("regex signs") << "a.*b" << ".*" << "1+2";
        QTest::newRow("regex signs match literally only") << "axxb" << "a.*b" << "";
        QTest::newRow("lone surrogate in query") << "abc" << QString(QChar(0xD800)) << "";
        QTest::newRow("lone surrogate in text") << QString(QChar(0xDC00)) + "张三" << "zs" << "1+2";
        QTest::newRow("lone surrogate does not match U+FFFD") << QString(QChar(0xFFFD)) << QString(QChar(0xD800))
                                                           << "";
        // Supplementary planes: a rare character matches itself.
        QTest::newRow("rare character itself") << "王𠮷" << "𠮷" << "1+2";
        QTest::newRow("rare character by pinyin: no reading") << "王𠮷" << "wj" << "";
        QTest::newRow("after a rare character") << "𠮷王" << "w" << "2+1";
    }

    // Each case through the function the windows call, through a prepared
    // query (UTF-16 and UTF-8), which must agree with it.
    void ranges()
    {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(QString, expected);
        QCOMPARE(::ranges(findtext::matchRanges(text, query)), expected);
        const findtext::Query prepared(query);
        QCOMPARE(prepared.matches(text), !expected.isEmpty());
        const QByteArray utf8 = text.toUtf8();
        QCOMPARE(prepared.matchesUtf8(utf8.constData(), int(utf8.size())), !expected.isEmpty());
    }

    void longQueries_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("pinyin");
        QTest::newRow("63 letters: pinyin") << 63 << true;
        QTest::newRow("64 letters: literal only") << 64 << false;
        QTest::newRow("10000 letters: literal only") << 10000 << false;
    }

    // A pasted text of any length is matched, literally when it is long, and
    // never crashes; the text holding it is found.
    void longQueries()
    {
        QFETCH(int, length);
        QFETCH(bool, pinyin);
        const QString letters = QString(QLatin1Char('a')).repeated(length);
        QCOMPARE(findtext::matches(QStringLiteral("x") + letters + QStringLiteral("y"), letters), true);
        QCOMPARE(findtext::matches(QStringLiteral("x") + letters.chopped(1), letters), false);
        // 阿 reads "a": as many of them match by pinyin only while short.
        const QString chinese = QString(QChar(0x963F)).repeated(length);
        QCOMPARE(findtext::matches(chinese, letters), pinyin);
        const QString pasted = QString(QChar(0x5F20)).repeated(length);
        QCOMPARE(findtext::matchRanges(pasted, pasted).size(), 1);
    }

    // Every CJK Unified Ideograph of the basic plane that the Han database
    // reads has readings, which are plain lower-case syllables; spot checks of
    // the table against the database's own readings.
    void readingsTable()
    {
        int withReadings = 0;
        for (char32_t c = 0x4E00; c <= 0x9FFF; ++c) {
            const pinyin::Readings r = pinyin::readingsOf(c);
            withReadings += r.isEmpty() ? 0 : 1;
            for (int i = 0; i < r.size(); ++i)
                for (char ch : r[i])
                    QVERIFY2(ch >= 'a' && ch <= 'z', qPrintable(QStringLiteral("U+%1").arg(uint(c), 4, 16)));
        }
        QVERIFY2(withReadings > 20000, qPrintable(QString::number(withReadings)));
        auto all = [](char32_t c) {
            QStringList list;
            const pinyin::Readings r = pinyin::readingsOf(c);
            for (int i = 0; i < r.size(); ++i)
                list << QString::fromLatin1(r[i].data(), qsizetype(r[i].size()));
            return list;
        };
        QCOMPARE(all(U'张'), QStringList{QStringLiteral("zhang")});
        QCOMPARE(all(U'吕'), QStringList{QStringLiteral("lv")});
        QCOMPARE(all(U'单').first(), QStringLiteral("dan"));  // the common reading first
        QVERIFY(all(U'单').contains(QStringLiteral("shan")));
        QVERIFY(all(U'单').contains(QStringLiteral("chan")));
        QVERIFY(pinyin::readingsOf(0x20BB7).isEmpty());  // 𠮷, outside the table
        QVERIFY(pinyin::readingsOf(U'a').isEmpty());
    }
};

QTEST_APPLESS_MAIN(TextMatchTest)
#include "tst_textmatch.moc"
