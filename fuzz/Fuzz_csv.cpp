// libFuzzer target: CSV and text files (encoding, delimiter, quotes).
#include "FuzzRead.h"
#include "data/import/CsvReader.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(reinterpret_cast<const char *>(data), int(size));
    try {
        importing::CsvReader reader(std::move(buffer), QStringLiteral("fuzz.csv"), importing::FileKind::Csv);
        readEverything(reader);
    } catch (const importing::ImportFailure &) {
    }
    return 0;
}
