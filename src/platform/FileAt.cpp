#include "platform/FileAt.h"

#include <QFileDevice>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace {

// Reading and writing move the file's one position, so they take turns.
std::mutex positionLock;
// A write holds the file for this much at a time: a read waits for no more.
constexpr qint64 WritePiece = 1024 * 1024;

// Qt leaves the system's number of a failure in errno, where there is one.
int failure()
{
    return errno ? errno : EIO;
}

// A device has no positions: it takes, or gives, what comes.
bool seek(QFileDevice& file, qint64 offset)
{
    return file.isSequential() || file.seek(offset);
}

} // namespace

namespace FileAt {

int read(QFileDevice& file, char* data, qint64 size, qint64 offset)
{
    std::lock_guard<std::mutex> lock(positionLock);
    errno = 0;
    if (!seek(file, offset))
        return failure();
    while (size > 0) {
        const qint64 n = file.read(data, size);
        if (n <= 0)
            return n < 0 ? failure() : EIO;
        data += n;
        size -= n;
    }
    return 0;
}

int write(QFileDevice& file, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        std::lock_guard<std::mutex> lock(positionLock);
        errno = 0;
        if (!seek(file, offset))
            return failure();
        // What Qt keeps back goes out before the file is let go.
        const qint64 n = file.write(data, std::min(size, WritePiece));
        if (n < 0 || !file.flush())
            return failure();
        if (n == 0)
            return ENOSPC;
        data += n;
        offset += n;
        size -= n;
    }
    return 0;
}

} // namespace FileAt
