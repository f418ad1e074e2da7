#include "net/Address.h"

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
