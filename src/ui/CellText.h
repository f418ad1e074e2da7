#pragma once

#include <QChar>
#include <QStringView>

class QColor;
class QFont;
class QPainter;
class QPointF;

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
QColor tint(char16_t c);
QColor ink(char16_t c);

inline bool isWordChar(char16_t c)
{
    return QChar(c).isLetterOrNumber() || c == u'_';
}

// A font's grid. The ascent is kept exact: each box rounds it the way it
// rounds its own line height.
struct Grid
{
    qreal cellWidth = 8;
    qreal ascent = 11;
    // The first 256 characters (as shown) whose glyph is exactly one cell
    // wide; only these are drawn in runs.
    bool evenAdvance[256] = {};
};

Grid measure(const QFont& font);

// A row's cells in view: their text and the position of the first; the
// characters just outside them (0 for none), so that a surrogate pair cut by
// an edge is drawn once, in its first cell; and the selected positions.
struct Row
{
    QStringView text;
    qsizetype first = 0;
    char16_t before = 0;
    char16_t after = 0;
    qsizetype selFrom = 0;
    qsizetype selTo = 0;
};

// Draws the row's characters from topLeft, the first cell's corner, with the
// painter's font: control cells tinted within the line's height, selected
// cells in selectedText. The selection's fill is the box's own.
void drawRow(QPainter& painter, const Grid& grid, const Row& row, const QPointF& topLeft, int lineHeight,
             qreal baseline, const QColor& text, const QColor& selectedText, bool enabled);

} // namespace CellText
