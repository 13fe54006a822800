#pragma once
// The settings of the statistics windows, kept in section "Statistics" of
// ConfigDB.ini: the pass and excellence marks and the grade-point formula.
// Missing or unreadable values fall back to 60, 85 and the 4-point scale.
#include "data/stats/MarkFigures.h"

namespace stats {

struct StatsSettings
{
    Thresholds thresholds;
    GpaFormula gpa = GpaFormula::FourPoint;
};

// The stored settings; each value that is missing, not a number or outside
// 0..100 takes its default, and a pass mark above the excellence mark gives
// both defaults.
StatsSettings ReadStatsSettings();

// Why the values cannot be stored (empty when they can): both marks within
// 0..100 and the pass mark not above the excellence mark.
QString StatsSettingsProblem(const StatsSettings &settings);

// Stores the three values together: when one write fails, those already
// written get their previous values back. Throws dravon::Error with a clear
// text when the values are refused or cannot be stored.
void WriteStatsSettings(const StatsSettings &settings);

// The texts the settings file holds for the formula.
QString GpaFormulaKey(GpaFormula formula);
// The formula's name as the dialog shows it.
QString GpaFormulaName(GpaFormula formula);

}
