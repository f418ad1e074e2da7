#include "platform/ByteSearch.h"

namespace ByteSearch {

qsizetype lastIndexOf(const char* data, qsizetype size, char byte)
{
    // Whole blocks are tested without a branch per byte, which the compiler
    // turns into vector code: a long line is passed over many times faster
    // than byte by byte.
    constexpr qsizetype Block = 32;
    const auto* p = reinterpret_cast<const uchar*>(data);
    const uchar wanted = uchar(byte);
    qsizetype end = size;
    for (; end >= Block; end -= Block) {
        uchar any = 0;
        for (qsizetype j = end - Block; j < end; ++j)
            any |= uchar(p[j] == wanted);
        if (any)
            break;
    }
    while (end-- > 0) {
        if (p[end] == wanted)
            return end;
    }
    return -1;
}

} // namespace ByteSearch
