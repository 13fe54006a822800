#pragma once
// The find command of the record windows as a pure function: the chosen
// item, the condition and the typed value become one statement text. Values
// enter only as quoted text literals.
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace dravon {

class Connection;

// How an item takes its value part from the value box.
enum class QueryValueKind {
    Number,          // the whole text
    NumberWithName,  // the text before the first "." of "number.name"; no "." gives an empty value
    Name,            // the whole text; with "Like" wrapped as "%" + text + "%"
    NumberOrEntry    // the text before the first "." when there is one, else the whole text
};

struct QueryItem
{
    QString caption;  // "学号"
    QueryValueKind kind = QueryValueKind::Number;
    QString prefix;   // the statement up to the condition, ending with one blank
};

// The number of a "number.name" entry: the text before its first ".", or
// empty text when there is no ".".
QString NumberOfEntry(const QString &entry);

// The statement for the item at itemIndex (its position in the item list),
// the condition exactly as chosen (">", "<", "=", "Like", or empty) and the
// value box's text. Empty text when no item is chosen (itemIndex outside the
// list): nothing is to be opened.
QString QueryStatement(const QList<QueryItem> &items, int itemIndex, const QString &condition,
                       const QString &valueText);

// The course query: the arrangements with the names of their student,
// subject and teacher (inner joins, so arrangements whose student, subject
// or teacher is gone are left out), narrowed by the item exactly as written
// ("科目编号", "学号" or "教师编号") with the value as a quoted literal, or,
// when item and value are both empty, by the begin date lying between the
// two dates (both included; "#" literals in the short date format). Any
// other item text adds no condition.
QString CourseQueryStatement(const QString &item, const QString &value, const QDate &begin, const QDate &end);

// "number.name" entries of every row of a statement, in the order the
// database returns them (the value lists of the find pages).
QStringList NumberAndNameEntries(Connection &connection, const QString &sql, const QString &numberField,
                                 const QString &nameField);

}
