#include "platform/Latin1.h"

#include "platform/KvError.h"

#include <QString>

namespace {

[[noreturn]] void refuse(QStringView text)
{
    qsizetype i = 0;
    while (text.at(i).unicode() <= 0xFF)
        ++i;
    // A character outside the basic plane is named whole, not by its halves.
    QStringView shown = text.mid(i, 1);
    char32_t code = text.at(i).unicode();
    if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        shown = text.mid(i, 2);
        code = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
    }
    const QString hex = QString::number(uint(code), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    throw KvError(KvErr::NotOneByte, QStringLiteral("Character '") + shown.toString() +
                                         QStringLiteral("' (U+") + hex +
                                         QStringLiteral(") has no single-byte code; nothing was sent."));
}

} // namespace

// An OR over blocks of a fixed length: the compiler turns it into vector code.
bool Latin1::fits(QStringView text)
{
    constexpr qsizetype Block = 64;
    const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    char16_t bits = 0;
    qsizetype i = 0;
    for (; i + Block <= n; i += Block)
        for (qsizetype j = 0; j < Block; ++j)
            bits |= p[i + j];
    for (; i < n; ++i)
        bits |= p[i];
    return bits < 0x100;
}

QByteArray Latin1::toBytes(QStringView text)
{
    if (!fits(text))
        refuse(text);
    return text.toLatin1();
}

QByteArray Latin1::escaped(QStringView text)
{
    if (fits(text))
        return text.toLatin1();
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x100) {
            out += char(c);
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out +=
                "\\U" +
                QByteArray::number(QChar::surrogateToUcs4(c, text[++i].unicode()), 16).rightJustified(8, '0');
        } else {
            out += "\\u" + QByteArray::number(c, 16).rightJustified(4, '0');
        }
    }
    return out;
}
