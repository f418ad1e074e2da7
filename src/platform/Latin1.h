#pragma once

#include <QByteArray>
#include <QStringView>

// One character is one byte, Latin-1, both ways. A character beyond Latin-1
// has no byte: cut to 8 bits, or turned into "?", it would put a byte on the
// wire that the user never typed, so it stops the work instead.
namespace Latin1 {

// Whether every character has its single byte. Fast enough for megabytes.
bool fits(QStringView text);

// The text's bytes, one for each character. Throws KvError(KvErr::NotOneByte)
// naming the first character that has no single byte.
QByteArray toBytes(QStringView text);

// The text's bytes where it is Latin-1; a character with no single byte
// stays readable as an escape (\u0444, \U0001f600) rather than turning
// into "?". For text the program writes, never for data to send.
QByteArray escaped(QStringView text);

} // namespace Latin1
