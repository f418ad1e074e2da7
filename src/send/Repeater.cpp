#include "send/Repeater.h"

#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "send/FileSender.h"

#include <QTimer>

#include <utility>

namespace {

// The longest one pass of the event loop spends sending, so that the window
// stays responsive at interval 0.
constexpr qint64 SliceNs = 4 * 1000 * 1000;

// While the link holds too much, the timer only looks whether it has taken
// some; the link's own signal resumes the run sooner.
constexpr int WaitingPollMs = 50;

constexpr qint64 NsPerMs = 1000 * 1000;

} // namespace

Repeater::Repeater(std::unique_ptr<FileSendLink> link, QObject* parent)
    : QObject(parent), m_link(std::move(link)), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Repeater::tick);
}

Repeater::~Repeater() = default;

void Repeater::start(const LineToSend& line, qint64 times, qint64 intervalMs)
{
    if (times < 0 || times > MaxTimes || intervalMs < 0 || intervalMs > MaxIntervalMs)
        throw KvErr::invalidPropertyValue();
    // The link sends nothing for an empty line: repeating it would only spin.
    if (line.payload.isEmpty())
        throw KvError(KvErr::InvalidPropertyValue,
                      QStringLiteral("The line is empty: there is nothing to repeat"));
    const qint64 largest = m_link->largestMessage();
    if (largest > 0 && line.payload.size() > largest) {
        throw KvError(KvErr::DatagramTooLarge,
                      QStringLiteral("The line does not fit in one datagram: %1 bytes, at most %2 bytes fit")
                          .arg(CountText(line.payload.size()), CountText(largest)));
    }
    stop();
    m_line = line;
    m_times = times;
    m_interval = intervalMs;
    m_sent = 0;
    m_lostBytes = 0;
    m_tail = -1;
    m_waiting = false;
    m_endPending = false;
    m_clock.start();
    // The first line is due now; it goes on the next pass, after the caller.
    m_timer->start(0);
    setRunning(true);
}

void Repeater::stop()
{
    if (m_running)
        finish({stoppedText() + QLatin1Char('.')});
}

void Repeater::connectionEnded()
{
    if (!m_running || m_endPending)
        return;
    m_timer->stop();
    // Closing, the connection tells what it lost just after this; the report
    // waits for that.
    m_endPending = true;
    QMetaObject::invokeMethod(this, &Repeater::reportEnd, Qt::QueuedConnection);
}

void Repeater::reportEnd()
{
    if (std::exchange(m_endPending, false) && m_running)
        finish({stoppedText() + QLatin1Char('.'), withLoss(QStringLiteral("The connection ended"))});
}

void Repeater::dataLost(qint64 bytes, bool closedEarlier)
{
    if (!m_running || closedEarlier)
        return;
    m_lostBytes += bytes;
    // The run cannot go on over the gap; the next pass says so, unless the
    // end of the connection is about to.
    if (!m_endPending)
        m_timer->start(0);
}

void Repeater::sendingFailed(const QString& description, qint64 unsentBytes)
{
    if (!m_running)
        return;
    m_lostBytes += unsentBytes;
    finish({stoppedText() + QLatin1Char('.'), withLoss(description)});
}

void Repeater::linkDrained(qint64 bytes)
{
    if (!m_running || m_inTick || m_endPending)
        return;
    if (m_tail >= 0) {
        m_tail -= qMax<qint64>(bytes, 0);
        if (tailGone())
            tick();
        return;
    }
    // The interval paces the lines; only a run that waits for the link goes on early.
    if (m_waiting)
        tick();
}

void Repeater::stopTicking()
{
    m_timer->stop();
    m_endPending = false;
    m_running = false;
}

void Repeater::tick()
{
    if (!m_running || m_inTick)
        return;
    if (m_lostBytes > 0) {
        finish({stoppedText() + QLatin1Char('.'), withLoss(QStringLiteral("The connection ended"))});
        return;
    }
    m_inTick = true;
    try {
        sendDue();
    } catch (const std::exception& e) {
        // The link took none of the line that failed.
        m_inTick = false;
        finish({stoppedText() + QLatin1Char('.'), withLoss(KvErr::describe(e))});
        return;
    }
    m_inTick = false;
}

void Repeater::sendDue()
{
    m_waiting = false;
    QElapsedTimer slice;
    slice.start();
    const qint64 intervalNs = m_interval * NsPerMs;
    while (m_times == 0 || m_sent < m_times) {
        // Send k is due at start + k * interval, whenever the tick comes.
        const qint64 dueNs = m_sent * intervalNs;
        const qint64 elapsedNs = m_clock.nsecsElapsed();
        if (dueNs > elapsedNs) {
            m_timer->start(int((dueNs - elapsedNs + NsPerMs - 1) / NsPerMs));
            return;
        }
        if (m_link->bytesWaiting() >= FileSender::MaxWaitingBytes) {
            waitForLink();
            return;
        }
        if (slice.nsecsElapsed() >= SliceNs) {
            m_timer->start(0);
            return;
        }
        m_link->send(m_line.payload);
        ++m_sent;
        if (m_showSent) {
            emit sentLine(m_line.sentEntry);
            if (!m_running)
                return;
        }
    }
    // "Repeated" waits until the last line has left the program, so that a
    // connection that ends before then is told with what it lost.
    if (m_tail < 0)
        m_tail = m_link->bytesWaiting();
    if (!tailGone()) {
        waitForLink();
        return;
    }
    finish({m_sent == 1 ? QStringLiteral("Repeated 1 time.")
                        : QStringLiteral("Repeated %1 times.").arg(CountText(m_sent))});
}

bool Repeater::tailGone() const
{
    // What the link held after the last line, this run's bytes among them,
    // leaves first; another sender's bytes after them do not hold the run.
    return m_tail <= 0 || m_link->bytesWaiting() == 0;
}

void Repeater::waitForLink()
{
    m_waiting = true;
    m_timer->start(WaitingPollMs);
}

void Repeater::finish(const QStringList& items)
{
    m_timer->stop();
    m_tail = -1;
    m_waiting = false;
    m_endPending = false;
    setRunning(false);
    emit report(items);
}

QString Repeater::stoppedText() const
{
    if (m_times == 0)
        return QStringLiteral("Repeating stopped after %1").arg(CountText(m_sent));
    return QStringLiteral("Repeating stopped after %1 of %2").arg(CountText(m_sent), CountText(m_times));
}

QString Repeater::withLoss(const QString& reason)
{
    QString text = reason;
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text + unsentBytesText(std::exchange(m_lostBytes, 0)) + QLatin1Char('.');
}

void Repeater::setRunning(bool running)
{
    m_running = running;
    emit runningChanged(running);
}
