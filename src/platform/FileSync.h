#pragma once

#include <QtGlobal>

#include <deque>
#include <utility>

class QFileDevice;

// Putting what was written to a file on the disk, on the writer's thread.
namespace FileSync {

// Returns 0, or the system's number of the failure (errno).
int sync(QFileDevice& file);

} // namespace FileSync

// Keeps the pages written to a file but not yet on the disk few. Left to
// itself the system gathers gigabytes of them and then holds every writer
// back, other programs too, for as long as it takes to catch up; and a sync
// at the end has all of them to write.
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
