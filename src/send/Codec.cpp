#include "send/Codec.h"

#include "platform/KvError.h"
#include "platform/Latin1.h"

#include <QString>
#include <QStringView>
#include <QtEndian>

#include <array>
#include <cstring>

// Every function sizes its result once and writes bytes straight into it:
// payloads of many megabytes go through here, and per-byte appends would
// reallocate and copy over and over. The log's hex dump and the reading of
// HEX lines are made of the four named operations.

namespace {

struct Tables
{
    char pair[256][2];     // byte -> its two upper-case digits
    signed char code[256]; // character -> digit value or its role in a HEX line
};

// Roles of characters outside quotes in a HEX line; digits have their value.
constexpr signed char NonDigit = -1;
constexpr signed char Ignored = -2;
constexpr signed char Quote = -3;

// A digit's value, either case; -1 for any other character.
constexpr int digitOf(int c)
{
    const int lower = c | 0x20;
    return c >= '0' && c <= '9' ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : NonDigit;
}

constexpr Tables makeTables()
{
    Tables t{};
    for (int b = 0; b < 256; ++b) {
        t.pair[b][0] = "0123456789ABCDEF"[b >> 4];
        t.pair[b][1] = "0123456789ABCDEF"[b & 15];
        t.code[b] = static_cast<signed char>(digitOf(b));
    }
    t.code[int(' ')] = t.code[int('.')] = t.code[int('-')] = Ignored;
    t.code[int('"')] = Quote;
    return t;
}

constexpr Tables tables = makeTables();

// From two digit values, -1 for a non-digit. A negative sum comes from an
// invalid digit and reads as 0.
inline char byteOf(int high, int low)
{
    const int value = 16 * high + low;
    return char(value < 0 ? 0 : value);
}

// Every pair of characters, high one first, to the byte it reads as: one
// look-up a pair instead of two and a sum, for the hex of big payloads.
const auto pairs = [] {
    std::array<quint8, 256 * 256> t{};
    for (int i = 0; i < 256 * 256; ++i)
        t[size_t(i)] = quint8(byteOf(digitOf(i >> 8), digitOf(i & 255)));
    return t;
}();

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

quint8 HexToByte(const QByteArray& pair)
{
    const qsizetype n = pair.size();
    if (n == 0)
        return 0;
    const uchar low = uchar(pair.at(n - 1));
    const uchar high = n == 1 ? low : uchar(pair.at(n - 2));
    return pairs[size_t(high << 8 | low)];
}

QByteArray HexToAscii(const QByteArray& hex)
{
    const qsizetype n = hex.size();
    QByteArray payload((n + 1) / 2, Qt::Uninitialized);
    const char* in = hex.constData();
    char* out = payload.data();
    // Each pair, and a lone last digit, is read in place: no copy is made.
    qsizetype i = 0;
    for (; i + 1 < n; i += 2)
        *out++ = char(HexToByte(QByteArray::fromRawData(in + i, 2)));
    if (i < n)
        *out = char(HexToByte(QByteArray::fromRawData(in + i, 1)));
    return payload;
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
    char* out = result.data();
    qsizetype g = 0;
    if (groupSize == 2 && sepLength == 1) {
        // The log's hex dump, for every byte received: four pairs a step, put
        // together with their separators in two words.
        const quint64 sep = uchar(separator.at(0));
        for (; g + 4 <= gaps; g += 4, in += 8, out += 12) {
            const quint64 v = qFromLittleEndian<quint64>(in);
            qToLittleEndian<quint64>((v & 0xFFFF) | sep << 16 | (v & 0xFFFF0000) << 8 | sep << 40 |
                                         (v & 0xFFFF00000000) << 16,
                                     out);
            qToLittleEndian<quint32>(quint32(sep | (v >> 48) << 8 | sep << 24), out + 8);
        }
    }
    for (; g < gaps; ++g, in += groupSize, out += groupSize + sepLength) {
        std::memcpy(out, in, size_t(groupSize));
        std::memcpy(out + groupSize, separator.constData(), size_t(sepLength));
    }
    std::memcpy(out, in, size_t(text.constData() + n - in));
    return result;
}

QByteArray ParseHexLine(const QByteArray& line)
{
    const qsizetype n = line.size();
    const char* in = line.constData();
    // The digits of a hex part, without the ignored characters between them,
    // are decoded a block at a time; a pair never straddles a block's end.
    constexpr qsizetype Block = 64 * 1024;
    QByteArray digits(Block + 2, Qt::Uninitialized);
    char* const d = digits.data();
    // Room for the most the line can give, taken from the system only where written.
    QByteArray payload;
    payload.reserve(n);
    auto decode = [&](qsizetype count) { payload += HexToAscii(QByteArray::fromRawData(d, count)); };
    auto kept = [in](qsizetype at) { return tables.code[uchar(in[at])] != Ignored; };
    qsizetype i = 0;
    for (;;) {
        // Text outside quotes: digit pairs form across the ignored characters.
        const qsizetype quote = line.indexOf('"', i);
        const qsizetype end = quote < 0 ? n : quote;
        qsizetype k = 0;
        while (i < end) {
            // Quick path for the spaced form that the log shows and users paste back.
            if (i + 3 <= end && kept(i) && kept(i + 1) && !kept(i + 2)) {
                std::memcpy(d + k, in + i, 2);
                k += 2;
                i += 3;
            } else {
                d[k] = in[i];
                k += kept(i++);
            }
            if (k >= Block) {
                decode(k & ~qsizetype(1));
                d[0] = d[k - 1]; // an odd digit waits for its pair
                k &= 1;
            }
        }
        decode(k);
        if (i >= n)
            break;

        // Literal text up to the closing quote. Without one the count of quotes
        // is odd, and the line as a whole is refused.
        const qsizetype close = line.indexOf('"', i + 1);
        if (close < 0)
            throw KvError(KvErr::UnclosedQuote, QStringLiteral("Unclosed quotion mark"));
        payload.append(in + i + 1, close - i - 1);
        i = close + 1;
    }
    // Spaced hex shrinks to a third: the rest goes back, but a payload that
    // filled its room is not copied for a few bytes.
    if (payload.capacity() > 2 * payload.size() + 4096)
        payload.squeeze();
    return payload;
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
            const int c = tables.code[in[i].unicode()]; // every one has its byte: see above
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
