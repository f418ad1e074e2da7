#include "send/LineSend.h"

#include "platform/Latin1.h"
#include "send/Codec.h"

LineToSend prepareLine(const QString& line, bool hex, bool appendCrLf)
{
    // The typed text becomes bytes here, whole or not at all.
    const QByteArray bytes = Latin1::toBytes(line);
    if (!hex) {
        const QByteArray payload = appendCrLf ? bytes + "\r\n" : bytes;
        return {payload, {"Sent:", payload}};
    }
    const QByteArray payload = ParseHexLine(bytes);
    return {payload, {"Sent:", payload, SpacedHex(payload)}};
}
