#include "net/Address.h"
#include "net/SocketControl.h"
#include "net/SocketErrors.h"

#include <QHostInfo>
#include <QUdpSocket>

#include <utility>

void SocketControl::abortLookup()
{
    if (m_lookupId != -1)
        QHostInfo::abortHostLookup(std::exchange(m_lookupId, -1));
}

void SocketControl::startUdpLookup()
{
    abortLookup();
    m_udpTarget.clear();
    m_targetFailure.clear();

    // Like a lookup that failed: the window hears of it after the open.
    if (!isWholeHostText(m_remoteHost)) {
        udpTargetNotFound(true);
        return;
    }
    const QString host = bareHost(m_remoteHost);
    QHostAddress literal;
    if (literal.setAddress(host)) {
        m_udpTarget = literal;
        flushHeldDatagrams();
        return;
    }
    // No remote host: the socket can still receive; sending is refused.
    if (host.isEmpty()) {
        if (const qint64 lost = dropHeldDatagrams())
            emit bytesNotSent(lost, false);
        return;
    }
    m_lookupId = QHostInfo::lookupHost(host, this, &SocketControl::onLookupDone);
}

void SocketControl::onLookupDone(const QHostInfo& info)
{
    if (info.lookupId() != m_lookupId || !m_udp)
        return;
    m_lookupId = -1;

    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        udpTargetNotFound(false);
        return;
    }
    m_udpTarget = addresses.first();
    // A socket that fell back to IPv4 only cannot reach an IPv6 address.
    if (m_udp->localAddress().protocol() == QAbstractSocket::IPv4Protocol) {
        for (const QHostAddress& address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                m_udpTarget = address;
                break;
            }
        }
    }
    flushHeldDatagrams();
}

void SocketControl::udpTargetNotFound(bool later)
{
    // Binding needs no remote host, only sending does: the socket stays open
    // and receiving.
    m_targetFailure = hostNotFound(m_remoteHost).description() +
                      QStringLiteral(". Nothing can be sent until the connection is opened again "
                                     "with another host.");
    const QString description = m_targetFailure;
    const qint64 lost = dropHeldDatagrams();
    if (!later) {
        emit sendingFailed(description, lost);
        return;
    }
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, description, lost] {
            if (generation == m_generation && m_targetFailure == description)
                emit sendingFailed(description, lost);
            else if (lost > 0)
                emit bytesNotSent(lost, false);
        },
        Qt::QueuedConnection);
}
