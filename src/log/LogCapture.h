#pragma once

#include <QBasicTimer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class LogStore;
class LogWriter;
class QFile;
struct LogPiece;

// A record on the disk of what the program adds to the log, written as it
// comes: each append the store takes, byte for byte as the store holds it
// (one byte a character; a character beyond Latin-1, which only the
// program's own words can hold, as an escape such as \u0444). The user's
// edits are no appends and stay out of it.
//
// The bytes are gathered for a tenth of a second at most, written by a
// thread of its own (LogWriter) and put on the disk at least once a second:
// a program killed at any moment loses the last second at most, and what is
// in the file before that is whole. The window is never held up: when the
// disk falls more than a backlog behind, the capture stops and says so. A
// failed write stops it at once, and nothing after it is written, so the
// file never has a gap.
class LogCapture : public QObject
{
    Q_OBJECT

public:
    // Listens to the store's appends, and goes with the store.
    explicit LogCapture(LogStore* store);
    // What was taken is written and put on the disk first.
    ~LogCapture() override;

    // Opens path, at its end with append, else emptied, and takes from now on.
    // Returns why it could not open it; empty when it is capturing.
    QString start(const QString& path, bool append);
    // Takes no more; once all taken is on the disk, stopped() tells.
    void stop();
    // Adds text to the record alone, as if appended (a note that the log was cleared).
    void note(QStringView text);

    bool isCapturing() const { return m_taking; }
    // Capturing, or writing what it took before it stops.
    bool isBusy() const { return m_writer != nullptr; }
    QString path() const { return m_path; }
    // The file's size once everything taken is written.
    qint64 fileSize() const { return m_start + m_taken; }

    // Bytes taken and not yet written beyond which the capture stops.
    static constexpr qint64 BacklogBytes = qint64(64) << 20;
    // For tests and benchmarks: a smaller backlog, and a disk that puts no
    // more than bytesPerSecond on it (each sync takes as long as that would).
    void setBacklogLimit(qint64 bytes) { m_backlogLimit = bytes; }
    void setSlowDisk(qint64 bytesPerSecond) { m_slowDisk = bytesPerSecond; }

signals:
    // The capture ended, as asked (reason empty) or because it could not go on.
    // written: the bytes it added to the file; size: the file's size.
    void stopped(const QString& path, qint64 written, qint64 size, const QString& reason);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void take(const char* data, qsizetype size);
    void take(const LogPiece& piece);
    void flush();
    void postSync();
    void collect();
    // Takes no more and drops what was not yet begun; the write under way ends first.
    void end(const QString& reason, bool writerFailed = false);
    void finish();

    QPointer<LogStore> m_store;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<LogWriter> m_writer;
    QString m_path;
    bool m_taking = false;
    bool m_ending = false;
    QString m_reason;
    qint64 m_start = 0;   // the file's size when the capture began
    qint64 m_taken = 0;   // bytes taken since
    qint64 m_written = 0; // bytes written since
    qint64 m_backlogLimit = BacklogBytes;
    qint64 m_slowDisk = 0;
    qint64 m_syncedTo = 0; // bytes taken when the last sync was posted
    QByteArray m_pending;
    // Write buffers on their way, oldest first, and those back from the
    // writer: fresh pages are dear, so their buffers serve again.
    std::deque<QByteArray> m_posted;
    std::vector<QByteArray> m_spare;
    size_t m_outstanding = 0; // jobs posted and not yet reported
    quint64 m_jobs = 0;
    bool m_unsynced = false;
    QElapsedTimer m_sinceSync;
    QBasicTimer m_timer;
};
