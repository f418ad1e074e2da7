#include "ui/LogView.h"

#include "platform/KvError.h"
#include "ui/AccessibleText.h"
#include "ui/CellText.h"
#include "ui/Editing.h"
#include "ui/Fonts.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace {

using CellText::isC0;
using CellText::isWordChar;

// The editing keys the window's shortcuts must not take from the log.
const QKeySequence::StandardKey EditingKeys[] = {QKeySequence::Copy,
                                                 QKeySequence::Cut,
                                                 QKeySequence::Paste,
                                                 QKeySequence::Undo,
                                                 QKeySequence::SelectAll,
                                                 QKeySequence::MoveToStartOfDocument,
                                                 QKeySequence::MoveToEndOfDocument,
                                                 QKeySequence::SelectStartOfDocument,
                                                 QKeySequence::SelectEndOfDocument,
                                                 QKeySequence::MoveToNextWord,
                                                 QKeySequence::MoveToPreviousWord,
                                                 QKeySequence::SelectNextWord,
                                                 QKeySequence::SelectPreviousWord};

constexpr int LeftMargin = 3;
constexpr int TopMargin = 1;
constexpr int HorizontalStep = 3;
// A word move or a double click looks this far at most: a line of gigabytes
// may hold no break between words.
constexpr qsizetype WordLimit = 64 * 1024;
// A selection dragged past the edge moves this often, the further out the faster.
constexpr int AutoScrollMs = 50;
// A screen reader hears of appends and caret moves at most this often, so
// that a flood of data is no flood of its events.
constexpr int ScreenReaderNewsMs = 100;

int toInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}

} // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent)
{
    m_store = new LogStore(this);
    connect(m_store, &LogStore::frontReplaced, this, &LogView::frontReplaced);
    connect(m_store, &LogStore::diskFull, this, [this](const QString& reason) {
        emit notice(QStringLiteral("The log's file cannot grow: %1. From now on the log keeps its newest "
                                   "%2 MB, and its first line counts the characters dropped before them.")
                        .arg(reason, QString::number(m_store->workingSetLimit() >> 20)));
    });

    AccessibleTextBox::install();
    setAccessibleName(tr("Log"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_MacShowFocusRect);
    viewport()->setCursor(Qt::IBeamCursor);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    setFont(Fonts::log());

    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Active, QPalette::Text, Qt::black);
    pal.setColor(QPalette::Inactive, QPalette::Text, Qt::black);
    setPalette(pal);

    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(HorizontalStep);

    updateMetrics();
    updateScrollBars();
}

LogView::~LogView() = default;

// ---- text ----------------------------------------------------------------

// End of a line's text, before its CR LF or LF.
void LogView::setText(const QString& text)
{
    const QString removed = accessibleText(0, m_store->size());
    m_store->clear();
    m_caret = m_anchor = 0;
    m_goalColumn = -1;
    m_topLine = m_leftColumn = 0;
    scheduleScrollBars();
    m_blink.restart(this, hasFocus());
    viewport()->update();
    m_store->append(text);
    updateScrollBars();
    m_appendedFrom = -1;
    AccessibleTextBox::textChanged(this, 0, removed, text);
}

void LogView::append(const QString& text)
{
    if (text.isEmpty())
        return;
    holdPaintUntilNextFrame();
    const qsizetype at = m_store->size();
    m_store->append(text);
    scheduleScrollBars();
    viewport()->update();
    if (QAccessible::isActive()) {
        if (m_appendedFrom < 0)
            m_appendedFrom = at;
        if (!m_screenReaderNews.isActive())
            m_screenReaderNews.start(ScreenReaderNewsMs, this);
    }
}

void LogView::clear()
{
    setText(QString());
}

qsizetype LogView::lastIndexOf(const QString& needle) const
{
    return m_store->lastIndexOf(needle);
}

// The store dropped old text at the start (the disk is full): what the view
// points at moves with the text that stays.
void LogView::frontReplaced(qsizetype count, qsizetype newCount, qsizetype lines, qsizetype newLines)
{
    auto moved = [&](qsizetype pos) { return pos >= count ? pos - count + newCount : 0; };
    m_caret = moved(m_caret);
    m_anchor = moved(m_anchor);
    if (m_appendedFrom >= 0)
        m_appendedFrom = moved(m_appendedFrom);
    m_topLine = m_topLine >= lines ? m_topLine - lines + newLines : 0;
    scheduleScrollBars();
    viewport()->update();
}

// Runs work; a failure in it (out of memory, the log's file unreadable) is
// told through notice() with what was left undone.
template <typename Work> void LogView::guarded(const char* undone, Work&& work)
{
    try {
        work();
    } catch (const std::exception& e) {
        report(&e, undone);
    } catch (...) {
        report(nullptr, undone);
    }
}

void LogView::report(const std::exception* failure, const char* undone)
{
    try {
        emit notice((failure ? KvErr::describe(*failure) : QStringLiteral("Failure")) + QStringLiteral(": ") +
                    QLatin1String(undone));
    } catch (...) {
        // Not even the notice fits in memory: the text stays as it was.
    }
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
    return m_store->mid(selectionStart(), selectionEnd() - selectionStart());
}

void LogView::setSelection(qsizetype anchor, qsizetype caret)
{
    const qsizetype size = m_store->size();
    m_anchor = std::clamp<qsizetype>(anchor, 0, size);
    m_caret = std::clamp<qsizetype>(caret, 0, size);
    m_goalColumn = -1;
    ensureCaretVisible();
    m_blink.restart(this, hasFocus());
    viewport()->update();
    caretMoved();
}

void LogView::caretMoved()
{
    if (!QAccessible::isActive())
        return;
    m_caretNews = true;
    if (!m_screenReaderNews.isActive())
        m_screenReaderNews.start(ScreenReaderNewsMs, this);
}

void LogView::tellScreenReader()
{
    m_screenReaderNews.stop();
    if (m_appendedFrom >= 0) {
        const qsizetype from = std::min(m_appendedFrom, m_store->size());
        m_appendedFrom = -1;
        AccessibleTextBox::textChanged(this, from, QString(), accessibleText(from, m_store->size() - from));
    }
    if (m_caretNews) {
        m_caretNews = false;
        AccessibleTextBox::caretMoved(this);
    }
}

// What a screen reader is told was removed; nothing is read when none listens.
QString LogView::accessibleText(qsizetype from, qsizetype count) const
{
    if (!QAccessible::isActive())
        return QString();
    return m_store->mid(from, std::min(count, AccessibleTextBox::TextLimit));
}

void LogView::moveCaret(qsizetype pos, bool keepAnchor)
{
    setSelection(keepAnchor ? m_anchor : pos, pos);
}

qsizetype LogView::stepLeft(qsizetype pos) const
{
    if (pos <= 0)
        return 0;
    if (pos >= 2 && m_store->at(pos - 1) == u'\n' && m_store->at(pos - 2) == u'\r')
        return pos - 2;
    return pos - 1;
}

qsizetype LogView::stepRight(qsizetype pos) const
{
    const qsizetype size = m_store->size();
    if (pos >= size)
        return size;
    if (pos + 1 < size && m_store->at(pos) == u'\r' && m_store->at(pos + 1) == u'\n')
        return pos + 2;
    return pos + 1;
}

qsizetype LogView::wordStart(qsizetype pos) const
{
    const qsizetype start = lineStart(lineOf(pos));
    if (pos <= start)
        return stepLeft(pos);
    const qsizetype limit = std::max(start, pos - WordLimit);
    while (pos > limit && !isWordChar(m_store->at(pos - 1)))
        --pos;
    while (pos > limit && isWordChar(m_store->at(pos - 1)))
        --pos;
    return pos;
}

qsizetype LogView::wordEnd(qsizetype pos) const
{
    const qsizetype end = m_store->lineEnd(lineOf(pos));
    if (pos >= end)
        return stepRight(pos);
    const qsizetype limit = std::min(end, pos + WordLimit);
    while (pos < limit && isWordChar(m_store->at(pos)))
        ++pos;
    while (pos < limit && !isWordChar(m_store->at(pos)))
        ++pos;
    return pos;
}

// The column of a position within its line; a position inside a line break
// counts as the end of the line's text.
qsizetype LogView::columnOf(qsizetype pos) const
{
    const qsizetype line = lineOf(pos);
    const qsizetype start = lineStart(line);
    return std::clamp(pos, start, m_store->lineEnd(line)) - start;
}

// The column vertical moves keep: the caret's when the first of them began.
qsizetype LogView::goalColumn() const
{
    return m_goalColumn >= 0 ? m_goalColumn : columnOf(m_caret);
}

// The position a number of lines up or down, keeping the goal column.
qsizetype LogView::verticalTarget(qsizetype lines) const
{
    const qsizetype line = lineOf(m_caret);
    const qsizetype column = goalColumn();
    const qsizetype target = std::clamp<qsizetype>(line + lines, 0, lineCount() - 1);
    const qsizetype targetStart = lineStart(target);
    return targetStart + std::min(column, m_store->lineEnd(target) - targetStart);
}

// ---- editing -------------------------------------------------------------

// The store rewrites only the chunks the range touches. The caret goes after
// the new text; text the store drops meanwhile moves it along.
void LogView::replaceRange(qsizetype from, qsizetype to, const QString& with, bool typing)
{
    if (from == to && with.isEmpty())
        return;
    const qsizetype caret = m_caret;
    const qsizetype anchor = m_anchor;
    if (m_appendedFrom >= 0)
        tellScreenReader(); // the appends first, at the places they had
    const QString removed = accessibleText(from, to - from);
    m_caret = m_anchor = from + with.size();
    bool ranOn = false;
    try {
        ranOn = m_store->replace(from, to - from, with, typing);
    } catch (...) {
        m_caret = caret;
        m_anchor = anchor;
        throw;
    }
    if (!ranOn) {
        m_undoCaret = caret;
        m_undoAnchor = anchor;
    }
    m_goalColumn = -1;
    updateScrollBars();
    ensureCaretVisible();
    m_blink.restart(this, hasFocus());
    viewport()->update();
    AccessibleTextBox::textChanged(this, from, removed, with);
    caretMoved();
}

// The store puts the old text back in one step, whatever its size; a screen
// reader hears of it as of any edit.
void LogView::undo()
{
    if (!m_store->canUndo())
        return;
    guarded("nothing was undone.", [this] {
        const LogEdit edit = m_store->lastEdit();
        const QString removed = accessibleText(edit.from, edit.inserted);
        m_store->undo();
        updateScrollBars();
        AccessibleTextBox::textChanged(this, edit.from, removed, accessibleText(edit.from, edit.removed));
        setSelection(m_undoAnchor, m_undoCaret);
    });
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

// Puts the selection on the clipboard unless it is too large for one; says
// so then, and returns whether it was copied.
bool LogView::copySelection(bool cut)
{
    const qsizetype size = selectionEnd() - selectionStart();
    if (size > m_copyLimit) {
        emit notice(QStringLiteral("Not %1: the selection holds %2 bytes, more than the clipboard takes "
                                   "(%3 MB).")
                        .arg(cut ? QStringLiteral("cut") : QStringLiteral("copied"))
                        .arg(size)
                        .arg(m_copyLimit >> 20));
        return false;
    }
    bool copied = false;
    guarded(cut ? "nothing was cut." : "nothing was copied.", [&] {
        QGuiApplication::clipboard()->setText(selectedText());
        copied = true;
    });
    return copied;
}

void LogView::copy()
{
    if (hasSelection())
        copySelection(false);
}

void LogView::cut()
{
    if (hasSelection() && copySelection(true))
        guarded("the selection was copied but not cut.",
                [this] { replaceRange(selectionStart(), selectionEnd(), QString()); });
}

void LogView::paste()
{
    guarded("nothing was pasted.", [this] {
        const QString text = QGuiApplication::clipboard()->text();
        if (!text.isEmpty())
            replaceRange(selectionStart(), selectionEnd(), text);
    });
}

void LogView::selectAll()
{
    m_anchor = 0;
    m_caret = m_store->size();
    m_goalColumn = -1;
    viewport()->update();
    caretMoved();
}

void LogView::removeSelection()
{
    if (hasSelection())
        guarded("the selection was not deleted.",
                [this] { replaceRange(selectionStart(), selectionEnd(), QString()); });
}

// A mouse selection is offered to other programs as X11's primary selection,
// as far as a clipboard sensibly holds.
void LogView::fillPrimarySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection() && selectionEnd() - selectionStart() <= m_copyLimit)
        guarded("the selection clipboard was not set.",
                [this, clipboard] { clipboard->setText(selectedText(), QClipboard::Selection); });
}

// ---- geometry ------------------------------------------------------------

void LogView::updateMetrics()
{
    m_grid = CellText::measure(font());
    const QFontMetrics metrics(font());
    m_lineHeight = std::max(1, metrics.lineSpacing());
}

int LogView::visibleRows() const
{
    return std::max(1, (viewport()->height() - TopMargin) / m_lineHeight);
}

int LogView::visibleColumns() const
{
    return std::max(1, int((viewport()->width() - LeftMargin) / m_grid.cellWidth));
}

void LogView::updateScrollBars()
{
    m_scrollBarsPending = false;
    const int rows = visibleRows();
    const int columns = visibleColumns();
    m_vScale = ScrollScale(lineCount() - rows);
    // One cell more than the widest line, for the caret at its end.
    m_hScale = ScrollScale(longestLineLength() + 1 - columns);
    m_topLine = std::clamp<qsizetype>(m_topLine, 0, m_vScale.maximum);
    m_leftColumn = std::clamp<qsizetype>(m_leftColumn, 0, m_hScale.maximum);
    setBar(verticalScrollBar(), m_vScale, rows, m_topLine);
    setBar(horizontalScrollBar(), m_hScale, columns, m_leftColumn);
}

// Shows the place on a bar without taking the bar's rounded value back.
void LogView::setBar(QScrollBar* bar, const ScrollScale& scale, int visible, qsizetype place)
{
    m_settingBars = true;
    if (visible > 0) {
        bar->setRange(0, scale.barMaximum());
        bar->setPageStep(toInt(std::max<qint64>(1, visible / scale.step)));
    }
    bar->setValue(scale.toBar(place));
    m_settingBars = false;
}

void LogView::scrollTo(QScrollBar* bar, const ScrollScale& scale, qsizetype& place, qsizetype value)
{
    place = std::clamp<qsizetype>(value, 0, scale.maximum);
    setBar(bar, scale, 0, place);
    viewport()->update();
}

void LogView::setTopLine(qsizetype line)
{
    if (m_scrollBarsPending)
        updateScrollBars();
    scrollTo(verticalScrollBar(), m_vScale, m_topLine, line);
}

void LogView::setLeftColumn(qsizetype column)
{
    if (m_scrollBarsPending)
        updateScrollBars();
    scrollTo(horizontalScrollBar(), m_hScale, m_leftColumn, column);
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
    ensureVisible(m_caret);
}

void LogView::scrollToPosition(qsizetype pos)
{
    ensureVisible(std::clamp<qsizetype>(pos, 0, m_store->size()));
}

void LogView::ensureVisible(qsizetype pos)
{
    if (m_scrollBarsPending)
        updateScrollBars();
    const qsizetype line = lineOf(pos);
    const qsizetype column = columnOf(pos);

    const int rows = visibleRows();
    if (line < m_topLine)
        setTopLine(line);
    else if (line >= m_topLine + rows)
        setTopLine(line - rows + 1);

    const int columns = visibleColumns();
    // Jump a quarter of the view at a time, so typing does not scroll each key.
    const int jump = columns / 4;
    if (column < m_leftColumn)
        setLeftColumn(column - jump);
    else if (column >= m_leftColumn + columns)
        setLeftColumn(column - columns + 1 + jump);
}

QRect LogView::caretRect() const
{
    QRect rect = cellRect(m_caret);
    rect.setWidth(std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this)));
    return rect;
}

QRect LogView::cellRect(qsizetype pos) const
{
    const qsizetype line = lineOf(pos);
    const qsizetype column = columnOf(pos);
    const qreal x = LeftMargin + qreal(column - m_leftColumn) * m_grid.cellWidth;
    const qreal y = TopMargin + qreal(line - m_topLine) * m_lineHeight;
    return QRect(int(std::floor(std::clamp<qreal>(x, -1e6, 1e6))), int(std::clamp<qreal>(y, -1e6, 1e6)),
                 int(std::ceil(m_grid.cellWidth)), m_lineHeight);
}

qsizetype LogView::positionAt(const QPoint& viewportPos) const
{
    const int y = viewportPos.y() - TopMargin;
    const qsizetype row = y >= 0 ? y / m_lineHeight : -((-y + m_lineHeight - 1) / m_lineHeight);
    const qsizetype line = std::clamp<qsizetype>(m_topLine + row, 0, lineCount() - 1);
    const qsizetype start = lineStart(line);
    const qsizetype length = m_store->lineEnd(line) - start;
    const qsizetype column =
        m_leftColumn + qsizetype(std::lround((viewportPos.x() - LeftMargin) / m_grid.cellWidth));
    return start + std::clamp<qsizetype>(column, 0, length);
}

QSize LogView::sizeHint() const
{
    return QSize(int(LeftMargin + 80 * m_grid.cellWidth), TopMargin + 20 * m_lineHeight) +
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
    const int rows = viewport()->height() / m_lineHeight + 1;
    // A paint that fails (out of memory, the log's file unreadable) leaves its
    // rows blank; it is said once, not at every paint after it.
    try {
        for (int r = 0; r < rows; ++r) {
            const qsizetype line = m_topLine + r;
            if (line >= lineCount())
                break;
            const int y = TopMargin + r * m_lineHeight;
            if (y + m_lineHeight < area.top() || y > area.bottom())
                continue;
            drawRow(painter, line, y);
        }
        if (hasFocus() && isEnabled() && m_blink.shown()) {
            const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
            painter.fillRect(caretRect(), palette().color(group, QPalette::Text));
        }
        m_paintFailed = false;
    } catch (const std::exception& e) {
        if (!m_paintFailed)
            report(&e, "part of the log is not shown.");
        m_paintFailed = true;
    }
}

void LogView::drawRow(QPainter& painter, qsizetype line, int y) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = m_store->lineEnd(line);
    const qsizetype firstColumn = m_leftColumn;
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
    auto cellX = [&](qsizetype pos) { return LeftMargin + (pos - start - firstColumn) * m_grid.cellWidth; };

    // Selection, with one more cell when it takes in the line break.
    if (selStart < selEnd) {
        const qsizetype a = std::max(selStart, from);
        qsizetype b = std::min(selEnd, to);
        if (selEnd > end && line < lineCount() - 1 && to == end)
            b = end + 1;
        if (a < b)
            painter.fillRect(QRectF(cellX(a), y, (b - a) * m_grid.cellWidth, m_lineHeight),
                             pal.color(group, QPalette::Highlight));
    }

    // The cells in view and the one after them, for a surrogate pair cut by
    // the right edge; the one before is read only for a pair cut by the left.
    const QString cells = m_store->mid(from, std::min(to + 1, end) - from);
    CellText::Row row{QStringView(cells).first(to - from), from, 0, 0, selStart, selEnd};
    if (from > start && from < to && cells.at(0).isLowSurrogate())
        row.before = m_store->at(from - 1);
    if (cells.size() > to - from)
        row.after = cells.back().unicode();
    CellText::drawRow(painter, m_grid, row, QPointF(cellX(from), y), m_lineHeight, y + qRound(m_grid.ascent),
                      textColor, selectedColor, isEnabled());
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

// The user moved a scroll bar: its step may stand for many lines or columns.
void LogView::scrollContentsBy(int, int)
{
    if (!m_settingBars) {
        m_topLine = m_vScale.fromBar(verticalScrollBar()->value());
        m_leftColumn = m_hScale.fromBar(horizontalScrollBar()->value());
    }
    viewport()->update();
}

// ---- input ---------------------------------------------------------------

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    guarded("the key was not taken.", [this, event] { handleKey(event); });
}

void LogView::handleKey(QKeyEvent* event)
{
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
    if (event == QKeySequence::Undo) {
        undo();
        return;
    }

    const qsizetype line = lineOf(m_caret);
    bool select = false;
    if (const Editing::Motion* motion = Editing::motionOf(*event, &select)) {
        using Editing::Step;
        const Editing::Motion& m = *motion;
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
            target = dir < 0 ? lineStart(line) : m_store->lineEnd(line);
            break;
        case Step::Line:
        case Step::Page: {
            const qsizetype goal = goalColumn();
            const int lines = m.step == Step::Page ? dir * visibleRows() : dir;
            target = verticalTarget(lines);
            if (m.step == Step::Page)
                setTopLine(m_topLine + lines);
            moveCaret(target, select);
            m_goalColumn = goal;
            return;
        }
        case Step::Document:
            target = dir < 0 ? 0 : m_store->size();
            break;
        }
        moveCaret(target, select);
        return;
    }

    const int key = event->key();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
        replaceRange(selectionStart(), selectionEnd(), QStringLiteral("\r\n"), true);
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
        replaceRange(selectionStart(), selectionEnd(), typed, true);
        return;
    }
    event->ignore();
}

bool LogView::event(QEvent* event)
{
    // Keep the window's shortcuts from taking the editing keys.
    if (event->type() == QEvent::ShortcutOverride && isEnabled()) {
        auto* ke = static_cast<QKeyEvent*>(event);
        if (Editing::overridesShortcut(*ke, EditingKeys)) {
            ke->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection()) {
        // The primary selection goes in where it is dropped.
        guarded("nothing was pasted.", [this, event, clipboard] {
            const QString text = clipboard->text(QClipboard::Selection);
            moveCaret(positionAt(event->position().toPoint()), false);
            if (!text.isEmpty())
                replaceRange(m_caret, m_caret, text);
        });
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    guarded("the caret was not moved.", [this, event] {
        moveCaret(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
    });
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    m_dragPos = event->position().toPoint();
    // Past an edge the text keeps moving under the mouse on a timer.
    if (viewport()->rect().contains(m_dragPos))
        m_autoScroll.stop();
    else if (!m_autoScroll.isActive())
        m_autoScroll.start(AutoScrollMs, this);
    guarded("the selection was not changed.", [this] { moveCaret(positionAt(m_dragPos), true); });
}

void LogView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_autoScroll.stop();
    fillPrimarySelection();
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    guarded("the word was not selected.", [this, event] {
        const qsizetype pos = positionAt(event->position().toPoint());
        qsizetype from = pos;
        qsizetype to = pos;
        while (from > 0 && pos - from < WordLimit && isWordChar(m_store->at(from - 1)))
            --from;
        while (to < m_store->size() && to - pos < WordLimit && isWordChar(m_store->at(to)))
            ++to;
        setSelection(from, to);
    });
    fillPrimarySelection();
}

QMenu* LogView::createContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("mnLog"));
    const bool selected = hasSelection();
    menu->addAction(tr("&Undo"), this, &LogView::undo)->setEnabled(m_store->canUndo());
    menu->addSeparator();
    menu->addAction(tr("Cu&t"), this, &LogView::cut)->setEnabled(selected);
    menu->addAction(tr("&Copy"), this, &LogView::copy)->setEnabled(selected);
    menu->addAction(tr("&Paste"), this, &LogView::paste)->setEnabled(Editing::clipboardHasText());
    menu->addAction(tr("&Delete"), this, &LogView::removeSelection)->setEnabled(selected);
    menu->addSeparator();
    menu->addAction(tr("Select &All"), this, &LogView::selectAll)->setEnabled(!m_store->isEmpty());
    const QList<QAction*> own = actions();
    if (!own.isEmpty()) {
        menu->addSeparator();
        menu->addActions(own);
    }
    return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createContextMenu(this));
    menu->exec(event->globalPos());
}

void LogView::inputMethodEvent(QInputMethodEvent* event)
{
    if (!event->commitString().isEmpty())
        guarded("the text was not taken.", [this, event] {
            replaceRange(selectionStart(), selectionEnd(), event->commitString(), true);
        });
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
        return toInt(columnOf(m_caret));
    case Qt::ImAnchorPosition:
        return int(std::clamp(m_anchor - lineStart(lineOf(m_caret)), qsizetype(0), qsizetype(INT_MAX)));
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- focus, state and caret blink ---------------------------------------

void LogView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    m_blink.restart(this, hasFocus());
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_autoScroll.stop();
    m_dragging = false;
    viewport()->update();
}

void LogView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_screenReaderNews.timerId()) {
        guarded("a screen reader was not told of a change.", [this] { tellScreenReader(); });
        return;
    }
    if (event->timerId() == m_autoScroll.timerId()) {
        guarded("the selection was not changed.", [this] { moveCaret(positionAt(m_dragPos), true); });
        return;
    }
    if (event->timerId() == m_frame.timerId()) {
        m_frame.stop();
        setUpdatesEnabled(true); // paints what the held-back appends changed
        return;
    }
    if (m_blink.take(event)) {
        viewport()->update(caretRect());
        return;
    }
    QAbstractScrollArea::timerEvent(event);
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
