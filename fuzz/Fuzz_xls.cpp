// libFuzzer target: .xls workbooks through FreeXL (in process, as the
// program's helper reads them), which reads files by name: each input is
// written to a file in memory (/dev/shm) first.
#include "FuzzRead.h"
#include "data/import/XlsBook.h"

#include <QFile>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QStringLiteral("/dev/shm/veltrana-fuzz-%1.xls").arg(getpid());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    try {
        importing::XlsBook reader(path, QStringLiteral("fuzz.xls"));
        readEverything(reader);
    } catch (const importing::ImportFailure &) {
    }
    return 0;
}
