#pragma once

#include "log/LogChunks.h"
#include "log/LogWriter.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QFile;

// The working set and the log's file. The chunks changed last stay in
// memory, up to the working set; older ones go to a temporary file of the
// store's own, written on a thread of its own (LogWriter), each in a slot of
// room that a freed chunk hands on, and come back through a small cache.
// Text let go, and a file no longer used, are freed off the caller's thread.
class LogSpill
{
public:
    // text: the log's chunks; kept: those an undo keeps. writesDone runs on
    // the writer's thread when writes are done: it should post, nothing more.
    LogSpill(std::vector<LogChunk>& text, std::vector<LogChunk>& kept, qint64 workingSet,
             std::function<void()> writesDone);
    ~LogSpill();

    qint64 memoryBytes() const { return m_memoryBytes; }
    void addMemory(qint64 bytes) { m_memoryBytes += bytes; }
    qint64 fileBytes() const { return m_fileEnd; }
    qint64 workingSet() const { return m_workingSet; }
    void setWorkingSet(qint64 bytes) { m_workingSet = bytes; }
    void setFileLimit(qint64 bytes) { m_fileLimit = bytes; }
    void setFilePath(const QString& path) { m_filePath = path; }

    // The bytes of a chunk in the file, read back.
    const QByteArray& readBack(const LogChunk& c) const;
    // A buffer of at least the given room, and one given back.
    QByteArray buffer(qsizetype bytes);
    void recycle(QByteArray& bytes);
    void reserveSlots(size_t extra) { reserveFor(m_freeSlots, extra); }
    // The chunk leaves its place in the file, or goes altogether.
    void freeSlot(LogChunk& c);
    // The chunk is gone from the text: its memory and its room in the file too.
    void release(LogChunk& c);
    // The chunks are gone (an undo no longer wanted); a lot of text is freed aside.
    void letGo(std::vector<LogChunk>& chunks);

    // Sends the chunks used longest ago to the file until the text in
    // memory fits. Both return why the file takes no more, or an empty text.
    QString makeRoom();
    QString collectWrites();
    void waitForWrites();
    void waitForClosing() { m_closing.wait(); }
    // Writes still waiting are not made: their chunks keep their text in memory.
    void stopWriting();
    // The file goes, and no chunk is in it any more.
    void releaseFile();
    // Once no text lies in the file, its space goes back; text let go (goes)
    // is freed with it.
    void releaseUnusedFile(std::vector<LogChunk> goes = {});

private:
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

    bool startWrite(LogChunk& c, QString& reason);
    bool openFile(QString& reason);
    void forgetCached(qint64 slot);
    void letGoAside(bool closeFile, std::vector<LogChunk> text = {});

    std::vector<LogChunk>& m_text;
    std::vector<LogChunk>& m_kept;
    const std::function<void()> m_writesDone;
    qint64 m_memoryBytes = 0;
    QByteArray m_spare; // a written chunk's buffer, for the next new chunk
    qint64 m_workingSet;

    std::unique_ptr<QFile> m_file;
    qint64 m_fileEnd = 0;
    qint64 m_fileLimit = -1;
    QString m_filePath;
    QString m_fileFolder; // where the file is, for a failure's cause
    std::vector<Slot> m_freeSlots;
    // Declared after the file: it goes first.
    std::unique_ptr<LogWriter> m_writer;
    // Closes a file no longer used: giving back the room of a large one takes a while.
    LetGoAside m_closing;
    qint64 m_writingBytes = 0;
    mutable std::vector<CacheEntry> m_cache;
    mutable quint64 m_cacheSerial = 0;
};

// What a full disk drops. When the file takes no more text (no space left
// on the device, its folder not writable, another file error), the newest
// text that fits the working set stays and one marker line at the start
// stands for everything older: it counts the characters dropped and names
// the cause, with an escape (\u0444) for what has no Latin-1 form. The count
// goes by what was dropped, however the user edited the marker line.
struct LogFullDisk
{
    using Spans = std::vector<std::pair<qsizetype, qsizetype>>;
    // The text of the front that gave way, and the marker that took its place.
    struct Dropped
    {
        qsizetype count = 0;
        qsizetype lines = 0;
        qsizetype markerChars = 0;
    };

    bool full = false;
    bool said = false;
    QString failure; // the cause the marker names
    qint64 dropped = 0;
    // Where the marker's own characters are, as edits left them: a drop
    // counts every other character it takes.
    Spans markerSpans;

    // Drops the oldest text that does not fit the working set; returns
    // whether any went, and what.
    bool dropToFit(LogChunks& text, LogSpill& spill, Dropped& gone);
    // The marker's own characters move with an edit before them, and those
    // it takes away are no longer the marker's.
    void followEdit(qsizetype from, qsizetype count, qsizetype inserted);
};
