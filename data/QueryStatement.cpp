#include "data/QueryStatement.h"

#include "data/Dravon.h"

namespace dravon {

QString NumberOfEntry(const QString &entry)
{
    const int dot = entry.indexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : entry.left(dot);
}

QString QueryStatement(const QList<QueryItem> &items, int itemIndex, const QString &condition,
                       const QString &valueText)
{
    if (itemIndex < 0 || itemIndex >= items.size())
        return {};
    const QueryItem &item = items.at(itemIndex);
    QString value;
    switch (item.kind) {
    case QueryValueKind::Number:
    case QueryValueKind::Name:
        value = valueText;
        break;
    case QueryValueKind::NumberWithName:
        value = NumberOfEntry(valueText);
        break;
    case QueryValueKind::NumberOrEntry:
        value = valueText.contains(QLatin1Char('.')) ? NumberOfEntry(valueText) : valueText;
        break;
    }
    // A name is matched anywhere within it when the condition is "Like".
    if (item.kind == QueryValueKind::Name && condition == QLatin1String("Like"))
        value = QLatin1Char('%') + valueText + QLatin1Char('%');
    return item.prefix + condition + QuotedStr(value);
}

QStringList NumberAndNameEntries(Connection &connection, const QString &sql, const QString &numberField,
                                 const QString &nameField)
{
    QStringList entries;
    const auto rows = SQLDataSet(sql, connection);
    for (rows->first(); !rows->eof(); rows->next())
        entries << rows->fieldText(numberField) + QLatin1Char('.') + rows->fieldText(nameField);
    return entries;
}

}
