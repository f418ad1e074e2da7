#include "log/LogView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Every line start lies less than this many characters after a mark.
constexpr qsizetype MarkSpacing = 256;
constexpr int LeftMargin = 3;
constexpr int TopMargin = 1;
constexpr int HorizontalStep = 3;

int toInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}

bool isC0(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

bool isC1(char16_t c)
{
    return c >= 0x80 && c <= 0x9F;
}

// What a cell shows: control characters as their caret-notation letter.
QChar displayChar(char16_t c)
{
    if (c < 0x20)
        return QChar(char16_t(c + 0x40));
    if (c == 0x7F)
        return QLatin1Char('?');
    if (isC1(c))
        return QChar(char16_t(c - 0x40));
    if (c == 0xAD) // soft hyphen would vanish in a run of text
        return QLatin1Char('-');
    return QChar(c);
}

bool isWordChar(char16_t c)
{
    return QChar(c).isLetterOrNumber() || c == u'_';
}

// Control characters: a tinted cell with the letter in a colour of its own.
const QColor C0Tint(0xcc, 0xd8, 0xf4);
const QColor C0Ink(0x1c, 0x3c, 0x8c);
const QColor C1Tint(0xf6, 0xd8, 0xb4);
const QColor C1Ink(0x8c, 0x46, 0x00);

// How a cell is inked.
enum class Ink
{
    Text,
    Selected,
    C0,
    C1
};

} // namespace

QFont defaultLogFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(8.25);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPointSizeF(8.25);
    }
    return font;
}

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_MacShowFocusRect);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    setFont(defaultLogFont());

    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Active, QPalette::Text, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::Text, Qt::black);
    setPalette(pal);

    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(HorizontalStep);

    resetIndex();
    updateMetrics();
    updateScrollBars();
}

LogView::~LogView() = default;

// ---- text and index ------------------------------------------------------

void LogView::resetIndex()
{
    m_marks.clear();
    m_marks.push_back({0, 0});
    m_lineCount = 1;
    m_lastLineStart = 0;
    m_longest = 0;
    m_lastCrLf = -1;
}

// Indexes the line breaks from scanFrom on; everything before it is indexed
// already and the last line starts at m_lastLineStart.
void LogView::indexFrom(qsizetype scanFrom)
{
    qsizetype line = m_lineCount - 1;
    qsizetype start = m_lastLineStart;
    qsizetype longest = m_longest;
    for (qsizetype i = m_text.indexOfLf(scanFrom); i >= 0; i = m_text.indexOfLf(i + 1)) {
        qsizetype contentEnd = i;
        if (i > start && m_text.at(i - 1) == u'\r') {
            contentEnd = i - 1;
            m_lastCrLf = i - 1;
        }
        longest = std::max(longest, contentEnd - start);
        start = i + 1;
        ++line;
        if (start - m_marks.back().pos >= MarkSpacing)
            m_marks.push_back({line, start});
    }
    m_lineCount = line + 1;
    m_lastLineStart = start;
    m_longest = std::max(longest, m_text.size() - start);
}

// Indexes again from the start of a line on, after an edit at or after it.
void LogView::reindexFromLine(qsizetype line)
{
    const qsizetype start = lineStart(line);
    auto firstStale = std::upper_bound(m_marks.begin(), m_marks.end(), line,
                                       [](qsizetype l, const Mark& m) { return l < m.line; });
    m_marks.erase(firstStale, m_marks.end());
    m_lineCount = line + 1;
    m_lastLineStart = start;
    m_lastCrLf = -2;
    indexFrom(start);
}

qsizetype LogView::lineStart(qsizetype line) const
{
    if (line <= 0)
        return 0;
    if (line >= m_lineCount - 1)
        return m_lastLineStart;
    auto it = std::upper_bound(m_marks.begin(), m_marks.end(), line,
                               [](qsizetype l, const Mark& m) { return l < m.line; });
    --it;
    qsizetype pos = it->pos;
    for (qsizetype l = it->line; l < line; ++l)
        pos = m_text.indexOfLf(pos) + 1;
    return pos;
}

// End of a line's text, before its CR LF or LF.
qsizetype LogView::lineContentEnd(qsizetype line) const
{
    if (line >= m_lineCount - 1)
        return m_text.size();
    const qsizetype start = lineStart(line);
    const qsizetype lf = lineStart(line + 1) - 1;
    if (lf > start && m_text.at(lf - 1) == u'\r')
        return lf - 1;
    return lf;
}

qsizetype LogView::lineOf(qsizetype pos) const
{
    if (pos >= m_lastLineStart)
        return m_lineCount - 1;
    auto it = std::upper_bound(m_marks.begin(), m_marks.end(), pos,
                               [](qsizetype p, const Mark& m) { return p < m.pos; });
    --it;
    // Any break between the mark and pos lies within MarkSpacing of the mark.
    const qsizetype end = std::min(pos, it->pos + MarkSpacing);
    qsizetype line = it->line;
    for (qsizetype i = m_text.indexOfLf(it->pos, end); i >= 0; i = m_text.indexOfLf(i + 1, end))
        ++line;
    return line;
}

void LogView::setText(const QString& text)
{
    m_text.set(text);
    resetIndex();
    indexFrom(0);
    m_caret = m_anchor = 0;
    m_goalColumn = -1;
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    restartBlink();
    viewport()->update();
}

void LogView::append(const QString& text)
{
    if (text.isEmpty())
        return;
    holdPaintUntilNextFrame();
    const qsizetype oldSize = m_text.size();
    m_text.append(text);
    indexFrom(oldSize);
    scheduleScrollBars();
    viewport()->update();
}

void LogView::clear()
{
    setText(QString());
}

qsizetype LogView::lastIndexOf(const QString& needle) const
{
    if (needle == QLatin1String("\r\n")) {
        if (m_lastCrLf == -2)
            m_lastCrLf = m_text.lastIndexOf(needle);
        return m_lastCrLf;
    }
    return m_text.lastIndexOf(needle);
}

// ---- caret and selection -------------------------------------------------

void LogView::setCaretPosition(qsizetype pos)
{
    holdPaintUntilNextFrame();
    setSelection(pos, pos);
}

qsizetype LogView::selectionStart() const
{
    return std::min(m_anchor, m_caret);
}

qsizetype LogView::selectionEnd() const
{
    return std::max(m_anchor, m_caret);
}

QString LogView::selectedText() const
{
    return m_text.mid(selectionStart(), selectionEnd() - selectionStart());
}

void LogView::setSelection(qsizetype anchor, qsizetype caret)
{
    const qsizetype size = m_text.size();
    m_anchor = std::clamp<qsizetype>(anchor, 0, size);
    m_caret = std::clamp<qsizetype>(caret, 0, size);
    m_goalColumn = -1;
    ensureCaretVisible();
    restartBlink();
    viewport()->update();
}

void LogView::moveCaret(qsizetype pos, bool keepAnchor)
{
    setSelection(keepAnchor ? m_anchor : pos, pos);
}

qsizetype LogView::stepLeft(qsizetype pos) const
{
    if (pos <= 0)
        return 0;
    if (pos >= 2 && m_text.at(pos - 1) == u'\n' && m_text.at(pos - 2) == u'\r')
        return pos - 2;
    return pos - 1;
}

qsizetype LogView::stepRight(qsizetype pos) const
{
    const qsizetype size = m_text.size();
    if (pos >= size)
        return size;
    if (pos + 1 < size && m_text.at(pos) == u'\r' && m_text.at(pos + 1) == u'\n')
        return pos + 2;
    return pos + 1;
}

qsizetype LogView::wordStart(qsizetype pos) const
{
    const qsizetype start = lineStart(lineOf(pos));
    if (pos <= start)
        return stepLeft(pos);
    while (pos > start && !isWordChar(m_text.at(pos - 1)))
        --pos;
    while (pos > start && isWordChar(m_text.at(pos - 1)))
        --pos;
    return pos;
}

qsizetype LogView::wordEnd(qsizetype pos) const
{
    const qsizetype end = lineContentEnd(lineOf(pos));
    if (pos >= end)
        return stepRight(pos);
    while (pos < end && isWordChar(m_text.at(pos)))
        ++pos;
    while (pos < end && !isWordChar(m_text.at(pos)))
        ++pos;
    return pos;
}

// The position a number of lines up or down, keeping the column the caret
// had when the vertical move began.
qsizetype LogView::verticalTarget(qsizetype lines) const
{
    const qsizetype line = lineOf(m_caret);
    const qsizetype start = lineStart(line);
    const qsizetype column =
        m_goalColumn >= 0 ? m_goalColumn : std::min(m_caret, lineContentEnd(line)) - start;
    const qsizetype target = std::clamp<qsizetype>(line + lines, 0, m_lineCount - 1);
    const qsizetype targetStart = lineStart(target);
    return targetStart + std::min(column, lineContentEnd(target) - targetStart);
}

// ---- editing -------------------------------------------------------------

void LogView::replaceRange(qsizetype from, qsizetype to, const QString& with)
{
    if (from == to && with.isEmpty())
        return;
    const qsizetype line = lineOf(from);
    m_text.replace(from, to - from, with);
    if (to > from) {
        // The widest line may have shrunk: measure them all again.
        resetIndex();
        indexFrom(0);
    } else {
        reindexFromLine(line);
    }
    m_caret = m_anchor = from + with.size();
    m_goalColumn = -1;
    updateScrollBars();
    ensureCaretVisible();
    restartBlink();
    viewport()->update();
}

// Removes the selection, or else one step to the left (-1) or right (+1);
// a CR LF counts as one step.
void LogView::removeSelectionOr(int direction)
{
    if (hasSelection())
        replaceRange(selectionStart(), selectionEnd(), QString());
    else if (direction < 0)
        replaceRange(stepLeft(m_caret), m_caret, QString());
    else
        replaceRange(m_caret, stepRight(m_caret), QString());
}

void LogView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void LogView::cut()
{
    if (!hasSelection())
        return;
    copy();
    removeSelectionOr(0);
}

void LogView::paste()
{
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        replaceRange(selectionStart(), selectionEnd(), text);
}

void LogView::selectAll()
{
    m_anchor = 0;
    m_caret = m_text.size();
    m_goalColumn = -1;
    viewport()->update();
}

// ---- geometry ------------------------------------------------------------

void LogView::updateMetrics()
{
    const QFontMetricsF fm(font());
    m_charWidth = fm.horizontalAdvance(QLatin1Char('M'));
    if (m_charWidth <= 0)
        m_charWidth = 1;
    const QFontMetrics fmi(font());
    m_lineHeight = std::max(1, fmi.lineSpacing());
    m_ascent = fmi.ascent();
    // Characters whose glyph fills exactly one cell can be drawn as runs.
    for (int c = 0; c < 256; ++c) {
        const QChar shown = displayChar(char16_t(c));
        m_evenAdvance[c] = fm.inFont(shown) && qAbs(fm.horizontalAdvance(shown) - m_charWidth) < 0.01;
    }
}

int LogView::visibleRows() const
{
    return std::max(1, (viewport()->height() - TopMargin) / m_lineHeight);
}

int LogView::visibleColumns() const
{
    return std::max(1, int((viewport()->width() - LeftMargin) / m_charWidth));
}

void LogView::updateScrollBars()
{
    m_scrollBarsPending = false;
    const int rows = visibleRows();
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(rows);
    v->setRange(0, toInt(m_lineCount - rows));
    const int columns = visibleColumns();
    QScrollBar* h = horizontalScrollBar();
    h->setPageStep(columns);
    // One cell more than the widest line, for the caret at its end.
    h->setRange(0, toInt(m_longest + 1 - columns));
}

// Appends only mark the scroll bars stale: setting a range posts an event, so
// a burst of appends settles them once.
void LogView::scheduleScrollBars()
{
    if (m_scrollBarsPending)
        return;
    m_scrollBarsPending = true;
    QMetaObject::invokeMethod(
        this,
        [this]() {
            if (m_scrollBarsPending)
                updateScrollBars();
        },
        Qt::QueuedConnection);
}

void LogView::ensureCaretVisible()
{
    if (m_scrollBarsPending)
        updateScrollBars();
    const qsizetype line = lineOf(m_caret);
    const qsizetype start = lineStart(line);
    const qsizetype column = std::min(m_caret, lineContentEnd(line)) - start;

    QScrollBar* v = verticalScrollBar();
    const int rows = visibleRows();
    if (line < v->value())
        v->setValue(toInt(line));
    else if (line >= qsizetype(v->value()) + rows)
        v->setValue(toInt(line - rows + 1));

    QScrollBar* h = horizontalScrollBar();
    const int columns = visibleColumns();
    // Jump a quarter of the view at a time, so typing does not scroll each key.
    const int jump = columns / 4;
    if (column < h->value())
        h->setValue(toInt(column - jump));
    else if (column >= qsizetype(h->value()) + columns)
        h->setValue(toInt(column - columns + 1 + jump));
}

QRect LogView::caretRect() const
{
    const qsizetype line = lineOf(m_caret);
    const qsizetype start = lineStart(line);
    const qsizetype column = std::min(m_caret, lineContentEnd(line)) - start;
    const qreal x = LeftMargin + (column - horizontalScrollBar()->value()) * m_charWidth;
    const qsizetype row = line - verticalScrollBar()->value();
    const int width = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    const qreal y = TopMargin + qreal(row) * m_lineHeight;
    return QRect(int(std::floor(std::clamp<qreal>(x, -1e6, 1e6))), int(std::clamp<qreal>(y, -1e6, 1e6)),
                 width, m_lineHeight);
}

qsizetype LogView::positionAt(const QPoint& viewportPos) const
{
    const int y = viewportPos.y() - TopMargin;
    const qsizetype row = y >= 0 ? y / m_lineHeight : -((-y + m_lineHeight - 1) / m_lineHeight);
    const qsizetype line = std::clamp<qsizetype>(verticalScrollBar()->value() + row, 0, m_lineCount - 1);
    const qsizetype start = lineStart(line);
    const qsizetype length = lineContentEnd(line) - start;
    const qsizetype column =
        horizontalScrollBar()->value() + qsizetype(std::lround((viewportPos.x() - LeftMargin) / m_charWidth));
    return start + std::clamp<qsizetype>(column, 0, length);
}

QSize LogView::sizeHint() const
{
    return QSize(int(LeftMargin + 80 * m_charWidth), TopMargin + 20 * m_lineHeight) +
           QSize(frameWidth() * 2, frameWidth() * 2);
}

// ---- painting ------------------------------------------------------------

// A burst of entries (a file sent at full speed, a flood) would otherwise
// paint the box and its scroll bars once per entry. Within a frame of the last
// paint, drawing is held back until the frame is over, then done once.
void LogView::holdPaintUntilNextFrame()
{
    constexpr qint64 FrameMs = 16;
    if (m_frame.isActive() || !m_lastPaint.isValid() || !isVisible())
        return;
    const qint64 since = m_lastPaint.elapsed();
    if (since >= FrameMs)
        return;
    setUpdatesEnabled(false);
    m_frame.start(int(FrameMs - since), this);
}

void LogView::paintEvent(QPaintEvent* event)
{
    m_lastPaint.restart();
    if (m_scrollBarsPending)
        updateScrollBars();
    QPainter painter(viewport());
    painter.setFont(font());
    const QRect area = event->rect();
    const qsizetype first = verticalScrollBar()->value();
    const int rows = viewport()->height() / m_lineHeight + 1;
    for (int r = 0; r < rows; ++r) {
        const qsizetype line = first + r;
        if (line >= m_lineCount)
            break;
        const int y = TopMargin + r * m_lineHeight;
        if (y + m_lineHeight < area.top() || y > area.bottom())
            continue;
        drawRow(painter, line, y);
    }
    if (hasFocus() && isEnabled() && m_caretShown) {
        const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
        painter.fillRect(caretRect(), palette().color(group, QPalette::Text));
    }
}

void LogView::drawRow(QPainter& painter, qsizetype line, int y) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineContentEnd(line);
    const qsizetype firstColumn = horizontalScrollBar()->value();
    const qsizetype columns = visibleColumns() + 1;
    const qsizetype from = start + std::min(firstColumn, end - start);
    const qsizetype to = start + std::min(firstColumn + columns, end - start);

    const QPalette::ColorGroup group =
        !isEnabled() ? QPalette::Disabled : (hasFocus() ? QPalette::Active : QPalette::Inactive);
    const QPalette& pal = palette();
    const QColor textColor = pal.color(group, QPalette::Text);
    const QColor selectedColor = pal.color(group, QPalette::HighlightedText);
    const qsizetype selStart = selectionStart();
    const qsizetype selEnd = selectionEnd();
    auto cellX = [&](qsizetype pos) { return LeftMargin + (pos - start - firstColumn) * m_charWidth; };
    auto selected = [&](qsizetype pos) { return pos >= selStart && pos < selEnd; };

    // Selection, with one more cell when it takes in the line break.
    if (selStart < selEnd) {
        const qsizetype a = std::max(selStart, from);
        qsizetype b = std::min(selEnd, to);
        if (selEnd > end && line < m_lineCount - 1 && to == end)
            b = end + 1;
        if (a < b)
            painter.fillRect(QRectF(cellX(a), y, (b - a) * m_charWidth, m_lineHeight),
                             pal.color(group, QPalette::Highlight));
    }

    auto inkOf = [&](qsizetype pos, char16_t c) {
        if (selected(pos))
            return Ink::Selected;
        return isC0(c) ? Ink::C0 : isC1(c) ? Ink::C1 : Ink::Text;
    };
    for (qsizetype i = from; i < to; ++i) {
        const Ink ink = inkOf(i, m_text.at(i));
        if (ink == Ink::C0 || ink == Ink::C1)
            painter.fillRect(QRectF(cellX(i) + 0.5, y + 1, m_charWidth - 1, m_lineHeight - 2),
                             ink == Ink::C1 ? C1Tint : C0Tint);
    }

    const bool enabled = isEnabled();
    auto pen = [&](Ink ink) {
        if (ink == Ink::Selected)
            return selectedColor;
        if (!enabled || ink == Ink::Text)
            return textColor;
        return ink == Ink::C1 ? C1Ink : C0Ink;
    };
    const qreal baseline = y + m_ascent;
    QString run;
    qsizetype runStart = from;
    Ink runInk = Ink::Text;
    auto flush = [&]() {
        if (run.isEmpty())
            return;
        painter.setPen(pen(runInk));
        painter.drawText(QPointF(cellX(runStart), baseline), run);
        run.clear();
    };
    run.reserve(to - from);
    for (qsizetype i = from; i < to; ++i) {
        const char16_t c = m_text.at(i);
        const Ink ink = inkOf(i, c);
        if (c < 256 && m_evenAdvance[c]) {
            if (!run.isEmpty() && ink != runInk)
                flush();
            if (run.isEmpty()) {
                runStart = i;
                runInk = ink;
            }
            run.append(displayChar(c));
            continue;
        }
        // Anything wider or narrower gets a cell of its own.
        flush();
        if (QChar::isLowSurrogate(c) && i > start && QChar::isHighSurrogate(m_text.at(i - 1)))
            continue;
        QString single = QString(displayChar(c));
        if (QChar::isHighSurrogate(c) && i + 1 < end && QChar::isLowSurrogate(m_text.at(i + 1)))
            single.append(QChar(m_text.at(i + 1)));
        painter.setPen(pen(ink));
        painter.drawText(QPointF(cellX(i), baseline), single);
    }
    flush();
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LogView::scrollContentsBy(int, int)
{
    viewport()->update();
}

// ---- input ---------------------------------------------------------------

namespace {

enum class Step
{
    Char,
    Word,
    LineEdge,
    Line,
    Page,
    Document
};

// A caret motion: its key, the key that selects on the way, and its direction.
struct Motion
{
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    Step step;
    int direction;
};

const Motion motions[] = {
    {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, Step::Char, -1},
    {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, Step::Char, 1},
    {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, Step::Word, -1},
    {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, Step::Word, 1},
    {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, Step::LineEdge, -1},
    {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, Step::LineEdge, 1},
    {QKeySequence::MoveToStartOfBlock, QKeySequence::SelectStartOfBlock, Step::LineEdge, -1},
    {QKeySequence::MoveToEndOfBlock, QKeySequence::SelectEndOfBlock, Step::LineEdge, 1},
    {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, Step::Line, -1},
    {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, Step::Line, 1},
    {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, Step::Page, -1},
    {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, Step::Page, 1},
    {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, Step::Document, -1},
    {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, Step::Document, 1},
};

} // namespace

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAll();
        return;
    }
    if (event == QKeySequence::Copy) {
        copy();
        return;
    }
    if (event == QKeySequence::Cut) {
        cut();
        return;
    }
    if (event == QKeySequence::Paste) {
        paste();
        return;
    }

    const qsizetype line = lineOf(m_caret);
    for (const Motion& m : motions) {
        const bool select = event->matches(m.select);
        if (!select && !event->matches(m.move))
            continue;
        const int dir = m.direction;
        qsizetype target = m_caret;
        switch (m.step) {
        case Step::Char:
            if (!select && hasSelection())
                target = dir < 0 ? selectionStart() : selectionEnd();
            else
                target = dir < 0 ? stepLeft(m_caret) : stepRight(m_caret);
            break;
        case Step::Word:
            target = dir < 0 ? wordStart(m_caret) : wordEnd(m_caret);
            break;
        case Step::LineEdge:
            target = dir < 0 ? lineStart(line) : lineContentEnd(line);
            break;
        case Step::Line:
        case Step::Page: {
            // The column the caret had when the vertical moves began.
            const qsizetype goal =
                m_goalColumn >= 0 ? m_goalColumn : std::min(m_caret, lineContentEnd(line)) - lineStart(line);
            const int lines = m.step == Step::Page ? dir * visibleRows() : dir;
            target = verticalTarget(lines);
            if (m.step == Step::Page) {
                QScrollBar* v = verticalScrollBar();
                v->setValue(v->value() + lines);
            }
            moveCaret(target, select);
            m_goalColumn = goal;
            return;
        }
        case Step::Document:
            target = dir < 0 ? 0 : m_text.size();
            break;
        }
        moveCaret(target, select);
        return;
    }

    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
        replaceRange(selectionStart(), selectionEnd(), QStringLiteral("\r\n"));
        return;
    }
    if (key == Qt::Key_Backspace && mods == Qt::NoModifier) {
        removeSelectionOr(-1);
        return;
    }
    if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
        removeSelectionOr(1);
        return;
    }
    const QString typed = event->text();
    const bool printable = !typed.isEmpty() && std::none_of(typed.cbegin(), typed.cend(),
                                                            [](QChar c) { return isC0(c.unicode()); });
    if (printable && !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
        replaceRange(selectionStart(), selectionEnd(), typed);
        return;
    }
    event->ignore();
}

bool LogView::event(QEvent* event)
{
    // Keep the window's shortcuts from taking the editing keys.
    if (event->type() == QEvent::ShortcutOverride && isEnabled()) {
        auto* ke = static_cast<QKeyEvent*>(event);
        static const QKeySequence::StandardKey editKeys[] = {QKeySequence::Copy,
                                                             QKeySequence::Cut,
                                                             QKeySequence::Paste,
                                                             QKeySequence::SelectAll,
                                                             QKeySequence::MoveToStartOfDocument,
                                                             QKeySequence::MoveToEndOfDocument,
                                                             QKeySequence::SelectStartOfDocument,
                                                             QKeySequence::SelectEndOfDocument,
                                                             QKeySequence::MoveToNextWord,
                                                             QKeySequence::MoveToPreviousWord,
                                                             QKeySequence::SelectNextWord,
                                                             QKeySequence::SelectPreviousWord};
        const bool edit = std::any_of(std::begin(editKeys), std::end(editKeys),
                                      [ke](QKeySequence::StandardKey k) { return ke->matches(k); });
        const bool plain = !ke->text().isEmpty() && !isC0(ke->text().at(0).unicode()) &&
                           !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (edit || plain) {
            ke->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    moveCaret(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        moveCaret(positionAt(event->position().toPoint()), true);
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const qsizetype pos = positionAt(event->position().toPoint());
    qsizetype from = pos;
    qsizetype to = pos;
    while (from > 0 && isWordChar(m_text.at(from - 1)))
        --from;
    while (to < m_text.size() && isWordChar(m_text.at(to)))
        ++to;
    setSelection(from, to);
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* cutAction = menu.addAction(tr("Cu&t"), this, &LogView::cut);
    QAction* copyAction = menu.addAction(tr("&Copy"), this, &LogView::copy);
    QAction* pasteAction = menu.addAction(tr("&Paste"), this, &LogView::paste);
    menu.addSeparator();
    QAction* allAction = menu.addAction(tr("Select &All"), this, &LogView::selectAll);
    cutAction->setEnabled(hasSelection());
    copyAction->setEnabled(hasSelection());
    pasteAction->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    allAction->setEnabled(!m_text.isEmpty());
    menu.exec(event->globalPos());
}

void LogView::inputMethodEvent(QInputMethodEvent* event)
{
    if (!event->commitString().isEmpty())
        replaceRange(selectionStart(), selectionEnd(), event->commitString());
    event->accept();
}

QVariant LogView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return isEnabled();
    case Qt::ImCursorRectangle:
        return caretRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return int(m_caret - lineStart(lineOf(m_caret)));
    case Qt::ImAnchorPosition:
        return int(std::clamp(m_anchor - lineStart(lineOf(m_caret)), qsizetype(0), qsizetype(INT_MAX)));
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- focus, state and caret blink ---------------------------------------

void LogView::restartBlink()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
}

void LogView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    restartBlink();
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_dragging = false;
    viewport()->update();
}

void LogView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_frame.timerId()) {
        m_frame.stop();
        setUpdatesEnabled(true); // paints what the held-back appends changed
        return;
    }
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(caretRect());
}

void LogView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        updateMetrics();
        updateScrollBars();
        viewport()->update();
        break;
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
    case QEvent::ActivationChange:
        viewport()->update();
        break;
    default:
        break;
    }
}
