#include "data/import/ImportRun.h"

#include "data/DatabaseFiles.h"
#include "data/FieldValue.h"
#include "data/RowSource.h"
#include "data/SqlText.h"
#include "data/changes/ChangeBatch.h"
#include "data/changes/LoggedTables.h"
#include "data/import/CellText.h"
#include "data/import/RowPrefetch.h"
#include "data/import/ServerStage.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <cmath>
#include <map>
#include <optional>
#include <sqlite3.h>

namespace importing {

using dravon::FieldType;
using dravon::Statement;

namespace {

const QString stageName = QStringLiteral("import_stage");
const QString errorsName = QStringLiteral("import_errors");
constexpr int rowsPerTransaction = 8192;
constexpr qint64 rowsPerApplyStep = 20000;
const QChar cellSeparator(0x1F);

QString q(const QString &name)
{
    return dravon::quotedIdentifier(name);
}

void exec(sqlite3 *db, const QString &sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString text = message ? QString::fromUtf8(message) : QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_free(message);
        throw dravon::Error(text);
    }
}

qint64 dataVersion(sqlite3 *db)
{
    Statement s;
    s.prepare(db, QStringLiteral("PRAGMA main.data_version"));
    return s.step() ? s.int64(0) : -1;
}

// Why a write of the apply failed; a full disk is said in words a clerk can act on.
QString writeFailure(sqlite3 *db, const QString &engineText)
{
    if ((sqlite3_errcode(db) & 0xff) == SQLITE_FULL)
        return QStringLiteral("磁盘空间不足,请腾出空间后重新导入。(%1)").arg(engineText);
    return engineText;
}

// A master table's rows as references see them: numbers, and names to numbers.
struct Reference
{
    QString noun;
    QSet<QString> keys;
    QHash<QString, QStringList> byName;
    QHash<QString, QVariant> extra;  // one further column per key (a student's class, a subject's credit)
};

}

struct ImportRun::Staged
{
    sqlite3 *db = nullptr;                  // the file's engine, or
    std::unique_ptr<ServerStage> server;    // the server's session
    QStringList setFields;          // columns the import writes
    QVector<FieldType> types;
    QVector<int> sourceColumn;      // per set field: the file column, -1 when derived
    QString keyField;               // master tables
    QStringList matchFields;
    QVector<int> matchIndex;        // indexes into setFields
    qint64 dataVersion = -1;
    qint64 stagedRows = 0;
    qint64 errorCount = 0;
    bool created = false;
    Statement insertError;

    void drop()
    {
        server.reset();
        if (!db || !created)
            return;
        insertError.finalize();
        sqlite3_exec(db, "DROP TABLE IF EXISTS temp.import_stage; DROP TABLE IF EXISTS temp.import_errors;",
                     nullptr, nullptr, nullptr);
        created = false;
    }
};

QString planProblem(const ImportPlan &plan)
{
    if (!plan.target)
        return QStringLiteral("没有选择要导入的表");
    const ImportTarget &t = *plan.target;
    bool wide = false;
    QSet<QString> mapped;
    for (const ColumnMapping &m : plan.columns) {
        if (m.isSubject())
            wide = true;
        else if (!m.field.isEmpty())
            mapped.insert(m.field);
    }
    if (mapped.isEmpty() && !wide)
        return QStringLiteral("没有任何一列对应到表中的字段");
    if (t.isMaster() && !mapped.contains(t.keyField)) {
        return QStringLiteral("必须有一列对应 \"%1\"(%2),才能判断每一行是新记录还是已有记录")
            .arg(t.field(t.keyField)->caption, t.keyField);
    }
    if (wide && !mapped.contains(QStringLiteral("StudentID")))
        return QStringLiteral("成绩表必须有一列对应 \"学号\"");
    if (!t.isMaster()) {
        if (plan.matchFields.isEmpty() && plan.mode != ImportMode::AddOnly)
            return QStringLiteral("请选择用来查找已有记录的字段");
        for (const QString &f : plan.matchFields) {
            const bool derived = (f == QLatin1String("SubjectID") && wide)
                                 || (f == QLatin1String("Term") && wide && !plan.sheetTerm.isEmpty())
                                 || (f == QLatin1String("ScoreDateTime") && wide && plan.sheetDate.isValid())
                                 || (f == QLatin1String("ClassID") && mapped.contains(QStringLiteral("StudentID")));
            if (!mapped.contains(f) && !derived) {
                const TargetField *field = t.field(f);
                return QStringLiteral("用来查找已有记录的字段 \"%1\" 没有对应的列").arg(field ? field->caption : f);
            }
        }
    }
    return {};
}

ImportRun::ImportRun(dravon::Connection &connection, const ImportPlan &plan)
    : m_connection(connection), m_plan(plan), m_staged(std::make_unique<Staged>())
{
}

ImportRun::~ImportRun()
{
    m_staged->drop();
}

bool ImportRun::check(TableReader &reader, const Progress &progress)
{
    const QString problem = planProblem(m_plan);
    if (!problem.isEmpty())
        throw dravon::Error(problem);
    const ImportTarget &target = *m_plan.target;
    m_staged->drop();
    m_staged = std::make_unique<Staged>();
    Staged &st = *m_staged;
    sqlite3 *db = nullptr;
    if (m_connection.isServer()) {
        st.server = std::make_unique<ServerStage>(m_connection);
    } else {
        db = static_cast<sqlite3 *>(m_connection.nativeHandle());
        if (!db)
            throw dravon::Error(QStringLiteral("数据库没有连接。"));
    }
    ServerStage *server = st.server.get();
    st.db = db;
    m_checked = false;
    m_counts = {};
    m_errors.clear();

    // ---- what is written, and from where
    const bool wide = std::any_of(m_plan.columns.begin(), m_plan.columns.end(),
                                  [](const ColumnMapping &m) { return m.isSubject(); });
    QHash<QString, int> columnOf;  // field -> file column
    QHash<QString, QString> headerOf;
    for (const ColumnMapping &m : m_plan.columns)
        if (!m.field.isEmpty() && !m.isSubject() && !columnOf.contains(m.field)) {
            columnOf.insert(m.field, m.column);
            headerOf.insert(m.field, m.header);
        }
    auto addSet = [&](const QString &field, int column) {
        if (!st.setFields.contains(field)) {
            st.setFields << field;
            st.sourceColumn << column;
        }
    };
    for (const TargetField &f : target.fields)
        if (columnOf.contains(f.name))
            addSet(f.name, columnOf.value(f.name));
    const bool scores = target.table == QLatin1String("Score");
    if (wide) {
        addSet(QStringLiteral("SubjectID"), -1);
        addSet(QStringLiteral("Score"), -1);
        if (!m_plan.sheetTerm.isEmpty())
            addSet(QStringLiteral("Term"), -1);
        if (m_plan.sheetDate.isValid())
            addSet(QStringLiteral("ScoreDateTime"), -1);
    }
    // Derived as the windows do: a score takes its subject's credit; a record
    // row without a class column takes its student's class.
    const bool creditFromSubject = scores && !columnOf.contains(QStringLiteral("CreditHour"))
                                   && st.setFields.contains(QStringLiteral("SubjectID"));
    if (creditFromSubject)
        addSet(QStringLiteral("CreditHour"), -1);
    const bool classFromStudent = !target.isMaster() && target.fieldIndex(QStringLiteral("ClassID")) >= 0
                                  && !columnOf.contains(QStringLiteral("ClassID"))
                                  && columnOf.contains(QStringLiteral("StudentID"));
    if (classFromStudent)
        addSet(QStringLiteral("ClassID"), -1);

    // Column types as the database declares them.
    {
        QHash<QString, QString> declared;
        if (server) {
            declared = server->declaredTypes(target.table);
        } else {
            Statement info;
            info.prepare(db, QStringLiteral("SELECT * FROM main.%1 LIMIT 0").arg(q(target.table)));
            for (int i = 0; i < info.columnCount(); ++i)
                declared.insert(info.columnName(i).toLower(), info.declaredType(i).toUpper());
        }
        for (const QString &f : std::as_const(st.setFields)) {
            const QString d = declared.value(f.toLower());
            if (!declared.contains(f.toLower()))
                throw dravon::Error(QStringLiteral("表 %1 中没有字段 %2").arg(target.table, f));
            FieldType type = FieldType::Text;
            if (d.contains(QLatin1String("DATE")) || d.contains(QLatin1String("TIME")))
                type = FieldType::Date;
            else if (d.contains(QLatin1String("INT")))
                type = FieldType::Integer;
            else if (d.contains(QLatin1String("REAL")) || d.contains(QLatin1String("FLOA"))
                     || d.contains(QLatin1String("DOUB")) || d.contains(QLatin1String("NUMERIC")))
                type = FieldType::Real;
            st.types << type;
        }
    }

    st.keyField = target.keyField;
    st.matchFields = target.isMaster() ? QStringList{target.keyField} : m_plan.matchFields;
    for (const QString &f : std::as_const(st.matchFields))
        st.matchIndex << int(st.setFields.indexOf(f));

    // ---- the references the rows name, read once
    QHash<QString, Reference> references;  // by field
    auto loadReference = [&](const QString &field, const QString &table, const QString &extraColumn) {
        const ImportTarget *master = findTarget(table);
        if (!master)
            return;
        Reference ref;
        ref.noun = master->noun;
        const QString extra = extraColumn.isEmpty() ? QStringLiteral("NULL") : q(extraColumn);
        const QString sql = QStringLiteral("SELECT %1, %2, %3 FROM %4%5")
                                .arg(q(master->keyField), q(master->nameField), extra,
                                     server ? QString() : QStringLiteral("main."), q(table));
        auto take = [&](const QVariant &keyValue, const QVariant &nameValue, const QVariant &extraValue) {
            const QString key = keyValue.toString();
            ref.keys.insert(key);
            const QString name = nameValue.toString().trimmed();
            if (!name.isEmpty())
                ref.byName[name].append(key);
            if (!extraColumn.isEmpty())
                ref.extra.insert(key, extraValue);
        };
        if (server) {
            for (const QVariantList &row : server->rows(sql))
                take(row[0], row[1], row[2]);
        } else {
            Statement s;
            s.prepare(db, sql);
            while (s.step())
                take(s.value(0), s.value(1), s.value(2));
        }
        references.insert(field, ref);
    };
    for (const QString &f : std::as_const(st.setFields)) {
        const TargetField *tf = target.field(f);
        if (!tf || tf->refTable.isEmpty())
            continue;
        QString extra;
        if (f == QLatin1String("StudentID") && classFromStudent)
            extra = QStringLiteral("ClassID");
        if (f == QLatin1String("SubjectID") && creditFromSubject)
            extra = QStringLiteral("CreditHour");
        loadReference(f, tf->refTable, extra);
    }

    // ---- the staging table: the target's own definition, in the temporary schema
    // A row is new until the match finds it in the table.
    const int fresh = m_plan.mode == ImportMode::UpdateOnly ? 4 : 1;
    if (server) {
        server->create(target, st.setFields, st.types, st.matchFields, fresh);
        st.created = true;
    } else {
        Statement s;
        s.prepare(db, QStringLiteral("SELECT sql FROM main.sqlite_master WHERE type = 'table' AND name = ?1"));
        s.bind(1, target.table);
        if (!s.step())
            throw dravon::Error(QStringLiteral("数据库中没有表 %1").arg(target.table));
        QString ddl = s.value(0).toString();
        s.finalize();
        static const QRegularExpression head(QStringLiteral(
            "^\\s*CREATE\\s+TABLE\\s+(?:\"(?:[^\"]|\"\")+\"|\\[[^\\]]+\\]|`[^`]+`|[^\\s(]+)\\s*\\("),
                                             QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = head.match(ddl);
        if (!m.hasMatch())
            throw dravon::Error(QStringLiteral("无法读取表 %1 的定义").arg(target.table));
        ddl = QStringLiteral("CREATE TEMP TABLE %1 (").arg(stageName) + ddl.mid(m.capturedEnd());
        exec(db, QStringLiteral("DROP TABLE IF EXISTS temp.%1; DROP TABLE IF EXISTS temp.%2").arg(stageName, errorsName));
        // The staged rows stay in memory up to 64 MB and spill to a
        // temporary file beyond: memory stays bounded, and a file of a
        // hundred thousand rows is checked without touching the disk.
        exec(db, QStringLiteral("PRAGMA temp.cache_size = -65536"));
        exec(db, QStringLiteral("PRAGMA temp.journal_mode = MEMORY"));
        exec(db, ddl);
        st.created = true;
        exec(db, QStringLiteral("ALTER TABLE temp.%1 ADD COLUMN _line INTEGER").arg(stageName));
        exec(db, QStringLiteral("ALTER TABLE temp.%1 ADD COLUMN _action INTEGER").arg(stageName));
        exec(db, QStringLiteral("ALTER TABLE temp.%1 ADD COLUMN _target INTEGER").arg(stageName));
        exec(db, QStringLiteral("ALTER TABLE temp.%1 ADD COLUMN _found INTEGER").arg(stageName));
        exec(db, QStringLiteral("ALTER TABLE temp.%1 ADD COLUMN _same INTEGER").arg(stageName));
        if (!target.isMaster() && !st.matchFields.isEmpty()) {
            QStringList parts;
            for (const QString &f : std::as_const(st.matchFields))
                parts << QStringLiteral("ifnull(%1, '')").arg(q(f));
            exec(db, QStringLiteral("CREATE UNIQUE INDEX temp.import_stage_match ON %1 (%2)")
                         .arg(stageName, parts.join(QStringLiteral(", "))));
        }
        exec(db, QStringLiteral("CREATE TEMP TABLE %1 (line INTEGER, cells TEXT, reason TEXT)").arg(errorsName));
    }

    QStringList quoted;
    for (const QString &f : std::as_const(st.setFields))
        quoted << q(f);
    Statement insertStage, findStaged;
    if (!server) {
        QStringList marks;
        for (int i = 1; i <= st.setFields.size() + 1; ++i)
            marks << QStringLiteral("?%1").arg(i);
        insertStage.prepare(db, QStringLiteral("INSERT INTO temp.%1 (%2, _line, _action) VALUES (%3, %4)")
                                    .arg(stageName, quoted.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")))
                                    .arg(fresh));
        QStringList whereStaged;
        for (int i = 0; i < st.matchFields.size(); ++i)
            whereStaged << (target.isMaster() ? QStringLiteral("%1 = ?%2").arg(q(st.matchFields[i])).arg(i + 1)
                                              : QStringLiteral("ifnull(%1, '') = ifnull(?%2, '')")
                                                    .arg(q(st.matchFields[i]))
                                                    .arg(i + 1));
        if (!st.matchFields.isEmpty())
            findStaged.prepare(db, QStringLiteral("SELECT _line FROM temp.%1 WHERE %2 LIMIT 1")
                                       .arg(stageName, whereStaged.join(QStringLiteral(" AND "))));
    }

    // ---- the rows
    const bool undoApostrophe = m_plan.sourceKind == FileKind::Csv;
    auto headerText = [&](const QString &field) {
        const QString h = headerOf.value(field);
        if (!h.isEmpty())
            return h;
        const TargetField *tf = target.field(field);
        return tf ? tf->caption : field;
    };
    auto cellOf = [&](const SourceRow &row, int column) {
        QString text = column >= 0 && column < row.cells.size() ? row.cells.at(column) : QString();
        // What the program's own CSV export puts before a text a spreadsheet
        // would run as a formula.
        if (undoApostrophe && text.size() > 1 && text.front() == QLatin1Char('\'')) {
            const QChar second = text.at(1);
            if (second == QLatin1Char('=') || second == QLatin1Char('+') || second == QLatin1Char('-')
                || second == QLatin1Char('@') || second == QLatin1Char('\t') || second == QLatin1Char('\r'))
                text.remove(0, 1);
        }
        return text;
    };

    // One value as the column stores it; an error text for the row otherwise.
    auto convert = [&](int setIndex, const QString &raw, QVariant *out) -> QString {
        const QString &field = st.setFields[setIndex];
        const FieldType type = st.types[setIndex];
        const auto ref = references.constFind(field);
        const bool identifier = field.endsWith(QLatin1String("ID"));
        const QString text = (type != FieldType::Text || identifier) ? normalizedNumeric(raw) : normalizedCell(raw);
        if (ref != references.constEnd()) {
            if (text.isEmpty()) {
                *out = QVariant(QMetaType(QMetaType::QString));
                return {};
            }
            if (ref->keys.contains(text)) {
                *out = text;
                return {};
            }
            const QStringList keys = ref->byName.value(normalizedCell(raw));
            if (keys.size() == 1) {
                *out = keys.first();
                return {};
            }
            if (keys.size() > 1)
                return QStringLiteral("对应多个%1(%2),请改用编号").arg(ref->noun, keys.mid(0, 5).join(QStringLiteral("、")));
            return QStringLiteral("找不到这个%1").arg(ref->noun);
        }
        if (type == FieldType::Date && !text.isEmpty()) {
            const QDate date = readDate(text);
            if (!date.isValid())
                return QStringLiteral("不是有效的日期");
            // What storedValue makes of the date, without reading it again.
            *out = isoDateText(date);
            return {};
        }
        dravon::ConversionFailure failure = dravon::ConversionFailure::None;
        *out = dravon::storedValue(type, text, &failure);
        switch (failure) {
        case dravon::ConversionFailure::None:
            return {};
        case dravon::ConversionFailure::NotInteger:
            return QStringLiteral("不是整数");
        case dravon::ConversionFailure::NotNumber:
            return QStringLiteral("不是数字");
        case dravon::ConversionFailure::NotDate:
            return QStringLiteral("不是有效的日期");
        }
        return {};
    };

    QList<ColumnMapping> subjectColumns;
    for (const ColumnMapping &m : m_plan.columns)
        if (m.isSubject())
            subjectColumns << m;
    const int subjectIndex = int(st.setFields.indexOf(QStringLiteral("SubjectID")));
    const int scoreIndex = int(st.setFields.indexOf(QStringLiteral("Score")));
    const int termIndex = int(st.setFields.indexOf(QStringLiteral("Term")));
    const int dateIndex = int(st.setFields.indexOf(QStringLiteral("ScoreDateTime")));
    const int creditIndex = int(st.setFields.indexOf(QStringLiteral("CreditHour")));
    const int classIndex = int(st.setFields.indexOf(QStringLiteral("ClassID")));
    const int studentIndex = int(st.setFields.indexOf(QStringLiteral("StudentID")));
    const int keyIndex = target.isMaster() ? int(st.setFields.indexOf(target.keyField)) : -1;

    // A student's class and a subject's credit, looked up for each row.
    const QHash<QString, QVariant> noExtras;
    const auto extrasOf = [&](const QString &field) {
        const auto ref = references.constFind(field);
        return ref == references.constEnd() ? &noExtras : &ref->extra;
    };
    const QHash<QString, QVariant> *studentExtras = extrasOf(QStringLiteral("StudentID"));
    const QHash<QString, QVariant> *subjectExtras = extrasOf(QStringLiteral("SubjectID"));

    auto recordError = [&](const SourceRow &row, const QStringList &reasons) {
        addErrorRow(row.line, row.cells, reasons);
    };

    // The file stages its rows in transactions of many rows; on a server each
    // statement of many rows stands alone.
    if (db)
        exec(db, QStringLiteral("BEGIN"));
    qint64 inTransaction = 0;
    auto commit = [&] {
        if (db)
            exec(db, QStringLiteral("COMMIT"));
        inTransaction = 0;
    };
    struct Rollback
    {
        sqlite3 *db;
        bool active = true;
        ~Rollback()
        {
            if (active && db && !sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    } rollback{db};

    // Why a row cannot be staged: its match columns repeat an earlier row's,
    // or the engine refuses one of its values.
    auto duplicateReason = [&](qint64 line, const QVector<QVariant> &values, qint64 first) {
        QStringList names, shown;
        for (int i = 0; i < st.matchFields.size(); ++i) {
            names << headerText(st.matchFields[i]);
            shown << (st.matchIndex[i] >= 0 ? values[st.matchIndex[i]].toString() : QString());
        }
        return QStringLiteral("第 %1 行 %2: \"%3\" 在文件中重复(第 %4 行已有)")
            .arg(line)
            .arg(names.join(QStringLiteral("+")), shown.join(QStringLiteral("+")))
            .arg(first);
    };
    auto refusalReason = [&](qint64 line, const QVector<QVariant> &values, const QString &engineText) {
        const dravon::RefusalReason why = dravon::readRefusal(engineText);
        const int i = int(st.setFields.indexOf(why.column));
        if (i < 0)
            return QStringLiteral("第 %1 行: %2").arg(line).arg(engineText);
        const QString cell = values[i].toString().trimmed();
        const QString header = headerText(st.setFields[i]);
        return cell.isEmpty() ? QStringLiteral("第 %1 行 %2: %3").arg(line).arg(header, why.why)
                              : QStringLiteral("第 %1 行 %2: \"%3\" %4").arg(line).arg(header, cell, why.why);
    };
    // On a server, rows wait here to be staged many at a time; their errors
    // are noted in the file's order once the server has seen them.
    QList<StagedRow> pending;
    auto stagePending = [&] {
        if (pending.isEmpty())
            return;
        server->stage(pending);
        for (const StagedRow &p : std::as_const(pending)) {
            QStringList why = p.reasons;
            if (p.outcome == StagedRow::Outcome::Duplicate)
                why << duplicateReason(p.line, p.targets[p.failedTarget], p.firstLine);
            else if (p.outcome == StagedRow::Outcome::Refused)
                why << refusalReason(p.line, p.targets[p.failedTarget], p.engineText);
            if (!why.isEmpty())
                addErrorRow(p.line, p.cells, why);
        }
        pending.clear();
    };

    reader.selectSheet(m_plan.sheet);
    // The file is read a little ahead on another thread while its rows are checked here.
    std::optional<RowPrefetch> rows(std::in_place, reader);
    SourceRow row;
    qint64 rowsRead = 0;
    QVector<QVariant> base(st.setFields.size());
    QList<QVector<QVariant>> targets;
    QVector<qint64> stagedIds;
    while (rows->next(row)) {
        if (row.line <= m_plan.headerLine)
            continue;
        ++rowsRead;
        if (progress && rowsRead % 512 == 0 && !progress(qint64(rows->progress() * 900), 1000))
            return false;
        if (db && ++inTransaction >= rowsPerTransaction) {
            commit();
            exec(db, QStringLiteral("BEGIN"));
        }
        QStringList reasons;
        auto reason = [&](const QString &header, const QString &cell, const QString &why) {
            if (cell.trimmed().isEmpty())
                reasons << QStringLiteral("第 %1 行 %2: %3").arg(row.line).arg(header, why);
            else
                reasons << QStringLiteral("第 %1 行 %2: \"%3\" %4").arg(row.line).arg(header, cell.trimmed(), why);
        };
        base.fill(QVariant());
        for (int i = 0; i < st.setFields.size(); ++i) {
            if (st.sourceColumn[i] < 0)
                continue;
            const QString cell = cellOf(row, st.sourceColumn[i]);
            const QString why = convert(i, cell, &base[i]);
            if (!why.isEmpty())
                reason(headerText(st.setFields[i]), cell, why);
        }
        if (keyIndex >= 0 && (base[keyIndex].isNull() || base[keyIndex].toString().isEmpty()))
            reason(headerText(target.keyField), QString(), QStringLiteral("不能为空"));
        if (termIndex >= 0 && st.sourceColumn[termIndex] < 0)
            base[termIndex] = m_plan.sheetTerm;
        if (dateIndex >= 0 && st.sourceColumn[dateIndex] < 0)
            base[dateIndex] = m_plan.sheetDate.toString(Qt::ISODate);
        if (classFromStudent && studentIndex >= 0 && classIndex >= 0 && !base[studentIndex].isNull())
            base[classIndex] = studentExtras->value(base[studentIndex].toString());

        targets.clear();
        if (wide) {
            for (const ColumnMapping &m : std::as_const(subjectColumns)) {
                const QString cell = cellOf(row, m.column);
                if (normalizedCell(cell).isEmpty())
                    continue;
                QVector<QVariant> values = base;
                values[subjectIndex] = m.subjectId;
                const QString why = convert(scoreIndex, cell, &values[scoreIndex]);
                if (!why.isEmpty()) {
                    reason(m.header, cell, why);
                    continue;
                }
                targets << values;
            }
        } else {
            targets << base;
        }
        if (creditIndex >= 0 && creditFromSubject)
            for (QVector<QVariant> &values : targets)
                if (!values[subjectIndex].isNull())
                    values[creditIndex] =
                        subjectExtras->value(values[subjectIndex].toString());

        if (server) {
            StagedRow staged;
            staged.line = row.line;
            staged.cells = row.cells;
            staged.reasons = reasons;
            staged.targets = targets;
            pending.append(std::move(staged));
            if (pending.size() >= ServerStage::rowsPerStatement)
                stagePending();
            continue;
        }
        if (!reasons.isEmpty()) {
            recordError(row, reasons);
            continue;
        }

        // What each row would do, and the engine's own check of its values.
        stagedIds.clear();
        for (const QVector<QVariant> &values : std::as_const(targets)) {
            // Every value is bound again for each row (the last run reset the statement).
            for (int i = 0; i < values.size(); ++i)
                insertStage.bind(i + 1, values[i]);
            insertStage.bind(int(values.size()) + 1, row.line);
            try {
                insertStage.execWrite(Statement::Bindings::Keep);
                stagedIds << sqlite3_last_insert_rowid(db);
            } catch (const dravon::WriteRefused &refused) {
                if (refused.engineText.contains(QLatin1String("UNIQUE"))) {
                    findStaged.reset();
                    for (int i = 0; i < st.matchIndex.size(); ++i)
                        findStaged.bind(i + 1, st.matchIndex[i] >= 0 ? values[st.matchIndex[i]] : QVariant());
                    const qint64 first = findStaged.step() ? findStaged.int64(0) : 0;
                    findStaged.reset();
                    reasons << duplicateReason(row.line, values, first);
                } else {
                    reasons << refusalReason(row.line, values, refused.engineText);
                }
                break;
            }
        }
        if (!reasons.isEmpty()) {
            // A row is imported whole or not at all.
            Statement undo;
            undo.prepare(db, QStringLiteral("DELETE FROM temp.%1 WHERE rowid = ?1").arg(stageName));
            for (const qint64 id : std::as_const(stagedIds)) {
                undo.reset();
                undo.bind(1, id);
                undo.execWrite();
            }
            recordError(row, reasons);
        }
    }
    rows.reset();
    if (server)
        stagePending();
    commit();
    rollback.active = false;

    if (!matchRows(reader, progress, headerText))
        return false;

    // The counts as staged (rows taken back after an error are not in them).
    if (server) {
        const QHash<int, qint64> byAction = server->actionCounts();
        m_counts.added = byAction.value(1);
        m_counts.updated = byAction.value(2);
        m_counts.unchanged = byAction.value(3);
        m_counts.skipped = 0;
        for (auto it = byAction.cbegin(); it != byAction.cend(); ++it)
            if (it.key() < 1 || it.key() > 3)
                m_counts.skipped += it.value();
    } else {
        Statement s;
        s.prepare(db, QStringLiteral("SELECT _action, count(*) FROM temp.%1 GROUP BY _action").arg(stageName));
        m_counts.added = m_counts.updated = m_counts.unchanged = m_counts.skipped = 0;
        while (s.step()) {
            const qint64 n = s.int64(1);
            switch (s.int64(0)) {
            case 1:
                m_counts.added = n;
                break;
            case 2:
                m_counts.updated = n;
                break;
            case 3:
                m_counts.unchanged = n;
                break;
            default:
                m_counts.skipped += n;
                break;
            }
        }
    }
    if (progress)
        progress(1000, 1000);
    st.errorCount = m_counts.errorRows;
    if (db)
        st.dataVersion = dataVersion(db);
    m_checked = true;
    return true;
}

void ImportRun::addErrorRow(qint64 line, const QStringList &cells, const QStringList &reasons)
{
    ++m_counts.errorRows;
    Staged &st = *m_staged;
    if (m_errors.size() < maxShownErrors)
        m_errors.append({line, cells, reasons});
    if (st.server) {
        st.server->addError(line, cells.join(cellSeparator), reasons.join(QStringLiteral(";")));
        return;
    }
    if (!st.insertError.isPrepared())
        st.insertError.prepare(st.db, QStringLiteral("INSERT INTO temp.%1 (line, cells, reason) VALUES (?1, ?2, ?3)")
                                          .arg(errorsName));
    st.insertError.reset();
    st.insertError.bind(1, line);
    st.insertError.bind(2, cells.join(cellSeparator));
    st.insertError.bind(3, reasons.join(QStringLiteral(";")));
    st.insertError.execWrite();
}

namespace {

struct Interrupt
{
    const Progress *progress;
    bool cancelled = false;
};

int onProgress(void *context)
{
    auto *interrupt = static_cast<Interrupt *>(context);
    if (*interrupt->progress && !(*interrupt->progress)(950, 1000))
        interrupt->cancelled = true;
    return interrupt->cancelled ? 1 : 0;
}

}

bool ImportRun::matchRows(TableReader &reader, const Progress &progress,
                          const std::function<QString(const QString &)> &headerText)
{
    Staged &st = *m_staged;
    sqlite3 *db = st.db;
    const ImportTarget &target = *m_plan.target;
    // The staged rows are new (or, when only updating, skipped) until found here.
    const int existing = m_plan.mode == ImportMode::AddOnly ? 4 : 2;
    if (st.matchFields.isEmpty())
        return true;
    if (st.server) {
        if (!st.server->match(m_plan.mode, [&progress] { return !progress || progress(950, 1000); }))
            return false;
        return noteAmbiguous(reader, st.server->takeAmbiguous(), headerText);
    }
    qint64 staged = 0;
    {
        Statement count;
        count.prepare(db, QStringLiteral("SELECT count(*) FROM temp.%1").arg(stageName));
        staged = count.step() ? count.int64(0) : 0;
    }
    if (staged == 0)
        return true;

    // Either each staged row looks up its table rows by the table's index,
    // or the table is read once and each of its rows looks up the staged rows
    // by theirs: whichever reads fewer rows. A student's rows are found by the
    // student's index; the table is read once when the file has more rows
    // than there are students.
    const int lead = int(st.matchFields.indexOf(QStringLiteral("StudentID")));
    bool stageOuter = target.isMaster();
    if (!target.isMaster() && lead >= 0) {
        Statement students;
        students.prepare(db, QStringLiteral("SELECT count(*) FROM main.StudentInfo"));
        stageOuter = students.step() && staged <= students.int64(0);
    }
    QStringList same, where;
    for (const QString &f : std::as_const(st.setFields))
        same << QStringLiteral("t.%1 IS s.%1").arg(q(f));
    for (int i = 0; i < st.matchFields.size(); ++i) {
        const QString f = q(st.matchFields[i]);
        if (target.isMaster())
            where << QStringLiteral("t.%1 = s.%1").arg(f);
        else if (stageOuter)
            where << (i == lead ? QStringLiteral("t.%1 IS s.%1").arg(f) : QStringLiteral("+t.%1 IS s.%1").arg(f));
        else
            where << QStringLiteral("ifnull(s.%1, '') = ifnull(t.%1, '')").arg(f);
    }
    const QString from = stageOuter ? QStringLiteral("temp.%1 s CROSS JOIN main.%2 t").arg(stageName, q(target.table))
                                    : QStringLiteral("main.%2 t CROSS JOIN temp.%1 s").arg(stageName, q(target.table));
    // The matches go into a table keyed by the staged row, each found table
    // row adding to its staged row's entry (no sort of all the matches), so
    // that writing them back is one lookup per row.
    const QString sql = QStringLiteral(
                            "DROP TABLE IF EXISTS temp.import_match;"
                            "CREATE TEMP TABLE import_match (sid INTEGER PRIMARY KEY, n INTEGER, target INTEGER, same INTEGER);"
                            "INSERT INTO temp.import_match SELECT s.rowid, 1, t.rowid, %2 "
                            "FROM %3 WHERE %4 ON CONFLICT (sid) DO UPDATE SET n = n + 1, "
                            "target = max(target, excluded.target), same = max(same, excluded.same);"
                            "UPDATE temp.%1 SET _found = m.n, _target = m.target, _same = m.same, "
                            "_action = CASE WHEN m.same THEN 3 WHEN m.n = 1 OR %5 THEN %6 ELSE 5 END "
                            "FROM temp.import_match AS m WHERE %1.rowid = m.sid;"
                            "DROP TABLE temp.import_match;")
                            .arg(stageName, same.join(QStringLiteral(" AND ")), from,
                                 where.join(QStringLiteral(" AND ")))
                            .arg(m_plan.mode == ImportMode::AddOnly ? 1 : 0)
                            .arg(existing);
    Interrupt interrupt{&progress};
    sqlite3_progress_handler(db, 200000, &onProgress, &interrupt);
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr);
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    if (rc != SQLITE_OK)
        sqlite3_exec(db, "DROP TABLE IF EXISTS temp.import_match", nullptr, nullptr, nullptr);
    if (interrupt.cancelled)
        return false;
    if (rc != SQLITE_OK)
        dravon::failEngine(db, QStringLiteral("无法查找已有记录"));

    // Rows that several table rows match cannot be updated: errors, whole.
    QHash<qint64, qint64> ambiguous;
    {
        Statement s;
        s.prepare(db, QStringLiteral("SELECT _line, max(_found) FROM temp.%1 WHERE _action = 5 GROUP BY _line").arg(stageName));
        while (s.step())
            ambiguous.insert(s.int64(0), s.int64(1));
    }
    if (!ambiguous.isEmpty())
        exec(db, QStringLiteral("DELETE FROM temp.%1 WHERE _line IN (SELECT _line FROM temp.%1 WHERE _action = 5)").arg(stageName));
    return noteAmbiguous(reader, ambiguous, headerText);
}

bool ImportRun::noteAmbiguous(TableReader &reader, QHash<qint64, qint64> ambiguous,
                              const std::function<QString(const QString &)> &headerText)
{
    if (ambiguous.isEmpty())
        return true;
    const Staged &st = *m_staged;
    QStringList names;
    for (const QString &f : std::as_const(st.matchFields))
        names << headerText(f);
    reader.selectSheet(m_plan.sheet);
    SourceRow row;
    while (!ambiguous.isEmpty() && reader.next(row)) {
        const auto found = ambiguous.constFind(row.line);
        if (found == ambiguous.constEnd())
            continue;
        addErrorRow(row.line, row.cells,
                    {QStringLiteral("第 %1 行: 表中有 %2 条记录的%3与之相同,无法确定更新哪一条")
                         .arg(row.line)
                         .arg(*found)
                         .arg(names.join(QStringLiteral("、")))});
        ambiguous.remove(row.line);
    }
    return true;
}

exporting::Outcome ImportRun::writeErrorRows(const QString &path, const QStringList &headers,
                                             const exporting::Progress &progress)
{
    Staged &st = *m_staged;
    if (!st.created || (!st.db && !st.server))
        throw dravon::Error(QStringLiteral("还没有检查,没有错误行可保存"));
    int width = int(headers.size());
    if (st.server) {
        width = qMax<int>(width, int(st.server->errorCellsWidth()));
    } else {
        Statement s;
        s.prepare(st.db, QStringLiteral("SELECT cells FROM temp.%1").arg(errorsName));
        while (s.step())
            width = qMax(width, int(s.value(0).toString().count(cellSeparator)) + 1);
    }
    QStringList titles = headers;
    while (titles.size() < width)
        titles << QString();
    titles << QStringLiteral("错误原因");
    qint64 cachedRow = -1;
    QStringList cached;
    QString cachedReason;
    if (st.server) {
        // The server's rows come a page at a time, in order.
        constexpr int page = 1000;
        qint64 pageStart = -1;
        QList<QStringList> rows;
        exporting::ExportTable table(titles, st.errorCount, [&, width](qint64 row, int column) {
            if (pageStart < 0 || row < pageStart || row >= pageStart + rows.size()) {
                pageStart = row;
                rows = st.server->errorRows(row, page);
            }
            const QStringList found = rows.value(int(row - pageStart));
            return column == width ? found.value(1) : found.value(0).split(cellSeparator).value(column);
        });
        if (path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
            return exporting::writeXlsx(table, path, QStringLiteral("错误行"), progress);
        return exporting::writeCsv(table, path, progress);
    }
    auto read = std::make_shared<Statement>();
    read->prepare(st.db, QStringLiteral("SELECT cells, reason FROM temp.%1 WHERE rowid = ?1").arg(errorsName));
    exporting::ExportTable table(titles, st.errorCount, [&, read, width](qint64 row, int column) {
        if (row != cachedRow) {
            read->reset();
            read->bind(1, row + 1);
            if (read->step()) {
                cached = read->value(0).toString().split(cellSeparator);
                cachedReason = read->value(1).toString();
            } else {
                cached.clear();
                cachedReason.clear();
            }
            read->reset();
            cachedRow = row;
        }
        return column == width ? cachedReason : cached.value(column);
    });
    if (path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        return exporting::writeXlsx(table, path, QStringLiteral("错误行"), progress);
    return exporting::writeCsv(table, path, progress);
}

QString importBackupName(const QString &databasePath, const QDateTime &when)
{
    return databasePath + QStringLiteral(".before-import-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

ApplyResult applyImport(ImportRun &run, const Progress &progress)
{
    if (!run.isChecked())
        throw dravon::Error(QStringLiteral("请先检查要导入的数据"));
    ImportRun::Staged &st = run.staged();
    sqlite3 *db = st.db;
    const ImportTarget &target = *run.plan().target;
    ApplyResult result;
    if (st.server) {
        result = st.server->apply(run.plan().window, progress);
        if (result.completed)
            run.markApplied();
        return result;
    }

    Statement counts;
    counts.prepare(db, QStringLiteral("SELECT count(*) FILTER (WHERE _action = 1), count(*) FILTER (WHERE _action = 2), "
                                      "ifnull(max(rowid), 0) FROM temp.%1")
                           .arg(stageName));
    counts.step();
    const qint64 adds = counts.int64(0), updates = counts.int64(1), lastStaged = counts.int64(2);
    counts.finalize();
    if (adds + updates == 0) {
        result.completed = true;
        run.markApplied();
        return result;
    }

    // The copy before the first write.
    const QString database = run.connection().databasePath();
    QString backup = importBackupName(database, QDateTime::currentDateTime());
    for (int n = 2; QFileInfo::exists(backup); ++n)
        backup = importBackupName(database, QDateTime::currentDateTime()) + QStringLiteral("-%1").arg(n);
    try {
        dbfiles::backupDatabase(database, backup);
    } catch (const std::exception &e) {
        throw dravon::Error(QStringLiteral("导入前无法备份数据库,没有导入任何记录。\n备份文件: %1\n原因: %2")
                                .arg(QDir::toNativeSeparators(backup), QString::fromUtf8(e.what())));
    }
    result.backupPath = backup;

    bool ownTransaction = false;  // begun on the database the check saw
    auto fail = [&](const QString &reason) -> dravon::Error {
        if (!sqlite3_get_autocommit(db))
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        // After a failed write to the file (a full disk) the engine puts the
        // file back from its journal only when it next reads the database:
        // read it now, so that the file is as it was when this is said.
        if (sqlite3_exec(db, "SELECT count(*) FROM main.sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
            return dravon::Error(QStringLiteral("导入失败,修改没有保存。\n原因: %1\n数据库文件还没能恢复到导入前的状态(%2),"
                                                "请腾出磁盘空间后重新启动程序,程序会用日志文件自动恢复。\n导入前的备份: %3")
                                     .arg(reason, dravon::engineErrorText(db), QDir::toNativeSeparators(backup)));
        // The file is again what the check saw (nobody else could write while
        // this transaction held it), though putting it back counts as a change.
        if (ownTransaction)
            st.dataVersion = dataVersion(db);
        return dravon::Error(QStringLiteral("导入失败,已全部撤销,数据库与导入前相同。\n原因: %1\n导入前的备份: %2")
                                 .arg(reason, QDir::toNativeSeparators(backup)));
    };

    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const QString why = dravon::engineErrorText(db);
        const int code = sqlite3_errcode(db) & 0xff;
        throw fail(code == SQLITE_BUSY || code == SQLITE_LOCKED
                       ? QStringLiteral("数据库正被其他程序使用(已锁定),请稍后再试。(%1)").arg(why)
                       : why);
    }
    if (dataVersion(db) != st.dataVersion) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw StaleCheck(QStringLiteral("检查之后数据库已被其他程序修改,需要重新检查。"));
    }
    ownTransaction = true;
    // The whole apply is one batch of the change log, which one undo takes back.
    std::optional<dravon::ChangeBatch> batch;
    try {
        batch.emplace(run.connection(),
                      dravon::BatchTag{QStringLiteral("导入"), run.plan().window,
                                       QStringLiteral("导入 %1").arg(dravon::recordsText(target.table, adds + updates))});
    } catch (const dravon::Error &e) {
        throw fail(e.text());
    }

    QStringList quoted, assignments;
    for (const QString &f : std::as_const(st.setFields)) {
        quoted << q(f);
        assignments << QStringLiteral("%1 = s.%1").arg(q(f));
    }
    Statement insert, update;
    try {
        insert.prepare(db, QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM temp.%3 "
                                          "WHERE _action = 1 AND rowid > ?1 AND rowid <= ?2 ORDER BY rowid")
                               .arg(q(target.table), quoted.join(QStringLiteral(", ")), stageName));
        update.prepare(db, QStringLiteral("UPDATE main.%1 SET %2 FROM (SELECT * FROM temp.%3 WHERE _action = 2 "
                                          "AND rowid > ?1 AND rowid <= ?2) AS s WHERE %1.rowid = s._target")
                               .arg(q(target.table), assignments.join(QStringLiteral(", ")), stageName));
    } catch (const dravon::Error &e) {
        throw fail(e.text());
    }
    const qint64 total = adds + updates;
    qint64 done = 0;
    for (Statement *s : {&insert, &update}) {
        const bool inserting = s == &insert;
        for (qint64 from = 0; from < lastStaged; from += rowsPerApplyStep) {
            if (progress && !progress(done, total)) {
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                result.completed = false;
                return result;
            }
            s->reset();
            s->bind(1, from);
            s->bind(2, from + rowsPerApplyStep);
            try {
                s->execWrite();
            } catch (const dravon::WriteRefused &refused) {
                const dravon::RefusalReason why = dravon::readRefusal(refused.engineText);
                const TargetField *field = target.field(why.column);
                throw fail(field ? QStringLiteral("字段 \"%1\" %2(%3)").arg(field->caption, why.why, refused.engineText)
                                 : writeFailure(db, refused.engineText));
            } catch (const dravon::Error &e) {
                throw fail(writeFailure(db, e.text()));
            }
            const qint64 changed = sqlite3_changes(db);
            done += changed;
            (inserting ? result.added : result.updated) += changed;
        }
    }
    if (result.updated != updates || result.added != adds)
        throw fail(QStringLiteral("要更新的记录已被删除或改动"));
    try {
        batch->commit();
    } catch (const dravon::Error &e) {
        throw fail(e.text());
    }
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw fail(writeFailure(db, dravon::engineErrorText(db)));
    if (progress)
        progress(total, total);
    result.completed = true;
    run.markApplied();
    return result;
}

}
