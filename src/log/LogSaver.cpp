#include "log/LogSaver.h"

#include "log/LogStore.h"
#include "platform/KvError.h"
#include "platform/Latin1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QStringEncoder>
#include <QTimerEvent>

#include <algorithm>

namespace {

// A pass of the event loop gathers about this long, well within a frame.
constexpr qint64 SliceMs = 15;
// Bytes handed to the writer and not yet written: gathering waits beyond this.
constexpr qint64 InFlightBytes = 8 * LogSaver::BlockChars;

// Appends Latin-1 text as UTF-8: two bytes for each character from 0x80 on.
void appendLatin1AsUtf8(QByteArray& out, const char* p, qsizetype n)
{
    const qsizetype at = out.size();
    out.resize(at + 2 * n);
    char* d = out.data() + at;
    for (qsizetype i = 0; i < n; ++i) {
        const uchar c = uchar(p[i]);
        if (c < 0x80) {
            *d++ = char(c);
        } else {
            *d++ = char(0xC0 | (c >> 6));
            *d++ = char(0x80 | (c & 0x3F));
        }
    }
    out.resize(d - out.constData());
}

} // namespace

LogSaver::LogSaver(const LogStore* store, QObject* parent) : QObject(parent), m_store(store) {}

LogSaver::~LogSaver()
{
    stop();
    releaseRename();
    m_closing.wait();
}

void LogSaver::holdAtRename(bool renamed)
{
    m_hold = std::make_shared<Hold>();
    m_hold->renamed = renamed;
}

bool LogSaver::isHeldAtRename() const
{
    if (!m_hold)
        return false;
    const std::lock_guard<std::mutex> lock(m_hold->mutex);
    return m_hold->held;
}

void LogSaver::releaseRename()
{
    if (!m_hold)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_hold->mutex);
        m_hold->released = true;
    }
    m_hold->wake.notify_all();
}

void LogSaver::start(const QString& path)
{
    stop();
    m_path = path;
    m_file = std::make_unique<QSaveFile>(path);
    if (!m_file->open(QIODevice::WriteOnly)) {
        const QString reason = m_file->errorString();
        m_file.reset();
        fail(reason);
        return;
    }
    m_revision = m_store->revision();
    m_total = m_store->size();
    m_wide = m_store->wideSpans();
    m_wideIndex = 0;
    m_next = m_wide.empty() ? 0 : m_wide.front().first;
    m_phase = Phase::Checking;
    m_utf8 = false;
    m_offset = 0;
    m_inFlight = 0;
    m_rename = std::make_shared<Rename>();
    m_writer = std::make_unique<LogWriter>(m_file.get(), LogWriter::queued(this, [this] { collect(); }));
    m_timer.start(0, this);
    emit progress(0, m_total);
}

bool LogSaver::cancel()
{
    return stop();
}

// Returns false when the file had taken its name already. The writer and the
// file go on a thread of their own: the writer may be waiting for the disk,
// and it goes first, so that nothing writes to the temporary file as that is
// removed (a file not renamed is removed as it goes).
bool LogSaver::stop()
{
    m_timer.stop();
    bool renamed = false;
    if (m_rename) {
        const std::lock_guard<std::mutex> lock(m_rename->mutex);
        m_rename->cancelled = true;
        renamed = m_rename->done;
    }
    m_rename.reset();
    if (m_writer || m_file) {
        if (m_file)
            m_file->moveToThread(nullptr);
        m_closing.run([writer = std::move(m_writer), file = std::move(m_file)]() mutable {
            writer.reset();
            file.reset();
        });
    }
    m_encoder.reset();
    m_posted.clear();
    m_spare.clear();
    return !renamed;
}

void LogSaver::fail(const QString& reason)
{
    stop();
    emit failed(
        QStringLiteral("The log was not saved to %1: %2").arg(QDir::toNativeSeparators(m_path), reason));
}

void LogSaver::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (m_store->revision() != m_revision) {
        fail(QStringLiteral("the log was changed or cleared while it was being saved."));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    try {
        do {
            if (m_phase == Phase::Checking) {
                if (checkSome())
                    continue;
                m_phase = Phase::Writing;
                m_next = 0;
                if (m_utf8)
                    m_encoder = std::make_unique<QStringEncoder>(QStringEncoder::Utf8);
            }
            if (m_inFlight >= InFlightBytes) {
                m_timer.stop(); // collect() goes on once the writer has caught up
                break;
            }
            if (!gatherSome()) {
                m_phase = Phase::Syncing;
                // Renamed into place on the writer's thread too: where the
                // system puts the file on the disk only then, that takes long.
                // Tests hold the writer at the rename.
                auto holdAt = [hold = m_hold](bool renamed) {
                    if (!hold || hold->renamed != renamed)
                        return;
                    std::unique_lock<std::mutex> lock(hold->mutex);
                    hold->held = true;
                    hold->wake.wait(lock, [&] { return hold->released; });
                };
                m_writer->postSync(++m_jobs, [file = m_file.get(), rename = m_rename, holdAt] {
                    holdAt(false);
                    {
                        // A cancel comes wholly before the rename, which is then not made, or after.
                        const std::lock_guard<std::mutex> lock(rename->mutex);
                        if (rename->cancelled)
                            return QStringLiteral("cancelled");
                        if (!file->commit())
                            return file->errorString();
                        rename->done = true;
                    }
                    holdAt(true);
                    return QString();
                });
                m_timer.stop();
                break;
            }
        } while (clock.elapsed() < SliceMs);
    } catch (const std::exception& e) {
        fail(KvErr::describe(e));
        return;
    }
    emit progress(m_phase == Phase::Checking ? 0 : m_next, m_total);
}

// Looks through the next block of the wide chunks for a character beyond
// Latin-1. Returns false when the looking is over.
bool LogSaver::checkSome()
{
    while (m_wideIndex < m_wide.size() && m_next >= std::min(m_wide[m_wideIndex].second, m_total)) {
        if (++m_wideIndex < m_wide.size())
            m_next = m_wide[m_wideIndex].first;
    }
    if (m_utf8 || m_wideIndex >= m_wide.size() || m_next >= m_total)
        return false;
    const qsizetype to = std::min({m_wide[m_wideIndex].second, m_total, m_next + BlockChars});
    m_store->forEachPiece(m_next, to, [this](const LogPiece& p) {
        if (p.utf16)
            m_utf8 = !Latin1::fits(QStringView(p.utf16, p.length));
        return !m_utf8;
    });
    m_next = to;
    return !m_utf8;
}

// Hands the next block to the writer. Returns false when all was handed over.
bool LogSaver::gatherSome()
{
    if (m_next >= m_total)
        return false;
    const qsizetype to = std::min(m_total, m_next + BlockChars);
    QByteArray block;
    if (!m_spare.empty()) {
        block.swap(m_spare.back());
        m_spare.pop_back();
        block.resize(0); // keeps its room
    }
    block.reserve((to - m_next) * (m_utf8 ? 3 : 1));
    m_store->forEachPiece(m_next, to, [&](const LogPiece& p) {
        if (m_utf8 && p.latin1) {
            appendLatin1AsUtf8(block, p.latin1, p.length);
        } else if (m_utf8) {
            // The encoder keeps a surrogate pair whole across pieces.
            const qsizetype at = block.size();
            block.resize(at + m_encoder->requiredSpace(p.length));
            char* end = m_encoder->appendToBuffer(block.data() + at, QStringView(p.utf16, p.length));
            block.resize(end - block.constData());
        } else if (p.latin1) {
            block.append(p.latin1, p.length);
        } else {
            // Wide text known to hold Latin-1 only: one byte a character.
            block.resize(block.size() + p.length);
            copyUnits(block, false, block.size() - p.length, p, 0, p.length);
        }
        return true;
    });
    m_writer->post(++m_jobs, m_offset, block);
    m_offset += block.size();
    m_inFlight += block.size();
    m_posted.push_back(std::move(block));
    m_next = to;
    return true;
}

// Runs when the writer has news: blocks written, the file on the disk, or a failure.
void LogSaver::collect()
{
    if (!m_writer)
        return;
    for (const LogWriter::Done& done : m_writer->takeDone()) {
        if (!done.written) {
            fail(done.reason);
            return;
        }
        if (done.offset < 0) {
            finish();
            return;
        }
        if (!m_posted.empty()) {
            m_inFlight -= m_posted.front().size();
            m_spare.push_back(std::move(m_posted.front()));
            m_posted.pop_front();
        }
    }
    if (m_phase == Phase::Writing && !m_timer.isActive() && m_inFlight < InFlightBytes)
        m_timer.start(0, this);
}

void LogSaver::finish()
{
    m_rename.reset();
    m_writer.reset();
    m_file.reset();
    m_encoder.reset();
    m_spare.clear();
    emit progress(m_total, m_total);
    emit saved(m_path, m_utf8);
}
