#pragma once
// The program's temporary files beside their targets, and the removal of
// those that a killed or failed operation left behind.
//
// Every partial copy the program writes (backups, restores, exports, the copy
// before an upgrade, settings writes) is named
//   ".<target file name>.part-<process id>-<six letters or digits>"
// in the target's folder (the engine may add "-journal"), and work folders in
// the system's temporary folder "veltrana-<kind>-<process id>-<six>". The
// process id tells whether the writer still runs, so a leftover can be told
// from a file that another running copy of the program is writing.
#include <QString>

namespace staging {

// Makes a new empty file (mode 0600) beside target under the name above and
// marks it as in use by this process; its path. Empty text when the folder
// cannot take it, with the system's error number in *error.
QString createBeside(const QString &target, int *error);

// The file made by createBeside is no longer in use (it was renamed into
// place or is about to be removed).
void release(const QString &path);

// Removes from folder the temporary files of this program whose process no
// longer runs, or that this process made and no longer uses, with their
// journals; in the system's temporary folder also such work folders. When
// databaseName names the database file in that folder, the partial copies
// earlier versions of the program made of it (".<name>.part-XXXXXX",
// without a process id) go too once they have not changed for an hour.
// Nothing else is touched. The number of entries removed.
int removeLeftovers(const QString &folder, const QString &databaseName = QString());

// The template for a work folder of this process in the system's temporary
// folder ("<tmp>/veltrana-<kind>-<pid>-XXXXXX"), for QTemporaryDir.
QString workFolderTemplate(const QString &kind);

}
