#pragma once

#include <QtGlobal>

// Finding bytes in a block of memory.
namespace ByteSearch {

// The index of the first place in data[0, size) where needle[0, needleSize)
// starts, or -1.
qsizetype indexOf(const char* data, qsizetype size, const char* needle, qsizetype needleSize);
// The index of the last byte in data[0, size) equal to byte, or -1.
qsizetype lastIndexOf(const char* data, qsizetype size, char byte);

} // namespace ByteSearch
