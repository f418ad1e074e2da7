#include "ui/SocketSendLink.h"

#include "net/SocketControl.h"

void SocketSendLink::send(const QByteArray& bytes)
{
    m_socket->SendData(bytes);
}

qint64 SocketSendLink::bytesWaiting() const
{
    return m_socket->bytesToWrite();
}

qint64 SocketSendLink::largestMessage() const
{
    return m_socket->Protocol() == SocketControl::UdpProtocol ? m_socket->largestDatagram() : 0;
}

void SocketReplyLink::send(const QByteArray& bytes, const QHostAddress& to, quint16 port)
{
    if (to.isNull())
        m_socket->SendData(bytes);
    else
        m_socket->SendDataTo(bytes, to, port);
}

qint64 SocketReplyLink::bytesWaiting() const
{
    return m_socket->bytesToWrite();
}

void answerArrival(ReplyEngine& engine, const SocketControl& socket, const QByteArray& data)
{
    if (socket.Protocol() == SocketControl::UdpProtocol)
        engine.datagramArrived(data, socket.lastSenderAddress(), socket.lastSenderPort());
    else
        engine.streamArrived(data);
}
