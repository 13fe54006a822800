#include "support/XlsxProbe.h"

#include "support/PdfProbe.h"

#include <QJsonDocument>

namespace testsupport {

QJsonObject readWorkbook(const QString &path)
{
    static const char *script = R"PY(
import json, sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
sheets = []
for sheet in book.worksheets:
    setup = sheet.sheet_properties.pageSetUpPr
    sheets.append({
        "name": sheet.title,
        "orientation": sheet.page_setup.orientation,
        "paperSize": sheet.page_setup.paperSize,
        "fitToPage": bool(setup and setup.fitToPage),
        # Left out of the file, they are 1 (the file format's default).
        "fitToWidth": 1 if sheet.page_setup.fitToWidth is None else int(sheet.page_setup.fitToWidth),
        "fitToHeight": 1 if sheet.page_setup.fitToHeight is None else int(sheet.page_setup.fitToHeight),
        "printTitleRows": sheet.print_title_rows,
        "autoFilter": sheet.auto_filter.ref,
        "rows": [[{"value": cell.value, "wrap": bool(cell.alignment.wrap_text)} for cell in row]
                 for row in sheet.iter_rows()],
    })
print(json.dumps({"title": book.properties.title, "creator": book.properties.creator, "sheets": sheets},
                 ensure_ascii=False, default=str))
)PY";
    // Debian's own interpreter, which python3-openpyxl serves.
    const QByteArray output =
        runProgram(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), path});
    return QJsonDocument::fromJson(output).object();
}

}
