#pragma once

#include <QObject>
#include <QStringList>

class SocketControl;

// What the connection handlings read from the window and change in it.
class ConnectionView
{
public:
    virtual ~ConnectionView() = default;

    // The address and port boxes, as typed.
    virtual QString hostText() const = 0;
    virtual QString remotePortText() const = 0;
    virtual QString localPortText() const = 0;
    // The role options, and the protocol chosen: 0 TCP, 1 UDP, 2 TLS. protocol()
    // throws when none is chosen.
    virtual bool serverRole() const = 0;
    virtual bool clientRole() const = 0;
    virtual int protocol() const = 0;
    // The server closes for good when its client leaves (the box checked, exactly).
    virtual bool closeOnDisconnect() const = 0;

    virtual void setAddressBoxesEnabled(bool enabled) = 0;
    virtual void setRoleOptionsEnabled(bool enabled) = 0;
    // The connection to the peer has ended: closed, or a server listening
    // again for another peer. Sendings to it stop.
    virtual void connectionEnded() = 0;
    // One log entry made of these items.
    virtual void report(const QStringList& items) = 0;
};

// Opens and ends the one connection and follows the socket's events. The
// situation the user sees (idle, listening, connecting, connected, listening
// again) is the socket's state together with what the view shows enabled and
// isConnected(); there is no state variable of its own.
class ConnectionControl : public QObject
{
    Q_OBJECT

public:
    enum class Situation
    {
        Idle,
        Connecting,
        Listening,
        Connected,
        ListeningAgain
    };

    ConnectionControl(SocketControl* socket, ConnectionView* view, QObject* parent = nullptr);

    // Where the connection stands, as the user sees it.
    Situation situation() const;
    // A peer is connected; line and file sending go only while this holds.
    bool isConnected() const { return bConnected; }
    // The close being handled was started here, not by the peer.
    bool isLocalClose() const { return bLocalClose; }
    // The window is closing: a close never listens again.
    bool isUnloading() const { return bUnloading; }

    // The connect button. Anything open is closed; otherwise a connection is
    // opened by the view's settings. An open that fails leaves the socket
    // closed and everything idle, and gives the failure's description for the
    // window to show; an empty text when nothing failed.
    QString connectOrClose();
    // The window closes: an open socket is closed without listening again.
    void unload();

    // The socket's events.
    void peerClosed();
    void connected();
    void connectionRequest(qint32 requestId);
    void error(const QString& description);
    // UDP sending failed with nobody waiting on it; the socket stays open and receiving.
    void sendingFailed(const QString& description, qint64 unsentBytes);

private:
    void open();
    void closeHandling();
    void connectedHandling();
    void setConnectedLook();
    // Runs a handling; a failure ends it with one entry holding its description.
    template <typename Work> void reporting(Work&& work);

    SocketControl* wsClient;
    ConnectionView* m_view;
    bool bConnected = false;
    bool bLocalClose = false;
    bool bUnloading = false;
};
