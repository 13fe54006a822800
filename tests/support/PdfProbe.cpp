#include "support/PdfProbe.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <algorithm>
#include <functional>

namespace testsupport {

QByteArray runProgram(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), p.readAllStandardError().constData());
    return p.readAllStandardOutput();
}

QString pdfText(const QString &path)
{
    return QString::fromUtf8(runProgram(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"),
                                                                       path, QStringLiteral("-")}));
}

QStringList pdfPages(const QString &path)
{
    QStringList pages = pdfText(path).split(QChar(u'\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

QString squeezed(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

QString pdfInfo(const QString &path, const QString &key)
{
    const QString info = QString::fromUtf8(runProgram(QStringLiteral("pdfinfo"), {QStringLiteral("-enc"),
                                                                                   QStringLiteral("UTF-8"), path}));
    for (const QString &line : info.split(QLatin1Char('\n')))
        if (line.startsWith(key + QLatin1Char(':')))
            return line.mid(key.size() + 1).trimmed();
    return {};
}

int pdfPageCount(const QString &path)
{
    return pdfInfo(path, QStringLiteral("Pages")).toInt();
}

QImage renderPdfPage(const QString &path, int page, int dpi)
{
    QTemporaryDir dir;
    const QString base = QDir(dir.path()).filePath(QStringLiteral("page"));
    runProgram(QStringLiteral("pdftoppm"), {QStringLiteral("-gray"), QStringLiteral("-png"), QStringLiteral("-r"),
                                            QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                                            QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                                            path, base});
    return QImage(base + QStringLiteral(".png")).convertToFormat(QImage::Format_Grayscale8);
}

QList<QList<PdfWord>> pdfWords(const QString &path)
{
    const QByteArray output = runProgram(QStringLiteral("pdftotext"), {QStringLiteral("-bbox-layout"), QStringLiteral("-enc"),
                                                                        QStringLiteral("UTF-8"), path, QStringLiteral("-")});
    // Only the pages: the head repeats the document's title, which pdftotext
    // spoils when it holds a character beyond the Basic Multilingual Plane.
    const qsizetype begin = output.indexOf("<doc>");
    const qsizetype end = output.lastIndexOf("</doc>");
    const QByteArray xml = begin >= 0 && end > begin ? output.mid(begin, end + 6 - begin) : QByteArray();
    QList<QList<PdfWord>> pages;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        r.readNext();
        if (r.isStartElement() && r.name() == QLatin1String("page")) {
            pages.append(QList<PdfWord>());
        } else if (r.isStartElement() && r.name() == QLatin1String("word") && !pages.isEmpty()) {
            const auto a = r.attributes();
            const qreal x0 = a.value(QLatin1String("xMin")).toDouble();
            const qreal y0 = a.value(QLatin1String("yMin")).toDouble();
            const qreal x1 = a.value(QLatin1String("xMax")).toDouble();
            const qreal y1 = a.value(QLatin1String("yMax")).toDouble();
            pages.last().append({r.readElementText(), QRectF(QPointF(x0, y0), QPointF(x1, y1))});
        }
    }
    return pages;
}

namespace {

// Positions (pixels) where the test holds, runs of neighbours merged to their middle.
QList<qreal> rulings(int count, const std::function<bool(int)> &isRuling)
{
    QList<qreal> found;
    int start = -1;
    for (int i = 0; i <= count; ++i) {
        const bool on = i < count && isRuling(i);
        if (on && start < 0)
            start = i;
        if (!on && start >= 0) {
            found << (start + i - 1) / 2.0 + 0.5;
            start = -1;
        }
    }
    return found;
}

}

namespace {

PrintedTablePage readTable(const QImage &image, const QList<PdfWord> &pageWords, int dpi)
{
    const qreal scale = 72.0 / dpi;
    PrintedTablePage table;
    if (image.isNull())
        return table;
    auto dark = [&](int x, int y) { return image.constScanLine(y)[x] < 150; };
    // Horizontal rulings: dark runs across a third of the page.
    const QList<qreal> rows = rulings(image.height(), [&](int y) {
        int run = 0;
        int longest = 0;
        for (int x = 0; x < image.width(); ++x) {
            run = dark(x, y) ? run + 1 : 0;
            longest = qMax(longest, run);
        }
        return longest > image.width() / 3;
    });
    if (rows.size() < 2)
        return table;
    const int top = int(rows.first());
    const int bottom = int(rows.last());
    const QList<qreal> columns = rulings(image.width(), [&](int x) {
        int on = 0;
        for (int y = top; y <= bottom; ++y)
            on += dark(x, y) ? 1 : 0;
        return on >= (bottom - top + 1) * 0.95;
    });
    for (const qreal x : columns)
        table.columns << x * scale;
    for (const qreal y : rows)
        table.rows << y * scale;
    const int columnCount = int(table.columns.size()) - 1;
    const int rowCount = int(table.rows.size()) - 1;
    if (columnCount < 1)
        return table;
    QList<QList<QList<PdfWord>>> words(rowCount, QList<QList<PdfWord>>(columnCount));
    const QRectF box(QPointF(table.columns.first(), table.rows.first()), QPointF(table.columns.last(), table.rows.last()));
    constexpr qreal slack = 0.6;
    for (const PdfWord &w : pageWords) {
        if (!box.adjusted(-slack, -slack, slack, slack).intersects(w.box))
            continue;
        int column = -1;
        int row = -1;
        for (int c = 0; c < columnCount; ++c)
            if (w.box.left() >= table.columns[c] - slack && w.box.right() <= table.columns[c + 1] + slack)
                column = c;
        for (int r = 0; r < rowCount; ++r)
            if (w.box.top() >= table.rows[r] - slack && w.box.bottom() <= table.rows[r + 1] + slack)
                row = r;
        if (column < 0 || row < 0)
            table.strays << w.text;
        else
            words[row][column] << w;
    }
    for (int r = 0; r < rowCount; ++r) {
        QList<QStringList> rowCells;
        for (int c = 0; c < columnCount; ++c) {
            QList<PdfWord> cell = words[r][c];
            // Reading order: lines from the top, words from the left; words
            // with a gap between them were separated by a space.
            std::sort(cell.begin(), cell.end(), [](const PdfWord &a, const PdfWord &b) {
                if (qAbs(a.box.center().y() - b.box.center().y()) > a.box.height() / 2)
                    return a.box.center().y() < b.box.center().y();
                return a.box.left() < b.box.left();
            });
            QStringList lines;
            const PdfWord *previous = nullptr;
            for (const PdfWord &w : cell) {
                const bool sameLine = previous && qAbs(previous->box.center().y() - w.box.center().y()) <= w.box.height() / 2;
                if (!sameLine)
                    lines << w.text;
                else
                    lines.last() += (w.box.left() - previous->box.right() > w.box.height() * 0.1 ? QStringLiteral(" ")
                                                                                                : QString())
                                    + w.text;
                previous = &w;
            }
            rowCells << lines;
        }
        table.cells << rowCells;
    }
    return table;
}

}

QList<PrintedTablePage> readPrintedTables(const QString &path)
{
    constexpr int dpi = 100;
    QTemporaryDir dir;
    const QString base = QDir(dir.path()).filePath(QStringLiteral("page"));
    runProgram(QStringLiteral("pdftoppm"),
               {QStringLiteral("-gray"), QStringLiteral("-png"), QStringLiteral("-r"), QString::number(dpi), path, base});
    QStringList images = QDir(dir.path()).entryList({QStringLiteral("page-*.png")}, QDir::Files, QDir::Name);
    QList<PrintedTablePage> tables;
    const QList<QList<PdfWord>> words = pdfWords(path);
    for (int page = 0; page < words.size(); ++page) {
        const QImage image(QDir(dir.path()).filePath(images.value(page)));
        tables << readTable(image.convertToFormat(QImage::Format_Grayscale8), words[page], dpi);
    }
    return tables;
}

}
