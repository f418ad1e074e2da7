#pragma once

#include <QByteArray>
#include <QString>

// Payloads as hex text and back, and the syntax of a line typed in HEX mode.
// Everything but ReadHexLine is bytes: hex text and HEX lines are one byte a
// character (a typed line is made bytes before it gets here). All functions
// are pure and work on inputs of any length in linear time.

// Two upper-case hex digits per byte, no separators: "JK" gives "4A4B".
QByteArray AsciiToHex(const QByteArray& bytes);

// One byte per pair of digits, taken from the first character on; an odd
// last digit stands alone and is read doubled ("414" gives 0x41 0x44). Nothing
// is skipped or rejected: non-digits decode by the rules of HexToByte.
QByteArray HexToAscii(const QByteArray& hex);

// The last two characters of the text as high and low digit, either case; a
// lone digit is both ("7" gives 0x77), the empty text gives 0. A non-digit
// counts as -1 and a negative result as 0, so "G4" gives 0 and "4G" 0x3F.
quint8 HexToByte(const QByteArray& pair);

// The separator between groups of groupSize characters, never at either end.
// A group size of 0 or less returns the text unchanged.
QByteArray InsertSeparator(const QByteArray& text, int groupSize, const QByteArray& separator);

// A HEX line: hex digits, with space, "." and "-" ignored, and literal text
// between double quotes taken as it stands. Digit pairs run across the
// ignored characters; an odd digit count in a stretch ends with a doubled
// digit. Throws KvError(KvErr::UnclosedQuote, "Unclosed quotion mark") for an
// odd number of double quotes.
QByteArray ParseHexLine(const QByteArray& line);

// The form in which the log shows bytes: "41 42 0D 0A".
inline QByteArray SpacedHex(const QByteArray& payload)
{
    return InsertSeparator(AsciiToHex(payload), 2, QByteArrayLiteral(" "));
}

// What a HEX line will send, told before it is sent, without building the
// payload: how many bytes ParseHexLine gives, and the first place that does
// not read as a user would expect. A line whose reading the send refuses
// sends nothing.
struct HexLineReading
{
    enum Doubt
    {
        None,
        // A pair, or the lone last character of a part, holds a character
        // that is not a hex digit, space, "." or "-".
        NotHex,
        // A part has an odd digit count: its last digit is read doubled.
        OddDigits,
        // The quote at the place has no closing one: the line is refused.
        UnclosedQuote,
        // The character at the place has no single byte: the line is refused.
        NotOneByte
    };
    Doubt doubt = None;
    qsizetype bytes = 0; // 0 when the line is refused
    qsizetype at = -1;   // the place's first character, from 0; -1 for none
    QString characters;  // the place as it is read: "4G" (across ignored characters), or "4" alone
    quint8 readsAs = 0;  // the byte that place gives
};
HexLineReading ReadHexLine(const QString& line);
