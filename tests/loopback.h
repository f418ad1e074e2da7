#pragma once

// A socket control connected to a test's own peer on loopback.

#include "net/SocketControl.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace Loopback {

constexpr int Timeout = 10000;

// The control's connection as the test peer's server sees it.
inline QTcpSocket* takeClient(QTcpServer& server)
{
    if (!server.hasPendingConnections() && !server.waitForNewConnection(Timeout))
        return nullptr;
    return server.nextPendingConnection();
}

// Connects the control as a TCP client to a server of the test's own and
// returns the server's end of the connection.
inline QTcpSocket* connectClient(SocketControl& control, QTcpServer& peerServer)
{
    if (!peerServer.listen(QHostAddress::LocalHost, 0))
        return nullptr;
    QSignalSpy connectedSpy(&control, &SocketControl::connected);
    control.setRemotePort(peerServer.serverPort());
    control.Connect();
    if (!connectedSpy.wait(Timeout))
        return nullptr;
    return takeClient(peerServer);
}

// A TCP port on which nothing listens: taken from the system, then given back.
inline quint16 unusedTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

inline bool ipv6Available()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHostIPv6, 0);
}

} // namespace Loopback
