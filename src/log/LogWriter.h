#pragma once

#include "platform/FileSync.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

class QFileDevice;
class QObject;

// Writes the log's chunks to its file on a thread of its own, in the order
// they are posted, so that a slow or busy disk never holds up the window.
// What is posted is a shared copy of a chunk's bytes: the chunk keeps its
// text, and is read from memory, until its write is reported done.
class LogWriter
{
public:
    struct Done
    {
        quint64 chunk;
        qint64 offset;
        bool written;
        // Why it failed: the system's error number and its description.
        int error;
        QString reason;
    };

    // notify runs on the writer's thread when writes are done and nobody has
    // been told yet: it should post, nothing more.
    // Writes to file, which nothing else writes meanwhile.
    LogWriter(QFileDevice* file, std::function<void()> notify);
    // Stops after the write under way; the writes still waiting are not made.
    ~LogWriter();

    // A notify that runs then on receiver's thread, after the events queued there.
    static std::function<void()> queued(QObject* receiver, std::function<void()> then);

    void post(quint64 chunk, qint64 offset, const QByteArray& bytes);
    // After the writes posted before it, puts everything written on the disk,
    // then runs finish there (a rename into place, say: on some systems that is
    // what puts the file on the disk), which gives the reason it failed or an
    // empty text. Reported done as a write of no bytes.
    void postSync(quint64 id, std::function<QString()> finish = {});
    // The writes done since the last call; the next one done notifies again.
    std::vector<Done> takeDone();
    // Waits until no more than bytes wait to be written.
    void waitUntilBelow(qint64 bytes);
    // Bytes posted and not yet written.
    qint64 waiting();
    // From now on a write that fails ends the writing: the jobs waiting, and
    // those posted after, are not made, so that no later write leaves a gap
    // in the file. Reported done are only the jobs made.
    void stopAtFailure() { m_stopAtFailure = true; }
    // Takes back the jobs not yet begun, which are then never reported;
    // returns how many.
    size_t dropWaiting();

private:
    struct Job
    {
        quint64 chunk;
        qint64 offset;
        QByteArray bytes;
        bool sync = false;
        std::function<QString()> finish;
    };

    void run();
    // With the mutex held.
    size_t clearJobs();
    int sync();
    int write(const Job& job);

    QFileDevice* const m_file;
    const std::function<void()> m_notify;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::deque<Job> m_jobs;
    std::vector<Done> m_done;
    qint64 m_waiting = 0;
    bool m_stop = false;
    std::atomic<bool> m_stopAtFailure{false};
    bool m_failed = false;
    std::atomic<bool> m_told{false};
    WriteBehind m_writeBehind;
    std::thread m_thread;
};

// Lets go, on a thread of its own, of what the system takes long to free (a
// file under a sync, a large file's room, a gigabyte of text), one lot after
// the other. With no thread to be had, it all goes here.
class LetGoAside
{
public:
    ~LetGoAside() { wait(); }
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // letGo holds what goes, and frees it when it runs.
    template <typename LetGo> void run(LetGo letGo)
    {
        wait();
        try {
            m_thread = std::thread(std::move(letGo));
        } catch (const std::system_error&) {
        }
    }

private:
    std::thread m_thread;
};
