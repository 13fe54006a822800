#include "forms/base/DateChoice_Unit.h"

#include "gui/Shell_Unit.h"
#include "data/ShortDate.h"

#include <QCalendarWidget>
#include <QLineEdit>
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
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MonthCalendar1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(MonthCalendar1, &QCalendarWidget::clicked, this, [this] { MonthCalendar1Click(); });
}

void TfrmDateChoice::showEvent(QShowEvent *event)
{
    TfrmBase::showEvent(event);
    FormShow();
}

void TfrmDateChoice::FormShow()
{
    MonthCalendar1->setSelectedDate(QDate::currentDate());
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
