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

// Whether Paste has anything to take, without reading the clipboard's text
// (it may hold megabytes).
inline bool clipboardHasText()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasText();
}

} // namespace Editing
