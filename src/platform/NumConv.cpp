#include "platform/NumConv.h"

#include "platform/KvError.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

int digitValue(QChar c, int base)
{
    const ushort u = c.unicode();
    int d = -1;
    if (u >= '0' && u <= '9')
        d = u - '0';
    else if (u >= 'a' && u <= 'f')
        d = u - 'a' + 10;
    else if (u >= 'A' && u <= 'F')
        d = u - 'A' + 10;
    return d >= 0 && d < base ? d : -1;
}

// The decimal point is always ".", whatever locale the application runs in:
// Qt reads in the C locale, correctly rounded. A number out of a double's
// range comes back as not ok, too large and too small alike; large tells
// which it is.
double parseCDouble(const std::string& literal, bool large)
{
    bool ok = false;
    const double value = QByteArray::fromRawData(literal.data(), qsizetype(literal.size())).toDouble(&ok);
    if (ok)
        return value;
    const double sign = literal.front() == '-' ? -1.0 : 1.0;
    return large ? sign * std::numeric_limits<double>::infinity() : sign * 0.0;
}

// Larger than any exponent a double can use, however many digits the
// mantissa has; a text long enough to cancel it cannot reach this reader.
constexpr long long MaxExponent = 1000000000;

struct Scan
{
    double value = 0;
    bool anyDigit = false;
    qsizetype end = 0; // index just past the last character that belongs to the number
};

// Reads the leading number. With skipInner, blanks inside the number are
// skipped as well (the loose reading); without it a blank ends the number.
Scan scanNumber(const QString& text, bool skipInner)
{
    Scan s;
    const qsizetype n = text.size();
    qsizetype i = 0;
    auto skip = [&](bool always) {
        if (always || skipInner)
            while (i < n && isBlank(text.at(i)))
                ++i;
    };
    skip(true);

    if (i + 1 < n && text.at(i) == QLatin1Char('&')) {
        const QChar p = text.at(i + 1).toUpper();
        const int base = p == QLatin1Char('H') ? 16 : p == QLatin1Char('O') ? 8 : 0;
        if (base) {
            i += 2;
            double v = 0;
            for (;;) {
                skip(false);
                if (i >= n)
                    break;
                const int d = digitValue(text.at(i), base);
                if (d < 0)
                    break;
                v = v * base + d;
                s.anyDigit = true;
                ++i;
                s.end = i;
            }
            s.value = v;
            if (!std::isfinite(s.value))
                throw KvErr::overflow();
            return s;
        }
    }

    // Collect the characters of a decimal number, then let the C library convert them.
    std::string lit;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        lit += char(text.at(i).unicode());
        ++i;
    }
    bool point = false;
    // The first significant digit's power of ten, plus one, before the exponent.
    long long lead = 0;
    bool significant = false;
    for (;;) {
        skip(false);
        if (i >= n)
            break;
        const QChar c = text.at(i);
        if (c.unicode() >= '0' && c.unicode() <= '9') {
            lit += char(c.unicode());
            s.anyDigit = true;
            significant = significant || c != QLatin1Char('0');
            if (!point && significant)
                ++lead;
            else if (point && !significant)
                --lead;
        } else if (c == QLatin1Char('.') && !point) {
            lit += '.';
            point = true;
        } else {
            break;
        }
        ++i;
        if (s.anyDigit)
            s.end = i;
    }
    if (s.anyDigit && i < n) {
        const QChar e = text.at(i).toUpper();
        if (e == QLatin1Char('E') || e == QLatin1Char('D')) {
            qsizetype j = i + 1;
            std::string exp = "e";
            auto skipAt = [&](qsizetype& k) {
                if (skipInner)
                    while (k < n && isBlank(text.at(k)))
                        ++k;
            };
            skipAt(j);
            if (j < n && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-'))) {
                exp += char(text.at(j).unicode());
                ++j;
            }
            // The exponent's value, not its digits: leading zeros add nothing, and
            // any value past MaxExponent gives the same infinity or zero.
            bool expDigit = false;
            long long power = 0;
            for (;;) {
                skipAt(j);
                if (j >= n || text.at(j).unicode() < '0' || text.at(j).unicode() > '9')
                    break;
                power = std::min<long long>(power * 10 + (text.at(j).unicode() - '0'), MaxExponent);
                expDigit = true;
                ++j;
                s.end = j;
            }
            exp += std::to_string(power);
            if (expDigit) {
                lit += exp;
                lead += exp[1] == '-' ? -power : power;
            }
        }
    }
    if (s.anyDigit) {
        s.value = parseCDouble(lit, significant && lead > 0);
        if (!std::isfinite(s.value))
            throw KvErr::overflow();
    }
    return s;
}

template <typename T> T roundTo(double value)
{
    if (std::isnan(value))
        throw KvErr::overflow();
    double r = std::floor(value);
    const double frac = value - r;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0))
        r += 1;
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        throw KvErr::overflow();
    return T(r);
}

} // namespace

double Val(const QString& text)
{
    return scanNumber(text, true).value;
}

QString NumToText(double value)
{
    if (value == 0)
        return QStringLiteral("0"); // never "-0"
    if (std::floor(value) == value)
        return QString::number(value, 'f', 0);
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

qint16 RoundToInt16(double value)
{
    return roundTo<qint16>(value);
}

qint32 RoundToInt32(double value)
{
    return roundTo<qint32>(value);
}

qint32 TextToInt32(const QString& text)
{
    const Scan s = scanNumber(text, false);
    qsizetype i = s.end;
    while (i < text.size() && (isBlank(text.at(i)) || text.at(i) == QLatin1Char('\r')))
        ++i;
    if (!s.anyDigit || i != text.size())
        throw KvErr::typeMismatch();
    return RoundToInt32(s.value);
}

QString CountText(qint64 count)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(count);
}
