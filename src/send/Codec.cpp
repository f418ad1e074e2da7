#include "send/Codec.h"

#include "platform/KvError.h"
#include "platform/Latin1.h"

#include <QString>
#include <QStringView>
#include <cstring>

// Every function sizes its result once and writes bytes straight into it:
// payloads of many megabytes go through here, and per-byte appends would
// reallocate and copy over and over.

namespace {

struct Tables
{
    char pair[256][2];      // byte -> its two upper-case digits
    char spaced[256][3];    // byte -> two digits and a space
    signed char digit[256]; // character -> digit value, -1 for a non-digit
    signed char code[256];  // character -> digit value or its role in a HEX line
};

// Roles of characters outside quotes in a HEX line; digits have their value.
constexpr signed char NonDigit = -1;
constexpr signed char Ignored = -2;
constexpr signed char Quote = -3;

constexpr Tables makeTables()
{
    Tables t{};
    const char* digits = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
        t.pair[b][0] = t.spaced[b][0] = digits[b >> 4];
        t.pair[b][1] = t.spaced[b][1] = digits[b & 15];
        t.spaced[b][2] = ' ';
        t.digit[b] = NonDigit;
    }
    for (int d = 0; d < 16; ++d) {
        t.digit[int(digits[d])] = static_cast<signed char>(d);
        if (d >= 10)
            t.digit[int(digits[d]) - 'A' + 'a'] = static_cast<signed char>(d);
    }
    for (int b = 0; b < 256; ++b)
        t.code[b] = t.digit[b];
    t.code[int(' ')] = t.code[int('.')] = t.code[int('-')] = Ignored;
    t.code[int('"')] = Quote;
    return t;
}

constexpr Tables tables = makeTables();

inline int codeOf(char16_t c)
{
    return c < 256 ? tables.code[c] : NonDigit;
}

// From two digit values, -1 for a non-digit. A negative sum comes from an
// invalid digit and reads as 0.
inline char byteOf(int high, int low)
{
    const int value = 16 * high + low;
    return char(value < 0 ? 0 : value);
}

inline char decodePair(char high, char low)
{
    return byteOf(tables.digit[uchar(high)], tables.digit[uchar(low)]);
}

} // namespace

QByteArray AsciiToHex(const QByteArray& bytes)
{
    const qsizetype n = bytes.size();
    QByteArray hex(2 * n, Qt::Uninitialized);
    const uchar* in = reinterpret_cast<const uchar*>(bytes.constData());
    char* out = hex.data();
    for (qsizetype i = 0; i < n; ++i)
        std::memcpy(out + 2 * i, tables.pair[in[i]], 2);
    return hex;
}

QByteArray HexToAscii(const QByteArray& hex)
{
    const qsizetype n = hex.size();
    QByteArray payload((n + 1) / 2, Qt::Uninitialized);
    const char* in = hex.constData();
    char* out = payload.data();
    qsizetype i = 0;
    for (; i + 1 < n; i += 2)
        *out++ = decodePair(in[i], in[i + 1]);
    if (i < n)
        *out = decodePair(in[i], in[i]);
    return payload;
}

quint8 HexToByte(const QByteArray& pair)
{
    const qsizetype n = pair.size();
    if (n == 0)
        return 0;
    const char low = pair.at(n - 1);
    const char high = n == 1 ? low : pair.at(n - 2);
    return quint8(decodePair(high, low));
}

QByteArray InsertSeparator(const QByteArray& text, int groupSize, const QByteArray& separator)
{
    const qsizetype n = text.size();
    if (groupSize <= 0 || n <= groupSize)
        return text;
    const qsizetype sepLength = separator.size();
    const qsizetype gaps = (n - 1) / groupSize;
    QByteArray result(n + gaps * sepLength, Qt::Uninitialized);
    const char* in = text.constData();
    const char* sep = separator.constData();
    char* out = result.data();
    for (qsizetype g = 0; g < gaps; ++g) {
        for (int k = 0; k < groupSize; ++k)
            *out++ = *in++;
        for (qsizetype k = 0; k < sepLength; ++k)
            *out++ = sep[k];
    }
    const char* end = text.constData() + n;
    while (in < end)
        *out++ = *in++;
    return result;
}

QByteArray ParseHexLine(const QByteArray& line)
{
    // No part gives more bytes than it has, so the line's length is room enough.
    const qsizetype n = line.size();
    QByteArray payload(n, Qt::Uninitialized);
    const char* in = line.constData();
    char* const begin = payload.data();
    char* out = begin;
    qsizetype i = 0;
    for (;;) {
        // Text outside quotes: digit pairs form across the ignored characters.
        bool half = false;
        int high = 0;
        while (i < n) {
            // Quick path for the spaced form that the log shows and users paste back.
            while (!half && i + 2 < n) {
                const int c0 = codeOf(uchar(in[i]));
                const int c1 = codeOf(uchar(in[i + 1]));
                if (c0 < NonDigit || c1 < NonDigit || codeOf(uchar(in[i + 2])) != Ignored)
                    break;
                *out++ = byteOf(c0, c1);
                i += 3;
            }
            if (i >= n)
                break;
            const int c = codeOf(uchar(in[i]));
            if (c == Quote)
                break;
            ++i;
            if (c == Ignored)
                continue;
            if (half)
                *out++ = byteOf(high, c);
            else
                high = c;
            half = !half;
        }
        if (half)
            *out++ = byteOf(high, high);
        if (i >= n)
            break;

        // Literal text up to the closing quote. Without one the count of quotes
        // is odd, and the line as a whole is refused.
        const qsizetype open = i + 1;
        const qsizetype close = line.indexOf('"', open);
        if (close < 0)
            throw KvError(KvErr::UnclosedQuote, QStringLiteral("Unclosed quotion mark"));
        std::memcpy(out, in + open, size_t(close - open));
        out += close - open;
        i = close + 1;
    }

    payload.truncate(out - begin);
    // Spaced hex shrinks to a third; do not hold on to the rest of a big buffer.
    if (payload.capacity() > 2 * payload.size() + 4096)
        payload.squeeze();
    return payload;
}

QByteArray SpacedHex(const QByteArray& payload)
{
    const qsizetype n = payload.size();
    if (n == 0)
        return QByteArray();
    // Each byte is written with a trailing space; the last one is cut off after.
    QByteArray spaced(3 * n, Qt::Uninitialized);
    const uchar* in = reinterpret_cast<const uchar*>(payload.constData());
    char* out = spaced.data();
    for (qsizetype i = 0; i < n; ++i)
        std::memcpy(out + 3 * i, tables.spaced[in[i]], 3);
    spaced.truncate(3 * n - 1);
    return spaced;
}

HexLineReading ReadHexLine(const QString& line)
{
    using R = HexLineReading;
    const qsizetype n = line.size();
    const QChar* in = line.constData();
    // The send refuses a character without a byte before it reads the line.
    if (!Latin1::fits(line)) {
        qsizetype i = 0;
        while (in[i].unicode() <= 0xFF)
            ++i;
        const bool pair = in[i].isHighSurrogate() && i + 1 < n && in[i + 1].isLowSurrogate();
        return {R::NotOneByte, 0, i, line.mid(i, pair ? 2 : 1), 0};
    }

    // The walk of ParseHexLine, counting instead of writing. Only the first
    // doubtful place is kept; after it the bytes are still counted.
    R reading;
    auto note = [&reading](R::Doubt doubt, qsizetype at, const QString& characters, char byte) {
        if (reading.doubt != R::None)
            return;
        reading.doubt = doubt;
        reading.at = at;
        reading.characters = characters;
        reading.readsAs = quint8(byte);
    };
    qsizetype i = 0;
    for (;;) {
        qsizetype highAt = -1;
        int high = 0;
        for (; i < n; ++i) {
            const int c = codeOf(in[i].unicode());
            if (c == Quote)
                break;
            if (c == Ignored)
                continue;
            if (highAt < 0) {
                highAt = i;
                high = c;
                continue;
            }
            if (high == NonDigit || c == NonDigit)
                note(R::NotHex, highAt, QString(in[highAt]) + in[i], byteOf(high, c));
            ++reading.bytes;
            highAt = -1;
        }
        if (highAt >= 0) {
            note(high == NonDigit ? R::NotHex : R::OddDigits, highAt, QString(in[highAt]),
                 byteOf(high, high));
            ++reading.bytes;
        }
        if (i >= n)
            return reading;
        const qsizetype close = QStringView(line).indexOf(u'"', i + 1);
        if (close < 0)
            return {R::UnclosedQuote, 0, i, QStringLiteral("\""), 0};
        reading.bytes += close - i - 1;
        i = close + 1;
    }
}
