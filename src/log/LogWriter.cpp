#include "log/LogWriter.h"

#include "platform/FileAt.h"

#include <QObject>

LogWriter::LogWriter(QFileDevice* file, std::function<void()> notify)
    : m_file(file), m_notify(std::move(notify)), m_thread([this] { run(); })
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

std::function<void()> LogWriter::queued(QObject* receiver, std::function<void()> then)
{
    return [receiver, then = std::move(then)] {
        QMetaObject::invokeMethod(receiver, then, Qt::QueuedConnection);
    };
}

void LogWriter::post(quint64 chunk, qint64 offset, const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed)
            return;
        m_jobs.push_back({chunk, offset, bytes, false, {}});
        m_waiting += bytes.size();
    }
    m_wake.notify_one();
}

void LogWriter::postSync(quint64 id, std::function<QString()> finish)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed)
            return;
        m_jobs.push_back({id, -1, QByteArray(), true, std::move(finish)});
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

qint64 LogWriter::waiting()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting;
}

size_t LogWriter::dropWaiting()
{
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped = clearJobs();
    }
    m_progress.notify_all();
    return dropped;
}

size_t LogWriter::clearJobs()
{
    const size_t count = m_jobs.size();
    for (const Job& job : m_jobs)
        m_waiting -= job.bytes.size();
    m_jobs.clear();
    return count;
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
        int error = job.sync ? sync() : write(job);
        QString reason = error ? qt_error_string(error) : QString();
        if (!error && job.finish) {
            reason = job.finish();
            error = reason.isEmpty() ? 0 : -1;
        }
        const qint64 size = job.bytes.size();
        // The chunk's buffer is its own again before it hears of the write.
        job.bytes = QByteArray();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done.push_back({job.chunk, job.offset, error == 0, error, reason});
            m_waiting -= size;
            if (error && m_stopAtFailure) {
                m_failed = true;
                clearJobs();
            }
        }
        m_progress.notify_all();
        if (!m_told.exchange(true))
            m_notify();
    }
}

int LogWriter::sync()
{
    m_writeBehind.synced();
    return FileSync::sync(*m_file);
}

// Returns the error number of a write that failed, 0 when it was made.
int LogWriter::write(const Job& job)
{
    const int error = FileAt::write(*m_file, job.bytes.constData(), job.bytes.size(), job.offset);
    if (error == 0)
        m_writeBehind.written(*m_file, job.offset, job.bytes.size());
    return error;
}
