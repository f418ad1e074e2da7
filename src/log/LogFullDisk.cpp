#include "log/LogFullDisk.h"

#include "log/LogChunks.h"
#include "log/LogSpill.h"

#include "platform/Latin1.h"
#include "platform/NumConv.h"

#include <algorithm>

namespace {

// Room left in the working set for the marker line of dropped text, beside
// the cause it names.
constexpr qint64 MarkerRoom = 64;

} // namespace

bool LogFullDisk::dropToFit(LogChunks& text, LogSpill& spill, Dropped& gone)
{
    std::vector<LogChunk>& chunks = text.list();
    const int n = int(chunks.size());
    if (n == 0)
        return false;
    const QByteArray cause = Latin1::escaped(failure);
    // The newest chunks that fit, at least the last one.
    int keep = n;
    qint64 kept = 0;
    while (keep > 0) {
        const LogChunk& c = chunks[size_t(keep - 1)];
        if (c.marker || (keep < n && kept + c.bytes() > spill.workingSet() - MarkerRoom - cause.size()))
            break;
        kept += c.bytes();
        --keep;
    }
    // Kept chunks in the file come back to memory; one that cannot be read
    // goes with everything before it.
    for (int k = keep; k < n; ++k) {
        LogChunk& c = chunks[size_t(k)];
        if (c.inMemory())
            continue;
        try {
            c.data = spill.readBack(c);
            spill.addMemory(c.bytes());
        } catch (...) {
            keep = k + 1;
        }
    }
    const bool hadMarker = chunks.front().marker;
    if (keep == 0 || (keep == 1 && hadMarker))
        return false;

    // Even the newest chunk may be unreadable: then nothing is kept.
    const qsizetype count = keep < n ? chunks[size_t(keep)].start : text.size();
    const qsizetype lines = keep < n ? chunks[size_t(keep)].firstLine : text.lfTotal();
    // What the user typed into the marker line counts; the marker's own text does not.
    qsizetype own = 0;
    for (const auto& [from, to] : markerSpans)
        own += std::max<qsizetype>(0, std::min(to, count) - from);
    const qint64 total = dropped + count - own;
    // The cause stays readable here however much text goes after it.
    const QByteArray line =
        "... " + CountText(total).toLatin1() + " characters dropped: " + cause + " ...\r\n";
    LogChunk marker;
    marker.marker = true;
    marker.id = text.newId();
    marker.data = line;
    text.account(marker, 0, line.size(), false);

    dropped = total;
    markerSpans = {{0, line.size()}};
    for (int k = 0; k < keep; ++k)
        if (chunks[size_t(k)].inMemory())
            spill.addMemory(-chunks[size_t(k)].bytes());
    chunks.erase(chunks.begin(), chunks.begin() + keep);
    chunks.insert(chunks.begin(), std::move(marker));
    spill.addMemory(chunks.front().bytes());
    text.recomputeTotals();
    gone = {count, lines, line.size()};
    return true;
}

void LogFullDisk::followEdit(qsizetype from, qsizetype count, qsizetype inserted)
{
    Spans spans;
    for (const auto& [a, b] : markerSpans) {
        if (a < from)
            spans.emplace_back(a, std::min(b, from));
        if (b > from + count)
            spans.emplace_back(std::max(a, from + count) + inserted - count, b + inserted - count);
    }
    markerSpans = std::move(spans);
}
