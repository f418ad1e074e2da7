#pragma once

#include <QString>

class QHostAddress;

// How the program writes an address together with its port. An IPv6
// address holds colons of its own, so it goes in brackets ("[::1]:5005");
// a name, an IPv4 address or a text already in brackets stays as typed.
QString hostAndPort(const QString& host, const QString& port);
QString hostAndPort(const QString& host, qint64 port);

// A host text is taken whole: one holding a control character (NUL, tab,
// line break...) names no host, and must not be cut down to the part before it.
bool isWholeHostText(const QString& host);

// Users may write an IPv6 address in brackets, as in a URL: the address alone.
QString bareHost(const QString& host);
// A dual-stack socket sees IPv4 peers as IPv4-mapped IPv6 addresses; users
// know them by their IPv4 form.
QString addressText(const QHostAddress& address);
