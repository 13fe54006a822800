#pragma once
// An import of one sheet into one table: the dry run, which converts and
// checks every row as a Save would and notes what each row would do, and
// the apply, which writes all of that in one transaction or nothing.
//
// The dry run keeps the converted rows in a staging table of the
// connection's temporary schema (not in the database file), made with the
// target's own column types and CHECK constraints, so the engine checks each
// row exactly as it would check the row stored; the apply then copies them
// in with statements over that table.
#include "data/Connection.h"
#include "data/Error.h"
#include "data/export/TableExport.h"
#include "data/import/ImportMapping.h"

#include <QDate>
#include <QHash>
#include <functional>
#include <memory>

namespace importing {

// Called now and then; returning false cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

enum class ImportMode { AddOnly, UpdateOnly, AddAndUpdate };

struct ImportPlan
{
    const ImportTarget *target = nullptr;
    QList<ColumnMapping> columns;
    int sheet = 0;               // the workbook's sheet
    qint64 headerLine = 0;       // rows up to this one are not data
    ImportMode mode = ImportMode::AddAndUpdate;
    QStringList matchFields;     // record tables: the columns that find an existing row
    QString sheetTerm;           // a wide score sheet: the term and date of its marks
    QDate sheetDate;
    FileKind sourceKind = FileKind::Csv;
    QString window;              // the working window it was started from, whose undo takes it back
};

struct ImportCounts
{
    qint64 added = 0;
    qint64 updated = 0;
    qint64 unchanged = 0;
    qint64 skipped = 0;
    qint64 errorRows = 0;   // rows of the file
};

struct ErrorRow
{
    qint64 line = 0;
    QStringList cells;      // the row as the file has it
    QStringList reasons;    // "第 17 行 成绩: "九十" 不是数字"
};

// What is wrong with a plan before any row is read; empty when it can run.
QString planProblem(const ImportPlan &plan);

class ImportRun
{
public:
    static constexpr int maxShownErrors = 1000;

    ImportRun(dravon::Connection &connection, const ImportPlan &plan);
    ~ImportRun();
    ImportRun(const ImportRun &) = delete;
    ImportRun &operator=(const ImportRun &) = delete;

    const ImportPlan &plan() const { return m_plan; }

    // The dry run over the rows after the header line. Nothing is written to
    // the database. False when cancelled; throws ImportFailure when the file
    // cannot be read and dravon::Error when the database cannot be.
    bool check(TableReader &reader, const Progress &progress = {});
    bool isChecked() const { return m_checked; }
    ImportCounts counts() const { return m_counts; }
    // The first rows with errors (at most maxShownErrors).
    const QList<ErrorRow> &errorRows() const { return m_errors; }
    // Every row with errors, as the file has it plus a column 错误原因, as a
    // .csv or .xlsx file (by the path's extension).
    exporting::Outcome writeErrorRows(const QString &path, const QStringList &headers,
                                      const exporting::Progress &progress = {});

    // Used by applyImport.
    struct Staged;
    Staged &staged() { return *m_staged; }
    dravon::Connection &connection() { return m_connection; }
    void markApplied() { m_checked = false; }

private:
    // Finds each staged row's existing rows in the table, in one statement,
    // and decides what the row does. False when cancelled.
    bool matchRows(TableReader &reader, const Progress &progress, const std::function<QString(const QString &)> &headerText);
    // The file's rows that several table rows match become error rows, whole.
    bool noteAmbiguous(TableReader &reader, QHash<qint64, qint64> ambiguous,
                       const std::function<QString(const QString &)> &headerText);
    void addErrorRow(qint64 line, const QStringList &cells, const QStringList &reasons);

    dravon::Connection &m_connection;
    ImportPlan m_plan;
    std::unique_ptr<Staged> m_staged;
    bool m_checked = false;
    ImportCounts m_counts;
    QList<ErrorRow> m_errors;
};

// The database changed after the dry run: its findings no longer hold.
class StaleCheck : public dravon::Error
{
public:
    using dravon::Error::Error;
};

struct ApplyResult
{
    bool completed = false;   // false when cancelled: nothing was written
    qint64 added = 0;
    qint64 updated = 0;
    QString backupPath;       // the copy of the database taken before the first write
};

// Writes what the dry run found, in one transaction that is one batch "导入"
// of the change log: the new rows, then the changed ones. Before the first write the database file is copied beside
// itself ("<database>.before-import-yyyyMMdd-HHmmss", the same safe copy as
// the backup window makes). A cancel, or any failure (a full disk, a
// constraint, a locked file), rolls everything back; a failure throws
// dravon::Error saying so and naming the copy, which stays.
ApplyResult applyImport(ImportRun &run, const Progress &progress = {});

// The name of the copy kept before an import.
QString importBackupName(const QString &databasePath, const QDateTime &when);

}
