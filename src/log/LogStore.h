#pragma once

#include "log/LogChunks.h"
#include "log/LogSpill.h"
#include "log/LogUndo.h"

#include <QObject>
#include <QString>

// The log's text, of any length, in bounded memory. The text lies in chunks of
// about a megabyte, each with its counts of characters and line feeds
// (LogChunks), so positions and lines are found without reading the text, and
// an edit rewrites only the chunks it touches. The chunks changed last stay in
// memory, up to a working set; older ones go to a file of the store's own
// (LogSpill). Everything else runs on the thread that owns the store.
//
// Characters stay one byte each while they are Latin-1; a chunk that holds
// anything beyond takes two bytes a character. Positions count characters
// from 0; a line ends with its LF (a CR right before it belongs to the break).
//
// When the file takes no more text, the store keeps the newest text that
// fits the working set behind one marker line (LogFullDisk).
// Failed allocations throw std::bad_alloc and leave the text as it was.
//
// The last replace, or a clear, can be undone, however large, until the text
// changes in any other way (an append, another edit, old text dropped); see
// LogUndo. The store edits the chunks and keeps these rooms in step.
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

    qsizetype size() const { return m_text.size(); }
    bool isEmpty() const { return m_text.size() == 0; }
    char16_t at(qsizetype pos) const { return m_text.at(pos); }
    QString mid(qsizetype from, qsizetype count) const { return m_text.mid(from, count); }
    // Hands the text of [from, to) to visit piece by piece, in order, until
    // visit returns false. Returns false when it was stopped.
    bool forEachPiece(qsizetype from, qsizetype to, const std::function<bool(const LogPiece&)>& visit) const
    {
        return m_text.forEachPiece(from, to, visit);
    }

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
    bool undoesClear() const { return m_undo.active && m_undo.cleared.has_value(); }
    // The replace that undo() would take back; valid while canUndo().
    LogEdit lastEdit() const { return m_undo.edit; }
    // Puts back the text the last replace took away, in place of what it put there.
    void undo();

    qsizetype lineCount() const { return m_text.lfTotal() + 1; }
    qsizetype lineStart(qsizetype line) const { return m_text.lineStart(line); }
    // Where the line's text ends, before its break (a CR LF is one break), or
    // with the break when asked.
    qsizetype lineEnd(qsizetype line, bool withBreak = false) const
    {
        return m_text.lineEnd(line, withBreak);
    }
    // The line that holds pos (the number of LFs before it).
    qsizetype lineOf(qsizetype pos) const { return m_text.lineOf(pos); }
    // Characters of the longest line, without its line break.
    qsizetype longestLine() const { return m_text.longestLine(); }
    // Position of the last CR LF, -1 when there is none.
    qsizetype lastCrLf() const { return m_text.lastCrLf(); }
    qsizetype lastIndexOf(QStringView needle) const { return m_text.lastIndexOf(needle); }
    // Stretches [from, to) of chunks stored two bytes a character: the only
    // places that may hold characters beyond Latin-1.
    std::vector<std::pair<qsizetype, qsizetype>> wideSpans() const { return m_text.wideSpans(); }
    // Goes up with every change that moves or removes text already there (an
    // edit, a clear, old text dropped); appends leave it. Work that reads
    // the text over several passes of the event loop checks it between them.
    quint64 revision() const { return m_revision; }

    // Bytes of text in memory and in the file.
    qint64 memoryBytes() const { return m_spill.memoryBytes(); }
    qint64 fileBytes() const { return m_spill.fileBytes(); }
    bool isDiskFull() const { return m_fullDisk.full; }
    qint64 droppedCharacters() const { return m_fullDisk.dropped; }

    // For tests and benchmarks: a smaller working set, a file that stops
    // growing at a given size as a full disk would, and allocations that fail.
    void setWorkingSetLimit(qint64 bytes);
    qint64 workingSetLimit() const { return m_spill.workingSet(); }
    void setFileLimit(qint64 bytes) { m_spill.setFileLimit(bytes); }
    // A file to use in place of a temporary one (/dev/full: a disk that is full).
    void setFilePath(const QString& path) { m_spill.setFilePath(path); }
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
    void appendUnits(const LogPiece& text);
    void appendText(const LogPiece& text);
    LogChunk copyOf(const LogChunk& src, const QByteArray& bytes, qsizetype from, qsizetype to);
    void edit(qsizetype from, qsizetype count, QStringView with, LogUndo* keep);
    bool replaceInPlace(LogChunk& c, qsizetype from, qsizetype count, QStringView with, LogUndo* keep);
    void keepForUndo(LogUndo& undo);
    void discard(LogUndo& undo);
    void endUndo() { discard(m_undo); }
    void enforceWorkingSet();
    void collectWrites();
    void enterDiskFull(const QString& reason);
    void dropToFit();

    // The undo's chunks are in the working set's care: declared first.
    LogUndo m_undo;
    LogChunks m_text;
    LogSpill m_spill;
    LogFullDisk m_fullDisk;
    quint64 m_revision = 0;
    int m_failAppends = 0;
    std::function<void(const LogPiece&)> m_appendTap;
};
