#include "data/stats/StatsSettings.h"

#include "data/Error.h"
#include "data/ProgramSettings.h"
#include "data/SettingsClient.h"

#include <QStringList>
#include <cmath>
#include <exception>

namespace stats {

namespace {

const QString section = QStringLiteral("Statistics");
const QString passKey = QStringLiteral("PassMark");
const QString excellentKey = QStringLiteral("ExcellentMark");
const QString gpaKey = QStringLiteral("GpaFormula");

std::optional<double> markFrom(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 100)
        return std::nullopt;
    return value;
}

QString markText(double value)
{
    return QString::number(value, 'g', 10);
}

}

QString GpaFormulaKey(GpaFormula formula)
{
    return formula == GpaFormula::Linear ? QStringLiteral("Linear") : QStringLiteral("FourPoint");
}

QString GpaFormulaName(GpaFormula formula)
{
    return formula == GpaFormula::Linear ? QStringLiteral("线性绩点：(分数 − 50) / 10，最低为 0")
                                         : QStringLiteral("四分制：90–100 为 4.0，80–89 为 3.0，70–79 为 2.0，60–69 为 1.0，60 以下为 0");
}

StatsSettings ReadStatsSettings()
{
    StatsSettings s;
    const QString file = GetConfigFileName();
    const std::optional<double> pass = markFrom(settings::readIni(file, section, passKey));
    const std::optional<double> excellent = markFrom(settings::readIni(file, section, excellentKey));
    if (pass)
        s.thresholds.pass = *pass;
    if (excellent)
        s.thresholds.excellent = *excellent;
    if (s.thresholds.pass > s.thresholds.excellent)
        s.thresholds = Thresholds();
    if (settings::readIni(file, section, gpaKey).trimmed().compare(GpaFormulaKey(GpaFormula::Linear),
                                                                  Qt::CaseInsensitive) == 0)
        s.gpa = GpaFormula::Linear;
    return s;
}

QString StatsSettingsProblem(const StatsSettings &s)
{
    for (const auto &[value, name] : {std::pair{s.thresholds.pass, QStringLiteral("及格线")},
                                      std::pair{s.thresholds.excellent, QStringLiteral("优秀线")}})
        if (!std::isfinite(value) || value < 0 || value > 100)
            return QStringLiteral("%1必须在 0 到 100 之间。").arg(name);
    if (s.thresholds.pass > s.thresholds.excellent)
        return QStringLiteral("及格线不能高于优秀线。");
    return {};
}

void WriteStatsSettings(const StatsSettings &s)
{
    const QString problem = StatsSettingsProblem(s);
    if (!problem.isEmpty())
        throw dravon::Error(problem);
    if (!settings::entryPointAvailable("WriteIni"))
        throw dravon::Error(QStringLiteral("找不到配置程序库,设置没有保存!"));
    const QString file = GetConfigFileName();
    const QStringList keys = {passKey, excellentKey, gpaKey};
    const QStringList values = {markText(s.thresholds.pass), markText(s.thresholds.excellent), GpaFormulaKey(s.gpa)};
    QStringList previous;
    for (const QString &key : keys)
        previous << settings::readIni(file, section, key);
    int written = 0;
    try {
        for (int i = 0; i < keys.size(); ++i) {
            settings::writeIni(file, section, keys[i], values[i]);
            ++written;
        }
    } catch (const std::exception &e) {
        for (int i = 0; i < written; ++i) {
            try {
                settings::writeIni(file, section, keys[i], previous[i]);
            } catch (...) {
            }
        }
        throw dravon::Error(QStringLiteral("设置没有保存:%1").arg(QString::fromUtf8(e.what())));
    }
}

}
