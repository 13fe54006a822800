#pragma once
// Reading a workbook back as another program does: openpyxl (python3) opens
// it and reports its document properties, each sheet's print setup and
// filter, and its cells with their values and wrapping.
#include <QJsonObject>
#include <QString>

namespace testsupport {

// {"title", "creator", "sheets": [{"name", "orientation", "paperSize",
//   "fitToPage", "fitToWidth", "fitToHeight", "printTitleRows", "autoFilter",
//   "rows": [[{"value", "wrap"}, ...], ...]}]}; empty when it cannot be read.
QJsonObject readWorkbook(const QString &path);

}
