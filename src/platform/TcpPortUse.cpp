#include "platform/TcpPortUse.h"

// Qt cannot tell who holds a port. Without an answer the client's bind goes
// ahead as before: where the system lets a reusing bind share a port with a
// live socket, the second one hears of it only when it connects.
std::optional<bool> tcpPortHeld(quint16)
{
    return std::nullopt;
}
