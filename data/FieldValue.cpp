#include "data/FieldValue.h"

#include "data/ShortDate.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace dravon {

QVariant storedValue(FieldType type, const QString &text, ConversionFailure *failure)
{
    *failure = ConversionFailure::None;
    if (type == FieldType::Text)
        return text.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text);
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QVariant(QMetaType(QMetaType::QString));
    bool ok = false;
    switch (type) {
    case FieldType::Integer: {
        const qlonglong n = t.toLongLong(&ok);
        if (ok)
            return n;
        *failure = ConversionFailure::NotInteger;
        return {};
    }
    case FieldType::Real: {
        const double d = QLocale::c().toDouble(t, &ok);
        if (ok && std::isfinite(d))
            return d;
        *failure = ConversionFailure::NotNumber;
        return {};
    }
    case FieldType::Date: {
        const QDate date = parseShortDate(t);
        if (date.isValid())
            return date.toString(Qt::ISODate);
        *failure = ConversionFailure::NotDate;
        return {};
    }
    case FieldType::Text:
        break;
    }
    return text;
}

RefusalReason readRefusal(const QString &engineText)
{
    static const QRegularExpression column(QStringLiteral("failed: (?:[^.\\s,]+\\.)?([^\\s,]+)"));
    RefusalReason reason;
    const QRegularExpressionMatch m = column.match(engineText);
    if (m.hasMatch())
        reason.column = m.captured(1);
    reason.why = QStringLiteral("不符合该字段的要求");
    if (engineText.contains(QLatin1String("UNIQUE")))
        reason.why = QStringLiteral("与已有记录重复");
    else if (engineText.contains(QLatin1String("NOT NULL")))
        reason.why = QStringLiteral("不能为空");
    else if (engineText.contains(QLatin1String("CHECK")))
        reason.why = QStringLiteral("类型或格式不符合该字段");
    return reason;
}

}
