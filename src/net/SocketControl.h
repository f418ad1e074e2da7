#pragma once

#include "platform/KvError.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslError>
#include <QSslKey>
#include <QString>
#include <QStringList>

#include <memory>

class QHostInfo;
class QSslServer;
class QSslSocket;
class QTcpServer;
class QTcpSocket;
class QTimer;
class QUdpSocket;
class DatagramReader;

// The window's one socket: TCP client, TCP server holding one peer at a time,
// or UDP peer. Driven from the window's thread; every event is a signal that
// the window handles synchronously, and the handlers may call back into any
// member, including Close and Accept, from inside the emission.
//
// Data goes both ways as bytes, exactly as it crosses the wire.
// Failures known at once throw KvError; later ones arrive as error().
class SocketControl : public QObject
{
    Q_OBJECT

public:
    enum StateValue
    {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9
    };

    // Error numbers of the failures this class reports.
    enum ErrorNumber
    {
        ErrPermissionDenied = 10013,
        ErrInvalidArgument = 10022,
        ErrDatagramTooLarge = KvErr::DatagramTooLarge,
        ErrAddressFamily = 10047,
        ErrAddressInUse = 10048,
        ErrAddressNotAvailable = 10049,
        ErrNetwork = 10050,
        ErrConnectionReset = 10054,
        ErrNoResources = 10055,
        ErrTimedOut = 10060,
        ErrConnectionRefused = 10061,
        ErrHostNotFound = 11001,
        ErrWrongProtocolOrState = 40006,
        ErrInvalidOperation = 40020,
        ErrTlsFailed = 40210,
        ErrTlsNotTrusted = 40211,
        ErrTlsNoCertificate = 40212
    };

    static constexpr int TcpProtocol = 0;
    static constexpr int UdpProtocol = 1;
    // TCP with TLS; data in and out is the plaintext.
    static constexpr int TlsProtocol = 2;
    // How long a TLS handshake may take before the socket gives up on it.
    static constexpr int DefaultTlsHandshakeMs = 20000;

    // How much received UDP data may wait for the window, payload and
    // bookkeeping together. Past it the system drops further datagrams, and
    // datagramsDropped() says how many. Four seconds of 1 KB datagrams at
    // 100,000 a second fit even while the window shows none of them; the
    // normal view, with about 4 KB of log for each, shows far fewer a second.
    static constexpr qint64 DefaultDatagramQueueLimit = 512 * 1024 * 1024;

    // What the conversation has carried since the socket opened, or since its
    // peer was accepted: bytes either way, datagrams read, and datagrams the
    // system dropped before they could be read.
    struct Traffic
    {
        qint64 bytesIn = 0;
        qint64 bytesOut = 0;
        qint64 datagramsIn = 0;
        qint64 datagramsDropped = 0;
    };

    explicit SocketControl(QObject* parent = nullptr);
    ~SocketControl() override;

    int Protocol() const { return m_protocol; }
    void setProtocol(int protocol);
    qint32 LocalPort() const { return m_localPort; }
    void setLocalPort(qint32 port);
    QString RemoteHost() const { return m_remoteHost; }
    void setRemoteHost(const QString& host);
    qint32 RemotePort() const { return m_remotePort; }
    void setRemotePort(qint32 port);
    QString RemoteHostIP() const { return m_remoteHostIP; }
    // Who sent the last datagram, with its port ("[::1]:4000"); empty until
    // one arrives on the open socket.
    QString lastSender() const;
    // The same as an address and a port; null until a datagram arrives.
    QHostAddress lastSenderAddress() const { return m_lastSender; }
    quint16 lastSenderPort() const { return m_lastSenderPort; }
    const Traffic& traffic() const { return m_traffic; }
    int State() const { return m_state; }

    void Connect();
    void Listen();
    void Bind();
    void Accept(qint32 requestId);
    void Close();

    void SendData(const QByteArray& data);
    // One datagram to this address and port, whatever the host and port boxes
    // hold: a reply goes back to whoever sent the datagram.
    void SendDataTo(const QByteArray& data, const QHostAddress& address, quint16 port);
    QByteArray GetData();

    // Take effect at the next Bind or Connect.
    void setDatagramQueueLimit(qint64 bytes);
    // Datagrams read through Qt alone, as where the system has no reader of
    // its own; for tests and benchmarks.
    void setPortableDatagramReader(bool portable) { m_portableReader = portable; }
    // Whether datagramsDropped() counts what the system dropped too, or only
    // what was lost inside the program; false while no UDP socket is open.
    bool countsSystemDrops() const;
    // Bytes that SendData took and that have not yet left the program: TCP
    // data the kernel has not taken yet, UDP datagrams waiting for a lookup.
    qint64 bytesToWrite() const;
    // The largest datagram SendData takes for the current UDP destination.
    qint64 largestDatagram() const;

    // TLS (SocketTls.cpp). The certificate and key a TLS server shows, and a
    // TLS client when its server asks for one; null ones for none.
    void setTlsIdentity(const QSslCertificate& certificate, const QSslKey& key);
    bool hasTlsIdentity() const { return !m_tlsCertificate.isNull() && !m_tlsKey.isNull(); }
    void setTlsHandshakeTimeout(int ms) { m_tlsHandshakeMs = ms; }
    // After peerNotVerified: go on with this server's certificate, or close.
    void trustPeer();
    void rejectPeer();
    // "TLS 1.3, TLS_AES_256_GCM_SHA384, CN=..." for the encrypted connection;
    // the version alone from tlsVersion(). Empty without one.
    QString tlsSummary() const;
    QString tlsVersion() const;

signals:
    void connected();
    void closed();
    void connectionRequest(qint32 requestId);
    void dataArrival(qint32 bytesTotal);
    void error(int number, const QString& description);
    // UDP sending failed where no caller waits on it: the remote host cannot
    // be found (then every send fails with this description until the socket
    // closes or gets another host), or the datagrams that waited for it were
    // refused. Receiving needs none of it, so the socket stays open. The
    // datagrams that waited are lost; unsentBytes counts their bytes.
    void sendingFailed(const QString& description, qint64 unsentBytes);
    // Datagrams lost before the window saw them, counted since the last
    // report: dropped by the system while the socket was full, or for want of
    // memory. At most one report a second.
    void datagramsDropped(qint64 count);
    // Received data could not be stored for want of memory; it waits in the
    // socket and is read again shortly. Once a connection.
    void readFailed(const QString& description);
    // Some of the bytes waiting to go out have left the program.
    void bytesWritten(qint64 bytes);
    // A connection ended while these bytes still waited to go out: they are
    // lost. Comes from Close, or later (closedEarlier), when a connection
    // closed gracefully runs out of grace time or its peer goes before it has
    // taken them; by then another connection may be open.
    void bytesNotSent(qint64 bytes, bool closedEarlier);
    // The server's certificate did not pass the checks, for these reasons; the
    // handshake waits for trustPeer() or rejectPeer().
    void peerNotVerified(const QSslCertificate& certificate, const QStringList& reasons);
    // A TLS server's peer failed its handshake and was let go; listening goes on.
    void peerRefused(const QString& description);

private:
    // The state both protocols share, and reporting (SocketControl.cpp).
    void requireClosed() const;
    void reportError(const KvError& failure);
    void setPeer(const QHostAddress& address, quint16 port);
    // The TCP client and server (SocketTcp.cpp).
    void attachTcp(QTcpSocket* socket);
    // Returns the bytes that were waiting and are lost at once.
    qint64 releaseTcp();
    qint32 nextRequestId();
    void onTcpStateChanged();
    void onTcpConnected();
    void deliverTcpData();
    void scheduleTcpDelivery(int delayMs = 0);
    bool takeTcpData(QTcpSocket* socket);
    void reportReadFailure();
    void onTcpDisconnected();
    void onTcpError();
    void onNewConnection();
    // TLS (SocketTls.cpp).
    QSslSocket* newTlsClient();
    QTcpServer* newTlsServer();
    void onTlsEncrypted();
    void onTlsErrors(const QList<QSslError>& errors);
    // The TLS client lost its server before the handshake ended.
    bool tlsHandshakeCut();
    // The UDP socket: datagrams out and in (SocketUdp.cpp).
    void openUdp();
    void sendDatagram(const QByteArray& bytes);
    void writeDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port);
    void flushHeldDatagrams();
    // Empties the datagrams waiting for the lookup; returns their bytes.
    qint64 dropHeldDatagrams();
    void onUdpError();
    void startDatagramReader(QUdpSocket* udp);
    void stopDatagramReader();
    void deliverDatagrams();
    void reportDrops();
    // The lookup of the UDP destination (SocketLookup.cpp).
    void startUdpLookup();
    void abortLookup();
    void onLookupDone(const QHostInfo& info);
    // The remote host was not found: the window hears of it now, or after the
    // call under way when `later`.
    void udpTargetNotFound(bool later);

    int m_protocol = TcpProtocol;
    qint32 m_localPort = 0;
    QString m_remoteHost;
    qint32 m_remotePort = 5005;
    QString m_remoteHostIP;
    StateValue m_state = sckClosed;
    Traffic m_traffic;

    QPointer<QTcpSocket> m_tcp;
    QPointer<QTcpServer> m_server;
    QPointer<QUdpSocket> m_udp;
    QHash<qint32, QPointer<QTcpSocket>> m_requests;
    qint32 m_lastRequestId = 0;
    QByteArray m_received;
    // The peer has closed; its close is raised once its data is delivered.
    bool m_peerClosed = false;
    bool m_deliveryQueued = false;
    // Changes whenever the socket opens or closes, so that work queued for
    // an earlier connection finds out it is stale.
    quint32 m_generation = 0;

    // UDP destination. The lookup runs in the background; datagrams sent
    // before it answers wait here, in order.
    QHostAddress m_udpTarget;
    quint16 m_udpTargetPort = 0;
    int m_lookupId = -1;
    QList<QByteArray> m_heldDatagrams;
    // Why nothing can be sent: the remote host was not found.
    QString m_targetFailure;

    // UDP reception: the reader thread, what it may hold, and the drops not
    // yet reported. The sender's address text is kept while datagrams come
    // from the same sender.
    qint64 m_datagramQueueLimit = DefaultDatagramQueueLimit;
    bool m_portableReader = false;
    std::unique_ptr<DatagramReader> m_reader;
    QTimer* m_dropTimer = nullptr;
    qint64 m_unreportedDrops = 0;
    QHostAddress m_lastSender;
    QString m_lastSenderText;
    quint16 m_lastSenderPort = 0;
    // The window has been told that received TCP data could not be stored.
    bool m_readFailureReported = false;
    qint64 m_heldBytes = 0;
    // What waited to go out when the TCP connection ended; Qt drops it soon after.
    qint64 m_unsentAtEnd = 0;
    // Set while this class itself calls into a socket, so that errors the
    // call reports synchronously are thrown rather than signalled.
    bool m_inCall = false;

    QSslCertificate m_tlsCertificate;
    QSslKey m_tlsKey;
    int m_tlsHandshakeMs = DefaultTlsHandshakeMs;
    QTimer* m_tlsTimer = nullptr;
    QList<QSslError> m_tlsErrors;
};
