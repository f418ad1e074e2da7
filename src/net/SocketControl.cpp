#include "net/SocketControl.h"

#include "net/Address.h"
#include "net/SocketErrors.h"
#include "platform/DatagramReader.h"

#include <QScopedValueRollback>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <utility>

SocketControl::SocketControl(QObject* parent) : QObject(parent), m_remoteHost(QStringLiteral("127.0.0.1")) {}

SocketControl::~SocketControl()
{
    ++m_generation;
    // The reader reads the UDP socket's descriptor: it ends before the socket does.
    m_reader.reset();
    abortLookup();
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
    if (protocol != TcpProtocol && protocol != UdpProtocol && protocol != TlsProtocol)
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

void SocketControl::Bind()
{
    requireClosed();
    if (m_protocol != UdpProtocol)
        throw wrongProtocolOrState();
    openUdp();
}

void SocketControl::Close()
{
    ++m_generation;
    abortLookup();
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
    if (m_tlsTimer)
        m_tlsTimer->stop();
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
        const QScopedValueRollback<bool> scope(m_inCall, true);
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

QString SocketControl::lastSender() const
{
    return m_lastSenderText.isEmpty() ? QString() : hostAndPort(m_lastSenderText, m_lastSenderPort);
}

qint64 SocketControl::bytesToWrite() const
{
    return (m_tcp ? m_tcp->bytesToWrite() : 0) + m_heldBytes;
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
