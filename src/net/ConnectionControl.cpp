#include "net/ConnectionControl.h"

#include "net/Address.h"
#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "platform/NumConv.h"

#include <utility>

ConnectionControl::ConnectionControl(SocketControl* socket, ConnectionView* view, QObject* parent)
    : QObject(parent), wsClient(socket), m_view(view)
{
}

template <typename Work> void ConnectionControl::reporting(Work&& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        m_view->report({KvErr::describe(e)});
    }
}

ConnectionControl::Situation ConnectionControl::situation() const
{
    switch (wsClient->State()) {
    case SocketControl::sckListening:
        // A server whose client left listens on with the connection's look.
        return bConnected ? Situation::ListeningAgain : Situation::Listening;
    case SocketControl::sckOpen:
    case SocketControl::sckConnected:
        return Situation::Connected;
    case SocketControl::sckResolvingHost:
    case SocketControl::sckHostResolved:
    case SocketControl::sckConnecting:
        return Situation::Connecting;
    default:
        return Situation::Idle;
    }
}

QString ConnectionControl::connectOrClose()
{
    // The button's meaning follows from the socket alone: anything open is closed.
    if (wsClient->State() != SocketControl::sckClosed) {
        bLocalClose = true;
        closeHandling();
        return QString();
    }
    try {
        open();
        return QString();
    } catch (const std::exception& e) {
        // Nothing is retried: the socket is left closed and everything idle.
        const QString failure = KvErr::describe(e);
        // A saved log keeps the cause the box shows.
        m_view->report({failure});
        bLocalClose = true;
        closeHandling();
        return failure;
    }
}

void ConnectionControl::open()
{
    wsClient->Close();
    wsClient->setLocalPort(TextToInt32(m_view->localPortText()));
    wsClient->setRemoteHost(m_view->hostText());
    wsClient->setRemotePort(TextToInt32(m_view->remotePortText()));
    wsClient->setProtocol(m_view->protocol());

    if (m_view->serverRole()) {
        if (wsClient->Protocol() == SocketControl::UdpProtocol) {
            wsClient->Bind();
            // UDP has no connect event; it is usable as soon as it is bound.
            connectedHandling();
        } else {
            wsClient->Listen();
        }
        m_view->report(
            {hostAndPort(m_view->hostText(), m_view->localPortText()) + QStringLiteral(" is listening")});
        m_view->setRoleOptionsEnabled(false);
    } else {
        wsClient->Connect();
        // A TCP client waits for the socket's connect or error event.
        if (wsClient->Protocol() == SocketControl::UdpProtocol)
            connectedHandling();
    }
    // Without the system's count a report of dropped datagrams tells only
    // part of the story: say which part, once a socket.
    if (wsClient->Protocol() == SocketControl::UdpProtocol && wsClient->State() == SocketControl::sckOpen &&
        !wsClient->countsSystemDrops())
        m_view->report({QStringLiteral("Datagrams that the system drops before they can be read go uncounted "
                                       "here: the log reports only those dropped inside the program")});
}

void ConnectionControl::unload()
{
    if (wsClient->State() == SocketControl::sckClosed)
        return;
    bUnloading = true;
    closeHandling();
}

void ConnectionControl::peerClosed()
{
    closeHandling();
}

void ConnectionControl::closeHandling()
{
    // Taken first, so a handling that fails part way cannot leave the next
    // peer's close taken for one of ours.
    const bool localClose = std::exchange(bLocalClose, false);
    reporting([this, localClose] {
        if (!localClose)
            m_view->report({QStringLiteral("Client disconnected: ") + wsClient->RemoteHostIP()});

        bool fullClose = m_view->closeOnDisconnect() || m_view->clientRole() || localClose;
        // The peer is gone either way: what was sending to it stops before
        // the close tells what it lost.
        m_view->connectionEnded();
        if (!fullClose) {
            // A server whose client left waits for the next one on the same port.
            wsClient->Close();
            if (!bUnloading) {
                try {
                    wsClient->Listen();
                    m_view->report(
                        {QStringLiteral("Listening port ") + QString::number(wsClient->LocalPort())});
                } catch (const std::exception& e) {
                    // Someone else took the port meanwhile. Say why, then end the
                    // server properly rather than leave a window that claims to
                    // listen on a closed socket.
                    m_view->report({KvErr::describe(e)});
                    fullClose = true;
                }
            }
        }

        if (fullClose) {
            m_view->setAddressBoxesEnabled(true);
            bConnected = false;
            m_view->setRoleOptionsEnabled(true);
            wsClient->Close();
            m_view->report({QStringLiteral("Server port closed.")});
        }
    });
}

void ConnectionControl::connected()
{
    connectedHandling();
}

void ConnectionControl::connectedHandling()
{
    reporting([this] {
        const QString tls = wsClient->tlsSummary();
        m_view->report({QStringLiteral("Connected to ") +
                        hostAndPort(m_view->hostText(), m_view->remotePortText()) +
                        (tls.isEmpty() ? QString() : QStringLiteral(" - ") + tls)});
        setConnectedLook();
    });
}

void ConnectionControl::connectionRequest(qint32 requestId)
{
    reporting([this, requestId] {
        // One peer at a time: listening ends with the accept.
        wsClient->Close();
        wsClient->Accept(requestId);
        QStringList items{QStringLiteral("Connection Request Accepted: ") + QString::number(requestId),
                          QStringLiteral("Remote IP: ") +
                              hostAndPort(wsClient->RemoteHostIP(), wsClient->RemotePort())};
        if (const QString tls = wsClient->tlsSummary(); !tls.isEmpty())
            items.append(tls);
        m_view->report(items);
        setConnectedLook();
    });
}

void ConnectionControl::setConnectedLook()
{
    m_view->setAddressBoxesEnabled(false);
    bConnected = true;
    m_view->setRoleOptionsEnabled(false);
}

void ConnectionControl::error(const QString& description)
{
    // The connection as the user sees it stays: connected, roles fixed.
    m_view->report({description});
    m_view->setAddressBoxesEnabled(true);
    wsClient->Close();
}

void ConnectionControl::sendingFailed(const QString& description, qint64 unsentBytes)
{
    // Nothing closes: the user learns at once that sends will fail, and why.
    QStringList items{description};
    if (unsentBytes > 0)
        items.append(unsentBytes == 1
                         ? QStringLiteral("1 byte waiting for it was not sent.")
                         : CountText(unsentBytes) + QStringLiteral(" bytes waiting for it were not sent."));
    m_view->report(items);
}
