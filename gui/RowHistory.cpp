#include "gui/RowHistory.h"

#include "data/Dravon.h"
#include "data/changes/History.h"
#include "data/changes/LogEntries.h"
#include "data/changes/LoggedTables.h"
#include "gui/SharedConnection.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

dravon::RecordSet *rowsOf(const DataGrid *grid)
{
    return grid && grid->dataSource() ? grid->dataSource()->dataSet() : nullptr;
}

// The logged table and the key of the record set's current stored row.
const dravon::LoggedTable *currentRow(const dravon::RecordSet *rs, QVariant *key)
{
    if (!rs || rs->isReadOnly() || rs->recNo() < 0 || rs->state() == dravon::DataSetState::Insert)
        return nullptr;
    const dravon::LoggedTable *table = dravon::loggedTable(rs->tableName());
    if (!table || rs->fieldIndex(table->key) < 0)
        return nullptr;
    *key = rs->fieldValue(table->key);
    return key->isNull() ? nullptr : table;
}

// "保存(修改)", "批量删除", "撤销(新增)": the batch's action with what it did to the row.
QString actionText(const dravon::HistoryLine &line)
{
    const QString kind = line.operation == QLatin1Char('I')   ? QStringLiteral("新增")
                         : line.operation == QLatin1Char('D') ? QStringLiteral("删除")
                                                              : QStringLiteral("修改");
    if (line.action.isEmpty() || line.action.contains(kind))
        return line.action.isEmpty() ? kind : line.action;
    return QStringLiteral("%1(%2)").arg(line.action, kind);
}

}

bool RowHistoryAvailable(const DataGrid *grid)
{
    QVariant key;
    return currentRow(rowsOf(grid), &key) != nullptr;
}

void ShowRowHistory(DataGrid *grid)
{
    dravon::RecordSet *rs = rowsOf(grid);
    QVariant key;
    if (!currentRow(rs, &key))
        return;
    RowHistoryDialog dialog(rs, grid->window());
    ExecDialog(&dialog);
}

RowHistoryDialog::RowHistoryDialog(dravon::RecordSet *rs, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRowHistory"));
    setWindowTitle(QStringLiteral("修改记录"));
    QVariant key;
    const dravon::LoggedTable *table = currentRow(rs, &key);

    lblRow = new QLabel(this);
    lblRow->setObjectName(QStringLiteral("lblRow"));
    grdHistory = new QTableWidget(0, 6, this);
    grdHistory->setObjectName(QStringLiteral("grdHistory"));
    grdHistory->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("用户"), QStringLiteral("操作"),
                                           QStringLiteral("字段"), QStringLiteral("原值"), QStringLiteral("新值")});
    grdHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdHistory->verticalHeader()->hide();
    grdHistory->horizontalHeader()->setStretchLastSection(true);
    btnClose = new QPushButton(QStringLiteral("关闭"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblRow);
    layout->addWidget(grdHistory, 1);
    layout->addLayout(buttons);

    if (!table)
        return;
    QList<dravon::HistoryLine> lines;
    Guarded([&] { lines = dravon::rowHistory(SharedConnection(), table->name, key); });
    const QString row = dravon::rowText(table->name, key);
    lblRow->setText(lines.isEmpty() ? QStringLiteral("%1 没有修改记录。").arg(row)
                                    : QStringLiteral("%1 的修改记录(共 %2 项):").arg(row).arg(lines.size()));
    auto shown = [rs](const QString &field, const QVariant &value) {
        const int i = rs->fieldIndex(field);
        return dravon::RecordSet::displayText(value, i < 0 ? dravon::FieldType::Text : rs->fields()[i].type);
    };
    grdHistory->setRowCount(int(lines.size()));
    for (int r = 0; r < lines.size(); ++r) {
        const dravon::HistoryLine &line = lines[r];
        const QString notKept = QStringLiteral("(不记录)");
        const QStringList cells = {
            line.time,
            line.otherProgram ? QStringLiteral("其他程序") : line.user,
            actionText(line),
            rs->fieldLabel(line.field),
            line.hidden ? notKept : shown(line.field, line.oldValue),
            line.hidden ? notKept : shown(line.field, line.newValue)};
        for (int c = 0; c < cells.size(); ++c)
            grdHistory->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    grdHistory->resizeColumnsToContents();
    btnClose->setFocus();
    int width = grdHistory->verticalHeader()->width() + 40;
    for (int c = 0; c < grdHistory->columnCount(); ++c)
        width += grdHistory->columnWidth(c);
    resize(qBound(560, width, 1000), qBound(260, 120 + 26 * int(lines.size()), 640));
}
