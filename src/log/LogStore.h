#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class LogWriter;
class QFile;

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

// A change of the text: at from, removed characters gave way to inserted ones.
struct LogEdit
{
    qsizetype from = 0;
    qsizetype removed = 0;
    qsizetype inserted = 0;
};

// The log's text, of any length, in bounded memory. The text lies in chunks of
// about a megabyte; the chunks changed last stay in memory, up to a working
// set, and older ones move to a temporary file of the store's own, written on
// a thread of its own (LogWriter) and read back through a small cache. Each
// chunk keeps its counts of characters and line feeds, so positions and lines
// are found without reading the text, and an edit rewrites only the chunks it
// touches. Everything else runs on the thread that owns the store.
//
// Characters stay one byte each while they are Latin-1; a chunk that holds
// anything beyond takes two bytes a character. Positions count characters
// from 0; a line ends with its LF (a CR right before it belongs to the break).
//
// When the file takes no more text (no space left on the device, its folder
// not writable, another file error), the store keeps the newest text that
// fits the working set and puts one marker line at the start in place of
// everything older: it counts the characters dropped and names the cause,
// with an escape (\u0444) for what has no Latin-1 form. The count goes by
// what was dropped, however the user edited the marker line.
// Failed allocations throw std::bad_alloc and leave the text as it was.
//
// The last replace, or a clear, can be undone, however large, until the text
// changes in any other way (an append, another edit, old text dropped). The
// text it took away is kept as chunks like any other, in memory or in the
// file: no copy of a large text is made, to keep it or to put it back.
class LogStore : public QObject
{
    Q_OBJECT

public:
    // Text kept in memory before older chunks go to the file.
    static constexpr qint64 WorkingSetBytes = qint64(256) << 20;
    // Appends fill chunks to this many characters.
    static constexpr qsizetype ChunkChars = qsizetype(1) << 20;
    // An edit splits a chunk that grows past this.
    static constexpr qsizetype SplitChars = 2 * ChunkChars;

    explicit LogStore(QObject* parent = nullptr);
    ~LogStore() override;

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    char16_t at(qsizetype pos) const;
    QString mid(qsizetype from, qsizetype count) const;
    // Hands the text of [from, to) to visit piece by piece, in order, until
    // visit returns false. Returns false when it was stopped.
    bool forEachPiece(qsizetype from, qsizetype to, const std::function<bool(const LogPiece&)>& visit) const;

    void append(QStringView text);
    void append(const QByteArray& bytes);
    // Hears of each text the program appends, once the store holds it (a
    // capture to a file); the user's edits are not appends. Empty for none.
    void setAppendTap(std::function<void(const LogPiece&)> tap) { m_appendTap = std::move(tap); }
    // Typing that goes on where the last typed edit ended joins it, as one
    // step to undo; returns whether it did.
    bool replace(qsizetype from, qsizetype count, QStringView with, bool typing = false);
    // Empties the text. Until the next change it can be undone; then the
    // text and the file go, off this thread.
    void clear();

    bool canUndo() const { return m_undo.active; }
    // Whether undo() would take back a clear.
    bool undoesClear() const { return m_undo.active && m_undo.cleared; }
    // The replace that undo() would take back; valid while canUndo().
    LogEdit lastEdit() const { return m_undo.edit; }
    // Puts back the text the last replace took away, in place of what it put there.
    void undo();

    qsizetype lineCount() const { return m_lfTotal + 1; }
    qsizetype lineStart(qsizetype line) const;
    // Where the line's text ends, before its break (a CR LF is one break), or
    // with the break when asked.
    qsizetype lineEnd(qsizetype line, bool withBreak = false) const;
    // The line that holds pos (the number of LFs before it).
    qsizetype lineOf(qsizetype pos) const;
    // Characters of the longest line, without its line break.
    qsizetype longestLine() const { return std::max(m_longest, m_lineRun); }
    // Position of the last CR LF, -1 when there is none.
    qsizetype lastCrLf() const;
    qsizetype lastIndexOf(QStringView needle) const;
    // Stretches [from, to) of chunks stored two bytes a character: the only
    // places that may hold characters beyond Latin-1.
    std::vector<std::pair<qsizetype, qsizetype>> wideSpans() const;
    // Goes up with every change that moves or removes text already there (an
    // edit, a clear, old text dropped); appends leave it. Work that reads
    // the text over several passes of the event loop checks it between them.
    quint64 revision() const { return m_revision; }

    // Bytes of text in memory and in the file.
    qint64 memoryBytes() const { return m_memoryBytes; }
    qint64 fileBytes() const { return m_fileEnd; }
    bool isDiskFull() const { return m_diskFull; }
    qint64 droppedCharacters() const { return m_dropped; }

    // For tests and benchmarks: a smaller working set, a file that stops
    // growing at a given size as a full disk would, and allocations that fail.
    void setWorkingSetLimit(qint64 bytes);
    qint64 workingSetLimit() const { return m_workingSet; }
    void setFileLimit(qint64 bytes) { m_fileLimit = bytes; }
    // A file to use in place of a temporary one (/dev/full: a disk that is full).
    void setFilePath(const QString& path) { m_filePath = path; }
    void failNextAllocations(int appends, int reads);
    // Waits until the chunks on their way to the file are written.
    void settle();

signals:
    // The first count characters (lines lines) of the text were replaced by
    // newCount characters (newLines lines): old text dropped at the start.
    void frontReplaced(qsizetype count, qsizetype newCount, qsizetype lines, qsizetype newLines);
    // The file could not take more text: reason names the cause, with the
    // system's description, as the marker line does. Said once until the
    // store is cleared.
    void diskFull(const QString& reason);

private:
    struct Chunk
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
    struct Slot
    {
        qint64 offset;
        qint64 room;
    };
    struct CacheEntry
    {
        qint64 slot = -1;
        QByteArray bytes;
        quint64 lastUse = 0;
    };
    using Spans = std::vector<std::pair<qsizetype, qsizetype>>;
    // The last replace, to be undone. whole: chunks holds the chunks the edit
    // replaced, the first of them at start; otherwise (an edit inside one
    // chunk) the text it took away, if any, in a chunk of its own. A clear
    // keeps all the chunks, and what it reset of a full disk.
    struct Undo
    {
        bool active = false;
        bool whole = false;
        bool typing = false;
        bool cleared = false;
        LogEdit edit;
        qsizetype start = 0;
        std::vector<Chunk> chunks;
        Spans markerSpans;
        bool diskFull = false;
        bool diskFullSaid = false;
        QString failure;
        qint64 dropped = 0;
    };
    // A known pair of a position and the LFs before it, for lookups nearby.
    struct Cursor
    {
        int chunk = -1;
        qsizetype pos = 0;
        qsizetype lfBefore = 0;
        bool lineStart = false;
    };

    int chunkAt(qsizetype pos) const;
    int chunkOfLf(qsizetype number) const;
    QByteArray bytesOf(int k) const;
    const QByteArray& cached(const Chunk& c) const;
    void takeFailure(int& counter) const;

    void account(Chunk& c, qsizetype from, qsizetype to, bool global);
    void appendUnits(const LogPiece& text);
    void appendText(const LogPiece& text);
    Chunk copyOf(const Chunk& src, const QByteArray& bytes, qsizetype from, qsizetype to);
    void edit(qsizetype from, qsizetype count, QStringView with, bool keep);
    bool replaceInPlace(Chunk& c, qsizetype from, qsizetype count, QStringView with, Undo* undo);
    void keepForUndo(Undo& undo);
    void discard(Undo& undo);
    void endUndo() { discard(m_undo); }
    void releaseUnusedFile(std::vector<Chunk> goes = {});
    void letGoAside(bool closeFile, std::vector<Chunk> text = {});
    void waitForClosing();
    QByteArray buffer(qsizetype bytes);
    void recycle(QByteArray& bytes);
    void recomputeTotals();
    void enforceWorkingSet();
    bool startWrite(Chunk& c, QString& reason);
    void collectWrites();
    void stopWriting();
    bool openFile(QString& reason);
    void releaseFile();
    void forgetCached(qint64 slot);
    void enterDiskFull(const QString& reason);
    void dropToFit();
    void followEdit(qsizetype from, qsizetype count, qsizetype inserted);
    void freeSlot(Chunk& c);

    std::vector<Chunk> m_chunks;
    qsizetype m_size = 0;
    qsizetype m_lfTotal = 0;
    qsizetype m_longest = 0; // of the lines that have their LF
    qsizetype m_lineRun = 0; // characters of the last line
    qsizetype m_lastLineStart = 0;
    char16_t m_lastChar = 0;
    mutable qsizetype m_lastCrLf = -1; // -2 not known since the last edit
    mutable Cursor m_cursor;
    mutable int m_atChunk = -1;

    qint64 m_memoryBytes = 0;
    QByteArray m_spare; // a written chunk's buffer, for the next new chunk
    qint64 m_workingSet = WorkingSetBytes;
    quint64 m_serial = 0;

    std::unique_ptr<QFile> m_file;
    qint64 m_fileEnd = 0;
    qint64 m_fileLimit = -1;
    QString m_filePath;
    QString m_fileFolder; // where the file is, for a failure's cause
    std::vector<Slot> m_freeSlots;
    // Declared after the file: it goes first.
    std::unique_ptr<LogWriter> m_writer;
    // Closes a file no longer used: giving back the room of a large one takes a while.
    std::thread m_closing;
    qint64 m_writingBytes = 0;
    quint64 m_ids = 0;
    mutable std::vector<CacheEntry> m_cache;
    mutable quint64 m_cacheSerial = 0;

    Undo m_undo;
    quint64 m_revision = 0;
    bool m_diskFull = false;
    bool m_diskFullSaid = false;
    QString m_failure; // the cause the marker names
    qint64 m_dropped = 0;
    // Where the marker's own characters are, as edits left them: a drop
    // counts every other character it takes.
    Spans m_markerSpans;

    int m_failAppends = 0;
    mutable int m_failReads = 0;
    std::function<void(const LogPiece&)> m_appendTap;
};
