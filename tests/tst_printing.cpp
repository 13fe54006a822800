// Printed pages as a person and other programs see them: the grid's PDF read
// back cell by cell (rulings from the rendered page, words from the text
// layer), the columns' widths, rare characters and radicals in the text layer
// of exported and printed-to-file PDFs, and the transcript's term order,
// remarks, notes and its own PDF export.
#include "app/Looks_Unit.h"
#include "data/ShortDate.h"
#include "data/export/Transcript.h"
#include "gui/GridExport.h"
#include "gui/TablePrinter.h"
#include "gui/TranscriptPrint.h"
#include "support/GridFixture.h"
#include "support/PdfProbe.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QTest>
#include <QToolBar>

Q_DECLARE_METATYPE(ColumnMeasure)

using testsupport::GridFixture;
using testsupport::pdfInfo;
using testsupport::pdfText;
using testsupport::squeezed;

namespace {

const QList<GridColumn> studentColumns = {
    {"StudentID", "学号"},     {"StuName", "姓名"},       {"StuSex", "性别"},
    {"StuAge", "年龄"},        {"ClassID", "班级编号"},   {"InSchoolDate", "入学时间"},
    {"OutSchoolDate", "毕业时间"}, {"StuContact", "联系方式"}, {"Remark", "备注"}};
constexpr int remarkColumn = 8;

// A remark of the given length without spaces: CJK text, punctuation, digits.
QString remarkOf(int length)
{
    const QString sentence = QStringLiteral("该生在校期间表现良好，积极参加社会实践与志愿服务，2023年获校级奖学金（一等）；");
    QString text;
    while (text.size() < length)
        text += sentence;
    return text.left(length);
}

// Twelve students whose every third remark has the given length.
QString studentRows(int remarkLength)
{
    const QStringList names = {"王小明", "欧阳修远", "李𠀀", "张三", "赵敏", "司马相如"};
    const QStringList contacts = {"13800000001", "lixh@example.edu", "+86 138 0000 0001"};
    QStringList values;
    for (int i = 0; i < 12; ++i) {
        const QString remark = i % 3 == 0 ? remarkOf(remarkLength) : i % 3 == 1 ? QStringLiteral("班长") : QString();
        values << QStringLiteral("('%1', '%2', '%3', %4, '2007001', '2007-09-%5', '2011-07-01', '%6', %7)")
                      .arg(2007001 + i)
                      .arg(names[i % names.size()], i % 2 ? QStringLiteral("女") : QStringLiteral("男"))
                      .arg(17 + i % 5)
                      .arg(1 + i, 2, 10, QLatin1Char('0'))
                      .arg(contacts[i % contacts.size()],
                           remark.isEmpty() ? QStringLiteral("NULL") : QStringLiteral("'%1'").arg(remark));
    }
    return QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName, StuSex, StuAge, ClassID, InSchoolDate, "
                          "OutSchoolDate, StuContact, Remark) VALUES ")
           + values.join(QStringLiteral(", "));
}

// Clicks the tool bar button of a dialog's command (the dialog as wide as a
// screen, so that no button is folded away); without it, closes the dialog.
bool clickToolBarAction(QDialog *dialog, const QString &text)
{
    dialog->resize(1400, 800);
    QApplication::processEvents();
    if (auto *toolBar = dialog->findChild<QToolBar *>())
        for (QAction *action : toolBar->actions())
            if (action->text() == text) {
                QWidget *button = toolBar->widgetForAction(action);
                if (!button || !button->isVisible())
                    break;
                QTest::mouseClick(button, Qt::LeftButton);
                return true;
            }
    qWarning("no tool bar button %s", qPrintable(text));
    dialog->reject();
    return false;
}

// In the print dialog: the last printer ("打印到文件(PDF)"), the file name typed, then 打印.
void printToFile(QPrintDialog *dialog, const QString &path)
{
    auto *printers = dialog->findChild<QComboBox *>(QStringLiteral("printers"));
    auto *fileName = dialog->findChild<QLineEdit *>(QStringLiteral("filename"));
    QVERIFY(printers && fileName);
    QTest::keyClick(printers, Qt::Key_End);
    QCOMPARE(printers->currentText(), QStringLiteral("打印到文件(PDF)"));
    QTest::keyClick(fileName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(fileName, path);
    if (QWidget *completion = QApplication::activePopupWidget())
        QTest::keyClick(completion, Qt::Key_Escape);
    QCOMPARE(fileName->text(), path);
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
        if (button->text() == QStringLiteral("打印(&P)")) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    QFAIL("the print dialog has no 打印 button");
}

// Every character of a text outside the radical blocks that the text map must not name.
bool hasRadicals(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x2E80 && c.unicode() <= 0x2FDF)
            return true;
    return false;
}

}

class PrintingTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<GridFixture> fx;

    void addTranscriptRows()
    {
        fx->ws.exec(QStringLiteral(
            "INSERT INTO GradeInfo VALUES ('G1', '计算机学院', NULL);"
            "INSERT INTO ClassInfo VALUES ('C1', 'G1', '软件工程一班', NULL);"
            "INSERT INTO StudentInfo (StudentID, StuName, StuSex, ClassID, InSchoolDate) VALUES"
            "  ('2007004', '欧阳𠀀远', '男', 'C1', '2007-09-03');"
            "UPDATE StudentInfo SET Remark = '名次 60–69' WHERE StudentID = '2007004';"
            "INSERT INTO SubjectInfo VALUES ('S1', '高等数学', 4, NULL), ('S2', '大学英语', 3, NULL),"
            "  ('S3', '数据结构', 2, NULL), ('S4', '体育', 1, NULL);"
            "INSERT INTO Score (StudentID, ScoreDateTime, Term, SubjectID, Score, CreditHour, Remark) VALUES"
            "  ('2007004', '2008-01-10', '第一学期', 'S1', 55, 4, NULL),"
            "  ('2007004', '2008-07-01', '第二学期', 'S1', 75, 4, '补考'),"
            "  ('2007004', '2009-01-05', '第三学期', 'S1', 90, 4, '重修'),"
            "  ('2007004', '2012-01-05', '第十学期', 'S2', NULL, 3, '缓考'),"
            "  ('2007004', '2012-07-05', '第十一学期', 'S2', 81, 3, NULL),"
            "  ('2007004', '2024-01-05', '2023-2024学年第二学期', 'S3', 70, 2, NULL),"
            "  ('2007004', '2024-09-05', '2024-2025学年第一学期', 'S4', 88, 1, NULL),"
            "  ('2007004', NULL, NULL, 'S3', 60, NULL, '补录');"));
    }

private slots:
    void initTestCase()
    {
        dravon::setShortDateFormatForTesting(QStringLiteral("yyyy/M/d"));
        ApplyLooks(*qApp);
    }
    void init() { fx = std::make_unique<GridFixture>(studentColumns, QStringLiteral("学生信息维护")); }
    void cleanup() { fx.reset(); }

    // ---- the grid's layout -------------------------------------------------

    void columnWidthsFitTheLine_data()
    {
        QTest::addColumn<QVector<ColumnMeasure>>("columns");
        QTest::addColumn<QVector<qreal>>("widths");
        // Line 1000: no column wider than 400.
        QTest::newRow("all fit: the rest shared out")
            << QVector<ColumnMeasure>{{40, 100, 100}, {40, 150, 150}, {40, 200, 200}, {40, 50, 50}}
            << QVector<qreal>{200, 300, 400, 100};
        QTest::newRow("a long text stops at the cap, the others grow")
            << QVector<ColumnMeasure>{{40, 120, 120}, {40, 120, 120}, {40, 120, 120}, {40, 3000, 60}}
            << QVector<qreal>{200, 200, 200, 400};
        QTest::newRow("two long texts share what is left")
            << QVector<ColumnMeasure>{{40, 300, 300}, {40, 200, 200}, {40, 2000, 50}, {40, 2000, 50}}
            << QVector<qreal>{300, 200, 250, 250};
        QTest::newRow("a long text keeps its unbroken part")
            << QVector<ColumnMeasure>{{40, 300, 300}, {40, 2000, 380}, {40, 2000, 50}}
            << QVector<qreal>{300, 380, 320};
        QTest::newRow("titles are kept whole")
            << QVector<ColumnMeasure>{{350, 20, 20}, {40, 5000, 30}, {300, 10, 10}}
            << QVector<qreal>{350, 350, 300};
        QTest::newRow("nothing fits: the widest minimums give way")
            << QVector<ColumnMeasure>{{100, 100, 100}, {100, 90, 90}, {450, 10, 10}, {450, 3000, 30}}
            << QVector<qreal>{100, 100, 400, 400};
    }
    void columnWidthsFitTheLine()
    {
        QFETCH(QVector<ColumnMeasure>, columns);
        QFETCH(QVector<qreal>, widths);
        const QVector<qreal> fitted = FitColumnWidths(columns, 1000);
        QCOMPARE(fitted.size(), widths.size());
        for (int i = 0; i < widths.size(); ++i)
            QVERIFY2(qAbs(fitted[i] - widths[i]) < 0.5,
                     qPrintable(QStringLiteral("column %1: %2, not %3").arg(i).arg(fitted[i]).arg(widths[i])));
    }

    void gridPdfKeepsEveryCellWhole_data()
    {
        QTest::addColumn<int>("remarkLength");
        QTest::newRow("remarks of 40 characters") << 40;
        QTest::newRow("remarks of 150 characters") << 150;
        QTest::newRow("remarks of 700 characters") << 700;
        QTest::newRow("remarks of 2000 characters, longer than a page") << 2000;
    }
    void gridPdfKeepsEveryCellWhole()
    {
        QFETCH(int, remarkLength);
        fx->ws.exec(studentRows(remarkLength));
        fx->open(QStringLiteral("Select * From StudentInfo"));
        fx->answerName = fx->outPath(QStringLiteral("名单.pdf"));
        ExportGridToPdf(fx->grid);
        QCOMPARE(fx->rec.last().icon, QMessageBox::Information);
        const QList<QStringList> shown = fx->gridRows();

        // Each page: the titles, whole, then rows; a row continued from the
        // page before has an empty first cell.
        QList<QList<QStringList>> printed;
        const QList<testsupport::PrintedTablePage> pages = testsupport::readPrintedTables(fx->answerName);
        QCOMPARE(pages.size(), testsupport::pdfPageCount(fx->answerName));
        for (int p = 0; p < pages.size(); ++p) {
            const testsupport::PrintedTablePage &table = pages[p];
            const QString where = QStringLiteral("page %1").arg(p + 1);
            QVERIFY2(table.strays.isEmpty(), qPrintable(where + QStringLiteral(": words across a ruling: ")
                                                        + table.strays.join(QLatin1Char(' '))));
            QCOMPARE(table.columns.size(), studentColumns.size() + 1);
            QVERIFY2(table.cells.size() >= 2, qPrintable(where));
            for (int c = 0; c < studentColumns.size(); ++c)
                QCOMPARE(table.cells[0][c], QStringList{shown[0][c]});
            // No column takes more than about 40 % of the line.
            const qreal line = table.columns.last() - table.columns.first();
            for (int c = 0; c < studentColumns.size(); ++c)
                QVERIFY2(table.columns[c + 1] - table.columns[c] <= 0.41 * line, qPrintable(where));
            for (int r = 1; r < table.cells.size(); ++r) {
                if (!table.cells[r][0].isEmpty()) {
                    printed << table.cells[r];
                    continue;
                }
                QVERIFY2(!printed.isEmpty() && r == 1, qPrintable(where + QStringLiteral(": a row without its number")));
                for (int c = 0; c < studentColumns.size(); ++c)
                    printed.last()[c] += table.cells[r][c];
            }
        }
        QCOMPARE(printed.size(), shown.size() - 1);
        for (int r = 0; r < printed.size(); ++r)
            for (int c = 0; c < studentColumns.size(); ++c) {
                const QString expected = shown[r + 1][c];
                const QString where = QStringLiteral("row %1, %2").arg(r + 1).arg(shown[0][c]);
                if (c == remarkColumn)
                    QVERIFY2(printed[r][c].join(QString()) == expected, qPrintable(where));
                else  // numbers, dates, codes and names on one line, exactly
                    QVERIFY2(printed[r][c] == (expected.isEmpty() ? QStringList() : QStringList{expected}),
                             qPrintable(where + QStringLiteral(": ") + printed[r][c].join(QLatin1Char('|'))));
            }
        // The rare character of a name is drawn from a font that has it.
        const QString fonts = QString::fromUtf8(testsupport::runProgram(QStringLiteral("pdffonts"), {fx->answerName}));
        QVERIFY2(fonts.contains(QStringLiteral("HanaMin")), qPrintable(fonts));
    }

    // ---- the text layer ----------------------------------------------------

    void printedToFileGetsTheSameTextMap_data()
    {
        QTest::addColumn<bool>("transcript");
        QTest::newRow("grid") << false;
        QTest::newRow("transcript") << true;
    }
    void printedToFileGetsTheSameTextMap()
    {
        QFETCH(bool, transcript);
        addTranscriptRows();
        fx->open(QStringLiteral("Select * From StudentInfo"));
        fx->setSchool(QStringLiteral("青山𪚥理工学院"));
        const QString path = fx->outPath(QStringLiteral("printed.pdf"));
        testsupport::whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *preview) {
            testsupport::whenModal<QPrintDialog>([&](QPrintDialog *dialog) { printToFile(dialog, path); });
            clickToolBarAction(preview, QStringLiteral("打印"));
        });
        if (transcript)
            PrintTranscript(fx->form.get(), *fx->conn, QStringLiteral("2007004"));
        else
            PrintGrid(fx->grid);
        QVERIFY2(QFile::exists(path), qPrintable(fx->rec.texts().join('\n')));
        QCOMPARE(fx->rec.messages.size(), 0);
        const QString text = pdfText(path);
        QVERIFY2(text.contains(QStringLiteral("欧阳𠀀远")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("青山𪚥理工学院")), qPrintable(text));
        if (!transcript)  // the fonts share one glyph between the figure dash and the en dash
            QVERIFY2(text.contains(QStringLiteral("名次 60–69")), qPrintable(text));
        QVERIFY2(squeezed(text).contains(QStringLiteral("第1页/共")), qPrintable(text));
        QVERIFY2(!hasRadicals(text), qPrintable(text));
        QCOMPARE(pdfInfo(path, QStringLiteral("Creator")), QStringLiteral("Veltrana"));
    }

    void exportedPdfsNameTheirCreatorAndRareCharacters()
    {
        addTranscriptRows();
        fx->open(QStringLiteral("Select * From StudentInfo"));
        fx->answerName = fx->outPath(QStringLiteral("grid.pdf"));
        ExportGridToPdf(fx->grid);
        const QString transcriptPdf = fx->outPath(QStringLiteral("t.pdf"));
        WriteTranscriptPdf(exporting::LoadTranscript(*fx->conn, QStringLiteral("2007004")), QString(), transcriptPdf);
        for (const QString &path : {fx->answerName, transcriptPdf}) {
            QCOMPARE(pdfInfo(path, QStringLiteral("Creator")), QStringLiteral("Veltrana"));
            const QString text = pdfText(path);
            QVERIFY2(text.contains(QStringLiteral("欧阳𠀀远")), qPrintable(text));
            QVERIFY2(!hasRadicals(text), qPrintable(text));
        }
        QVERIFY2(pdfText(fx->answerName).contains(QStringLiteral("名次 60–69")), qPrintable(pdfText(fx->answerName)));
        QCOMPARE(pdfInfo(fx->answerName, QStringLiteral("Title")), QStringLiteral("学生信息维护"));
    }

    // ---- the transcript ----------------------------------------------------

    void transcriptOrdersTermsAndSaysWhyCreditsWereEarned()
    {
        addTranscriptRows();
        const exporting::Transcript t = exporting::LoadTranscript(*fx->conn, QStringLiteral("2007004"));
        QStringList terms;
        for (const exporting::TranscriptTerm &term : t.terms)
            terms << exporting::TranscriptTermLabel(term.term);
        const QStringList ordered = {"第一学期",  "第二学期", "第三学期", "第十学期", "第十一学期",
                                     "2023-2024学年第二学期", "2024-2025学年第一学期", "未注明学期"};
        QCOMPARE(terms, ordered);
        QCOMPARE(t.sex, QStringLiteral("男"));
        QCOMPARE(t.inSchoolDate, QStringLiteral("2007/9/3"));
        using exporting::CreditOutcome;
        QCOMPARE(t.terms[0].lines[0].outcome, CreditOutcome::Failed);
        QCOMPARE(t.terms[1].lines[0].outcome, CreditOutcome::Earned);  // the retake, in the second term
        QCOMPARE(t.terms[2].lines[0].outcome, CreditOutcome::EarnedBefore);
        QCOMPARE(t.terms[3].lines[0].outcome, CreditOutcome::NoMark);
        QCOMPARE(exporting::TranscriptLineNote(t.terms[0].lines[0]), QStringLiteral("不及格"));
        QCOMPARE(exporting::TranscriptLineNote(t.terms[2].lines[0]), QStringLiteral("重修，学分已由此前成绩取得"));
        QCOMPARE(exporting::TranscriptLineNote(t.terms[3].lines[0]), QStringLiteral("缓考，无成绩"));
        QCOMPARE(t.creditsEarned, 4.0 + 3 + 2 + 1);  // the row without a term comes last: S3 was earned before
        QCOMPARE(t.averagedMarks, 7);  // every mark with a positive credit; the deferred one has no mark

        const QString path = fx->outPath(QStringLiteral("t.pdf"));
        WriteTranscriptPdf(t, QStringLiteral("青山理工学院"), path);
        const QString text = pdfText(path);
        qsizetype at = 0;
        for (const QString &term : ordered) {
            const qsizetype found = text.indexOf(term, at);
            QVERIFY2(found >= 0, qPrintable(term + QStringLiteral(" out of order:\n") + text));
            at = found + term.size();
        }
        const QString flat = squeezed(text);
        for (const QString &part : {QStringLiteral("性别男"), QStringLiteral("入学时间2007/9/3"),
                                    QStringLiteral("取得学分"), QStringLiteral("缓考，无成绩"),
                                    squeezed(exporting::TranscriptAverageNote())})
            QVERIFY2(flat.contains(part), qPrintable(part + QStringLiteral("\n") + text));
        QVERIFY2(flat.contains(QStringLiteral("加权平均成绩：%1（计入7条成绩）").arg(*t.weightedAverage, 0, 'f', 2)),
                 qPrintable(text));
        // The remark is printed on the line of its mark.
        const QList<QList<testsupport::PdfWord>> pages = testsupport::pdfWords(path);
        bool beside = false;
        for (const QList<testsupport::PdfWord> &words : pages)
            for (const testsupport::PdfWord &remark : words)
                if (remark.text.startsWith(QStringLiteral("补考")))
                    for (const testsupport::PdfWord &mark : words)
                        beside = beside || (mark.text == QStringLiteral("75")
                                            && qAbs(mark.box.center().y() - remark.box.center().y()) < 2);
        QVERIFY2(beside, qPrintable(text));
    }

    void transcriptPreviewExportsItsPdf()
    {
        addTranscriptRows();
        fx->answerName = fx->outPath(QStringLiteral("成绩单"));
        int pages = 0;
        testsupport::whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *preview) {
            clickToolBarAction(preview, QStringLiteral("导出为 PDF…"));
            preview->reject();
        });
        PrintTranscript(fx->form.get(), *fx->conn, QStringLiteral("2007004"));
        const QString path = fx->outPath(QStringLiteral("成绩单.pdf"));
        QCOMPARE(fx->askedNames.size(), 1);
        QCOMPARE(QFileInfo(fx->askedNames[0]).fileName(), QStringLiteral("学生成绩单 2007004 欧阳𠀀远.pdf"));
        QCOMPARE(fx->rec.texts(), QStringList{QStringLiteral("已将成绩单导出到文件 \"%1\"。").arg(path)});
        pages = testsupport::pdfPageCount(path);
        QVERIFY(pages >= 1);
        QVERIFY(pdfText(path).contains(QStringLiteral("欧阳𠀀远")));
        // A folder that does not exist is reported, and nothing is written.
        fx->answerName = fx->outPath(QStringLiteral("no/such/folder/t.pdf"));
        testsupport::whenModal<QPrintPreviewDialog>([&](QPrintPreviewDialog *preview) {
            clickToolBarAction(preview, QStringLiteral("导出为 PDF…"));
            preview->reject();
        });
        PrintTranscript(fx->form.get(), *fx->conn, QStringLiteral("2007004"));
        QCOMPARE(fx->rec.last().icon, QMessageBox::Critical);
        QCOMPARE(fx->rec.last().text, QStringLiteral("无法写入文件 \"%1\":文件夹不存在").arg(fx->answerName));
    }
};

QTEST_MAIN(PrintingTest)
#include "tst_printing.moc"
