#pragma once
// A small school whose statistics are known by hand: three classes in two
// colleges, seven students (one with no mark, one with marks only in later
// terms), marks with ties, an empty mark, missing credits, a one-student
// class, terms whose text order is not their order, marks of a class and a
// student that do not exist, payments and dormitory places.
//
// Term 第一学期, by class and subject:
//   一班 数学: 95, 80, (empty)   一班 语文: 65, 80, 55   二班 数学: 60
//   英语班 数学: 59.5   英语班 体育: 95   英语班 语文: (empty)
//   class 2009999 数学: 70       no class 语文: 45 (student 2009001, not in StudentInfo)
// Student totals in 第一学期: 甲 95+65 = 160 and 乙 80+80 = 160 (a tie), 丙 55,
// 丁 60, 戊 59.5+95 (体育 has no credit); 己 has no mark, 庚 marks only in
// 第二学期 (66, credit 3) and 第三学期 (70, credit 5), stored in the other order.
namespace testsupport {

// The rows, as SQL to run on a fresh database.
const char *statsSeedRows();

}
