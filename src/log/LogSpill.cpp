#include "log/LogSpill.h"

#include "log/LogStore.h"

#include "platform/FileAt.h"
#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "platform/NumConv.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <new>

#include <cerrno>

namespace {

// Chunks read back from the file at a time: a paint or a search needs one or two.
constexpr int CacheChunks = 4;
// Room in the file is handed out in steps of this, so that a chunk grown a
// little by an edit finds a freed place again.
constexpr qint64 SlotGrain = 64 * 1024;

// Room in the working set for text on its way to the file: a disk that falls
// behind this much holds up new text.
constexpr qint64 WriteQueueBytes = qint64(64) << 20;

// Text let go beyond this is freed on a thread of its own: the system takes
// milliseconds for it.
constexpr qint64 FreeAsideBytes = qint64(16) << 20;

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

// Room left in the working set for the marker line of dropped text, beside
// the cause it names.
constexpr qint64 MarkerRoom = 64;


} // namespace

LogSpill::LogSpill(std::vector<LogChunk>& text, std::vector<LogChunk>& kept, qint64 workingSet,
                   std::function<void()> writesDone)
    : m_text(text), m_kept(kept), m_writesDone(std::move(writesDone)), m_workingSet(workingSet)
{
}

LogSpill::~LogSpill() = default;

const QByteArray& LogSpill::readBack(const LogChunk& c) const
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

// A buffer of at least the given room: the one a written chunk left, when
// there is one, since its pages are in place already.
QByteArray LogSpill::buffer(qsizetype bytes)
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

void LogSpill::recycle(QByteArray& bytes)
{
    if (m_spare.isNull() && bytes.isDetached() && bytes.capacity() >= LogStore::ChunkChars)
        m_spare.swap(bytes);
    bytes = QByteArray();
}

void LogSpill::releaseUnusedFile(std::vector<LogChunk> goes)
{
    auto inFile = [](const LogChunk& c) { return c.slot >= 0; };
    bool close = false;
    if (m_fileEnd > 0 && std::none_of(m_text.begin(), m_text.end(), inFile) &&
        std::none_of(m_kept.begin(), m_kept.end(), inFile)) {
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
void LogSpill::letGoAside(bool closeFile, std::vector<LogChunk> text)
{
    if (!closeFile && text.empty())
        return;
    std::shared_ptr<QFile> file;
    if (closeFile && m_file) {
        m_file->moveToThread(nullptr);
        file = std::move(m_file);
    }
    m_closing.run([file = std::move(file), text = std::move(text)]() mutable {
        text.clear();
        file.reset();
    });
}

// ---- the working set ------------------------------------------------------------

// The chunks changed longest ago go once the text in memory passes the
// working set less some room for writes under way. The last chunk stays:
// appends go there. A chunk keeps its text until its write is done; only when
// the disk falls so far behind that the working set would not hold, this
// waits for it, and only for as much as it must.
QString LogSpill::makeRoom()
{
    const qint64 resident = m_workingSet - std::min(WriteQueueBytes, m_workingSet / 4);
    while (m_memoryBytes - m_writingBytes > resident) {
        // The text an edit took away first: only an undo reads it.
        LogChunk* oldest = nullptr;
        auto consider = [&oldest](LogChunk& c) {
            if (c.inMemory() && !c.writing && (!oldest || c.lastUse < oldest->lastUse))
                oldest = &c;
        };
        for (LogChunk& c : m_kept)
            consider(c);
        if (!oldest)
            for (size_t k = 0; k + 1 < m_text.size(); ++k)
                consider(m_text[k]);
        if (!oldest)
            break;
        bool posted = false;
        QString reason;
        try {
            posted = startWrite(*oldest, reason);
        } catch (const std::bad_alloc&) {
            return {}; // the text is whole; the next change tries again
        }
        if (!posted)
            return reason;
    }
    const qint64 over = m_memoryBytes - m_workingSet;
    if (m_writer && over > 0) {
        m_writer->waitUntilBelow(std::max<qint64>(0, m_writingBytes - over));
        return collectWrites();
    }
    return {};
}

void LogSpill::waitForWrites()
{
    if (m_writer)
        m_writer->waitUntilBelow(0);
}

QString LogSpill::collectWrites()
{
    if (!m_writer)
        return {};
    QString failure;
    for (const LogWriter::Done& done : m_writer->takeDone()) {
        if (!done.written) {
            failure = fileFailure(done.error, m_fileFolder, done.reason);
            continue;
        }
        // The chunk may have been edited or dropped meanwhile: then it is gone.
        // One an edit took away waits for undo.
        auto written = [&done](const LogChunk& c) {
            return c.id == done.chunk && c.writing && c.slot == done.offset;
        };
        auto it = std::find_if(m_text.begin(), m_text.end(), written);
        if (it == m_text.end()) {
            it = std::find_if(m_kept.begin(), m_kept.end(), written);
            if (it == m_kept.end())
                continue;
        }
        it->writing = false;
        m_writingBytes -= it->bytes();
        m_memoryBytes -= it->bytes();
        recycle(it->data);
    }
    return failure;
}

bool LogSpill::startWrite(LogChunk& c, QString& reason)
{
    if (!m_file && !openFile(reason))
        return false;
    if (!m_writer)
        m_writer = std::make_unique<LogWriter>(m_file.get(), m_writesDone);
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
bool LogSpill::openFile(QString& reason)
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

void LogSpill::releaseFile()
{
    stopWriting();
    letGoAside(true);
    m_fileEnd = 0;
    m_freeSlots.clear();
    m_cache.clear();
    for (LogChunk& c : m_text) {
        c.slot = -1;
        c.slotRoom = 0;
    }
}

void LogSpill::stopWriting()
{
    m_writer.reset();
    for (LogChunk& c : m_text)
        c.writing = false;
    for (LogChunk& c : m_kept)
        c.writing = false;
    m_writingBytes = 0;
}

void LogSpill::freeSlot(LogChunk& c)
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

void LogSpill::release(LogChunk& c)
{
    if (c.inMemory())
        m_memoryBytes -= c.bytes();
    recycle(c.data);
    freeSlot(c);
}

void LogSpill::letGo(std::vector<LogChunk>& chunks)
{
    try {
        reserveFor(m_freeSlots, chunks.size());
    } catch (const std::bad_alloc&) {
        // Their room in the file stays unused until the file is emptied.
        for (LogChunk& c : chunks)
            c.slot = -1;
    }
    qint64 inMemory = 0;
    for (LogChunk& c : chunks) {
        if (c.inMemory())
            inMemory += c.bytes();
        freeSlot(c);
    }
    m_memoryBytes -= inMemory;
    std::vector<LogChunk> goes;
    if (inMemory > FreeAsideBytes)
        goes = std::move(chunks);
    else
        for (LogChunk& c : chunks)
            recycle(c.data);
    chunks.clear();
    releaseUnusedFile(std::move(goes));
}

void LogSpill::forgetCached(qint64 slot)
{
    for (CacheEntry& e : m_cache)
        if (e.slot == slot)
            e.slot = -1;
}

// ---- a full disk ---------------------------------------------------------------

bool LogFullDisk::dropToFit(LogChunks& text, LogSpill& spill, Dropped& gone)
{
    std::vector<LogChunk>& chunks = text.list();
    const int n = int(chunks.size());
    if (n == 0)
        return false;
    const QByteArray cause = Latin1::escaped(failure);
    // The newest chunks that fit, at least the last one.
    int keep = n;
    qint64 kept = 0;
    while (keep > 0) {
        const LogChunk& c = chunks[size_t(keep - 1)];
        if (c.marker || (keep < n && kept + c.bytes() > spill.workingSet() - MarkerRoom - cause.size()))
            break;
        kept += c.bytes();
        --keep;
    }
    // Kept chunks in the file come back to memory; one that cannot be read
    // goes with everything before it.
    for (int k = keep; k < n; ++k) {
        LogChunk& c = chunks[size_t(k)];
        if (c.inMemory())
            continue;
        try {
            c.data = spill.readBack(c);
            spill.addMemory(c.bytes());
        } catch (...) {
            keep = k + 1;
        }
    }
    const bool hadMarker = chunks.front().marker;
    if (keep == 0 || (keep == 1 && hadMarker))
        return false;

    // Even the newest chunk may be unreadable: then nothing is kept.
    const qsizetype count = keep < n ? chunks[size_t(keep)].start : text.size();
    const qsizetype lines = keep < n ? chunks[size_t(keep)].firstLine : text.lfTotal();
    // What the user typed into the marker line counts; the marker's own text does not.
    qsizetype own = 0;
    for (const auto& [from, to] : markerSpans)
        own += std::max<qsizetype>(0, std::min(to, count) - from);
    const qint64 total = dropped + count - own;
    // The cause stays readable here however much text goes after it.
    const QByteArray line =
        "... " + CountText(total).toLatin1() + " characters dropped: " + cause + " ...\r\n";
    LogChunk marker;
    marker.marker = true;
    marker.id = text.newId();
    marker.data = line;
    text.account(marker, 0, line.size(), false);

    dropped = total;
    markerSpans = {{0, line.size()}};
    for (int k = 0; k < keep; ++k)
        if (chunks[size_t(k)].inMemory())
            spill.addMemory(-chunks[size_t(k)].bytes());
    chunks.erase(chunks.begin(), chunks.begin() + keep);
    chunks.insert(chunks.begin(), std::move(marker));
    spill.addMemory(chunks.front().bytes());
    text.recomputeTotals();
    gone = {count, lines, line.size()};
    return true;
}

void LogFullDisk::followEdit(qsizetype from, qsizetype count, qsizetype inserted)
{
    Spans spans;
    for (const auto& [a, b] : markerSpans) {
        if (a < from)
            spans.emplace_back(a, std::min(b, from));
        if (b > from + count)
            spans.emplace_back(std::max(a, from + count) + inserted - count, b + inserted - count);
    }
    markerSpans = std::move(spans);
}
