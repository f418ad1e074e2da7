#include "log/LogCapture.h"

#include "log/LogStore.h"
#include "log/LogWriter.h"
#include "platform/FileIdentity.h"
#include "platform/FileSync.h"
#include "platform/KvError.h"
#include "platform/Latin1.h"

#include <QFile>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Bytes wait this long at most before they go to the writer, or until a block is full.
constexpr int GatherMs = 100;
constexpr qsizetype BlockBytes = qsizetype(1) << 20;
// Something new is put on the disk after this long at most, and then at
// once, so it is there within a second of its coming.
constexpr qint64 SyncMs = 500;

// Why the record can no longer reach path: the file is gone from there (its
// folder removed, say), or another file took its place. Empty when it is there.
QString goneFrom(QFile& file, const QString& path)
{
    const std::optional<FileIdentity> there = identityAt(path);
    if (!there)
        return qt_error_string(ENOENT);
    try {
        const FileIdentity open = identityOf(file);
        if (open.device != there->device || open.inode != there->inode)
            return QStringLiteral("another file took its place");
    } catch (const KvError&) {
        // The system cannot tell: the writes tell of any failure.
    }
    return QString();
}

} // namespace

LogCapture::LogCapture(LogStore* store) : QObject(store), m_store(store)
{
    store->setAppendTap([this](const LogPiece& piece) { take(piece); });
}

LogCapture::~LogCapture()
{
    if (m_store)
        m_store->setAppendTap({});
    if (!m_writer)
        return;
    flush();
    m_writer->waitUntilBelow(0);
    m_writer.reset();
    FileSync::sync(*m_file);
}

QString LogCapture::start(const QString& path, bool append)
{
    if (m_writer)
        return QStringLiteral("a capture is under way");
    // Opening a named pipe for writing waits for a reader, and the window with it.
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_type type = fs::status(fs::path(path.toStdU16String()), error).type();
    if (type == fs::file_type::fifo || type == fs::file_type::socket)
        return QStringLiteral("it is a named pipe or a socket, not a file");
    auto file = std::make_unique<QFile>(path);
    if (!file->open(append ? QIODevice::WriteOnly | QIODevice::Append
                           : QIODevice::WriteOnly | QIODevice::Truncate))
        return file->errorString();
    m_file = std::move(file);
    m_path = path;
    m_start = append ? m_file->size() : 0;
    m_taken = m_written = m_syncedTo = 0;
    m_reason.clear();
    m_ending = false;
    m_outstanding = 0;
    m_unsynced = false;
    m_writer = std::make_unique<LogWriter>(m_file.get(), [this] {
        QMetaObject::invokeMethod(
            this, [this] { collect(); }, Qt::QueuedConnection);
    });
    m_writer->stopAtFailure();
    m_sinceSync.start();
    m_taking = true;
    return QString();
}

void LogCapture::stop()
{
    if (!m_taking)
        return;
    m_taking = false;
    m_ending = true;
    flush();
    postSync();
}

void LogCapture::note(QStringView text)
{
    if (!m_taking)
        return;
    const QByteArray bytes = Latin1::escaped(text);
    take(bytes.constData(), bytes.size());
}

void LogCapture::take(const LogPiece& piece)
{
    if (!m_taking)
        return;
    if (piece.latin1) {
        take(piece.latin1, piece.length);
        return;
    }
    try {
        const QByteArray bytes = Latin1::escaped(QStringView(piece.utf16, piece.length));
        take(bytes.constData(), bytes.size());
    } catch (const std::bad_alloc& e) {
        end(KvErr::describe(e));
    }
}

// Runs inside the store's append: a failure here is the capture's, never the log's.
void LogCapture::take(const char* data, qsizetype size)
{
    try {
        if (m_pending.isNull()) {
            if (!m_spare.empty()) {
                m_pending.swap(m_spare.back());
                m_spare.pop_back();
                m_pending.resize(0); // keeps its room
            }
            m_pending.reserve(BlockBytes);
        }
        m_pending.append(data, size);
        m_taken += size;
        if (m_pending.size() >= BlockBytes)
            flush();
        if (m_taking && !m_timer.isActive())
            m_timer.start(GatherMs, this);
    } catch (const std::bad_alloc& e) {
        end(KvErr::describe(e));
    }
}

void LogCapture::flush()
{
    if (m_pending.isEmpty() || !m_writer)
        return;
    if (m_writer->waiting() + m_pending.size() > m_backlogLimit) {
        end(QStringLiteral("the disk fell more than %1 MB behind").arg(m_backlogLimit >> 20));
        return;
    }
    m_writer->post(++m_jobs, m_start + m_taken - m_pending.size(), m_pending);
    ++m_outstanding;
    m_posted.push_back(std::move(m_pending));
    m_pending = QByteArray();
    m_unsynced = true;
}

void LogCapture::postSync()
{
    if (!m_writer)
        return;
    const qint64 slowMs = m_slowDisk > 0 ? (m_taken - m_syncedTo) * 1000 / m_slowDisk : 0;
    m_syncedTo = m_taken;
    m_writer->postSync(++m_jobs, [file = m_file.get(), path = m_path, slowMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        return goneFrom(*file, path);
    });
    ++m_outstanding;
    m_unsynced = false;
    m_sinceSync.restart();
}

void LogCapture::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    flush();
    if (m_unsynced && m_sinceSync.elapsed() >= SyncMs)
        postSync();
    if (!m_unsynced && m_pending.isEmpty())
        m_timer.stop();
}

// Runs when the writer has news: blocks written, the file on the disk, or a failure.
void LogCapture::collect()
{
    if (!m_writer)
        return;
    for (const LogWriter::Done& done : m_writer->takeDone()) {
        --m_outstanding;
        if (!done.written) {
            // The writer made nothing after it: what is in the file is whole.
            m_outstanding = 0;
            end(done.reason, true);
            break;
        }
        if (done.offset >= 0 && !m_posted.empty()) {
            m_written += m_posted.front().size();
            m_spare.push_back(std::move(m_posted.front()));
            m_posted.pop_front();
            if (m_spare.size() > 2)
                m_spare.erase(m_spare.begin());
        }
    }
    if (m_ending && m_outstanding == 0)
        finish();
}

void LogCapture::end(const QString& reason, bool writerFailed)
{
    m_taking = false;
    if (m_ending && !m_reason.isEmpty())
        return;
    m_ending = true;
    m_reason = reason;
    m_pending = QByteArray();
    m_outstanding -= std::min(m_outstanding, m_writer->dropWaiting());
    // What was written goes on the disk, unless the writer has stopped.
    if (!writerFailed)
        postSync();
    if (m_outstanding == 0)
        QMetaObject::invokeMethod(
            this, [this] { finish(); }, Qt::QueuedConnection);
}

void LogCapture::finish()
{
    if (!m_writer)
        return;
    m_timer.stop();
    m_writer.reset();
    m_file.reset();
    m_posted.clear();
    m_spare.clear();
    m_ending = false;
    emit stopped(m_path, m_written, m_start + m_written, m_reason);
}
