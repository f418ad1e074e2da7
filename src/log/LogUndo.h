#pragma once

#include "log/LogSpill.h"

#include <optional>
#include <vector>

// A change of the text: at from, removed characters gave way to inserted ones.
struct LogEdit
{
    qsizetype from = 0;
    qsizetype removed = 0;
    qsizetype inserted = 0;
};

// Typed keys make one step to undo: a typed edit that takes nothing away
// joins the typed one before it when it goes on where that one ended. The
// log and the line box keep their steps each their own way.
inline bool joinsTyping(const LogEdit& last, bool lastTyped, const LogEdit& next, bool nextTyped)
{
    return nextTyped && lastTyped && next.removed == 0 && next.from == last.from + last.inserted;
}

// The one step the log can take back: the last replace, or a clear. Undo
// puts back the text the change took away in place of the text it made
// (edit.inserted characters at edit.from). Nothing large is copied to keep
// that text: it is kept where it was, as chunks like any other.
struct LogUndo
{
    // How the text taken away is kept. Chunks: the chunks the change
    // replaced, whole, the first of them at start. Text: an edit inside one
    // chunk keeps only the text it took away, in a chunk of its own (none
    // when it took nothing).
    enum class Kept
    {
        Chunks,
        Text
    };

    bool active = false;
    // Typed keys made it: more typed where it ended joins it.
    bool typing = false;
    Kept kept = Kept::Text;
    LogEdit edit;
    qsizetype start = 0;
    std::vector<LogChunk> chunks;
    // The marker's characters before the change.
    LogFullDisk::Spans markerSpans;
    // A clear: what it reset of a full disk, put back with the text.
    std::optional<LogFullDisk> cleared;
};
