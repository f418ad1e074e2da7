#include "net/Address.h"

#include <QHostAddress>

#include <algorithm>

QString hostAndPort(const QString& host, const QString& port)
{
    const bool ipv6 = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['));
    // Joined piece by piece: a host like "::1%1" is text, never a format.
    QString out;
    if (ipv6)
        out += QLatin1Char('[') + host + QLatin1Char(']');
    else
        out += host;
    out += QLatin1Char(':');
    out += port;
    return out;
}

QString hostAndPort(const QString& host, qint64 port)
{
    return hostAndPort(host, QString::number(port));
}

bool isWholeHostText(const QString& host)
{
    return std::none_of(host.cbegin(), host.cend(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

QString addressText(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

QString bareHost(const QString& host)
{
    const QString trimmed = host.trimmed();
    if (trimmed.size() > 2 && trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']')))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}
