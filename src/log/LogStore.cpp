#include "log/LogStore.h"

#include "log/LogWriter.h"

#include "platform/ByteSearch.h"
#include "platform/FileAt.h"
#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "platform/NumConv.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

#include <cerrno>

namespace {

// Chunks read back from the file at a time: a paint or a search needs one or two.
constexpr int CacheChunks = 4;
// Room in the file is handed out in steps of this, so that a chunk grown a
// little by an edit finds a freed place again.
constexpr qint64 SlotGrain = 64 * 1024;
constexpr qsizetype Unknown = -2;
// Room in the working set for text on its way to the file: a disk that falls
// behind this much holds up new text.
constexpr qint64 WriteQueueBytes = qint64(64) << 20;
// Room a chunk has beyond its text, for keys typed into it; untouched, it
// takes no memory.
constexpr qsizetype EditRoom = 64 * 1024;
// Room left in the working set for the marker line of dropped text, beside
// the cause it names.
constexpr qint64 MarkerRoom = 64;

// Text let go beyond this is freed on a thread of its own: the system takes
// milliseconds for it.
constexpr qint64 FreeAsideBytes = qint64(16) << 20;

// Loops over blocks of a fixed length: the compiler turns them into vector code.
constexpr qsizetype Block = 64;

// A chunk's characters, whichever width they are stored in; only the
// pointers and the length of a piece are used.
using Units = LogPiece;

Units unitsOf(const QByteArray& bytes, bool wide)
{
    Units u;
    if (wide)
        u.utf16 = reinterpret_cast<const char16_t*>(bytes.constData());
    else
        u.latin1 = bytes.constData();
    u.length = bytes.size() / (wide ? 2 : 1);
    return u;
}

Units unitsOf(QStringView text)
{
    Units u;
    u.utf16 = reinterpret_cast<const char16_t*>(text.utf16());
    u.length = text.size();
    return u;
}

qsizetype nextLf(const Units& u, qsizetype from, qsizetype to)
{
    if (from >= to)
        return -1;
    if (u.latin1) {
        const void* hit = std::memchr(u.latin1 + from, '\n', size_t(to - from));
        return hit ? static_cast<const char*>(hit) - u.latin1 : -1;
    }
    const qsizetype hit = QStringView(u.utf16 + from, to - from).indexOf(QChar(u'\n'));
    return hit < 0 ? -1 : from + hit;
}

template <typename Unit> qsizetype countIn(const Unit* p, qsizetype n)
{
    qsizetype count = 0;
    qsizetype i = 0;
    for (; i + Block <= n; i += Block) {
        int inBlock = 0;
        for (qsizetype j = 0; j < Block; ++j)
            inBlock += p[i + j] == Unit('\n');
        count += inBlock;
    }
    for (; i < n; ++i)
        count += p[i] == Unit('\n');
    return count;
}

qsizetype countLf(const Units& u, qsizetype from, qsizetype to)
{
    if (from >= to)
        return 0;
    if (u.latin1)
        return countIn(u.latin1 + from, to - from);
    return countIn(u.utf16 + from, to - from);
}

// The n-th LF at or after from (n from 1), -1 when there are fewer. Long
// stretches are counted in blocks rather than found one LF at a time.
qsizetype nthLf(const Units& u, qsizetype from, qsizetype to, qsizetype n)
{
    constexpr qsizetype Stride = 4096;
    while (n > 8 && to - from > Stride) {
        const qsizetype count = countLf(u, from, from + Stride);
        if (count >= n)
            break;
        n -= count;
        from += Stride;
    }
    qsizetype i = from - 1;
    for (; n > 0 && i < to; --n) {
        i = nextLf(u, i + 1, to);
        if (i < 0)
            return -1;
    }
    return i;
}

qsizetype previousLf(const Units& u, qsizetype from, qsizetype to)
{
    if (from >= to)
        return -1;
    if (u.latin1) {
        const qsizetype hit = ByteSearch::lastIndexOf(u.latin1 + from, to - from, '\n');
        return hit < 0 ? -1 : from + hit;
    }
    for (qsizetype i = to; i-- > from;)
        if (u[i] == u'\n')
            return i;
    return -1;
}

// The n-th LF before to, counting back (n from 1), -1 when there are fewer.
qsizetype nthLfBack(const Units& u, qsizetype from, qsizetype to, qsizetype n)
{
    constexpr qsizetype Stride = 4096;
    while (n > 8 && to - from > Stride) {
        const qsizetype count = countLf(u, to - Stride, to);
        if (count >= n)
            break;
        n -= count;
        to -= Stride;
    }
    qsizetype i = to;
    for (; n > 0; --n) {
        i = previousLf(u, from, i);
        if (i < 0)
            return -1;
    }
    return i;
}

bool allLatin1(const Units& u, qsizetype from, qsizetype to)
{
    if (u.latin1)
        return true;
    return Latin1::fits(QStringView(u.utf16 + from, to - from));
}

// Copies n characters into dst at character offset at, widening or narrowing
// as dst needs. Narrowing is only asked of characters that fit one byte.
void copyUnits(QByteArray& dst, bool wide, qsizetype at, const Units& src, qsizetype from, qsizetype n)
{
    if (n <= 0)
        return;
    if (wide) {
        auto* d = reinterpret_cast<char16_t*>(dst.data()) + at;
        if (src.utf16)
            std::memcpy(d, src.utf16 + from, size_t(n) * 2);
        else
            for (qsizetype i = 0; i < n; ++i)
                d[i] = char16_t(uchar(src.latin1[from + i]));
    } else {
        char* d = dst.data() + at;
        if (src.latin1) {
            std::memcpy(d, src.latin1 + from, size_t(n));
        } else {
            const char16_t* p = src.utf16 + from;
            qsizetype i = 0;
            for (; i + Block <= n; i += Block)
                for (qsizetype j = 0; j < Block; ++j)
                    d[i + j] = char(p[i + j]);
            for (; i < n; ++i)
                d[i] = char(p[i]);
        }
    }
}

// Why the log's file takes no more text, in words, with the system's
// description: error is the system's number (0 when not known), folder where
// the file is or was to be made.
QString fileFailure(int error, const QString& folder, const QString& description)
{
    const auto code = std::errc(error);
    bool noSpace = code == std::errc::no_space_on_device;
#ifdef EDQUOT
    noSpace = noSpace || error == EDQUOT;
#endif
    if (noSpace)
        return QStringLiteral("no space left on the device for the log's file (%1)").arg(description);
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted ||
        code == std::errc::read_only_file_system)
        return QStringLiteral("the folder %1 is not writable (%2)")
            .arg(QDir::toNativeSeparators(folder), description);
    return QStringLiteral("the log's file failed (%1)").arg(description);
}

// Grows a vector's room ahead of a change that must not fail half-way.
template <typename T> void reserveFor(std::vector<T>& v, size_t extra)
{
    if (v.size() + extra > v.capacity())
        v.reserve(std::max(v.size() + extra, v.capacity() * 2));
}

} // namespace

LogStore::LogStore(QObject* parent) : QObject(parent) {}

LogStore::~LogStore()
{
    waitForClosing();
}

void LogStore::waitForClosing()
{
    if (m_closing.joinable())
        m_closing.join();
}

void LogStore::takeFailure(int& counter) const
{
    if (counter > 0) {
        --counter;
        throw std::bad_alloc();
    }
}

void LogStore::failNextAllocations(int appends, int reads)
{
    m_failAppends = appends;
    m_failReads = reads;
}

void LogStore::setWorkingSetLimit(qint64 bytes)
{
    m_workingSet = bytes;
    enforceWorkingSet();
}

// ---- finding chunks ---------------------------------------------------------

int LogStore::chunkAt(qsizetype pos) const
{
    auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), pos,
                               [](qsizetype p, const Chunk& c) { return p < c.start; });
    return std::max(0, int(it - m_chunks.begin()) - 1);
}

// The chunk that holds the LF of the given number, counted from 1.
int LogStore::chunkOfLf(qsizetype number) const
{
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(),
                                   [number](const Chunk& c) { return c.firstLine + c.lf < number; });
    return int(it - m_chunks.begin());
}

QByteArray LogStore::bytesOf(int k) const
{
    const Chunk& c = m_chunks[size_t(k)];
    return c.inMemory() ? c.data : cached(c);
}

const QByteArray& LogStore::cached(const Chunk& c) const
{
    CacheEntry* entry = nullptr;
    for (CacheEntry& e : m_cache) {
        if (e.slot == c.slot) {
            e.lastUse = ++m_cacheSerial;
            return e.bytes;
        }
        if (!entry || e.lastUse < entry->lastUse)
            entry = &e;
    }
    if (m_cache.size() < CacheChunks) {
        m_cache.emplace_back();
        entry = &m_cache.back();
    }
    entry->slot = -1;
    entry->bytes.resize(c.bytes());
    // Read beside the writer's thread, which writes elsewhere in the file.
    if (const int error = m_file ? FileAt::read(*m_file, entry->bytes.data(), c.bytes(), c.slot) : 0)
        throw KvError(KvErr::DeviceIO,
                      QStringLiteral("The log's file could not be read: ") + qt_error_string(error));
    entry->slot = c.slot;
    entry->lastUse = ++m_cacheSerial;
    return entry->bytes;
}

// ---- reading ------------------------------------------------------------------

char16_t LogStore::at(qsizetype pos) const
{
    if (pos < 0 || pos >= m_size)
        return 0;
    int k = m_atChunk;
    if (k < 0 || size_t(k) >= m_chunks.size() || pos < m_chunks[size_t(k)].start ||
        pos >= m_chunks[size_t(k)].start + m_chunks[size_t(k)].chars)
        k = m_atChunk = chunkAt(pos);
    const Chunk& c = m_chunks[size_t(k)];
    const QByteArray& bytes = c.inMemory() ? c.data : cached(c);
    return unitsOf(bytes, c.wide)[pos - c.start];
}

bool LogStore::forEachPiece(qsizetype from, qsizetype to,
                            const std::function<bool(const LogPiece&)>& visit) const
{
    from = std::clamp<qsizetype>(from, 0, m_size);
    to = std::clamp<qsizetype>(to, from, m_size);
    for (int k = from < to ? chunkAt(from) : int(m_chunks.size()); size_t(k) < m_chunks.size(); ++k) {
        const Chunk& c = m_chunks[size_t(k)];
        if (c.start >= to)
            break;
        // A copy that shares the bytes keeps them valid while visit reads more.
        const QByteArray bytes = bytesOf(k);
        const qsizetype a = std::max(from, c.start) - c.start;
        const qsizetype b = std::min(to, c.start + c.chars) - c.start;
        LogPiece piece;
        piece.position = c.start + a;
        piece.length = b - a;
        const Units u = unitsOf(bytes, c.wide);
        if (u.latin1)
            piece.latin1 = u.latin1 + a;
        else
            piece.utf16 = u.utf16 + a;
        if (!visit(piece))
            return false;
    }
    return true;
}

QString LogStore::mid(qsizetype from, qsizetype count) const
{
    takeFailure(m_failReads);
    from = std::clamp<qsizetype>(from, 0, m_size);
    count = std::clamp<qsizetype>(count, 0, m_size - from);
    QString out;
    out.reserve(count);
    forEachPiece(from, from + count, [&out](const LogPiece& p) {
        if (p.latin1)
            out.append(QLatin1StringView(p.latin1, p.length));
        else
            out.append(QStringView(p.utf16, p.length));
        return true;
    });
    return out;
}

// ---- the line index -----------------------------------------------------------

qsizetype LogStore::lineEnd(qsizetype line, bool withBreak) const
{
    if (line >= lineCount() - 1)
        return m_size;
    const qsizetype next = lineStart(line + 1);
    if (withBreak)
        return next;
    const qsizetype lf = next - 1;
    return lf > lineStart(line) && at(lf - 1) == u'\r' ? lf - 1 : lf;
}

qsizetype LogStore::lineStart(qsizetype line) const
{
    if (line <= 0 || m_chunks.empty())
        return 0;
    if (line >= m_lfTotal)
        return m_lastLineStart;
    // The line starts after the LF of its number. Lookups come in runs of
    // neighbouring lines (a paint, a caret move): go on from the last one
    // when it is in the same chunk.
    if (m_cursor.lfBefore == line && m_cursor.chunk >= 0) {
        if (m_cursor.lineStart)
            return m_cursor.pos;
        // Back from a place on the line to its LF, when that is in the same chunk.
        const Chunk& c = m_chunks[size_t(m_cursor.chunk)];
        const QByteArray bytes = bytesOf(m_cursor.chunk);
        const qsizetype lf = previousLf(unitsOf(bytes, c.wide), 0, m_cursor.pos - c.start);
        if (lf >= 0) {
            m_cursor = {m_cursor.chunk, c.start + lf + 1, line, true};
            return m_cursor.pos;
        }
    }
    const int k = chunkOfLf(line);
    const Chunk& c = m_chunks[size_t(k)];
    // The LF is counted to from the nearest of the chunk's start, its end (a
    // paint at the end of a growing log) and the last lookup.
    qsizetype from = 0;
    qsizetype need = line - c.firstLine;
    qsizetype to = c.chars;
    qsizetype needBack = c.firstLine + c.lf - line + 1;
    if (m_cursor.chunk == k && m_cursor.pos >= c.start) {
        if (m_cursor.lfBefore < line && line - m_cursor.lfBefore < need) {
            from = m_cursor.pos - c.start;
            need = line - m_cursor.lfBefore;
        } else if (m_cursor.lfBefore >= line && m_cursor.lfBefore - line + 1 < needBack) {
            to = m_cursor.pos - c.start;
            needBack = m_cursor.lfBefore - line + 1;
        }
    }
    const QByteArray bytes = bytesOf(k);
    const Units u = unitsOf(bytes, c.wide);
    const qsizetype pos =
        c.start + (needBack < need ? nthLfBack(u, 0, to, needBack) : nthLf(u, from, c.chars, need)) + 1;
    m_cursor = {k, pos, line, true};
    return pos;
}

qsizetype LogStore::lineOf(qsizetype pos) const
{
    if (pos >= m_lastLineStart)
        return m_lfTotal;
    if (pos <= 0)
        return 0;
    const int k = chunkAt(pos);
    const Chunk& c = m_chunks[size_t(k)];
    const QByteArray bytes = bytesOf(k);
    const Units u = unitsOf(bytes, c.wide);
    const qsizetype offset = pos - c.start;
    // Counted from the last lookup, forwards or backwards, when that is
    // nearer than the chunk's start.
    const qsizetype known = m_cursor.pos - c.start;
    qsizetype line;
    if (m_cursor.chunk == k && known >= 0 && known <= c.chars && std::abs(offset - known) < offset)
        line = offset >= known ? m_cursor.lfBefore + countLf(u, known, offset)
                               : m_cursor.lfBefore - countLf(u, offset, known);
    else
        line = c.firstLine + countLf(u, 0, offset);
    m_cursor = {k, pos, line, false};
    return line;
}

qsizetype LogStore::lastCrLf() const
{
    if (m_lastCrLf != Unknown)
        return m_lastCrLf;
    m_lastCrLf = -1;
    for (size_t k = m_chunks.size(); k-- > 0;) {
        const Chunk& c = m_chunks[k];
        if (c.lastCrLfLf >= 0) {
            m_lastCrLf = c.start + c.lastCrLfLf - 1;
            break;
        }
        // A CR at the end of one chunk and the LF at the start of the next.
        if (k > 0 && c.first == u'\n' && m_chunks[k - 1].last == u'\r') {
            m_lastCrLf = c.start - 1;
            break;
        }
    }
    return m_lastCrLf;
}

qsizetype LogStore::lastIndexOf(QStringView needle) const
{
    if (needle == u"\r\n")
        return lastCrLf();
    const qsizetype m = needle.size();
    if (m == 0)
        return m_size;
    for (size_t k = m_chunks.size(); k-- > 0;) {
        const Chunk& c = m_chunks[k];
        // The chunk and the start of the next one, for a match that runs on.
        const QString window = mid(c.start, c.chars + m - 1);
        const qsizetype hit = window.lastIndexOf(needle, c.chars - 1);
        if (hit >= 0)
            return c.start + hit;
    }
    return -1;
}

std::vector<std::pair<qsizetype, qsizetype>> LogStore::wideSpans() const
{
    std::vector<std::pair<qsizetype, qsizetype>> spans;
    for (const Chunk& c : m_chunks) {
        if (!c.wide)
            continue;
        if (!spans.empty() && spans.back().second == c.start)
            spans.back().second += c.chars;
        else
            spans.emplace_back(c.start, c.start + c.chars);
    }
    return spans;
}

// Takes the characters [from, to) of a chunk into its counts; the counts
// already hold [0, from). With global set, the log's own counts follow too.
void LogStore::account(Chunk& c, qsizetype from, qsizetype to, bool global)
{
    const Units u = unitsOf(c.data, c.wide);
    qsizetype segment = from;
    for (qsizetype i = nextLf(u, from, to); i >= 0; i = nextLf(u, i + 1, to)) {
        // The CR of a CR LF belongs to the break, unless it is all the line has.
        const qsizetype raw = c.tail + (i - segment);
        const bool cr = raw > 0 && u[i - 1] == u'\r';
        if (c.lf == 0) {
            c.headRaw = raw;
            c.headCr = cr;
        } else {
            c.innerMax = std::max(c.innerMax, raw - cr);
        }
        if (cr)
            c.lastCrLfLf = i;
        if (global) {
            const qsizetype line = m_lineRun + (i - segment);
            const bool lineCr = line > 0 && (i > 0 ? u[i - 1] : m_lastChar) == u'\r';
            m_longest = std::max(m_longest, line - lineCr);
            if (lineCr && m_lastCrLf != Unknown)
                m_lastCrLf = c.start + i - 1;
            m_lineRun = 0;
            m_lastLineStart = c.start + i + 1;
            ++m_lfTotal;
        }
        ++c.lf;
        c.tail = 0;
        segment = i + 1;
    }
    c.tail += to - segment;
    if (from == 0 && to > 0)
        c.first = u[0];
    if (to > from)
        c.last = u[to - 1];
    c.chars = to;
    if (global && to > from) {
        m_lineRun += to - segment;
        m_lastChar = c.last;
        m_size += to - from;
    }
}

// Positions, line numbers and the longest line from the chunks' own counts.
void LogStore::recomputeTotals()
{
    qsizetype pos = 0;
    qsizetype lf = 0;
    qsizetype run = 0;
    qsizetype longest = 0;
    char16_t before = 0;
    for (Chunk& c : m_chunks) {
        c.start = pos;
        c.firstLine = lf;
        if (c.lf == 0) {
            run += c.chars;
        } else {
            qsizetype length = run + c.headRaw;
            if (c.headRaw > 0 ? c.headCr : (run > 0 && before == u'\r'))
                --length;
            longest = std::max({longest, length, c.innerMax});
            run = c.tail;
        }
        before = c.last;
        pos += c.chars;
        lf += c.lf;
    }
    m_size = pos;
    m_lfTotal = lf;
    m_lineRun = run;
    m_longest = longest;
    m_lastChar = before;
    m_lastLineStart = pos - run;
    m_lastCrLf = Unknown;
    m_cursor = Cursor();
    m_atChunk = -1;
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
    takeFailure(m_failAppends);

    // The rest of the last chunk first, then new chunks. Everything that needs
    // memory is taken before anything changes, so a failure changes nothing.
    Chunk* tail = nullptr;
    if (!m_chunks.empty()) {
        Chunk& last = m_chunks.back();
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
    std::vector<Chunk> fresh((n - intoTail + ChunkChars - 1) / ChunkChars);
    auto fromOf = [intoTail, n](size_t i) { return std::min(n, intoTail + qsizetype(i) * ChunkChars); };
    for (size_t i = 0; i < fresh.size(); ++i) {
        Chunk& c = fresh[i];
        c.wide = !allLatin1(text, fromOf(i), fromOf(i + 1));
        c.data = buffer((ChunkChars + EditRoom) * (c.wide ? 2 : 1));
        c.id = ++m_ids;
    }
    reserveFor(m_chunks, fresh.size());
    if (tail)
        tail = &m_chunks.back(); // the reserve may have moved it

    auto write = [this, &text](Chunk& c, qsizetype from, qsizetype to) {
        const qsizetype at = c.chars;
        c.data.resize((at + to - from) * (c.wide ? 2 : 1));
        copyUnits(c.data, c.wide, at, text, from, to - from);
        m_memoryBytes += (to - from) * (c.wide ? 2 : 1);
        c.lastUse = ++m_serial;
        account(c, at, at + to - from, true);
    };
    if (intoTail > 0) {
        if (!widened.isNull()) {
            tail->data.swap(widened);
            tail->wide = true;
            m_memoryBytes += tail->chars;
        }
        write(*tail, 0, intoTail);
    }
    for (size_t i = 0; i < fresh.size(); ++i) {
        Chunk& c = fresh[i];
        c.start = m_size;
        c.firstLine = m_lfTotal;
        write(c, fromOf(i), fromOf(i + 1));
        m_chunks.push_back(std::move(c));
    }
    enforceWorkingSet();
}

// Only the chunks that hold the range are read and written again: the text
// before the range in the first one, the new text and the text after the
// range in the last one become one chunk, or several when that passes the
// split limit.
bool LogStore::replace(qsizetype from, qsizetype count, QStringView with, bool typing)
{
    from = std::clamp<qsizetype>(from, 0, m_size);
    count = std::clamp<qsizetype>(count, 0, m_size - from);
    if (count == 0 && with.isEmpty())
        return false;
    const LogEdit& last = m_undo.edit;
    if (typing && m_undo.active && m_undo.typing && count == 0 && from == last.from + last.inserted) {
        edit(from, 0, with, false);
        followEdit(from, 0, with.size());
        if (m_undo.active)
            m_undo.edit.inserted += with.size();
        return true;
    }
    edit(from, count, with, true);
    followEdit(from, count, with.size());
    m_undo.typing = typing;
    return false;
}

// With keep, what the edit took away is kept for undo in place of the last
// edit's; nothing changes, the undo included, when an allocation fails.
void LogStore::edit(qsizetype from, qsizetype count, QStringView with, bool keep)
{
    ++m_revision;
    Undo next;
    next.active = true;
    next.edit = {from, count, with.size()};
    if (keep)
        next.markerSpans = m_markerSpans;
    if (m_chunks.empty()) {
        appendText(unitsOf(with));
        if (keep)
            keepForUndo(next);
        return;
    }
    takeFailure(m_failAppends);

    const int a = chunkAt(from);
    const int b = count > 0 ? chunkAt(from + count - 1) : a;
    if (a == b && replaceInPlace(m_chunks[size_t(a)], from, count, with, keep ? &next : nullptr)) {
        if (keep)
            keepForUndo(next);
        recomputeTotals();
        enforceWorkingSet();
        return;
    }
    QByteArray aBytes = bytesOf(a);
    QByteArray bBytes = bytesOf(b);
    const Chunk& first = m_chunks[size_t(a)];
    const Chunk& last = m_chunks[size_t(b)];
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
    std::vector<Chunk> made;
    made.resize(size_t(pieces));
    for (qsizetype i = 0; i < pieces; ++i) {
        Chunk& c = made[size_t(i)];
        c.wide = wide;
        c.chars = total / pieces + (i < total % pieces);
        c.data = buffer(c.chars * (wide ? 2 : 1));
        c.data.resize(c.chars * (wide ? 2 : 1));
        c.id = ++m_ids;
    }
    reserveFor(m_freeSlots, size_t(b - a + 1));
    reserveFor(m_chunks, made.size());
    if (keep) {
        next.whole = true;
        next.start = m_chunks[size_t(a)].start;
        next.chunks.reserve(size_t(b - a + 1));
    }

    size_t target = 0;
    qsizetype offset = 0;
    auto put = [&](const Units& src, qsizetype srcFrom, qsizetype n) {
        while (n > 0) {
            Chunk& c = made[target];
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
    for (Chunk& c : made) {
        const qsizetype chars = c.chars;
        c.chars = 0;
        account(c, 0, chars, false);
        c.lastUse = ++m_serial;
        m_memoryBytes += c.bytes();
    }
    if (!made.empty())
        made.front().marker = marker;

    aBytes = bBytes = QByteArray(); // the old buffers are free to be taken again
    // The old chunks go whole to the undo, where they are (memory or file),
    // or give their room back.
    for (int k = a; k <= b; ++k) {
        Chunk& c = m_chunks[size_t(k)];
        if (keep) {
            next.chunks.push_back(std::move(c));
            continue;
        }
        if (c.inMemory())
            m_memoryBytes -= c.bytes();
        recycle(c.data);
        freeSlot(c);
    }
    m_chunks.erase(m_chunks.begin() + a, m_chunks.begin() + b + 1);
    m_chunks.insert(m_chunks.begin() + a, std::make_move_iterator(made.begin()),
                    std::make_move_iterator(made.end()));
    if (keep)
        keepForUndo(next);
    releaseUnusedFile();
    recomputeTotals();
    enforceWorkingSet();
}

// Puts the whole chunks back in place of the text the edit made, or, after
// an edit inside one chunk, edits its text back. Neither reads or copies
// more than a chunk or two, however large the edit was.
void LogStore::undo()
{
    if (!m_undo.active)
        return;
    takeFailure(m_failAppends);
    const LogEdit e = m_undo.edit;
    Spans spans = m_undo.markerSpans;
    if (!m_undo.whole) {
        QString removed;
        if (!m_undo.chunks.empty()) {
            const Chunk& c = m_undo.chunks.front();
            const Units u = unitsOf(c.inMemory() ? c.data : cached(c), c.wide);
            removed =
                u.latin1 ? QString::fromLatin1(u.latin1, c.chars) : QString::fromUtf16(u.utf16, c.chars);
        }
        edit(e.from, e.inserted, removed, false);
        endUndo();
        m_markerSpans = std::move(spans);
        return;
    }
    // The text the edit made runs from the first chunk it replaced, and
    // typing run on may have changed the chunks over it. Where a chunk at
    // either end reaches past it, that part is copied to stay.
    qsizetype kept = 0;
    for (const Chunk& c : m_undo.chunks)
        kept += c.chars;
    const qsizetype start = m_undo.start;
    const qsizetype end = start + kept - e.removed + e.inserted;
    if (end > m_size) {
        endUndo();
        throw KvError(KvErr::DeviceIO, QStringLiteral("The log changed since the edit"));
    }
    const size_t n = m_chunks.size();
    const size_t i = start >= m_size ? n : size_t(chunkAt(start));
    size_t j = n;
    if (end < m_size) {
        j = size_t(chunkAt(end));
        j += m_chunks[j].start < end;
    }
    Chunk before;
    Chunk after;
    if (i < n && m_chunks[i].start < start)
        before = copyOf(m_chunks[i], bytesOf(int(i)), m_chunks[i].start, start);
    if (j > i && m_chunks[j - 1].start + m_chunks[j - 1].chars > end)
        after =
            copyOf(m_chunks[j - 1], bytesOf(int(j - 1)), end, m_chunks[j - 1].start + m_chunks[j - 1].chars);
    std::vector<Chunk>& restored = m_undo.chunks;
    restored.reserve(restored.size() + 2);
    reserveFor(m_chunks, restored.size() + 2);
    reserveFor(m_freeSlots, j - i);

    ++m_revision;
    m_markerSpans = std::move(spans);
    if (m_undo.cleared) {
        // Back as it was before the clear, a full disk included.
        m_diskFull = m_undo.diskFull;
        m_diskFullSaid = m_undo.diskFullSaid;
        m_failure = m_undo.failure;
        m_dropped = m_undo.dropped;
    }
    m_memoryBytes += before.bytes() + after.bytes();
    if (before.chars > 0)
        restored.insert(restored.begin(), std::move(before));
    if (after.chars > 0)
        restored.push_back(std::move(after));
    for (size_t k = i; k < j; ++k) {
        Chunk& c = m_chunks[k];
        if (c.inMemory())
            m_memoryBytes -= c.bytes();
        recycle(c.data);
        freeSlot(c);
    }
    m_chunks.erase(m_chunks.begin() + qsizetype(i), m_chunks.begin() + qsizetype(j));
    m_chunks.insert(m_chunks.begin() + qsizetype(i), std::make_move_iterator(restored.begin()),
                    std::make_move_iterator(restored.end()));
    m_undo = Undo();
    releaseUnusedFile();
    recomputeTotals();
    enforceWorkingSet();
}

// A chunk of its own, in memory, with the text [from, to) of src, whose bytes
// are given. Its memory is counted when it takes its place.
LogStore::Chunk LogStore::copyOf(const Chunk& src, const QByteArray& bytes, qsizetype from, qsizetype to)
{
    const qsizetype unit = src.wide ? 2 : 1;
    Chunk c;
    c.wide = src.wide;
    c.id = ++m_ids;
    c.data = QByteArray(bytes.constData() + (from - src.start) * unit, (to - from) * unit);
    account(c, 0, to - from, false);
    c.lastUse = ++m_serial;
    return c;
}

// The new undo takes the old one's place; the old one's text goes.
void LogStore::keepForUndo(Undo& undo)
{
    std::swap(m_undo, undo);
    discard(undo);
}

void LogStore::discard(Undo& undo)
{
    if (!undo.active)
        return;
    try {
        reserveFor(m_freeSlots, undo.chunks.size());
    } catch (const std::bad_alloc&) {
        // Their room in the file stays unused until the file is emptied.
        for (Chunk& c : undo.chunks)
            c.slot = -1;
    }
    qint64 inMemory = 0;
    for (Chunk& c : undo.chunks) {
        if (c.inMemory())
            inMemory += c.bytes();
        freeSlot(c);
    }
    m_memoryBytes -= inMemory;
    std::vector<Chunk> goes;
    if (inMemory > FreeAsideBytes)
        goes = std::move(undo.chunks);
    else
        for (Chunk& c : undo.chunks)
            recycle(c.data);
    undo = Undo();
    releaseUnusedFile(std::move(goes));
}

// Once no text lies in the file, its space goes back; text let go (goes)
// is freed with it.
void LogStore::releaseUnusedFile(std::vector<Chunk> goes)
{
    auto inFile = [](const Chunk& c) { return c.slot >= 0; };
    bool close = false;
    if (m_fileEnd > 0 && std::none_of(m_chunks.begin(), m_chunks.end(), inFile) &&
        std::none_of(m_undo.chunks.begin(), m_undo.chunks.end(), inFile)) {
        stopWriting(); // only writes of text that is gone wait there
        close = m_filePath.isEmpty();
        if (!close)
            m_file->resize(0);
        m_fileEnd = 0;
        m_freeSlots.clear();
        m_cache.clear();
    }
    letGoAside(close, std::move(goes));
}

// The system takes a good part of a second to free a gigabyte: text let go,
// and a temporary file, which has no name left, go on a thread of their own.
// The next write opens another file.
void LogStore::letGoAside(bool closeFile, std::vector<Chunk> text)
{
    if (!closeFile && text.empty())
        return;
    waitForClosing();
    std::shared_ptr<QFile> file;
    if (closeFile && m_file) {
        m_file->moveToThread(nullptr);
        file = std::move(m_file);
    }
    try {
        m_closing = std::thread([file = std::move(file), text = std::move(text)]() mutable {
            text.clear();
            file.reset();
        });
    } catch (const std::system_error&) {
        // No thread to be had: all went here.
    }
}

// A typed key, a deletion, a paste into a chunk in memory: the chunk changes
// where it is, without a new buffer. Returns false where that does not do:
// the chunk is in the file, would widen, would be emptied or would pass the
// split limit.
bool LogStore::replaceInPlace(Chunk& c, qsizetype from, qsizetype count, QStringView with, Undo* undo)
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
    Chunk removed;
    if (undo && count > 0) {
        removed = copyOf(c, c.data, from, from + count);
        undo->chunks.reserve(1);
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
    account(c, 0, newChars, false);
    c.lastUse = ++m_serial;
    m_memoryBytes += newBytes - oldBytes;
    if (undo && count > 0) {
        m_memoryBytes += removed.bytes();
        undo->chunks.push_back(std::move(removed));
    }
    return true;
}

// A buffer of at least the given room: the one a written chunk left, when
// there is one, since its pages are in place already.
QByteArray LogStore::buffer(qsizetype bytes)
{
    QByteArray b;
    if (!m_spare.isNull() && m_spare.capacity() >= bytes) {
        b.swap(m_spare);
        b.truncate(0);
    } else {
        b.reserve(bytes);
    }
    return b;
}

void LogStore::recycle(QByteArray& bytes)
{
    if (m_spare.isNull() && bytes.isDetached() && bytes.capacity() >= ChunkChars)
        m_spare.swap(bytes);
    bytes = QByteArray();
}

// The chunks become the undo as they are, in memory and in the file, with
// what a full disk had set: nothing is copied or freed here. The next change
// lets them go, and a gigabyte of text, which takes the system most of a
// tenth of a second to free, goes with the file on a thread of their own.
void LogStore::clear()
{
    ++m_revision;
    if (!m_chunks.empty()) {
        Undo cleared;
        cleared.active = cleared.whole = cleared.cleared = true;
        cleared.edit = {0, m_size, 0};
        cleared.chunks = std::exchange(m_chunks, {});
        cleared.markerSpans = std::exchange(m_markerSpans, {});
        cleared.diskFull = m_diskFull;
        cleared.diskFullSaid = m_diskFullSaid;
        cleared.failure = m_failure;
        cleared.dropped = m_dropped;
        keepForUndo(cleared);
    }
    m_diskFull = false;
    m_diskFullSaid = false;
    m_failure.clear();
    m_dropped = 0;
    recomputeTotals();
    m_lastCrLf = -1;
}

// ---- memory and the file --------------------------------------------------------

// Sends the chunks changed longest ago to the file once the text in memory
// passes the working set less some room for writes under way. The last chunk
// stays: appends go there. A chunk keeps its text until its write is done;
// only when the disk falls so far behind that the working set would not hold,
// this waits for it, and only for as much as it must.
void LogStore::enforceWorkingSet()
{
    collectWrites();
    if (m_diskFull) {
        // The text an edit took away goes before any of the log's own.
        if (m_memoryBytes > m_workingSet)
            endUndo();
        if (m_memoryBytes > m_workingSet)
            dropToFit();
        return;
    }
    const qint64 resident = m_workingSet - std::min(WriteQueueBytes, m_workingSet / 4);
    while (m_memoryBytes - m_writingBytes > resident) {
        // The text an edit took away first: only an undo reads it.
        Chunk* oldest = nullptr;
        auto consider = [&oldest](Chunk& c) {
            if (c.inMemory() && !c.writing && (!oldest || c.lastUse < oldest->lastUse))
                oldest = &c;
        };
        for (Chunk& c : m_undo.chunks)
            consider(c);
        if (!oldest)
            for (size_t k = 0; k + 1 < m_chunks.size(); ++k)
                consider(m_chunks[k]);
        if (!oldest)
            break;
        bool posted = false;
        QString reason;
        try {
            posted = startWrite(*oldest, reason);
        } catch (const std::bad_alloc&) {
            return; // the text is whole; the next change tries again
        }
        if (!posted) {
            enterDiskFull(reason);
            return;
        }
    }
    const qint64 over = m_memoryBytes - m_workingSet;
    if (m_writer && over > 0) {
        m_writer->waitUntilBelow(std::max<qint64>(0, m_writingBytes - over));
        collectWrites();
    }
}

void LogStore::settle()
{
    if (m_writer)
        m_writer->waitUntilBelow(0);
    collectWrites();
    waitForClosing();
}

// Chunks whose writes are done give their memory back. A write that failed
// means the file takes no more.
void LogStore::collectWrites()
{
    if (!m_writer)
        return;
    QString failure;
    for (const LogWriter::Done& done : m_writer->takeDone()) {
        if (!done.written) {
            failure = fileFailure(done.error, m_fileFolder, done.reason);
            continue;
        }
        // The chunk may have been edited or dropped meanwhile: then it is gone.
        // One an edit took away waits for undo.
        auto written = [&done](const Chunk& c) {
            return c.id == done.chunk && c.writing && c.slot == done.offset;
        };
        auto it = std::find_if(m_chunks.begin(), m_chunks.end(), written);
        if (it == m_chunks.end()) {
            it = std::find_if(m_undo.chunks.begin(), m_undo.chunks.end(), written);
            if (it == m_undo.chunks.end())
                continue;
        }
        it->writing = false;
        m_writingBytes -= it->bytes();
        m_memoryBytes -= it->bytes();
        recycle(it->data);
    }
    if (!failure.isEmpty())
        enterDiskFull(failure);
}

bool LogStore::startWrite(Chunk& c, QString& reason)
{
    if (!m_file && !openFile(reason))
        return false;
    if (!m_writer)
        m_writer = std::make_unique<LogWriter>(m_file.get(), [this] {
            QMetaObject::invokeMethod(
                this, [this] { collectWrites(); }, Qt::QueuedConnection);
        });
    const qint64 n = c.bytes();
    auto fit =
        std::find_if(m_freeSlots.begin(), m_freeSlots.end(), [n](const Slot& s) { return s.room >= n; });
    Slot slot{m_fileEnd, (n + SlotGrain - 1) / SlotGrain * SlotGrain};
    if (fit != m_freeSlots.end()) {
        slot = *fit;
    } else if (m_fileLimit >= 0 && m_fileEnd + slot.room > m_fileLimit) {
        reason = fileFailure(ENOSPC, m_fileFolder, qt_error_string(ENOSPC));
        return false;
    }
    m_writer->post(c.id, slot.offset, c.data);
    if (fit != m_freeSlots.end())
        m_freeSlots.erase(fit);
    else
        m_fileEnd += slot.room;
    c.slot = slot.offset;
    c.slotRoom = slot.room;
    c.writing = true;
    m_writingBytes += n;
    forgetCached(c.slot);
    return true;
}

// Qt's open leaves the system's number of a failure in errno, which tells
// its cause; the description is Qt's.
bool LogStore::openFile(QString& reason)
{
    if (!m_filePath.isEmpty()) {
        const QString folder = QFileInfo(m_filePath).absolutePath();
        auto file = std::make_unique<QFile>(m_filePath);
        errno = 0;
        if (!file->open(QIODevice::ReadWrite)) {
            reason = fileFailure(errno, folder, file->errorString());
            return false;
        }
        m_file = std::move(file);
        m_fileFolder = folder;
        return true;
    }
    // The user's cache folder, or the temporary one when that cannot be made.
    QStringList folders;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!cache.isEmpty() && QDir().mkpath(cache))
        folders << cache;
    folders << QDir::tempPath();
    for (const QString& folder : folders) {
        auto file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/kelvane-log-XXXXXX"));
        errno = 0;
        if (!file->open()) {
            reason = fileFailure(errno, folder, file->errorString());
            continue;
        }
#ifdef Q_OS_UNIX
        // No name at all where the system allows (Qt asks for an unnamed
        // file), else the name goes at once: the file lives as long as it is
        // open, so its space comes back when the window closes, even after a crash.
        const QString name = file->fileName();
        file->setAutoRemove(false);
        if (QFileInfo::exists(name))
            QFile::remove(name);
#endif
        m_file = std::move(file);
        m_fileFolder = folder;
        return true;
    }
    return false;
}

void LogStore::releaseFile()
{
    stopWriting();
    letGoAside(true);
    m_fileEnd = 0;
    m_freeSlots.clear();
    m_cache.clear();
    for (Chunk& c : m_chunks) {
        c.slot = -1;
        c.slotRoom = 0;
    }
}

// Writes still waiting are not made: their chunks keep their text in memory.
void LogStore::stopWriting()
{
    m_writer.reset();
    for (Chunk& c : m_chunks)
        c.writing = false;
    for (Chunk& c : m_undo.chunks)
        c.writing = false;
    m_writingBytes = 0;
}

// The chunk leaves its place in the file, or goes altogether.
void LogStore::freeSlot(Chunk& c)
{
    if (c.writing) {
        c.writing = false;
        m_writingBytes -= c.bytes();
    }
    if (c.slot < 0)
        return;
    forgetCached(c.slot);
    m_freeSlots.push_back({c.slot, c.slotRoom});
    c.slot = -1;
    c.slotRoom = 0;
}

void LogStore::forgetCached(qint64 slot)
{
    for (CacheEntry& e : m_cache)
        if (e.slot == slot)
            e.slot = -1;
}

// The file takes no more: from now on the newest text that fits the working
// set stays, and everything older gives way to one marker line.
void LogStore::enterDiskFull(const QString& reason)
{
    m_diskFull = true;
    if (m_failure.isEmpty())
        m_failure = reason;
    endUndo(); // the file goes, and what it held for undo with it
    stopWriting();
    dropToFit();
    releaseFile();
    if (!m_diskFullSaid) {
        m_diskFullSaid = true;
        // Said after the change that ran into it, never from inside it.
        QMetaObject::invokeMethod(
            this, [this, reason] { emit diskFull(reason); }, Qt::QueuedConnection);
    }
}

void LogStore::dropToFit()
{
    const int n = int(m_chunks.size());
    if (n == 0)
        return;
    const QByteArray cause = Latin1::escaped(m_failure);
    // The newest chunks that fit, at least the last one.
    int keep = n;
    qint64 kept = 0;
    while (keep > 0) {
        const Chunk& c = m_chunks[size_t(keep - 1)];
        if (c.marker || (keep < n && kept + c.bytes() > m_workingSet - MarkerRoom - cause.size()))
            break;
        kept += c.bytes();
        --keep;
    }
    // Kept chunks in the file come back to memory; one that cannot be read
    // goes with everything before it.
    for (int k = keep; k < n; ++k) {
        Chunk& c = m_chunks[size_t(k)];
        if (c.inMemory())
            continue;
        try {
            c.data = cached(c);
            m_memoryBytes += c.bytes();
        } catch (...) {
            keep = k + 1;
        }
    }
    const bool hadMarker = m_chunks.front().marker;
    if (keep == 0 || (keep == 1 && hadMarker))
        return;

    // Even the newest chunk may be unreadable: then nothing is kept.
    const qsizetype count = keep < n ? m_chunks[size_t(keep)].start : m_size;
    const qsizetype lines = keep < n ? m_chunks[size_t(keep)].firstLine : m_lfTotal;
    // What the user typed into the marker line counts; the marker's own text does not.
    qsizetype own = 0;
    for (const auto& [from, to] : m_markerSpans)
        own += std::max<qsizetype>(0, std::min(to, count) - from);
    const qint64 dropped = m_dropped + count - own;
    // The cause stays readable here however much text goes after it.
    const QByteArray text =
        "... " + CountText(dropped).toLatin1() + " characters dropped: " + cause + " ...\r\n";
    Chunk marker;
    marker.marker = true;
    marker.id = ++m_ids;
    marker.data = text;
    account(marker, 0, text.size(), false);

    m_dropped = dropped;
    m_markerSpans = {{0, text.size()}};
    ++m_revision;
    for (int k = 0; k < keep; ++k)
        if (m_chunks[size_t(k)].inMemory())
            m_memoryBytes -= m_chunks[size_t(k)].bytes();
    m_chunks.erase(m_chunks.begin(), m_chunks.begin() + keep);
    m_chunks.insert(m_chunks.begin(), std::move(marker));
    m_memoryBytes += m_chunks.front().bytes();
    recomputeTotals();
    emit frontReplaced(count, text.size(), lines, 1);
}

// The marker's own characters move with an edit before them, and those it
// takes away are no longer the marker's.
void LogStore::followEdit(qsizetype from, qsizetype count, qsizetype inserted)
{
    Spans spans;
    for (const auto& [a, b] : m_markerSpans) {
        if (a < from)
            spans.emplace_back(a, std::min(b, from));
        if (b > from + count)
            spans.emplace_back(std::max(a, from + count) + inserted - count, b + inserted - count);
    }
    m_markerSpans = std::move(spans);
}
