// The log's files at a position on Linux: pread and pwrite leave the file's
// position alone, so reading and writing need not take turns.

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/FileAt.h"

#include <QFileDevice>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Stretches written but perhaps not on the disk yet.
constexpr size_t WriteBehindStretches = 8;

} // namespace

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

int sync(QFileDevice& file)
{
    return ::fdatasync(file.handle()) != 0 ? errno : 0;
}

} // namespace FileAt

void WriteBehind::written(QFileDevice& file, qint64 offset, qint64 size)
{
    const int fd = file.handle();
    ::sync_file_range(fd, offset, size, SYNC_FILE_RANGE_WRITE);
    m_unsettled.emplace_back(offset, size);
    if (m_unsettled.size() > WriteBehindStretches) {
        const auto [at, bytes] = m_unsettled.front();
        m_unsettled.pop_front();
        ::sync_file_range(fd, at, bytes,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    }
}

#endif // Q_OS_LINUX
