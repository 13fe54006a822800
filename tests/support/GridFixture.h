#pragma once
// A grid in a window of its own over a fresh workspace's database: what the
// grids' export and print commands take. The save-file question is answered
// with answerName (the names asked are kept) and message boxes are recorded.
#include "data/Dravon.h"
#include "gui/controls/DataGrid.h"
#include "support/GuiHelpers.h"
#include "support/TestWorkspace.h"

#include <QTemporaryDir>
#include <memory>

namespace testsupport {

class GridFixture
{
public:
    GridFixture(const QList<GridColumn> &columns, const QString &caption);
    ~GridFixture();
    GridFixture(const GridFixture &) = delete;
    GridFixture &operator=(const GridFixture &) = delete;

    // A path in the output folder.
    QString outPath(const QString &name) const;
    // Opens the statement in the grid.
    void open(const QString &sql);
    // The school's name in the workspace's ini file (printed in page headers).
    void setSchool(const QString &name) const;
    // The grid's rows as it shows them, titles first.
    QList<QStringList> gridRows() const;

    TestWorkspace ws;
    QTemporaryDir out;
    std::unique_ptr<dravon::Connection> conn;
    MessageRecorder rec;
    std::unique_ptr<QWidget> form;
    DataSource *source = nullptr;
    DataGrid *grid = nullptr;
    QStringList askedNames;
    QString answerName;
};

}
