#pragma once
// The base of the statistics windows: filter lists at the top ("全部" first,
// then number-and-name entries), a status line with the work indication,
// the settings button, the worker that computes, and charts beside grids.
#include "forms/base/Base_Unit.h"

#include <QPointer>
#include <functional>
#include <optional>

class QChart;
class QChartView;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class WorkIndicator;
class WorkRunner;

class TfrmStatsBase : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmStatsBase(QWidget *owner);

    QPushButton *btnSettings = nullptr;  // 设置(&E)…
    QLabel *lblStatus = nullptr;
    WorkIndicator *indicator = nullptr;
    WorkRunner *runner = nullptr;

    // The settings dialog; after a change every statistics window computes again.
    void btnSettingsClick();

    // The entry "全部" of every filter list.
    static QString allText();
    // The number of the chosen entry; no value for "全部".
    static std::optional<QString> chosenNumber(const QComboBox *box);
    // The chosen text; no value for "全部".
    static std::optional<QString> chosenText(const QComboBox *box);
    // The chosen entry as a caption shows it ("全部", "2007001.一班").
    static QString shownChoice(const QComboBox *box);

protected:
    // A closed list named name; choosing an entry runs changed (guarded).
    QComboBox *makeList(const char *name, const std::function<void()> &changed);
    QLabel *makeLabel(const char *name, const QString &text, QWidget *buddy);
    // Fills a list with "全部" and the "number.name" entries of a statement;
    // the chosen number stays chosen when it is still listed.
    void fillEntries(QComboBox *box, const QString &sql, const QString &numberField, const QString &nameField);
    // The classes of the college chosen in the college box (all classes when it shows 全部).
    void fillClassesOfCollege(QComboBox *classes, const QComboBox *college);
    // Every college and every class in their lists.
    void fillCollegesAndClasses(QComboBox *colleges, QComboBox *classes);
    // Reads the terms of the score rows on the runner and lists them in the box.
    void readTerms(WorkRunner *runner, QComboBox *terms);
    // Fills a list with "全部" and texts, keeping the chosen one.
    static void fillTexts(QComboBox *box, const QStringList &texts);
    // A row of labels and lists, the settings button last.
    QHBoxLayout *filterRow(const QList<QWidget *> &widgets, bool withSettings);
    QHBoxLayout *statusRow();
    // A chart view; setChart replaces its chart and frees the old one.
    QChartView *makeChartView(const char *name);
    static void setChart(QChartView *view, QChart *chart);

    // The settings were stored: compute again.
    virtual void settingsChanged() {}

    void FormClose() override;
};
