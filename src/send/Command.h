#pragma once

#include "send/LineSend.h"

#include <QString>

// A saved command: what is needed to send the same bytes again, whatever the
// window's options are then.
struct Command
{
    QString name;
    QString text;
    bool hex = false;
    // Appended to an ASCII command; a HEX command carries its own line ends.
    bool crLf = false;
    bool operator==(const Command& other) const;
    bool operator!=(const Command& other) const { return !(*this == other); }
};

// Why a command cannot be sent as it stands ("no name", the description of a
// character that is not one byte, of an unclosed quote); empty when it can.
QString commandProblem(const Command& command);

// The bytes and the "Sent:" entry, exactly as the send button would make them.
// Throws KvError as prepareLine does.
LineToSend prepareCommand(const Command& command);
