#include "net/Address.h"
#include "net/SocketControl.h"
#include "net/SocketErrors.h"
#include "platform/DatagramReader.h"

#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QScopedValueRollback>
#include <QTimer>
#include <QUdpSocket>

// Largest UDP payloads: 65535 less the IP and UDP headers.
constexpr int MaxDatagramIPv4 = 65507;
constexpr int MaxDatagramIPv6 = 65527;

// Ask for a large kernel receive buffer so that a burst of datagrams is not
// dropped while the reader waits for its turn on a busy machine.
constexpr int UdpReceiveBuffer = 64 * 1024 * 1024;

// How long the window hands datagrams on before it returns to the event loop,
// so that it paints and answers the user during any flood.
constexpr qint64 DatagramSliceMs = 10;

// Drops are reported at most this often, as one count.
constexpr int DropReportMs = 1000;

void SocketControl::openUdp()
{
    auto* udp = new QUdpSocket(this);
    udp->setProxy(QNetworkProxy::NoProxy);
    // A port that another socket holds is refused, never shared.
    if (!udp->bind(QHostAddress::Any, quint16(m_localPort), QAbstractSocket::DontShareAddress))
        portFailed(udp, udp->error(), udp->errorString(), m_localPort);

    ++m_generation;
    m_traffic = {};
    try {
        startDatagramReader(udp);
    } catch (...) {
        // Out of memory too: the port must not stay held by a socket nobody owns.
        delete udp;
        throw;
    }
    m_udp = udp;
    m_localPort = udp->localPort();
    m_udpTargetPort = quint16(m_remotePort);
    m_state = sckOpen;
    connect(udp, &QAbstractSocket::errorOccurred, this, &SocketControl::onUdpError);
    startUdpLookup();
}

namespace {

qint64 largestDatagramTo(const QHostAddress& to)
{
    bool isV4 = false;
    to.toIPv4Address(&isV4);
    // Until the lookup answers, the smaller IPv4 limit holds.
    return (to.isNull() || isV4) ? MaxDatagramIPv4 : MaxDatagramIPv6;
}

void requireFits(const QByteArray& bytes, const QHostAddress& to)
{
    const qint64 limit = largestDatagramTo(to);
    if (bytes.size() > limit) {
        throw KvError(
            SocketControl::ErrDatagramTooLarge,
            QStringLiteral("Datagram too large: %1 bytes, at most %2 fit").arg(bytes.size()).arg(limit));
    }
}

} // namespace

qint64 SocketControl::largestDatagram() const
{
    return largestDatagramTo(m_udpTarget);
}

void SocketControl::sendDatagram(const QByteArray& bytes)
{
    requireFits(bytes, m_udpTarget);
    if (m_udpTarget.isNull()) {
        if (!m_targetFailure.isEmpty())
            throw KvError(ErrHostNotFound, m_targetFailure);
        if (m_lookupId == -1)
            throw KvError(ErrAddressNotAvailable, QStringLiteral("No remote host to send to"));
        m_heldDatagrams.append(bytes);
        m_heldBytes += bytes.size();
        return;
    }
    writeDatagram(bytes, m_udpTarget, m_udpTargetPort);
}

void SocketControl::SendDataTo(const QByteArray& data, const QHostAddress& address, quint16 port)
{
    if (!(m_udp && m_state == sckOpen))
        throw wrongProtocolOrState();
    if (data.isEmpty())
        return;
    requireFits(data, address);
    writeDatagram(data, address, port);
    m_traffic.bytesOut += data.size();
}

void SocketControl::writeDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port)
{
    const QScopedValueRollback<bool> scope(m_inCall, true);
    if (m_udp->writeDatagram(bytes, to, port) != bytes.size())
        throw socketError(m_udp->error(), m_udp->errorString(), QString());
}

void SocketControl::flushHeldDatagrams()
{
    qint64 sent = 0;
    while (!m_heldDatagrams.isEmpty() && m_udp && !m_udpTarget.isNull()) {
        const QByteArray bytes = m_heldDatagrams.takeFirst();
        m_heldBytes -= bytes.size();
        try {
            sendDatagram(bytes);
            sent += bytes.size();
        } catch (const KvError& failure) {
            // Nobody waits on these sends any more: the window hears why, and
            // the socket, which needs no remote host to receive, stays open.
            emit sendingFailed(failure.description(), bytes.size() + dropHeldDatagrams());
            return;
        }
    }
    if (sent > 0)
        emit bytesWritten(sent);
}

qint64 SocketControl::dropHeldDatagrams()
{
    const qint64 bytes = m_heldBytes;
    m_heldDatagrams.clear();
    m_heldBytes = 0;
    return bytes;
}

void SocketControl::onUdpError()
{
    // Failures of our own sends are thrown to the caller instead.
    if (m_inCall || !m_udp || m_state != sckOpen)
        return;
    const QAbstractSocket::SocketError code = m_udp->error();
    // An ICMP "port unreachable" for an earlier datagram is part of normal
    // UDP life and no reason to close the socket.
    if (code == QAbstractSocket::ConnectionRefusedError || code == QAbstractSocket::TemporaryError)
        return;
    reportError(socketError(code, m_udp->errorString(), QString()));
}

void SocketControl::startDatagramReader(QUdpSocket* udp)
{
    m_lastSender.clear();
    m_lastSenderText.clear();
    m_lastSenderPort = 0;
    m_unreportedDrops = 0;
    // Everything that may fail comes before the reader runs on the socket.
    if (!m_dropTimer) {
        m_dropTimer = new QTimer(this);
        m_dropTimer->setInterval(DropReportMs);
        connect(m_dropTimer, &QTimer::timeout, this, &SocketControl::reportDrops);
    }
    auto reader = DatagramReader::open(*udp, m_datagramQueueLimit, UdpReceiveBuffer, m_portableReader);
    const quint32 generation = m_generation;
    // Queued in both directions: the reader's thread signals, and so does this
    // thread when a slice ends with datagrams still waiting.
    connect(
        reader.get(), &DatagramReader::datagramsWaiting, this,
        [this, generation] {
            if (generation == m_generation)
                deliverDatagrams();
        },
        Qt::QueuedConnection);
    connect(
        reader.get(), &DatagramReader::readFailed, this,
        [this, generation](const QString& description) {
            if (generation == m_generation && m_state == sckOpen)
                reportError(socketError(QAbstractSocket::UnknownSocketError, description, QString()));
        },
        Qt::QueuedConnection);
    if (!reader->start())
        throw socketError(QAbstractSocket::SocketResourceError, QString(), QString());
    m_reader = std::move(reader);

    m_dropTimer->start();
}

void SocketControl::stopDatagramReader()
{
    if (!m_reader)
        return;
    m_reader->stop();
    const qint64 dropped = m_unreportedDrops + m_reader->takeDropped();
    m_unreportedDrops = 0;
    m_reader.reset();
    const int untilNextReport = m_dropTimer->remainingTime();
    m_dropTimer->stop();
    // Drops before the close are reported still, when their report is due.
    if (dropped > 0)
        QTimer::singleShot(qMax(0, untilNextReport), this,
                           [this, dropped] { emit datagramsDropped(dropped); });
}

void SocketControl::deliverDatagrams()
{
    const QPointer<SocketControl> self(this);
    const quint32 generation = m_generation;
    QElapsedTimer slice;
    slice.start();
    DatagramReader::Datagram datagram;
    // One event per datagram: each keeps its own size and sender.
    while (m_reader && m_state == sckOpen) {
        if (slice.elapsed() >= DatagramSliceMs) {
            m_reader->notifyLater();
            return;
        }
        if (!m_reader->take(datagram))
            return;
        try {
            if (datagram.sender != m_lastSender || m_lastSenderText.isEmpty()) {
                m_lastSenderText = addressText(datagram.sender);
                m_lastSender = datagram.sender;
            }
            m_remoteHostIP = m_lastSenderText;
            m_remotePort = datagram.senderPort;
            m_lastSenderPort = datagram.senderPort;
            m_received += datagram.payload;
            m_traffic.bytesIn += datagram.payload.size();
            ++m_traffic.datagramsIn;
        } catch (const std::bad_alloc&) {
            ++m_unreportedDrops;
            continue;
        }
        emit dataArrival(qint32(datagram.payload.size()));
        if (!self || generation != m_generation)
            return;
    }
}

void SocketControl::reportDrops()
{
    qint64 dropped = m_unreportedDrops;
    m_unreportedDrops = 0;
    if (m_reader)
        dropped += m_reader->takeDropped();
    if (dropped > 0) {
        m_traffic.datagramsDropped += dropped;
        emit datagramsDropped(dropped);
    }
}

bool SocketControl::countsSystemDrops() const
{
    return m_reader && m_reader->countsSystemDrops();
}
