#pragma once

// The failures of SocketControl as the program's numbers and texts; the
// context, a port or host, follows the text where it helps. For its parts alone.

#include "net/SocketControl.h"

#include <QAbstractSocket>

inline QString withContext(const QString& text, const QString& context)
{
    return context.isEmpty() ? text : text + QStringLiteral(": ") + context;
}

inline KvError hostNotFound(const QString& host)
{
    return KvError(SocketControl::ErrHostNotFound, withContext(QStringLiteral("Host not found"), host));
}

inline KvError invalidOperation()
{
    return KvError(SocketControl::ErrInvalidOperation, QStringLiteral("Invalid operation at current state"));
}

inline KvError wrongProtocolOrState()
{
    return KvError(
        SocketControl::ErrWrongProtocolOrState,
        QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
}

inline KvError socketError(QAbstractSocket::SocketError code, const QString& qtText, const QString& context)
{
    using S = QAbstractSocket;
    using E = SocketControl;
    switch (code) {
    case S::ConnectionRefusedError:
        return KvError(E::ErrConnectionRefused, withContext(QStringLiteral("Connection refused"), context));
    case S::RemoteHostClosedError:
        return KvError(E::ErrConnectionReset, QStringLiteral("Connection reset by the remote host"));
    case S::HostNotFoundError:
        return hostNotFound(context);
    case S::SocketAccessError:
        return KvError(E::ErrPermissionDenied, withContext(QStringLiteral("Permission denied"), context));
    case S::SocketResourceError:
        return KvError(E::ErrNoResources, QStringLiteral("Out of socket resources"));
    case S::SocketTimeoutError:
        return KvError(E::ErrTimedOut, withContext(QStringLiteral("Connection timed out"), context));
    case S::DatagramTooLargeError:
        return KvError(E::ErrDatagramTooLarge, QStringLiteral("Datagram too large"));
    case S::AddressInUseError:
        return KvError(E::ErrAddressInUse, withContext(QStringLiteral("Address in use"), context));
    case S::SocketAddressNotAvailableError:
        return KvError(E::ErrAddressNotAvailable,
                       withContext(QStringLiteral("Address not available"), context));
    case S::UnsupportedSocketOperationError:
        return KvError(E::ErrAddressFamily,
                       withContext(QStringLiteral("Address family not supported"), context));
    case S::OperationError:
        return invalidOperation();
    case S::SslHandshakeFailedError:
        return KvError(E::ErrTlsFailed, withContext(QStringLiteral("TLS handshake failed"), qtText));
    case S::SslInternalError:
    case S::SslInvalidUserDataError:
        return KvError(E::ErrTlsFailed, withContext(QStringLiteral("TLS failed"), qtText));
    default:
        return KvError(E::ErrNetwork, withContext(QStringLiteral("Network error"), qtText));
    }
}

// A socket that could not take the local port is freed, and why is thrown.
[[noreturn]] inline void portFailed(QObject* socket, QAbstractSocket::SocketError code, const QString& qtText,
                                    qint32 port)
{
    const KvError failure = socketError(code, qtText, QStringLiteral("port %1").arg(port));
    delete socket;
    throw failure;
}
