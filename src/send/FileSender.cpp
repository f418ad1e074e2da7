#include "send/FileSender.h"

#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "platform/TextStream.h"

#include <QElapsedTimer>
#include <QTimer>

#include <utility>

namespace {

constexpr int ErrNoFile = 91;
constexpr int ErrDataLost = 10053;

// While the connection holds too much, ticks only look whether it has taken
// some; a short interval would spin for nothing. The connection's own signal
// resumes the sending sooner.
constexpr int WaitingPollMs = 50;

// The most time one tick spends reading away a line that cannot be sent.
constexpr qint64 SkipSliceMs = 20;

const QByteArray CrLf = QByteArrayLiteral("\r\n");

// Each entry of a line that spans pieces says where its bytes stand in the
// line, so that the entries together show exactly what went out.
QByteArray sentLabel(qint64 line, qint64 offset)
{
    if (offset == 0)
        return QByteArrayLiteral("Sent :");
    return QStringLiteral("Sent (line %1 from byte %2) :").arg(line).arg(CountText(offset + 1)).toLatin1();
}

// Bytes handed over that never left.
QString lostText(qint64 lost)
{
    return lost == 1 ? QStringLiteral("The last byte was not sent")
                     : QStringLiteral("The last %1 bytes were not sent").arg(CountText(lost));
}

} // namespace

QString unsentBytesText(qint64 bytes)
{
    return bytes > 0 ? QStringLiteral("; ") + lostText(bytes).toLower() : QString();
}

FileSender::FileSender(std::unique_ptr<FileSendLink> link, QObject* parent)
    : QObject(parent), m_link(std::move(link)), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &FileSender::tick);
}

FileSender::~FileSender() = default;

void FileSender::open(const QString& path)
{
    if (m_fileOpen) {
        m_stream.reset();
        clearLine();
    }
    try {
        m_stream = TextStream::open(path);
    } catch (...) {
        m_fileOpen = false;
        throw;
    }
    // A line held back from the old file has no place in the new one.
    clearLine();
    m_path = path;
    emit report({QStringLiteral("File open: "), path});
    m_fileOpen = true;
}

FileSender::Progress FileSender::progress() const
{
    if (!m_stream)
        return {m_path, m_line, 0, 0};
    return {m_path, m_line, m_stream->position(), m_stream->size()};
}

void FileSender::forgetFile()
{
    m_fileOpen = false;
}

void FileSender::start(const QString& intervalText, bool connected)
{
    if (!m_fileOpen) {
        emit report({QStringLiteral("Please select a file to send.")});
        return;
    }
    if (!connected) {
        emit report({QStringLiteral("Not connected.")});
        return;
    }
    emit report({QStringLiteral("Sending File: ") + m_path});
    const qint32 interval = RoundToInt32(Val(intervalText));
    // QTimer takes 0 to INT_MAX milliseconds; 0 ticks whenever the event loop is idle.
    if (interval < 0)
        throw KvErr::invalidPropertyValue();
    m_interval = interval;
    m_pace = Pace::Lines;
    m_lostBytes = 0;
    m_endPending = false;
    m_timer->start(interval);
    setRunning(true);
}

void FileSender::stop()
{
    m_timer->stop();
    m_endPending = false;
    setRunning(false);
    emit report({QStringLiteral("Stopped")});
}

void FileSender::connectionEnded()
{
    m_timer->stop();
    if (!m_running || m_endPending)
        return;
    // Closing, the connection tells what it lost just after this; the report
    // waits for that.
    m_endPending = true;
    QMetaObject::invokeMethod(this, &FileSender::reportEnd, Qt::QueuedConnection);
}

void FileSender::reportEnd()
{
    if (std::exchange(m_endPending, false) && m_running)
        fail({endedText()});
}

void FileSender::stopTicking()
{
    m_timer->stop();
    m_endPending = false;
}

void FileSender::dataLost(qint64 bytes, bool closedEarlier)
{
    if (m_running && !closedEarlier)
        m_lostBytes += bytes;
}

void FileSender::sendingFailed(const QString& description, qint64 unsentBytes)
{
    if (!m_running)
        return;
    m_lostBytes = 0;
    m_endPending = false;
    QStringList why{description};
    if (unsentBytes > 0)
        why.append(lostText(unsentBytes) + QLatin1Char('.'));
    fail(why);
}

void FileSender::linkDrained()
{
    // The interval paces the lines; only a sending that waits for the
    // connection goes on early.
    if (m_pace == Pace::Waiting && m_timer->isActive())
        tick();
}

void FileSender::tick()
{
    try {
        if (!m_stream)
            throw KvError(ErrNoFile, QStringLiteral("No file is open"));
        if (m_lostBytes > 0)
            throw KvError(ErrDataLost, endedText());
        // A file saved after it was opened is sent as it is now, not refused
        // at this and every later start.
        if (m_line == 0 && !m_held && m_stream->reopenIfChanged())
            emit report({QStringLiteral("The file changed after it was opened; it is sent as it is now.")});
        if (m_skipping && !skipRestOfLine()) {
            setPace(Pace::AtOnce);
            return;
        }
        // "Completed." waits until nothing of the file waits inside the program.
        const bool atEnd = !m_held && !m_inLine && m_stream->AtEndOfStream();
        const qint64 waiting = m_link->bytesWaiting();
        if (atEnd ? waiting > 0 : waiting >= MaxWaitingBytes) {
            setPace(Pace::Waiting);
            return;
        }
        if (atEnd) {
            // A file cut short reads as an early end.
            m_stream->requireUnchanged(whereText(m_line, 0));
            complete();
            return;
        }
        // Over a byte stream a line of any length goes out piece by piece as
        // it is read. The interval paces the lines; the bytes waiting pace the
        // pieces of a line.
        const qint64 largest = m_link->largestMessage();
        if (largest > 0)
            sendDatagramLine(largest);
        else
            sendPiece(nextPiece());
        setPace(m_inLine ? Pace::AtOnce : Pace::Lines);
    } catch (const std::exception& e) {
        fail({KvErr::describe(e)});
    }
}

void FileSender::sendDatagramLine(qint64 largest)
{
    // One line is one datagram. A line too large for one would fail at every
    // start; it is reported once and skipped instead.
    const Piece piece = nextPiece();
    const qint64 size = piece.bytes.size() + (m_appendCrLf ? CrLf.size() : 0);
    if (!piece.endsLine || size > largest) {
        m_skipping = m_inLine;
        throw KvError(
            KvErr::DatagramTooLarge,
            QStringLiteral("Line %1 does not fit in one datagram: at most %2 bytes fit. It is skipped.")
                .arg(piece.line)
                .arg(CountText(largest)));
    }
    sendPiece(piece);
}

void FileSender::sendPiece(const Piece& piece)
{
    // The bytes as the file holds them, and the line end asked for.
    const QByteArray bytes = piece.endsLine && m_appendCrLf ? piece.bytes + CrLf : piece.bytes;
    try {
        // Asked as each piece goes out, not only as the file is read ahead.
        m_stream->requireUnchanged(whereText(piece.offset > 0 ? piece.line : piece.line - 1, piece.offset));
        m_link->send(bytes);
    } catch (...) {
        // The connection took none of it: it goes first at the next start,
        // so nothing is lost when the user reconnects and resumes.
        m_held = piece;
        throw;
    }
    if (m_showSent)
        emit sent({sentLabel(piece.line, piece.offset) + bytes});
}

FileSender::Piece FileSender::nextPiece()
{
    if (m_held) {
        Piece piece = std::move(*m_held);
        m_held.reset();
        return piece;
    }
    if (!m_inLine) {
        ++m_line;
        m_lineOffset = 0;
    }
    Piece piece;
    piece.bytes = m_stream->ReadPiece(PieceBytes, piece.endsLine);
    piece.line = m_line;
    piece.offset = m_lineOffset;
    m_lineOffset += piece.bytes.size();
    m_inLine = !piece.endsLine;
    return piece;
}

bool FileSender::skipRestOfLine()
{
    QElapsedTimer clock;
    clock.start();
    do {
        bool ended = false;
        m_stream->ReadPiece(PieceBytes, ended);
        if (ended) {
            m_skipping = false;
            m_inLine = false;
            return true;
        }
    } while (!clock.hasExpired(SkipSliceMs));
    return false;
}

void FileSender::complete()
{
    emit report({QStringLiteral("Completed.")});
    m_timer->stop();
    m_stream.reset();
    m_fileOpen = false;
    setRunning(false);
}

void FileSender::fail(const QStringList& why)
{
    emit report(QStringList{QStringLiteral("*** Error ***")} + why +
                QStringList{QStringLiteral("File sending stopped.")});
    m_timer->stop();
    setRunning(false);
}

QString FileSender::endedText()
{
    // What went out of the current line; a piece the connection refused
    // did not, and goes first at the next start.
    qint64 line = m_line;
    qint64 offset = m_inLine ? m_lineOffset : 0;
    if (m_held) {
        line = m_held->offset > 0 ? m_held->line : m_held->line - 1;
        offset = m_held->offset;
    }
    const QString text = QStringLiteral("The connection ended ") + whereText(line, offset);
    return text + unsentBytesText(std::exchange(m_lostBytes, 0)) + QLatin1Char('.');
}

QString FileSender::whereText(qint64 line, qint64 offset)
{
    if (offset > 0)
        return QStringLiteral("in line %1, after %2 bytes of it").arg(CountText(line), CountText(offset));
    if (line > 0)
        return QStringLiteral("after line %1").arg(CountText(line));
    return QStringLiteral("before the first line");
}

void FileSender::setRunning(bool running)
{
    m_running = running;
    emit runningChanged(running);
}

void FileSender::setPace(Pace pace)
{
    if (pace == m_pace)
        return;
    m_pace = pace;
    int ms = m_interval;
    if (pace == Pace::Waiting)
        ms = qMax(m_interval, WaitingPollMs);
    else if (pace == Pace::AtOnce)
        ms = 0;
    // Restarting makes the next line come a whole interval after this tick.
    if (m_timer->isActive())
        m_timer->start(ms);
    else
        m_timer->setInterval(ms);
}

void FileSender::clearLine()
{
    m_held.reset();
    m_line = 0;
    m_lineOffset = 0;
    m_inLine = false;
    m_skipping = false;
}
