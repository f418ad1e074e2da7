#include "ui/CellText.h"

#include <QColor>
#include <QFontMetricsF>
#include <QPainter>
#include <QString>

#include <algorithm>

namespace CellText {

QColor tint(char16_t c)
{
    return isC1(c) ? QColor(0xf6, 0xd8, 0xb4) : QColor(0xcc, 0xd8, 0xf4);
}

QColor ink(char16_t c)
{
    return isC1(c) ? QColor(0x8c, 0x46, 0x00) : QColor(0x1c, 0x3c, 0x8c);
}

Grid measure(const QFont& font)
{
    const QFontMetricsF metrics(font);
    Grid grid;
    grid.cellWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('M')));
    grid.ascent = metrics.ascent();
    for (int c = 0; c < 256; ++c) {
        const QChar shown = displayChar(char16_t(c));
        grid.evenAdvance[c] =
            metrics.inFont(shown) && qAbs(metrics.horizontalAdvance(shown) - grid.cellWidth) < 0.01;
    }
    return grid;
}

void drawRow(QPainter& painter, const Grid& grid, const Row& row, const QPointF& topLeft, int lineHeight,
             qreal baseline, const QColor& text, const QColor& selectedText, bool enabled)
{
    const QStringView cells = row.text;
    const qsizetype count = cells.size();
    auto cellX = [&](qsizetype k) { return topLeft.x() + k * grid.cellWidth; };
    auto selected = [&](qsizetype k) { return row.first + k >= row.selFrom && row.first + k < row.selTo; };
    auto pen = [&](qsizetype k, char16_t c) {
        if (selected(k))
            return selectedText;
        return enabled && isControl(c) ? ink(c) : text;
    };

    // Tints first: a glyph that overhangs its cell stays whole.
    for (qsizetype k = 0; k < count; ++k) {
        const char16_t c = cells[k].unicode();
        if (isControl(c) && !selected(k))
            painter.fillRect(QRectF(cellX(k) + 0.5, topLeft.y() + 1, grid.cellWidth - 1, lineHeight - 2),
                             tint(c));
    }

    QString run;
    run.reserve(count);
    qsizetype runStart = 0;
    QColor runPen;
    auto flush = [&]() {
        if (run.isEmpty())
            return;
        painter.setPen(runPen);
        painter.drawText(QPointF(cellX(runStart), baseline), run);
        run.clear();
    };
    for (qsizetype k = 0; k < count; ++k) {
        const char16_t c = cells[k].unicode();
        const QColor color = pen(k, c);
        if (c < 256 && grid.evenAdvance[c]) {
            if (!run.isEmpty() && color != runPen)
                flush();
            if (run.isEmpty()) {
                runStart = k;
                runPen = color;
            }
            run.append(displayChar(c));
            continue;
        }
        // Anything wider or narrower gets a cell of its own, so that it
        // cannot push the rest of the grid out of line.
        flush();
        if (QChar::isLowSurrogate(c) && QChar::isHighSurrogate(k > 0 ? cells[k - 1].unicode() : row.before))
            continue;
        QString single(displayChar(c));
        const char16_t next = k + 1 < count ? cells[k + 1].unicode() : row.after;
        if (QChar::isHighSurrogate(c) && QChar::isLowSurrogate(next))
            single.append(QChar(next));
        painter.setPen(color);
        painter.drawText(QPointF(cellX(k), baseline), single);
    }
    flush();
}

} // namespace CellText
