#pragma once

#include <QString>

class QWidget;

// The window's one way to the log box. The handlers only ever use this, so the
// box behind it can be swapped without touching them. Positions count
// characters from 0, before the first character.
class LogBox
{
public:
    virtual ~LogBox() = default;

    virtual QWidget* widget() = 0;

    // The log's exact text: CR LF line breaks and every character kept.
    virtual QString text() const = 0;
    virtual qsizetype length() const = 0;
    virtual void setText(const QString& text) = 0;
    // Cost in proportion to the appended text, never to the log.
    virtual void append(const QString& text) = 0;
    virtual void clear() = 0;

    // Last occurrence of needle, -1 when there is none.
    virtual qsizetype lastIndexOf(const QString& needle) const = 0;

    virtual qsizetype caretPosition() const = 0;
    // Empty selection at pos (clamped to 0 .. length()), scrolled into view.
    virtual void setCaretPosition(qsizetype pos) = 0;
};
