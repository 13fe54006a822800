#include "data/SettingsClient.h"

#include "data/StagingFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <stdexcept>

namespace settings {

namespace {

using ReadIniFn = void (*)(QString &, const QString &, const QString &, const QString &);
using WriteIniFn = bool (*)(const QString &, const QString &, const QString &, const QString &);

QString &dirOverride()
{
    static QString dir;
    return dir;
}

// Unloads the library however the call ends.
class LoadedLibrary
{
public:
    LoadedLibrary() : m_path(libraryPath()), m_library(m_path) {}
    ~LoadedLibrary() { m_library.unload(); }
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    // The entry point `name`, or nullptr when the library or symbol is missing.
    QFunctionPointer resolve(const char *name)
    {
        // Only the file at the full path counts; QLibrary would otherwise also
        // try variants of the name.
        if (!QFileInfo(m_path).isFile())
            return nullptr;
        if (!m_library.load())
            return nullptr;
        return m_library.resolve(name);
    }

private:
    QString m_path;
    QLibrary m_library;
};

} // namespace

QString executableDir()
{
    const QString &dir = dirOverride();
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

void setExecutableDirForTesting(const QString &dir)
{
    // Stored absolute so the library is never looked up relative to the
    // current directory.
    dirOverride() = dir.isEmpty() ? QString() : QDir(dir).absolutePath();
}

QString libraryPath()
{
    return executableDir() + QStringLiteral("/libQuelmi.so");
}

bool entryPointAvailable(const char *name)
{
    LoadedLibrary library;
    return library.resolve(name) != nullptr;
}

QString readIni(const QString &iniFile, const QString &section, const QString &key)
{
    LoadedLibrary library;
    const auto read = reinterpret_cast<ReadIniFn>(library.resolve("ReadIni"));
    if (!read)
        return QString();
    QString value;
    read(value, iniFile, section, key);
    return value;
}

void writeIni(const QString &iniFile, const QString &section, const QString &key,
              const QString &value)
{
    LoadedLibrary library;
    const auto write = reinterpret_cast<WriteIniFn>(library.resolve("WriteIni"));
    if (!write)
        return;
    const bool written = write(iniFile, section, key, value);
    // What an earlier write that was killed left beside the file goes now.
    const QFileInfo info(iniFile);
    staging::removeLeftovers(QFileInfo(info.exists() ? info.canonicalFilePath() : info.absoluteFilePath()).absolutePath());
    if (!written) {
        const QString message = QStringLiteral("无法写入配置文件: ") + QDir::toNativeSeparators(iniFile);
        throw std::runtime_error(message.toUtf8().toStdString());
    }
}

} // namespace settings
