#include "data/DatabaseFiles.h"

#include "data/Error.h"
#include "data/SchemaObjects.h"
#include "data/SchemaUpgrade.h"
#include "data/StagingFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sqlite3.h>
#include <unistd.h>
#include <vector>

namespace dbfiles {

namespace {

struct TableColumns
{
    const char *table;
    QStringList columns;
};

// The tables and columns the program reads and writes.
const QList<TableColumns> &programTables()
{
    static const QList<TableColumns> tables = {
        {"TeacherInfo", {"TeacherID", "TchName", "TchSex", "TchAge", "Duty", "TchContact", "Remark"}},
        {"StudentInfo", {"StudentID", "StuName", "StuSex", "StuAge", "ClassID", "InSchoolDate", "OutSchoolDate",
                         "StuContact", "Remark"}},
        {"GradeInfo", {"GradeID", "GrdName", "Remark"}},
        {"ClassInfo", {"ClassID", "GradeID", "ClaName", "Remark"}},
        {"SubjectInfo", {"SubjectID", "SubName", "CreditHour", "Remark"}},
        {"DormInfo", {"DormID", "DormName", "Remark"}},
        {"User", {"UserID", "UserName", "UserPassword", "Remark"}},
        {"Score", {"StudentID", "ScoreDateTime", "Term", "SubjectID", "ClassID", "Score", "CreditHour", "Remark"}},
        {"Practice", {"StudentID", "ClassID", "PracticeDateTime", "PracticeName", "PracticeResult", "Remark"}},
        {"Moral", {"StudentID", "ClassID", "MoralID", "MoralResult", "Remark"}},
        {"Price", {"ClassID", "PriceName", "StudentID", "Price", "Remark"}},
        {"Dorm", {"ClassID", "StudentID", "StuSex", "DormID", "Remark"}},
        {"Course", {"StudentID", "SubjectID", "TeacherID", "Term", "BeginTime", "EndTime", "Remark"}},
    };
    return tables;
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A connection of its own to one file, closed however the work ends.
class Db
{
public:
    // A file that nothing writes and that is read as it is, without locks
    // and without the files the engine may make beside it.
    enum Access { AsDatabase, AsUnchangingFile };
    Db(const QString &path, int flags, Access access = AsDatabase)
    {
        const QByteArray name = access == AsUnchangingFile
                                    ? QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() + "?immutable=1"
                                    : nativePath(path);
        const int rc = sqlite3_open_v2(name.constData(), &m_db,
                                       access == AsUnchangingFile ? flags | SQLITE_OPEN_URI : flags, nullptr);
        if (rc != SQLITE_OK) {
            const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
            sqlite3_close(m_db);
            m_db = nullptr;
            throw dravon::Error(QStringLiteral("无法打开 %1: %2").arg(QDir::toNativeSeparators(path), reason));
        }
        sqlite3_busy_timeout(m_db, 1000);
    }
    ~Db() { close(); }
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    sqlite3 *handle() const { return m_db; }
    QString lastError() const { return QString::fromUtf8(sqlite3_errmsg(m_db)); }
    // Closes now, so that the file is complete and unlocked before a rename.
    void close()
    {
        if (m_db) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }
    // One column of every row of a statement, as text; throws with the engine's reason.
    QStringList column(const QString &sql, int index) const
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            throw dravon::Error(lastError());
        QStringList rows;
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const unsigned char *text = sqlite3_column_text(stmt, index);
            rows << (text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString());
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            throw dravon::Error(lastError());
        return rows;
    }

private:
    sqlite3 *m_db = nullptr;
};

// Empty when the engine's check (quick_check or integrity_check) finds the
// file sound, else its first complaint.
QString checkProblem(const Db &db, const char *pragma)
{
    QStringList result;
    {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db.handle(), pragma, -1, &stmt, nullptr) != SQLITE_OK)
            return db.lastError();
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const unsigned char *text = sqlite3_column_text(stmt, 0);
            result << (text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString());
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            return db.lastError();
    }
    if (result == QStringList{QStringLiteral("ok")})
        return QString();
    return QStringLiteral("数据库文件已损坏 (%1)").arg(result.value(0));
}

// The quick check reads every page but does not compare the indexes with
// their tables; the full check does.
QString quickCheckProblem(const Db &db)
{
    return checkProblem(db, "PRAGMA quick_check");
}

QString integrityProblem(const Db &db)
{
    return checkProblem(db, "PRAGMA integrity_check(10)");
}

// A new empty file in the folder of `beside`, named after it; its path.
QString temporaryFileBeside(const QString &beside)
{
    int error = 0;
    const QString path = staging::createBeside(beside, &error);
    if (path.isEmpty())
        throw dravon::Error(QStringLiteral("无法在 %1 中建立临时文件: %2")
                                .arg(QDir::toNativeSeparators(QFileInfo(beside).absolutePath()),
                                     QString::fromLocal8Bit(std::strerror(error))));
    return path;
}

// Removes a temporary file (and whatever the engine left beside it) unless
// released; either way it is no longer in use.
class TemporaryCopy
{
public:
    explicit TemporaryCopy(const QString &path) : m_path(path) {}
    ~TemporaryCopy()
    {
        if (m_path.isEmpty())
            return;
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(m_path + QLatin1String(suffix));
        staging::release(m_path);
    }
    QString path() const { return m_path; }
    // The file took its place under another name.
    void release()
    {
        staging::release(m_path);
        m_path.clear();
    }

private:
    QString m_path;
};

// Copies the whole database at sourcePath (an existing file) into the
// existing empty file at targetPath with the engine's online backup, in one
// step so the copy is one consistent state of the source, then checks the copy.
void engineCopy(const QString &sourcePath, const QString &targetPath)
{
    Db source(sourcePath, SQLITE_OPEN_READONLY);
    Db target(targetPath, SQLITE_OPEN_READWRITE);
    sqlite3_backup *backup = sqlite3_backup_init(target.handle(), "main", source.handle(), "main");
    if (!backup)
        throw dravon::Error(target.lastError());
    int rc;
    // A writer holding its lock makes the step busy; it is tried again for a
    // few seconds, then the copy fails with the engine's reason.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        rc = sqlite3_backup_step(backup, -1);
        if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && waited.elapsed() < 8000) {
            QThread::msleep(50);
            continue;
        }
        break;
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        QString reason = sqlite3_errcode(target.handle()) != SQLITE_OK ? target.lastError()
                                                                      : QString::fromUtf8(sqlite3_errstr(rc));
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            reason = QStringLiteral("数据库正被其他连接写入,请稍后再试 (%1)").arg(reason);
        throw dravon::Error(QStringLiteral("复制 %1 失败: %2").arg(QDir::toNativeSeparators(sourcePath), reason));
    }
    const QString problem = quickCheckProblem(target);
    if (!problem.isEmpty())
        throw dravon::Error(QStringLiteral("复制后的检查未通过: %1").arg(problem));
    target.close();
}

// A failed call on the copy's target file, with the system's reason.
[[noreturn]] void failWrite(const QString &targetPath)
{
    throw dravon::Error(QStringLiteral("写入 %1 失败: %2").arg(QDir::toNativeSeparators(targetPath), systemReason()));
}

// Copies the whole file behind the engine's handle `file` byte for byte into
// the existing file at targetPath and makes it durable; the number of bytes.
// Reading through the engine's own handle keeps the locks this process holds
// on the file, which closing any other descriptor of it would drop.
qint64 copyThroughHandle(sqlite3_file *file, const QString &sourcePath, const QString &targetPath)
{
    sqlite3_int64 size = 0;
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK)
        throw dravon::Error(QStringLiteral("无法读取 %1 的大小").arg(QDir::toNativeSeparators(sourcePath)));
    const int fd = ::open(nativePath(targetPath).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        failWrite(targetPath);
    std::vector<char> buffer(1 << 20);
    for (sqlite3_int64 offset = 0; offset < size;) {
        const int wanted = int(qMin<sqlite3_int64>(sqlite3_int64(buffer.size()), size - offset));
        if (file->pMethods->xRead(file, buffer.data(), wanted, offset) != SQLITE_OK) {
            ::close(fd);
            throw dravon::Error(QStringLiteral("读取 %1 失败 (位置 %2)").arg(QDir::toNativeSeparators(sourcePath)).arg(offset));
        }
        for (int done = 0; done < wanted;) {
            const ssize_t n = ::write(fd, buffer.data() + done, size_t(wanted - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const int saved = errno;
                ::close(fd);
                errno = saved;
                failWrite(targetPath);
            }
            done += int(n);
        }
        offset += wanted;
    }
    if (::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        failWrite(targetPath);
    }
    if (::close(fd) != 0)
        failWrite(targetPath);
    return qint64(size);
}

// The journal mode a database file's header records: 1 for a rollback
// journal, 2 for a write-ahead log; 0 when it cannot be read. Read through
// the engine's own handle of the file, before any lock or log is taken: no
// descriptor of this process's own is opened and closed on a file whose
// locks this process may hold.
int headerJournalMode(const Db &db)
{
    sqlite3_file *file = nullptr;
    if (sqlite3_file_control(db.handle(), "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return 0;
    char header[20];
    if (file->pMethods->xRead(file, header, int(sizeof header), 0) != SQLITE_OK)
        return 0;
    return header[18] == header[19] ? int(header[18]) : 0;
}

bool exists(const QString &path)
{
    return ::access(nativePath(path).constData(), F_OK) == 0;
}

// How a backup file is opened to be read. One in write-ahead-log format with
// no log beside it holds all its content itself: it is read as it is,
// without the log and shared-memory files the engine would otherwise leave
// beside it, which read-only media could not even take. (Should something
// write it meanwhile, the copy's own full check finds that out.) A live
// database is always read as a database, under its locks.
Db::Access backupFileAccess(const QString &path)
{
    const Db probe(path, SQLITE_OPEN_READONLY);
    return headerJournalMode(probe) == 2 && !exists(path + QStringLiteral("-wal")) ? Db::AsUnchangingFile
                                                                                    : Db::AsDatabase;
}

// Copies the database at sourcePath byte for byte into the existing empty
// file at targetPath while holding its read lock, so that the copy is one
// committed state of it: no writer can commit meanwhile. The engine's own
// handle of the file reads it, since closing another handle to the file would
// drop every lock this process holds on it. A database kept with a
// write-ahead log, whose latest changes are not in the file itself, is copied
// by the engine's backup instead. The copy is then opened and its size
// compared with its page count; whether its pages are sound is the caller's
// check.
enum class Source { LiveDatabase, BackupFile };
void copyDatabase(const QString &sourcePath, const QString &targetPath, Source kind)
{
    if (sourcePath.isEmpty())
        throw dravon::Error(QStringLiteral("没有指定数据库文件"));
    if (!QFileInfo(sourcePath).isFile())
        throw dravon::Error(QStringLiteral("文件不存在: %1").arg(QDir::toNativeSeparators(sourcePath)));
    const Db::Access access = kind == Source::BackupFile ? backupFileAccess(sourcePath) : Db::AsDatabase;
    const bool wholeInItself = access == Db::AsUnchangingFile;
    Db source(sourcePath, SQLITE_OPEN_READONLY, access);
    sqlite3 *db = source.handle();
    // A writer holding its lock makes the read busy; it is tried again for a
    // few seconds, then the copy fails with the engine's reason.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const int rc = sqlite3_exec(db, "BEGIN; SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK)
            break;
        const QString text = source.lastError();
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        const bool busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
        if (busy && waited.elapsed() < 8000) {
            QThread::msleep(50);
            continue;
        }
        throw dravon::Error(QStringLiteral("复制 %1 失败: %2")
                                .arg(QDir::toNativeSeparators(sourcePath),
                                     busy ? QStringLiteral("数据库正被其他连接写入,请稍后再试 (%1)").arg(text) : text));
    }
    const QStringList mode = source.column(QStringLiteral("PRAGMA journal_mode"), 0);
    sqlite3_file *file = nullptr;
    if ((!wholeInItself && mode.value(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0)
        || sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file || !file->pMethods) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        source.close();
        engineCopy(sourcePath, targetPath);
        return;
    }
    const qint64 size = copyThroughHandle(file, sourcePath, targetPath);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    source.close();

    Db copy(targetPath, SQLITE_OPEN_READONLY);
    const qint64 pages = copy.column(QStringLiteral("PRAGMA page_count"), 0).value(0).toLongLong();
    const qint64 pageSize = copy.column(QStringLiteral("PRAGMA page_size"), 0).value(0).toLongLong();
    if (pages * pageSize != qint64(size))
        throw dravon::Error(QStringLiteral("复制后的检查未通过: 文件长度 %1 与页数 %2 不符").arg(size).arg(pages));
}

// Makes a rename in the folder durable.
void syncFolder(const QString &path)
{
    const int fd = ::open(nativePath(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void renameOver(const QString &from, const QString &to)
{
    if (std::rename(nativePath(from).constData(), nativePath(to).constData()) != 0)
        throw dravon::Error(QStringLiteral("无法把临时文件改名为 %1: %2").arg(QDir::toNativeSeparators(to), systemReason()));
    syncFolder(to);
}

// The path a database really lives at: symbolic links followed, so that a
// restore replaces the file a link points to and the link stays a link.
QString followLinks(const QString &path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int depth = 0; depth < 40; ++depth) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = info.symLinkTarget();
    }
    throw dravon::Error(QStringLiteral("数据库路径 %1 的符号链接层数过多").arg(QDir::toNativeSeparators(path)));
}

// The replaced file's mode, owner and group go to its replacement; owner and
// group as far as this process may set them.
void takeOverAccess(const QString &replaced, const QString &replacement)
{
    struct stat st = {};
    if (::stat(nativePath(replaced).constData(), &st) != 0)
        return;
    const QByteArray to = nativePath(replacement);
    if (::chown(to.constData(), st.st_uid, st.st_gid) != 0 && ::chown(to.constData(), uid_t(-1), st.st_gid) != 0) {
        // Neither could be set: the replacement stays this process's own.
    }
    if (::chmod(to.constData(), st.st_mode & 07777) != 0)
        throw dravon::Error(QStringLiteral("无法设置 %1 的权限: %2").arg(QDir::toNativeSeparators(replacement), systemReason()));
}

// Puts a database file in rollback-journal mode: a file kept with a
// write-ahead log would bring its mode, and its "-wal" and "-shm" files,
// wherever it is placed. Nothing is left beside it.
void toRollbackJournal(const Db &db, const QString &path)
{
    const QString mode = db.column(QStringLiteral("PRAGMA journal_mode"), 0).value(0);
    if (mode.compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0) {
        const QString now = db.column(QStringLiteral("PRAGMA journal_mode = DELETE"), 0).value(0);
        if (now.compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
            throw dravon::Error(QStringLiteral("无法把 %1 改为回滚日志模式").arg(QDir::toNativeSeparators(path)));
    }
}

void toRollbackJournal(const QString &path)
{
    {
        Db db(path, SQLITE_OPEN_READWRITE);
        toRollbackJournal(db, path);
    }
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
}

// The checks a copy of a backup passes before it takes the database's place,
// in the copy itself: it is put in rollback-journal mode, every page and
// every index is checked against its table, it is brought to the current
// table shapes by the program's own upgrade, and then it must hold exactly
// the program's schema objects: a trigger or view of its own would run, or
// show, in the program. Throws dravon::Error saying why it is refused.
void acceptCandidate(const QString &copyPath, const QString &candidatePath)
{
    auto refuse = [](const QString &why) { return dravon::Error(QStringLiteral("不是本系统的数据库: %1").arg(why)); };
    {
        Db db(copyPath, SQLITE_OPEN_READWRITE);
        toRollbackJournal(db, copyPath);
        const QString damaged = integrityProblem(db);
        if (!damaged.isEmpty())
            throw refuse(damaged);
        try {
            dravon::upgradeSchema(db.handle(), candidatePath, dravon::UpgradeCopy::None);
        } catch (const dravon::Error &e) {
            throw refuse(e.text());
        }
        const QStringList foreign = dbschema::differences(db.handle());
        // The first few name the file well enough; a long list would not fit the message.
        constexpr int shown = 8;
        if (foreign.size() > shown)
            throw refuse(QStringLiteral("%1; ……(共 %2 处与本系统不同)")
                             .arg(foreign.mid(0, shown).join(QStringLiteral("; ")))
                             .arg(foreign.size()));
        if (!foreign.isEmpty())
            throw refuse(foreign.join(QStringLiteral("; ")));
    }
    QFile::remove(copyPath + QStringLiteral("-wal"));
    QFile::remove(copyPath + QStringLiteral("-shm"));
}

// The database file locked as the engine locks it for a write, taken on the
// engine's own handle of the file: while it is held no other connection, of
// this process or another, reads or writes the file, so none is in the
// middle of a transaction when the file is replaced. It works whatever the
// file holds (a damaged database is replaced too). Waits a few seconds for
// other connections to finish, then refuses, saying so.
class ExclusiveLock
{
public:
    explicit ExclusiveLock(const QString &path) : m_db(path, SQLITE_OPEN_READWRITE), m_path(path)
    {
        if (sqlite3_file_control(m_db.handle(), "main", SQLITE_FCNTL_FILE_POINTER, &m_file) != SQLITE_OK || !m_file
            || !m_file->pMethods)
            throw dravon::Error(QStringLiteral("无法锁定数据库 %1").arg(QDir::toNativeSeparators(path)));
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            int rc = m_file->pMethods->xLock(m_file, SQLITE_LOCK_SHARED);
            if (rc == SQLITE_OK)
                rc = m_file->pMethods->xLock(m_file, SQLITE_LOCK_EXCLUSIVE);
            if (rc == SQLITE_OK)
                break;
            m_file->pMethods->xUnlock(m_file, SQLITE_LOCK_NONE);
            if ((rc & 0xff) == SQLITE_BUSY && waited.elapsed() < 3000) {
                QThread::msleep(20);
                continue;
            }
            m_file = nullptr;
            throw dravon::Error(
                (rc & 0xff) == SQLITE_BUSY
                    ? QStringLiteral("数据库 %1 正被其他程序使用,没有还原。请关闭使用该数据库的其他程序后再试。")
                          .arg(QDir::toNativeSeparators(path))
                    : QStringLiteral("无法锁定数据库 %1: %2").arg(QDir::toNativeSeparators(path), QString::fromUtf8(sqlite3_errstr(rc))));
        }
    }
    ~ExclusiveLock() { release(); }
    ExclusiveLock(const ExclusiveLock &) = delete;
    ExclusiveLock &operator=(const ExclusiveLock &) = delete;

    // A copy of the locked file under `target`, read through the locked handle.
    void copyTo(const QString &target) const
    {
        TemporaryCopy copy(temporaryFileBeside(target));
        const QString part = copy.path();
        takeOverAccess(m_path, part);
        copyThroughHandle(m_file, m_path, part);
        renameOver(part, target);
        copy.release();
    }
    void release()
    {
        if (m_file)
            m_file->pMethods->xUnlock(m_file, SQLITE_LOCK_NONE);
        m_file = nullptr;
        m_db.close();
    }

private:
    Db m_db;
    QString m_path;
    sqlite3_file *m_file = nullptr;
};

// Keeps the database at `path`, locked, under a new name: a second name of the
// same file where the file system allows it, else a copy.
QString keepPrevious(const ExclusiveLock &lock, const QString &path, const QDateTime &now)
{
    QString kept = keptFileName(path, now);
    for (int n = 2; exists(kept); ++n)
        kept = keptFileName(path, now) + QStringLiteral("-%1").arg(n);
    if (::link(nativePath(path).constData(), nativePath(kept).constData()) != 0) {
        try {
            lock.copyTo(kept);
        } catch (const dravon::Error &e) {
            throw dravon::Error(QStringLiteral("无法保留原数据库为 %1: %2").arg(QDir::toNativeSeparators(kept), e.text()));
        }
    }
    // A journal or log left beside the database belongs to the previous
    // file: it goes with it and must not be applied to the new one.
    for (const char *suffix : {"-journal", "-wal"}) {
        const QString stale = path + QLatin1String(suffix);
        if (exists(stale))
            std::rename(nativePath(stale).constData(), nativePath(kept + QLatin1String(suffix)).constData());
    }
    QFile::remove(path + QStringLiteral("-shm"));
    return kept;
}

} // namespace

void backupDatabase(const QString &sourcePath, const QString &targetPath)
{
    // Renaming a copy over the database itself would leave open connections
    // writing to a file that no longer has a name.
    const QString canonicalSource = QFileInfo(sourcePath).canonicalFilePath();
    if (!canonicalSource.isEmpty() && canonicalSource == QFileInfo(targetPath).canonicalFilePath())
        throw dravon::Error(QStringLiteral("备份文件就是数据库文件本身"));
    const QString folder = QFileInfo(targetPath).absolutePath();
    {
        TemporaryCopy copy(temporaryFileBeside(targetPath));
        copyDatabase(sourcePath, copy.path(), Source::LiveDatabase);
        // A backup is always a plain file, whatever mode the database is in.
        toRollbackJournal(copy.path());
        renameOver(copy.path(), targetPath);
        copy.release();
    }
    staging::removeLeftovers(folder);
}

QString programDatabaseProblem(const QString &path, PageCheck pages)
{
    if (path.isEmpty())
        return QStringLiteral("没有指定文件");
    if (!QFileInfo(path).isFile())
        return QStringLiteral("文件不存在");
    try {
        Db db(path, SQLITE_OPEN_READONLY, backupFileAccess(path));
        if (pages == PageCheck::Full) {
            const QString problem = integrityProblem(db);
            if (!problem.isEmpty())
                return problem;
        }
        for (const TableColumns &t : programTables()) {
            const QString table = QString::fromLatin1(t.table);
            // table_info yields (cid, name, type, ...).
            const QStringList present = db.column(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table), 1);
            if (present.isEmpty())
                return QStringLiteral("缺少表 %1").arg(table);
            QSet<QString> names;
            for (const QString &name : present)
                names.insert(name.toLower());
            for (const QString &column : t.columns)
                if (!names.contains(column.toLower()))
                    return QStringLiteral("表 %1 缺少列 %2").arg(table, column);
        }
    } catch (const dravon::Error &e) {
        return e.text();
    }
    return QString();
}

QString keptFileName(const QString &databasePath, const QDateTime &when)
{
    return databasePath + QStringLiteral(".before-restore-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

QString restoreDatabase(const QString &candidatePath, const QString &databasePath, const RestoreHooks &hooks,
                        const QDateTime &now)
{
    if (databasePath.isEmpty())
        throw dravon::Error(QStringLiteral("没有指定数据库文件"));
    // Through a symbolic link to the file itself: that file is replaced, in
    // its own folder, and the link keeps pointing to it.
    const QString target = followLinks(databasePath);
    // Its tables first, so that a foreign file is refused before any copy.
    const QString problem = programDatabaseProblem(candidatePath, PageCheck::TablesOnly);
    if (!problem.isEmpty())
        throw dravon::Error(QStringLiteral("不是本系统的数据库: %1").arg(problem));

    QString kept;
    {
        // The whole candidate is copied beside the database and checked there
        // before the database itself is touched.
        TemporaryCopy copy(temporaryFileBeside(target));
        copyDatabase(candidatePath, copy.path(), Source::BackupFile);
        acceptCandidate(copy.path(), candidatePath);
        takeOverAccess(target, copy.path());

        if (hooks.closeConnection)
            hooks.closeConnection();
        auto reopen = [&] {
            if (hooks.reopenConnection)
                hooks.reopenConnection();
        };
        try {
            // No other connection may be in the middle of a transaction on
            // the file while it is replaced; the previous file keeps its
            // content under a dated name, so the database's name always holds
            // a whole database.
            std::optional<ExclusiveLock> lock;
            if (exists(target)) {
                lock.emplace(target);
                kept = keepPrevious(*lock, target, now);
            }
            renameOver(copy.path(), target);
            copy.release();
        } catch (...) {
            reopen();
            throw;
        }
    }

    if (hooks.reopenConnection) {
        try {
            hooks.reopenConnection();
        } catch (const std::exception &e) {
            const QString reason = QString::fromUtf8(e.what());
            if (!kept.isEmpty()) {
                // Put the previous file back under the database's name.
                for (const char *suffix : {"-journal", "-wal"}) {
                    const QString stale = kept + QLatin1String(suffix);
                    if (exists(stale))
                        std::rename(nativePath(stale).constData(), nativePath(target + QLatin1String(suffix)).constData());
                }
                QFile::remove(target + QStringLiteral("-shm"));
                const bool back = std::rename(nativePath(kept).constData(), nativePath(target).constData()) == 0;
                syncFolder(target);
                try {
                    hooks.reopenConnection();
                } catch (...) {
                }
                if (back)
                    throw dravon::Error(QStringLiteral("还原后无法打开数据库: %1\n已放回原数据库。").arg(reason));
            }
            throw dravon::Error(QStringLiteral("还原后无法打开数据库: %1").arg(reason));
        }
    }
    staging::removeLeftovers(QFileInfo(target).absolutePath(), QFileInfo(target).fileName());
    return kept;
}

} // namespace dbfiles
