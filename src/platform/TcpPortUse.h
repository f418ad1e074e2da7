#pragma once

#include <QtGlobal>

#include <optional>

// Whether a TCP socket still open in some program, this one included, holds
// a local port: listening, connecting, connected or closing with data still
// to send. A connection whose socket was closed and that only waits out its
// close does not count. No answer where the system cannot be asked.
std::optional<bool> tcpPortHeld(quint16 port);
