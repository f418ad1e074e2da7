#include "platform/ByteSearch.h"

#include <algorithm>
#include <functional>

namespace ByteSearch {

qsizetype indexOf(const char* data, qsizetype size, const char* needle, qsizetype needleSize)
{
    const std::boyer_moore_horspool_searcher<const char*> searcher(needle, needle + needleSize);
    const char* at = std::search(data, data + size, searcher);
    return at == data + size && needleSize > 0 ? -1 : at - data;
}

qsizetype lastIndexOf(const char* data, qsizetype size, char byte)
{
    // Whole blocks are tested without a branch per byte, which the compiler
    // turns into vector code: a long line is passed over several times
    // faster than byte by byte.
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
