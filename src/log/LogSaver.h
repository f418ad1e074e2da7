#pragma once

#include "log/LogWriter.h"

#include <QBasicTimer>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class LogStore;
class QSaveFile;
class QStringEncoder;

// Writes the whole log to a file without holding up the window. The text is
// gathered from the store a few milliseconds at a time on the store's thread,
// and written and put on the disk by a thread of its own (LogWriter), a few
// blocks ahead at most, so memory stays bounded however long the log.
//
// The file holds one byte a character (Latin-1), or UTF-8 when the log holds
// characters beyond Latin-1 (only typing puts them there); saved() tells which.
// It is written under a temporary name beside the chosen one and takes that
// name only once all of it is on the disk: a failed or cancelled save leaves no
// file behind, and a file of that name stays as it was. A cancel that comes
// once the file has taken its name is too late, and says so. The log itself
// is only read. Text appended while the save runs is left out; an edit, a
// clear or old text dropped meanwhile makes the save fail, since what was
// saved so far no longer fits what follows.
class LogSaver : public QObject
{
    Q_OBJECT

public:
    explicit LogSaver(const LogStore* store, QObject* parent = nullptr);
    // A save under way is cancelled.
    ~LogSaver() override;

    void start(const QString& path);
    // Returns false when the cancel came too late: the file had taken its
    // name already, and stays.
    bool cancel();
    bool isRunning() const { return m_file != nullptr; }
    // Whether the file is written as UTF-8, so far as the save has looked.
    bool isUtf8() const { return m_utf8; }

    // For tests: the next save's writer, once the file is on the disk, waits
    // before the file takes its name (renamed false) or after, until released.
    void holdAtRename(bool renamed);
    bool isHeldAtRename() const;
    void releaseRename();

    // Characters gathered into one block for the writer. Fresh pages are dear:
    // a block of fresh memory takes a few milliseconds to fill.
    static constexpr qsizetype BlockChars = qsizetype(1) << 20;

signals:
    void progress(qint64 saved, qint64 total);
    // The file stands complete under its name.
    void saved(const QString& path, bool utf8);
    // Nothing was saved; an existing file of that name is as it was.
    void failed(const QString& description);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    enum class Phase
    {
        Checking, // looking for characters beyond Latin-1
        Writing,
        Syncing // all written; waiting for the disk
    };

    bool checkSome();
    bool gatherSome();
    void collect();
    void finish();
    void fail(const QString& reason);
    bool stop();

    const LogStore* m_store;
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<LogWriter> m_writer;
    std::unique_ptr<QStringEncoder> m_encoder;
    QBasicTimer m_timer;
    QString m_path;
    Phase m_phase = Phase::Checking;
    bool m_utf8 = false;
    quint64 m_revision = 0;
    qsizetype m_total = 0;
    qsizetype m_next = 0; // the next character to check or gather
    std::vector<std::pair<qsizetype, qsizetype>> m_wide;
    size_t m_wideIndex = 0;
    qint64 m_offset = 0; // bytes posted to the file
    qint64 m_inFlight = 0;
    // The blocks the writer has yet to report, and those it is done with:
    // fresh pages are dear, so their buffers serve again.
    std::deque<QByteArray> m_posted;
    std::vector<QByteArray> m_spare;
    quint64 m_jobs = 0;

    // The rename on the writer's thread and a cancel each take the mutex, so
    // that each sees the other whole: a rename after a cancel is not made.
    struct Rename
    {
        std::mutex mutex;
        bool cancelled = false;
        bool done = false;
    };
    std::shared_ptr<Rename> m_rename;
    struct Hold
    {
        std::mutex mutex;
        std::condition_variable wake;
        bool renamed = false;
        bool held = false;
        bool released = false;
    };
    std::shared_ptr<Hold> m_hold;
    // Lets a stopped writer and its file go: a sync under way may take long.
    LetGoAside m_closing;
};
