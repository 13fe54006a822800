#include "data/import/ImportTargets.h"

namespace importing {

namespace {

TargetField field(const char *name, const QString &caption, const QStringList &aliases = {},
                  const char *refTable = "")
{
    return {QString::fromLatin1(name), caption, aliases, QString::fromLatin1(refTable)};
}

// Columns that several tables share, with the header texts offices use for them.
TargetField student(const QString &caption = QStringLiteral("学号"))
{
    return field("StudentID", caption,
                 {QStringLiteral("学号"), QStringLiteral("学生编号"), QStringLiteral("学生学号"), QStringLiteral("StudentID"),
                  QStringLiteral("学生")},
                 "StudentInfo");
}
TargetField classOf(const QString &caption = QStringLiteral("班级编号"))
{
    return field("ClassID", caption,
                 {QStringLiteral("班级编号"), QStringLiteral("班级"), QStringLiteral("班级名称"), QStringLiteral("所在班级"),
                  QStringLiteral("ClassID")},
                 "ClassInfo");
}
TargetField subjectOf(const QString &caption)
{
    return field("SubjectID", caption,
                 {QStringLiteral("科目"), QStringLiteral("课程"), QStringLiteral("课程名称"), QStringLiteral("科目名称"),
                  QStringLiteral("科目编号"), QStringLiteral("课程编号"), QStringLiteral("SubjectID")},
                 "SubjectInfo");
}
TargetField term()
{
    return field("Term", QStringLiteral("学期"), {QStringLiteral("学期"), QStringLiteral("Term")});
}
TargetField remark()
{
    return field("Remark", QStringLiteral("备注"), {QStringLiteral("备注"), QStringLiteral("说明"), QStringLiteral("Remark")});
}
TargetField sex(const char *name)
{
    return field(name, QStringLiteral("性别"), {QStringLiteral("性别")});
}

QList<ImportTarget> build()
{
    QList<ImportTarget> t;
    t.append({QStringLiteral("StudentInfo"), QStringLiteral("学生信息"), QStringLiteral("学生"),
              {field("StudentID", QStringLiteral("学号"),
                     {QStringLiteral("学号"), QStringLiteral("学生编号"), QStringLiteral("学生学号"), QStringLiteral("StudentID")}),
               field("StuName", QStringLiteral("姓名"), {QStringLiteral("姓名"), QStringLiteral("学生姓名"), QStringLiteral("Name")}),
               sex("StuSex"),
               field("StuAge", QStringLiteral("年龄"), {QStringLiteral("年龄")}),
               classOf(),
               field("InSchoolDate", QStringLiteral("入学时间"), {QStringLiteral("入学时间"), QStringLiteral("入学日期")}),
               field("OutSchoolDate", QStringLiteral("毕业时间"), {QStringLiteral("毕业时间"), QStringLiteral("毕业日期")}),
               field("StuContact", QStringLiteral("联系方式"),
                     {QStringLiteral("联系方式"), QStringLiteral("联系电话"), QStringLiteral("电话"), QStringLiteral("手机")}),
               remark()},
              QStringLiteral("StudentID"), QStringLiteral("StuName"), QStringLiteral("2007001"), {}});
    t.append({QStringLiteral("TeacherInfo"), QStringLiteral("老师信息"), QStringLiteral("老师"),
              {field("TeacherID", QStringLiteral("编号"),
                     {QStringLiteral("编号"), QStringLiteral("教师编号"), QStringLiteral("工号"), QStringLiteral("TeacherID")}),
               field("TchName", QStringLiteral("姓名"), {QStringLiteral("姓名"), QStringLiteral("教师姓名"), QStringLiteral("Name")}),
               sex("TchSex"),
               field("TchAge", QStringLiteral("年龄"), {QStringLiteral("年龄")}),
               field("Duty", QStringLiteral("职务"), {QStringLiteral("职务"), QStringLiteral("职称")}),
               field("TchContact", QStringLiteral("联系方式"),
                     {QStringLiteral("联系方式"), QStringLiteral("联系电话"), QStringLiteral("电话"), QStringLiteral("手机")}),
               remark()},
              QStringLiteral("TeacherID"), QStringLiteral("TchName"), QStringLiteral("2007001"), {}});
    t.append({QStringLiteral("GradeInfo"), QStringLiteral("院系"), QStringLiteral("院系"),
              {field("GradeID", QStringLiteral("编号"), {QStringLiteral("编号"), QStringLiteral("院系编号"), QStringLiteral("学院编号")}),
               field("GrdName", QStringLiteral("名称"),
                     {QStringLiteral("名称"), QStringLiteral("院系名称"), QStringLiteral("学院名称"), QStringLiteral("院系"), QStringLiteral("学院")}),
               remark()},
              QStringLiteral("GradeID"), QStringLiteral("GrdName"), QStringLiteral("2007001"), {}});
    t.append({QStringLiteral("ClassInfo"), QStringLiteral("班级"), QStringLiteral("班级"),
              {field("ClassID", QStringLiteral("编号"), {QStringLiteral("编号"), QStringLiteral("班级编号")}),
               field("GradeID", QStringLiteral("所属院系编号"),
                     {QStringLiteral("所属院系编号"), QStringLiteral("所属学院"), QStringLiteral("所属院系"), QStringLiteral("院系"),
                      QStringLiteral("学院"), QStringLiteral("院系名称"), QStringLiteral("学院名称")},
                     "GradeInfo"),
               field("ClaName", QStringLiteral("班级名称"), {QStringLiteral("班级名称"), QStringLiteral("名称"), QStringLiteral("班级")}),
               remark()},
              QStringLiteral("ClassID"), QStringLiteral("ClaName"), QStringLiteral("2007001"), {}});
    t.append({QStringLiteral("SubjectInfo"), QStringLiteral("教学科目"), QStringLiteral("科目"),
              {field("SubjectID", QStringLiteral("编号"), {QStringLiteral("编号"), QStringLiteral("科目编号"), QStringLiteral("课程编号")}),
               field("SubName", QStringLiteral("科目"),
                     {QStringLiteral("科目"), QStringLiteral("科目名称"), QStringLiteral("课程"), QStringLiteral("课程名称"), QStringLiteral("名称")}),
               field("CreditHour", QStringLiteral("学分"), {QStringLiteral("学分")}),
               remark()},
              QStringLiteral("SubjectID"), QStringLiteral("SubName"), QStringLiteral("2007001"), {}});
    t.append({QStringLiteral("DormInfo"), QStringLiteral("宿舍信息"), QStringLiteral("宿舍"),
              {field("DormID", QStringLiteral("编号"), {QStringLiteral("编号"), QStringLiteral("宿舍编号")}),
               field("DormName", QStringLiteral("名称"), {QStringLiteral("名称"), QStringLiteral("宿舍名称"), QStringLiteral("宿舍")}),
               remark()},
              QStringLiteral("DormID"), QStringLiteral("DormName"), QStringLiteral("2007001"), {}});
    t.append({QStringLiteral("Score"), QStringLiteral("学生成绩"), QStringLiteral("成绩记录"),
              {student(),
               field("ScoreDateTime", QStringLiteral("时间"),
                     {QStringLiteral("时间"), QStringLiteral("日期"), QStringLiteral("考试日期"), QStringLiteral("考试时间")}),
               term(), subjectOf(QStringLiteral("科目")), classOf(),
               field("Score", QStringLiteral("分数"), {QStringLiteral("分数"), QStringLiteral("成绩"), QStringLiteral("Score")}),
               field("CreditHour", QStringLiteral("学分"), {QStringLiteral("学分")}), remark()},
              {}, {}, {}, {QStringLiteral("StudentID"), QStringLiteral("SubjectID"), QStringLiteral("Term")}});
    t.append({QStringLiteral("Practice"), QStringLiteral("社会实践"), QStringLiteral("实践记录"),
              {student(), classOf(),
               field("PracticeDateTime", QStringLiteral("时间"),
                     {QStringLiteral("时间"), QStringLiteral("日期"), QStringLiteral("实践时间")}),
               field("PracticeName", QStringLiteral("实践内容"), {QStringLiteral("实践内容"), QStringLiteral("内容")}),
               field("PracticeResult", QStringLiteral("实践结果"), {QStringLiteral("实践结果"), QStringLiteral("结果")}), remark()},
              {}, {}, {}, {QStringLiteral("StudentID"), QStringLiteral("PracticeDateTime"), QStringLiteral("PracticeName")}});
    t.append({QStringLiteral("Moral"), QStringLiteral("品德成绩"), QStringLiteral("品德记录"),
              {student(), classOf(),
               field("MoralID", QStringLiteral("品德条目编号"),
                     {QStringLiteral("品德条目编号"), QStringLiteral("品德编号"), QStringLiteral("条目编号")}),
               field("MoralResult", QStringLiteral("品德成绩"),
                     {QStringLiteral("品德成绩"), QStringLiteral("成绩"), QStringLiteral("分数")}),
               remark()},
              {}, {}, {}, {QStringLiteral("StudentID"), QStringLiteral("MoralID")}});
    t.append({QStringLiteral("Price"), QStringLiteral("缴费记录"), QStringLiteral("缴费记录"),
              {classOf(),
               field("PriceName", QStringLiteral("费用名称"),
                     {QStringLiteral("费用名称"), QStringLiteral("费用类别"), QStringLiteral("收费项目")}),
               student(),
               field("Price", QStringLiteral("费用金额"), {QStringLiteral("费用金额"), QStringLiteral("金额"), QStringLiteral("费用")}),
               remark()},
              {}, {}, {}, {QStringLiteral("StudentID"), QStringLiteral("PriceName")}});
    t.append({QStringLiteral("Dorm"), QStringLiteral("宿舍安排"), QStringLiteral("宿舍安排"),
              {classOf(QStringLiteral("班级")), student(), sex("StuSex"),
               field("DormID", QStringLiteral("宿舍编号"),
                     {QStringLiteral("宿舍编号"), QStringLiteral("宿舍"), QStringLiteral("宿舍名称")}, "DormInfo"),
               remark()},
              {}, {}, {}, {QStringLiteral("StudentID")}});
    t.append({QStringLiteral("Course"), QStringLiteral("课程安排"), QStringLiteral("选课记录"),
              {student(QStringLiteral("学生编号")), subjectOf(QStringLiteral("科目编号")),
               field("TeacherID", QStringLiteral("教师编号"),
                     {QStringLiteral("教师编号"), QStringLiteral("教师"), QStringLiteral("老师"), QStringLiteral("任课老师"),
                      QStringLiteral("教师姓名")},
                     "TeacherInfo"),
               term(),
               field("BeginTime", QStringLiteral("课程起始时间"),
                     {QStringLiteral("课程起始时间"), QStringLiteral("课程起始日期"), QStringLiteral("上课时间"), QStringLiteral("开始日期")}),
               field("EndTime", QStringLiteral("课程结束日期"),
                     {QStringLiteral("课程结束日期"), QStringLiteral("结束时间"), QStringLiteral("结束日期")}),
               remark()},
              {}, {}, {}, {QStringLiteral("StudentID"), QStringLiteral("SubjectID"), QStringLiteral("Term")}});
    return t;
}

}

int ImportTarget::fieldIndex(const QString &name) const
{
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

const TargetField *ImportTarget::field(const QString &name) const
{
    const int i = fieldIndex(name);
    return i < 0 ? nullptr : &fields[i];
}

const QList<ImportTarget> &importTargets()
{
    static const QList<ImportTarget> targets = build();
    return targets;
}

const ImportTarget *findTarget(const QString &table)
{
    for (const ImportTarget &t : importTargets())
        if (t.table.compare(table, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

QString headerKey(const QString &text)
{
    QString key;
    for (const QChar c : text) {
        if (c.isSpace() || c.unicode() == 0x3000 || c == QLatin1Char(':') || c.unicode() == 0xFF1A
            || c.unicode() == 0xFEFF)
            continue;
        key += c.toLower();
    }
    return key;
}

}
