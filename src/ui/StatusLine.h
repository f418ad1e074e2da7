#pragma once

#include "net/ConnectionControl.h"
#include "net/SocketControl.h"
#include "send/FileSender.h"

#include <QString>

struct HexLineReading;

// What the information line tells: the connection's situation, what it has
// carried, how far a file has been sent and how often a line was repeated.
struct StatusFacts
{
    using Situation = ConnectionControl::Situation;
    Situation situation = Situation::Idle;
    bool udp = false;
    QString peer; // the peer's address and port, or the host and port typed
    qint32 localPort = 0;
    QString lastSender; // UDP: who sent the last datagram, with its port; empty before the first
    SocketControl::Traffic traffic;
    QString tls; // the TLS version of an encrypted connection, e.g. "TLS 1.3"
    bool sending = false;
    FileSender::Progress file;
    // A line being repeated: how many went out, of how many (0: until stopped).
    bool repeating = false;
    qint64 repeatSent = 0;
    qint64 repeatTimes = 0;
    // Replying automatically: how many replies went out.
    bool replying = false;
    qint64 replies = 0;
    // A capture to a file: its path and the file's size.
    bool capturing = false;
    QString capturePath;
    qint64 captureBytes = 0;
};

// One short line, e.g. "Connected to 10.0.0.5:5005 - 1.2 MB in, 3.4 KB out".
QString statusText(const StatusFacts& facts);

// A byte count as people read it: "512 bytes", "3.4 KB", "1.2 MB", "2.0 GB".
QString byteSize(qint64 bytes);

// The text on one line: a control character shows as its code, "<0D>".
QString visibleText(const QString& text);

// What a HEX line will send, e.g. "HEX: 2 bytes; "4G" at column 4 is not hex, reads as 3F".
QString hexLineText(const HexLineReading& reading);
