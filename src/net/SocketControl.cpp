#include "net/SocketControl.h"

#include "net/Address.h"
#include "platform/DatagramReader.h"
#include "platform/KvError.h"
#include "platform/TcpPortUse.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <limits>
#include <memory>
#include <utility>

namespace {

// Largest UDP payloads: 65535 less the IP and UDP headers.
constexpr int MaxDatagramIPv4 = 65507;
constexpr int MaxDatagramIPv6 = 65527;

// How long a closed connection may take to hand its unsent data to the peer
// before it is cut off; a peer that stops reading must not hold it forever.
constexpr int CloseGraceMs = 30000;

// Ask for a large kernel receive buffer so that a burst of datagrams is not
// dropped while the reader waits for its turn on a busy machine.
constexpr int UdpReceiveBuffer = 64 * 1024 * 1024;

// How long the window hands datagrams on before it returns to the event loop,
// so that it paints and answers the user during any flood.
constexpr qint64 DatagramSliceMs = 10;

// A client bound to its local port may take it over from a connection of
// that port that only waits out its close, so that a reconnect works at once.
// Windows lets such a bind take a port from a live socket, so there the port
// is bound exclusively.
#ifdef Q_OS_WIN
constexpr auto ClientBindMode = QAbstractSocket::DontShareAddress;
#else
constexpr auto ClientBindMode = QAbstractSocket::ReuseAddressHint;
#endif

// Drops are reported at most this often, as one count.
constexpr int DropReportMs = 1000;

// How soon TCP data that could not be stored for want of memory is read again.
constexpr int ReadRetryMs = 100;

// Most data one arrival hands to the window. A flood is shown in pieces of
// this size with a turn of the event loop between them, so that the window
// paints and answers the user however fast the peer sends.
constexpr qint64 MaxArrival = 256 * 1024;

// How much TCP data may wait inside the program. Past it the kernel holds the
// rest and TCP slows the peer down, so a peer faster than the window costs
// neither data nor unbounded memory.
constexpr qint64 ReadBufferLimit = 16 * MaxArrival;

qint32 clampCount(qsizetype n)
{
    return n > std::numeric_limits<qint32>::max() ? std::numeric_limits<qint32>::max() : qint32(n);
}

// A dual-stack socket sees IPv4 peers as IPv4-mapped IPv6 addresses; users
// know them by their IPv4 form.
QString addressText(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

// Users may write an IPv6 address in brackets, as in a URL.
QString bareHost(const QString& host)
{
    const QString trimmed = host.trimmed();
    if (trimmed.size() > 2 && trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']')))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

QString withContext(const QString& text, const QString& context)
{
    return context.isEmpty() ? text : text + QStringLiteral(": ") + context;
}

KvError socketError(QAbstractSocket::SocketError code, const QString& qtText, const QString& context)
{
    using S = QAbstractSocket;
    using E = SocketControl;
    switch (code) {
    case S::ConnectionRefusedError:
        return KvError(E::ErrConnectionRefused, withContext(QStringLiteral("Connection refused"), context));
    case S::RemoteHostClosedError:
        return KvError(E::ErrConnectionReset, QStringLiteral("Connection reset by the remote host"));
    case S::HostNotFoundError:
        return KvError(E::ErrHostNotFound, withContext(QStringLiteral("Host not found"), context));
    case S::SocketAccessError:
        return KvError(E::ErrPermissionDenied, withContext(QStringLiteral("Permission denied"), context));
    case S::SocketResourceError:
        return KvError(E::ErrNoResources, QStringLiteral("Out of socket resources"));
    case S::SocketTimeoutError:
        return KvError(E::ErrTimedOut, withContext(QStringLiteral("Connection timed out"), context));
    case S::DatagramTooLargeError:
        return KvError(E::ErrDatagramTooLarge, QStringLiteral("Datagram too large"));
    case S::AddressInUseError:
        return KvError(E::ErrAddressInUse, withContext(QStringLiteral("Address in use"), context));
    case S::SocketAddressNotAvailableError:
        return KvError(E::ErrAddressNotAvailable,
                       withContext(QStringLiteral("Address not available"), context));
    case S::UnsupportedSocketOperationError:
        return KvError(E::ErrAddressFamily,
                       withContext(QStringLiteral("Address family not supported"), context));
    case S::OperationError:
        return KvError(E::ErrInvalidOperation, QStringLiteral("Invalid operation at current state"));
    default:
        return KvError(E::ErrNetwork, withContext(QStringLiteral("Network error"), qtText));
    }
}

// The sharing bind would share a port with a live socket too, which then
// fails only when it connects: whether one holds the port is looked for. A
// port that a bind of its own can take is free, and needs no look.
bool heldByLiveSocket(quint16 port)
{
    if (ClientBindMode == QAbstractSocket::DontShareAddress)
        return false;
    QTcpSocket probe;
    probe.setProxy(QNetworkProxy::NoProxy);
    if (probe.bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress) ||
        probe.error() != QAbstractSocket::AddressInUseError)
        return false;
    return tcpPortHeld(port).value_or(false);
}

KvError hostNotFound(const QString& host)
{
    return KvError(SocketControl::ErrHostNotFound, withContext(QStringLiteral("Host not found"), host));
}

KvError invalidOperation()
{
    return KvError(SocketControl::ErrInvalidOperation, QStringLiteral("Invalid operation at current state"));
}

KvError wrongProtocolOrState()
{
    return KvError(
        SocketControl::ErrWrongProtocolOrState,
        QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
}

// Marks the span in which this class itself calls into a socket.
class CallScope
{
public:
    explicit CallScope(bool& flag) : m_flag(flag), m_old(flag) { m_flag = true; }
    ~CallScope() { m_flag = m_old; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    bool& m_flag;
    bool m_old;
};

} // namespace

SocketControl::SocketControl(QObject* parent) : QObject(parent), m_remoteHost(QStringLiteral("127.0.0.1")) {}

SocketControl::~SocketControl()
{
    ++m_generation;
    // The reader reads the UDP socket's descriptor: it ends before the socket does.
    m_reader.reset();
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(m_lookupId);
    // Cut every socket loose first so that nothing they emit while dying
    // reaches this half-destroyed object.
    const auto sockets = findChildren<QObject*>(Qt::FindDirectChildrenOnly);
    for (QObject* child : sockets)
        child->disconnect(this);
}

void SocketControl::requireClosed() const
{
    if (m_state != sckClosed)
        throw invalidOperation();
}

void SocketControl::setProtocol(int protocol)
{
    if (protocol != TcpProtocol && protocol != UdpProtocol)
        throw KvErr::invalidPropertyValue();
    requireClosed();
    m_protocol = protocol;
}

void SocketControl::setLocalPort(qint32 port)
{
    if (port < 0 || port > 65535)
        throw KvErr::invalidPropertyValue();
    requireClosed();
    m_localPort = port;
}

void SocketControl::setRemoteHost(const QString& host)
{
    m_remoteHost = host;
    if (m_udp)
        startUdpLookup();
}

void SocketControl::setRemotePort(qint32 port)
{
    if (port < 0 || port > 65535)
        throw KvErr::invalidPropertyValue();
    m_remotePort = port;
    if (m_udp)
        m_udpTargetPort = quint16(port);
}

void SocketControl::Connect()
{
    requireClosed();
    if (m_protocol == UdpProtocol) {
        openUdp();
        return;
    }

    const QString portText = QStringLiteral("port %1").arg(m_localPort);
    if (m_localPort != 0 && heldByLiveSocket(quint16(m_localPort)))
        throw socketError(QAbstractSocket::AddressInUseError, QString(), portText);
    auto* socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    // Read as it arrives, up to a bound; past it TCP makes the peer wait.
    socket->setReadBufferSize(ReadBufferLimit);
    if (m_localPort != 0 && !socket->bind(QHostAddress::Any, quint16(m_localPort), ClientBindMode)) {
        const KvError failure = socketError(socket->error(), socket->errorString(), portText);
        delete socket;
        throw failure;
    }

    ++m_generation;
    m_traffic = {};
    m_tcp = socket;
    m_state = sckResolvingHost;
    attachTcp(socket);
    connect(socket, &QAbstractSocket::connected, this, [this, socket] {
        if (socket == m_tcp)
            onTcpConnected();
    });
    connect(socket, &QAbstractSocket::stateChanged, this, [this, socket] {
        if (socket == m_tcp)
            onTcpStateChanged();
    });

    // A refusal on loopback can come back inside this call; it still reaches
    // the window as a later event, like any other connect failure.
    CallScope scope(m_inCall);
    if (!isWholeHostText(m_remoteHost)) {
        reportError(hostNotFound(m_remoteHost));
        return;
    }
    socket->connectToHost(bareHost(m_remoteHost), quint16(m_remotePort));
}

void SocketControl::Listen()
{
    requireClosed();
    if (m_protocol != TcpProtocol)
        throw wrongProtocolOrState();

    auto* server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    // Any is dual-stack: IPv4 and IPv6 clients alike.
    if (!server->listen(QHostAddress::Any, quint16(m_localPort))) {
        const KvError failure = socketError(server->serverError(), server->errorString(),
                                            QStringLiteral("port %1").arg(m_localPort));
        delete server;
        throw failure;
    }

    ++m_generation;
    m_server = server;
    // Port 0 picks a free port; report the real one, since listening again
    // after a client leaves reuses this value.
    m_localPort = server->serverPort();
    m_state = sckListening;
    connect(server, &QTcpServer::newConnection, this, &SocketControl::onNewConnection);
    connect(server, &QTcpServer::acceptError, this, [this, server](QAbstractSocket::SocketError code) {
        if (server == m_server)
            reportError(socketError(code, server->errorString(), QString()));
    });
}

void SocketControl::Bind()
{
    requireClosed();
    if (m_protocol != UdpProtocol)
        throw wrongProtocolOrState();
    openUdp();
}

void SocketControl::Accept(qint32 requestId)
{
    requireClosed();
    if (m_protocol != TcpProtocol)
        throw wrongProtocolOrState();
    const QPointer<QTcpSocket> socket = m_requests.take(requestId);
    if (!socket) {
        throw KvError(ErrInvalidArgument,
                      QStringLiteral("Invalid argument: no connection request %1 is waiting").arg(requestId));
    }

    ++m_generation;
    m_traffic = {};
    m_tcp = socket;
    m_state = sckConnected;
    setPeer(socket->peerAddress(), socket->peerPort());
    attachTcp(socket);

    // Data the peer sent before the accept, or its close, came while nobody
    // listened to the socket; pick it up once the window's handler is done.
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, socket, generation] {
            if (generation != m_generation || !socket || socket != m_tcp)
                return;
            if (socket->state() == QAbstractSocket::ConnectedState)
                onTcpReadyRead();
            else
                onTcpDisconnected();
        },
        Qt::QueuedConnection);
}

void SocketControl::Close()
{
    ++m_generation;
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    qint64 unsent = dropHeldDatagrams();
    m_udpTarget.clear();
    m_targetFailure.clear();

    // Requests waiting in m_requests stay: the window closes the listener and
    // then accepts one of them on this same object.
    if (QTcpServer* server = m_server) {
        m_server = nullptr;
        server->disconnect(this);
        server->close();
        server->deleteLater();
    }
    unsent += releaseTcp();
    // Datagrams still waiting arrived for a socket the user closed: discarded.
    stopDatagramReader();
    if (QUdpSocket* udp = m_udp) {
        m_udp = nullptr;
        udp->disconnect(this);
        udp->close();
        udp->deleteLater();
    }
    m_received.clear();
    m_state = sckClosed;
    if (unsent > 0)
        emit bytesNotSent(unsent, false);
}

void SocketControl::SendData(const QByteArray& data)
{
    const bool tcp = m_tcp && m_state == sckConnected;
    if (!tcp && !(m_udp && m_state == sckOpen))
        throw wrongProtocolOrState();
    if (data.isEmpty())
        return;
    if (tcp) {
        CallScope scope(m_inCall);
        // Qt keeps whatever the kernel does not take at once and sends it as
        // the peer reads; nothing is dropped.
        if (m_tcp->write(data) != data.size())
            throw socketError(m_tcp->error(), m_tcp->errorString(), QString());
    } else {
        sendDatagram(data);
    }
    m_traffic.bytesOut += data.size();
}

void SocketControl::setDatagramQueueLimit(qint64 bytes)
{
    if (bytes < 0)
        throw KvErr::invalidPropertyValue();
    m_datagramQueueLimit = bytes;
}

QByteArray SocketControl::GetData()
{
    return std::exchange(m_received, QByteArray());
}

void SocketControl::SendDataTo(const QByteArray& data, const QHostAddress& address, quint16 port)
{
    if (!(m_udp && m_state == sckOpen))
        throw wrongProtocolOrState();
    if (data.isEmpty())
        return;
    bool isV4 = false;
    address.toIPv4Address(&isV4);
    const qint64 limit = isV4 ? MaxDatagramIPv4 : MaxDatagramIPv6;
    if (data.size() > limit)
        throw KvError(
            ErrDatagramTooLarge,
            QStringLiteral("Datagram too large: %1 bytes, at most %2 fit").arg(data.size()).arg(limit));
    CallScope scope(m_inCall);
    if (m_udp->writeDatagram(data, address, port) != data.size())
        throw socketError(m_udp->error(), m_udp->errorString(), QString());
    m_traffic.bytesOut += data.size();
}

QString SocketControl::lastSender() const
{
    return m_lastSenderText.isEmpty() ? QString() : hostAndPort(m_lastSenderText, m_lastSenderPort);
}

qint64 SocketControl::bytesToWrite() const
{
    return (m_tcp ? m_tcp->bytesToWrite() : 0) + m_heldBytes;
}

qint64 SocketControl::largestDatagram() const
{
    bool isV4 = false;
    m_udpTarget.toIPv4Address(&isV4);
    // Until the lookup answers, the smaller IPv4 limit holds.
    return (m_udpTarget.isNull() || isV4) ? MaxDatagramIPv4 : MaxDatagramIPv6;
}

void SocketControl::openUdp()
{
    auto* udp = new QUdpSocket(this);
    udp->setProxy(QNetworkProxy::NoProxy);
    // A port that another socket holds is refused, never shared.
    if (!udp->bind(QHostAddress::Any, quint16(m_localPort), QAbstractSocket::DontShareAddress)) {
        const KvError failure =
            socketError(udp->error(), udp->errorString(), QStringLiteral("port %1").arg(m_localPort));
        delete udp;
        throw failure;
    }

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

void SocketControl::startUdpLookup()
{
    if (m_lookupId != -1) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_udpTarget.clear();
    m_targetFailure.clear();

    // Like a lookup that failed: the window hears of it after the open.
    if (!isWholeHostText(m_remoteHost)) {
        udpTargetNotFound(true);
        return;
    }
    const QString host = bareHost(m_remoteHost);
    QHostAddress literal;
    if (literal.setAddress(host)) {
        m_udpTarget = literal;
        flushHeldDatagrams();
        return;
    }
    // No remote host: the socket can still receive; sending is refused.
    if (host.isEmpty()) {
        if (const qint64 lost = dropHeldDatagrams())
            emit bytesNotSent(lost, false);
        return;
    }
    m_lookupId = QHostInfo::lookupHost(host, this, &SocketControl::onLookupDone);
}

void SocketControl::onLookupDone(const QHostInfo& info)
{
    if (info.lookupId() != m_lookupId || !m_udp)
        return;
    m_lookupId = -1;

    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        udpTargetNotFound(false);
        return;
    }
    m_udpTarget = addresses.first();
    // A socket that fell back to IPv4 only cannot reach an IPv6 address.
    if (m_udp->localAddress().protocol() == QAbstractSocket::IPv4Protocol) {
        for (const QHostAddress& address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                m_udpTarget = address;
                break;
            }
        }
    }
    flushHeldDatagrams();
}

void SocketControl::udpTargetNotFound(bool later)
{
    // Binding needs no remote host, only sending does: the socket stays open
    // and receiving.
    m_targetFailure = hostNotFound(m_remoteHost).description() +
                      QStringLiteral(". Nothing can be sent until the connection is opened again "
                                     "with another host.");
    const QString description = m_targetFailure;
    const qint64 lost = dropHeldDatagrams();
    if (!later) {
        emit sendingFailed(description, lost);
        return;
    }
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, description, lost] {
            if (generation == m_generation && m_targetFailure == description)
                emit sendingFailed(description, lost);
            else if (lost > 0)
                emit bytesNotSent(lost, false);
        },
        Qt::QueuedConnection);
}

void SocketControl::sendDatagram(const QByteArray& bytes)
{
    const qint64 limit = largestDatagram();
    if (bytes.size() > limit) {
        throw KvError(
            ErrDatagramTooLarge,
            QStringLiteral("Datagram too large: %1 bytes, at most %2 fit").arg(bytes.size()).arg(limit));
    }
    if (m_udpTarget.isNull()) {
        if (!m_targetFailure.isEmpty())
            throw KvError(ErrHostNotFound, m_targetFailure);
        if (m_lookupId == -1)
            throw KvError(ErrAddressNotAvailable, QStringLiteral("No remote host to send to"));
        m_heldDatagrams.append(bytes);
        m_heldBytes += bytes.size();
        return;
    }
    CallScope scope(m_inCall);
    if (m_udp->writeDatagram(bytes, m_udpTarget, m_udpTargetPort) != bytes.size())
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

void SocketControl::attachTcp(QTcpSocket* socket)
{
    m_peerClosed = false;
    m_readFailureReported = false;
    m_unsentAtEnd = 0;
    socket->setParent(this);
    socket->setReadBufferSize(ReadBufferLimit);
    // Qt empties the socket's write buffer when the connection fails or ends;
    // what waited in it is counted first, before any handler closes it.
    auto countUnsent = [this, socket] {
        if (socket == m_tcp)
            m_unsentAtEnd = qMax(m_unsentAtEnd, socket->bytesToWrite());
    };
    connect(socket, &QAbstractSocket::errorOccurred, this, countUnsent);
    connect(socket, &QAbstractSocket::stateChanged, this, [countUnsent](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            countUnsent();
    });
    connect(socket, &QIODevice::readyRead, this, [this, socket] {
        if (socket == m_tcp)
            onTcpReadyRead();
    });
    connect(socket, &QAbstractSocket::disconnected, this, [this, socket] {
        if (socket == m_tcp)
            onTcpDisconnected();
    });
    connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] {
        if (socket == m_tcp)
            onTcpError();
    });
    // Passed on as it is: releaseTcp cuts the socket loose first.
    connect(socket, &QIODevice::bytesWritten, this, &SocketControl::bytesWritten);
}

qint64 SocketControl::releaseTcp()
{
    QTcpSocket* socket = m_tcp;
    m_tcp = nullptr;
    if (!socket)
        return 0;
    socket->disconnect(this);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        const qint64 unsent = qMax(socket->bytesToWrite(), m_unsentAtEnd);
        socket->abort();
        socket->deleteLater();
        return unsent;
    }
    // Close gracefully so that data SendData queued still reaches the peer.
    // What still waits when the peer goes or the grace time is over is lost,
    // and the window is told how much.
    const auto unsent = std::make_shared<qint64>(socket->bytesToWrite());
    if (*unsent > 0) {
        connect(socket, &QIODevice::bytesWritten, this, [unsent](qint64 bytes) { *unsent -= bytes; });
        connect(socket, &QAbstractSocket::stateChanged, this,
                [this, unsent](QAbstractSocket::SocketState state) {
                    if (state == QAbstractSocket::UnconnectedState && *unsent > 0)
                        emit bytesNotSent(std::exchange(*unsent, 0), true);
                });
    }
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(CloseGraceMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    return 0;
}

void SocketControl::reportError(const KvError& failure)
{
    m_state = sckError;
    const int number = failure.number();
    const QString description = failure.description();
    if (m_inCall) {
        const quint32 generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation, number, description] {
                if (generation == m_generation && m_state == sckError)
                    emit error(number, description);
            },
            Qt::QueuedConnection);
        return;
    }
    emit error(number, description);
}

void SocketControl::setPeer(const QHostAddress& address, quint16 port)
{
    m_remoteHostIP = addressText(address);
    m_remotePort = port;
}

qint32 SocketControl::nextRequestId()
{
    m_lastRequestId = m_lastRequestId == std::numeric_limits<qint32>::max() ? 1 : m_lastRequestId + 1;
    return m_lastRequestId;
}

void SocketControl::onTcpStateChanged()
{
    if (m_state != sckResolvingHost && m_state != sckHostResolved && m_state != sckConnecting)
        return;
    switch (m_tcp->state()) {
    case QAbstractSocket::HostLookupState:
        m_state = sckResolvingHost;
        break;
    case QAbstractSocket::ConnectingState:
        m_state = sckConnecting;
        break;
    default:
        break;
    }
}

void SocketControl::onTcpConnected()
{
    m_state = sckConnected;
    setPeer(m_tcp->peerAddress(), m_tcp->peerPort());
    emit connected();
}

void SocketControl::onTcpReadyRead()
{
    deliverTcpData();
}

void SocketControl::deliverTcpData()
{
    const QPointer<SocketControl> self(this);
    const QPointer<QTcpSocket> socket = m_tcp;
    if (!socket || m_state != sckConnected)
        return;
    if (socket->bytesAvailable() > 0) {
        if (!takeTcpData(socket)) {
            reportReadFailure();
            if (self)
                scheduleTcpDelivery(ReadRetryMs);
            return;
        }
        emit dataArrival(clampCount(m_received.size()));
        if (!self || !socket || socket != m_tcp || m_state != sckConnected)
            return;
    }
    // More waiting, also what came while the handler ran and Qt did not
    // announce: take it on the next turn of the event loop.
    if (socket->bytesAvailable() > 0) {
        scheduleTcpDelivery();
        return;
    }
    // The peer's last data has gone to the window before its close does.
    if (m_peerClosed) {
        m_state = sckClosing;
        emit closed();
    }
}

void SocketControl::scheduleTcpDelivery(int delayMs)
{
    if (m_deliveryQueued)
        return;
    m_deliveryQueued = true;
    const quint32 generation = m_generation;
    QTimer::singleShot(delayMs, this, [this, generation] {
        m_deliveryQueued = false;
        if (generation == m_generation)
            deliverTcpData();
    });
}

// Appends what the socket holds, up to one arrival, to m_received. For want of
// memory the data stays in the socket and false is returned.
bool SocketControl::takeTcpData(QTcpSocket* socket)
{
    const qsizetype before = m_received.size();
    const qint64 wanted = qMin(socket->bytesAvailable(), MaxArrival);
    try {
        m_received.resize(before + wanted);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const qint64 got = qMax<qint64>(socket->read(m_received.data() + before, wanted), 0);
    m_received.resize(before + got);
    m_traffic.bytesIn += got;
    return true;
}

void SocketControl::reportReadFailure()
{
    if (m_readFailureReported)
        return;
    m_readFailureReported = true;
    emit readFailed(
        QStringLiteral("Out of memory: received data waits in the socket and is read again shortly"));
}

void SocketControl::onTcpDisconnected()
{
    if (m_state != sckConnected || m_peerClosed)
        return;
    m_peerClosed = true;
    deliverTcpData();
}

void SocketControl::onTcpError()
{
    const QAbstractSocket::SocketError code = m_tcp->error();
    // A peer that closes, or resets, the connection ends it like a close.
    if (code == QAbstractSocket::RemoteHostClosedError)
        return;
    if (m_state == sckClosing || m_state == sckError)
        return;
    QString context;
    if (code == QAbstractSocket::HostNotFoundError)
        context = m_remoteHost;
    else if (code == QAbstractSocket::ConnectionRefusedError || code == QAbstractSocket::SocketTimeoutError)
        context = hostAndPort(m_remoteHost, m_remotePort);
    reportError(socketError(code, m_tcp->errorString(), context));
}

void SocketControl::onNewConnection()
{
    const QPointer<SocketControl> self(this);
    const QPointer<QTcpServer> server = qobject_cast<QTcpServer*>(sender());
    while (self && server && server == m_server && m_state == sckListening &&
           server->hasPendingConnections()) {
        QTcpSocket* socket = server->nextPendingConnection();
        if (!socket)
            break;
        // Owned here, so that closing the listener leaves it alive for Accept.
        socket->setParent(this);
        socket->setReadBufferSize(ReadBufferLimit);
        const qint32 id = nextRequestId();
        m_requests.insert(id, socket);
        emit connectionRequest(id);
        if (!self)
            return;
        // The handler did not accept it: refuse the peer and free the socket.
        if (const QPointer<QTcpSocket> refused = m_requests.take(id)) {
            refused->abort();
            refused->deleteLater();
        }
    }
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
        emit dataArrival(clampCount(datagram.payload.size()));
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
