#pragma once
// How a text typed for a column becomes the value stored: the one rule that a
// Save and an import share. Empty text stores NULL; integer, real and date
// columns take only what converts; dates are stored as ISO text.
#include "data/RowSource.h"

#include <QString>
#include <QVariant>

namespace dravon {

enum class ConversionFailure { None, NotInteger, NotNumber, NotDate };

// The value a column of this type stores for text; on failure an invalid
// QVariant and the reason in *failure. A null QVariant (valid type, no value)
// means NULL.
QVariant storedValue(FieldType type, const QString &text, ConversionFailure *failure);

// Engine refusals of a write, read for the column they name ("CHECK
// constraint failed: Score" -> Score). column is empty when none is named.
struct RefusalReason
{
    QString column;
    QString why;  // "与已有记录重复", "不能为空", "类型或格式不符合该字段", "不符合该字段的要求"
};
RefusalReason readRefusal(const QString &engineText);

}
