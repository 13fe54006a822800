#include "forms/students/MoralSet_Unit.h"

#include "gui/Shell_Unit.h"
#include "gui/controls/PlusMinusBranches.h"

#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <functional>

QPointer<TfrmMoralSet> frmMoralSet;

namespace {

// The conduct items: categories and their items, each "number.name". An item
// number is its category's number followed by a three-digit running number.
const QList<QPair<QString, QStringList>> &conductItems()
{
    static const QList<QPair<QString, QStringList>> items = {
        {QStringLiteral("1.基本规章"),
         {QStringLiteral("1001.关心国家大事"), QStringLiteral("1002.热爱集体、关心集体"), QStringLiteral("1003.尊老爱幼")}},
        {QStringLiteral("2.道德品质"), {QStringLiteral("2001.不打架不斗殴"), QStringLiteral("2002.尊重老师、团结同学")}},
        {QStringLiteral("3.纪律规范"), {QStringLiteral("3001.遵守学校纪律"), QStringLiteral("3002.积极参加劳动")}},
    };
    return items;
}

// Calls a handler on every double-click in a tree, on a node or on its empty
// area. A press on the empty area leaves the selection as it is (the tree
// would clear it), so the first press of a double-click there does not take
// away the node the double-click acts on. On a node the tree handles the
// clicks itself after the handler (a category opens or closes).
class DoubleClickWatch : public QObject
{
public:
    DoubleClickWatch(QTreeWidget *tree, std::function<void()> handler)
        : QObject(tree), m_tree(tree), m_handler(std::move(handler))
    {
        tree->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
            return false;
        if (type == QEvent::MouseButtonDblClick)
            Guarded([this] { m_handler(); });
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        return !m_tree->indexAt(at).isValid();
    }

private:
    QTreeWidget *m_tree;
    std::function<void()> m_handler;
};

}

TfrmMoralSet::TfrmMoralSet(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmMoralSet"));
    setWindowTitle(QStringLiteral("思想品德管理"));

    GroupBox1 = new QGroupBox(QStringLiteral("思想品德内容"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    trvwMoralName = new QTreeWidget(GroupBox1);
    trvwMoralName->setObjectName(QStringLiteral("trvwMoralName"));
    trvwMoralName->setHeaderHidden(true);
    trvwMoralName->setColumnCount(1);
    trvwMoralName->setRootIsDecorated(true);
    trvwMoralName->setItemsExpandable(true);
    trvwMoralName->setExpandsOnDoubleClick(true);
    trvwMoralName->setEditTriggers(QAbstractItemView::NoEditTriggers);
    trvwMoralName->setSelectionMode(QAbstractItemView::SingleSelection);
    trvwMoralName->setIconSize(QSize(0, 0));
    for (const auto &[category, items] : conductItems()) {
        auto *node = new QTreeWidgetItem(trvwMoralName, {category});
        node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        for (const QString &item : items)
            (new QTreeWidgetItem(node, {item}))->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    trvwMoralName->collapseAll();
    trvwMoralName->clearSelection();
    trvwMoralName->setCurrentItem(nullptr);
    // Room for the three categories and one opened category's items.
    trvwMoralName->setFixedHeight(trvwMoralName->fontMetrics().height() * 7 + 16);
    // Any double-click in the tree, on a node or on its empty area, acts on
    // the node selected at that moment; the tree then handles the click
    // itself (a category opens or closes).
    new DoubleClickWatch(trvwMoralName, [this] { trvwMoralNameDblClick(); });
    ShowPlusMinusExpanders(trvwMoralName);
    auto *treeLayout = new QVBoxLayout(GroupBox1);
    treeLayout->setContentsMargins(6, 4, 6, 6);
    treeLayout->addWidget(trvwMoralName);

    frame = new RecordFrame(this, QStringLiteral("DataMoral"), this);
    DataMoral = frame->mainSource();
    DataStudentID = new DataSource(QStringLiteral("DataStudentID"), this);
    DataClassID = new DataSource(QStringLiteral("DataClassID"), this);
    DBGrid1 = frame->grid;
    DBGrid1->setColumns({{QStringLiteral("StudentID"), QStringLiteral("学号")},
                         {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
                         {QStringLiteral("MoralID"), QStringLiteral("品德条目编号")},
                         {QStringLiteral("MoralResult"), QStringLiteral("品德成绩")},
                         {QStringLiteral("Remark"), QStringLiteral("备注")}});
    DBGrid1->setMultiSelect(true);
    DBGrid1->setMinimumHeight(180);
    btnAdd = frame->btnAdd;
    btnModify = frame->btnModify;
    btnDel = frame->btnDel;
    btnSave = frame->btnSave;
    btnCancel = frame->btnCancel;

    cmbxStudentID = frame->makeLookup(QStringLiteral("cmbxStudentID"), QStringLiteral("StudentID"), DataStudentID,
                                      QStringLiteral("StudentID;StuName"), 200);
    cmbxClassID = frame->makeLookup(QStringLiteral("cmbxClassID"), QStringLiteral("ClassID"), DataClassID,
                                    QStringLiteral("ClassID;ClaName"), 200);
    edtMoralID = frame->makeEdit(QStringLiteral("edtMoralID"), QStringLiteral("MoralID"));
    edtMoralResult = frame->makeEdit(QStringLiteral("edtMoralResult"), QStringLiteral("MoralResult"));
    edtRemark = frame->makeMemo(QStringLiteral("edtRemark"), QStringLiteral("Remark"), 2);

    // On screen: student, class, item number and mark in one row, the remark below.
    frame->setPanelRows({{{frame->makeLabel(QStringLiteral("Label1"), QStringLiteral("学  号：")), cmbxStudentID},
                          {frame->makeLabel(QStringLiteral("Label2"), QStringLiteral("班级编号：")), cmbxClassID},
                          {frame->makeLabel(QStringLiteral("Label5"), QStringLiteral("品德编号：")), edtMoralID},
                          {frame->makeLabel(QStringLiteral("Label3"), QStringLiteral("品德成绩：")), edtMoralResult}},
                         {{frame->makeLabel(QStringLiteral("Label4"), QStringLiteral("备  注：")), edtRemark}}});
    frame->separatePanelPairs();
    // In the tab order the item number comes last, after the buttons.
    frame->setTabOrderList({trvwMoralName, DBGrid1, cmbxStudentID, cmbxClassID, edtMoralResult, edtRemark, btnAdd,
                            btnModify, btnDel, btnSave, btnCancel, edtMoralID});

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);
    outer->addWidget(GroupBox1);
    outer->addWidget(frame, 1);
}

void TfrmMoralSet::FormCreate()
{
    frame->openInto(DataMoral, QStringLiteral("Select * From Moral"));
    frame->openInto(DataStudentID, QStringLiteral("Select * From StudentInfo"));
    frame->openInto(DataClassID, QStringLiteral("Select * From ClassInfo"));
    frame->fitGridColumns();
}

void TfrmMoralSet::trvwMoralNameDblClick()
{
    const QList<QTreeWidgetItem *> selected = trvwMoralName->selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem *node = selected.first();
    // A category: its own double-click opens or closes it; nothing more.
    if (!node->parent())
        return;
    const QString text = node->text(0);
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    // Only the box's text changes: in browse state the number is only shown,
    // after Add or Modify it is stored with the row.
    edtMoralID->setText(dot < 0 ? text : text.left(dot));
}

void TfrmMoralSet::FormClose()
{
    TfrmBase::FormClose();
    frmMoralSet = nullptr;
}
