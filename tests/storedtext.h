#pragma once

// Logs held in a LogStore, all in memory or mostly in its file, for the tests
// of what reads the store.

#include "log/LogStore.h"

#include <memory>

namespace StoredText {

constexpr qsizetype Chunk = LogStore::ChunkChars;
// A working set this small sends all but the newest chunk or two to the file.
constexpr qint64 Spilling = qint64(3) * Chunk / 2;
constexpr qint64 InMemory = LogStore::WorkingSetBytes;

inline const char* residence(qint64 workingSet)
{
    return workingSet == InMemory ? "memory" : "file";
}

// The text appended in pieces of a few hundred KB, and written to the file as far as it goes.
inline std::unique_ptr<LogStore> storeOf(const QString& text, qint64 workingSet)
{
    constexpr qsizetype Piece = 300000;
    auto store = std::make_unique<LogStore>();
    store->setWorkingSetLimit(workingSet);
    for (qsizetype i = 0; i < text.size(); i += Piece)
        store->append(QStringView(text).mid(i, Piece));
    store->settle();
    return store;
}

} // namespace StoredText
