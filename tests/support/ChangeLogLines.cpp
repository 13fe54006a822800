#include "support/ChangeLogLines.h"

namespace testsupport {

namespace {

// A value of the log as the file's quote() shows it, so that one expected
// line serves both engines. On the server a number shows as the column's type
// stores it (60.0 in a REAL column), a row's JSON object likewise, anything
// else as a quoted text.
QString quoted(const TestWorkspace &ws, const QString &value)
{
    if (!ws.onServer())
        return QStringLiteral("quote(%1)").arg(value);
    const QString columnType = QStringLiteral(
        "(SELECT t.data_type FROM information_schema.columns t WHERE t.table_schema = current_schema() "
        "AND t.table_name = L.TableName AND t.column_name = %1)");
    const QString number = QStringLiteral(
        "CASE WHEN %1 = 'double precision' AND %2 ~ '^-?[0-9]+$' THEN %2 || '.0' ELSE %2 END");
    return QStringLiteral(
               "CASE WHEN %1 IS NULL THEN 'NULL' "
               "WHEN L.Operation <> 'U' THEN quote_literal((SELECT '{' || string_agg(to_json(e.key)::text || ':' || %2, ',' "
               "ORDER BY e.n) || '}' FROM json_each(CAST(%1 AS json)) WITH ORDINALITY AS e(key, value, n))) "
               "WHEN %3 IN ('double precision', 'bigint') THEN %4 ELSE quote_literal(%1) END")
        .arg(value, number.arg(columnType.arg(QStringLiteral("e.key")), QStringLiteral("e.value::text")),
             columnType.arg(QStringLiteral("L.Field")), number.arg(columnType.arg(QStringLiteral("L.Field")), value));
}

}

QString quotedReal(const TestWorkspace &ws, const QString &column)
{
    return ws.onServer() ? QStringLiteral("CASE WHEN %1 IS NULL THEN 'NULL' WHEN %1 = trunc(%1) "
                                          "THEN CAST(CAST(%1 AS bigint) AS text) || '.0' ELSE CAST(%1 AS text) END")
                               .arg(column)
                         : QStringLiteral("quote(%1)").arg(column);
}

QStringList logLines(const TestWorkspace &ws, qint64 afterBatch)
{
    const QString key = ws.onServer() ? QStringLiteral("CASE WHEN L.TableName IN ('Score', 'Practice', 'Moral', 'Price', "
                                                       "'Dorm', 'Course') THEN L.RowKey ELSE quote_literal(L.RowKey) END")
                                      : QStringLiteral("quote(L.RowKey)");
    return ws.query(QStringLiteral(
                        "SELECT line FROM ("
                        " SELECT BatchID AS b, 0 AS c, 'B ' || Action || '|' || coalesce(Window, '') || '|' || "
                        "  coalesce(Description, '') || '|' || coalesce(UserID, '') AS line FROM ChangeBatch WHERE BatchID > %1"
                        " UNION ALL"
                        " SELECT coalesce(L.BatchID, 0), L.ChangeID, L.TableName || ' ' || %2 || ' ' || L.Operation || ' ' || "
                        "  coalesce(L.Field, '-') || ' ' || %3 || ' ' || %4 FROM ChangeLog L "
                        "  WHERE coalesce(L.BatchID, 0) > %1 OR L.BatchID IS NULL) AS x"
                        " ORDER BY b, c")
                        .arg(afterBatch)
                        .arg(key, quoted(ws, QStringLiteral("L.OldValue")), quoted(ws, QStringLiteral("L.NewValue"))));
}

}
