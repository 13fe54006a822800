#include "data/StagingFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>

#include <cerrno>
#include <csignal>
#include <climits>
#include <unistd.h>

namespace staging {

namespace {

QMutex &registryMutex()
{
    static QMutex mutex;
    return mutex;
}

QSet<QString> &inUse()
{
    static QSet<QString> paths;
    return paths;
}

QString registryKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool isInUse(const QString &path)
{
    QMutexLocker lock(&registryMutex());
    return inUse().contains(registryKey(path));
}

// ".<name>.part-<pid>-XXXXXX", with a journal or log the engine made for it.
const QRegularExpression &partFile()
{
    static const QRegularExpression re(
        QStringLiteral("^(\\..+\\.part-(\\d{1,10})-[A-Za-z0-9]{6})(?:-journal|-wal|-shm)?$"));
    return re;
}

// The name earlier versions gave the partial copies of a database file,
// without a process id.
bool isEarlierPartOf(const QString &name, const QString &databaseName)
{
    static const QRegularExpression re(QStringLiteral("^\\.(.+)\\.part-[A-Za-z0-9]{6}(?:-journal)?$"));
    const QRegularExpressionMatch m = re.match(name);
    return m.hasMatch() && m.captured(1) == databaseName;
}

const QRegularExpression &workFolder()
{
    static const QRegularExpression re(QStringLiteral("^veltrana-[a-z]+-(\\d{1,10})-[A-Za-z0-9]{6}$"));
    return re;
}

// True while the process runs (also one of another user, which may not be signalled).
bool processRuns(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Whether a temporary entry of process pid may go: its writer has ended, or
// it is this process's and no longer in use.
bool abandoned(qint64 pid, const QString &path)
{
    if (pid == qint64(::getpid()))
        return !isInUse(path);
    return !processRuns(pid);
}

}

QString createBeside(const QString &target, int *error)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    QTemporaryFile file(QStringLiteral("%1/.%2.part-%3-XXXXXX").arg(folder, info.fileName()).arg(::getpid()));
    file.setAutoRemove(false);
    errno = 0;
    if (!file.open()) {
        if (error)
            *error = errno ? errno : EIO;
        return QString();
    }
    const QString path = file.fileName();
    file.close();
    QMutexLocker lock(&registryMutex());
    inUse().insert(registryKey(path));
    return path;
}

void release(const QString &path)
{
    QMutexLocker lock(&registryMutex());
    inUse().remove(registryKey(path));
}

int removeLeftovers(const QString &folder, const QString &databaseName)
{
    if (folder.isEmpty())
        return 0;
    const QDir dir(folder);
    int removed = 0;
    const QDateTime hourAgo = QDateTime::currentDateTime().addSecs(-3600);
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)) {
        const QString name = entry.fileName();
        bool goes = false;
        if (const QRegularExpressionMatch m = partFile().match(name); m.hasMatch())
            goes = abandoned(m.captured(2).toLongLong(), dir.absoluteFilePath(m.captured(1)));
        else if (!databaseName.isEmpty() && isEarlierPartOf(name, databaseName))
            goes = entry.lastModified() < hourAgo;
        if (goes && QFile::remove(entry.absoluteFilePath()))
            ++removed;
    }
    if (QFileInfo(folder).canonicalFilePath() == QFileInfo(QDir::tempPath()).canonicalFilePath()) {
        for (const QFileInfo &entry : dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
            const QRegularExpressionMatch m = workFolder().match(entry.fileName());
            if (m.hasMatch() && !processRuns(m.captured(1).toLongLong()) && QDir(entry.absoluteFilePath()).removeRecursively())
                ++removed;
        }
    }
    return removed;
}

QString workFolderTemplate(const QString &kind)
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("veltrana-%1-%2-XXXXXX").arg(kind).arg(::getpid()));
}

}
