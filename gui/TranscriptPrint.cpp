#include "gui/TranscriptPrint.h"

#include "gui/Shell_Unit.h"
#include "data/Error.h"
#include "gui/TablePrinter.h"

#include <QApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>

using exporting::FormatTranscriptNumber;
using exporting::Transcript;

namespace {

constexpr int textFlags = Qt::AlignCenter | Qt::TextWrapAnywhere;

// One line of the printed transcript: a line of text or a row of a table.
struct Item
{
    enum Kind { Text, Row } kind = Text;
    QStringList cells;         // Text: one cell
    QVector<qreal> fractions;  // Row: column widths as parts of the page width
    bool bold = false;
    bool shaded = false;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    qreal height = 0;
    int repeatTitles = -1;  // Row: the item holding this table's titles
    qreal gapAfter = 0;
};

const QVector<qreal> infoColumns = {0.14, 0.36, 0.14, 0.36};
const QVector<qreal> scoreColumns = {0.18, 0.34, 0.18, 0.15, 0.15};

QList<Item> buildItems(const Transcript &t, const PageFrame &frame)
{
    QList<Item> items;
    const qreal line = frame.lineHeight();
    const qreal pad = frame.padding();
    auto row = [&](const QStringList &cells, const QVector<qreal> &fractions, bool bold, bool shaded, int titles) {
        Item item;
        item.kind = Item::Row;
        item.cells = cells;
        item.fractions = fractions;
        item.bold = bold;
        item.shaded = shaded;
        item.repeatTitles = titles;
        const QFontMetricsF fm(bold ? frame.boldFont() : frame.font());
        qreal h = line;
        for (int c = 0; c < cells.size(); ++c) {
            const qreal w = qMax<qreal>(1, fractions[c] * frame.pageWidth() - 2 * pad);
            if (fm.horizontalAdvance(cells[c]) > w)
                h = qMax(h, fm.boundingRect(QRectF(0, 0, w, 1e9), textFlags, cells[c]).height());
        }
        item.height = h + 2 * pad;
        items << item;
        return int(items.size()) - 1;
    };
    auto text = [&](const QString &s, bool bold, Qt::Alignment align, qreal gapAfter) {
        Item item;
        item.cells = {s};
        item.bold = bold;
        item.align = align;
        item.height = line + pad;
        item.gapAfter = gapAfter;
        items << item;
    };

    row({QStringLiteral("学号"), t.studentId, QStringLiteral("姓名"), t.studentName}, infoColumns, false, false, -1);
    const QString classText = t.className.isEmpty() ? t.classId : QStringLiteral("%1 %2").arg(t.classId, t.className);
    row({QStringLiteral("班级"), classText, QStringLiteral("院系"), t.collegeName}, infoColumns, false, false, -1);
    items.last().gapAfter = line;

    if (!t.hasScores()) {
        text(QStringLiteral("该学生没有成绩记录。"), false, Qt::AlignLeft | Qt::AlignVCenter, 0);
        return items;
    }
    for (const exporting::TranscriptTerm &term : t.terms) {
        text(exporting::TranscriptTermLabel(term.term), true, Qt::AlignLeft | Qt::AlignVCenter, 0);
        const int titles = row({QStringLiteral("科目编号"), QStringLiteral("科目名称"), QStringLiteral("考试日期"),
                                QStringLiteral("成绩"), QStringLiteral("学分")},
                               scoreColumns, true, true, -1);
        for (const exporting::TranscriptLine &l : term.lines)
            row({l.subjectId, l.subjectName, l.date, l.mark ? FormatTranscriptNumber(*l.mark) : QString(),
                 l.credit ? FormatTranscriptNumber(*l.credit) : QString()},
                scoreColumns, false, false, titles);
        text(QStringLiteral("本学期获得学分：%1").arg(FormatTranscriptNumber(term.creditsEarned)), false,
             Qt::AlignRight | Qt::AlignVCenter, line * 0.6);
    }
    text(QStringLiteral("获得总学分：%1").arg(FormatTranscriptNumber(t.creditsEarned)), true,
         Qt::AlignLeft | Qt::AlignVCenter, 0);
    text(QStringLiteral("加权平均成绩：%1")
             .arg(t.weightedAverage ? QString::number(*t.weightedAverage, 'f', 2) : QStringLiteral("无")),
         true, Qt::AlignLeft | Qt::AlignVCenter, 0);
    return items;
}

// Pages as lists of item indexes; a table continued on a new page repeats its titles.
QList<QList<int>> paginate(const QList<Item> &items, const PageFrame &frame)
{
    QList<QList<int>> pages;
    pages.append(QList<int>());
    qreal used = 0;
    const qreal room = frame.body().height();
    for (int i = 0; i < items.size(); ++i) {
        const Item &item = items[i];
        // A term's heading stays with its titles and first row.
        qreal need = item.height;
        if (item.kind == Item::Text && i + 2 < items.size() && items[i + 1].kind == Item::Row
            && items[i + 1].repeatTitles < 0 && items[i + 1].bold)
            need += items[i + 1].height + items[i + 2].height;
        if (used > 0 && used + need > room) {
            pages.append(QList<int>());
            used = 0;
            if (item.kind == Item::Row && item.repeatTitles >= 0) {
                pages.last() << item.repeatTitles;
                used += items[item.repeatTitles].height;
            }
        }
        pages.last() << i;
        used += item.height + item.gapAfter;
    }
    return pages;
}

void paintItem(QPainter &painter, const PageFrame &frame, const Item &item, qreal y)
{
    painter.setFont(item.bold ? frame.boldFont() : frame.font());
    if (item.kind == Item::Text) {
        painter.drawText(QRectF(0, y, frame.pageWidth(), item.height), int(item.align), item.cells.value(0));
        return;
    }
    qreal x = 0;
    for (int c = 0; c < item.cells.size(); ++c) {
        const QRectF cell(x, y, item.fractions[c] * frame.pageWidth(), item.height);
        if (item.shaded)
            painter.fillRect(cell, QColor(225, 225, 225));
        painter.drawRect(cell);
        painter.drawText(cell.adjusted(frame.padding(), frame.padding(), -frame.padding(), -frame.padding()),
                         textFlags, item.cells[c]);
        x += cell.width();
    }
}

}

QString TranscriptTitle()
{
    return QStringLiteral("学生成绩单");
}

int PaintTranscript(QPagedPaintDevice *device, const Transcript &transcript, const QString &school,
                    const QDate &printed)
{
    const PageFrame frame(device, QApplication::font(), {school, TranscriptTitle(), printed});
    const QList<Item> items = buildItems(transcript, frame);
    const QList<QList<int>> pages = paginate(items, frame);
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
        for (const int i : pages[p]) {
            paintItem(painter, frame, items[i], y);
            y += items[i].height + items[i].gapAfter;
        }
    }
    if (!painter.end())
        throw dravon::Error(QStringLiteral("无法完成打印"));
    return int(pages.size());
}

void WriteTranscriptPdf(const Transcript &transcript, const QString &school, const QString &path)
{
    exporting::StagedFile staged(path);
    {
        QPdfWriter writer(staged.path());
        writer.setResolution(300);
        writer.setTitle(QStringLiteral("%1 %2 %3").arg(TranscriptTitle(), transcript.studentId, transcript.studentName));
        SetUpPage(&writer, QPageLayout::Portrait);
        try {
            PaintTranscript(&writer, transcript, school, QDate::currentDate());
        } catch (const dravon::Error &e) {
            throw exporting::ExportFailure(exporting::failureText(path, e.text()));
        }
    }
    if (!RepairPdfTextMap(staged.path()))
        throw exporting::ExportFailure(exporting::failureText(path, QStringLiteral("无法完成文件")));
    QFile written(staged.path());
    bool complete = false;
    if (written.open(QIODevice::ReadOnly) && written.size() > 0) {
        written.seek(qMax<qint64>(0, written.size() - 64));
        complete = written.readAll().contains("%%EOF");
    }
    if (!complete)
        throw exporting::ExportFailure(exporting::failureText(path, QStringLiteral("文件没有写完整(磁盘可能已满)")));
    staged.commit();
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
    printer.setDocName(QStringLiteral("%1 %2 %3").arg(TranscriptTitle(), transcript.studentId, transcript.studentName));
    SetUpPage(&printer, QPageLayout::Portrait);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(QStringLiteral("TranscriptPreview"));
    preview.setWindowTitle(title);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&](QPrinter *target) {
        Guarded([&] { PaintTranscript(target, transcript, school, QDate::currentDate()); });
    });
    ExecDialog(&preview);
}
