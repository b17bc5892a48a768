#include "wholefile.h"

#include <QFile>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool replaceFileWhole(const QString &path, const QByteArray &bytes, FileAccess access)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (access == FileAccess::Private && ::fchmod(file.handle(), 0600) != 0)
        return false;
    // flush() before commit(): a short write may sit in the device's buffer,
    // and commit() does not notice when that buffer fails to reach the disk;
    // it would put an empty or cut file in place of the old one. Not
    // committed, the new copy is discarded with the object.
    if (file.write(bytes) != bytes.size() || !file.flush())
        return false;
    return file.commit();
}

// Opened read-only, which fsync allows for files and folders alike.
bool syncToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}
