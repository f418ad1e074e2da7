#include "log/LogChunks.h"

#include "log/LogSpill.h"

#include "platform/ByteSearch.h"
#include "platform/Latin1.h"

#include <cstring>

namespace {

constexpr qsizetype Unknown = -2;

// Loops over blocks of a fixed length: the compiler turns them into vector code.
constexpr qsizetype Block = 64;

qsizetype nextLf(const LogUnits& u, qsizetype from, qsizetype to)
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

qsizetype countLf(const LogUnits& u, qsizetype from, qsizetype to)
{
    if (from >= to)
        return 0;
    if (u.latin1)
        return countIn(u.latin1 + from, to - from);
    return countIn(u.utf16 + from, to - from);
}

// The n-th LF at or after from (n from 1), -1 when there are fewer. Long
// stretches are counted in blocks rather than found one LF at a time.
qsizetype nthLf(const LogUnits& u, qsizetype from, qsizetype to, qsizetype n)
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

qsizetype previousLf(const LogUnits& u, qsizetype from, qsizetype to)
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
qsizetype nthLfBack(const LogUnits& u, qsizetype from, qsizetype to, qsizetype n)
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

} // namespace

bool allLatin1(const LogUnits& u, qsizetype from, qsizetype to)
{
    if (u.latin1)
        return true;
    return Latin1::fits(QStringView(u.utf16 + from, to - from));
}

void copyUnits(QByteArray& dst, bool wide, qsizetype at, const LogUnits& src, qsizetype from, qsizetype n)
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

int LogChunks::chunkAt(qsizetype pos) const
{
    auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), pos,
                               [](qsizetype p, const LogChunk& c) { return p < c.start; });
    return std::max(0, int(it - m_chunks.begin()) - 1);
}

// The chunk that holds the LF of the given number, counted from 1.
int LogChunks::chunkOfLf(qsizetype number) const
{
    auto it = std::partition_point(m_chunks.begin(), m_chunks.end(),
                                   [number](const LogChunk& c) { return c.firstLine + c.lf < number; });
    return int(it - m_chunks.begin());
}

QByteArray LogChunks::bytesOf(int k) const
{
    return bytesOf(m_chunks[size_t(k)]);
}

const QByteArray& LogChunks::bytesOf(const LogChunk& c) const
{
    return c.inMemory() ? c.data : m_spill->readBack(c);
}

// ---- reading ------------------------------------------------------------------

char16_t LogChunks::at(qsizetype pos) const
{
    if (pos < 0 || pos >= m_size)
        return 0;
    int k = m_atChunk;
    if (k < 0 || size_t(k) >= m_chunks.size() || pos < m_chunks[size_t(k)].start ||
        pos >= m_chunks[size_t(k)].start + m_chunks[size_t(k)].chars)
        k = m_atChunk = chunkAt(pos);
    const LogChunk& c = m_chunks[size_t(k)];
    return unitsOf(bytesOf(c), c.wide)[pos - c.start];
}

bool LogChunks::forEachPiece(qsizetype from, qsizetype to,
                             const std::function<bool(const LogPiece&)>& visit) const
{
    from = std::clamp<qsizetype>(from, 0, m_size);
    to = std::clamp<qsizetype>(to, from, m_size);
    for (int k = from < to ? chunkAt(from) : int(m_chunks.size()); size_t(k) < m_chunks.size(); ++k) {
        const LogChunk& c = m_chunks[size_t(k)];
        if (c.start >= to)
            break;
        // A copy that shares the bytes keeps them valid while visit reads more.
        const QByteArray bytes = bytesOf(k);
        const qsizetype a = std::max(from, c.start) - c.start;
        const qsizetype b = std::min(to, c.start + c.chars) - c.start;
        LogPiece piece;
        piece.position = c.start + a;
        piece.length = b - a;
        const LogUnits u = unitsOf(bytes, c.wide);
        if (u.latin1)
            piece.latin1 = u.latin1 + a;
        else
            piece.utf16 = u.utf16 + a;
        if (!visit(piece))
            return false;
    }
    return true;
}

QString LogChunks::mid(qsizetype from, qsizetype count) const
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

qsizetype LogChunks::lineEnd(qsizetype line, bool withBreak) const
{
    if (line >= m_lfTotal)
        return m_size;
    const qsizetype next = lineStart(line + 1);
    if (withBreak)
        return next;
    const qsizetype lf = next - 1;
    return lf > lineStart(line) && at(lf - 1) == u'\r' ? lf - 1 : lf;
}

qsizetype LogChunks::lineStart(qsizetype line) const
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
        const LogChunk& c = m_chunks[size_t(m_cursor.chunk)];
        const QByteArray bytes = bytesOf(m_cursor.chunk);
        const qsizetype lf = previousLf(unitsOf(bytes, c.wide), 0, m_cursor.pos - c.start);
        if (lf >= 0) {
            m_cursor = {m_cursor.chunk, c.start + lf + 1, line, true};
            return m_cursor.pos;
        }
    }
    const int k = chunkOfLf(line);
    const LogChunk& c = m_chunks[size_t(k)];
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
    const LogUnits u = unitsOf(bytes, c.wide);
    const qsizetype pos =
        c.start + (needBack < need ? nthLfBack(u, 0, to, needBack) : nthLf(u, from, c.chars, need)) + 1;
    m_cursor = {k, pos, line, true};
    return pos;
}

qsizetype LogChunks::lineOf(qsizetype pos) const
{
    if (pos >= m_lastLineStart)
        return m_lfTotal;
    if (pos <= 0)
        return 0;
    const int k = chunkAt(pos);
    const LogChunk& c = m_chunks[size_t(k)];
    const QByteArray bytes = bytesOf(k);
    const LogUnits u = unitsOf(bytes, c.wide);
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

qsizetype LogChunks::lastCrLf() const
{
    if (m_lastCrLf != Unknown)
        return m_lastCrLf;
    m_lastCrLf = -1;
    for (size_t k = m_chunks.size(); k-- > 0;) {
        const LogChunk& c = m_chunks[k];
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

qsizetype LogChunks::lastIndexOf(QStringView needle) const
{
    if (needle == u"\r\n")
        return lastCrLf();
    const qsizetype m = needle.size();
    if (m == 0)
        return m_size;
    for (size_t k = m_chunks.size(); k-- > 0;) {
        const LogChunk& c = m_chunks[k];
        // The chunk and the start of the next one, for a match that runs on.
        const QString window = mid(c.start, c.chars + m - 1);
        const qsizetype hit = window.lastIndexOf(needle, c.chars - 1);
        if (hit >= 0)
            return c.start + hit;
    }
    return -1;
}

std::vector<std::pair<qsizetype, qsizetype>> LogChunks::wideSpans() const
{
    std::vector<std::pair<qsizetype, qsizetype>> spans;
    for (const LogChunk& c : m_chunks) {
        if (!c.wide)
            continue;
        if (!spans.empty() && spans.back().second == c.start)
            spans.back().second += c.chars;
        else
            spans.emplace_back(c.start, c.start + c.chars);
    }
    return spans;
}

void LogChunks::account(LogChunk& c, qsizetype from, qsizetype to, bool global)
{
    const LogUnits u = unitsOf(c.data, c.wide);
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

void LogChunks::recomputeTotals()
{
    qsizetype pos = 0;
    qsizetype lf = 0;
    qsizetype run = 0;
    qsizetype longest = 0;
    char16_t before = 0;
    for (LogChunk& c : m_chunks) {
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

void LogChunks::emptied()
{
    recomputeTotals();
    m_lastCrLf = -1;
}
