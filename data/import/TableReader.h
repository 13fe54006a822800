#pragma once
// Reading a table of cells out of a file the program did not write: CSV and
// text files, .xlsx and .xls workbooks, and tabular text from the clipboard.
// Every reader streams: rows are handed out one at a time, so memory stays
// flat in the number of rows. Cells come as text; workbook numbers as their
// shortest decimal text, workbook dates as ISO text (yyyy-MM-dd).
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

namespace importing {

// A file that cannot be read as a table: the text names the file and the reason.
class ImportFailure : public std::runtime_error
{
public:
    explicit ImportFailure(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};

// What no reader takes, so that a hostile or broken file fails within seconds.
constexpr int maxColumns = 1024;                  // columns of one row
constexpr qint64 maxRowChars = 4 * 1024 * 1024;   // characters of one CSV record
constexpr qint64 maxUnpackedBytes = 1024LL * 1024 * 1024;  // a workbook's unpacked parts together

enum class FileKind { Csv, Xlsx, Xls, Clipboard };

struct SheetInfo
{
    QString name;
    bool hidden = false;
};

struct SourceRow
{
    qint64 line = 0;    // the row's number as a spreadsheet shows it, from 1
    QStringList cells;  // left to right from column A; missing cells are empty
};

class TableReader
{
public:
    virtual ~TableReader() = default;
    virtual FileKind kind() const = 0;
    // The sheets of a workbook; one unnamed sheet for text.
    virtual QList<SheetInfo> sheets() const = 0;
    // Starts reading a sheet from its first row.
    virtual void selectSheet(int index) = 0;
    // The next row that has a cell; false at the end. Throws ImportFailure.
    virtual bool next(SourceRow &row) = 0;
    // How much of the sheet has been read, 0 to 1.
    virtual double progress() const = 0;
    // The name under which messages name the source.
    QString displayName() const { return m_displayName; }

protected:
    explicit TableReader(const QString &displayName) : m_displayName(displayName) {}
    [[noreturn]] void fail(const QString &reason) const;

private:
    QString m_displayName;
};

// Opens a file by what it holds, checking it against its name's extension
// (.csv, .txt, .xlsx, .xls): a file that is not what its name says, or an
// extension the program does not read, fails with a clear reason.
std::unique_ptr<TableReader> openTableFile(const QString &path);
// Tab-separated lines as spreadsheets put them on the clipboard.
std::unique_ptr<TableReader> readClipboardText(const QString &text);

// The message for a source that cannot be read.
QString failureText(const QString &displayName, const QString &reason);

}
