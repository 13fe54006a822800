#include "forms/stats/StatsSettings_Unit.h"

#include "data/Error.h"
#include "data/stats/StatsSettings.h"
#include "gui/Shell_Unit.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

QPointer<TfrmStatsSettings> frmStatsSettings;

StatsSettingsNotifier *StatsSettingsNotifier::instance()
{
    static StatsSettingsNotifier notifier;
    return &notifier;
}

TfrmStatsSettings::TfrmStatsSettings(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmStatsSettings"));
    setWindowTitle(QStringLiteral("统计设置"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);

    auto mark = [this](const char *name) {
        auto *box = new QDoubleSpinBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(0, 100);
        box->setDecimals(1);
        box->setSingleStep(1);
        box->setSuffix(QStringLiteral(" 分"));
        return box;
    };
    Label1 = new QLabel(QStringLiteral("及格线："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("优秀线："), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    edtPassMark = mark("edtPassMark");
    edtExcellentMark = mark("edtExcellentMark");
    Label1->setBuddy(edtPassMark);
    Label2->setBuddy(edtExcellentMark);

    auto *gpa = new QGroupBox(QStringLiteral("绩点计算"), this);
    gpa->setObjectName(QStringLiteral("GroupBox1"));
    rbFourPoint = new QRadioButton(stats::GpaFormulaName(stats::GpaFormula::FourPoint), gpa);
    rbFourPoint->setObjectName(QStringLiteral("rbFourPoint"));
    rbLinear = new QRadioButton(stats::GpaFormulaName(stats::GpaFormula::Linear), gpa);
    rbLinear->setObjectName(QStringLiteral("rbLinear"));
    auto *gpaLayout = new QVBoxLayout(gpa);
    gpaLayout->addWidget(rbFourPoint);
    gpaLayout->addWidget(rbLinear);

    btnOK = new QPushButton(QStringLiteral("确定(&O)"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setAutoDefault(false);
    btnCancel = new QPushButton(QStringLiteral("取消(&C)"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);

    auto *marks = new QGridLayout;
    marks->addWidget(Label1, 0, 0);
    marks->addWidget(edtPassMark, 0, 1);
    marks->addWidget(Label2, 1, 0);
    marks->addWidget(edtExcellentMark, 1, 1);
    marks->setColumnStretch(2, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 12);
    layout->setSpacing(12);
    layout->addLayout(marks);
    layout->addWidget(gpa);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const stats::StatsSettings current = stats::ReadStatsSettings();
    edtPassMark->setValue(current.thresholds.pass);
    edtExcellentMark->setValue(current.thresholds.excellent);
    (current.gpa == stats::GpaFormula::Linear ? rbLinear : rbFourPoint)->setChecked(true);

    connect(btnOK, &QPushButton::clicked, this, [this] { Guarded([this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
}

void TfrmStatsSettings::btnOKClick()
{
    stats::StatsSettings s;
    s.thresholds.pass = edtPassMark->value();
    s.thresholds.excellent = edtExcellentMark->value();
    s.gpa = rbLinear->isChecked() ? stats::GpaFormula::Linear : stats::GpaFormula::FourPoint;
    const QString problem = stats::StatsSettingsProblem(s);
    if (!problem.isEmpty()) {
        ShowMessage(problem, QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
        edtPassMark->setFocus();
        return;
    }
    try {
        stats::WriteStatsSettings(s);
    } catch (const dravon::Error &e) {
        ShowMessage(e.text(), QStringLiteral("错误"), QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    accept();
    emit StatsSettingsNotifier::instance()->changed();
}

void TfrmStatsSettings::btnCancelClick()
{
    reject();
}
