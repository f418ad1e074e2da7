#pragma once

#include <QtGlobal>

class QFileDevice;

// A file read and written at given positions, so that the window's thread
// reads it while a writer's thread writes elsewhere in it. Each returns 0, or
// the system's number of the failure (errno).
namespace FileAt {

// Reads size bytes at offset: EIO when the file ends before.
int read(QFileDevice& file, char* data, qint64 size, qint64 offset);
// Writes size bytes at offset, all the way to the system: ENOSPC when
// nothing more would go.
int write(QFileDevice& file, const char* data, qint64 size, qint64 offset);

} // namespace FileAt
