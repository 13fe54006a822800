#include "forms/system/KeptDatabases_Unit.h"

#include "data/server/ServerBackup.h"
#include "gui/Shell_Unit.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TfrmKeptDatabases::TfrmKeptDatabases(const dravon::pg::ServerAddress &address, QWidget *parent)
    : QDialog(parent), m_address(address)
{
    setObjectName(QStringLiteral("frmKeptDatabases"));
    setWindowTitle(QStringLiteral("还原时保存的旧数据库"));
    lblNote = new QLabel(this);
    lblNote->setObjectName(QStringLiteral("lblNote"));
    lblNote->setWordWrap(true);
    lstKept = new QTableWidget(0, 3, this);
    lstKept->setObjectName(QStringLiteral("lstKept"));
    lstKept->setHorizontalHeaderLabels({QStringLiteral("数据库"), QStringLiteral("保存时间"), QStringLiteral("大小")});
    lstKept->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstKept->setSelectionMode(QAbstractItemView::SingleSelection);
    lstKept->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstKept->verticalHeader()->hide();
    lstKept->horizontalHeader()->setStretchLastSection(true);
    lstKept->setMinimumSize(520, 200);
    btnDrop = new QPushButton(QStringLiteral("删除(&D)"), this);
    btnDrop->setObjectName(QStringLiteral("btnDrop"));
    btnClose = new QPushButton(QStringLiteral("关闭"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    for (QPushButton *b : {btnDrop, btnClose})
        b->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnDrop);
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblNote);
    layout->addWidget(lstKept, 1);
    layout->addLayout(buttons);

    connect(btnDrop, &QPushButton::clicked, this, [this] { Guarded([this] { btnDropClick(); }); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(lstKept, &QTableWidget::itemSelectionChanged, this,
            [this] { btnDrop->setEnabled(!lstKept->selectedItems().isEmpty()); });
    reload();
}

void TfrmKeptDatabases::reload()
{
    const QList<dravon::pg::KeptDatabase> kept = dravon::pg::keptDatabases(m_address);
    lstKept->setRowCount(0);
    const QLocale locale;
    for (const dravon::pg::KeptDatabase &k : kept) {
        const int row = lstKept->rowCount();
        lstKept->insertRow(row);
        lstKept->setItem(row, 0, new QTableWidgetItem(k.name));
        lstKept->setItem(row, 1, new QTableWidgetItem(k.keptAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        auto *size = new QTableWidgetItem(locale.formattedDataSize(k.bytes, 1, QLocale::DataSizeTraditionalFormat));
        size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        lstKept->setItem(row, 2, size);
    }
    lstKept->resizeColumnsToContents();
    lblNote->setText(kept.isEmpty()
                         ? QStringLiteral("没有还原时保存的 %1 的旧数据库。").arg(m_address.database)
                         : QStringLiteral("每次还原都把原来的数据库 %1 保存为旧数据库(共 %2 个)。"
                                          "不再需要的可以删除,删除后不能恢复。")
                               .arg(m_address.database)
                               .arg(kept.size()));
    if (!kept.isEmpty())
        lstKept->selectRow(0);
    btnDrop->setEnabled(!lstKept->selectedItems().isEmpty());
}

void TfrmKeptDatabases::btnDropClick()
{
    const QList<QTableWidgetItem *> selected = lstKept->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = selected.first()->row();
    const QString name = lstKept->item(row, 0)->text();
    if (!ConfirmDestructive(QStringLiteral("确定要删除旧数据库 %1 (保存于 %2)?删除后不能恢复。")
                                .arg(name, lstKept->item(row, 1)->text()),
                            QStringLiteral("提示")))
        return;
    try {
        dravon::pg::dropKeptDatabase(m_address, name);
    } catch (...) {
        // The list shows what the server holds now, whatever happened.
        reload();
        throw;
    }
    reload();
}
