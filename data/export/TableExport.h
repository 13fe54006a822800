#pragma once
// Taking a grid's rows out of the program: CSV and Excel workbooks written
// from a record set row by row, in bounded memory, into a staging file in the
// target folder that replaces the target only when everything was written.
#include "data/RecordSet.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <stdexcept>

namespace exporting {

// An export that could not be written. The text names the file and the reason.
class ExportFailure : public std::runtime_error
{
public:
    explicit ExportFailure(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};

// Called now and then while rows are written; returning false cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

enum class Outcome { Written, Cancelled };

// The rows and columns an export takes from a record set: the given columns
// (field indexes with their titles, in order) of all rows, or of the given
// rows only. Values are read as the grid shows them, a page at a time.
class ExportTable
{
public:
    ExportTable(const dravon::RecordSet *dataSet, const QVector<int> &fields, const QStringList &titles,
                const QList<int> &rows = {});
    // Rows that come from elsewhere than a record set: every column is text.
    using CellText = std::function<QString(qint64 row, int column)>;
    ExportTable(const QStringList &titles, qint64 rows, CellText text);

    int columnCount() const { return int(m_fields.size()); }
    qint64 rowCount() const;
    QString title(int column) const { return m_titles.value(column); }
    dravon::FieldType type(int column) const;
    // The value shown in a row's column; throws dravon::Error when it cannot be read.
    QString text(qint64 row, int column) const;
    const dravon::RecordSet *dataSet() const { return m_dataSet; }

private:
    const dravon::RecordSet *m_dataSet;
    QVector<int> m_fields;
    QStringList m_titles;
    QList<int> m_rows;
    CellText m_text;
    qint64 m_rowCount = 0;
};

// A text as one CSV field: quoted when it holds a quote, comma or line break,
// and with a leading apostrophe when a spreadsheet would take it for a
// formula (it starts with "=", "+", "-", "@", a tab or a carriage return and
// is not a plain number), so that it is shown, not run.
QString csvField(const QString &text);

// UTF-8 with a byte-order mark, one title line, records ended by CRLF.
Outcome writeCsv(const ExportTable &table, const QString &path, const Progress &progress = {});

// Most data rows one worksheet takes below its title row.
constexpr qint64 xlsxRowsPerSheet = 1048576 - 1;

// Most characters (UTF-16 units) a cell of a workbook holds.
constexpr int xlsxCellTextLimit = 32767;
// The end of a text cut at that limit.
QString xlsxCutMark();

// An .xlsx workbook: titles bold, frozen and filtered, columns fitted,
// numbers as numbers, dates as dates in the short date format, long and
// multi-line texts wrapped; printed on A4 one page wide (landscape when the
// columns are wide) with the titles repeated on every page; the document's
// title is sheetName and its creator "Veltrana". Rows beyond one sheet
// continue on further sheets named after the first ("name (2)", ...). A text
// longer than a cell holds is cut at the limit and ends with xlsxCutMark();
// cutCells, when given, receives those cells ("F5", or "名单 (2)!F5" beyond
// the first sheet).
Outcome writeXlsx(const ExportTable &table, const QString &path, const QString &sheetName,
                  const Progress &progress = {}, qint64 rowsPerSheet = xlsxRowsPerSheet,
                  QStringList *cutCells = nullptr);

// An Excel column's letters: 0 -> "A", 26 -> "AA".
QString xlsxColumnName(int column);

// A file written beside its target under a hidden temporary name; commit()
// moves it over the target in one step, and a staging file not committed is
// removed. Throws ExportFailure when the folder cannot take the file.
class StagedFile
{
public:
    explicit StagedFile(const QString &target);
    ~StagedFile();
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;

    QString path() const { return m_staging; }
    QString target() const { return m_target; }
    void commit();
    void discard();

private:
    QString m_target;
    QString m_staging;
    bool m_done = false;
};

// The message for a file that could not be written.
QString failureText(const QString &path, const QString &reason);

// The school's name from section "Info" of ConfigDB.ini beside the
// executable; empty when none is stored.
QString schoolName();

}
