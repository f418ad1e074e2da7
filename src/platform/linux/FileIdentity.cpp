// A file's identity on Linux: device, inode and the status-change time, asked
// of the open file itself and of whatever sits at its path.

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/FileIdentity.h"

#include "platform/KvError.h"

#include <QFile>

#include <cerrno>

#include <sys/stat.h>

namespace {

qint64 nanoseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

FileIdentity fromStat(const struct stat& info)
{
    FileIdentity id;
    id.device = quint64(info.st_dev);
    id.inode = quint64(info.st_ino);
    id.size = qint64(info.st_size);
    id.modified = nanoseconds(info.st_mtim);
    id.statusChanged = nanoseconds(info.st_ctim);
    return id;
}

} // namespace

FileIdentity identityOf(QFileDevice& file)
{
    struct stat info;
    if (::fstat(file.handle(), &info) != 0)
        throw KvError(KvErr::DeviceIO, QStringLiteral("Device I/O error: ") + qt_error_string(errno));
    return fromStat(info);
}

std::optional<FileIdentity> identityAt(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return fromStat(info);
}

#endif
