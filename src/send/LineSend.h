#pragma once

#include <QByteArrayList>
#include <QString>

// A typed line made ready to go out: its bytes, and the items of the "Sent:"
// entry that shows it.
struct LineToSend
{
    QByteArray payload;
    QByteArrayList sentEntry;
};

// ASCII: the line as typed, with CR LF when asked. HEX: the bytes that
// ParseHexLine reads from the line, shown again in spaced hex; HEX lines carry
// their own line ends, so appendCrLf plays no part. Throws KvError for a
// character that is not one byte, checked over the whole line, quoted or not,
// and for an unclosed quote.
LineToSend prepareLine(const QString& line, bool hex, bool appendCrLf);
