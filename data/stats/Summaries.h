#pragma once
// 汇总: fees per class and fee item with the students who have not paid,
// dormitories with their occupants, and head counts of the students.
#include "data/stats/ResultTable.h"
#include "data/stats/WorkerRead.h"

#include <QStringList>
#include <optional>

namespace stats {

// 缴费汇总. No value: all classes or all items.
struct FeeFilter
{
    std::optional<QString> classId;
    std::optional<QString> item;
};

// The fee items: the four the payment window offers, then any other name stored.
QStringList FeeItems(ReadConnection &connection);

// Per class (Price.ClassID) and item: "班级编号", "班级名称", "缴费项目", "人数"
// (students with an amount of more than 0, as the unpaid list counts a
// payment), "金额合计" (all amounts), "平均" (per student who paid).
ResultTable FeeSummary(ReadConnection &connection, const FeeFilter &filter);

// The students (StudentInfo.ClassID in the class) with no payment of more
// than 0 under the item (under any item when there is none):
// "学号", "姓名", "班级编号", "班级名称".
ResultTable UnpaidStudents(ReadConnection &connection, const FeeFilter &filter);

// 宿舍汇总: every dormitory of DormInfo (and any number Dorm names that it
// lacks): "宿舍编号", "宿舍名称", "人数", "男", "女", "班级" (the names of the classes living there).
ResultTable DormSummary(ReadConnection &connection);
// The students with no dormitory place: "学号", "姓名", "性别", "班级编号", "班级名称".
ResultTable StudentsWithoutDorm(ReadConnection &connection);

// 学生人数, per college, class, sex or year of entry: the group's columns, then "人数", "男", "女".
enum class HeadcountGrouping { College, Class, Sex, EntryYear };
QString HeadcountGroupingName(HeadcountGrouping grouping);  // "学院", "班级", "性别", "入学年份"
ResultTable StudentHeadcount(ReadConnection &connection, HeadcountGrouping grouping);

}
