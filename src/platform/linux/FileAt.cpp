// A file at a position on Linux: pread and pwrite leave the file's position
// alone, so reading and writing need not take turns, and a chunk is read
// without Qt in between (see docs/performance.md).

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/FileAt.h"

#include <QFileDevice>

#include <cerrno>

#include <unistd.h>

namespace FileAt {

int read(QFileDevice& file, char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(file.handle(), data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        offset += n;
        size -= n;
    }
    return 0;
}

int write(QFileDevice& file, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(file.handle(), data, size_t(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        offset += n;
        size -= n;
    }
    return 0;
}

} // namespace FileAt

#endif // Q_OS_LINUX
