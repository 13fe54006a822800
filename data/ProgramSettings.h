#pragma once
// What every layer of the program may ask about its settings and its user:
// the configuration file's name, the database path stored in it, and the
// logged-in user number.
#include <QString>

// The user number of the logged-in user exactly as typed at login; empty until then.
extern QString CurrentUserID;

// Full path of "ConfigDB.ini" in the executable's folder, built anew at every call.
QString GetConfigFileName();
// The database path stored in the configuration file (section "BDConn", key
// "DBConFileName"), or empty text when it cannot be read.
QString ReadDBFileName(const QString &configFileName);

// The folder a file dialog starts in: the folder of the last file chosen in
// one (section "Dialogs", key "LastFolder" of the configuration file) while
// it exists, else the user's documents folder, else the home folder.
QString FileDialogStartFolder();
// Remembers the folder of a chosen file, or the folder itself, for the next
// file dialog, also after a restart. The folder is only a convenience: when
// the configuration file cannot be written, nothing is remembered.
void RememberFileDialogFolder(const QString &chosen);
