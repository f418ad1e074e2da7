#include "ui/LineBox.h"

#include "ui/AccessibleText.h"
#include "ui/CellText.h"
#include "ui/Editing.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Room between the frame and the text, as QLineEdit leaves it.
constexpr int HorizontalMargin = 2;
// Edits kept for undo, counted in characters removed and inserted; the
// oldest go first, so a few pasted megabytes cannot pile up without end.
constexpr qsizetype UndoBudget = 16 * 1024 * 1024;
// How many characters the input method sees on either side of the caret.
constexpr qsizetype SurroundingText = 512;
// How often a drag held beyond an edge moves the text under the mouse.
constexpr int AutoScrollMs = 50;

// The editing keys the window's shortcuts must not take from the box.
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
                                                 QKeySequence::DeleteStartOfWord,
                                                 QKeySequence::DeleteEndOfWord};

} // namespace

LineBox::LineBox(QWidget* parent) : QWidget(parent)
{
    AccessibleTextBox::install();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_KeyCompression);
    setAttribute(Qt::WA_MacShowFocusRect);
    setCursor(Qt::IBeamCursor);
    setBackgroundRole(QPalette::Base);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    updateMetrics();
}

LineBox::~LineBox() = default;

// ---- text, caret and selection -------------------------------------------

void LineBox::setText(const QString& text)
{
    AccessibleTextBox::textChanged(this, 0, m_text, text);
    m_text = text;
    m_undo.clear();
    m_redo.clear();
    m_undoChars = 0;
    m_caret = m_anchor = m_text.size();
    caretChanged();
    emit textChanged();
}

void LineBox::setCursorPosition(qsizetype pos)
{
    moveCaret(pos, false);
}

void LineBox::setSelection(qsizetype start, qsizetype length)
{
    const qsizetype size = m_text.size();
    m_anchor = std::clamp<qsizetype>(start, 0, size);
    m_caret = std::clamp<qsizetype>(start + length, 0, size);
    caretChanged();
}

qsizetype LineBox::selectionStart() const
{
    return hasSelectedText() ? std::min(m_anchor, m_caret) : -1;
}

qsizetype LineBox::selectionEnd() const
{
    return std::max(m_anchor, m_caret);
}

QString LineBox::selectedText() const
{
    const qsizetype from = std::min(m_anchor, m_caret);
    return m_text.mid(from, selectionEnd() - from);
}

void LineBox::selectAll()
{
    setSelection(0, m_text.size());
}

void LineBox::moveCaret(qsizetype pos, bool keepAnchor)
{
    const qsizetype anchor = keepAnchor ? m_anchor : std::clamp<qsizetype>(pos, 0, m_text.size());
    setSelection(anchor, pos - anchor);
}

// Whatever moved the caret: keep it in sight and blinking, and tell screen readers.
void LineBox::caretChanged()
{
    ensureCaretVisible();
    m_blink.restart(this, hasFocus());
    update();
    AccessibleTextBox::caretMoved(this);
}

qsizetype LineBox::wordLeft(qsizetype pos) const
{
    while (pos > 0 && !CellText::isWordChar(m_text.at(pos - 1).unicode()))
        --pos;
    while (pos > 0 && CellText::isWordChar(m_text.at(pos - 1).unicode()))
        --pos;
    return pos;
}

qsizetype LineBox::wordRight(qsizetype pos) const
{
    const qsizetype size = m_text.size();
    while (pos < size && CellText::isWordChar(m_text.at(pos).unicode()))
        ++pos;
    while (pos < size && !CellText::isWordChar(m_text.at(pos).unicode()))
        ++pos;
    return pos;
}

// ---- editing ---------------------------------------------------------------

void LineBox::replace(qsizetype from, qsizetype to, const QString& with, bool typing)
{
    if (from == to && with.isEmpty())
        return;
    remember({from, m_text.mid(from, to - from), with, m_caret, m_anchor, typing});
    AccessibleTextBox::textChanged(this, from, QStringView(m_text).mid(from, to - from), with);
    m_text.replace(from, to - from, with);
    m_caret = m_anchor = from + with.size();
    caretChanged();
    emit textChanged();
}

void LineBox::insert(const QString& with, bool typing)
{
    replace(std::min(m_anchor, m_caret), selectionEnd(), with, typing);
}

void LineBox::remember(Edit edit)
{
    m_redo.clear();
    // Typing runs on from the last typed character as one step to undo.
    if (edit.typing && edit.removed.isEmpty() && !m_undo.empty()) {
        Edit& last = m_undo.back();
        if (last.typing && last.from + last.inserted.size() == edit.from) {
            last.inserted += edit.inserted;
            m_undoChars += edit.inserted.size();
            return;
        }
    }
    m_undoChars += edit.removed.size() + edit.inserted.size();
    m_undo.push_back(std::move(edit));
    while (m_undoChars > UndoBudget && m_undo.size() > 1) {
        m_undoChars -= m_undo.front().removed.size() + m_undo.front().inserted.size();
        m_undo.erase(m_undo.begin());
    }
}

void LineBox::undo()
{
    if (m_undo.empty())
        return;
    Edit edit = std::move(m_undo.back());
    m_undo.pop_back();
    m_undoChars -= edit.removed.size() + edit.inserted.size();
    AccessibleTextBox::textChanged(this, edit.from, edit.inserted, edit.removed);
    m_text.replace(edit.from, edit.inserted.size(), edit.removed);
    m_caret = edit.caretBefore;
    m_anchor = edit.anchorBefore;
    m_redo.push_back(std::move(edit));
    caretChanged();
    emit textChanged();
}

void LineBox::redo()
{
    if (m_redo.empty())
        return;
    Edit edit = std::move(m_redo.back());
    m_redo.pop_back();
    AccessibleTextBox::textChanged(this, edit.from, edit.removed, edit.inserted);
    m_text.replace(edit.from, edit.removed.size(), edit.inserted);
    m_caret = m_anchor = edit.from + edit.inserted.size();
    edit.typing = false;
    m_undoChars += edit.removed.size() + edit.inserted.size();
    m_undo.push_back(std::move(edit));
    caretChanged();
    emit textChanged();
}

void LineBox::deleteBackOrForward(int direction, bool word)
{
    if (hasSelectedText()) {
        insert(QString());
        return;
    }
    if (direction < 0)
        replace(word ? wordLeft(m_caret) : std::max<qsizetype>(0, m_caret - 1), m_caret, QString());
    else
        replace(m_caret, word ? wordRight(m_caret) : std::min(m_text.size(), m_caret + 1), QString());
}

void LineBox::copy() const
{
    if (hasSelectedText())
        QGuiApplication::clipboard()->setText(selectedText());
}

void LineBox::cut()
{
    if (!hasSelectedText())
        return;
    copy();
    insert(QString());
}

void LineBox::paste()
{
    pasteFrom(QClipboard::Clipboard);
}

// Pasted text goes in exactly as it stands: tabs and line breaks included,
// since they are bytes the user may mean to send.
void LineBox::pasteFrom(int mode)
{
    const QString pasted = QGuiApplication::clipboard()->text(QClipboard::Mode(mode));
    if (!pasted.isEmpty())
        insert(pasted);
}

// ---- geometry and painting -----------------------------------------------

void LineBox::updateMetrics()
{
    m_grid = CellText::measure(font());
    m_lineHeight = int(std::ceil(QFontMetricsF(font()).height()));
}

void LineBox::initStyleOption(QStyleOptionFrame* option) const
{
    option->initFrom(this);
    option->rect = rect();
    option->lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, option, this);
    option->midLineWidth = 0;
    option->state |= QStyle::State_Sunken;
    option->features = QStyleOptionFrame::None;
}

QRect LineBox::contentsRect() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, this)
        .adjusted(HorizontalMargin, 0, -HorizontalMargin, 0);
}

int LineBox::visibleColumns() const
{
    return std::max(1, int(contentsRect().width() / m_grid.cellWidth));
}

qsizetype LineBox::positionAt(int x) const
{
    const qreal column = (x - contentsRect().left()) / m_grid.cellWidth;
    return std::clamp<qsizetype>(m_scroll + qsizetype(std::lround(column)), 0, m_text.size());
}

QRect LineBox::caretRect() const
{
    const QRect area = contentsRect();
    const int width = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    const qreal x = area.left() + qreal(m_caret - m_scroll) * m_grid.cellWidth;
    const int top = area.top() + (area.height() - m_lineHeight) / 2;
    return QRect(int(std::floor(std::clamp<qreal>(x, -1e6, 1e6))), top, width, m_lineHeight);
}

void LineBox::ensureCaretVisible()
{
    const qsizetype columns = visibleColumns();
    if (m_caret < m_scroll)
        m_scroll = m_caret;
    else if (m_caret >= m_scroll + columns)
        m_scroll = m_caret - columns + 1;
    // No empty room after the end while text stands before the first column.
    m_scroll = std::clamp<qsizetype>(m_scroll, 0, std::max<qsizetype>(0, m_text.size() - columns + 1));
}

QSize LineBox::sizeHint() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QSize text(int(20 * m_grid.cellWidth) + 2 * HorizontalMargin, m_lineHeight + 2);
    const int frame = 2 * option.lineWidth;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, text + QSize(frame, frame), this);
}

QSize LineBox::minimumSizeHint() const
{
    return QSize(int(m_grid.cellWidth) + 2 * HorizontalMargin, m_lineHeight + 2);
}

void LineBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);

    const QRect area = contentsRect();
    painter.setClipRect(area);
    painter.setFont(font());
    const QPalette::ColorGroup group =
        !isEnabled() ? QPalette::Disabled : (hasFocus() ? QPalette::Active : QPalette::Inactive);
    const QPalette& pal = palette();
    const int top = area.top() + (area.height() - m_lineHeight) / 2;
    const qreal baseline = top + std::ceil(m_grid.ascent);
    const qsizetype from = std::min(m_scroll, m_text.size());
    const qsizetype to = std::min(m_text.size(), m_scroll + visibleColumns() + 1);
    auto cellX = [&](qsizetype pos) { return area.left() + qreal(pos - m_scroll) * m_grid.cellWidth; };

    const qsizetype selFrom = std::max(std::min(m_anchor, m_caret), from);
    const qsizetype selTo = std::min(selectionEnd(), to);
    if (selFrom < selTo)
        painter.fillRect(QRectF(cellX(selFrom), top, (selTo - selFrom) * m_grid.cellWidth, m_lineHeight),
                         pal.color(group, QPalette::Highlight));

    const QChar* data = m_text.constData();
    const CellText::Row row{QStringView(m_text).mid(from, to - from),
                            from,
                            from > 0 ? data[from - 1].unicode() : char16_t(0),
                            to < m_text.size() ? data[to].unicode() : char16_t(0),
                            selFrom,
                            selTo};
    CellText::drawRow(painter, m_grid, row, QPointF(cellX(from), top), m_lineHeight, baseline,
                      pal.color(group, QPalette::Text), pal.color(group, QPalette::HighlightedText),
                      isEnabled());

    if (hasFocus() && isEnabled() && m_blink.shown())
        painter.fillRect(caretRect(), pal.color(group, QPalette::Text));
}

void LineBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    ensureCaretVisible();
}

void LineBox::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMetrics();
        updateGeometry();
        ensureCaretVisible();
    }
    update();
}

// ---- keyboard ----------------------------------------------------------------

bool LineBox::event(QEvent* event)
{
    // Keep the window's shortcuts from taking the editing keys.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (Editing::overridesShortcut(*key, EditingKeys)) {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void LineBox::keyPressEvent(QKeyEvent* event)
{
    bool select = false;
    if (const Editing::Motion* m = Editing::motionOf(*event, &select)) {
        using Editing::Step;
        qsizetype target = m_caret;
        switch (m->step) {
        case Step::Char:
            if (!select && hasSelectedText())
                target = m->direction < 0 ? std::min(m_anchor, m_caret) : selectionEnd();
            else
                target = m_caret + m->direction;
            break;
        case Step::Word:
            target = m->direction < 0 ? wordLeft(m_caret) : wordRight(m_caret);
            break;
        case Step::LineEdge:
        case Step::Document:
            target = m->direction < 0 ? 0 : m_text.size();
            break;
        case Step::Line:
        case Step::Page:
            // Up, Down and the page keys belong to the window.
            event->ignore();
            return;
        }
        moveCaret(target, select);
        return;
    }

    if (event == QKeySequence::SelectAll)
        selectAll();
    else if (event == QKeySequence::Copy)
        copy();
    else if (event == QKeySequence::Cut)
        cut();
    else if (event == QKeySequence::Paste)
        paste();
    else if (event == QKeySequence::Undo)
        undo();
    else if (event == QKeySequence::Redo)
        redo();
    else if (event == QKeySequence::DeleteStartOfWord)
        deleteBackOrForward(-1, true);
    else if (event == QKeySequence::DeleteEndOfWord)
        deleteBackOrForward(1, true);
    else if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier))
        deleteBackOrForward(-1, false);
    else if (event == QKeySequence::Delete)
        deleteBackOrForward(1, false);
    else if (Editing::types(*event))
        insert(event->text(), true);
    else
        event->ignore(); // Enter, Escape, Up and Down belong to the window
}

void LineBox::inputMethodEvent(QInputMethodEvent* event)
{
    if (!event->commitString().isEmpty() || event->replacementLength() > 0) {
        qsizetype from = std::min(m_anchor, m_caret);
        qsizetype to = selectionEnd();
        if (event->replacementLength() > 0 && !hasSelectedText()) {
            from = std::clamp<qsizetype>(m_caret + event->replacementStart(), 0, m_text.size());
            to = std::clamp<qsizetype>(from + event->replacementLength(), from, m_text.size());
        }
        replace(from, to, event->commitString(), true);
    }
    event->accept();
}

QVariant LineBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // The input method sees a window of the text around the caret, not megabytes.
    const qsizetype windowStart = std::max<qsizetype>(0, m_caret - SurroundingText);
    switch (query) {
    case Qt::ImEnabled:
        return isEnabled();
    case Qt::ImCursorRectangle:
        return caretRect();
    case Qt::ImFont:
        return font();
    case Qt::ImSurroundingText:
        return m_text.mid(windowStart, 2 * SurroundingText);
    case Qt::ImCursorPosition:
        return int(m_caret - windowStart);
    case Qt::ImAnchorPosition:
        return int(std::clamp<qsizetype>(m_anchor - windowStart, 0, 2 * SurroundingText));
    case Qt::ImCurrentSelection:
        return selectionEnd() - std::min(m_anchor, m_caret) <= 2 * SurroundingText ? selectedText()
                                                                                   : QString();
    case Qt::ImMaximumTextLength:
        return QVariant(); // no limit
    default:
        return QWidget::inputMethodQuery(query);
    }
}

// ---- mouse -------------------------------------------------------------------

void LineBox::mousePressEvent(QMouseEvent* event)
{
    const int x = int(event->position().x());
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        // X11's middle-click paste puts the primary selection where it is dropped.
        moveCaret(positionAt(x), false);
        pasteFrom(QClipboard::Selection);
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragX = x;
    moveCaret(positionAt(x), event->modifiers() & Qt::ShiftModifier);
}

void LineBox::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    m_dragX = int(event->position().x());
    const QRect area = contentsRect();
    // Past an edge the text keeps moving under the mouse on a timer.
    if (m_dragX < area.left() || m_dragX > area.right()) {
        if (!m_autoScroll.isActive())
            m_autoScroll.start(AutoScrollMs, this);
    } else {
        m_autoScroll.stop();
    }
    moveCaret(positionAt(m_dragX), true);
}

void LineBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_autoScroll.stop();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelectedText() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LineBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const qsizetype pos = positionAt(int(event->position().x()));
    qsizetype from = pos;
    qsizetype to = pos;
    while (from > 0 && CellText::isWordChar(m_text.at(from - 1).unicode()))
        --from;
    while (to < m_text.size() && CellText::isWordChar(m_text.at(to).unicode()))
        ++to;
    setSelection(from, to - from);
}

void LineBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(tr("&Undo"), this, &LineBox::undo)->setEnabled(!m_undo.empty());
    menu.addAction(tr("&Redo"), this, &LineBox::redo)->setEnabled(!m_redo.empty());
    menu.addSeparator();
    menu.addAction(tr("Cu&t"), this, &LineBox::cut)->setEnabled(hasSelectedText());
    menu.addAction(tr("&Copy"), this, &LineBox::copy)->setEnabled(hasSelectedText());
    menu.addAction(tr("&Paste"), this, &LineBox::paste)->setEnabled(Editing::clipboardHasText());
    menu.addAction(tr("Delete"), this, [this] { insert(QString()); })->setEnabled(hasSelectedText());
    menu.addSeparator();
    menu.addAction(tr("Select All"), this, &LineBox::selectAll)->setEnabled(!m_text.isEmpty());
    menu.exec(event->globalPos());
}

// ---- focus and caret blink -----------------------------------------------------

void LineBox::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    // As in any line box: tabbing in selects the whole line.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason)
        selectAll();
    m_blink.restart(this, hasFocus());
    update();
}

void LineBox::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    m_blink.stop();
    m_autoScroll.stop();
    m_dragging = false;
    update();
}

void LineBox::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_autoScroll.timerId()) {
        const QRect area = contentsRect();
        const int beyond = m_dragX < area.left() ? m_dragX - area.left() : m_dragX - area.right();
        // The further out the mouse, the faster the text moves.
        const qsizetype step = std::max<qsizetype>(1, std::abs(beyond) / std::max(1, int(m_grid.cellWidth)));
        moveCaret(beyond < 0 ? m_caret - step : m_caret + step, true);
        return;
    }
    if (m_blink.take(event)) {
        update(caretRect());
        return;
    }
    QWidget::timerEvent(event);
}
