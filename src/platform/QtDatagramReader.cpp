#include "platform/QtDatagramReader.h"

#include <QElapsedTimer>
#include <QSignalBlocker>
#include <QUdpSocket>
#include <QVariant>

#include <cerrno>
#include <new>
#include <utility>

namespace {

// Room for the largest datagram UDP carries.
constexpr qsizetype SlotSize = 65536;
// A pass of the event loop reads for at most this long, like the window's
// own slices of showing them.
constexpr qint64 ReadSliceMs = 10;
// What a waiting datagram costs beside its payload; it counts against the
// bound, so even empty datagrams fill it.
constexpr qint64 RecordCost = 64;
// Reading goes on between the datagrams the window takes, every so many.
constexpr int ReadEvery = 16;

bool failingRead = false;

} // namespace

QtDatagramReader::QtDatagramReader(QUdpSocket& socket, qint64 queueLimit, int receiveBuffer)
    : m_socket(socket), m_limit(queueLimit)
{
    // The system grants what it allows an ordinary process.
    m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
}

QtDatagramReader::~QtDatagramReader()
{
    stop();
}

bool QtDatagramReader::start()
{
    try {
        m_slot.resize(SlotSize);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    m_readyRead = connect(&m_socket, &QUdpSocket::readyRead, this, &QtDatagramReader::readSome);
    // What came before the connection is read on the next turn of the event loop.
    QMetaObject::invokeMethod(this, &QtDatagramReader::readSome, Qt::QueuedConnection);
    return true;
}

void QtDatagramReader::stop()
{
    disconnect(m_readyRead);
    m_readyRead = {};
    m_queue.clear();
    m_queuedBytes = 0;
    m_full = false;
}

// Qt asks the system again only after a read: a reader that stops without
// one hears of no more datagrams, so it always ends on a read that found
// nothing, or resumes from take().
void QtDatagramReader::readSome()
{
    if (!m_readyRead || m_full)
        return;
    QElapsedTimer slice;
    slice.start();
    bool stored = false;
    while (slice.elapsed() < ReadSliceMs) {
        if (m_queuedBytes >= m_limit) {
            m_full = true;
            break;
        }
        QHostAddress sender;
        quint16 port = 0;
        // A failure a test asks for is a real one: the system may not write there.
        char* const into = std::exchange(failingRead, false) ? nullptr : m_slot.data();
        qint64 size = 0;
        {
            // Qt tells of a failed read from inside the read, where the
            // handler may close the socket and free this reader: the failure
            // is handed on from here instead.
            const QSignalBlocker quiet(m_socket);
            size = m_socket.readDatagram(into, SlotSize, &sender, &port);
        }
        if (size < 0) {
            const QAbstractSocket::SocketError code = m_socket.error();
            // An ICMP report on an earlier send: reading goes on.
            if (code == QAbstractSocket::ConnectionRefusedError)
                continue;
            // Nothing more waits.
            if (code == QAbstractSocket::TemporaryError)
                break;
            const QString reason = m_socket.errorString();
            stop();
            // On a later turn: its handler may free this reader, and a read
            // from inside take() has a caller still under way.
            QMetaObject::invokeMethod(
                this, [this, reason] { emit readFailed(reason); }, Qt::QueuedConnection);
            return;
        }
        try {
            m_queue.push_back({QByteArray(m_slot.constData(), size), sender, port});
        } catch (const std::bad_alloc&) {
            ++m_unstored;
            continue;
        }
        m_queuedBytes += size + RecordCost;
        stored = true;
    }
    if (stored && !m_signalled) {
        m_signalled = true;
        emit datagramsWaiting();
    }
}

void QtDatagramReader::failNextRead()
{
    failingRead = true;
}

bool QtDatagramReader::take(Datagram& datagram)
{
    if (m_queue.empty()) {
        m_signalled = false;
        return false;
    }
    datagram = std::move(m_queue.front());
    m_queue.pop_front();
    m_queuedBytes -= datagram.payload.size() + RecordCost;
    if (m_full && m_queuedBytes <= m_limit - m_limit / 8) {
        m_full = false;
        QMetaObject::invokeMethod(this, &QtDatagramReader::readSome, Qt::QueuedConnection);
    }
    // The socket's buffer may be small: it is emptied while the window
    // works through the queue, not only between the window's turns.
    if (++m_taken % ReadEvery == 0)
        readSome();
    return true;
}

void QtDatagramReader::notifyLater()
{
    m_signalled = true;
    emit datagramsWaiting();
}

qint64 QtDatagramReader::takeDropped()
{
    return std::exchange(m_unstored, 0);
}
