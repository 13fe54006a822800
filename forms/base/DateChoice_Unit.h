#pragma once
// The date picker: a month calendar set to today that closes on a day click,
// with a year selector above it for dates far from today.
#include "forms/base/Base_Unit.h"

#include <QDate>

class QCalendarWidget;
class QLineEdit;
class QSpinBox;

class TfrmDateChoice : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmDateChoice(QWidget *owner);

    QCalendarWidget *MonthCalendar1 = nullptr;
    // The year of the selected date; choosing another year keeps the month
    // and day (the last day of a shorter month).
    QSpinBox *spnYear = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void FormShow();
    void MonthCalendar1Click();

private:
    void spnYearChange(int year);
};

// The calling pattern of every date button: show the picker modally, then
// put the chosen date as short date text into the field. The picker is
// destroyed however the call ends.
void PickDateInto(QWidget *owner, QLineEdit *field);
