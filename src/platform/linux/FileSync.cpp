// Putting a file on the disk on Linux: fdatasync on the writer's thread, and
// sync_file_range to keep the unwritten pages few.

#include <QtGlobal>

#ifdef Q_OS_LINUX

#include "platform/FileSync.h"

#include <QFileDevice>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Stretches written but perhaps not on the disk yet.
constexpr size_t WriteBehindStretches = 8;

} // namespace

int FileSync::sync(QFileDevice& file)
{
    return ::fdatasync(file.handle()) != 0 ? errno : 0;
}

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
