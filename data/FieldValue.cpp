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
    // A server's words: the column of a missing value, the key of a
    // duplicate, and the check constraint (named after its column).
    static const QRegularExpression serverNull(QStringLiteral("null value in column \"([^\"]+)\""));
    static const QRegularExpression serverKey(QStringLiteral("Key \\(\"?([^\")]+)\"?\\)="));
    static const QRegularExpression serverCheck(QStringLiteral("violates check constraint \"([^\"]+)\""));
    RefusalReason reason;
    reason.why = QStringLiteral("不符合该字段的要求");
    if (const QRegularExpressionMatch m = column.match(engineText); m.hasMatch())
        reason.column = m.captured(1);
    if (const QRegularExpressionMatch m = serverNull.match(engineText); m.hasMatch())
        reason.column = m.captured(1);
    else if (const QRegularExpressionMatch m = serverKey.match(engineText); m.hasMatch())
        reason.column = m.captured(1);
    else if (const QRegularExpressionMatch m = serverCheck.match(engineText); m.hasMatch())
        reason.column = m.captured(1);
    if (engineText.contains(QLatin1String("UNIQUE")) || engineText.contains(QLatin1String("unique constraint")))
        reason.why = QStringLiteral("与已有记录重复");
    else if (engineText.contains(QLatin1String("NOT NULL")) || engineText.contains(QLatin1String("not-null")))
        reason.why = QStringLiteral("不能为空");
    else if (engineText.contains(QLatin1String("CHECK")) || engineText.contains(QLatin1String("check constraint")))
        reason.why = QStringLiteral("类型或格式不符合该字段");
    return reason;
}

}
