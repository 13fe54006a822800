#include "data/Field.h"

#include "data/ShortDate.h"

#include <cmath>

namespace dravon {

namespace {

QString formatNumber(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}

}

FieldType typeFromDeclaration(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME")))
        return FieldType::Date;
    if (t.contains(QLatin1String("INT")))
        return FieldType::Integer;
    if (t.contains(QLatin1String("REAL")) || t.contains(QLatin1String("FLOA")) || t.contains(QLatin1String("DOUB"))
        || t.contains(QLatin1String("NUMERIC")) || t.contains(QLatin1String("DECIMAL"))
        || t.contains(QLatin1String("MONEY")) || t.contains(QLatin1String("CURRENCY")))
        return FieldType::Real;
    return FieldType::Text;
}

QString displayText(const QVariant &value, FieldType type)
{
    if (value.isNull() || !value.isValid())
        return {};
    switch (type) {
    case FieldType::Date:
        if (value.typeId() != QMetaType::QString)
            return value.toString();
        return showIsoDate(value.toString());
    case FieldType::Real:
    case FieldType::Integer:
    case FieldType::Text:
        if (value.typeId() == QMetaType::Double)
            return formatNumber(value.toDouble());
        return value.toString();
    }
    return value.toString();
}

}
