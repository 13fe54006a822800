#pragma once

// The program's access to its ini settings. Every call loads the settings
// library from the executable's folder, uses it and unloads it again, so a
// replaced library is picked up without restarting the program.

#include <QString>

namespace settings {

// Folder of the running executable, or the folder a test has set.
QString executableDir();

// Points the program at another folder (a test's own ini file and library).
// Empty text restores the executable's folder.
void setExecutableDirForTesting(const QString &dir);

// Full path of the settings library: executableDir() + "/libQuelmi.so".
QString libraryPath();

// True when the settings library can be loaded and offers the entry point
// `name` ("ReadIni" or "WriteIni"); the library is unloaded again.
bool entryPointAvailable(const char *name);

// The value of `key` in `section`, or empty text when the file, section or key
// is missing, or the library or its entry point cannot be found.
QString readIni(const QString &iniFile, const QString &section, const QString &key);

// Stores `value` under `key` in `section`. Without a usable library nothing is
// written. Throws std::runtime_error when the library reports a failed write.
void writeIni(const QString &iniFile, const QString &section, const QString &key,
              const QString &value);

} // namespace settings
