#include "support/ImportFixtures.h"

#include "data/RecordSet.h"
#include "data/Dravon.h"

#include <QTest>

namespace testsupport {

QString importFixture(const QString &name)
{
    return QStringLiteral(VELTRANA_IMPORT_DATA "/") + name;
}

void seedSchool(const TestWorkspace &ws, bool withStudents)
{
    ws.exec(QStringLiteral(
        "INSERT INTO GradeInfo VALUES ('2007001', '计算机学院', NULL), ('2007002', '理学院', NULL);"
        "INSERT INTO ClassInfo VALUES ('2007001', '2007001', '计算机一班', NULL), ('2007002', '2007002', '数学一班', NULL),"
        " ('2007003', '2007002', '物理一班', NULL), ('2007004', '2007001', '物理一班', NULL);"
        "INSERT INTO SubjectInfo VALUES ('2007001', '高等数学', 4, NULL), ('2007002', '大学英语', 3, NULL);"));
    if (withStudents)
        ws.exec(QStringLiteral("INSERT INTO StudentInfo (StudentID, StuName, ClassID) VALUES ('0024001', '张三', '2007001'),"
                               " ('0024002', '李四', '2007001'), ('0024003', '王五', '2007002');"));
}

PreparedImport prepareImport(dravon::Connection &connection, const QString &path, const QString &table, int sheet,
                             const QList<QPair<QString, QString>> &gridTitles)
{
    using namespace importing;
    PreparedImport p;
    p.reader = openTableFile(path);
    if (sheet < 0) {
        sheet = 0;
        const QList<SheetInfo> sheets = p.reader->sheets();
        for (int i = 0; i < sheets.size(); ++i)
            if (!sheets[i].hidden) {
                sheet = i;
                break;
            }
    }
    p.reader->selectSheet(sheet);
    QList<SourceRow> rows;
    SourceRow row;
    while (rows.size() < 30 && p.reader->next(row))
        rows << row;
    p.reader->selectSheet(sheet);
    const ImportTarget *target = findTarget(table);
    MappingHints hints;
    hints.gridTitles = gridTitles;
    if (table == QLatin1String("Score")) {
        std::unique_ptr<dravon::RecordSet> subjects = SQLDataSet(QStringLiteral("Select * From SubjectInfo"), connection);
        for (subjects->first(); !subjects->eof(); subjects->next())
            hints.subjects.append({subjects->fieldText(QStringLiteral("SubjectID")),
                                   subjects->fieldText(QStringLiteral("SubName"))});
    }
    const int header = findHeaderRow(rows, *target, hints);
    p.headers = rows.value(header).cells;
    p.plan.target = target;
    p.plan.sheet = sheet;
    p.plan.headerLine = rows.value(header).line;
    p.plan.columns = mapColumns(p.headers, *target, hints);
    p.plan.matchFields = target->defaultMatch;
    p.plan.sourceKind = p.reader->kind();
    return p;
}

QString countsText(const importing::ImportCounts &c)
{
    return QStringLiteral("新增 %1 更新 %2 不变 %3 跳过 %4 错误 %5")
        .arg(c.added)
        .arg(c.updated)
        .arg(c.unchanged)
        .arg(c.skipped)
        .arg(c.errorRows);
}

}
