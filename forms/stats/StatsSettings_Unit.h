#pragma once
// 统计设置: the pass and excellence marks of the statistics and the
// grade-point formula of the rankings, kept in the settings file. Modal,
// created for each use; open statistics windows compute again after a change.
#include "forms/base/Base_Unit.h"

#include <QPointer>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QRadioButton;

class TfrmStatsSettings : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmStatsSettings(QWidget *owner);

    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QDoubleSpinBox *edtPassMark = nullptr;
    QDoubleSpinBox *edtExcellentMark = nullptr;
    QRadioButton *rbFourPoint = nullptr;
    QRadioButton *rbLinear = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    // Stores the values and closes; refused values are said and nothing is stored.
    void btnOKClick();
    void btnCancelClick();
};

extern QPointer<TfrmStatsSettings> frmStatsSettings;

// Tells the statistics windows that the settings were stored.
class StatsSettingsNotifier : public QObject
{
    Q_OBJECT
public:
    static StatsSettingsNotifier *instance();
signals:
    void changed();
};
