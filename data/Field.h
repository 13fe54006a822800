#pragma once
// A column of a record set, its type, a row's values, and how a value shows.
#include <QString>
#include <QVariant>
#include <QVector>

namespace dravon {

enum class FieldType { Text, Integer, Real, Date };

struct Field
{
    QString name;
    FieldType type = FieldType::Text;
};

using Values = QVector<QVariant>;

// The type a declared column type stands for ("DATE", "INTEGER", "REAL", ...).
FieldType typeFromDeclaration(const QString &declared);

// A value as a grid shows it: dates in the short date format, whole numbers
// without a fraction, nothing for NULL.
QString displayText(const QVariant &value, FieldType type);

}
