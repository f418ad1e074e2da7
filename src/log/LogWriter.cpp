#include "log/LogWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Chunks written but perhaps not yet on the disk. Left to itself the system
// gathers gigabytes of unwritten pages and then holds every writer back, other
// programs too, for as long as it takes to catch up.
constexpr size_t WriteBehindChunks = 8;

} // namespace

LogWriter::LogWriter(int fd, std::function<void()> notify)
    : m_fd(fd), m_notify(std::move(notify)), m_thread([this] { run(); })
{
}

LogWriter::~LogWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_progress.notify_all();
    m_thread.join();
}

void LogWriter::post(quint64 chunk, qint64 offset, const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back({chunk, offset, bytes});
        m_waiting += bytes.size();
    }
    m_wake.notify_one();
}

void LogWriter::postSync(quint64 id)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back({id, -1, QByteArray(), true});
    }
    m_wake.notify_one();
}

std::vector<LogWriter::Done> LogWriter::takeDone()
{
    std::vector<Done> done;
    m_told = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    done.swap(m_done);
    return done;
}

void LogWriter::waitUntilBelow(qint64 bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_progress.wait(lock, [&] { return m_waiting <= bytes || m_stop; });
}

void LogWriter::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
            if (m_stop)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const int error = job.sync ? sync() : write(job);
        const qint64 size = job.bytes.size();
        // The chunk's buffer is its own again before it hears of the write.
        job.bytes = QByteArray();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done.push_back(
                {job.chunk, job.offset, error == 0, error, error ? qt_error_string(error) : QString()});
            m_waiting -= size;
        }
        m_progress.notify_all();
        if (!m_told.exchange(true))
            m_notify();
    }
}

int LogWriter::sync()
{
    m_unsettled.clear();
    return ::fdatasync(m_fd) != 0 ? errno : 0;
}

// Returns the error number of a write that failed, 0 when it was made.
int LogWriter::write(const Job& job)
{
    const char* data = job.bytes.constData();
    qint64 left = job.bytes.size();
    qint64 offset = job.offset;
    while (left > 0) {
        const ssize_t n = ::pwrite(m_fd, data, size_t(left), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        offset += n;
        left -= n;
    }
#ifdef Q_OS_LINUX
    ::sync_file_range(m_fd, job.offset, job.bytes.size(), SYNC_FILE_RANGE_WRITE);
    m_unsettled.emplace_back(job.offset, job.bytes.size());
    if (m_unsettled.size() > WriteBehindChunks) {
        const auto [at, size] = m_unsettled.front();
        m_unsettled.pop_front();
        ::sync_file_range(m_fd, at, size,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    }
#endif
    return 0;
}
