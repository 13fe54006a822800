#include "forms/system/RecycleBin_Unit.h"

#include "data/Dravon.h"
#include "data/changes/History.h"
#include "data/changes/LoggedTables.h"
#include "data/changes/Reversal.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QPointer<TfrmRecycleBin> frmRecycleBin;

namespace {

// The columns of each table as its window titles them.
QList<GridColumn> tableColumns(const QString &table)
{
    static const QHash<QString, QList<GridColumn>> columns = {
        {QStringLiteral("TeacherInfo"),
         {{QStringLiteral("TeacherID"), QStringLiteral("编号")}, {QStringLiteral("TchName"), QStringLiteral("姓名")},
          {QStringLiteral("TchSex"), QStringLiteral("性别")}, {QStringLiteral("TchAge"), QStringLiteral("年龄")},
          {QStringLiteral("Duty"), QStringLiteral("职务")}, {QStringLiteral("TchContact"), QStringLiteral("联系方式")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("StudentInfo"),
         {{QStringLiteral("StudentID"), QStringLiteral("学号")}, {QStringLiteral("StuName"), QStringLiteral("姓名")},
          {QStringLiteral("StuSex"), QStringLiteral("性别")}, {QStringLiteral("StuAge"), QStringLiteral("年龄")},
          {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
          {QStringLiteral("InSchoolDate"), QStringLiteral("入学时间")},
          {QStringLiteral("OutSchoolDate"), QStringLiteral("毕业时间")},
          {QStringLiteral("StuContact"), QStringLiteral("联系方式")}, {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("GradeInfo"),
         {{QStringLiteral("GradeID"), QStringLiteral("编号")}, {QStringLiteral("GrdName"), QStringLiteral("名称")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("ClassInfo"),
         {{QStringLiteral("ClassID"), QStringLiteral("编号")}, {QStringLiteral("GradeID"), QStringLiteral("所属院系编号")},
          {QStringLiteral("ClaName"), QStringLiteral("班级名称")}, {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("SubjectInfo"),
         {{QStringLiteral("SubjectID"), QStringLiteral("编号")}, {QStringLiteral("SubName"), QStringLiteral("科目")},
          {QStringLiteral("CreditHour"), QStringLiteral("学分")}, {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("DormInfo"),
         {{QStringLiteral("DormID"), QStringLiteral("编号")}, {QStringLiteral("DormName"), QStringLiteral("名称")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("User"),
         {{QStringLiteral("UserID"), QStringLiteral("登录编号")}, {QStringLiteral("UserName"), QStringLiteral("用户名")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("Score"),
         {{QStringLiteral("StudentID"), QStringLiteral("学号")},
          {QStringLiteral("ScoreDateTime"), QStringLiteral("时间")}, {QStringLiteral("Term"), QStringLiteral("学期")},
          {QStringLiteral("SubjectID"), QStringLiteral("科目")}, {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
          {QStringLiteral("Score"), QStringLiteral("分数")}, {QStringLiteral("CreditHour"), QStringLiteral("学分")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("Practice"),
         {{QStringLiteral("StudentID"), QStringLiteral("学号")}, {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
          {QStringLiteral("PracticeDateTime"), QStringLiteral("时间")},
          {QStringLiteral("PracticeName"), QStringLiteral("实践内容")},
          {QStringLiteral("PracticeResult"), QStringLiteral("实践结果")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("Moral"),
         {{QStringLiteral("StudentID"), QStringLiteral("学号")}, {QStringLiteral("ClassID"), QStringLiteral("班级编号")},
          {QStringLiteral("MoralID"), QStringLiteral("品德条目编号")},
          {QStringLiteral("MoralResult"), QStringLiteral("品德成绩")}, {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("Price"),
         {{QStringLiteral("ClassID"), QStringLiteral("班级编号")}, {QStringLiteral("PriceName"), QStringLiteral("费用名称")},
          {QStringLiteral("StudentID"), QStringLiteral("学号")}, {QStringLiteral("Price"), QStringLiteral("费用金额")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("Dorm"),
         {{QStringLiteral("ClassID"), QStringLiteral("班级")}, {QStringLiteral("StudentID"), QStringLiteral("学号")},
          {QStringLiteral("StuSex"), QStringLiteral("性别")}, {QStringLiteral("DormID"), QStringLiteral("宿舍编号")},
          {QStringLiteral("Remark"), QStringLiteral("备注")}}},
        {QStringLiteral("Course"),
         {{QStringLiteral("StudentID"), QStringLiteral("学生编号")},
          {QStringLiteral("SubjectID"), QStringLiteral("科目编号")},
          {QStringLiteral("TeacherID"), QStringLiteral("教师编号")}, {QStringLiteral("Term"), QStringLiteral("学期")},
          {QStringLiteral("BeginTime"), QStringLiteral("课程起始时间")},
          {QStringLiteral("EndTime"), QStringLiteral("课程结束日期")}, {QStringLiteral("Remark"), QStringLiteral("备注")}}},
    };
    QList<GridColumn> shown = {{QStringLiteral("DeletedAt"), QStringLiteral("删除时间")},
                               {QStringLiteral("UserID"), QStringLiteral("用户")},
                               {QStringLiteral("Action"), QStringLiteral("操作")}};
    // A record table's rows have no number of their own but their row key.
    const dravon::LoggedTable *t = dravon::loggedTable(table);
    if (t && t->recordTable())
        shown << GridColumn{QStringLiteral("RowKey"), QStringLiteral("记录号")};
    return shown + columns.value(table);
}

}

TfrmRecycleBin::TfrmRecycleBin(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmRecycleBin"));
    setWindowTitle(QStringLiteral("回收站"));

    lblTable = new QLabel(QStringLiteral("数据表:"), this);
    lblTable->setObjectName(QStringLiteral("lblTable"));
    cmbxTable = new QComboBox(this);
    cmbxTable->setObjectName(QStringLiteral("cmbxTable"));
    for (const dravon::LoggedTable &t : dravon::loggedTables())
        cmbxTable->addItem(t.caption, t.name);
    lblTable->setBuddy(cmbxTable);

    DataRecycleBin = new DataSource(QStringLiteral("DataRecycleBin"), this);
    DBGrid1 = new DataGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setDataSource(DataRecycleBin);
    DBGrid1->setMultiSelect(true);
    // Wide enough for the widest table's columns.
    DBGrid1->setMinimumSize(1000, 320);

    btnRestore = new QPushButton(QStringLiteral("还原(&R)"), this);
    btnRestore->setObjectName(QStringLiteral("btnRestore"));
    lblBefore = new QLabel(QStringLiteral("清空此日期以前删除的记录:"), this);
    lblBefore->setObjectName(QStringLiteral("lblBefore"));
    dtpBefore = new QDateEdit(QDate::currentDate().addDays(-30), this);
    dtpBefore->setObjectName(QStringLiteral("dtpBefore"));
    dtpBefore->setCalendarPopup(true);
    dtpBefore->setDisplayFormat(dravon::shortDateFormat());
    lblBefore->setBuddy(dtpBefore);
    btnPurge = new QPushButton(QStringLiteral("清空(&E)"), this);
    btnPurge->setObjectName(QStringLiteral("btnPurge"));
    for (QPushButton *b : {btnRestore, btnPurge})
        b->setAutoDefault(false);

    auto *top = new QHBoxLayout;
    top->addWidget(lblTable);
    top->addWidget(cmbxTable);
    top->addStretch();
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(btnRestore);
    bottom->addStretch();
    bottom->addWidget(lblBefore);
    bottom->addWidget(dtpBefore);
    bottom->addWidget(btnPurge);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 9, 9, 9);
    layout->addLayout(top);
    layout->addWidget(DBGrid1, 1);
    layout->addLayout(bottom);
    setTabOrder(cmbxTable, DBGrid1);
    setTabOrder(DBGrid1, btnRestore);
    setTabOrder(btnRestore, dtpBefore);
    setTabOrder(dtpBefore, btnPurge);

    connect(cmbxTable, &QComboBox::activated, this, [this] { Guarded([this] { cmbxTableChange(); }); });
    connect(btnRestore, &QPushButton::clicked, this, [this] { Guarded([this] { btnRestoreClick(); }); });
    connect(btnPurge, &QPushButton::clicked, this, [this] { Guarded([this] { btnPurgeClick(); }); });
}

void TfrmRecycleBin::FormCreate()
{
    // The table of the latest delete first.
    const QString latest = dravon::latestDeletedTable(connection());
    const int at = cmbxTable->findData(latest.isEmpty() ? QStringLiteral("Score") : latest);
    cmbxTable->setCurrentIndex(qMax(0, at));
    cmbxTableChange();
}

QString TfrmRecycleBin::currentTable() const
{
    return cmbxTable->currentData().toString();
}

void TfrmRecycleBin::cmbxTableChange()
{
    DBGrid1->setColumns(tableColumns(currentTable()));
    // Read before the rows are opened: on a server the rows' set reads on
    // after the paint, and a statement here would wait for that read.
    const QVector<dravon::Field> fields = dravon::tableFields(connection(), currentTable());
    auto rows = SQLDataSet(dravon::recycleBinSql(currentTable(), connection().engine()), connection());
    // The kept values come out of the log as they were stored: dates show as dates.
    for (const dravon::Field &f : fields)
        if (rows->fieldIndex(f.name) >= 0)
            rows->setFieldType(f.name, f.type);
    DataRecycleBin->setDataSet(std::move(rows));
    DBGrid1->horizontalHeader()->setResizeContentsPrecision(40);
    DBGrid1->resizeColumnsToContents();
    // The last column takes the room that is left.
    for (int c = 0; c + 1 < DBGrid1->columns().size(); ++c)
        DBGrid1->setColumnWidth(c, qBound(64, DBGrid1->columnWidth(c) + 12, 220));
    if (!DBGrid1->columns().isEmpty())
        DBGrid1->setColumnWidth(int(DBGrid1->columns().size()) - 1, 64);
}

void TfrmRecycleBin::reloadDataSets()
{
    const int row = DataRecycleBin->dataSet() ? DataRecycleBin->dataSet()->recNo() : 0;
    cmbxTableChange();
    dravon::RecordSet *rs = DataRecycleBin->dataSet();
    if (rs && row > 0 && rs->recordCount() > 0)
        rs->moveTo(qMin(row, rs->recordCount() - 1));
}

void TfrmRecycleBin::btnRestoreClick()
{
    dravon::RecordSet *rs = DataRecycleBin->dataSet();
    if (!rs || rs->isEmpty())
        return;
    QList<qint64> deletes;
    const int change = rs->fieldIndex(QStringLiteral("ChangeID"));
    for (int row : DBGrid1->rowsToDelete())
        deletes << rs->text(row, change).toLongLong();
    const QStringList missing = dravon::missingReferences(connection(), deletes);
    if (!missing.isEmpty()) {
        QStringList shown = missing.mid(0, 10);
        if (missing.size() > 10)
            shown << QStringLiteral("……共 %1 处").arg(missing.size());
        if (ShowMessage(QStringLiteral("所选记录引用的以下数据已不存在:\n%1\n\n仍要还原吗?").arg(shown.join(QLatin1Char('\n'))),
                        QStringLiteral("提示"), QMessageBox::Question, QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
            return;
    }
    try {
        dravon::restoreDeleted(connection(), deletes, objectName());
    } catch (const dravon::ChangeRefused &refused) {
        ShowMessage(refused.text(), QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    reloadDataSets();
    ShowMessage(QStringLiteral("已还原 %1。").arg(dravon::recordsText(currentTable(), deletes.size())),
                QStringLiteral("提示"), QMessageBox::Information, QMessageBox::Ok);
}

void TfrmRecycleBin::btnPurgeClick()
{
    const QDate before = dtpBefore->date();
    const QString shown = dravon::formatShortDate(before);
    const qint64 count = dravon::countDeletedBefore(connection(), before);
    if (count == 0) {
        ShowMessage(QStringLiteral("回收站中没有 %1 以前删除的记录。").arg(shown), QStringLiteral("提示"),
                    QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    if (!ConfirmDestructive(QStringLiteral("确定要清空回收站中所有数据表 %1 以前删除的 %2 条记录吗?\n清空后这些记录不能再还原。")
                                .arg(shown)
                                .arg(count),
                            QStringLiteral("提示"), QMessageBox::Question))
        return;
    const qint64 purged = dravon::purgeDeleted(connection(), before, objectName());
    reloadDataSets();
    ShowMessage(QStringLiteral("已清空 %1 条记录。").arg(purged), QStringLiteral("提示"), QMessageBox::Information,
                QMessageBox::Ok);
}

void TfrmRecycleBin::FormClose()
{
    TfrmBase::FormClose();
    frmRecycleBin = nullptr;
}
