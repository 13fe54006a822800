#pragma once
// The date picker: a month calendar set to today that closes on a day click.
#include "forms/base/Base_Unit.h"

#include <QDate>

class QCalendarWidget;
class QLineEdit;

class TfrmDateChoice : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmDateChoice(QWidget *owner);

    QCalendarWidget *MonthCalendar1 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void FormShow();
    void MonthCalendar1Click();
};

// The calling pattern of every date button: show the picker modally, then
// put the chosen date as short date text into the field. The picker is
// destroyed however the call ends.
void PickDateInto(QWidget *owner, QLineEdit *field);
