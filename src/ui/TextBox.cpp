#include "ui/TextBox.h"

#include "ui/AccessibleText.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QStyleHints>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>

namespace {

// The editing keys the window's shortcuts must not take from a box.
const QKeySequence::StandardKey EditingKeys[] = {QKeySequence::Copy,
                                                 QKeySequence::Cut,
                                                 QKeySequence::Paste,
                                                 QKeySequence::Undo,
                                                 QKeySequence::Redo,
                                                 QKeySequence::SelectAll,
                                                 QKeySequence::MoveToNextWord,
                                                 QKeySequence::MoveToPreviousWord,
                                                 QKeySequence::SelectNextWord,
                                                 QKeySequence::SelectPreviousWord,
                                                 QKeySequence::MoveToStartOfLine,
                                                 QKeySequence::MoveToEndOfLine,
                                                 QKeySequence::SelectStartOfLine,
                                                 QKeySequence::SelectEndOfLine,
                                                 QKeySequence::MoveToStartOfDocument,
                                                 QKeySequence::MoveToEndOfDocument,
                                                 QKeySequence::SelectStartOfDocument,
                                                 QKeySequence::SelectEndOfDocument,
                                                 QKeySequence::DeleteStartOfWord,
                                                 QKeySequence::DeleteEndOfWord};

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

const Motion Motions[] = {
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

// The motion a key asks for, if any; extend tells whether it selects on the way.
const Motion* motionOf(const QKeyEvent& key, bool* extend)
{
    for (const Motion& m : Motions) {
        *extend = key.matches(m.select);
        if (*extend || key.matches(m.move))
            return &m;
    }
    return nullptr;
}

// A key that types its text: characters that are no C0 controls, with no
// Ctrl or Meta held.
bool types(const QKeyEvent& key)
{
    const QString typed = key.text();
    return !typed.isEmpty() &&
           std::none_of(typed.cbegin(), typed.cend(), [](QChar c) { return CellText::isC0(c.unicode()); }) &&
           !(key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

// Whether a box takes a key before the window's shortcuts see it: one of its
// editing keys, or typing without Alt (Alt+letter belongs to the captions'
// mnemonics).
bool overridesShortcut(const QKeyEvent& key)
{
    const bool edit = std::any_of(std::begin(EditingKeys), std::end(EditingKeys),
                                  [&key](QKeySequence::StandardKey k) { return key.matches(k); });
    return edit || (types(key) && !(key.modifiers() & Qt::AltModifier));
}

// Whether Paste has anything to take, without reading the clipboard's text
// (it may hold megabytes).
bool clipboardHasText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText();
}

// A word move or a double click in a multi-line box looks this far at most:
// a line of gigabytes may hold no break between words.
constexpr qsizetype WordLimit = 64 * 1024;
// A selection dragged past the edge moves this often, the further out the faster.
constexpr int AutoScrollMs = 50;
// How many characters the input method sees on either side of the caret.
constexpr qsizetype SurroundingText = 512;

} // namespace

TextBox::TextBox(QWidget* parent, bool multiLine) : QAbstractScrollArea(parent), m_multiLine(multiLine)
{
    AccessibleTextBox::install();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_MacShowFocusRect);
    viewport()->setCursor(Qt::IBeamCursor);
    updateMetrics();
}

void TextBox::caretMoved()
{
    AccessibleTextBox::caretMoved(this);
}

void TextBox::guarded(const char*, const std::function<void()>& work)
{
    work();
}

// ---- caret and selection -------------------------------------------------

QString TextBox::selectedText() const
{
    return textMid(selFrom(), selTo() - selFrom());
}

void TextBox::select(qsizetype anchor, qsizetype caret, bool follow)
{
    const qsizetype size = textSize();
    m_anchor = std::clamp<qsizetype>(anchor, 0, size);
    m_caret = std::clamp<qsizetype>(caret, 0, size);
    m_goalColumn = -1;
    if (follow)
        ensureVisible(m_caret);
    restartBlink();
    viewport()->update();
    caretMoved();
}

void TextBox::moveCaret(qsizetype pos, bool keepAnchor)
{
    select(keepAnchor ? m_anchor : pos, pos);
}

// As in other multi-line boxes Select All keeps the view where it is; a
// one-line box shows the end, where the caret goes.
void TextBox::selectAll()
{
    select(0, textSize(), !m_multiLine);
}

void TextBox::scrollToPosition(qsizetype pos)
{
    ensureVisible(std::clamp<qsizetype>(pos, 0, textSize()));
}

// One step back; in a multi-line box a CR LF is one step.
qsizetype TextBox::stepLeft(qsizetype pos) const
{
    if (pos <= 0)
        return 0;
    if (m_multiLine && pos >= 2 && charAt(pos - 1) == u'\n' && charAt(pos - 2) == u'\r')
        return pos - 2;
    return pos - 1;
}

qsizetype TextBox::stepRight(qsizetype pos) const
{
    const qsizetype size = textSize();
    if (pos >= size)
        return size;
    if (m_multiLine && pos + 1 < size && charAt(pos) == u'\r' && charAt(pos + 1) == u'\n')
        return pos + 2;
    return pos + 1;
}

qsizetype TextBox::wordReach() const
{
    return m_multiLine ? WordLimit : textSize();
}

// Words end at the line: from its start, a word back is a step back.
qsizetype TextBox::wordStart(qsizetype pos) const
{
    const qsizetype start = lineSpan(lineOf(pos)).first;
    if (pos <= start)
        return stepLeft(pos);
    const qsizetype limit = pos - std::min(wordReach(), pos - start);
    while (pos > limit && !CellText::isWordChar(charAt(pos - 1)))
        --pos;
    while (pos > limit && CellText::isWordChar(charAt(pos - 1)))
        --pos;
    return pos;
}

qsizetype TextBox::wordEnd(qsizetype pos) const
{
    const qsizetype end = lineSpan(lineOf(pos)).second;
    if (pos >= end)
        return stepRight(pos);
    const qsizetype limit = pos + std::min(wordReach(), end - pos);
    while (pos < limit && CellText::isWordChar(charAt(pos)))
        ++pos;
    while (pos < limit && !CellText::isWordChar(charAt(pos)))
        ++pos;
    return pos;
}

// The column of a position within its line; a position inside a line break
// counts as the end of the line's text.
qsizetype TextBox::columnOf(qsizetype pos) const
{
    const Range line = lineSpan(lineOf(pos));
    return std::clamp(pos, line.first, line.second) - line.first;
}

// The column vertical moves keep: the caret's when the first of them began.
qsizetype TextBox::goalColumn() const
{
    return m_goalColumn >= 0 ? m_goalColumn : columnOf(m_caret);
}

// ---- editing -------------------------------------------------------------

void TextBox::replace(qsizetype from, qsizetype to, const QString& with, bool typing)
{
    if (from == to && with.isEmpty())
        return;
    const QString removed = accessibleText(from, to - from);
    const Selection before{m_anchor, m_caret};
    // The caret goes after the new text first: text the box drops meanwhile moves it along.
    m_caret = m_anchor = from + with.size();
    try {
        replaceText(from, to, with, typing, before);
    } catch (...) {
        m_anchor = before.anchor;
        m_caret = before.caret;
        throw;
    }
    textReplaced(from, removed, with, {m_anchor, m_caret});
}

void TextBox::textReplaced(qsizetype from, QStringView removed, QStringView inserted, Selection after)
{
    relayout();
    AccessibleTextBox::textChanged(this, from, removed, inserted);
    select(after.anchor, after.caret);
}

void TextBox::removeSelectionOr(int direction, bool word)
{
    if (hasSelection())
        replace(selFrom(), selTo(), QString());
    else if (direction < 0)
        replace(word ? wordStart(m_caret) : stepLeft(m_caret), m_caret, QString());
    else
        replace(m_caret, word ? wordEnd(m_caret) : stepRight(m_caret), QString());
}

void TextBox::removeSelection()
{
    if (hasSelection())
        guarded("the selection was not deleted.", [this] { removeSelectionOr(1); });
}

QString TextBox::accessibleText(qsizetype from, qsizetype count) const
{
    if (!QAccessible::isActive())
        return QString();
    return textMid(from, std::min(count, AccessibleTextBox::TextLimit));
}

// ---- clipboard -----------------------------------------------------------

// Puts the selection on the clipboard unless it is too large for one; says
// so then, and returns whether it was copied.
bool TextBox::copySelection(bool cut)
{
    const qsizetype size = selTo() - selFrom();
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

void TextBox::copy()
{
    if (hasSelection())
        copySelection(false);
}

void TextBox::cut()
{
    if (hasSelection() && copySelection(true))
        guarded("the selection was copied but not cut.", [this] { removeSelectionOr(1); });
}

void TextBox::paste()
{
    guarded("nothing was pasted.", [this] { pasteFrom(QClipboard::Clipboard); });
}

// Pasted text goes in exactly as it stands: tabs and line breaks included,
// since they are bytes the user may mean to send.
void TextBox::pasteFrom(int mode)
{
    const QString text = QGuiApplication::clipboard()->text(QClipboard::Mode(mode));
    if (!text.isEmpty())
        replace(selFrom(), selTo(), text);
}

// A mouse selection is offered to other programs as X11's primary selection,
// as far as a clipboard sensibly holds.
void TextBox::fillPrimarySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection() && selTo() - selFrom() <= m_copyLimit)
        guarded("the selection clipboard was not set.",
                [this, clipboard] { clipboard->setText(selectedText(), QClipboard::Selection); });
}

// ---- geometry --------------------------------------------------------------

// Rows of a multi-line box are a line spacing apart; a one-line box's row is
// the font's height.
void TextBox::updateMetrics()
{
    m_grid = CellText::measure(font());
    const QFontMetricsF metrics(font());
    m_lineHeight =
        m_multiLine ? std::max(1, QFontMetrics(font()).lineSpacing()) : int(std::ceil(metrics.height()));
    m_baseline = m_multiLine ? qRound(m_grid.ascent) : int(std::ceil(m_grid.ascent));
}

int TextBox::visibleRows() const
{
    return std::max(1, textArea().height() / m_lineHeight);
}

int TextBox::visibleColumns() const
{
    return std::max(1, int(textArea().width() / m_grid.cellWidth));
}

QRect TextBox::cellRect(qsizetype pos) const
{
    const QRect area = textArea();
    const qreal x = area.left() + qreal(columnOf(pos) - m_leftColumn) * m_grid.cellWidth;
    const qreal y = area.top() + qreal(lineOf(pos) - m_topLine) * m_lineHeight;
    return QRect(int(std::floor(std::clamp<qreal>(x, -1e6, 1e6))), int(std::clamp<qreal>(y, -1e6, 1e6)),
                 int(std::ceil(m_grid.cellWidth)), m_lineHeight);
}

QRect TextBox::caretRect() const
{
    QRect rect = cellRect(m_caret);
    rect.setWidth(std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this)));
    return rect;
}

qsizetype TextBox::positionAt(const QPoint& viewportPos) const
{
    const QRect area = textArea();
    const int y = viewportPos.y() - area.top();
    const qsizetype row = y >= 0 ? y / m_lineHeight : -((-y + m_lineHeight - 1) / m_lineHeight);
    const Range line = lineSpan(std::clamp<qsizetype>(m_topLine + row, 0, lineCount() - 1));
    const qsizetype column =
        m_leftColumn + qsizetype(std::lround((viewportPos.x() - area.left()) / m_grid.cellWidth));
    return line.first + std::clamp<qsizetype>(column, 0, line.second - line.first);
}

// ---- painting ------------------------------------------------------------

QPalette::ColorGroup TextBox::colorGroup() const
{
    return !isEnabled() ? QPalette::Disabled : (hasFocus() ? QPalette::Active : QPalette::Inactive);
}

void TextBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    paintFrame(painter);
    painter.setFont(font());
    const QRect area = textArea();
    const QRect dirty = event->rect();
    for (qsizetype line = m_topLine; line < lineCount(); ++line) {
        const int y = area.top() + int(line - m_topLine) * m_lineHeight;
        if (y > dirty.bottom())
            break;
        if (y + m_lineHeight >= dirty.top())
            drawLine(painter, line, y);
    }
    if (hasFocus() && isEnabled() && m_caretShown)
        painter.fillRect(caretRect(), palette().color(colorGroup(), QPalette::Text));
}

void TextBox::drawLine(QPainter& painter, qsizetype line, int y) const
{
    const auto [start, end] = lineSpan(line);
    const qsizetype from = start + std::min(m_leftColumn, end - start);
    const qsizetype to = start + std::min(m_leftColumn + visibleColumns() + 1, end - start);
    const qreal left = textArea().left();
    auto cellX = [&](qsizetype pos) { return left + qreal(pos - start - m_leftColumn) * m_grid.cellWidth; };
    const QPalette& pal = palette();
    const QPalette::ColorGroup group = colorGroup();

    // The selection, with one more cell when it takes in the line break.
    if (hasSelection()) {
        const qsizetype a = std::max(selFrom(), from);
        qsizetype b = std::min(selTo(), to);
        if (selTo() > end && line < lineCount() - 1 && to == end)
            b = end + 1;
        if (a < b)
            painter.fillRect(QRectF(cellX(a), y, (b - a) * m_grid.cellWidth, m_lineHeight),
                             pal.color(group, QPalette::Highlight));
    }

    // The cells in view and the one after them, for a surrogate pair cut by
    // the right edge; the one before is read only for a pair cut by the left.
    const QString cells = textMid(from, std::min(to + 1, end) - from);
    CellText::Row row{QStringView(cells).first(to - from), from, 0, 0, selFrom(), selTo()};
    if (from > start && from < to && cells.at(0).isLowSurrogate())
        row.before = charAt(from - 1);
    if (cells.size() > to - from)
        row.after = cells.back().unicode();
    CellText::drawRow(painter, m_grid, row, QPointF(cellX(from), y), m_lineHeight, y + m_baseline,
                      pal.color(group, QPalette::Text), pal.color(group, QPalette::HighlightedText),
                      isEnabled());
}

void TextBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

// ---- keyboard ------------------------------------------------------------

bool TextBox::event(QEvent* event)
{
    // Keep the window's shortcuts from taking the editing keys.
    if (event->type() == QEvent::ShortcutOverride && isEnabled()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (overridesShortcut(*key)) {
            key->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TextBox::keyPressEvent(QKeyEvent* event)
{
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    guarded("the key was not taken.", [this, event] { handleKey(event); });
}

void TextBox::handleKey(QKeyEvent* event)
{
    if (event == QKeySequence::SelectAll)
        return selectAll();
    if (event == QKeySequence::Copy)
        return copy();
    if (event == QKeySequence::Cut)
        return cut();
    if (event == QKeySequence::Paste)
        return paste();
    if (event == QKeySequence::Undo)
        return undo();
    if (editKey(event))
        return;

    bool extend = false;
    if (const Motion* m = motionOf(*event, &extend)) {
        const int dir = m->direction;
        qsizetype target = m_caret;
        switch (m->step) {
        case Step::Char:
            if (!extend && hasSelection())
                target = dir < 0 ? selFrom() : selTo();
            else
                target = dir < 0 ? stepLeft(m_caret) : stepRight(m_caret);
            break;
        case Step::Word:
            target = dir < 0 ? wordStart(m_caret) : wordEnd(m_caret);
            break;
        case Step::LineEdge: {
            const Range line = lineSpan(lineOf(m_caret));
            target = dir < 0 ? line.first : line.second;
            break;
        }
        case Step::Line:
        case Step::Page: {
            const qsizetype goal = goalColumn();
            target = verticalTarget(dir, m->step == Step::Page);
            if (target < 0)
                return event->ignore();
            moveCaret(target, extend);
            m_goalColumn = goal;
            return;
        }
        case Step::Document:
            target = dir < 0 ? 0 : textSize();
            break;
        }
        return moveCaret(target, extend);
    }

    const int key = event->key();
    const bool plain = !(event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier));
    if (key == Qt::Key_Backspace && plain)
        removeSelectionOr(-1);
    else if (key == Qt::Key_Delete && plain)
        removeSelectionOr(1);
    else if (types(*event))
        replace(selFrom(), selTo(), event->text(), true);
    else
        event->ignore();
}

void TextBox::inputMethodEvent(QInputMethodEvent* event)
{
    if (!event->commitString().isEmpty() || event->replacementLength() > 0)
        guarded("the text was not taken.", [this, event] {
            qsizetype from = selFrom();
            qsizetype to = selTo();
            if (event->replacementLength() > 0 && !hasSelection()) {
                from = std::clamp<qsizetype>(m_caret + event->replacementStart(), 0, textSize());
                to = std::clamp<qsizetype>(from + event->replacementLength(), from, textSize());
            }
            replace(from, to, event->commitString(), true);
        });
    event->accept();
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // The input method sees a window of the text around the caret, not megabytes.
    const qsizetype windowStart = std::max<qsizetype>(0, m_caret - SurroundingText);
    switch (query) {
    case Qt::ImEnabled:
        return isEnabled();
    case Qt::ImCursorRectangle:
        return caretRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImSurroundingText:
        return textMid(windowStart, 2 * SurroundingText);
    case Qt::ImCursorPosition:
        return int(m_caret - windowStart);
    case Qt::ImAnchorPosition:
        return int(std::clamp<qsizetype>(m_anchor - windowStart, 0, 2 * SurroundingText));
    case Qt::ImCurrentSelection:
        return selTo() - selFrom() <= 2 * SurroundingText ? selectedText() : QString();
    case Qt::ImMaximumTextLength:
        return QVariant(); // no limit
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- mouse ---------------------------------------------------------------

void TextBox::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        // X11's middle-click paste puts the primary selection where it is dropped.
        guarded("nothing was pasted.", [this, at] {
            moveCaret(positionAt(at), false);
            pasteFrom(QClipboard::Selection);
        });
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    guarded("the caret was not moved.", [this, at, extend] { moveCaret(positionAt(at), extend); });
}

void TextBox::mouseMoveEvent(QMouseEvent* event)
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

void TextBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_autoScroll.stop();
    fillPrimarySelection();
}

void TextBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    guarded("the word was not selected.", [this, at] {
        const qsizetype pos = positionAt(at);
        const qsizetype reach = wordReach();
        qsizetype from = pos;
        qsizetype to = pos;
        while (from > 0 && pos - from < reach && CellText::isWordChar(charAt(from - 1)))
            --from;
        while (to < textSize() && to - pos < reach && CellText::isWordChar(charAt(to)))
            ++to;
        select(from, to);
    });
    fillPrimarySelection();
}

QMenu* TextBox::createContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    openMenu(menu);
    const bool selected = hasSelection();
    menu->addSeparator();
    menu->addAction(tr("Cu&t"), this, &TextBox::cut)->setEnabled(selected);
    menu->addAction(tr("&Copy"), this, &TextBox::copy)->setEnabled(selected);
    menu->addAction(tr("&Paste"), this, &TextBox::paste)->setEnabled(clipboardHasText());
    menu->addAction(tr("&Delete"), this, &TextBox::removeSelection)->setEnabled(selected);
    menu->addSeparator();
    menu->addAction(tr("Select &All"), this, &TextBox::selectAll)->setEnabled(textSize() > 0);
    const QList<QAction*> own = actions();
    if (!own.isEmpty()) {
        menu->addSeparator();
        menu->addActions(own);
    }
    return menu;
}

void TextBox::contextMenuEvent(QContextMenuEvent* event)
{
    const std::unique_ptr<QMenu> menu(createContextMenu(this));
    menu->exec(event->globalPos());
}

// ---- focus, state and caret blink ----------------------------------------

void TextBox::restartBlink()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
}

void TextBox::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    // As in any line box: tabbing in selects the whole line.
    const Qt::FocusReason reason = event->reason();
    if (!m_multiLine && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                         reason == Qt::ShortcutFocusReason))
        selectAll();
    restartBlink();
    viewport()->update();
}

void TextBox::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    m_autoScroll.stop();
    m_dragging = false;
    viewport()->update();
}

void TextBox::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_autoScroll.timerId()) {
        guarded("the selection was not changed.", [this] { moveCaret(positionAt(m_dragPos), true); });
        return;
    }
    if (event->timerId() == m_blink.timerId()) {
        m_caretShown = !m_caretShown;
        viewport()->update(caretRect());
        return;
    }
    QAbstractScrollArea::timerEvent(event);
}

void TextBox::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
        updateGeometry();
        relayout();
    }
    viewport()->update();
}
