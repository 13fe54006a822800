#pragma once
// Which row of a file holds the headers, and which column goes into which
// field of the target table: by header text through the fields' captions and
// aliases, the titles of the window's grid, a mapping remembered from the last
// import into the same table, and, for scores, subject names (a wide score
// sheet has one column of marks per subject).
#include "data/import/ImportTargets.h"
#include "data/import/TableReader.h"

#include <QHash>
#include <QList>
#include <QPair>

namespace importing {

struct ColumnMapping
{
    int column = -1;      // the file's column, from 0
    QString header;       // its header text
    QString field;        // the target column; empty when the column is not imported
    QString subjectId;    // a wide score sheet's column: the subject whose marks it holds
    QString subjectName;
    bool isSubject() const { return !subjectId.isEmpty(); }
};

struct NamedKey
{
    QString key;
    QString name;
};

// What besides the target's own captions names a field: the grid titles of
// the window it was opened from (field, title), the remembered mapping
// (headerKey -> field, empty for a column left out, "#" + subject number for
// a subject column), and the subjects (for wide score sheets).
struct MappingHints
{
    QList<QPair<QString, QString>> gridTitles;
    QHash<QString, QString> remembered;
    QList<NamedKey> subjects;
};

// The index, among rows, of the first row whose cells look like the headers:
// at least half of its cells name a field (and one at least); failing that,
// the first row of two or more cells none of which is a number or a date.
int findHeaderRow(const QList<SourceRow> &rows, const ImportTarget &target, const MappingHints &hints);

// Each header mapped to a field, or left out; a field takes one column.
QList<ColumnMapping> mapColumns(const QStringList &headers, const ImportTarget &target, const MappingHints &hints);

// The mapping as the program keeps it between imports (ConfigDB.ini, section
// "ImportMapping", one key per table).
QHash<QString, QString> rememberedMapping(const QString &table);
void rememberMapping(const QString &table, const QList<ColumnMapping> &columns);
QString encodeMapping(const QList<ColumnMapping> &columns);
QHash<QString, QString> decodeMapping(const QString &text);

}
