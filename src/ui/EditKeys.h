#pragma once

#include "ui/CellText.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <algorithm>
#include <iterator>

// Which keys a text box keeps for itself.
namespace EditKeys {

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

} // namespace EditKeys
