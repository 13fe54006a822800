#pragma once
// A disk that fills up, for the engine's files: while it lives, a VFS in
// front of the engine's default one is the default, and once the free room is
// set, a write that needs more room than is left fails with SQLITE_FULL, as
// the default VFS fails when the disk is full (ENOSPC). The engine then takes
// its own full-disk path: a failed write of the page cache leaves its pager
// in the error state, with the pages as they were in the journal.
#include <QtGlobal>

namespace testsupport {

class SmallDisk
{
public:
    SmallDisk();
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    // From now on this many more bytes fit; files that shrink or go give room back.
    void setFreeBytes(qint64 bytes);
    // No limit any more.
    void makeRoom();
};

}
