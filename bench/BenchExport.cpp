// Times exporting a large table and reports the peak memory of each export:
//   BenchExport <database filled by GenerateData> [output folder] [pdf]
// Exports "Select * From Score" (a million rows from GenerateData's defaults)
// to CSV and to an .xlsx workbook, and with "pdf" also to a PDF file. The peak resident memory is reset before
// each export, so each figure is that export's own peak; it stays flat as the
// table grows because rows are read a page at a time and written straight out.
#include "data/Dravon.h"
#include "data/export/TableExport.h"
#include "gui/GridExport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Resident memory now and at its peak, in MiB (Linux /proc).
double statusMiB(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void report(const char *what, qint64 rows, double ms, const QString &file, double before)
{
    std::printf("%-6s %9lld rows  %8.0f ms  %8.0f rows/s  file %7.1f MiB  resident before %6.1f MiB  peak %6.1f MiB\n",
                what, static_cast<long long>(rows), ms, rows / (ms / 1000.0), QFileInfo(file).size() / 1048576.0,
                before, statusMiB("VmHWM:"));
}

}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <database> [output folder]\n", argv[0]);
        return 2;
    }
    QTemporaryDir temp;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temp.path();
    dravon::Connection connection;
    connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security Info=False")
                                       .arg(QString::fromLocal8Bit(argv[1])));
    try {
        connection.open();
        QElapsedTimer timer;
        timer.start();
        auto set = SQLDataSet(QStringLiteral("Select * From Score"), connection);
        std::printf("open   %9d rows  %8.0f ms  resident %6.1f MiB\n", set->recordCount(), timer.nsecsElapsed() / 1e6,
                    statusMiB("VmRSS:"));
        QVector<int> fields;
        QStringList titles;
        for (int i = 0; i < set->fields().size(); ++i) {
            fields << i;
            titles << set->fields()[i].name;
        }
        const exporting::ExportTable table(set.get(), fields, titles);

        const QString csv = QDir(folder).filePath(QStringLiteral("bench.csv"));
        double before = statusMiB("VmRSS:");
        resetPeak();
        timer.restart();
        exporting::writeCsv(table, csv);
        report("csv", table.rowCount(), timer.nsecsElapsed() / 1e6, csv, before);

        const QString xlsx = QDir(folder).filePath(QStringLiteral("bench.xlsx"));
        before = statusMiB("VmRSS:");
        resetPeak();
        timer.restart();
        exporting::writeXlsx(table, xlsx, QStringLiteral("Score"));
        report("xlsx", table.rowCount(), timer.nsecsElapsed() / 1e6, xlsx, before);

        if (argc > 3 && qstrcmp(argv[3], "pdf") == 0) {
            const QString pdf = QDir(folder).filePath(QStringLiteral("bench.pdf"));
            before = statusMiB("VmRSS:");
            resetPeak();
            timer.restart();
            WriteTablePdf(table, {QStringLiteral("青山理工学院"), QStringLiteral("学生成绩"), QDate::currentDate()}, pdf);
            report("pdf", table.rowCount(), timer.nsecsElapsed() / 1e6, pdf, before);
        }
        std::printf("rows read from the database: %lld\n", static_cast<long long>(set->rowsFetched()));
    } catch (const exporting::ExportFailure &e) {
        std::fprintf(stderr, "BenchExport: %s\n", qPrintable(e.text()));
        return 1;
    } catch (const dravon::Error &e) {
        std::fprintf(stderr, "BenchExport: %s\n", qPrintable(e.text()));
        return 1;
    }
    return 0;
}
