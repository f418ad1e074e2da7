#pragma once

#include <QBasicTimer>
#include <QGuiApplication>
#include <QStyleHints>
#include <QTimerEvent>

// The caret of a text box of our own: shown at once after a move or an edit,
// then on and off at the desktop's flash time while the box has the focus.
class CaretBlink
{
public:
    bool shown() const { return m_shown; }

    void restart(QObject* box, bool focused)
    {
        m_shown = true;
        const int flash = QGuiApplication::styleHints()->cursorFlashTime();
        if (focused && flash > 0)
            m_timer.start(flash / 2, box);
        else
            m_timer.stop();
    }

    void stop() { m_timer.stop(); }

    // True when the event is the blink's own: the caret has turned on or off.
    bool take(const QTimerEvent* event)
    {
        if (event->timerId() != m_timer.timerId())
            return false;
        m_shown = !m_shown;
        return true;
    }

private:
    QBasicTimer m_timer;
    bool m_shown = true;
};
