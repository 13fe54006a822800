#include "forms/courses/FindSubject_Unit.h"

#include "data/Dravon.h"
#include "data/QueryStatement.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataGrid.h"
#include "gui/controls/DataSource.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QPointer<TfrmFindSubject> frmFindSubject;

TfrmFindSubject::TfrmFindSubject(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmFindSubject"));
    setWindowTitle(QStringLiteral("排课查询"));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, Panel1);
        l->setObjectName(QString::fromLatin1(name));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    Label1 = label("Label1", QStringLiteral("查询条目："));
    Label2 = label("Label2", QStringLiteral("条 件 值："));
    Label3 = label("Label3", QStringLiteral("起始时间："));
    Label4 = label("Label4", QStringLiteral("结束时间："));

    cmbxItmes = new QComboBox(Panel1);
    cmbxItmes->setObjectName(QStringLiteral("cmbxItmes"));
    cmbxItmes->setEditable(true);
    cmbxItmes->setInsertPolicy(QComboBox::NoInsert);
    cmbxItmes->addItems({QStringLiteral("科目编号"), QStringLiteral("学号"), QStringLiteral("教师编号")});
    cmbxItmes->setCurrentIndex(-1);
    cmbxItmes->setEditText(QString());
    cmbxItmes->setMinimumWidth(cmbxItmes->fontMetrics().horizontalAdvance(QStringLiteral("教师编号")) + 48);
    edtValues = new QLineEdit(Panel1);
    edtValues->setObjectName(QStringLiteral("edtValues"));
    edtValues->setMinimumWidth(150);
    btnFind = new QPushButton(QStringLiteral("查询(&F)"), Panel1);
    btnFind->setObjectName(QStringLiteral("btnFind"));
    btnFind->setAutoDefault(false);
    auto dateBox = [this](const char *name) {
        auto *box = new QDateEdit(QDate(2007, 9, 15), Panel1);
        box->setObjectName(QString::fromLatin1(name));
        box->setDisplayFormat(dravon::shortDateFormat());
        box->setCalendarPopup(true);
        box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("2007/12/31")) + 48);
        return box;
    };
    dtpBeginDate = dateBox("dtpBeginDate");
    dtpEndDate = dateBox("dtpEndDate");

    auto *search = new QGridLayout(Panel1);
    search->setContentsMargins(9, 9, 9, 9);
    search->setHorizontalSpacing(6);
    search->setVerticalSpacing(8);
    search->addWidget(Label1, 0, 0);
    search->addWidget(cmbxItmes, 0, 1);
    search->addWidget(Label2, 0, 2);
    search->addWidget(edtValues, 0, 3);
    search->addWidget(btnFind, 0, 4);
    search->addWidget(Label3, 1, 0);
    search->addWidget(dtpBeginDate, 1, 1);
    search->addWidget(Label4, 1, 2);
    search->addWidget(dtpEndDate, 1, 3);
    search->setColumnStretch(5, 1);

    DataFindPlan = new DataSource(QStringLiteral("DataFindPlan"), this);
    DBGrid1 = new DataGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setDataSource(DataFindPlan);
    DBGrid1->setColumns({{QStringLiteral("StuName"), QStringLiteral("学生姓名")},
                         {QStringLiteral("SubName"), QStringLiteral("科目")},
                         {QStringLiteral("TchName"), QStringLiteral("任课老师")},
                         {QStringLiteral("Term"), QStringLiteral("学期")},
                         {QStringLiteral("Remark"), QStringLiteral("备注")},
                         {QStringLiteral("BeginTime"), QStringLiteral("课程起始日期")},
                         {QStringLiteral("EndTime"), QStringLiteral("课程结束日期")}});
    DBGrid1->resizeColumnsToContents();
    for (int c = 0; c < 7; ++c)
        DBGrid1->setColumnWidth(c, qMax(80, DBGrid1->columnWidth(c) + 16));
    DBGrid1->setMinimumSize(700, 260);

    QWidget::setTabOrder(cmbxItmes, edtValues);
    QWidget::setTabOrder(edtValues, btnFind);
    QWidget::setTabOrder(btnFind, dtpBeginDate);
    QWidget::setTabOrder(dtpBeginDate, dtpEndDate);
    QWidget::setTabOrder(dtpEndDate, DBGrid1);

    connect(btnFind, &QPushButton::clicked, this, [this] { Guarded([this] { btnFindClick(); }); });

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);
    outer->addWidget(Panel1);
    outer->addWidget(DBGrid1, 1);
}

void TfrmFindSubject::btnFindClick()
{
    const QString sql = dravon::CourseQueryStatement(cmbxItmes->currentText(), edtValues->text(),
                                                     dtpBeginDate->date(), dtpEndDate->date());
    // Opened first, bound after: a refused statement leaves the previous result.
    auto result = SQLDataSet(sql, connection());
    DataFindPlan->setDataSet(std::move(result));
}

void TfrmFindSubject::FormClose()
{
    TfrmBase::FormClose();
    frmFindSubject = nullptr;
}
