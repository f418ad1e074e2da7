#pragma once

#include <QString>

#include <utility>
#include <vector>

class LogChunks;
class LogSpill;

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
