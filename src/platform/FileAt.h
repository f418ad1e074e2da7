#pragma once

#include <QtGlobal>

#include <deque>
#include <utility>

class QFileDevice;

// A file read and written at given positions, so that the window's thread
// reads it while a writer's thread writes elsewhere in it. Each returns 0, or
// the system's number of the failure (errno).
namespace FileAt {

// Reads size bytes at offset: EIO when the file ends before.
int read(QFileDevice& file, char* data, qint64 size, qint64 offset);
// Writes size bytes at offset: ENOSPC when nothing more would go.
int write(QFileDevice& file, const char* data, qint64 size, qint64 offset);
// Puts what was written on the disk.
int sync(QFileDevice& file);

} // namespace FileAt

// Keeps the pages written to a file but not yet on the disk few. Left to
// itself the system gathers gigabytes of them and then holds every writer
// back, other programs too, for as long as it takes to catch up.
class WriteBehind
{
public:
    // A stretch just written starts on its way to the disk; the oldest of
    // those on their way is waited for once there are many.
    void written(QFileDevice& file, qint64 offset, qint64 size);
    // All is on the disk.
    void synced() { m_unsettled.clear(); }

private:
    std::deque<std::pair<qint64, qint64>> m_unsettled;
};
