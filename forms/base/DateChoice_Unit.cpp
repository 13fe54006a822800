#include "forms/base/DateChoice_Unit.h"

#include "gui/Shell_Unit.h"
#include "data/ShortDate.h"

#include <QCalendarWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <memory>

TfrmDateChoice::TfrmDateChoice(QWidget *owner) : TfrmBase(owner)
{
    setObjectName(QStringLiteral("frmDateChoice"));
    setWindowTitle(QStringLiteral("日期选择"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setModal(true);
    MonthCalendar1 = new QCalendarWidget(this);
    MonthCalendar1->setObjectName(QStringLiteral("MonthCalendar1"));
    MonthCalendar1->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    MonthCalendar1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    MonthCalendar1->setGridVisible(true);

    spnYear = new QSpinBox(this);
    spnYear->setObjectName(QStringLiteral("spnYear"));
    spnYear->setRange(1900, 2100);
    spnYear->setSuffix(QStringLiteral(" 年"));
    spnYear->setAccelerated(true);
    auto *yearLabel = new QLabel(QStringLiteral("年份(&Y)："), this);
    yearLabel->setObjectName(QStringLiteral("lblYear"));
    yearLabel->setBuddy(spnYear);
    auto *yearRow = new QHBoxLayout;
    yearRow->setContentsMargins(8, 6, 8, 2);
    yearRow->addWidget(yearLabel);
    yearRow->addWidget(spnYear);
    yearRow->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(yearRow);
    layout->addWidget(MonthCalendar1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(MonthCalendar1, &QCalendarWidget::clicked, this, [this] { MonthCalendar1Click(); });
    // Enter on a day chosen with the keyboard closes the picker as a click does.
    connect(MonthCalendar1, &QCalendarWidget::activated, this, [this] { MonthCalendar1Click(); });
    connect(spnYear, &QSpinBox::valueChanged, this, &TfrmDateChoice::spnYearChange);
    // The selector follows the calendar when its own arrows or keys change the year.
    connect(MonthCalendar1, &QCalendarWidget::selectionChanged, this, [this] {
        const QSignalBlocker quiet(spnYear);
        spnYear->setValue(MonthCalendar1->selectedDate().year());
    });
}

void TfrmDateChoice::spnYearChange(int year)
{
    const QDate current = MonthCalendar1->selectedDate();
    const QDate firstOfMonth(year, current.month(), 1);
    const QDate chosen(year, current.month(), qMin(current.day(), firstOfMonth.daysInMonth()));
    MonthCalendar1->setSelectedDate(chosen);
    MonthCalendar1->setCurrentPage(chosen.year(), chosen.month());
}

void TfrmDateChoice::showEvent(QShowEvent *event)
{
    TfrmBase::showEvent(event);
    FormShow();
}

void TfrmDateChoice::FormShow()
{
    MonthCalendar1->setSelectedDate(QDate::currentDate());
    const QSignalBlocker quiet(spnYear);
    spnYear->setValue(MonthCalendar1->selectedDate().year());
    // The keys move between days at once; Tab reaches the year.
    MonthCalendar1->setFocus();
}

void TfrmDateChoice::MonthCalendar1Click()
{
    close();
}

void PickDateInto(QWidget *owner, QLineEdit *field)
{
    auto picker = std::make_unique<TfrmDateChoice>(owner);
    ExecDialog(picker.get());
    const QDate date = picker->MonthCalendar1->selectedDate();
    field->setText(dravon::formatShortDate(date));
}
