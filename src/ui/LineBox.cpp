#include "ui/LineBox.h"

#include "log/LogUndo.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <utility>

namespace {

// Room between the frame and the text, as QLineEdit leaves it.
constexpr int HorizontalMargin = 2;
// Edits kept for undo, counted in characters removed and inserted; the
// oldest go first, so a few pasted megabytes cannot pile up without end.
constexpr qsizetype UndoBudget = 16 * 1024 * 1024;

} // namespace

LineBox::LineBox(QWidget* parent) : TextBox(parent, false)
{
    setAttribute(Qt::WA_KeyCompression);
    // The frame is the style's line edit panel, drawn with the text.
    setFrameStyle(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

LineBox::~LineBox() = default;

void LineBox::setText(const QString& text)
{
    const QString old = std::exchange(m_text, text);
    m_undo.clear();
    m_redo.clear();
    m_undoChars = 0;
    textReplaced(0, old, m_text, {m_text.size(), m_text.size()});
    emit textChanged();
}

// ---- editing and undo ----------------------------------------------------

void LineBox::replaceText(qsizetype from, qsizetype to, const QString& with, bool typing, Selection before)
{
    remember({from, m_text.mid(from, to - from), with, before, typing});
    m_text.replace(from, to - from, with);
    emit textChanged();
}

void LineBox::remember(Edit edit)
{
    m_redo.clear();
    // Keys typed in a row make one step.
    auto counts = [](const Edit& e) { return LogEdit{e.from, e.removed.size(), e.inserted.size()}; };
    if (!m_undo.empty() &&
        joinsTyping(counts(m_undo.back()), m_undo.back().typing, counts(edit), edit.typing)) {
        m_undo.back().inserted += edit.inserted;
        m_undoChars += edit.inserted.size();
        return;
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
    m_text.replace(edit.from, edit.inserted.size(), edit.removed);
    m_redo.push_back(std::move(edit));
    const Edit& done = m_redo.back();
    textReplaced(done.from, done.inserted, done.removed, done.before);
    emit textChanged();
}

void LineBox::redo()
{
    if (m_redo.empty())
        return;
    Edit edit = std::move(m_redo.back());
    m_redo.pop_back();
    m_text.replace(edit.from, edit.removed.size(), edit.inserted);
    edit.typing = false;
    m_undoChars += edit.removed.size() + edit.inserted.size();
    m_undo.push_back(std::move(edit));
    const Edit& done = m_undo.back();
    const qsizetype end = done.from + done.inserted.size();
    textReplaced(done.from, done.removed, done.inserted, {end, end});
    emit textChanged();
}

bool LineBox::editKey(QKeyEvent* event)
{
    if (event == QKeySequence::Redo)
        redo();
    else if (event == QKeySequence::DeleteStartOfWord)
        removeSelectionOr(-1, true);
    else if (event == QKeySequence::DeleteEndOfWord)
        removeSelectionOr(1, true);
    else if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) &&
             (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier)
        emit recall(event->key() == Qt::Key_Up ? -1 : 1);
    else
        return false;
    return true;
}

void LineBox::openMenu(QMenu* menu)
{
    menu->addAction(tr("&Undo"), this, &LineBox::undo)->setEnabled(!m_undo.empty());
    menu->addAction(tr("&Redo"), this, &LineBox::redo)->setEnabled(!m_redo.empty());
}

// ---- geometry and painting -------------------------------------------------

void LineBox::panelOption(QStyleOptionFrame* option) const
{
    option->initFrom(this);
    option->rect = rect();
    option->lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, option, this);
    option->midLineWidth = 0;
    option->state |= QStyle::State_Sunken;
    option->features = QStyleOptionFrame::None;
}

// Within the frame, the text's room.
QRect LineBox::textRect() const
{
    QStyleOptionFrame option;
    panelOption(&option);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &option, this)
        .adjusted(HorizontalMargin, 0, -HorizontalMargin, 0);
}

// The one row, in the middle of the text's room.
QRect LineBox::textArea() const
{
    const QRect room = textRect();
    return QRect(room.left(), room.top() + (room.height() - m_lineHeight) / 2, room.width(), m_lineHeight);
}

void LineBox::ensureVisible(qsizetype pos)
{
    const qsizetype columns = visibleColumns();
    if (pos < m_leftColumn)
        m_leftColumn = pos;
    else if (pos >= m_leftColumn + columns)
        m_leftColumn = pos - columns + 1;
    // No empty room after the end while text stands before the first column.
    m_leftColumn =
        std::clamp<qsizetype>(m_leftColumn, 0, std::max<qsizetype>(0, m_text.size() - columns + 1));
}

QSize LineBox::sizeHint() const
{
    QStyleOptionFrame option;
    panelOption(&option);
    const QSize text(int(20 * m_grid.cellWidth) + 2 * HorizontalMargin, m_lineHeight + 2);
    const int frame = 2 * option.lineWidth;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, text + QSize(frame, frame), this);
}

QSize LineBox::minimumSizeHint() const
{
    return QSize(int(m_grid.cellWidth) + 2 * HorizontalMargin, m_lineHeight + 2);
}

void LineBox::paintFrame(QPainter& painter)
{
    QStyleOptionFrame option;
    panelOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setClipRect(textRect());
}
