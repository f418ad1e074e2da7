#pragma once

#include "send/LineSend.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <memory>

class FileSendLink;
class QTimer;

// Sends one prepared line a number of times (0: until stopped) every interval
// (0: as fast as the peer takes them). Paced by the link as the file sender
// is, so that memory stays bounded whatever the count, and on time: send k is
// due at start + k * interval, so a late tick sends what is due at once, up to
// what the link takes, and the rest does not drift. It reports the items of
// each log entry through report(), the lines it sent through sentLine(), and
// whether a run is under way through runningChanged().
class Repeater : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxTimes = 1000000000;
    // QTimer's own limit.
    static constexpr qint64 MaxIntervalMs = 2147483647;

    explicit Repeater(std::unique_ptr<FileSendLink> link, QObject* parent = nullptr);
    ~Repeater() override;

    // Throws KvError: times or interval out of range; over a message link (UDP)
    // a line too long for one datagram ("...: at most N bytes fit"); nothing is sent then.
    void start(const LineToSend& line, qint64 times, qint64 intervalMs);
    bool isRunning() const { return m_running; }
    qint64 sent() const { return m_sent; }
    // 0: until stopped.
    qint64 times() const { return m_times; }
    // Each line as its "Sent:" entry through sentLine().
    void setShowSent(bool show) { m_showSent = show; }

    // Each ends a run under way and reports it once.
    // "Repeating stopped after 37 of 100." ("... after 37." when repeating until stopped).
    void stop();
    // The connection has ended for good: the same, with the reason and any bytes not sent.
    void connectionEnded();
    // Bytes waiting to go out were lost with the connection. Bytes of a
    // connection closed earlier belong to a run that has ended with it.
    void dataLost(qint64 bytes, bool closedEarlier = false);
    // The link could not deliver (a UDP host not found): the run stops with the reason.
    void sendingFailed(const QString& description, qint64 unsentBytes);
    // The link took some bytes (how many, when known): a run waiting for it
    // goes on at once, and a run that has sent its last line learns whether
    // that line has left.
    void linkDrained(qint64 bytes = 0);
    // Nothing ticks or reports any more: the window is closing.
    void stopTicking();

signals:
    void report(const QStringList& items);
    void sentLine(const QByteArrayList& items);
    void runningChanged(bool running);

private:
    void tick();
    void sendDue();
    // Whether the bytes of the last line have left the program.
    bool tailGone() const;
    void waitForLink();
    void finish(const QStringList& items);
    void reportEnd();
    QString stoppedText() const;
    // The reason a run ended, with the bytes that were lost with it.
    QString withLoss(const QString& reason);
    void setRunning(bool running);

    std::unique_ptr<FileSendLink> m_link;
    QTimer* m_timer = nullptr;
    LineToSend m_line;
    QElapsedTimer m_clock;
    qint64 m_times = 0;
    qint64 m_interval = 0;
    qint64 m_sent = 0;
    qint64 m_lostBytes = 0;
    // Once the last line is handed over: the bytes of this run still waiting
    // in the link, at most; -1 before.
    qint64 m_tail = -1;
    bool m_running = false;
    bool m_showSent = true;
    // The link holds as much as it may: the timer only polls it.
    bool m_waiting = false;
    bool m_inTick = false;
    // The connection ended; the stop is reported once its close has told its losses.
    bool m_endPending = false;
};
