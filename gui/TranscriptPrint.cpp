#include "gui/TranscriptPrint.h"

#include "gui/Shell_Unit.h"
#include "data/Error.h"
#include "gui/GridExport.h"
#include "gui/PdfOutput.h"
#include "gui/SaveFileDialog.h"
#include "gui/PrintedCell.h"
#include "gui/TablePrinter.h"

#include <QApplication>
#include <QDir>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

using exporting::FormatTranscriptNumber;
using exporting::Transcript;

namespace {

constexpr qreal tolerance = 0.01;

// One piece of the printed transcript: a row of a table (cells with borders)
// or a line of text, which may wrap.
struct Item
{
    std::vector<CellText> cells;
    QVector<qreal> widths;
    bool bordered = false;
    bool shaded = false;
    int repeatTitles = -1;      // a table row: the item holding its table's titles
    bool keepWithNext = false;  // a term's heading stays with its titles and first row
    qreal gapAfter = 0;
    qreal content = 0;          // height of the text
    qreal extra = 0;            // padding above and below the text
    qreal height() const { return content + extra; }
};

const QVector<qreal> infoColumns = {0.14, 0.36, 0.14, 0.36};

QStringList scoreTitles()
{
    return {QStringLiteral("科目编号"), QStringLiteral("科目名称"), QStringLiteral("考试日期"), QStringLiteral("成绩"),
            QStringLiteral("学分"), QStringLiteral("取得学分"), QStringLiteral("备注")};
}

QStringList scoreCells(const exporting::TranscriptLine &l)
{
    return {l.subjectId,
            l.subjectName,
            l.date,
            l.mark ? FormatTranscriptNumber(*l.mark) : QString(),
            l.credit ? FormatTranscriptNumber(*l.credit) : QString(),
            exporting::TranscriptEarnedCredits(l),
            exporting::TranscriptLineNote(l)};
}

// The score table's columns, fitted to what every term's rows hold.
QVector<qreal> scoreColumns(const Transcript &t, const PageFrame &frame, QPaintDevice *device)
{
    const QStringList titles = scoreTitles();
    const qreal pad = 2 * frame.padding() + 1;
    QVector<ColumnMeasure> measures(titles.size());
    for (int c = 0; c < titles.size(); ++c)
        measures[c].title = NaturalWidth(titles[c], frame.boldFont(), device) + pad;
    for (const exporting::TranscriptTerm &term : t.terms)
        for (const exporting::TranscriptLine &l : term.lines) {
            const QStringList cells = scoreCells(l);
            for (int c = 0; c < cells.size(); ++c) {
                measures[c].natural = qMax(measures[c].natural, NaturalWidth(cells[c], frame.font(), device) + pad);
                measures[c].unbreakable =
                    qMax(measures[c].unbreakable, UnbreakableWidth(cells[c], frame.font(), device) + pad);
            }
        }
    return FitColumnWidths(measures, frame.pageWidth());
}

std::vector<Item> buildItems(const Transcript &t, const PageFrame &frame, QPaintDevice *device, RareCharacters &rare)
{
    std::vector<Item> items;
    const qreal pad = frame.padding();
    const qreal width = frame.pageWidth();
    auto row = [&](const QStringList &texts, const QVector<qreal> &widths, bool titles, int repeatTitles) {
        Item item;
        item.bordered = true;
        item.shaded = titles;
        item.repeatTitles = repeatTitles;
        item.widths = widths;
        const QFont &font = titles ? frame.boldFont() : frame.font();
        for (int c = 0; c < texts.size(); ++c) {
            rare.note(texts[c]);
            item.cells.emplace_back(texts[c], font, widths[c] - 2 * pad, device, Qt::AlignHCenter,
                                    titles ? Qt::AlignHCenter : Qt::AlignLeft);
        }
        item.content = RowContentHeight(item.cells, frame.lineHeight());
        item.extra = 2 * pad;
        items.push_back(std::move(item));
        return int(items.size()) - 1;
    };
    auto text = [&](const QString &s, bool bold, Qt::Alignment align, qreal gapAfter) {
        Item item;
        item.widths = {width};
        rare.note(s);
        item.cells.emplace_back(s, bold ? frame.boldFont() : frame.font(), width, device, align, align);
        item.content = RowContentHeight(item.cells, frame.lineHeight());
        item.extra = pad;
        item.gapAfter = gapAfter;
        items.push_back(std::move(item));
        return int(items.size()) - 1;
    };

    QVector<qreal> info;
    for (const qreal part : infoColumns)
        info << part * width;
    row({QStringLiteral("学号"), t.studentId, QStringLiteral("姓名"), t.studentName}, info, false, -1);
    row({QStringLiteral("性别"), t.sex, QStringLiteral("入学时间"), t.inSchoolDate}, info, false, -1);
    const QString classText = t.className.isEmpty() ? t.classId : QStringLiteral("%1 %2").arg(t.classId, t.className);
    row({QStringLiteral("班级"), classText, QStringLiteral("院系"), t.collegeName}, info, false, -1);
    items.back().gapAfter = frame.lineHeight();

    if (!t.hasScores()) {
        text(QStringLiteral("该学生没有成绩记录。"), false, Qt::AlignLeft, 0);
        return items;
    }
    const QVector<qreal> columns = scoreColumns(t, frame, device);
    for (const exporting::TranscriptTerm &term : t.terms) {
        const int heading = text(exporting::TranscriptTermLabel(term.term), true, Qt::AlignLeft, 0);
        items[size_t(heading)].keepWithNext = true;
        const int titles = row(scoreTitles(), columns, true, -1);
        for (const exporting::TranscriptLine &l : term.lines)
            row(scoreCells(l), columns, false, titles);
        text(QStringLiteral("本学期获得学分：%1").arg(FormatTranscriptNumber(term.creditsEarned)), false, Qt::AlignRight,
             frame.lineHeight() * 0.6);
    }
    text(QStringLiteral("获得总学分：%1").arg(FormatTranscriptNumber(t.creditsEarned)), true, Qt::AlignLeft, 0);
    text(t.weightedAverage ? QStringLiteral("加权平均成绩：%1（计入 %2 条成绩）")
                                 .arg(QString::number(*t.weightedAverage, 'f', 2))
                                 .arg(t.averagedMarks)
                           : QStringLiteral("加权平均成绩：无（没有计入的成绩）"),
         true, Qt::AlignLeft, frame.lineHeight() * 0.4);
    text(exporting::TranscriptAverageNote(), false, Qt::AlignLeft, 0);
    return items;
}

// A part of an item on a page: the text between from and to.
struct Slice
{
    int item = 0;
    qreal from = 0;
    qreal to = 0;
};

// Pages as lists of slices; a table continued on a new page repeats its
// titles, and an item taller than what a page holds continues on the next.
QList<QList<Slice>> paginate(const std::vector<Item> &items, const PageFrame &frame)
{
    QList<QList<Slice>> pages;
    const qreal room = frame.body().height();
    qreal used = 0;
    bool fresh = true;  // nothing but repeated titles on the page yet
    auto newPage = [&](int repeatTitles) {
        pages.append(QList<Slice>());
        used = 0;
        fresh = true;
        if (repeatTitles >= 0) {
            const Item &titles = items[size_t(repeatTitles)];
            pages.last() << Slice{repeatTitles, 0, titles.content};
            used += titles.height();
        }
    };
    newPage(-1);
    for (int i = 0; i < int(items.size()); ++i) {
        const Item &item = items[size_t(i)];
        qreal need = item.height();
        if (item.keepWithNext)
            for (int next = i + 1; next <= i + 2 && next < int(items.size()); ++next)
                need += items[size_t(next)].height();
        if (!fresh && used + need > room + tolerance)
            newPage(item.repeatTitles);
        qreal from = 0;
        while (true) {
            const qreal space = room - used - item.extra;
            if (item.content - from <= space + tolerance) {
                pages.last() << Slice{i, from, item.content};
                used += item.content - from + item.extra + item.gapAfter;
                fresh = false;
                break;
            }
            qreal cut = RowCut(item.cells, from + space);
            if (cut <= from + tolerance) {
                if (!fresh) {
                    newPage(item.repeatTitles);
                    continue;
                }
                cut = from + space;  // one line taller than a page: it is cut
            }
            pages.last() << Slice{i, from, cut};
            from = cut;
            newPage(item.repeatTitles);
        }
    }
    return pages;
}

void paintSlice(QPainter &painter, const PageFrame &frame, const Item &item, const Slice &slice, qreal y)
{
    const qreal pad = frame.padding();
    if (!item.bordered) {
        item.cells.front().draw(painter, QPointF(0, y + pad / 2), slice.from, slice.to);
        return;
    }
    qreal x = 0;
    for (size_t c = 0; c < item.cells.size(); ++c) {
        const QRectF cell(x, y, item.widths[int(c)], slice.to - slice.from + 2 * pad);
        if (item.shaded)
            painter.fillRect(cell, QColor(225, 225, 225));
        painter.drawRect(cell);
        item.cells[c].draw(painter, QPointF(x + pad, y + pad), slice.from, slice.to);
        x += cell.width();
    }
}

}

QString TranscriptTitle()
{
    return QStringLiteral("学生成绩单");
}

int PaintTranscript(QPagedPaintDevice *device, const Transcript &transcript, const QString &school,
                    const QDate &printed, RareCharacters *rare)
{
    const PageFrame frame(device, QApplication::font(), {school, TranscriptTitle(), printed});
    RareCharacters noted;
    frame.noteTexts(noted);
    const std::vector<Item> items = buildItems(transcript, frame, device, noted);
    if (rare)
        *rare = noted;
    const QList<QList<Slice>> pages = paginate(items, frame);
    QPainter painter;
    if (!painter.begin(device))
        throw dravon::Error(QStringLiteral("无法开始打印"));
    QPen pen(Qt::black);
    pen.setWidthF(qMax<qreal>(1, device->logicalDpiX() / 200.0));
    painter.setPen(pen);
    for (int p = 0; p < pages.size(); ++p) {
        if (p > 0)
            device->newPage();
        frame.paint(painter, p + 1, int(pages.size()));
        qreal y = frame.body().top();
        for (const Slice &slice : pages[p]) {
            const Item &item = items[size_t(slice.item)];
            paintSlice(painter, frame, item, slice, y);
            y += slice.to - slice.from + item.extra + (slice.to >= item.content - tolerance ? item.gapAfter : 0);
        }
    }
    if (!painter.end())
        throw dravon::Error(QStringLiteral("无法完成打印"));
    return int(pages.size());
}

void WriteTranscriptPdf(const Transcript &transcript, const QString &school, const QString &path)
{
    WritePdfFile(path, TranscriptDocumentName(transcript), [&](QPdfWriter &writer, PaintedText &painted) {
        SetUpPage(&writer, QPageLayout::Portrait);
        painted.font = QApplication::font();
        PaintTranscript(&writer, transcript, school, QDate::currentDate(), &painted.rare);
        return true;
    });
}

QString TranscriptDocumentName(const Transcript &transcript)
{
    return QStringLiteral("%1 %2 %3").arg(TranscriptTitle(), transcript.studentId, transcript.studentName);
}

void PrintTranscript(QWidget *parent, dravon::Connection &connection, const QString &studentId)
{
    const QString title = QStringLiteral("打印成绩单");
    if (studentId.trimmed().isEmpty()) {
        ShowMessage(QStringLiteral("请先选择一名学生。"), title, QMessageBox::Information);
        return;
    }
    Transcript transcript;
    try {
        transcript = exporting::LoadTranscript(connection, studentId);
    } catch (const dravon::Error &e) {
        ShowMessage(e.text(), title, QMessageBox::Critical);
        return;
    }
    const QString school = exporting::schoolName();
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(TranscriptDocumentName(transcript));
    SetUpPage(&printer, QPageLayout::Portrait);
    ShowPrintPreview(
        parent, printer, QStringLiteral("TranscriptPreview"), title,
        [&](QPrinter *target, PaintedText &painted) {
            painted.font = QApplication::font();
            PaintTranscript(target, transcript, school, QDate::currentDate(), &painted.rare);
        },
        [&] { ExportTranscriptPdf(QApplication::activeModalWidget(), transcript, school); });
}

void ExportTranscriptPdf(QWidget *parent, const Transcript &transcript, const QString &school)
{
    const QString title = QStringLiteral("导出为 PDF");
    const QString path = AskSaveFileName(parent, title, TranscriptDocumentName(transcript), QStringLiteral("pdf"),
                                         QStringLiteral("PDF 文件 (*.pdf)"));
    if (path.isEmpty())
        return;
    try {
        WriteTranscriptPdf(transcript, school, path);
    } catch (const exporting::ExportFailure &e) {
        ShowMessage(e.text(), title, QMessageBox::Critical);
        return;
    }
    ReportWrittenFile(QStringLiteral("已将成绩单导出到文件 \"%1\"。").arg(QDir::toNativeSeparators(path)), title, path);
}
