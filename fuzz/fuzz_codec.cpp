// libFuzzer target: the payload codec and the number conversion take any
// bytes without crashing, without undefined behaviour, and keep their
// round-trip promises. A broken promise aborts, which libFuzzer reports.

#include "platform/KvError.h"
#include "platform/NumConv.h"
#include "send/Codec.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

void fuzzParseHexLine(const QByteArray& input)
{
    const bool oddQuotes = input.count('"') % 2 != 0;
    try {
        const QByteArray payload = ParseHexLine(input);
        require(!oddQuotes, "ParseHexLine accepted an odd number of quotes");
        require(payload.size() <= input.size(), "ParseHexLine gave more bytes than the line has");
        // Reference reading: split at the quotes, decode the hex parts and keep the literal ones.
        const QByteArrayList parts = input.split('"');
        QByteArray expected;
        for (qsizetype k = 0; k < parts.size(); ++k) {
            if (k % 2 != 0) {
                expected += parts.at(k);
                continue;
            }
            QByteArray digits = parts.at(k);
            digits.replace(" ", "").replace(".", "").replace("-", "");
            expected += HexToAscii(digits);
        }
        require(payload == expected, "ParseHexLine differs from the reference reading");
        require(ReadHexLine(QString::fromLatin1(input)).bytes == payload.size(),
                "ReadHexLine counts other bytes than ParseHexLine gives");
    } catch (const KvError& e) {
        require(e.number() == KvErr::UnclosedQuote, "ParseHexLine threw another error than 512");
        require(e.description() == QLatin1String("Unclosed quotion mark"), "wrong description of error 512");
        require(oddQuotes, "ParseHexLine refused an even number of quotes");
        require(ReadHexLine(QString::fromLatin1(input)).doubt == HexLineReading::UnclosedQuote,
                "ReadHexLine missed a refused line");
    }
}

void fuzzHex(const QByteArray& input)
{
    const QByteArray payload = HexToAscii(input);
    require(payload.size() == (input.size() + 1) / 2, "HexToAscii gave the wrong length");
    if (!input.isEmpty())
        require(HexToByte(input) == HexToByte(input.right(2)),
                "HexToByte looked past the last two characters");
    if (input.size() >= 2)
        require(char(HexToByte(input.left(2))) == payload.at(0), "HexToAscii and HexToByte disagree");
}

void fuzzInsertSeparator(const QByteArray& input)
{
    if (input.size() < 2)
        return;
    // First byte: the group size, signed; second: how many of the next bytes make the separator.
    const int groupSize = static_cast<int8_t>(input.at(0));
    const qsizetype sepLength = qMin<qsizetype>(uchar(input.at(1)) % 4, input.size() - 2);
    const QByteArray separator = input.mid(2, sepLength);
    const QByteArray text = input.mid(2 + sepLength);
    const QByteArray result = InsertSeparator(text, groupSize, separator);
    const qsizetype n = text.size();
    if (groupSize <= 0 || n <= groupSize) {
        require(result == text, "InsertSeparator changed a text it should leave");
        return;
    }
    const qsizetype gaps = (n - 1) / groupSize;
    require(result.size() == n + gaps * sepLength, "InsertSeparator gave the wrong length");
    qsizetype at = 0;
    for (qsizetype g = 0; g <= gaps; ++g) {
        const qsizetype take = qMin<qsizetype>(groupSize, n - g * groupSize);
        require(result.mid(at, take) == text.mid(g * groupSize, take), "InsertSeparator changed a group");
        at += take;
        if (g < gaps) {
            require(result.mid(at, sepLength) == separator, "InsertSeparator lost a separator");
            at += sepLength;
        }
    }
}

void fuzzRoundTrips(const QByteArray& input)
{
    const qsizetype n = input.size();
    const QByteArray hex = AsciiToHex(input);
    require(hex.size() == 2 * n, "AsciiToHex gave the wrong length");
    require(HexToAscii(hex) == input, "HexToAscii(AsciiToHex(x)) != x");
    require(HexToAscii(hex.toLower()) == input, "lower-case hex does not round-trip");
    const QByteArray spaced = SpacedHex(input);
    require(spaced.size() == qMax<qsizetype>(0, 3 * n - 1), "SpacedHex gave the wrong length");
    require(spaced == InsertSeparator(hex, 2, QByteArrayLiteral(" ")), "SpacedHex is not the grouped hex");
    require(ParseHexLine(spaced) == input, "ParseHexLine(SpacedHex(x)) != x");
}

template <typename T> void checkRounding(double value, T (*round)(double))
{
    try {
        const T r = round(value);
        require(std::isfinite(value), "rounding accepted a value that is not finite");
        require(std::fabs(double(r) - value) <= 0.5, "rounding is off by more than a half");
        require(NumToText(double(r)) == QString::number(r), "a whole number is not written as plain digits");
        require(TextToInt32(QString::number(r)) == r, "a whole number does not read back");
    } catch (const KvError& e) {
        require(e.number() == KvErr::Overflow, "rounding threw another error than overflow");
        require(!(value > double(std::numeric_limits<T>::min()) - 0.5 &&
                  value < double(std::numeric_limits<T>::max()) + 0.5),
                "rounding refused a value in range");
    }
}

void fuzzNumbers(const QString& input, const uint8_t* data, size_t size)
{
    double value = 0;
    try {
        value = Val(input);
        require(!std::isnan(value), "Val gave NaN");
    } catch (const KvError& e) {
        require(e.number() == KvErr::Overflow, "Val threw another error than overflow");
    }
    try {
        const qint32 i = TextToInt32(input);
        require(double(i) == RoundToInt32(Val(input)), "TextToInt32 differs from the rounded Val");
    } catch (const KvError& e) {
        require(e.number() == KvErr::TypeMismatch || e.number() == KvErr::Overflow,
                "TextToInt32 threw another error than type mismatch or overflow");
    }
    checkRounding<qint16>(value, &RoundToInt16);
    checkRounding<qint32>(value, &RoundToInt32);
    (void)NumToText(value);

    // The raw bit patterns reach values no text gives: NaN, infinities, denormals.
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        checkRounding<qint16>(raw, &RoundToInt16);
        checkRounding<qint32>(raw, &RoundToInt32);
        (void)NumToText(raw);
    }
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

// An independent reading of a decimal number text: a scan of its own over the
// text with its blanks taken out, the digits normalised to 0.DIGITS times a
// power of ten, and Qt's decimal conversion instead of the C library's.
// Returns false when the text is no decimal number (a &H or &O prefix).
bool referenceReading(const QString& text, double& value)
{
    qsizetype i = 0;
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    if (i + 1 < text.size() && text.at(i) == QLatin1Char('&')) {
        const QChar p = text.at(i + 1).toUpper();
        if (p == QLatin1Char('H') || p == QLatin1Char('O'))
            return false;
    }
    QString t;
    for (qsizetype k = i; k < text.size(); ++k)
        if (!isBlank(text.at(k)))
            t += text.at(k);
    auto isDigit = [&](qsizetype k) { return k < t.size() && t.at(k) >= u'0' && t.at(k) <= u'9'; };

    qsizetype k = 0;
    bool negative = false;
    if (k < t.size() && (t.at(k) == u'+' || t.at(k) == u'-'))
        negative = t.at(k++) == u'-';
    QByteArray digits;
    long long pointAt = -1;
    for (; k < t.size(); ++k) {
        if (isDigit(k))
            digits += char(t.at(k).unicode());
        else if (t.at(k) == u'.' && pointAt < 0)
            pointAt = digits.size();
        else
            break;
    }
    if (digits.isEmpty()) {
        value = 0;
        return true;
    }
    if (pointAt < 0)
        pointAt = digits.size();
    long long exponent = 0;
    if (k < t.size() && QStringLiteral("eEdD").contains(t.at(k))) {
        qsizetype e = k + 1;
        const bool minus = e < t.size() && t.at(e) == u'-';
        if (e < t.size() && (t.at(e) == u'+' || t.at(e) == u'-'))
            ++e;
        QByteArray expDigits;
        while (isDigit(e))
            expDigits += char(t.at(e++).unicode());
        while (expDigits.startsWith('0'))
            expDigits.remove(0, 1);
        // Twelve significant digits already put any double out of reach.
        const long long magnitude = expDigits.size() > 12 ? 999999999999LL : expDigits.toLongLong();
        exponent = minus ? -magnitude : magnitude;
    }
    qsizetype lead = 0;
    while (lead < digits.size() && digits.at(lead) == '0')
        ++lead;
    digits.remove(0, lead);
    pointAt -= lead;
    while (digits.endsWith('0'))
        digits.chop(1);
    if (digits.isEmpty()) {
        value = negative ? -0.0 : 0.0;
        return true;
    }
    const long long power = pointAt + exponent;
    const QByteArray literal = (negative ? "-0." : "0.") + digits + 'e' + QByteArray::number(power);
    bool ok = false;
    value = literal.toDouble(&ok);
    // Qt gives 0 for a number out of range either way: too large, or too small.
    if (!ok)
        value = power > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return true;
}

void fuzzNumberReading(const QString& input)
{
    double expected = 0;
    if (!referenceReading(input, expected))
        return;
    try {
        const double value = Val(input);
        require(std::isfinite(expected), "Val read a number that overflows");
        require(value == expected, "Val differs from the reference reading");
    } catch (const KvError&) {
        require(!std::isfinite(expected), "Val overflowed on a number that fits");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString input = QString::fromLatin1(bytes);
    fuzzParseHexLine(bytes);
    fuzzHex(bytes);
    fuzzInsertSeparator(bytes);
    fuzzRoundTrips(bytes);
    fuzzNumbers(input, data, size);
    fuzzNumberReading(input);
    return 0;
}
