#include "ui/LogView.h"

#include "platform/KvError.h"
#include "ui/AccessibleText.h"
#include "ui/Fonts.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace {

constexpr int LeftMargin = 3;
constexpr int TopMargin = 1;
constexpr int HorizontalStep = 3;
// A screen reader hears of appends and caret moves at most this often, so
// that a flood of data is no flood of its events.
constexpr int ScreenReaderNewsMs = 100;

int toInt(qsizetype value)
{
    return int(std::clamp<qsizetype>(value, 0, INT_MAX));
}

} // namespace

LogView::LogView(QWidget* parent) : TextBox(parent, true)
{
    m_store = new LogStore(this);
    connect(m_store, &LogStore::frontReplaced, this, &LogView::frontReplaced);
    connect(m_store, &LogStore::diskFull, this, [this](const QString& reason) {
        emit notice(QStringLiteral("The log's file cannot grow: %1. From now on the log keeps its newest "
                                   "%2 MB, and its first line counts the characters dropped before them.")
                        .arg(reason, QString::number(m_store->workingSetLimit() >> 20)));
    });

    setAccessibleName(tr("Log"));
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
    m_topLine = m_leftColumn = 0;
    scheduleScrollBars();
    viewport()->update();
    m_store->append(text);
    m_appendedFrom = -1;
    textReplaced(0, removed, text, {0, 0});
}

template <typename Text> void LogView::append(const Text& text)
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
template void LogView::append(const QString&);
template void LogView::append(const QByteArray&);

// The store keeps the text for undo; the view keeps where it stood.
void LogView::clear()
{
    const Selection before{m_anchor, m_caret};
    const qsizetype top = m_topLine;
    const qsizetype left = m_leftColumn;
    const bool some = length() > 0;
    setText(QString());
    if (some) {
        m_undoSelection = before;
        m_undoTop = top;
        m_undoLeft = left;
    }
    emit cleared();
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
void LogView::guarded(const char* undone, const std::function<void()>& work)
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
    tellAppended();
    if (m_caretNews) {
        m_caretNews = false;
        AccessibleTextBox::caretMoved(this);
    }
}

void LogView::tellAppended()
{
    if (m_appendedFrom < 0)
        return;
    const qsizetype from = std::min(m_appendedFrom, m_store->size());
    m_appendedFrom = -1;
    AccessibleTextBox::textChanged(this, from, QString(), accessibleText(from, m_store->size() - from));
}

TextBox::Range LogView::lineSpan(qsizetype line, bool withBreak) const
{
    return {m_store->lineStart(line), m_store->lineEnd(line, withBreak)};
}

// Up, Down and the page keys keep the goal column; a page key scrolls by a view.
qsizetype LogView::verticalTarget(int direction, bool page)
{
    const qsizetype lines = page ? direction * visibleRows() : direction;
    const qsizetype target = std::clamp<qsizetype>(lineOf(m_caret) + lines, 0, lineCount() - 1);
    if (page)
        setTopLine(m_topLine + lines);
    const Range span = lineSpan(target, false);
    return span.first + std::min(goalColumn(), span.second - span.first);
}

// ---- editing -------------------------------------------------------------

// The store rewrites only the chunks the range touches; typing that runs on
// from the last edit keeps the selection its undo goes back to.
void LogView::replaceText(qsizetype from, qsizetype to, const QString& with, bool typing, Selection before)
{
    tellAppended(); // the appends first, at the places they had
    if (!m_store->replace(from, to - from, with, typing))
        m_undoSelection = before;
}

// The store puts the old text back in one step, whatever its size; a screen
// reader hears of it as of any edit.
void LogView::undo()
{
    if (!m_store->canUndo())
        return;
    guarded("nothing was undone.", [this] {
        const LogEdit edit = m_store->lastEdit();
        const bool clear = m_store->undoesClear();
        const QString removed = accessibleText(edit.from, edit.inserted);
        m_store->undo();
        textReplaced(edit.from, removed, accessibleText(edit.from, edit.removed), m_undoSelection);
        if (clear) {
            setTopLine(m_undoTop);
            setLeftColumn(m_undoLeft);
        }
    });
}

bool LogView::editKey(QKeyEvent* event)
{
    // Enter keeps to the log's CR LF.
    const int key = event->key();
    const bool plain = !(event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
    if ((key != Qt::Key_Return && key != Qt::Key_Enter) || !plain)
        return false;
    replace(selFrom(), selTo(), QStringLiteral("\r\n"), true);
    return true;
}

void LogView::openMenu(QMenu* menu)
{
    menu->setObjectName(QStringLiteral("mnLog"));
    menu->addAction(tr("&Undo"), this, &LogView::undo)->setEnabled(m_store->canUndo());
}

// ---- geometry ------------------------------------------------------------

QRect LogView::textArea() const
{
    return viewport()->rect().adjusted(LeftMargin, TopMargin, 0, 0);
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

// A paint that fails (out of memory, the log's file unreadable) leaves its
// rows blank; it is said once, not at every paint after it.
void LogView::paintEvent(QPaintEvent* event)
{
    m_lastPaint.restart();
    if (m_scrollBarsPending)
        updateScrollBars();
    try {
        TextBox::paintEvent(event);
        m_paintFailed = false;
    } catch (const std::exception& e) {
        if (!m_paintFailed)
            report(&e, "part of the log is not shown.");
        m_paintFailed = true;
    }
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

// ---- screen reader and frames ----------------------------------------------

void LogView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_screenReaderNews.timerId()) {
        guarded("a screen reader was not told of a change.", [this] { tellScreenReader(); });
        return;
    }
    if (event->timerId() == m_frame.timerId()) {
        m_frame.stop();
        setUpdatesEnabled(true); // paints what the held-back appends changed
        return;
    }
    TextBox::timerEvent(event);
}
