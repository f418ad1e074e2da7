#include "ui/SocketSendLink.h"

#include "net/SocketControl.h"

#include <QString>

void SocketSendLink::send(const QByteArray& bytes)
{
    m_socket->SendData(QString::fromLatin1(bytes));
}

qint64 SocketSendLink::bytesWaiting() const
{
    return m_socket->bytesToWrite();
}

qint64 SocketSendLink::largestMessage() const
{
    return m_socket->Protocol() == SocketControl::UdpProtocol ? m_socket->largestDatagram() : 0;
}
