#include "support/SmallDisk.h"

#include <QFileInfo>
#include <QSet>
#include <sqlite3.h>

namespace testsupport {

namespace {

sqlite3_vfs *realVfs = nullptr;
sqlite3_vfs smallVfs;
bool limited = false;
qint64 freeBytes = 0;

constexpr qint64 blockBytes = 4096;

// Our part of an open file; the default VFS's part follows it. As on a real
// disk, a write takes room for each block it fills for the first time, also
// inside the file (the engine writes pages out of order, leaving holes).
struct File
{
    sqlite3_file base;
    qint64 initialBlocks;        // blocks of the file when it was opened
    QSet<qint64> *newBlocks;     // blocks filled since
};

sqlite3_file *real(sqlite3_file *f)
{
    return reinterpret_cast<sqlite3_file *>(reinterpret_cast<File *>(f) + 1);
}

int fileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    return real(f)->pMethods->xFileSize(real(f), size);
}

int xClose(sqlite3_file *f)
{
    auto *file = reinterpret_cast<File *>(f);
    delete file->newBlocks;
    file->newBlocks = nullptr;
    return real(f)->pMethods->xClose(real(f));
}
int xRead(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset)
{
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int xWrite(sqlite3_file *f, const void *data, int amount, sqlite3_int64 offset)
{
    auto *file = reinterpret_cast<File *>(f);
    QList<qint64> fresh;
    for (qint64 b = offset / blockBytes; b * blockBytes < offset + amount; ++b)
        if (b >= file->initialBlocks && !file->newBlocks->contains(b))
            fresh << b;
    if (limited) {
        if (fresh.size() * blockBytes > freeBytes)
            return SQLITE_FULL;
        freeBytes -= fresh.size() * blockBytes;
    }
    for (const qint64 b : std::as_const(fresh))
        file->newBlocks->insert(b);
    return real(f)->pMethods->xWrite(real(f), data, amount, offset);
}
int xTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    auto *file = reinterpret_cast<File *>(f);
    const qint64 kept = (size + blockBytes - 1) / blockBytes;
    for (auto b = file->newBlocks->begin(); b != file->newBlocks->end();) {
        if (*b >= kept) {
            b = file->newBlocks->erase(b);
            freeBytes += limited ? blockBytes : 0;
        } else {
            ++b;
        }
    }
    file->initialBlocks = qMin(file->initialBlocks, kept);
    return real(f)->pMethods->xTruncate(real(f), size);
}
int xSync(sqlite3_file *f, int flags)
{
    return real(f)->pMethods->xSync(real(f), flags);
}
int xFileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    return fileSize(f, size);
}
int xLock(sqlite3_file *f, int level)
{
    return real(f)->pMethods->xLock(real(f), level);
}
int xUnlock(sqlite3_file *f, int level)
{
    return real(f)->pMethods->xUnlock(real(f), level);
}
int xCheckReservedLock(sqlite3_file *f, int *out)
{
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int xFileControl(sqlite3_file *f, int op, void *arg)
{
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int xSectorSize(sqlite3_file *f)
{
    return real(f)->pMethods->xSectorSize(real(f));
}
int xDeviceCharacteristics(sqlite3_file *f)
{
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}

// Version 1: no shared memory and no memory mapping, so every write of the
// database goes through xWrite.
const sqlite3_io_methods methods = {1,        &xClose,         &xRead,          &xWrite,     &xTruncate,
                                    &xSync,   &xFileSize,      &xLock,          &xUnlock,    &xCheckReservedLock,
                                    &xFileControl, &xSectorSize, &xDeviceCharacteristics,
                                    nullptr,  nullptr,         nullptr,         nullptr,     nullptr,
                                    nullptr};

int xOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags)
{
    auto *file = reinterpret_cast<File *>(f);
    file->base.pMethods = nullptr;
    const int rc = realVfs->xOpen(realVfs, name, real(f), flags, outFlags);
    if (rc != SQLITE_OK || !real(f)->pMethods)
        return rc;
    sqlite3_int64 size = 0;
    real(f)->pMethods->xFileSize(real(f), &size);
    file->initialBlocks = (size + blockBytes - 1) / blockBytes;
    file->newBlocks = new QSet<qint64>;
    file->base.pMethods = &methods;
    return rc;
}

int xDelete(sqlite3_vfs *, const char *name, int syncDir)
{
    const qint64 size = QFileInfo(QString::fromUtf8(name)).size();
    const int rc = realVfs->xDelete(realVfs, name, syncDir);
    if (rc == SQLITE_OK && limited)
        freeBytes += size;
    return rc;
}

}

SmallDisk::SmallDisk()
{
    realVfs = sqlite3_vfs_find(nullptr);
    smallVfs = *realVfs;
    smallVfs.iVersion = 1;
    smallVfs.szOsFile = int(sizeof(File)) + realVfs->szOsFile;
    smallVfs.zName = "small-disk";
    smallVfs.pNext = nullptr;
    smallVfs.xOpen = &xOpen;
    smallVfs.xDelete = &xDelete;
    sqlite3_vfs_register(&smallVfs, 1);
}

SmallDisk::~SmallDisk()
{
    sqlite3_vfs_unregister(&smallVfs);
    sqlite3_vfs_register(realVfs, 1);
    limited = false;
}

void SmallDisk::setFreeBytes(qint64 bytes)
{
    limited = true;
    freeBytes = bytes;
}

void SmallDisk::makeRoom()
{
    limited = false;
}

}
