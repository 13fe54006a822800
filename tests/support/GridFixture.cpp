#include "support/GridFixture.h"

#include "data/SettingsClient.h"
#include "gui/SaveFileDialog.h"

#include <QDir>
#include <QVBoxLayout>

namespace testsupport {

GridFixture::GridFixture(const QList<GridColumn> &columns, const QString &caption)
{
    conn = std::make_unique<dravon::Connection>();
    ws.openConnection(*conn);
    form = std::make_unique<QWidget>();
    form->setWindowTitle(caption);
    auto *layout = new QVBoxLayout(form.get());
    source = new DataSource(QStringLiteral("DataStudent"), form.get());
    grid = new DataGrid(form.get());
    layout->addWidget(grid);
    grid->setColumns(columns);
    grid->setDataSource(source);
    SetSaveFileNameHandler([this](QWidget *, const QString &, const QString &suggested, const QString &) {
        askedNames << suggested;
        return answerName;
    });
}

GridFixture::~GridFixture()
{
    SetSaveFileNameHandler({});
    form.reset();
    conn.reset();
}

QString GridFixture::outPath(const QString &name) const
{
    return QDir(out.path()).filePath(name);
}

void GridFixture::open(const QString &sql)
{
    source->setDataSet(SQLDataSet(sql, *conn));
}

void GridFixture::setSchool(const QString &name) const
{
    settings::writeIni(ws.iniPath(), QStringLiteral("Info"), QStringLiteral("SchoolName"), name);
}

QList<QStringList> GridFixture::gridRows() const
{
    QList<QStringList> rows;
    QStringList titles;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        titles << grid->model()->headerData(c, Qt::Horizontal).toString();
    rows << titles;
    for (int r = 0; r < grid->model()->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            row << grid->model()->index(r, c).data().toString();
        rows << row;
    }
    return rows;
}

}
