#include "forms/stats/StatsBase_Unit.h"

#include "data/Dravon.h"
#include "data/QueryStatement.h"
#include "data/stats/ScoreStatistics.h"
#include "forms/stats/StatsSettings_Unit.h"
#include "gui/Shell_Unit.h"
#include "gui/stats/WorkRunner.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <memory>

TfrmStatsBase::TfrmStatsBase(QWidget *owner) : TfrmBase(owner)
{
    btnSettings = new QPushButton(QStringLiteral("设置(&E)…"), this);
    btnSettings->setObjectName(QStringLiteral("btnSettings"));
    btnSettings->setAutoDefault(false);
    connect(btnSettings, &QPushButton::clicked, this, [this] { Guarded([this] { btnSettingsClick(); }); });
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    indicator = new WorkIndicator(this);
    runner = new WorkRunner(indicator, this);
    connect(StatsSettingsNotifier::instance(), &StatsSettingsNotifier::changed, this,
            [this] { Guarded([this] { settingsChanged(); }); });
}

void TfrmStatsBase::btnSettingsClick()
{
    std::unique_ptr<TfrmStatsSettings> dialog(new TfrmStatsSettings(this));
    frmStatsSettings = dialog.get();
    ExecDialog(dialog.get());
}

QString TfrmStatsBase::allText()
{
    return QStringLiteral("全部");
}

std::optional<QString> TfrmStatsBase::chosenNumber(const QComboBox *box)
{
    if (box->currentIndex() <= 0)
        return std::nullopt;
    return dravon::NumberOfEntry(box->currentText());
}

std::optional<QString> TfrmStatsBase::chosenText(const QComboBox *box)
{
    if (box->currentIndex() <= 0)
        return std::nullopt;
    return box->currentText();
}

QString TfrmStatsBase::shownChoice(const QComboBox *box)
{
    return box->currentIndex() <= 0 ? allText() : box->currentText();
}

QComboBox *TfrmStatsBase::makeList(const char *name, const std::function<void()> &changed)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    box->setMinimumContentsLength(6);
    connect(box, &QComboBox::activated, this, [changed] { Guarded([&] { changed(); }); });
    return box;
}

QLabel *TfrmStatsBase::makeLabel(const char *name, const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text, this);
    label->setObjectName(QString::fromLatin1(name));
    label->setBuddy(buddy);
    return label;
}

void TfrmStatsBase::fillEntries(QComboBox *box, const QString &sql, const QString &numberField,
                                const QString &nameField)
{
    const std::optional<QString> chosen = chosenNumber(box);
    const QStringList entries = dravon::NumberAndNameEntries(connection(), sql, numberField, nameField);
    const QSignalBlocker block(box);
    box->clear();
    box->addItem(allText());
    box->addItems(entries);
    int index = 0;
    for (int i = 1; chosen && i < box->count(); ++i)
        if (dravon::NumberOfEntry(box->itemText(i)) == *chosen) {
            index = i;
            break;
        }
    box->setCurrentIndex(index);
}

void TfrmStatsBase::fillClassesOfCollege(QComboBox *classes, const QComboBox *college)
{
    const std::optional<QString> chosen = chosenNumber(college);
    fillEntries(classes,
                chosen ? QStringLiteral("Select * From ClassInfo Where GradeID = %1").arg(dravon::QuotedStr(*chosen))
                       : QStringLiteral("Select * From ClassInfo"),
                QStringLiteral("ClassID"), QStringLiteral("ClaName"));
}

void TfrmStatsBase::fillCollegesAndClasses(QComboBox *colleges, QComboBox *classes)
{
    fillEntries(colleges, QStringLiteral("Select * From GradeInfo"), QStringLiteral("GradeID"),
                QStringLiteral("GrdName"));
    fillEntries(classes, QStringLiteral("Select * From ClassInfo"), QStringLiteral("ClassID"),
                QStringLiteral("ClaName"));
}

void TfrmStatsBase::readTerms(WorkRunner *runner, QComboBox *terms)
{
    auto read = std::make_shared<QStringList>();
    runner->start([read](stats::ReadConnection &c) { *read = stats::ScoreTerms(c); },
                  [this, read, terms](const QString &error) {
                      if (!error.isEmpty())
                          ReportError(error);
                      else
                          fillTexts(terms, *read);
                  });
}

void TfrmStatsBase::fillTexts(QComboBox *box, const QStringList &texts)
{
    const std::optional<QString> chosen = chosenText(box);
    const QSignalBlocker block(box);
    box->clear();
    box->addItem(allText());
    box->addItems(texts);
    const int index = chosen ? box->findText(*chosen) : 0;
    box->setCurrentIndex(qMax(0, index));
}

QHBoxLayout *TfrmStatsBase::filterRow(const QList<QWidget *> &widgets, bool withSettings)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    for (int i = 0; i < widgets.size(); ++i) {
        // A label and its list belong together; pairs stand apart.
        if (i > 0 && qobject_cast<QLabel *>(widgets[i]))
            row->addSpacing(10);
        row->addWidget(widgets[i]);
    }
    row->addStretch(1);
    if (withSettings)
        row->addWidget(btnSettings);
    return row;
}

QHBoxLayout *TfrmStatsBase::statusRow()
{
    auto *row = new QHBoxLayout;
    row->addWidget(lblStatus, 1);
    row->addWidget(indicator);
    return row;
}

QChartView *TfrmStatsBase::makeChartView(const char *name)
{
    auto *view = new QChartView(this);
    view->setObjectName(QString::fromLatin1(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(380, 200);
    view->setFrameShape(QFrame::StyledPanel);
    return view;
}

void TfrmStatsBase::setChart(QChartView *view, QChart *chart)
{
    QChart *old = view->chart();
    view->setChart(chart);
    delete old;
}

void TfrmStatsBase::FormClose()
{
    runner->cancel();
    TfrmBase::FormClose();
}
