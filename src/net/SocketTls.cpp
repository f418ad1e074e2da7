#include "net/Address.h"
#include "net/SocketControl.h"
#include "net/SocketErrors.h"
#include "net/TlsCertificates.h"

#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

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

QTcpServer* SocketControl::newTlsServer()
{
    if (!hasTlsIdentity())
        throw KvError(ErrTlsNoCertificate,
                      QStringLiteral("A TLS server needs a certificate and its key: set them "
                                     "under Tools, TLS Certificate..."));
    auto* server = new QSslServer(this);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(m_tlsCertificate);
    config.setPrivateKey(m_tlsKey);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(config);
    server->setHandshakeTimeout(m_tlsHandshakeMs);
    connect(server, &QSslServer::pendingConnectionAvailable, this, &SocketControl::onNewConnection);
    connect(server, &QSslServer::errorOccurred, this,
            [this, server](QSslSocket* socket, QAbstractSocket::SocketError code) {
                // A failed handshake may bring more errors after the first.
                if (server != m_server || socket->property("kvRefused").toBool())
                    return;
                socket->setProperty("kvRefused", true);
                const QString reason =
                    code == QAbstractSocket::SocketTimeoutError
                        ? QStringLiteral("no handshake within %1 s").arg(m_tlsHandshakeMs / 1000.0)
                        : socket->errorString();
                emit peerRefused(
                    QStringLiteral("TLS handshake with %1 failed: %2")
                        .arg(hostAndPort(addressText(socket->peerAddress()), socket->peerPort()), reason));
            });
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
