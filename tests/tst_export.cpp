// Taking rows out of the program: CSV bytes, .xlsx sheets read back from the
// archive, PDF text read back with pdftotext, the transcript's totals, the
// save-file questions, cancelled and failed exports, and the grids' menus.
#include "app/Common_Unit.h"
#include "app/DM_Unit.h"
#include "app/Login_Unit.h"
#include "app/Looks_Unit.h"
#include "gui/Shell_Unit.h"
#include "app/TeachMain_Unit.h"
#include "data/Dravon.h"
#include "data/SettingsClient.h"
#include "gui/controls/DataGrid.h"
#include "data/export/TableExport.h"
#include "data/export/Transcript.h"
#include "forms/master/StudentSet_Unit.h"
#include "forms/students/StudentScore_Unit.h"
#include "gui/GridExport.h"
#include "gui/SaveFileDialog.h"
#include "gui/TranscriptPrint.h"
#include "support/GuiHelpers.h"
#include "support/PdfProbe.h"
#include "support/TestWorkspace.h"
#include "support/XlsxProbe.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QJsonArray>
#include <QMdiArea>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPdfWriter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QXmlStreamReader>

using testsupport::MessageRecorder;
using testsupport::pdfText;
using testsupport::squeezed;
using testsupport::TestWorkspace;

namespace {

const QList<GridColumn> studentColumns = {
    {"StudentID", "学号"}, {"StuName", "姓名"}, {"StuAge", "年龄"}, {"InSchoolDate", "入学时间"},
    {"StuContact", "联系方式"}, {"Remark", "备注"}};

// Rows a spreadsheet or a careless writer gets wrong.
const char *awkwardRows =
    "INSERT INTO StudentInfo (StudentID, StuName, StuAge, InSchoolDate, StuContact, Remark) VALUES "
    "('2007001', '王\"小\"明', 19, '2007-09-01', '=HYPERLINK(\"http://x\",\"y\")', '逗号,分隔'), "
    "('2007002', '李晓红', NULL, '2008-03-15', '+86 138 0000 0001', '第一行\n第二行'), "
    "('2007003', 'Ann, Lee', -3, NULL, '@SUM(A1)', '-2+3'), "
    "('2007004', '欧阳修远', 20, '2007-09-03', '-12.5', '  前后空格  ');";

// RFC 4180 records of a CSV text (without its byte-order mark).
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> records;
    QStringList record;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            record << field;
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
            record << field;
            records << record;
            record.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !record.isEmpty())
        records << (record << field);
    return records;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray run(const QString &program, const QStringList &arguments)
{
    return testsupport::runProgram(program, arguments);
}

struct Cell
{
    QString type;  // "s" inline text, "n" number, "d" number in the date style, "b" bold text
    QString value;
};

// The cells of one worksheet of an .xlsx file, by row; the styles tell dates and bold titles.
QList<QList<Cell>> sheetCells(const QString &xlsx, int sheet)
{
    const QByteArray xml = run(QStringLiteral("unzip"),
                               {QStringLiteral("-p"), xlsx, QStringLiteral("xl/worksheets/sheet%1.xml").arg(sheet)});
    QList<QList<Cell>> rows;
    QXmlStreamReader r(xml);
    Cell cell;
    int column = -1;
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("row")) {
            rows.append(QList<Cell>());
        } else if (r.isStartElement() && r.name() == QLatin1String("c")) {
            const QString ref = r.attributes().value(QLatin1String("r")).toString();
            column = ref.at(0).unicode() - 'A';
            const QString style = r.attributes().value(QLatin1String("s")).toString();
            const bool text = r.attributes().value(QLatin1String("t")) == QLatin1String("inlineStr");
            cell = {text ? (style.isEmpty() ? "s" : "b") : (style.isEmpty() ? "n" : "d"), {}};
        } else if (r.isStartElement() && (r.name() == QLatin1String("t") || r.name() == QLatin1String("v"))) {
            cell.value = r.readElementText();
        } else if (r.isEndElement() && r.name() == QLatin1String("c")) {
            while (rows.last().size() < column)
                rows.last().append(Cell());
            rows.last().append(cell);
        }
    }
    return rows;
}

qint64 excelSerial(const QDate &date)
{
    return QDate(1899, 12, 30).daysTo(date);
}

// The files of a folder, hidden ones included.
QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}

class ExportTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestWorkspace> ws;
    std::unique_ptr<QTemporaryDir> out;
    std::unique_ptr<dravon::Connection> conn;
    std::unique_ptr<MessageRecorder> rec;
    std::unique_ptr<QWidget> form;
    DataSource *source = nullptr;
    DataGrid *grid = nullptr;
    QStringList askedNames;
    QString answerName;

    QString outPath(const QString &name) const { return QDir(out->path()).filePath(name); }
    dravon::RecordSet *rs() const { return source->dataSet(); }

    void openStudents(const QString &sql = QStringLiteral("Select * From StudentInfo"))
    {
        source->setDataSet(SQLDataSet(sql, *conn));
    }
    // The grid's rows as it shows them.
    QList<QStringList> gridRows() const
    {
        QList<QStringList> rows;
        QStringList titles;
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            titles << grid->model()->headerData(c, Qt::Horizontal).toString();
        rows << titles;
        for (int r = 0; r < grid->model()->rowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < grid->model()->columnCount(); ++c)
                row << grid->model()->index(r, c).data().toString();
            rows << row;
        }
        return rows;
    }
    void setSchool(const QString &name)
    {
        settings::writeIni(ws->iniPath(), QStringLiteral("Info"), QStringLiteral("SchoolName"), name);
    }
    void addStudents(int count)
    {
        ws->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                "INSERT INTO StudentInfo (StudentID, StuName, StuAge, InSchoolDate) "
                                "SELECT 3000000 + i, '学生' || i, 17 + i % 5, '2009-09-01' FROM n")
                     .arg(count));
    }

private slots:
    void initTestCase()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        ApplyLooks(*qApp);
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(), "pdftotext is missing");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty(), "unzip is missing");
    }

    void init()
    {
        ResetApplicationEndForTesting();
        ws = std::make_unique<TestWorkspace>();
        out = std::make_unique<QTemporaryDir>();
        ws->exec(QString::fromUtf8(awkwardRows));
        conn = std::make_unique<dravon::Connection>();
        ws->openConnection(*conn);
        rec = std::make_unique<MessageRecorder>();
        form = std::make_unique<QWidget>();
        form->setWindowTitle(QStringLiteral("学生信息维护"));
        auto *layout = new QVBoxLayout(form.get());
        source = new DataSource(QStringLiteral("DataStudent"), form.get());
        grid = new DataGrid(form.get());
        layout->addWidget(grid);
        grid->setColumns(studentColumns);
        grid->setDataSource(source);
        askedNames.clear();
        answerName.clear();
        SetSaveFileNameHandler([this](QWidget *, const QString &, const QString &suggested, const QString &) {
            askedNames << suggested;
            return answerName;
        });
        ExportProgress::setShowDelay(400);
    }
    void cleanup()
    {
        SetSaveFileNameHandler({});
        form.reset();
        rec.reset();
        conn.reset();
        out.reset();
        ws.reset();
    }

    // ---- CSV ---------------------------------------------------------------

    void csvFieldsAreQuotedAndFormulasDisarmed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << "abc" << "abc";
        QTest::newRow("chinese") << "王小明" << "王小明";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("quote") << "a\"b" << "\"a\"\"b\"";
        QTest::newRow("comma") << "a,b" << "\"a,b\"";
        QTest::newRow("newline") << "a\nb" << "\"a\nb\"";
        QTest::newRow("carriage return") << "a\r\nb" << "\"a\r\nb\"";
        QTest::newRow("formula") << "=1+1" << "\"'=1+1\"";
        QTest::newRow("plus") << "+86 138" << "\"'+86 138\"";
        QTest::newRow("minus formula") << "-2+3" << "\"'-2+3\"";
        QTest::newRow("at") << "@SUM(A1)" << "\"'@SUM(A1)\"";
        QTest::newRow("tab") << "\tx" << "\"'\tx\"";
        QTest::newRow("formula with quotes") << "=A1&\"x\"" << "\"'=A1&\"\"x\"\"\"";
        QTest::newRow("negative number") << "-12.5" << "-12.5";
        QTest::newRow("signed exponent") << "+1e5" << "+1e5";
        QTest::newRow("inner equals") << "a=b" << "a=b";
    }
    void csvFieldsAreQuotedAndFormulasDisarmed()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(exporting::csvField(text), field);
    }

    void csvOfGridReadsBackExactly()
    {
        openStudents();
        answerName = outPath(QStringLiteral("学生"));  // the extension is appended
        ExportGridToCsv(grid);
        QCOMPARE(askedNames.size(), 1);
        QCOMPARE(QFileInfo(askedNames.first()).fileName(), QStringLiteral("学生信息维护.csv"));
        const QString path = outPath(QStringLiteral("学生.csv"));
        const QByteArray bytes = readFile(path);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QByteArray expected =
            "\xEF\xBB\xBF"
            "学号,姓名,年龄,入学时间,联系方式,备注\r\n"
            "2007001,\"王\"\"小\"\"明\",19,2007/9/1,\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",\"逗号,分隔\"\r\n"
            "2007002,李晓红,,2008/3/15,\"'+86 138 0000 0001\",\"第一行\n第二行\"\r\n"
            "2007003,\"Ann, Lee\",-3,,\"'@SUM(A1)\",\"'-2+3\"\r\n"
            "2007004,欧阳修远,20,2007/9/3,-12.5,  前后空格  \r\n";
        QCOMPARE(bytes, expected);
        // Read back by the rules, with the formula guard taken off, it is the grid.
        QList<QStringList> records = parseCsv(QString::fromUtf8(bytes.mid(3)));
        for (QStringList &record : records)
            for (QString &f : record)
                if (f.startsWith(QLatin1Char('\'')))
                    f.remove(0, 1);
        QCOMPARE(records, gridRows());
        QCOMPARE(rec->last().text, QStringLiteral("已将 4 行导出到文件 \"%1\"。").arg(path));
        QCOMPARE(filesIn(out->path()), QStringList{QStringLiteral("学生.csv")});
    }

    void selectedRowsVisibleColumnsInGridOrder()
    {
        openStudents();
        grid->setMultiSelect(true);
        grid->horizontalHeader()->moveSection(1, 0);  // 姓名 first
        grid->setColumnHidden(5, true);               // no 备注
        grid->selectionModel()->select(grid->model()->index(3, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        grid->selectionModel()->select(grid->model()->index(1, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        answerName = outPath(QStringLiteral("sel.csv"));
        ExportGridToCsv(grid);
        const QList<QStringList> records = parseCsv(QString::fromUtf8(readFile(answerName).mid(3)));
        QCOMPARE(records, (QList<QStringList>{{"姓名", "学号", "年龄", "入学时间", "联系方式"},
                                               {"李晓红", "2007002", "", "2008/3/15", "'+86 138 0000 0001"},
                                               {"欧阳修远", "2007004", "20", "2007/9/3", "-12.5"}}));
        // One selected row is no selection: all rows go.
        grid->selectionModel()->select(grid->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(GridExportTable(grid).rowCount(), 4);
    }

    void savingAsksBeforeReplacingAFile()
    {
        openStudents();
        const QString path = outPath(QStringLiteral("old.csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old");
        f.close();
        answerName = outPath(QStringLiteral("old"));
        rec->answer(QMessageBox::No);
        ExportGridToCsv(grid);
        QCOMPARE(rec->messages.size(), 1);
        QCOMPARE(rec->last().icon, QMessageBox::Question);
        QVERIFY(rec->last().text.contains(path));
        QCOMPARE(readFile(path), QByteArray("old"));
        rec->answer(QMessageBox::Yes);
        ExportGridToCsv(grid);
        QVERIFY(readFile(path).startsWith("\xEF\xBB\xBF学号,"));
        QCOMPARE(filesIn(out->path()), QStringList{QStringLiteral("old.csv")});
        // An upper-case extension is kept as it is.
        QCOMPARE(WithExtension(QStringLiteral("/x/A.CSV"), QStringLiteral("csv")), QStringLiteral("/x/A.CSV"));
        QCOMPARE(WithExtension(QStringLiteral("/x/A.txt"), QStringLiteral("csv")), QStringLiteral("/x/A.txt.csv"));
    }

    // ---- Excel -------------------------------------------------------------

    void xlsxReadsBackWithTypesAndTitles()
    {
        openStudents();
        answerName = outPath(QStringLiteral("学生.xlsx"));
        ExportGridToExcel(grid);
        QCOMPARE(rec->last().icon, QMessageBox::Information);
        const QList<QList<Cell>> rows = sheetCells(answerName, 1);
        QCOMPARE(rows.size(), 5);
        const QStringList titles = {"学号", "姓名", "年龄", "入学时间", "联系方式", "备注"};
        for (int c = 0; c < titles.size(); ++c) {
            QCOMPARE(rows[0][c].type, QStringLiteral("b"));
            QCOMPARE(rows[0][c].value, titles[c]);
        }
        // Identifiers stay text, ages are numbers, dates are dates; empty cells are blank.
        QCOMPARE(rows[1][0].type, QStringLiteral("s"));
        QCOMPARE(rows[1][0].value, QStringLiteral("2007001"));
        QCOMPARE(rows[1][1].value, QStringLiteral("王\"小\"明"));
        QCOMPARE(rows[1][2].type, QStringLiteral("n"));
        QCOMPARE(rows[1][2].value, QStringLiteral("19"));
        QCOMPARE(rows[1][3].type, QStringLiteral("d"));
        QCOMPARE(rows[1][3].value.toLongLong(), excelSerial(QDate(2007, 9, 1)));
        QCOMPARE(rows[1][4].type, QStringLiteral("s"));
        QCOMPARE(rows[1][4].value, QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"));
        QCOMPARE(rows[2][2].type, QString());
        QCOMPARE(rows[2][5].value, QStringLiteral("第一行\n第二行"));
        QCOMPARE(rows[3][2].value, QStringLiteral("-3"));
        QCOMPARE(rows[3][3].type, QString());
        QCOMPARE(rows[4][5].value, QStringLiteral("  前后空格  "));
        const QString sheet = QString::fromUtf8(
            run(QStringLiteral("unzip"), {QStringLiteral("-p"), answerName, QStringLiteral("xl/worksheets/sheet1.xml")}));
        QVERIFY(sheet.contains(QStringLiteral("ySplit=\"1\"")));  // titles frozen
        QVERIFY(sheet.contains(QStringLiteral("<cols>")));        // widths fitted
        const QString styles = QString::fromUtf8(
            run(QStringLiteral("unzip"), {QStringLiteral("-p"), answerName, QStringLiteral("xl/styles.xml")}));
        QVERIFY(styles.contains(QStringLiteral("<b/>")));
        QVERIFY(styles.contains(QStringLiteral("formatCode=\"yyyy/m/d\"")));
        const QString book = QString::fromUtf8(
            run(QStringLiteral("unzip"), {QStringLiteral("-p"), answerName, QStringLiteral("xl/workbook.xml")}));
        QVERIFY(book.contains(QStringLiteral("name=\"学生信息维护\"")));
    }

    void xlsxContinuesOnFurtherSheets()
    {
        openStudents();
        const exporting::ExportTable table(rs(), {0, 1}, {"学号", "姓名"});
        const QString path = outPath(QStringLiteral("many.xlsx"));
        QCOMPARE(exporting::writeXlsx(table, path, QStringLiteral("a/b:[名单]"), {}, 3), exporting::Outcome::Written);
        QList<QString> ids;
        for (int s = 1; s <= 2; ++s) {
            const QList<QList<Cell>> rows = sheetCells(path, s);
            QCOMPARE(rows.first()[0].value, QStringLiteral("学号"));
            for (int r = 1; r < rows.size(); ++r)
                ids << rows[r][0].value;
        }
        QCOMPARE(ids, (QList<QString>{"2007001", "2007002", "2007003", "2007004"}));
        const QString listing = QString::fromUtf8(run(QStringLiteral("unzip"), {QStringLiteral("-l"), path}));
        QVERIFY(listing.contains(QStringLiteral("sheet2.xml")));
        QVERIFY(!listing.contains(QStringLiteral("sheet3.xml")));
        const QString book = QString::fromUtf8(
            run(QStringLiteral("unzip"), {QStringLiteral("-p"), path, QStringLiteral("xl/workbook.xml")}));
        QVERIFY(book.contains(QStringLiteral("name=\"ab名单\"")));
        QVERIFY(book.contains(QStringLiteral("name=\"ab名单 (2)\"")));
    }

    void xlsxPrintsOnePageWideWithFilterAndCreator_data()
    {
        QTest::addColumn<bool>("wide");
        QTest::newRow("two columns: portrait") << false;
        QTest::newRow("six columns and a long remark: landscape") << true;
    }
    void xlsxPrintsOnePageWideWithFilterAndCreator()
    {
        QFETCH(bool, wide);
        ws->exec(QStringLiteral("UPDATE StudentInfo SET Remark = '%1' WHERE StudentID = '2007001'")
                     .arg(QString(100, QChar(u'长'))));
        openStudents();
        if (!wide)
            for (int c = 2; c < studentColumns.size(); ++c)
                grid->setColumnHidden(c, true);
        answerName = outPath(QStringLiteral("学生.xlsx"));
        ExportGridToExcel(grid);
        QCOMPARE(rec->last().icon, QMessageBox::Information);
        const QJsonObject book = testsupport::readWorkbook(answerName);
        QCOMPARE(book[QLatin1String("title")].toString(), QStringLiteral("学生信息维护"));
        QCOMPARE(book[QLatin1String("creator")].toString(), QStringLiteral("Veltrana"));
        const QJsonObject sheet = book[QLatin1String("sheets")].toArray().at(0).toObject();
        QCOMPARE(sheet[QLatin1String("orientation")].toString(),
                 wide ? QStringLiteral("landscape") : QStringLiteral("portrait"));
        QCOMPARE(sheet[QLatin1String("paperSize")].toInt(), 9);  // A4
        QVERIFY(sheet[QLatin1String("fitToPage")].toBool());
        QCOMPARE(sheet[QLatin1String("fitToWidth")].toInt(), 1);
        QCOMPARE(sheet[QLatin1String("fitToHeight")].toInt(), 0);
        QCOMPARE(sheet[QLatin1String("printTitleRows")].toString(), QStringLiteral("$1:$1"));
        QCOMPARE(sheet[QLatin1String("autoFilter")].toString(), wide ? QStringLiteral("A1:F5") : QStringLiteral("A1:B5"));
        const QJsonArray rows = sheet[QLatin1String("rows")].toArray();
        auto wraps = [&](int row, int column) {
            return rows.at(row).toArray().at(column).toObject()[QLatin1String("wrap")].toBool();
        };
        QVERIFY(!wraps(1, 0));
        QVERIFY(!wraps(1, 1));
        if (wide) {
            QVERIFY(wraps(1, 5));   // long
            QVERIFY(wraps(2, 5));   // two lines
            QVERIFY(!wraps(4, 5));  // short
        }
    }

    void xlsxCutsTooLongCellsAndSaysWhich()
    {
        const QString huge(40000, QChar(u'长'));
        // A rare character across the limit is not split in halves.
        const QString rare = QString(exporting::xlsxCellTextLimit - exporting::xlsxCutMark().size() - 1, QChar(u'字'))
                             + QStringLiteral("𠀀") + QString(100, QLatin1Char('x'));
        ws->exec(QStringLiteral("UPDATE StudentInfo SET Remark = '%1' WHERE StudentID = '2007002';"
                                "UPDATE StudentInfo SET Remark = '%2' WHERE StudentID = '2007004'")
                     .arg(huge, rare));
        openStudents();
        answerName = outPath(QStringLiteral("cut.xlsx"));
        ExportGridToExcel(grid);
        QCOMPARE(rec->last().icon, QMessageBox::Information);
        QCOMPARE(rec->last().text,
                 QStringLiteral("已将 4 行导出到文件 \"%1\"。\n2 个单元格的文字超过 Excel 每格 32767 个字符的上限，"
                                "已截断并以“…[已截断]”结尾：F3、F5。")
                     .arg(answerName));
        const QJsonArray rows = testsupport::readWorkbook(answerName)[QLatin1String("sheets")]
                                    .toArray().at(0).toObject()[QLatin1String("rows")].toArray();
        auto value = [&](int row, int column) {
            return rows.at(row).toArray().at(column).toObject()[QLatin1String("value")].toString();
        };
        const QString mark = exporting::xlsxCutMark();
        QCOMPARE(value(2, 5).size(), exporting::xlsxCellTextLimit);
        QCOMPARE(value(2, 5), huge.left(exporting::xlsxCellTextLimit - mark.size()) + mark);
        QCOMPARE(value(4, 5), rare.left(exporting::xlsxCellTextLimit - mark.size() - 1) + mark);
        QCOMPARE(value(1, 5), QStringLiteral("逗号,分隔"));
        QCOMPARE(value(4, 1), QStringLiteral("欧阳修远"));
        // Column names beyond Z.
        QCOMPARE(exporting::xlsxColumnName(0), QStringLiteral("A"));
        QCOMPARE(exporting::xlsxColumnName(25), QStringLiteral("Z"));
        QCOMPARE(exporting::xlsxColumnName(26), QStringLiteral("AA"));
        QCOMPARE(exporting::xlsxColumnName(16383), QStringLiteral("XFD"));
    }

    // ---- PDF and print -----------------------------------------------------

    void pdfHoldsHeaderTitlesEveryRowAndPageNumbers()
    {
        ws->exec(QStringLiteral("DELETE FROM StudentInfo"));
        addStudents(150);
        setSchool(QStringLiteral("青山理工学院"));
        openStudents();
        answerName = outPath(QStringLiteral("名单"));
        ExportGridToPdf(grid);
        const QString path = outPath(QStringLiteral("名单.pdf"));
        QVERIFY2(QFile::exists(path), qPrintable(rec->texts().join('\n')));
        const QString text = squeezed(pdfText(path));
        QVERIFY(text.contains(QStringLiteral("青山理工学院")));
        QVERIFY(text.contains(QStringLiteral("学生信息维护")));
        QVERIFY(text.contains(squeezed(QStringLiteral("打印日期：") + dravon::formatShortDate(QDate::currentDate()))));
        const int pages = int(text.count(QStringLiteral("联系方式")));
        QVERIFY2(pages >= 3, qPrintable(QString::number(pages)));
        QCOMPARE(int(text.count(QStringLiteral("青山理工学院"))), pages);
        for (int p = 1; p <= pages; ++p)
            QVERIFY(text.contains(squeezed(QStringLiteral("第 %1 页 / 共 %2 页").arg(p).arg(pages))));
        QVERIFY(!text.contains(squeezed(QStringLiteral("第 %1 页").arg(pages + 1))));
        for (int i = 1; i <= 150; ++i)
            QVERIFY2(text.contains(QStringLiteral("%1学生%2").arg(3000000 + i).arg(i)), qPrintable(QString::number(i)));
    }

    void pdfWithoutSchoolLeavesTheLineOut()
    {
        openStudents();
        const QString path = outPath(QStringLiteral("a.pdf"));
        const exporting::ExportTable table = GridExportTable(grid);
        QCOMPARE(WriteTablePdf(table, PrintHeader(QStringLiteral("学生信息维护")), path), exporting::Outcome::Written);
        const QStringList lines = pdfText(path).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.first().trimmed(), QStringLiteral("学生信息维护"));
        const QString text = squeezed(pdfText(path));
        QVERIFY(text.contains(squeezed(QStringLiteral("王\"小\"明"))));
        QVERIFY(text.contains(QStringLiteral("=HYPERLINK(\"http://x\",\"y\")")));
        QVERIFY(text.contains(squeezed(QStringLiteral("第 1 页 / 共 1 页"))));
    }

    void printShowsThePreview()
    {
        ws->exec(QStringLiteral("DELETE FROM StudentInfo"));
        addStudents(60);
        openStudents();
        int pages = -1;
        QString title;
        testsupport::whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *dialog) {
            title = dialog->windowTitle();
            if (auto *widget = dialog->findChild<QPrintPreviewWidget *>())
                pages = widget->pageCount();
            dialog->reject();
        });
        PrintGrid(grid);
        QCOMPARE(title, QStringLiteral("打印"));
        QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
        QCOMPARE(rec->messages.size(), 0);
    }

    void wideGridsPrintLandscape()
    {
        openStudents();
        QPdfWriter narrowDevice(outPath(QStringLiteral("n.pdf")));
        const exporting::ExportTable narrow(rs(), {0, 1}, {"学号", "姓名"});
        TablePrintJob narrowJob(narrow, PrintHeader(QStringLiteral("x")), QApplication::font());
        narrowJob.setUpPage(&narrowDevice);
        QCOMPARE(narrowJob.orientation(), QPageLayout::Portrait);
        QPdfWriter wideDevice(outPath(QStringLiteral("w.pdf")));
        QVector<int> fields;
        QStringList titles;
        for (int i = 0; i < 4; ++i)
            for (int f = 0; f < rs()->fields().size(); ++f) {
                fields << f;
                titles << rs()->fields()[f].name;
            }
        const exporting::ExportTable wide(rs(), fields, titles);
        TablePrintJob wideJob(wide, PrintHeader(QStringLiteral("x")), QApplication::font());
        wideJob.setUpPage(&wideDevice);
        QCOMPARE(wideJob.orientation(), QPageLayout::Landscape);
    }

    // ---- cancel and failure ------------------------------------------------

    void cancelledExportsLeaveNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("csv") << "csv";
        QTest::newRow("xlsx") << "xlsx";
        QTest::newRow("pdf") << "pdf";
    }
    void cancelledExportsLeaveNoFile()
    {
        QFETCH(QString, kind);
        addStudents(1000);
        openStudents();
        const exporting::ExportTable table = GridExportTable(grid);
        const QString path = outPath(QStringLiteral("x.") + kind);
        int calls = 0;
        const exporting::Progress cancelLater = [&calls](qint64 done, qint64 total) {
            Q_ASSERT(done <= total);
            return ++calls < 3;
        };
        auto write = [&](const QString &target) {
            if (kind == QLatin1String("csv"))
                return exporting::writeCsv(table, target, cancelLater);
            if (kind == QLatin1String("xlsx"))
                return exporting::writeXlsx(table, target, QStringLiteral("s"), cancelLater);
            return WriteTablePdf(table, PrintHeader(QStringLiteral("s")), target, cancelLater);
        };
        QCOMPARE(write(path), exporting::Outcome::Cancelled);
        QCOMPARE(calls, 3);
        QCOMPARE(filesIn(out->path()), QStringList());
        // A file already there stays as it was.
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
        f.close();
        calls = 0;
        QCOMPARE(write(path), exporting::Outcome::Cancelled);
        QCOMPARE(readFile(path), QByteArray("keep"));
        QCOMPARE(filesIn(out->path()), QStringList{QStringLiteral("x.") + kind});
    }

    void progressDialogCancelIsHonoured()
    {
        addStudents(5000);
        openStudents();
        ExportProgress::setShowDelay(0);
        bool cancelled = false;
        std::function<void(int)> poll = [&](int left) {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QProgressDialog *>(w); d && d->objectName() == QLatin1String("ExportProgress")
                                                                   && d->isVisible()) {
                    d->cancel();
                    cancelled = true;
                    return;
                }
            if (left > 0)
                QTimer::singleShot(1, [&poll, left] { poll(left - 1); });
        };
        poll(5000);
        answerName = outPath(QStringLiteral("big.xlsx"));
        ExportGridToExcel(grid);
        QVERIFY(cancelled);
        QCOMPARE(filesIn(out->path()), QStringList());
        QCOMPARE(rec->last().text, QStringLiteral("导出已取消，没有写入文件 \"%1\"。").arg(answerName));
    }

    void failedExportsNameTheFileAndReason()
    {
        openStudents();
        answerName = outPath(QStringLiteral("no/such/folder/x.csv"));
        ExportGridToCsv(grid);
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
        QCOMPARE(rec->last().text, QStringLiteral("无法写入文件 \"%1\":文件夹不存在").arg(answerName));
        // A target that is a folder.
        QVERIFY(QDir(out->path()).mkdir(QStringLiteral("d.xlsx")));
        const exporting::ExportTable table = GridExportTable(grid);
        try {
            exporting::writeXlsx(table, outPath(QStringLiteral("d.xlsx")), QStringLiteral("s"));
            QFAIL("a folder was taken as the file");
        } catch (const exporting::ExportFailure &e) {
            QVERIFY(e.text().contains(outPath(QStringLiteral("d.xlsx"))));
        }
        QCOMPARE(filesIn(out->path()), QStringList());
    }

    void fullDiskLeavesNothingHalfWritten_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("csv") << "csv";
        QTest::newRow("xlsx") << "xlsx";
        QTest::newRow("pdf") << "pdf";
        QTest::newRow("xlsx, full temporary folder") << "xlsx-temp";
    }
    void fullDiskLeavesNothingHalfWritten()
    {
        QFETCH(QString, kind);
        // A small file system of its own (needs the right to mount, as root has).
        QTemporaryDir small;
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", small.path()}) != 0)
            QSKIP("cannot mount a small file system here");
        struct Unmount
        {
            QString path;
            ~Unmount()
            {
                if (!path.isEmpty())
                    QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), path});
            }
        } unmount{small.path()};
        addStudents(4000);
        openStudents();
        const exporting::ExportTable table = GridExportTable(grid);
        // The workbook's rows go to temporary files first: a full temporary
        // folder fails the export as well.
        const bool fullTemp = kind == QLatin1String("xlsx-temp");
        const QByteArray oldTemp = qgetenv("TMPDIR");
        if (fullTemp) {
            kind = QStringLiteral("xlsx");
            qputenv("TMPDIR", QFile::encodeName(small.path()));
        }
        const QString path = QDir(fullTemp ? out->path() : small.path()).filePath(QStringLiteral("full.") + kind);
        const auto openFiles = [] {
            return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot).size();
        };
        const qsizetype filesBefore = openFiles();
        try {
            if (kind == QLatin1String("csv"))
                exporting::writeCsv(table, path);
            else if (kind == QLatin1String("xlsx"))
                exporting::writeXlsx(table, path, QStringLiteral("s"));
            else
                WriteTablePdf(table, PrintHeader(QStringLiteral("s")), path);
            QFAIL("a full disk was reported as success");
        } catch (const exporting::ExportFailure &e) {
            QVERIFY2(e.text().startsWith(QStringLiteral("无法写入文件 \"%1\":").arg(path)), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QStringLiteral("磁盘")) || fullTemp, qPrintable(e.text()));
        }
        qputenv("TMPDIR", oldTemp);
        QCOMPARE(filesIn(small.path()), QStringList());
        QCOMPARE(filesIn(out->path()), QStringList());
        // Nothing is left open, on that file system or elsewhere.
        QCOMPARE(openFiles(), filesBefore);
        QCOMPARE(QProcess::execute(QStringLiteral("umount"), {small.path()}), 0);
        unmount.path.clear();
    }

    void readOnlyFolderIsReported()
    {
        QTemporaryDir locked;
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", locked.path()}) != 0)
            QSKIP("cannot mount a read-only file system here");
        struct Unmount
        {
            QString path;
            ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
        } unmount{locked.path()};
        openStudents();
        answerName = QDir(locked.path()).filePath(QStringLiteral("x.xlsx"));
        ExportGridToExcel(grid);
        QCOMPARE(rec->last().icon, QMessageBox::Critical);
        QCOMPARE(rec->last().text, QStringLiteral("无法写入文件 \"%1\":磁盘只读").arg(answerName));
        QCOMPARE(filesIn(locked.path()), QStringList());
    }

    // ---- transcript --------------------------------------------------------

    void transcriptTotalsOverKnownRows()
    {
        ws->exec(QStringLiteral(
            "INSERT INTO GradeInfo VALUES ('G1', '计算机学院', NULL);"
            "INSERT INTO ClassInfo VALUES ('C1', 'G1', '软件工程一班', NULL);"
            "UPDATE StudentInfo SET ClassID = 'C1' WHERE StudentID = '2007004';"
            "INSERT INTO SubjectInfo VALUES ('S1', '高等数学', 4, NULL), ('S2', '大学英语', 3.5, NULL),"
            "  ('S3', '数据结构', 3, NULL);"
            "INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark)"
            " VALUES ('2007004', '2008-01-10', '2007-2008-1', 'S1', 'C1', 85, 4, NULL),"
            "  ('2007004', '2008-01-12', '2007-2008-1', 'S2', 'C1', 55, 3.5, NULL),"
            "  ('2007004', '2008-07-01', '2007-2008-2', 'S2', 'C1', 72, 3.5, NULL),"
            "  ('2007004', '2008-07-03', '2007-2008-2', 'S3', 'C1', 90, 3, NULL),"
            "  ('2007004', NULL, NULL, 'S1', 'C1', 95, NULL, '补录'),"
            "  ('2007001', '2008-01-10', '2007-2008-1', 'S1', 'C1', 40, 4, NULL);"));
        const exporting::Transcript t = exporting::LoadTranscript(*conn, QStringLiteral("2007004"));
        QCOMPARE(t.studentName, QStringLiteral("欧阳修远"));
        QCOMPARE(t.className, QStringLiteral("软件工程一班"));
        QCOMPARE(t.collegeName, QStringLiteral("计算机学院"));
        QCOMPARE(t.terms.size(), 3);
        QCOMPARE(t.terms[0].term, QStringLiteral("2007-2008-1"));
        QCOMPARE(t.terms[1].term, QStringLiteral("2007-2008-2"));
        QCOMPARE(t.terms[2].term, QString());  // rows without a term come last
        QCOMPARE(t.terms[0].lines[0].subjectName, QStringLiteral("高等数学"));
        QCOMPARE(t.terms[0].lines[1].date, QStringLiteral("2008/1/12"));
        QCOMPARE(t.terms[0].lines[1].earned, false);  // failed
        QCOMPARE(t.terms[1].lines[0].earned, true);   // passed on the retake
        QCOMPARE(t.terms[2].lines[0].credit.value_or(-1), 4.0);  // the subject's credit
        QCOMPARE(t.terms[2].lines[0].earned, false);  // already earned
        QCOMPARE(t.terms[0].creditsEarned, 4.0);
        QCOMPARE(t.terms[1].creditsEarned, 6.5);
        QCOMPARE(t.creditsEarned, 10.5);
        QVERIFY(t.weightedAverage);
        QVERIFY(qAbs(*t.weightedAverage - 1434.5 / 18.0) < 1e-9);

        const QString path = outPath(QStringLiteral("t.pdf"));
        WriteTranscriptPdf(t, QStringLiteral("青山理工学院"), path);
        const QString text = squeezed(pdfText(path));
        for (const char *part : {"青山理工学院", "学生成绩单", "2007004", "欧阳修远", "C1软件工程一班", "计算机学院",
                                    "2007-2008-1", "2007-2008-2", "未注明学期", "高等数学", "大学英语", "数据结构", "3.5",
                                    "获得总学分：10.5", "加权平均成绩：79.69", "第1页/共1页"})
            QVERIFY2(text.contains(squeezed(part)), qPrintable(QString::fromUtf8(part) + text));
    }

    void transcriptOfStudentWithoutScoresSaysSo()
    {
        const exporting::Transcript t = exporting::LoadTranscript(*conn, QStringLiteral("2007002"));
        QVERIFY(!t.hasScores());
        QCOMPARE(t.creditsEarned, 0.0);
        QVERIFY(!t.weightedAverage);
        const QString path = outPath(QStringLiteral("none.pdf"));
        WriteTranscriptPdf(t, QString(), path);
        const QString text = squeezed(pdfText(path));
        QVERIFY(text.contains(QStringLiteral("该学生没有成绩记录。")));
        QVERIFY(text.contains(QStringLiteral("李晓红")));
        QVERIFY(!text.contains(QStringLiteral("加权平均成绩")));
        QVERIFY_THROWS_EXCEPTION(dravon::Error, exporting::LoadTranscript(*conn, QStringLiteral("x'; --")));
    }

    void longTranscriptRepeatsTitlesOnEveryPage()
    {
        ws->exec(QStringLiteral("INSERT INTO SubjectInfo VALUES ('S1', '高等数学', 2, NULL);"
                                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 90) "
                                "INSERT INTO Score (StudentID, Term, SubjectID, Score, CreditHour) "
                                "SELECT '2007003', '2009-2010-1', 'S1', 50 + i % 40, 2 FROM n"));
        const exporting::Transcript t = exporting::LoadTranscript(*conn, QStringLiteral("2007003"));
        const QString path = outPath(QStringLiteral("long.pdf"));
        WriteTranscriptPdf(t, QStringLiteral("青山理工学院"), path);
        const QString text = squeezed(pdfText(path));
        const int pages = int(text.count(QStringLiteral("青山理工学院")));
        QVERIFY(pages >= 2);
        QCOMPARE(int(text.count(QStringLiteral("科目名称"))), pages);
        QVERIFY(text.contains(squeezed(QStringLiteral("第 %1 页 / 共 %1 页").arg(pages))));
        QCOMPARE(t.creditsEarned, 2.0);  // one subject, earned once
    }

    // ---- menus and the student window --------------------------------------

    void gridMenuOffersTheFourCommands()
    {
        openStudents();
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(grid, grid));
        QStringList texts;
        for (QAction *a : menu->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{"导出到 Excel…", "导出为 CSV…", "打印…", "导出为 PDF…", "", "查找…", "从文件导入…", "",
                                     "修改记录…"}));
        answerName = outPath(QStringLiteral("m.csv"));
        menu->actions().at(1)->trigger();
        QVERIFY(QFile::exists(answerName));
        // The menu replaces the view's own, and reaches the grid's own commands.
        grid->addAction(new QAction(QStringLiteral("其他"), grid));
        std::unique_ptr<QMenu> more(BuildGridContextMenu(grid, grid));
        QCOMPARE(more->actions().last()->text(), QStringLiteral("其他"));
    }

    void studentWindowPrintsTheCurrentStudentsTranscript()
    {
        auto *mainWindow = new TfrmTeachMain;
        std::unique_ptr<TDM> dm(new TDM);
        QVERIFY(dm->ADOConn.isOpen());
        mainWindow->resize(1200, 850);
        testsupport::showMainWindowLoggedIn();
        frmTeachMain->menuItem(QStringLiteral("D3"))->trigger();
        QCoreApplication::processEvents();
        QVERIFY(frmStudentSet);
        TfrmStudentSet *w = frmStudentSet;
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(w->DBGrid, nullptr));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("打印成绩单…"));
        // A right-click on the grid opens the menu (not the clipboard menu of the fields).
        QStringList popupTexts;
        std::function<void(int)> closePopup = [&](int left) {
            if (auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *a : popup->actions())
                    if (!a->isSeparator())
                        popupTexts << a->text();
                popup->close();
            } else if (left > 0) {
                QTimer::singleShot(10, [&closePopup, left] { closePopup(left - 1); });
            }
        };
        closePopup(300);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 20),
                                w->DBGrid->viewport()->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(w->DBGrid->viewport(), &click);
        QCOMPARE(popupTexts, (QStringList{"导出到 Excel…", "导出为 CSV…", "打印…", "导出为 PDF…", "查找…", "从文件导入…",
                                          "修改记录…", "打印成绩单…"}));
        QVERIFY(w->btnPrintTranscript);
        QCOMPARE(w->btnPrintTranscript->text(), QStringLiteral("打印成绩单…"));
        // The five commands stay centred in their row.
        QApplication::processEvents();
        const int left = w->btnAdd->geometry().left();
        const int right = w->btnCancel->geometry().right();
        QVERIFY2(qAbs((left + right) / 2 - w->Panel2->width() / 2) <= 3,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(left).arg(right).arg(w->Panel2->width())));
        QVERIFY(!w->btnPrintTranscript->geometry().intersects(w->btnCancel->geometry()));

        w->DBGrid->setCurrentIndex(w->DBGrid->model()->index(2, 0));
        QString title;
        int pages = 0;
        testsupport::whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *dialog) {
            title = dialog->windowTitle();
            if (auto *widget = dialog->findChild<QPrintPreviewWidget *>())
                pages = widget->pageCount();
            dialog->reject();
        });
        QTest::mouseClick(w->btnPrintTranscript, Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("打印成绩单"));
        QCOMPARE(pages, 1);
        QCOMPARE(rec->messages.size(), 0);
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete frmTeachMain;
        dm.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void scoreWindowPrintsTheCurrentRowsStudentsTranscript()
    {
        ws->exec(QStringLiteral(
            "INSERT INTO SubjectInfo VALUES ('S1', '高等数学', 4, NULL);"
            "INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, ClassID, Score, CreditHour, Remark)"
            " VALUES ('2007004', '2008-01-10', '第一学期', 'S1', NULL, 85, 4, NULL)"));
        auto *mainWindow = new TfrmTeachMain;
        std::unique_ptr<TDM> dm(new TDM);
        QVERIFY(dm->ADOConn.isOpen());
        mainWindow->resize(1200, 850);
        testsupport::showMainWindowLoggedIn();
        frmTeachMain->menuItem(QStringLiteral("M2"))->trigger();
        QCoreApplication::processEvents();
        QVERIFY(frmStudentScore);
        TfrmStudentScore *w = frmStudentScore;
        std::unique_ptr<QMenu> menu(BuildGridContextMenu(w->DBGrid1, nullptr));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("打印成绩单…"));
        // The button follows the record commands, which stay centred in their row.
        QApplication::processEvents();
        QCOMPARE(w->btnPrintTranscript->text(), QStringLiteral("打印成绩单…"));
        QCOMPARE(w->btnPrintTranscript->parentWidget(), w->btnCancel->parentWidget());
        QVERIFY(w->btnPrintTranscript->geometry().left() > w->btnCancel->geometry().right());
        QCOMPARE(w->btnPrintTranscript->geometry().top(), w->btnCancel->geometry().top());
        const int middle = (w->btnAdd->geometry().left() + w->btnCancel->geometry().right()) / 2;
        QVERIFY(qAbs(middle - w->btnCancel->parentWidget()->width() / 2) <= 3);
        QWidget *next = w->btnCancel->nextInFocusChain();
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, static_cast<QWidget *>(w->btnPrintTranscript));

        QString title;
        testsupport::whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *dialog) {
            title = dialog->windowTitle();
            dialog->reject();
        });
        QTest::mouseClick(w->btnPrintTranscript, Qt::LeftButton);
        QCOMPARE(title, QStringLiteral("打印成绩单"));
        QCOMPARE(rec->messages.size(), 0);
        w->closeWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete frmTeachMain;
        dm.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QTEST_MAIN(ExportTest)
#include "tst_export.moc"
