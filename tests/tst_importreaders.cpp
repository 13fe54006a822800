// Reading other programs' files: workbooks written by openpyxl and gnumeric,
// CSV and text files in the encodings and shapes offices send, and the broken
// or hostile files that must fail with one clear message, quickly.
#include "data/import/ByteReadAhead.h"
#include "data/import/CellText.h"
#include "data/import/CsvReader.h"
#include "data/import/RowPrefetch.h"
#include "data/import/TableReader.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace importing;

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(VELTRANA_IMPORT_DATA "/") + QString::fromUtf8(name);
}

// Every row of a sheet as "line: cell|cell|...".
QStringList readAll(TableReader &reader, int sheet)
{
    reader.selectSheet(sheet);
    QStringList rows;
    SourceRow row;
    while (reader.next(row))
        rows << QStringLiteral("%1: %2").arg(row.line).arg(row.cells.join(QLatin1Char('|')));
    return rows;
}

// Rows 1 to n (one cell, seven times the line), then the end or a failure.
class GeneratedRows : public TableReader
{
public:
    GeneratedRows(qint64 rows, bool failing) : TableReader(QStringLiteral("generated.csv")), m_rows(rows), m_failing(failing) {}
    FileKind kind() const override { return FileKind::Csv; }
    QList<SheetInfo> sheets() const override { return {SheetInfo()}; }
    void selectSheet(int) override { m_read = 0; }
    bool next(SourceRow &row) override
    {
        if (m_read == m_rows) {
            if (m_failing)
                fail(QStringLiteral("第 %1 行之后读不下去").arg(m_rows));
            return false;
        }
        ++m_read;
        row.line = m_read;
        row.cells = QStringList{QString::number(m_read * 7)};
        return true;
    }
    double progress() const override { return m_rows ? double(m_read) / double(m_rows) : 1.0; }
    qint64 read() const { return m_read; }

private:
    qint64 m_rows;
    bool m_failing;
    qint64 m_read = 0;
};

}

class ImportReadersTest : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatOtherWritersWrote_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("sheet");
        QTest::addColumn<QStringList>("expected");
        const QStringList students = {
            "1: 2024级新生名单",
            "3: 学号|学生姓名|性别|年龄|班级名称|入学时间|联系方式|备注",
            "4: 0024001|张三|男|18|计算机一班|2024-09-01|13800000001",
            "5: 0024002|李四|女|19|计算机一班|2024年9月2日|13800000002|=1+2",
            "6: 0024003| 王五 |男|１９|数学一班|2024.9.3||转专业",
            "7: 0024004|赵六|女|20|2007002|2024/9/4|+86 139"};
        // openpyxl: inline strings, a hidden first sheet, a date cell by its format.
        QTest::newRow("openpyxl xlsx") << fixture("students-openpyxl.xlsx") << 1 << students;
        // The same in the 1904 date system: the date cell reads the same day.
        QTest::newRow("openpyxl xlsx, 1904 dates") << fixture("students-1904-openpyxl.xlsx") << 1 << students;
        // gnumeric: shared strings; a text that looks like a formula stays a text.
        QTest::newRow("gnumeric xlsx") << fixture("students-gnumeric.xlsx") << 1 << students;
        QTest::newRow("gnumeric xls") << fixture("students-gnumeric.xls") << 1 << students;
        QTest::newRow("wide sheet, formulas' values, gnumeric xlsx")
            << fixture("scores-wide-gnumeric.xlsx") << 0
            << QStringList{"1: 学号|姓名|高等数学|大学英语|总分", "2: 0024001|张三|85|90.5|175.5",
                           "3: 0024002|李四|九十|77|#VALUE!", "4: 0024003|王五||60|60"};
        // FreeXL does not read the stored results of formulas: the totals are empty.
        QTest::newRow("wide sheet, gnumeric xls")
            << fixture("scores-wide-gnumeric.xls") << 0
            << QStringList{"1: 学号|姓名|高等数学|大学英语|总分", "2: 0024001|张三|85|90.5", "3: 0024002|李四|九十|77",
                           "4: 0024003|王五||60"};
        // Rows with gaps, a cell far right, a boolean.
        QTest::newRow("sparse rows")
            << fixture("sparse-openpyxl.xlsx") << 0
            << QStringList{"1: 学号||姓名", "4: 0024009||孙七|||||||||||||||||||||||3.25", "7: |TRUE"};
        // Inline rich text without its phonetic run, an escaped character, an error value.
        QTest::newRow("inline strings")
            << fixture("inline-strings.xlsx") << 0 << QStringList{"1: 学号|姓名", "2: 0024001| 张3 |TRUE|#N/A|0024005"};
        // Prefixed names, shared strings with a phonetic run, a reference and CDATA in a text.
        QTest::newRow("prefixed names") << fixture("prefixed.xlsx") << 0
                                        << QStringList{"1: 学号|姓名", "2: 0024001|李&四<五>"};
        const QStringList scores = {"1: 学号|课程|学期|成绩|考试日期",
                                    "2: 0024001|高等数学|第一学期|85|2025-01-10",
                                    "3: 0024002|高等数学|第一学期|九十|2025/1/10",
                                    "4: 0024003|大学英语|第一学期|７８|45667"};
        QTest::newRow("GB18030 CSV") << fixture("scores-gb18030.csv") << 0 << scores;
        QTest::newRow("UTF-8 CSV with a byte-order mark") << fixture("scores-utf8-bom.csv") << 0 << scores;
        QTest::newRow("tab-separated text") << fixture("scores-tab.txt") << 0 << scores;
        QTest::newRow("semicolons, quotes, a line break in a cell")
            << fixture("remarks-semicolon.csv") << 0
            << QStringList{"1: 学号|姓名|备注", "2: 0024001|张三|第一行\n第二行", "3: 0024002|李\"四\"|分号;在内",
                           "4: 0024003|王五|=SUM(A1:A3)"};
        QTest::newRow("gnumeric CSV") << fixture("students-gnumeric.csv") << 0
                                      << QStringList{"1: 2024级新生名单|||||||",
                                                     "3: 学号|学生姓名|性别|年龄|班级名称|入学时间|联系方式|备注",
                                                     "4: 0024001|张三|男|18|计算机一班|2024/09/01|13800000001|",
                                                     "5: 0024002|李四|女|19|计算机一班|2024年9月2日|13800000002|=1+2",
                                                     "6: 0024003| 王五 |男|１９|数学一班|2024.9.3||转专业",
                                                     "7: 0024004|赵六|女|20|2007002|2024/9/4|+86 139|"};
    }
    void readsWhatOtherWritersWrote()
    {
        QFETCH(QString, file);
        QFETCH(int, sheet);
        QFETCH(QStringList, expected);
        std::unique_ptr<TableReader> reader = openTableFile(file);
        QCOMPARE(readAll(*reader, sheet), expected);
        QCOMPARE(reader->progress(), 1.0);
    }

    void workbookSheetsAreListedWithTheirState()
    {
        std::unique_ptr<TableReader> reader = openTableFile(fixture("students-openpyxl.xlsx"));
        const QList<SheetInfo> sheets = reader->sheets();
        QCOMPARE(sheets.size(), 2);
        QCOMPARE(sheets[0].name, QStringLiteral("说明"));
        QVERIFY(sheets[0].hidden);
        QCOMPARE(sheets[1].name, QStringLiteral("新生名单"));
        QVERIFY(!sheets[1].hidden);
        QCOMPARE(readAll(*reader, 0), QStringList{"1: 本工作簿由教务处整理"});
        // A sheet read a second time starts from its top again.
        QCOMPARE(readAll(*reader, 1).size(), 6);
        QCOMPARE(readAll(*reader, 1).size(), 6);
    }

    void badFilesFailWithOneClearMessage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("text named .xlsx") << fixture("not-a-workbook.xlsx") << "文件不是 .xlsx 工作簿,而是一个文本文件";
        QTest::newRow("truncated workbook") << fixture("truncated.xlsx") << "工作簿不完整或已损坏";
        QTest::newRow("zip bomb") << fixture("bomb.xlsx") << "解压后超过 1 GB";
        QTest::newRow("encrypted workbook") << fixture("encrypted.xlsx") << "工作簿已加密";
        QTest::newRow("16384 columns") << fixture("wide-16384.xlsx") << "超过 1024 列";
        QTest::newRow("entities that expand a billion times") << fixture("entities.xlsx") << "含有文档类型定义";
        QTest::newRow("sheet cut in a row") << fixture("sheet-cut.xlsx") << "xl/worksheets/sheet1.xml:内容不完整";
        // An input the fuzzer found that makes FreeXL read past its buffer;
        // FreeXL runs in a helper process, and the program says why.
        QTest::newRow("xls that overruns FreeXL") << fixture("freexl-overflow.xls") << "工作簿中没有工作表";
    }
    void badFilesFailWithOneClearMessage()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QElapsedTimer timer;
        timer.start();
        try {
            std::unique_ptr<TableReader> reader = openTableFile(file);
            for (int s = 0; s < reader->sheets().size(); ++s)
                readAll(*reader, s);
            QFAIL("no failure");
        } catch (const ImportFailure &e) {
            QVERIFY2(e.text().contains(reason), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QFileInfo(file).fileName()), qPrintable(e.text()));
        }
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void filesRenamedAreNamedForWhatTheyAre()
    {
        QTemporaryDir dir;
        const QString xls = dir.filePath(QStringLiteral("book.xls"));
        const QString csv = dir.filePath(QStringLiteral("list.csv"));
        QVERIFY(QFile::copy(fixture("students-openpyxl.xlsx"), xls));
        QVERIFY(QFile::copy(fixture("students-gnumeric.xls"), csv));
        for (const auto &[path, reason] : {std::pair{xls, QStringLiteral("文件不是 .xls 工作簿,而是一个压缩包")},
                                           std::pair{csv, QStringLiteral("文件不是文本文件,而是一个 .xls 工作簿")}}) {
            try {
                openTableFile(path);
                QFAIL("no failure");
            } catch (const ImportFailure &e) {
                QVERIFY2(e.text().contains(reason), qPrintable(e.text()));
                QVERIFY2(e.text().contains(QFileInfo(path).fileName()), qPrintable(e.text()));
            }
        }
    }

    void rowsReadAheadComeInTheFilesOrderAndSoDoesItsFailure_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("failing");
        for (const int rows : {0, 1, 1024, 1025, 50000})
            for (const bool failing : {false, true})
                QTest::addRow("%d rows, %s", rows, failing ? "then a failure" : "then the end") << rows << failing;
    }
    void rowsReadAheadComeInTheFilesOrderAndSoDoesItsFailure()
    {
        QFETCH(int, rows);
        QFETCH(bool, failing);
        GeneratedRows reader(rows, failing);
        reader.selectSheet(0);
        RowPrefetch prefetch(reader);
        SourceRow row;
        qint64 taken = 0;
        try {
            while (prefetch.next(row)) {
                ++taken;
                QCOMPARE(row.line, taken);
                QCOMPARE(row.cells, QStringList{QString::number(taken * 7)});
            }
            QVERIFY(!failing);
            QVERIFY(!prefetch.next(row));
        } catch (const ImportFailure &e) {
            QVERIFY(failing);
            QCOMPARE(e.text(), failureText(QStringLiteral("generated.csv"), QStringLiteral("第 %1 行之后读不下去").arg(rows)));
        }
        QCOMPARE(taken, rows);
        QCOMPARE(prefetch.progress(), 1.0);
    }

    void aPrefetchLeftEarlyStopsReadingSoon()
    {
        GeneratedRows reader(200000, false);
        reader.selectSheet(0);
        {
            RowPrefetch prefetch(reader);
            SourceRow row;
            for (int i = 0; i < 3; ++i)
                QVERIFY(prefetch.next(row));
        }
        // Some tens of thousands of rows were read ahead, not the file.
        QVERIFY2(reader.read() < 40000, qPrintable(QString::number(reader.read())));
        // The reader is the caller's again.
        QCOMPARE(readAll(reader, 0).size(), 200000);
    }

    void bytesUnpackedAheadComeInOrderAndSoDoesTheFailure_data()
    {
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("failing");
        for (const int bytes : {0, 1, 999, 1000, 1001, 25013})
            for (const bool failing : {false, true})
                QTest::addRow("%d bytes, %s", bytes, failing ? "then a failure" : "then the end") << bytes << failing;
    }
    void bytesUnpackedAheadComeInOrderAndSoDoesTheFailure()
    {
        QFETCH(int, bytes);
        QFETCH(bool, failing);
        // The source hands out odd-sized pieces of chunks of 1,000 bytes; the
        // taker asks for other sizes, so pieces are split and joined.
        qint64 given = 0;
        ByteReadAhead ahead(
            [&](char *buffer, qint64 size) -> qint64 {
                if (given == bytes) {
                    if (failing)
                        throw ImportFailure(QStringLiteral("解压失败"));
                    return 0;
                }
                const qint64 n = std::min<qint64>({size, 333, bytes - given});
                for (qint64 i = 0; i < n; ++i)
                    buffer[i] = char('a' + (given + i) % 26);
                given += n;
                return n;
            },
            1000, 2);
        QByteArray taken;
        try {
            char buffer[457];
            for (qint64 n; (n = ahead.read(buffer, qint64(sizeof buffer))) > 0;)
                taken.append(buffer, n);
            QVERIFY(!failing);
            QCOMPARE(ahead.read(buffer, qint64(sizeof buffer)), 0);
        } catch (const ImportFailure &e) {
            QVERIFY(failing);
            QCOMPARE(e.text(), QStringLiteral("解压失败"));
        }
        QCOMPARE(taken.size(), bytes);
        for (qint64 i = 0; i < taken.size(); ++i)
            QCOMPARE(taken[i], char('a' + i % 26));
    }

    void rowsBeforeABrokenSpotComeBeforeTheFailure()
    {
        // The sound rows and the broken one arrive in one piece of the sheet.
        std::unique_ptr<TableReader> reader = openTableFile(fixture("sheet-broken.xlsx"));
        for (int pass = 0; pass < 2; ++pass) {
            reader->selectSheet(0);
            QStringList rows;
            try {
                SourceRow row;
                while (reader->next(row))
                    rows << QStringLiteral("%1: %2").arg(row.line).arg(row.cells.join(QLatin1Char('|')));
                QFAIL("no failure");
            } catch (const ImportFailure &e) {
                QVERIFY2(e.text().contains(QStringLiteral("工作簿不完整或已损坏(xl/worksheets/sheet1.xml:")),
                         qPrintable(e.text()));
                QVERIFY2(!e.text().contains(QStringLiteral("内容不完整")), qPrintable(e.text()));
            }
            QCOMPARE(rows, (QStringList{"1: 学号", "2: 0024001"}));
        }
    }

    void aHugeOneLineCsvFailsWithinSeconds()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("one-line.csv"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            const QByteArray block(1 << 20, 'a');
            for (int i = 0; i < 200; ++i)
                QVERIFY(f.write(block) == block.size());
        }
        QElapsedTimer timer;
        timer.start();
        try {
            std::unique_ptr<TableReader> reader = openTableFile(path);
            readAll(*reader, 0);
            QFAIL("no failure");
        } catch (const ImportFailure &e) {
            QVERIFY2(e.text().contains(QStringLiteral("第 1 行超过")), qPrintable(e.text()));
        }
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void textEncodingAndDelimiterAreFoundOut_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QStringList>("expected");
        const QString text = QStringLiteral("学号;姓名\r\n0024001;\"张\r\n三\"\r\n");
        const QStringList rows = {"1: 学号|姓名", "2: 0024001|张\r\n三"};
        QTest::newRow("UTF-8") << text.toUtf8() << "UTF-8" << rows;
        QStringEncoder gb("GB18030");
        QTest::newRow("GB18030") << QByteArray(gb.encode(text)) << "GB18030" << rows;
        QStringEncoder utf16(QStringConverter::Utf16LE);
        QTest::newRow("UTF-16 with its mark") << QByteArray("\xFF\xFE", 2) + QByteArray(utf16.encode(text)) << "UTF-16LE"
                                              << rows;
        // UTF-8 everywhere but one byte far down the file: GB18030 after all.
        QByteArray late = QByteArray("a,b\n") + QByteArray(300000, 'x') + "\n" + QStringEncoder("GB18030").encode(QStringLiteral("张,三\n"));
        QTest::newRow("non-UTF-8 late in the file") << late << "GB18030" << QStringList();
        // A last record without a line break, and an empty line skipped.
        QTest::newRow("no final line break") << QByteArray("a\tb\n\n1\t2") << "UTF-8"
                                             << QStringList{"1: a|b", "3: 1|2"};
    }
    void textEncodingAndDelimiterAreFoundOut()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, encoding);
        QFETCH(QStringList, expected);
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(bytes);
        CsvReader reader(std::move(buffer), QStringLiteral("test.csv"), FileKind::Csv);
        QCOMPARE(reader.encodingName(), encoding);
        const QStringList rows = readAll(reader, 0);
        if (!expected.isEmpty())
            QCOMPARE(rows, expected);
        else
            QCOMPARE(rows.last(), QStringLiteral("3: 张|三"));
    }

    void cellTextMeansWhatSpreadsheetsMean_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("date");
        QTest::newRow("ISO") << "2024-09-01" << "2024-09-01";
        QTest::newRow("slashes") << "2024/9/1" << "2024-09-01";
        QTest::newRow("dots") << "2024.9.1" << "2024-09-01";
        QTest::newRow("mixed separators") << "2024-9/1" << "2024-09-01";
        QTest::newRow("a year below 1000") << "0024/9/1" << "0024-09-01";
        QTest::newRow("no such month") << "2024-13-01" << "";
        QTest::newRow("a year of three digits") << "202-09-01" << "";
        QTest::newRow("Chinese") << "2024年9月1日" << "2024-09-01";
        QTest::newRow("full-width digits and blanks") << "\u3000２０２４年９月１日 " << "2024-09-01";
        QTest::newRow("with a time") << "2024-09-01 00:00:00" << "2024-09-01";
        QTest::newRow("serial") << "45536" << "2024-09-01";
        QTest::newRow("serial before the leap day") << "59" << "1900-02-28";
        QTest::newRow("serial after the leap day") << "61" << "1900-03-01";
        QTest::newRow("the leap day 1900 never had") << "60" << "";
        QTest::newRow("no such day") << "2024-02-30" << "";
        QTest::newRow("words") << "九月一日" << "";
    }
    void cellTextMeansWhatSpreadsheetsMean()
    {
        QFETCH(QString, text);
        QFETCH(QString, date);
        QCOMPARE(readDate(text).toString(Qt::ISODate), date);
        // As stored.
        if (!date.isEmpty())
            QCOMPARE(isoDateText(readDate(text)), date);
    }

    void numbersReadAsSpreadsheetsShowThem()
    {
        QCOMPARE(numberText(2007001.0), QStringLiteral("2007001"));
        QCOMPARE(numberText(0.1 + 0.2), QStringLiteral("0.3"));
        QCOMPARE(numberText(-12.5), QStringLiteral("-12.5"));
        QCOMPARE(excelSerialDate(0, true), QDate(1904, 1, 1));
        QCOMPARE(excelSerialDate(44074, true), QDate(2024, 9, 1));
        QCOMPARE(normalizedNumeric(QStringLiteral(" ８５．５ ")), QStringLiteral("85.5"));
    }

    void clipboardTextIsTabSeparated()
    {
        std::unique_ptr<TableReader> reader = readClipboardText(
            QStringLiteral("学号\t成绩\r\n0024001\t85\r\n0024002\t\"九\n十\"\r\n"));
        QCOMPARE(reader->kind(), FileKind::Clipboard);
        QCOMPARE(readAll(*reader, 0), (QStringList{"1: 学号|成绩", "2: 0024001|85", "3: 0024002|九\n十"}));
    }
};

QTEST_GUILESS_MAIN(ImportReadersTest)
#include "tst_importreaders.moc"
