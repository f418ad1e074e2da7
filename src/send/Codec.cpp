#include "send/Codec.h"

#include "platform/KvError.h"
#include "platform/Latin1.h"

#include <QString>
#include <QtEndian>

#include <array>
#include <cstring>

// Every function sizes its result once and writes bytes straight into it:
// payloads of many megabytes go through here, and per-byte appends would
// reallocate and copy over and over. The log's hex dump is made of the named
// operations; a HEX line has one reader, for its payload and its preview alike.

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

// Every pair of characters, high one first, to the byte it reads as: one
// look-up a pair instead of two and a sum, for the hex of big payloads.
const auto pairs = [] {
    std::array<quint8, 256 * 256> t{};
    for (int i = 0; i < 256 * 256; ++i) {
        // A negative sum comes from an invalid digit and reads as 0.
        const int value = 16 * digitOf(i >> 8) + digitOf(i & 255);
        t[size_t(i)] = quint8(value < 0 ? 0 : value);
    }
    return t;
}();

// A HEX line is read as bytes when it is sent and as the line box's text for
// its preview; every character of the text has its byte by then.
inline uchar unit(char c)
{
    return uchar(c);
}
inline uchar unit(QChar c)
{
    return uchar(c.unicode());
}

inline qsizetype quoteAt(const char* in, qsizetype n, qsizetype from)
{
    const void* hit = from < n ? std::memchr(in + from, '"', size_t(n - from)) : nullptr;
    return hit ? static_cast<const char*>(hit) - in : -1;
}
inline qsizetype quoteAt(const QChar* in, qsizetype n, qsizetype from)
{
    return QStringView(in, n).indexOf(u'"', from);
}

template <typename Char> char byteAt(const Char* in, qsizetype high, qsizetype low)
{
    return char(pairs[size_t(unit(in[high]) << 8 | unit(in[low]))]);
}

// The one reading of a HEX line. Outside quotes, digits pair across the
// ignored characters, and a stretch with an odd digit count ends with a lone
// digit; between quotes the text stands as it is. The reader hears each pair
// by its characters' places (a lone digit pairs with itself), each literal
// stretch, and a quote without its closing one, where reading ends.
template <typename Char, typename Reader> void readHexGrammar(const Char* in, qsizetype n, Reader& reader)
{
    auto kept = [in](qsizetype at) { return tables.code[unit(in[at])] != Ignored; };
    qsizetype i = 0;
    for (;;) {
        const qsizetype quote = quoteAt(in, n, i);
        const qsizetype end = quote < 0 ? n : quote;
        qsizetype highAt = -1;
        for (; i < end; ++i) {
            if (!kept(i))
                continue;
            if (highAt >= 0) {
                reader.pair(highAt, i);
                highAt = -1;
            } else if (i + 3 <= end && kept(i + 1) && !kept(i + 2)) {
                // Quick path for the spaced form that the log shows and users paste back.
                reader.pair(i, i + 1);
                i += 2;
            } else {
                highAt = i;
            }
        }
        if (highAt >= 0)
            reader.pair(highAt, highAt);
        if (i >= n)
            return;
        const qsizetype close = quoteAt(in, n, i + 1);
        if (close < 0)
            return reader.unclosed(i);
        reader.literal(i + 1, close - i - 1);
        i = close + 1;
    }
}

// Writes the payload of a HEX line.
struct PayloadWriter
{
    const char* in;
    char* out;

    void pair(qsizetype high, qsizetype low) { *out++ = byteAt(in, high, low); }
    void literal(qsizetype at, qsizetype count)
    {
        std::memcpy(out, in + at, size_t(count));
        out += count;
    }
    void unclosed(qsizetype) { throw KvError(KvErr::UnclosedQuote, QStringLiteral("Unclosed quotion mark")); }
};

// Counts the bytes of a HEX line and keeps the first place that does not
// read as typed; after it the bytes are still counted.
template <typename Char> struct Preview
{
    const Char* in;
    HexLineReading reading;

    void pair(qsizetype high, qsizetype low)
    {
        ++reading.bytes;
        const bool digits = tables.code[unit(in[high])] != NonDigit && tables.code[unit(in[low])] != NonDigit;
        if (reading.doubt != HexLineReading::None || (digits && high != low))
            return;
        reading = {digits ? HexLineReading::OddDigits : HexLineReading::NotHex, reading.bytes, high,
                   high == low ? QString(in[high]) : QString(in[high]) + in[low],
                   quint8(byteAt(in, high, low))};
    }
    void literal(qsizetype, qsizetype count) { reading.bytes += count; }
    void unclosed(qsizetype at) { reading = {HexLineReading::UnclosedQuote, 0, at, QStringLiteral("\""), 0}; }
};

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
    // Room for the most the line can give, taken from the system only where written.
    QByteArray payload(line.size(), Qt::Uninitialized);
    PayloadWriter writer{line.constData(), payload.data()};
    readHexGrammar(line.constData(), line.size(), writer);
    payload.resize(writer.out - payload.constData());
    // Spaced hex shrinks to a third: the rest goes back, but a payload that
    // filled its room is not copied for a few bytes.
    if (payload.capacity() > 2 * payload.size() + 4096)
        payload.squeeze();
    return payload;
}

HexLineReading ReadHexLine(const QString& line)
{
    const qsizetype n = line.size();
    const QChar* in = line.constData();
    // The send refuses a character without a byte before it reads the line.
    if (!Latin1::fits(line)) {
        qsizetype i = 0;
        while (in[i].unicode() <= 0xFF)
            ++i;
        const bool pair = in[i].isHighSurrogate() && i + 1 < n && in[i + 1].isLowSurrogate();
        return {HexLineReading::NotOneByte, 0, i, line.mid(i, pair ? 2 : 1), 0};
    }
    // Every character has its byte now: the line is read as the send will read it.
    Preview<QChar> preview{in, {}};
    readHexGrammar(in, n, preview);
    return preview.reading;
}
