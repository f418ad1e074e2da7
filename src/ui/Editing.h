#pragma once

#include "ui/CellText.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>

#include <algorithm>
#include <iterator>

// What the two text boxes share in editing: the keys a box keeps for itself,
// and the clipboard.
namespace Editing {

// A key that types its text: a character that is not a C0 control, with no
// Ctrl or Meta held.
inline bool types(const QKeyEvent& key)
{
    return !key.text().isEmpty() && !CellText::isC0(key.text().at(0).unicode()) &&
           !(key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

// Whether the box takes a key before the window's shortcuts see it: one of
// its editing keys, or typing without Alt (Alt+letter belongs to the
// captions' mnemonics).
template <std::size_t N>
bool overridesShortcut(const QKeyEvent& key, const QKeySequence::StandardKey (&editing)[N])
{
    const bool edit = std::any_of(std::begin(editing), std::end(editing),
                                  [&key](QKeySequence::StandardKey k) { return key.matches(k); });
    return edit || (types(key) && !(key.modifiers() & Qt::AltModifier));
}

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

inline const Motion Motions[] = {
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

// The motion a key asks for, if any; select tells whether it selects on the way.
inline const Motion* motionOf(const QKeyEvent& key, bool* select)
{
    for (const Motion& m : Motions) {
        *select = key.matches(m.select);
        if (*select || key.matches(m.move))
            return &m;
    }
    return nullptr;
}

// Whether Paste has anything to take, without reading the clipboard's text
// (it may hold megabytes).
inline bool clipboardHasText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText();
}

} // namespace Editing
