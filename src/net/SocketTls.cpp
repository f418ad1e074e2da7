#include "net/Address.h"
#include "net/SocketControl.h"
#include "net/SocketErrors.h"
#include "net/TlsCertificates.h"

#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <functional>

namespace {

QString versionText(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    default:
        return QStringLiteral("TLS");
    }
}

} // namespace

void SocketControl::setTlsIdentity(const QSslCertificate& certificate, const QSslKey& key)
{
    m_tlsCertificate = certificate;
    m_tlsKey = key;
}

QSslSocket* SocketControl::newTlsClient()
{
    auto* socket = new QSslSocket(this);
    // The user decides on a certificate that fails the checks; the handshake waits meanwhile.
    socket->setPauseMode(QAbstractSocket::PauseOnSslErrors);
    if (hasTlsIdentity()) {
        socket->setLocalCertificate(m_tlsCertificate);
        socket->setPrivateKey(m_tlsKey);
    }
    if (!m_tlsTimer) {
        m_tlsTimer = new QTimer(this);
        m_tlsTimer->setSingleShot(true);
        connect(m_tlsTimer, &QTimer::timeout, this, [this] {
            if (m_tcp && m_state == sckConnecting)
                reportError(KvError(ErrTimedOut, QStringLiteral("TLS handshake with %1 timed out after %2 s")
                                                     .arg(hostAndPort(m_remoteHost, m_remotePort))
                                                     .arg(m_tlsHandshakeMs / 1000.0)));
        });
    }
    m_tlsErrors.clear();
    connect(socket, &QSslSocket::encrypted, this, [this, socket] {
        if (socket == m_tcp)
            onTlsEncrypted();
    });
    connect(socket, &QSslSocket::sslErrors, this, [this, socket](const QList<QSslError>& errors) {
        if (socket == m_tcp)
            onTlsErrors(errors);
    });
    // The clock starts once TCP is connected.
    connect(socket, &QAbstractSocket::connected, m_tlsTimer, [this] { m_tlsTimer->start(m_tlsHandshakeMs); });
    return socket;
}

void SocketControl::onTlsEncrypted()
{
    m_tlsTimer->stop();
    m_state = sckConnected;
    setPeer(m_tcp->peerAddress(), m_tcp->peerPort());
    emit connected();
}

void SocketControl::onTlsErrors(const QList<QSslError>& errors)
{
    m_tlsTimer->stop();
    m_tlsErrors = errors;
    auto* socket = qobject_cast<QSslSocket*>(m_tcp.data());
    QStringList reasons;
    for (const QSslError& e : errors)
        reasons.append(e.errorString());
    const QSslCertificate certificate = socket->peerCertificate();
    // Asked once the socket has paused, outside its own signal.
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, certificate, reasons] {
            if (generation == m_generation && m_state == sckConnecting)
                emit peerNotVerified(certificate, reasons);
        },
        Qt::QueuedConnection);
}

void SocketControl::trustPeer()
{
    auto* socket = qobject_cast<QSslSocket*>(m_tcp.data());
    if (!socket || m_state != sckConnecting)
        throw wrongProtocolOrState();
    socket->ignoreSslErrors(m_tlsErrors);
    m_tlsTimer->start(m_tlsHandshakeMs);
    socket->resume();
}

void SocketControl::rejectPeer()
{
    if (!qobject_cast<QSslSocket*>(m_tcp.data()) || m_state != sckConnecting)
        throw wrongProtocolOrState();
    reportError(KvError(ErrTlsNotTrusted, QStringLiteral("Closed: the certificate of %1 is not trusted")
                                              .arg(hostAndPort(m_remoteHost, m_remotePort))));
}

bool SocketControl::tlsHandshakeCut()
{
    if (!qobject_cast<QSslSocket*>(m_tcp.data()) || m_state != sckConnecting)
        return false;
    if (m_tlsTimer)
        m_tlsTimer->stop();
    reportError(
        KvError(ErrTlsFailed, QStringLiteral("TLS handshake with %1 failed: the server closed the connection")
                                  .arg(hostAndPort(m_remoteHost, m_remotePort))));
    return true;
}

namespace {

// Each peer gets its handshake here; only an encrypted one becomes a pending
// connection. A failed one is told through refused and let go.
class TlsServer : public QTcpServer
{
public:
    TlsServer(const QSslConfiguration& config, int handshakeMs, std::function<void(const QString&)> refused,
              QObject* parent)
        : QTcpServer(parent), m_config(config), m_handshakeMs(handshakeMs), m_refused(std::move(refused))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setSslConfiguration(m_config);
        const QString peer = hostAndPort(addressText(socket->peerAddress()), socket->peerPort());
        auto* clock = new QTimer(socket);
        clock->setSingleShot(true);
        auto fail = [this, socket, peer](const QString& why) {
            // A failed handshake may bring more errors after the first.
            if (socket->property("kvDone").toBool())
                return;
            socket->setProperty("kvDone", true);
            m_refused(QStringLiteral("TLS handshake with %1 failed: %2").arg(peer, why));
            socket->abort();
            socket->deleteLater();
        };
        connect(clock, &QTimer::timeout, socket, [fail, this] {
            fail(QStringLiteral("no handshake within %1 s").arg(m_handshakeMs / 1000.0));
        });
        connect(socket, &QAbstractSocket::errorOccurred, socket,
                [fail, socket] { fail(socket->errorString()); });
        connect(socket, &QSslSocket::encrypted, this, [this, socket, clock] {
            clock->stop();
            socket->setProperty("kvDone", true);
            socket->disconnect(this);
            addPendingConnection(socket);
        });
        clock->start(m_handshakeMs);
        socket->startServerEncryption();
    }

private:
    QSslConfiguration m_config;
    int m_handshakeMs;
    std::function<void(const QString&)> m_refused;
};

} // namespace

QTcpServer* SocketControl::newTlsServer()
{
    if (!hasTlsIdentity())
        throw KvError(ErrTlsNoCertificate,
                      QStringLiteral("A TLS server needs a certificate and its key: set them "
                                     "under Tools, TLS Certificate..."));
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(m_tlsCertificate);
    config.setPrivateKey(m_tlsKey);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    // Listen starts the next generation once the server listens.
    const quint32 generation = m_generation + 1;
    auto* server = new TlsServer(
        config, m_tlsHandshakeMs,
        [this, generation](const QString& why) {
            if (generation == m_generation && m_state == sckListening)
                emit peerRefused(why);
        },
        this);
    connect(server, &QTcpServer::pendingConnectionAvailable, this, &SocketControl::onNewConnection);
    return server;
}

QString SocketControl::tlsVersion() const
{
    const auto* socket = qobject_cast<const QSslSocket*>(m_tcp.data());
    return socket && socket->isEncrypted() ? versionText(socket->sessionProtocol()) : QString();
}

QString SocketControl::tlsSummary() const
{
    const auto* socket = qobject_cast<const QSslSocket*>(m_tcp.data());
    if (!socket || !socket->isEncrypted())
        return QString();
    QString text =
        versionText(socket->sessionProtocol()) + QStringLiteral(", ") + socket->sessionCipher().name();
    if (!socket->peerCertificate().isNull())
        text += QStringLiteral(", ") + subjectText(socket->peerCertificate());
    return text;
}
