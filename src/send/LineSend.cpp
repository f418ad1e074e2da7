#include "send/LineSend.h"

#include "platform/Latin1.h"
#include "send/Codec.h"

LineToSend prepareLine(const QString& line, bool hex, bool appendCrLf)
{
    Latin1::require(line);
    if (!hex) {
        const QString payload = appendCrLf ? line + QStringLiteral("\r\n") : line;
        return {payload, {QStringLiteral("Sent:"), payload}};
    }
    const QString payload = ParseHexLine(line);
    return {payload, {QStringLiteral("Sent:"), payload, SpacedHex(payload)}};
}
