#include "data/import/ServerStage.h"

#include "data/FieldValue.h"
#include "data/SqlText.h"
#include "data/changes/ChangeBatch.h"
#include "data/changes/LoggedTables.h"
#include "data/server/Migration.h"
#include "data/server/PgSession.h"

#include <QSet>
#include <optional>

namespace importing {

namespace {

constexpr qint64 rowsPerApplyStep = 20000;

QString q(const QString &name)
{
    return dravon::quotedIdentifier(name);
}

// Drops the staging tables without the server's notice that they were not there.
const QString dropTables = QStringLiteral(
    "DO $$ BEGIN SET LOCAL client_min_messages = warning; "
    "DROP TABLE IF EXISTS pg_temp.import_stage; DROP TABLE IF EXISTS pg_temp.import_errors; END $$");

QVector<QVariant> toParams(const QVariantList &list)
{
    return QVector<QVariant>(list.cbegin(), list.cend());
}

std::function<void()> &beforeMatch()
{
    static std::function<void()> hook;
    return hook;
}

}

void ServerStage::setBeforeMatchForTesting(std::function<void()> hook)
{
    beforeMatch() = std::move(hook);
}

ServerStage::ServerStage(dravon::Connection &connection) : m_connection(connection)
{
    m_connectionAtStart = connection.session().connectionCount();
}

ServerStage::~ServerStage()
{
    if (!m_created || !m_connection.isOpen())
        return;
    try {
        dravon::pg::Session &session = m_connection.session();
        if (session.connectionCount() == m_connectionAtStart && !session.inTransaction())
            session.execScript(dropTables);
    } catch (const dravon::Error &) {
        // The server is away: the tables went with the session.
    }
}

QHash<QString, QString> ServerStage::declaredTypes(const QString &table)
{
    QHash<QString, QString> declared;
    const dravon::pg::Result r = m_connection.session().exec(
        QStringLiteral("SELECT column_name, data_type FROM information_schema.columns "
                       "WHERE table_schema = current_schema() AND table_name = $1"),
        {table});
    for (int i = 0; i < r.rows(); ++i) {
        const QString type = r.text(i, 1);
        QString as = QStringLiteral("TEXT");
        if (type == QLatin1String("date"))
            as = QStringLiteral("DATE");
        else if (type == QLatin1String("bigint") || type == QLatin1String("integer") || type == QLatin1String("smallint"))
            as = QStringLiteral("INTEGER");
        else if (type == QLatin1String("double precision") || type == QLatin1String("real") || type == QLatin1String("numeric"))
            as = QStringLiteral("REAL");
        declared.insert(r.text(i, 0).toLower(), as);
    }
    return declared;
}

QList<QVariantList> ServerStage::rows(const QString &sql, const QVariantList &params)
{
    const dravon::pg::Result r = m_connection.session().exec(sql, toParams(params));
    QList<QVariantList> all;
    all.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        QVariantList row;
        for (int c = 0; c < r.columns(); ++c)
            row << r.value(i, c);
        all << row;
    }
    return all;
}

QString ServerStage::cast(int setIndex) const
{
    switch (m_types.value(setIndex)) {
    case dravon::FieldType::Integer:
        return QStringLiteral("::bigint");
    case dravon::FieldType::Real:
        return QStringLiteral("::double precision");
    case dravon::FieldType::Date:
        return QStringLiteral("::date");
    case dravon::FieldType::Text:
        break;
    }
    return QStringLiteral("::text");
}

void ServerStage::create(const ImportTarget &target, const QStringList &setFields,
                         const QVector<dravon::FieldType> &types, const QStringList &matchFields, int freshAction)
{
    m_target = &target;
    m_setFields = setFields;
    m_types = types;
    m_matchFields = matchFields;
    m_matchIndex.clear();
    for (const QString &f : matchFields)
        m_matchIndex << int(setFields.indexOf(f));
    m_freshAction = freshAction;
    dravon::pg::Session &session = m_connection.session();
    session.execScript(dropTables);
    // The target's columns, types and checks; its row key is the stage's own.
    session.exec(QStringLiteral("CREATE TEMP TABLE import_stage (LIKE %1 INCLUDING CONSTRAINTS)").arg(q(target.table)));
    m_created = true;
    session.execScript(QStringLiteral(
        "ALTER TABLE import_stage DROP COLUMN \"Id\";"
        "ALTER TABLE import_stage ADD COLUMN _sid bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
        " ADD COLUMN _line bigint, ADD COLUMN _part integer, ADD COLUMN _action integer,"
        " ADD COLUMN _target bigint, ADD COLUMN _found bigint, ADD COLUMN _same integer, ADD COLUMN _seen text;"
        "CREATE INDEX ON import_stage (_line);"
        "CREATE TEMP TABLE import_errors (_sid bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
        " line bigint, cells text, reason text)"));
    // A row of the file whose match columns repeat an earlier row's.
    if (target.isMaster()) {
        session.exec(QStringLiteral("CREATE UNIQUE INDEX ON import_stage (%1)").arg(q(target.keyField)));
    } else if (!matchFields.isEmpty()) {
        QStringList parts;
        for (const QString &f : matchFields)
            parts << QStringLiteral("(coalesce(%1::text, ''))").arg(q(f));
        session.exec(QStringLiteral("CREATE UNIQUE INDEX ON import_stage (%1)").arg(parts.join(QStringLiteral(", "))));
    }
}

qint64 ServerStage::stagedLineOf(const QVector<QVariant> &values)
{
    if (m_matchFields.isEmpty())
        return 0;
    QStringList where;
    QVector<QVariant> params;
    for (int i = 0; i < m_matchFields.size(); ++i) {
        const int index = m_matchIndex[i];
        params << (index >= 0 ? values[index] : QVariant());
        const QString c = index >= 0 ? cast(index) : QStringLiteral("::text");
        if (m_target->isMaster())
            where << QStringLiteral("%1 = $%2%3").arg(q(m_matchFields[i])).arg(i + 1).arg(c);
        else
            where << QStringLiteral("coalesce(%1::text, '') = coalesce($%2%3::text, '')")
                         .arg(q(m_matchFields[i]))
                         .arg(i + 1)
                         .arg(c);
    }
    const dravon::pg::Result r = m_connection.session().exec(
        QStringLiteral("SELECT _line FROM import_stage WHERE %1 ORDER BY _sid LIMIT 1").arg(where.join(QStringLiteral(" AND "))),
        params);
    return r.rows() > 0 ? r.value(0, 0).toLongLong() : 0;
}

void ServerStage::dropLine(qint64 line)
{
    m_connection.session().exec(QStringLiteral("DELETE FROM import_stage WHERE _line = $1"), {line});
}

// One target of a row by itself; false when the index already holds its match columns.
bool ServerStage::insertOne(const StagedRow &row, int part)
{
    QStringList columns, marks;
    QVector<QVariant> params;
    const QVector<QVariant> &values = row.targets[part];
    for (int i = 0; i < m_setFields.size(); ++i) {
        columns << q(m_setFields[i]);
        params << values[i];
        marks << QStringLiteral("$%1%2").arg(params.size()).arg(cast(i));
    }
    params << row.line << part;
    marks << QStringLiteral("$%1::bigint").arg(params.size() - 1) << QStringLiteral("$%1::integer").arg(params.size());
    const dravon::pg::Result r = m_connection.session().exec(
        QStringLiteral("INSERT INTO import_stage (%1, _line, _part, _action) VALUES (%2, %3) ON CONFLICT DO NOTHING RETURNING _sid")
            .arg(columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")))
            .arg(m_freshAction),
        params);
    return r.rows() > 0;
}

// One value in COPY's text format.
static void appendCopyValue(QByteArray &line, const QVariant &value)
{
    if (value.isNull()) {
        line += "\\N";
        return;
    }
    QByteArray text;
    switch (value.typeId()) {
    case QMetaType::Double:
        text = QByteArray::number(value.toDouble(), 'g', 17);
        break;
    case QMetaType::LongLong:
    case QMetaType::Int:
        text = QByteArray::number(value.toLongLong());
        break;
    default:
        text = value.toString().toUtf8();
        break;
    }
    dravon::pg::appendCopyText(line, text.constData(), int(text.size()));
}

void ServerStage::stage(QList<StagedRow> &rows)
{
    dravon::pg::Session &session = m_connection.session();
    QStringList columns;
    for (const QString &f : std::as_const(m_setFields))
        columns << q(f);
    const QString into = QStringLiteral("import_stage (%1, _line, _part, _action)").arg(columns.join(QStringLiteral(", ")));
    // The rows in one COPY: nothing of it is staged when the index or the
    // server turns one row away, and then the rows go again as below.
    QByteArray data;
    for (const StagedRow &row : std::as_const(rows)) {
        if (!row.reasons.isEmpty())
            continue;
        for (int part = 0; part < row.targets.size(); ++part) {
            for (const QVariant &value : row.targets[part]) {
                appendCopyValue(data, value);
                data += '\t';
            }
            data += QByteArray::number(row.line) + '\t' + QByteArray::number(part) + '\t'
                    + QByteArray::number(m_freshAction) + '\n';
        }
    }
    if (data.isEmpty())
        return;
    try {
        session.copyIn(QStringLiteral("COPY %1 FROM STDIN").arg(into), [&data](QByteArray &chunk) {
            chunk.swap(data);
            return false;
        });
        return;
    } catch (const dravon::pg::ServerError &e) {
        if (e.connectionLost() || e.abortedByServer())
            throw;
    }

    // Many rows to a statement, as many as the server takes parameters; a
    // target the index turns away is not returned.
    const int perStatement = qMax(1, 30000 / int(m_setFields.size() + 2));
    QSet<QPair<qint64, int>> stagedParts;
    bool oneByOne = false;
    QVector<QVariant> params;
    QStringList tuples;
    auto send = [&] {
        if (tuples.isEmpty() || oneByOne)
            return;
        try {
            const dravon::pg::Result r = session.exec(
                QStringLiteral("INSERT INTO %1 VALUES %2 ON CONFLICT DO NOTHING RETURNING _line, _part")
                    .arg(into, tuples.join(QStringLiteral(", "))),
                params);
            for (int i = 0; i < r.rows(); ++i)
                stagedParts.insert({r.value(i, 0).toLongLong(), int(r.value(i, 1).toLongLong())});
        } catch (const dravon::pg::ServerError &e) {
            // A value the server refuses: each row by itself, to name it.
            if (e.connectionLost() || e.abortedByServer())
                throw;
            oneByOne = true;
        }
        params.clear();
        tuples.clear();
    };
    for (const StagedRow &row : std::as_const(rows)) {
        if (!row.reasons.isEmpty())
            continue;
        for (int part = 0; part < row.targets.size(); ++part) {
            QStringList marks;
            for (int i = 0; i < m_setFields.size(); ++i) {
                params << row.targets[part][i];
                marks << QStringLiteral("$%1%2").arg(params.size()).arg(cast(i));
            }
            params << row.line << part;
            marks << QStringLiteral("$%1::bigint").arg(params.size() - 1) << QStringLiteral("$%1::integer").arg(params.size());
            tuples << QStringLiteral("(%1, %2)").arg(marks.join(QStringLiteral(", "))).arg(m_freshAction);
            if (tuples.size() >= perStatement)
                send();
        }
    }
    send();
    if (oneByOne) {
        // What was staged before the refusal is taken back and staged again in order.
        for (const StagedRow &row : std::as_const(rows))
            if (row.reasons.isEmpty())
                dropLine(row.line);
    }
    // In the file's order, so that the first of two equal rows is the one kept
    // and a row taken back no longer turns a later one away.
    for (StagedRow &row : rows) {
        if (!row.reasons.isEmpty())
            continue;
        for (int part = 0; part < row.targets.size(); ++part) {
            if (!oneByOne && stagedParts.contains({row.line, part}))
                continue;
            try {
                if (insertOne(row, part))
                    continue;
            } catch (const dravon::pg::ServerError &e) {
                if (e.connectionLost() || e.abortedByServer())
                    throw;
                row.outcome = StagedRow::Outcome::Refused;
                row.failedTarget = part;
                row.engineText = e.text();
                break;
            }
            row.outcome = StagedRow::Outcome::Duplicate;
            row.failedTarget = part;
            row.firstLine = stagedLineOf(row.targets[part]);
            break;
        }
        // A row is imported whole or not at all.
        if (row.outcome != StagedRow::Outcome::Staged)
            dropLine(row.line);
    }
}

QString ServerStage::matchSelect() const
{
    const ImportTarget &target = *m_target;
    QStringList same;
    for (const QString &f : std::as_const(m_setFields))
        same << QStringLiteral("t.%1 IS NOT DISTINCT FROM s.%1").arg(q(f));
    // A student's rows are found by the student's index; the other columns
    // compare as the stage's unique index does (an empty cell as no value).
    const int lead = target.isMaster() ? -1 : int(m_matchFields.indexOf(QStringLiteral("StudentID")));
    QStringList others;
    for (int i = 0; i < m_matchFields.size(); ++i) {
        if (i == lead)
            continue;
        const QString f = q(m_matchFields[i]);
        others << (target.isMaster() ? QStringLiteral("t.%1 = s.%1").arg(f)
                                     : QStringLiteral("coalesce(t.%1::text, '') = coalesce(s.%1::text, '')").arg(f));
    }
    const QString pair = QStringLiteral("SELECT s._sid, t.\"Id\" AS id, (%1) AS same, md5(t::text) AS seen "
                                        "FROM import_stage s JOIN %2 t ON %3")
                             .arg(same.join(QStringLiteral(" AND ")), q(target.table));
    QString pairs;
    if (lead >= 0) {
        const QString f = q(m_matchFields[lead]);
        QStringList byKey = others, byNull = others;
        byKey.prepend(QStringLiteral("t.%1 = s.%1").arg(f));
        byNull.prepend(QStringLiteral("t.%1 IS NULL AND s.%1 IS NULL").arg(f));
        pairs = pair.arg(byKey.join(QStringLiteral(" AND "))) + QStringLiteral(" UNION ALL ")
                + pair.arg(byNull.join(QStringLiteral(" AND ")));
    } else {
        pairs = pair.arg(others.join(QStringLiteral(" AND ")));
    }
    return QStringLiteral("SELECT _sid AS sid, count(*) AS n, max(id) AS target, bool_or(same) AS same, "
                          "max(seen) AS seen FROM (%1) AS p GROUP BY _sid")
        .arg(pairs);
}

bool ServerStage::match(ImportMode mode, const std::function<bool()> &keepGoing)
{
    if (m_matchFields.isEmpty())
        return true;
    dravon::pg::Session &session = m_connection.session();
    // The planner knows nothing of a temporary table's rows until told.
    session.exec(QStringLiteral("ANALYZE import_stage"));
    const int existing = mode == ImportMode::AddOnly ? 4 : 2;
    if (beforeMatch())
        beforeMatch()();
    // One statement, writing only the stage; stopped, the check is made anew.
    return session
        .execWhile(QStringLiteral("UPDATE import_stage s SET _found = m.n, _target = m.target, _same = m.same::integer, "
                                  "_seen = m.seen, _action = CASE WHEN m.same THEN 3 WHEN m.n = 1 OR %1 THEN %2 ELSE 5 END "
                                  "FROM (%3) AS m WHERE s._sid = m.sid")
                       .arg(mode == ImportMode::AddOnly ? QStringLiteral("true") : QStringLiteral("false"))
                       .arg(existing)
                       .arg(matchSelect()),
                   {}, keepGoing ? keepGoing : [] { return true; })
        .has_value();
}

QHash<qint64, qint64> ServerStage::takeAmbiguous()
{
    QHash<qint64, qint64> ambiguous;
    for (const QVariantList &row : rows(QStringLiteral("SELECT _line, max(_found) FROM import_stage WHERE _action = 5 GROUP BY _line")))
        ambiguous.insert(row[0].toLongLong(), row[1].toLongLong());
    if (!ambiguous.isEmpty())
        m_connection.session().exec(QStringLiteral(
            "DELETE FROM import_stage WHERE _line IN (SELECT _line FROM import_stage WHERE _action = 5)"));
    return ambiguous;
}

QHash<int, qint64> ServerStage::actionCounts()
{
    QHash<int, qint64> counts;
    for (const QVariantList &row : rows(QStringLiteral("SELECT _action, count(*) FROM import_stage GROUP BY _action")))
        counts.insert(int(row[0].toLongLong()), row[1].toLongLong());
    return counts;
}

void ServerStage::addError(qint64 line, const QString &cells, const QString &reason)
{
    m_connection.session().exec(QStringLiteral("INSERT INTO import_errors (line, cells, reason) VALUES ($1, $2, $3)"),
                                {line, cells, reason});
}

qint64 ServerStage::errorCellsWidth()
{
    const QList<QVariantList> r =
        rows(QStringLiteral("SELECT coalesce(max(length(cells) - length(replace(cells, chr(31), ''))), -1) + 1 FROM import_errors"));
    return r.isEmpty() ? 0 : r.first().first().toLongLong();
}

QList<QStringList> ServerStage::errorRows(qint64 first, int count)
{
    QList<QStringList> found;
    for (const QVariantList &row : rows(QStringLiteral("SELECT cells, reason FROM import_errors WHERE _sid > $1 ORDER BY _sid LIMIT $2"),
                                        {first, count}))
        found << QStringList{row[0].toString(), row[1].toString()};
    return found;
}

ApplyResult ServerStage::apply(const QString &window, const Progress &progress)
{
    const ImportTarget &target = *m_target;
    dravon::pg::Session &session = m_connection.session();
    // The staged rows went with a lost connection: the check runs again.
    if (session.connectionCount() != m_connectionAtStart)
        throw StaleCheck(QStringLiteral("与数据库服务器的连接中断过,需要重新检查。"));
    ApplyResult result;
    const QVariantList counts =
        rows(QStringLiteral("SELECT count(*) FILTER (WHERE _action = 1), count(*) FILTER (WHERE _action = 2), "
                            "coalesce(max(_line), 0) FROM import_stage"))
            .value(0);
    const qint64 adds = counts.value(0).toLongLong(), updates = counts.value(1).toLongLong(),
                 lastLine = counts.value(2).toLongLong();
    if (adds + updates == 0) {
        result.completed = true;
        return result;
    }
    auto fail = [](const QString &reason) {
        return dravon::Error(QStringLiteral("导入失败,已全部撤销,数据库与导入前相同。\n原因: %1").arg(reason));
    };

    std::optional<dravon::ChangeBatch> batch;
    try {
        batch.emplace(m_connection, dravon::BatchTag{QStringLiteral("导入"), window,
                                                     QStringLiteral("导入 %1").arg(dravon::recordsText(target.table, adds + updates))});
    } catch (const dravon::Error &e) {
        throw fail(e.text());
    }
    QStringList quoted, assignments;
    for (const QString &f : std::as_const(m_setFields)) {
        quoted << q(f);
        assignments << QStringLiteral("%1 = s.%1").arg(q(f));
    }
    const qint64 total = adds + updates;
    qint64 done = 0;
    // A cancel stops the running statement on the server; the batch's
    // transaction then takes back everything written so far.
    const std::function<bool()> keepGoing = [&] { return !progress || progress(done, total); };
    try {
        // Other clerks' writes to the table wait until this transaction ends;
        // what they wrote before it is looked at now: every row the check
        // found must be found again, holding what it held then, and no
        // other row may have come to match.
        session.exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(q(target.table)));
        if (!m_matchFields.isEmpty()) {
            const std::optional<dravon::pg::Result> changed = session.execWhile(
                QStringLiteral("SELECT 1 FROM import_stage s LEFT JOIN (%1) AS m ON m.sid = s._sid "
                               "WHERE s._found IS DISTINCT FROM m.n OR s._target IS DISTINCT FROM m.target "
                               "OR s._seen IS DISTINCT FROM m.seen LIMIT 1")
                    .arg(matchSelect()),
                {}, keepGoing);
            if (!changed) {
                batch.reset();
                return result;
            }
            if (changed->rows() > 0) {
                batch.reset();
                throw StaleCheck(QStringLiteral("检查之后数据库已被其他程序修改,需要重新检查。"));
            }
        }
        const QString insert = QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM import_stage "
                                              "WHERE _action = 1 AND _line > $1 AND _line <= $2 ORDER BY _line, _part")
                                   .arg(q(target.table), quoted.join(QStringLiteral(", ")));
        const QString update = QStringLiteral("UPDATE %1 SET %2 FROM (SELECT * FROM import_stage WHERE _action = 2 "
                                              "AND _line > $1 AND _line <= $2) AS s WHERE %1.\"Id\" = s._target")
                                   .arg(q(target.table), assignments.join(QStringLiteral(", ")));
        for (const QString *sql : {&insert, &update}) {
            const bool inserting = sql == &insert;
            // In the file's order, a part of the file at a time.
            for (qint64 from = 0; from < lastLine; from += rowsPerApplyStep) {
                const std::optional<dravon::pg::Result> step =
                    keepGoing() ? session.execWhile(*sql, {from, from + rowsPerApplyStep}, keepGoing) : std::nullopt;
                if (!step) {
                    batch.reset();
                    return result;
                }
                const qint64 n = step->affected();
                done += n;
                (inserting ? result.added : result.updated) += n;
            }
        }
        if (result.updated != updates || result.added != adds)
            throw dravon::Error(QStringLiteral("要更新的记录已被删除或改动"));
        batch->commit();
    } catch (const StaleCheck &) {
        throw;
    } catch (const dravon::pg::ServerError &e) {
        batch.reset();
        const dravon::RefusalReason why = dravon::readRefusal(e.text());
        const TargetField *field = e.connectionLost() || e.abortedByServer() ? nullptr : target.field(why.column);
        throw fail(field ? QStringLiteral("字段 \"%1\" %2(%3)").arg(field->caption, why.why, e.text()) : e.text());
    } catch (const dravon::Error &e) {
        batch.reset();
        throw fail(e.text());
    }
    if (progress)
        progress(total, total);
    result.completed = true;
    return result;
}

}
