#include "forms/students/RecordPages_Unit.h"

#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

TfrmRecordPages::TfrmRecordPages(QWidget *owner, const RecordPagesDeclaration &declaration) : TfrmBase(owner)
{
    setObjectName(declaration.objectName);
    setWindowTitle(declaration.caption);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet1, declaration.editPageCaption);
    PageControl1->addTab(TabSheet2, declaration.findPageCaption);
    PageControl1->setCurrentIndex(0);

    frame = new RecordFrame(this, declaration.mainSource, TabSheet1);
    DBGrid1 = frame->grid;
    DBGrid1->setColumns(declaration.columns);
    DBGrid1->setMultiSelect(true);
    btnAdd = frame->btnAdd;
    btnModify = frame->btnModify;
    btnDel = frame->btnDel;
    btnSave = frame->btnSave;
    btnCancel = frame->btnCancel;
    auto *editLayout = new QVBoxLayout(TabSheet1);
    editLayout->setContentsMargins(6, 6, 6, 6);
    editLayout->addWidget(frame);

    findPage = new FindPage(this, declaration.resultSource, declaration.queryItems, declaration.resultColumns,
                            TabSheet2);
    cmbxItems = findPage->cmbxItems;
    cmbxCondition = findPage->cmbxCondition;
    cmbxValues = findPage->cmbxValues;
    btnFind = findPage->btnFind;
    DBGrid2 = findPage->DBGrid2;
    auto *findLayout = new QVBoxLayout(TabSheet2);
    findLayout->setContentsMargins(0, 0, 0, 0);
    findLayout->addWidget(findPage);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addWidget(PageControl1);
}

DataSource *TfrmRecordPages::listSource(const QString &name)
{
    return new DataSource(name, this);
}

void TfrmRecordPages::fitGrids()
{
    frame->fitGridColumns();
    // The result grid shows the same columns in the same order.
    QList<int> widths;
    for (int c = 0; c < DBGrid1->columns().size(); ++c)
        widths << DBGrid1->columnWidth(c);
    findPage->setColumnWidths(widths);
}
