#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <functional>
#include <new>
#include <utility>
#include <vector>

class LogSpill;

// A stretch of the log's characters as the store holds them: one byte each
// (Latin-1) or two (UTF-16). Valid only during the call that hands it out.
struct LogPiece
{
    qsizetype position = 0;
    qsizetype length = 0;
    const char* latin1 = nullptr;
    const char16_t* utf16 = nullptr;

    // The character at i, whichever width the piece is stored in.
    char16_t operator[](qsizetype i) const { return latin1 ? char16_t(uchar(latin1[i])) : utf16[i]; }
};

// A chunk's characters, whichever width they are stored in; only the
// pointers and the length of a piece are used.
using LogUnits = LogPiece;

inline LogUnits unitsOf(const QByteArray& bytes, bool wide)
{
    LogUnits u;
    if (wide)
        u.utf16 = reinterpret_cast<const char16_t*>(bytes.constData());
    else
        u.latin1 = bytes.constData();
    u.length = bytes.size() / (wide ? 2 : 1);
    return u;
}

// Whether [from, to) of u is all Latin-1.
bool allLatin1(const LogUnits& u, qsizetype from, qsizetype to);
// Copies n characters into dst at character offset at, widening or narrowing
// as dst needs. Narrowing is only asked of characters that fit one byte.
void copyUnits(QByteArray& dst, bool wide, qsizetype at, const LogUnits& src, qsizetype from, qsizetype n);

// A test's failing allocation: throws while the counter lasts.
inline void takeFailure(int& counter)
{
    if (counter > 0) {
        --counter;
        throw std::bad_alloc();
    }
}

// Grows a vector's room ahead of a change that must not fail half-way.
template <typename T> void reserveFor(std::vector<T>& v, size_t extra)
{
    if (v.size() + extra > v.capacity())
        v.reserve(std::max(v.size() + extra, v.capacity() * 2));
}

// About a megabyte of the log's text, in memory, in the log's file or both
// (while its write is under way), with the counts that find positions and
// lines in it without reading it.
struct LogChunk
{
    qsizetype start = 0;     // position of the first character
    qsizetype firstLine = 0; // LFs before the chunk
    qsizetype chars = 0;
    qsizetype lf = 0;
    // Before the first LF: characters, and whether a CR ends them.
    qsizetype headRaw = 0;
    bool headCr = false;
    // The longest line that starts and ends in the chunk, without its break.
    qsizetype innerMax = 0;
    // Characters after the last LF (all of them when there is none).
    qsizetype tail = 0;
    // Offset of the last LF with a CR before it in the chunk; -1 none.
    qsizetype lastCrLfLf = -1;
    char16_t first = 0;
    char16_t last = 0;
    bool wide = false;
    bool marker = false;
    QByteArray data;  // the bytes while in memory
    qint64 slot = -1; // place in the file, and its room
    qint64 slotRoom = 0;
    quint64 lastUse = 0;
    quint64 id = 0;
    bool writing = false; // its bytes are on their way to the file

    qint64 bytes() const { return qint64(chars) * (wide ? 2 : 1); }
    // Counts as for no text, before the chunk's text is counted again.
    void resetCounts()
    {
        chars = lf = headRaw = innerMax = tail = 0;
        headCr = false;
        lastCrLfLf = -1;
    }
    bool inMemory() const { return !data.isNull(); }
};

// The log's text as a table of chunks, and the counts over them: positions,
// lines, the longest line, the last CR LF. Lookups go from the chunks' own
// counts and read one chunk at most; what is in the file comes back through
// the working set's cache.
class LogChunks
{
public:
    explicit LogChunks(const LogSpill* spill) : m_spill(spill) {}

    std::vector<LogChunk>& list() { return m_chunks; }
    const std::vector<LogChunk>& list() const { return m_chunks; }
    qsizetype size() const { return m_size; }
    qsizetype lfTotal() const { return m_lfTotal; }
    qsizetype longestLine() const { return std::max(m_longest, m_lineRun); }

    int chunkAt(qsizetype pos) const;
    QByteArray bytesOf(int k) const;
    const QByteArray& bytesOf(const LogChunk& c) const;
    char16_t at(qsizetype pos) const;
    QString mid(qsizetype from, qsizetype count) const;
    bool forEachPiece(qsizetype from, qsizetype to, const std::function<bool(const LogPiece&)>& visit) const;

    qsizetype lineStart(qsizetype line) const;
    qsizetype lineEnd(qsizetype line, bool withBreak) const;
    qsizetype lineOf(qsizetype pos) const;
    qsizetype lastCrLf() const;
    qsizetype lastIndexOf(QStringView needle) const;
    std::vector<std::pair<qsizetype, qsizetype>> wideSpans() const;

    // Takes the characters [from, to) of a chunk into its counts; the counts
    // already hold [0, from). With global set, the log's own counts follow too.
    void account(LogChunk& c, qsizetype from, qsizetype to, bool global);
    // Positions, line numbers and the longest line from the chunks' own counts.
    void recomputeTotals();
    // The counts of no text at all, with no CR LF to look for.
    void emptied();
    quint64 newId() { return ++m_ids; }
    // Marks the chunk used last, for the working set.
    void touch(LogChunk& c) { c.lastUse = ++m_serial; }
    void failNextReads(int reads) { m_failReads = reads; }

private:
    // A known pair of a position and the LFs before it, for lookups nearby.
    struct Cursor
    {
        int chunk = -1;
        qsizetype pos = 0;
        qsizetype lfBefore = 0;
        bool lineStart = false;
    };

    int chunkOfLf(qsizetype number) const;

    const LogSpill* const m_spill;
    std::vector<LogChunk> m_chunks;
    qsizetype m_size = 0;
    qsizetype m_lfTotal = 0;
    qsizetype m_longest = 0; // of the lines that have their LF
    qsizetype m_lineRun = 0; // characters of the last line
    qsizetype m_lastLineStart = 0;
    char16_t m_lastChar = 0;
    mutable qsizetype m_lastCrLf = -1; // -2 not known since the last edit
    mutable Cursor m_cursor;
    mutable int m_atChunk = -1;
    quint64 m_serial = 0;
    quint64 m_ids = 0;
    mutable int m_failReads = 0;
};
