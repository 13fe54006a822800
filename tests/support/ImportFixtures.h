#pragma once
// What the import tests share: the fixture files' folder, a school with
// classes, subjects and students to refer to, and a dry run of a file with
// its headers found and mapped as the wizard would.
#include "data/Connection.h"
#include "data/import/ImportRun.h"
#include "support/TestWorkspace.h"

namespace testsupport {

QString importFixture(const QString &name);

// Two colleges, four classes (two named "物理一班"), two subjects with
// credits, and (unless left out) three students of the fixture files.
void seedSchool(const TestWorkspace &workspace, bool withStudents = true);

// Reads the file (or text written to a temporary .csv), finds the header row
// and maps the columns for the table; the plan is ready to run.
struct PreparedImport
{
    std::unique_ptr<importing::TableReader> reader;
    importing::ImportPlan plan;
    QStringList headers;
};
PreparedImport prepareImport(dravon::Connection &connection, const QString &path, const QString &table,
                             int sheet = -1, const QList<QPair<QString, QString>> &gridTitles = {});

// Runs the dry run; the counts as "新增 a 更新 u 不变 n 跳过 s 错误 e".
QString countsText(const importing::ImportCounts &counts);

}
