#include "net/Address.h"
#include "net/SocketControl.h"
#include "net/SocketErrors.h"
#include "platform/TcpPortUse.h"

#include <QNetworkProxy>
#include <QScopedValueRollback>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <limits>
#include <memory>
#include <utility>

// How long a closed connection may take to hand its unsent data to the peer
// before it is cut off; a peer that stops reading must not hold it forever.
constexpr int CloseGraceMs = 30000;

// A client bound to its local port may take it over from a connection of
// that port that only waits out its close, so that a reconnect works at once.
// Windows lets such a bind take a port from a live socket, so there the port
// is bound exclusively.
#ifdef Q_OS_WIN
constexpr auto ClientBindMode = QAbstractSocket::DontShareAddress;
#else
constexpr auto ClientBindMode = QAbstractSocket::ReuseAddressHint;
#endif

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

// The sharing bind would share a port with a live socket too, which then
// fails only when it connects: whether one holds the port is looked for. A
// port that a bind of its own can take is free, and needs no look.
static bool heldByLiveSocket(quint16 port)
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

void SocketControl::Connect()
{
    requireClosed();
    if (m_protocol == UdpProtocol) {
        openUdp();
        return;
    }

    if (m_localPort != 0 && heldByLiveSocket(quint16(m_localPort)))
        throw socketError(QAbstractSocket::AddressInUseError, QString(),
                          QStringLiteral("port %1").arg(m_localPort));
    QTcpSocket* socket = m_protocol == TlsProtocol ? newTlsClient() : new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    // Read as it arrives, up to a bound; past it TCP makes the peer wait.
    socket->setReadBufferSize(ReadBufferLimit);
    if (m_localPort != 0 && !socket->bind(QHostAddress::Any, quint16(m_localPort), ClientBindMode))
        portFailed(socket, socket->error(), socket->errorString(), m_localPort);

    ++m_generation;
    m_traffic = {};
    m_tcp = socket;
    m_state = sckResolvingHost;
    attachTcp(socket);

    // A refusal on loopback can come back inside this call; it still reaches
    // the window as a later event, like any other connect failure.
    const QScopedValueRollback<bool> scope(m_inCall, true);
    if (!isWholeHostText(m_remoteHost)) {
        reportError(hostNotFound(m_remoteHost));
        return;
    }
    if (auto* tls = qobject_cast<QSslSocket*>(socket))
        tls->connectToHostEncrypted(bareHost(m_remoteHost), quint16(m_remotePort), bareHost(m_remoteHost));
    else
        socket->connectToHost(bareHost(m_remoteHost), quint16(m_remotePort));
}

void SocketControl::Listen()
{
    requireClosed();
    if (m_protocol == UdpProtocol)
        throw wrongProtocolOrState();

    QTcpServer* server = m_protocol == TlsProtocol ? newTlsServer() : new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    // Any is dual-stack: IPv4 and IPv6 clients alike.
    if (!server->listen(QHostAddress::Any, quint16(m_localPort)))
        portFailed(server, server->serverError(), server->errorString(), m_localPort);

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

void SocketControl::Accept(qint32 requestId)
{
    requireClosed();
    if (m_protocol == UdpProtocol)
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
                deliverTcpData();
            else
                onTcpDisconnected();
        },
        Qt::QueuedConnection);
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
    // Each signal is heard while the socket is still the connection's.
    auto whileCurrent = [this, socket](void (SocketControl::*handle)()) {
        return [this, socket, handle] {
            if (socket == m_tcp)
                (this->*handle)();
        };
    };
    connect(socket, &QIODevice::readyRead, this, whileCurrent(&SocketControl::deliverTcpData));
    connect(socket, &QAbstractSocket::disconnected, this, whileCurrent(&SocketControl::onTcpDisconnected));
    connect(socket, &QAbstractSocket::errorOccurred, this, whileCurrent(&SocketControl::onTcpError));
    // Passed on as it is: releaseTcp cuts the socket loose first.
    connect(socket, &QIODevice::bytesWritten, this, &SocketControl::bytesWritten);
    // The steps of a connect; an accepted socket is past them.
    connect(socket, &QAbstractSocket::connected, this, whileCurrent(&SocketControl::onTcpConnected));
    connect(socket, &QAbstractSocket::stateChanged, this, whileCurrent(&SocketControl::onTcpStateChanged));
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
    // A TLS client is connected once its handshake is through.
    if (qobject_cast<QSslSocket*>(m_tcp.data()))
        return;
    m_state = sckConnected;
    setPeer(m_tcp->peerAddress(), m_tcp->peerPort());
    emit connected();
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
        emit dataArrival(qint32(qMin<qsizetype>(m_received.size(), std::numeric_limits<qint32>::max())));
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
    if (code == QAbstractSocket::RemoteHostClosedError && tlsHandshakeCut())
        return;
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
