#include "data/import/ImportMapping.h"

#include "data/ProgramSettings.h"
#include "data/SettingsClient.h"
#include "data/import/CellText.h"

#include <QSet>
#include <QUrl>

namespace importing {

namespace {

const QString mappingSection = QStringLiteral("ImportMapping");

// Header texts that name each field, most specific first.
QList<QPair<QString, QString>> namesOf(const ImportTarget &target, const MappingHints &hints)
{
    QList<QPair<QString, QString>> names;  // headerKey, field
    for (const auto &[field, title] : hints.gridTitles)
        names.append({headerKey(title), field});
    for (const TargetField &f : target.fields)
        names.append({headerKey(f.caption), f.name});
    for (const TargetField &f : target.fields)
        for (const QString &alias : f.aliases)
            names.append({headerKey(alias), f.name});
    for (const TargetField &f : target.fields)
        names.append({headerKey(f.name), f.name});
    return names;
}

bool looksLikeValue(const QString &text)
{
    const QString t = normalizedNumeric(text);
    bool number = false;
    t.toDouble(&number);
    return number || readDate(t).isValid();
}

}

int findHeaderRow(const QList<SourceRow> &rows, const ImportTarget &target, const MappingHints &hints)
{
    QSet<QString> known;
    for (const auto &name : namesOf(target, hints))
        known.insert(name.first);
    for (const NamedKey &s : hints.subjects)
        known.insert(headerKey(s.name));
    for (auto it = hints.remembered.constBegin(); it != hints.remembered.constEnd(); ++it)
        known.insert(it.key());
    for (int i = 0; i < rows.size(); ++i) {
        int filled = 0, named = 0;
        for (const QString &cell : rows[i].cells) {
            if (cell.trimmed().isEmpty())
                continue;
            ++filled;
            if (known.contains(headerKey(cell)))
                ++named;
        }
        if (named >= 1 && named * 2 >= filled)
            return i;
    }
    for (int i = 0; i < rows.size(); ++i) {
        int filled = 0;
        bool values = false;
        for (const QString &cell : rows[i].cells) {
            if (cell.trimmed().isEmpty())
                continue;
            ++filled;
            values = values || looksLikeValue(cell);
        }
        if (filled >= 2 && !values)
            return i;
    }
    return 0;
}

QList<ColumnMapping> mapColumns(const QStringList &headers, const ImportTarget &target, const MappingHints &hints)
{
    const QList<QPair<QString, QString>> names = namesOf(target, hints);
    QHash<QString, QString> subjectByName;
    QHash<QString, QString> subjectNameById;
    for (const NamedKey &s : hints.subjects) {
        subjectByName.insert(headerKey(s.name), s.key);
        subjectNameById.insert(s.key, s.name);
    }
    const bool scores = target.table == QLatin1String("Score");
    QList<ColumnMapping> columns;
    QSet<QString> taken;
    QSet<QString> subjectsTaken;
    for (int c = 0; c < headers.size(); ++c) {
        ColumnMapping m;
        m.column = c;
        m.header = headers[c].trimmed();
        const QString key = headerKey(m.header);
        if (key.isEmpty()) {
            columns << m;
            continue;
        }
        auto assign = [&](const QString &field) {
            if (field.startsWith(QLatin1Char('#'))) {
                const QString id = field.mid(1);
                if (scores && subjectNameById.contains(id) && !subjectsTaken.contains(id)) {
                    m.subjectId = id;
                    m.subjectName = subjectNameById.value(id);
                    subjectsTaken.insert(id);
                }
                return true;
            }
            if (field.isEmpty())
                return true;
            if (target.fieldIndex(field) < 0 || taken.contains(field))
                return false;
            m.field = target.fields[target.fieldIndex(field)].name;
            taken.insert(m.field);
            return true;
        };
        const auto remembered = hints.remembered.constFind(key);
        if (remembered != hints.remembered.constEnd() && assign(*remembered)) {
            columns << m;
            continue;
        }
        bool done = false;
        for (const auto &[name, field] : names) {
            if (name == key && !taken.contains(field)) {
                done = assign(field);
                if (done)
                    break;
            }
        }
        if (!done && scores) {
            const auto subject = subjectByName.constFind(key);
            if (subject != subjectByName.constEnd())
                assign(QLatin1Char('#') + *subject);
        }
        columns << m;
    }
    // A wide score sheet names the subject by its columns: a column of
    // subjects or of marks beside them has no place.
    if (!subjectsTaken.isEmpty())
        for (ColumnMapping &m : columns)
            if (m.field == QLatin1String("SubjectID") || m.field == QLatin1String("Score"))
                m.field.clear();
    return columns;
}

QString encodeMapping(const QList<ColumnMapping> &columns)
{
    QStringList pairs;
    for (const ColumnMapping &m : columns) {
        const QString key = headerKey(m.header);
        if (key.isEmpty())
            continue;
        const QString value = m.isSubject() ? QLatin1Char('#') + m.subjectId : m.field;
        pairs << QString::fromLatin1(QUrl::toPercentEncoding(key)) + QLatin1Char('=')
                     + QString::fromLatin1(QUrl::toPercentEncoding(value));
    }
    return pairs.join(QLatin1Char('&'));
}

QHash<QString, QString> decodeMapping(const QString &text)
{
    QHash<QString, QString> mapping;
    for (const QString &pair : text.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        mapping.insert(QUrl::fromPercentEncoding(pair.left(eq).toLatin1()),
                       QUrl::fromPercentEncoding(pair.mid(eq + 1).toLatin1()));
    }
    return mapping;
}

QHash<QString, QString> rememberedMapping(const QString &table)
{
    return decodeMapping(settings::readIni(GetConfigFileName(), mappingSection, table));
}

void rememberMapping(const QString &table, const QList<ColumnMapping> &columns)
{
    settings::writeIni(GetConfigFileName(), mappingSection, table, encodeMapping(columns));
}

}
