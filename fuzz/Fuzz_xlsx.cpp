// libFuzzer target: .xlsx workbooks (zip, shared strings, styles, sheets).
#include "FuzzRead.h"
#include "data/import/XlsxReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        importing::XlsxReader reader(QByteArray(reinterpret_cast<const char *>(data), int(size)),
                                     QStringLiteral("fuzz.xlsx"));
        readEverything(reader);
    } catch (const importing::ImportFailure &) {
    }
    return 0;
}
