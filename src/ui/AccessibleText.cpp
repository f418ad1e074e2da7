#include "ui/AccessibleText.h"

#include "ui/TextBox.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>

namespace {

// How far a word or a sentence is looked for around an offset: a line of
// gigabytes may hold no break at all.
constexpr qsizetype WordReach = 4096;
constexpr qsizetype SentenceReach = 16384;

} // namespace

AccessibleTextBox::AccessibleTextBox(TextBox* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

TextBox* AccessibleTextBox::box() const
{
    return static_cast<TextBox*>(widget());
}

qsizetype AccessibleTextBox::size() const
{
    return box()->textSize();
}

QString AccessibleTextBox::read(qsizetype from, qsizetype count) const
{
    return box()->textMid(from, count);
}

AccessibleTextBox::Range AccessibleTextBox::lineAround(qsizetype pos) const
{
    return box()->lineSpan(box()->lineOf(pos), true);
}

void* AccessibleTextBox::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State AccessibleTextBox::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = true;
    s.selectableText = true;
    s.multiLine = box()->m_multiLine;
    return s;
}

QString AccessibleTextBox::text(QAccessible::Text type) const
{
    if (type == QAccessible::Value)
        return text(0, -1);
    return QAccessibleWidget::text(type);
}

// ---- offsets --------------------------------------------------------------

// Where offset 0 lies in the text: the start, unless the text is longer than
// an int counts; then a stretch that holds the caret.
qsizetype AccessibleTextBox::base() const
{
    const qsizetype size = this->size();
    if (size <= INT_MAX) {
        m_base = 0;
        return 0;
    }
    const qsizetype c = box()->m_caret;
    if (c < m_base || c > m_base + INT_MAX || m_base > size - INT_MAX)
        m_base = std::clamp<qsizetype>(c - INT_MAX / 2, 0, size - INT_MAX);
    return m_base;
}

int AccessibleTextBox::offsetOf(qsizetype position) const
{
    return int(std::clamp<qsizetype>(position - base(), 0, INT_MAX));
}

qsizetype AccessibleTextBox::positionOf(int offset) const
{
    return std::clamp<qsizetype>(base() + std::max(0, offset), 0, size());
}

int AccessibleTextBox::characterCount() const
{
    return int(std::min<qsizetype>(size() - base(), INT_MAX));
}

// ---- caret and selection ----------------------------------------------------

void AccessibleTextBox::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || box()->m_anchor == box()->m_caret)
        return;
    *startOffset = offsetOf(box()->selFrom());
    *endOffset = offsetOf(box()->selTo());
}

int AccessibleTextBox::selectionCount() const
{
    return box()->m_anchor == box()->m_caret ? 0 : 1;
}

void AccessibleTextBox::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void AccessibleTextBox::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        box()->select(box()->m_caret, box()->m_caret);
}

void AccessibleTextBox::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        box()->select(positionOf(startOffset), positionOf(endOffset));
}

int AccessibleTextBox::cursorPosition() const
{
    return offsetOf(box()->m_caret);
}

void AccessibleTextBox::setCursorPosition(int position)
{
    const qsizetype pos = positionOf(position);
    box()->select(pos, pos);
}

// ---- text -------------------------------------------------------------------

QString AccessibleTextBox::text(int startOffset, int endOffset) const
{
    const qsizetype from = positionOf(startOffset);
    const qsizetype to = endOffset < 0 ? size() : positionOf(endOffset);
    if (to <= from)
        return QString();
    return read(from, std::min(to - from, TextLimit));
}

QString AccessibleTextBox::textOf(Range range, int* startOffset, int* endOffset) const
{
    *startOffset = offsetOf(range.first);
    *endOffset = offsetOf(range.second);
    return read(range.first, range.second - range.first);
}

// A range cut to TextLimit around pos.
AccessibleTextBox::Range AccessibleTextBox::bounded(Range range, qsizetype pos) const
{
    if (range.second - range.first <= TextLimit)
        return range;
    const qsizetype from = std::clamp(pos - TextLimit / 2, range.first, range.second - TextLimit);
    return {from, from + TextLimit};
}

// The character, word, sentence or line that holds pos.
AccessibleTextBox::Range AccessibleTextBox::unitAt(qsizetype pos, QAccessible::TextBoundaryType type) const
{
    const qsizetype size = this->size();
    pos = std::clamp<qsizetype>(pos, 0, size);
    switch (type) {
    case QAccessible::CharBoundary: {
        if (pos >= size)
            return {size, size};
        const QString around = read(std::max<qsizetype>(0, pos - 1), 3);
        const qsizetype at = pos > 0 ? 1 : 0;
        if (at > 0 && around.at(at).isLowSurrogate() && around.at(0).isHighSurrogate())
            return {pos - 1, pos + 1};
        if (at + 1 < around.size() && around.at(at).isHighSurrogate() && around.at(at + 1).isLowSurrogate())
            return {pos, pos + 2};
        return {pos, pos + 1};
    }
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary: {
        const bool word = type == QAccessible::WordBoundary;
        const qsizetype reach = word ? WordReach : SentenceReach;
        // Words end at the line; sentences may run over several.
        Range limits = word ? lineAround(pos) : Range{0, size};
        const qsizetype from = std::max(limits.first, pos - reach);
        const qsizetype to = std::min(limits.second, pos + reach);
        const QString window = read(from, to - from);
        QTextBoundaryFinder finder(word ? QTextBoundaryFinder::Word : QTextBoundaryFinder::Sentence, window);
        finder.setPosition(pos - from);
        qsizetype end = finder.toNextBoundary();
        finder.setPosition(pos - from);
        qsizetype start = finder.isAtBoundary() ? pos - from : finder.toPreviousBoundary();
        if (start < 0)
            start = 0;
        if (end < 0)
            end = window.size();
        return {from + start, from + end};
    }
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary:
        return bounded(lineAround(pos), pos);
    case QAccessible::NoBoundary:
        return bounded({0, size}, pos);
    }
    return {pos, pos};
}

QString AccessibleTextBox::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                        int* startOffset, int* endOffset) const
{
    return textOf(unitAt(positionOf(offset), boundaryType), startOffset, endOffset);
}

QString AccessibleTextBox::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int* startOffset, int* endOffset) const
{
    const Range at = unitAt(positionOf(offset), boundaryType);
    if (at.first <= 0) {
        *startOffset = *endOffset = offsetOf(0);
        return QString();
    }
    return textOf(unitAt(at.first - 1, boundaryType), startOffset, endOffset);
}

QString AccessibleTextBox::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                           int* startOffset, int* endOffset) const
{
    const Range at = unitAt(positionOf(offset), boundaryType);
    if (at.second >= size()) {
        *startOffset = *endOffset = offsetOf(size());
        return QString();
    }
    return textOf(unitAt(at.second, boundaryType), startOffset, endOffset);
}

QString AccessibleTextBox::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = offset;
    return QString();
}

// ---- geometry ---------------------------------------------------------------

QRect AccessibleTextBox::characterRect(int offset) const
{
    const QRect cell = box()->cellRect(positionOf(offset)).translated(box()->viewport()->pos());
    return QRect(widget()->mapToGlobal(cell.topLeft()), cell.size());
}

int AccessibleTextBox::offsetAtPoint(const QPoint& point) const
{
    const QPoint local = widget()->mapFromGlobal(point);
    if (!widget()->rect().contains(local))
        return -1;
    return offsetOf(box()->positionAt(local - box()->viewport()->pos()));
}

void AccessibleTextBox::scrollToSubstring(int startIndex, int)
{
    box()->scrollToPosition(positionOf(startIndex));
}

// ---- the factory and the news ------------------------------------------------

namespace {

QAccessibleInterface* textBoxFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TextBox"))
        if (auto* box = qobject_cast<TextBox*>(object))
            return new AccessibleTextBox(box);
    return nullptr;
}

AccessibleTextBox* interfaceOf(QWidget* box)
{
    return dynamic_cast<AccessibleTextBox*>(QAccessible::queryAccessibleInterface(box));
}

} // namespace

void AccessibleTextBox::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(textBoxFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void AccessibleTextBox::caretMoved(TextBox* box)
{
    if (!QAccessible::isActive())
        return;
    AccessibleTextBox* iface = interfaceOf(box);
    if (!iface)
        return;
    QAccessibleTextCursorEvent moved(box, iface->cursorPosition());
    QAccessible::updateAccessibility(&moved);
    int start = 0;
    int end = 0;
    iface->selection(0, &start, &end);
    QAccessibleTextSelectionEvent selected(box, start, end);
    QAccessible::updateAccessibility(&selected);
}

void AccessibleTextBox::textChanged(TextBox* box, qsizetype position, QStringView removed,
                                    QStringView inserted)
{
    if (!QAccessible::isActive())
        return;
    AccessibleTextBox* iface = interfaceOf(box);
    if (!iface)
        return;
    const int offset = iface->offsetOf(position);
    if (removed.isEmpty() && inserted.isEmpty())
        return;
    const QString gone = removed.left(TextLimit).toString();
    const QString come = inserted.left(TextLimit).toString();
    if (gone.isEmpty()) {
        QAccessibleTextInsertEvent event(box, offset, come);
        QAccessible::updateAccessibility(&event);
    } else if (come.isEmpty()) {
        QAccessibleTextRemoveEvent event(box, offset, gone);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(box, offset, gone, come);
        QAccessible::updateAccessibility(&event);
    }
}
