#include "log/LogStore.h"

#include "platform/KvError.h"
#include "platform/Latin1.h"

#include <algorithm>
#include <cstring>

namespace {

// Room a chunk has beyond its text, for keys typed into it; untouched, it
// takes no memory.
constexpr qsizetype EditRoom = 64 * 1024;

using Units = LogUnits;

Units unitsOf(QStringView text)
{
    Units u;
    u.utf16 = reinterpret_cast<const char16_t*>(text.utf16());
    u.length = text.size();
    return u;
}

} // namespace

LogStore::LogStore(QObject* parent)
    : QObject(parent), m_text(&m_spill), m_spill(m_text.list(), m_undo.chunks, WorkingSetBytes,
                                                 LogWriter::queued(this, [this] { collectWrites(); }))
{
}

LogStore::~LogStore() = default;

void LogStore::failNextAllocations(int appends, int reads)
{
    m_failAppends = appends;
    m_text.failNextReads(reads);
}

void LogStore::setWorkingSetLimit(qint64 bytes)
{
    m_spill.setWorkingSet(bytes);
    enforceWorkingSet();
}

// ---- changing the text ----------------------------------------------------------

// Text the program adds is no edit of the user's: the last one is no longer
// the change before, and its undo goes.
void LogStore::append(QStringView text)
{
    appendUnits(unitsOf(text));
}

// Bytes arrive here as they are, one character each.
void LogStore::append(const QByteArray& bytes)
{
    appendUnits(unitsOf(bytes, false));
}

void LogStore::appendUnits(const LogPiece& text)
{
    if (text.length == 0)
        return;
    endUndo();
    appendText(text);
    if (m_appendTap)
        m_appendTap(text);
}

void LogStore::appendText(const LogPiece& text)
{
    std::vector<LogChunk>& chunks = m_text.list();
    takeFailure(m_failAppends);

    // The rest of the last chunk first, then new chunks. Everything that needs
    // memory is taken before anything changes, so a failure changes nothing.
    LogChunk* tail = nullptr;
    if (!chunks.empty()) {
        LogChunk& last = chunks.back();
        // A chunk on its way to the file is not written into: its write
        // would free what was added.
        if (last.inMemory() && !last.writing && !last.marker && last.chars < ChunkChars)
            tail = &last;
    }
    const qsizetype n = text.length;
    const qsizetype intoTail = tail ? std::min(n, ChunkChars - tail->chars) : 0;

    QByteArray widened;
    if (intoTail > 0) {
        const bool widen = !tail->wide && !allLatin1(text, 0, intoTail);
        const qsizetype unit = tail->wide || widen ? 2 : 1;
        if (widen) {
            widened.reserve((ChunkChars + EditRoom) * 2);
            widened.resize(tail->chars * 2);
            copyUnits(widened, true, 0, unitsOf(tail->data, false), 0, tail->chars);
        } else if (tail->data.capacity() < (tail->chars + intoTail) * unit) {
            tail->data.reserve((ChunkChars + EditRoom) * unit);
        }
    }
    // New chunk i takes the characters from fromOf(i) to fromOf(i + 1).
    std::vector<LogChunk> fresh((n - intoTail + ChunkChars - 1) / ChunkChars);
    auto fromOf = [intoTail, n](size_t i) { return std::min(n, intoTail + qsizetype(i) * ChunkChars); };
    for (size_t i = 0; i < fresh.size(); ++i) {
        LogChunk& c = fresh[i];
        c.wide = !allLatin1(text, fromOf(i), fromOf(i + 1));
        c.data = m_spill.buffer((ChunkChars + EditRoom) * (c.wide ? 2 : 1));
        c.id = m_text.newId();
    }
    reserveFor(chunks, fresh.size());
    if (tail)
        tail = &chunks.back(); // the reserve may have moved it

    auto write = [this, &text](LogChunk& c, qsizetype from, qsizetype to) {
        const qsizetype at = c.chars;
        c.data.resize((at + to - from) * (c.wide ? 2 : 1));
        copyUnits(c.data, c.wide, at, text, from, to - from);
        m_spill.addMemory((to - from) * (c.wide ? 2 : 1));
        m_text.touch(c);
        m_text.account(c, at, at + to - from, true);
    };
    if (intoTail > 0) {
        if (!widened.isNull()) {
            tail->data.swap(widened);
            tail->wide = true;
            m_spill.addMemory(tail->chars);
        }
        write(*tail, 0, intoTail);
    }
    for (size_t i = 0; i < fresh.size(); ++i) {
        LogChunk& c = fresh[i];
        c.start = m_text.size();
        c.firstLine = m_text.lfTotal();
        write(c, fromOf(i), fromOf(i + 1));
        chunks.push_back(std::move(c));
    }
    enforceWorkingSet();
}

// Only the chunks that hold the range are read and written again: the text
// before the range in the first one, the new text and the text after the
// range in the last one become one chunk, or several when that passes the
// split limit.
bool LogStore::replace(qsizetype from, qsizetype count, QStringView with, bool typing)
{
    from = std::clamp<qsizetype>(from, 0, m_text.size());
    count = std::clamp<qsizetype>(count, 0, m_text.size() - from);
    if (count == 0 && with.isEmpty())
        return false;
    const LogEdit made{from, count, with.size()};
    if (m_undo.active && joinsTyping(m_undo.edit, m_undo.typing, made, typing)) {
        edit(from, 0, with, nullptr);
        m_fullDisk.followEdit(from, 0, with.size());
        if (m_undo.active)
            m_undo.edit.inserted += with.size();
        return true;
    }
    LogUndo next;
    next.active = true;
    next.typing = typing;
    next.edit = made;
    next.markerSpans = m_fullDisk.markerSpans;
    edit(from, count, with, &next);
    m_fullDisk.followEdit(from, count, with.size());
    return false;
}

// What the edit took away goes to keep, which then takes the last undo's
// place; without one it goes. Nothing changes, the undo included, when an
// allocation fails.
void LogStore::edit(qsizetype from, qsizetype count, QStringView with, LogUndo* keep)
{
    std::vector<LogChunk>& chunks = m_text.list();
    ++m_revision;
    if (chunks.empty()) {
        appendText(unitsOf(with));
        if (keep)
            keepForUndo(*keep);
        return;
    }
    takeFailure(m_failAppends);

    const int a = m_text.chunkAt(from);
    const int b = count > 0 ? m_text.chunkAt(from + count - 1) : a;
    if (a == b && replaceInPlace(chunks[size_t(a)], from, count, with, keep)) {
        if (keep)
            keepForUndo(*keep);
        m_text.recomputeTotals();
        enforceWorkingSet();
        return;
    }
    QByteArray aBytes = m_text.bytesOf(a);
    QByteArray bBytes = m_text.bytesOf(b);
    const LogChunk& first = chunks[size_t(a)];
    const LogChunk& last = chunks[size_t(b)];
    const bool marker = first.marker;
    const Units ua = unitsOf(aBytes, first.wide);
    const Units ub = unitsOf(bBytes, last.wide);
    const Units uw = unitsOf(with);
    const qsizetype prefix = from - first.start;
    const qsizetype suffixFrom = from + count - last.start;
    const qsizetype suffixEnd = last.chars;
    const qsizetype total = prefix + with.size() + suffixEnd - suffixFrom;
    // One byte a character again when the edit took the last wide one away.
    const bool wide =
        !Latin1::fits(with) || !allLatin1(ua, 0, prefix) || !allLatin1(ub, suffixFrom, suffixEnd);
    // first and last are not used past here: the reserve below may move them.

    const qsizetype pieces = total > SplitChars ? (total + ChunkChars - 1) / ChunkChars : (total > 0);
    std::vector<LogChunk> made;
    made.resize(size_t(pieces));
    for (qsizetype i = 0; i < pieces; ++i) {
        LogChunk& c = made[size_t(i)];
        c.wide = wide;
        c.chars = total / pieces + (i < total % pieces);
        c.data = m_spill.buffer(c.chars * (wide ? 2 : 1));
        c.data.resize(c.chars * (wide ? 2 : 1));
        c.id = m_text.newId();
    }
    m_spill.reserveSlots(size_t(b - a + 1));
    reserveFor(chunks, made.size());
    if (keep) {
        keep->kept = LogUndo::Kept::Chunks;
        keep->start = chunks[size_t(a)].start;
        keep->chunks.reserve(size_t(b - a + 1));
    }

    size_t target = 0;
    qsizetype offset = 0;
    auto put = [&](const Units& src, qsizetype srcFrom, qsizetype n) {
        while (n > 0) {
            LogChunk& c = made[target];
            const qsizetype take = std::min(n, c.chars - offset);
            copyUnits(c.data, wide, offset, src, srcFrom, take);
            offset += take;
            srcFrom += take;
            n -= take;
            if (offset == c.chars) {
                ++target;
                offset = 0;
            }
        }
    };
    put(ua, 0, prefix);
    put(uw, 0, with.size());
    put(ub, suffixFrom, suffixEnd - suffixFrom);
    for (LogChunk& c : made) {
        const qsizetype chars = c.chars;
        c.chars = 0;
        m_text.account(c, 0, chars, false);
        m_text.touch(c);
        m_spill.addMemory(c.bytes());
    }
    if (!made.empty())
        made.front().marker = marker;

    aBytes = bBytes = QByteArray(); // the old buffers are free to be taken again
    // The old chunks go whole to the undo, where they are (memory or file),
    // or give their room back.
    for (int k = a; k <= b; ++k) {
        LogChunk& c = chunks[size_t(k)];
        if (keep)
            keep->chunks.push_back(std::move(c));
        else
            m_spill.release(c);
    }
    chunks.erase(chunks.begin() + a, chunks.begin() + b + 1);
    chunks.insert(chunks.begin() + a, std::make_move_iterator(made.begin()),
                  std::make_move_iterator(made.end()));
    if (keep)
        keepForUndo(*keep);
    m_spill.releaseUnusedFile();
    m_text.recomputeTotals();
    enforceWorkingSet();
}

// Puts the chunks kept back in place of the text the change made, or edits
// the text kept back. Neither reads or copies more than a chunk or two,
// however large the change was.
void LogStore::undo()
{
    std::vector<LogChunk>& chunks = m_text.list();
    if (!m_undo.active)
        return;
    takeFailure(m_failAppends);
    const LogEdit e = m_undo.edit;
    LogFullDisk::Spans spans = m_undo.markerSpans;
    if (m_undo.kept == LogUndo::Kept::Text) {
        QString removed;
        if (!m_undo.chunks.empty()) {
            const LogChunk& c = m_undo.chunks.front();
            const Units u = unitsOf(m_text.bytesOf(c), c.wide);
            removed =
                u.latin1 ? QString::fromLatin1(u.latin1, c.chars) : QString::fromUtf16(u.utf16, c.chars);
        }
        edit(e.from, e.inserted, removed, nullptr);
        endUndo();
        m_fullDisk.markerSpans = std::move(spans);
        return;
    }
    // The text the edit made runs from the first chunk it replaced, and
    // typing run on may have changed the chunks over it. Where a chunk at
    // either end reaches past it, that part is copied to stay.
    qsizetype kept = 0;
    for (const LogChunk& c : m_undo.chunks)
        kept += c.chars;
    const qsizetype start = m_undo.start;
    const qsizetype end = start + kept - e.removed + e.inserted;
    if (end > m_text.size()) {
        endUndo();
        throw KvError(KvErr::DeviceIO, QStringLiteral("The log changed since the edit"));
    }
    const size_t n = chunks.size();
    const size_t i = start >= m_text.size() ? n : size_t(m_text.chunkAt(start));
    size_t j = n;
    if (end < m_text.size()) {
        j = size_t(m_text.chunkAt(end));
        j += chunks[j].start < end;
    }
    LogChunk before;
    LogChunk after;
    if (i < n && chunks[i].start < start)
        before = copyOf(chunks[i], m_text.bytesOf(int(i)), chunks[i].start, start);
    if (j > i && chunks[j - 1].start + chunks[j - 1].chars > end)
        after =
            copyOf(chunks[j - 1], m_text.bytesOf(int(j - 1)), end, chunks[j - 1].start + chunks[j - 1].chars);
    std::vector<LogChunk>& restored = m_undo.chunks;
    restored.reserve(restored.size() + 2);
    reserveFor(chunks, restored.size() + 2);
    m_spill.reserveSlots(j - i);

    ++m_revision;
    // Back as it was before a clear, a full disk included.
    if (m_undo.cleared)
        m_fullDisk = *m_undo.cleared;
    else
        m_fullDisk.markerSpans = std::move(spans);
    m_spill.addMemory(before.bytes() + after.bytes());
    if (before.chars > 0)
        restored.insert(restored.begin(), std::move(before));
    if (after.chars > 0)
        restored.push_back(std::move(after));
    for (size_t k = i; k < j; ++k)
        m_spill.release(chunks[k]);
    chunks.erase(chunks.begin() + qsizetype(i), chunks.begin() + qsizetype(j));
    chunks.insert(chunks.begin() + qsizetype(i), std::make_move_iterator(restored.begin()),
                  std::make_move_iterator(restored.end()));
    m_undo = LogUndo();
    m_spill.releaseUnusedFile();
    m_text.recomputeTotals();
    enforceWorkingSet();
}

// A chunk of its own, in memory, with the text [from, to) of src, whose bytes
// are given. Its memory is counted when it takes its place.
LogChunk LogStore::copyOf(const LogChunk& src, const QByteArray& bytes, qsizetype from, qsizetype to)
{
    const qsizetype unit = src.wide ? 2 : 1;
    LogChunk c;
    c.wide = src.wide;
    c.id = m_text.newId();
    c.data = QByteArray(bytes.constData() + (from - src.start) * unit, (to - from) * unit);
    m_text.account(c, 0, to - from, false);
    m_text.touch(c);
    return c;
}

// The new undo takes the old one's place; the old one's text goes.
void LogStore::keepForUndo(LogUndo& undo)
{
    std::swap(m_undo, undo);
    discard(undo);
}

void LogStore::discard(LogUndo& undo)
{
    if (!undo.active)
        return;
    m_spill.letGo(undo.chunks);
    undo = LogUndo();
}

// A typed key, a deletion, a paste into a chunk in memory: the chunk changes
// where it is, without a new buffer. Returns false where that does not do:
// the chunk is in the file, would widen, would be emptied or would pass the
// split limit.
bool LogStore::replaceInPlace(LogChunk& c, qsizetype from, qsizetype count, QStringView with, LogUndo* keep)
{
    const qsizetype newChars = c.chars - count + with.size();
    if (!c.inMemory() || c.writing || !c.data.isDetached() || c.marker || newChars == 0 ||
        newChars > SplitChars || (!c.wide && !Latin1::fits(with)))
        return false;
    const qsizetype unit = c.wide ? 2 : 1;
    const qsizetype oldBytes = c.bytes();
    const qsizetype newBytes = newChars * unit;
    const qsizetype at = (from - c.start) * unit;
    // The text taken away, for undo: no more than a chunk holds.
    LogChunk removed;
    if (keep && count > 0) {
        removed = copyOf(c, c.data, from, from + count);
        keep->chunks.reserve(1);
    }
    // Room first, with some to spare for the next keys: a failure here changes nothing.
    if (c.data.capacity() < newBytes)
        c.data.reserve(newBytes + EditRoom * unit);
    const qsizetype tailFrom = at + count * unit;
    const qsizetype tailTo = at + with.size() * unit;
    if (newBytes > oldBytes)
        c.data.resize(newBytes);
    char* d = c.data.data();
    std::memmove(d + tailTo, d + tailFrom, size_t(oldBytes - tailFrom));
    c.data.resize(newBytes);
    copyUnits(c.data, c.wide, from - c.start, unitsOf(with), 0, with.size());
    c.resetCounts();
    m_text.account(c, 0, newChars, false);
    m_text.touch(c);
    m_spill.addMemory(newBytes - oldBytes);
    if (keep && count > 0) {
        m_spill.addMemory(removed.bytes());
        keep->chunks.push_back(std::move(removed));
    }
    return true;
}

// The chunks become the undo as they are, in memory and in the file, with
// what a full disk had set: nothing is copied or freed here. The next change
// lets them go, and a gigabyte of text, which takes the system most of a
// tenth of a second to free, goes with the file on a thread of their own.
void LogStore::clear()
{
    std::vector<LogChunk>& chunks = m_text.list();
    ++m_revision;
    if (!chunks.empty()) {
        LogUndo cleared;
        cleared.active = true;
        cleared.kept = LogUndo::Kept::Chunks;
        cleared.edit = {0, m_text.size(), 0};
        cleared.chunks = std::exchange(chunks, {});
        cleared.markerSpans = m_fullDisk.markerSpans;
        cleared.cleared = m_fullDisk;
        keepForUndo(cleared);
    }
    m_fullDisk = LogFullDisk();
    m_text.emptied();
}

// ---- memory and the file --------------------------------------------------------

void LogStore::enforceWorkingSet()
{
    collectWrites();
    if (m_fullDisk.full) {
        // The text an edit took away goes before any of the log's own.
        if (m_spill.memoryBytes() > m_spill.workingSet())
            endUndo();
        if (m_spill.memoryBytes() > m_spill.workingSet())
            dropToFit();
        return;
    }
    const QString failure = m_spill.makeRoom();
    if (!failure.isEmpty())
        enterDiskFull(failure);
}

void LogStore::settle()
{
    m_spill.waitForWrites();
    collectWrites();
    m_spill.waitForClosing();
}

// Chunks whose writes are done give their memory back. A write that failed
// means the file takes no more.
void LogStore::collectWrites()
{
    const QString failure = m_spill.collectWrites();
    if (!failure.isEmpty())
        enterDiskFull(failure);
}

// The file takes no more: from now on the newest text that fits the working
// set stays, and everything older gives way to one marker line.
void LogStore::enterDiskFull(const QString& reason)
{
    m_fullDisk.full = true;
    if (m_fullDisk.failure.isEmpty())
        m_fullDisk.failure = reason;
    endUndo(); // the file goes, and what it held for undo with it
    m_spill.stopWriting();
    dropToFit();
    m_spill.releaseFile();
    if (!m_fullDisk.said) {
        m_fullDisk.said = true;
        // Said after the change that ran into it, never from inside it.
        QMetaObject::invokeMethod(
            this, [this, reason] { emit diskFull(reason); }, Qt::QueuedConnection);
    }
}

void LogStore::dropToFit()
{
    LogFullDisk::Dropped gone;
    if (!m_fullDisk.dropToFit(m_text, m_spill, gone))
        return;
    ++m_revision;
    emit frontReplaced(gone.count, gone.markerChars, gone.lines, 1);
}
