#pragma once

#include <QChar>
#include <QColor>

// How the text boxes draw a character in its cell of a fixed-pitch grid.
// Control characters (0x00..0x1F, 0x7F, 0x80..0x9F) are shown as their
// caret-notation letter on a tinted cell (NUL as @, CR as M, DEL as ?), so
// nothing typed, pasted or received is hidden.
namespace CellText {

inline bool isC0(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

inline bool isC1(char16_t c)
{
    return c >= 0x80 && c <= 0x9F;
}

inline bool isControl(char16_t c)
{
    return isC0(c) || isC1(c);
}

inline QChar displayChar(char16_t c)
{
    if (c < 0x20)
        return QChar(char16_t(c + 0x40));
    if (c == 0x7F)
        return QLatin1Char('?');
    if (isC1(c))
        return QChar(char16_t(c - 0x40));
    if (c == 0xAD) // a soft hyphen would vanish in a run of text
        return QLatin1Char('-');
    return QChar(c);
}

// A control character's cell and letter; C0 in blue, C1 in brown.
inline QColor controlTint(bool c1)
{
    return c1 ? QColor(0xf6, 0xd8, 0xb4) : QColor(0xcc, 0xd8, 0xf4);
}

inline QColor controlInk(bool c1)
{
    return c1 ? QColor(0x8c, 0x46, 0x00) : QColor(0x1c, 0x3c, 0x8c);
}

inline QColor tint(char16_t c)
{
    return controlTint(isC1(c));
}

inline QColor ink(char16_t c)
{
    return controlInk(isC1(c));
}

inline bool isWordChar(char16_t c)
{
    return QChar(c).isLetterOrNumber() || c == u'_';
}

} // namespace CellText
