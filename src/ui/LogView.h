#pragma once

#include "ui/TextBox.h"

#include "log/LogStore.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QString>
#include <algorithm>

class QMenu;
class QScrollBar;

// The output log's box. It holds the log's exact text and draws only the rows
// and columns in view on a fixed-pitch grid, so appending to a log of any size,
// or to a line many megabytes long, costs only the appended text.
//
// Display rules: LF breaks a line and a CR right before it belongs to the break;
// a lone CR, the other control characters (0x00..0x1F, 0x7F, 0x80..0x9F) are
// each shown in one tinted cell as their caret-notation letter (NUL as @, CR as M,
// DEL as ?), so nothing received is hidden. Tabs are not expanded.
//
// Editing keeps to the log's CR LF convention: Enter inserts CR LF, and
// Backspace or Delete next to a CR LF removes the pair. Ctrl+Z undoes the
// last edit typed, pasted, cut or deleted, or a clear, however large, until
// the program appends (the store keeps what the edit took away).
//
// The text lives in a LogStore, which keeps old text on disk. Scroll bars
// step more than one line or column at a time where a log passes their
// range, so every line and column can still be reached. A failure while
// editing, copying or painting leaves the text as it was and is told through
// notice(); so is a selection too large to copy.
//
// As in any X11 text box, a mouse selection fills the primary selection and a
// middle click pastes it at the click; dragging a selection past the edge
// scrolls on a timer. Screen readers read the text through AccessibleTextBox.
// What it shares with the line box lies in TextBox.

// A scroll bar's int range over a range of any size: past BarLimit the bar
// moves more than one line or column a step, and its last step lands on the
// maximum.
struct ScrollScale
{
    static constexpr qint64 BarLimit = qint64(1) << 30;

    explicit ScrollScale(qint64 maximum = 0)
        : maximum(std::max<qint64>(0, maximum)), step(this->maximum / BarLimit + 1)
    {
    }
    int barMaximum() const { return int((maximum + step - 1) / step); }
    int toBar(qint64 value) const
    {
        return value >= maximum ? barMaximum() : int(std::max<qint64>(0, value) / step);
    }
    qint64 fromBar(int bar) const
    {
        return bar >= barMaximum() ? maximum : std::min(maximum, qint64(bar) * step);
    }

    qint64 maximum;
    qint64 step;
};

class LogView : public TextBox
{
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    QString text() const { return m_store->mid(0, m_store->size()); }
    qsizetype length() const { return m_store->size(); }
    void setText(const QString& text);
    // Text, or bytes taken one character each (QString or QByteArray).
    template <typename Text> void append(const Text& text);
    // Empties the log; undo brings it back until the program appends.
    void clear();

    qsizetype lastIndexOf(const QString& needle) const;

    qsizetype caretPosition() const { return m_caret; }
    void setCaretPosition(qsizetype pos);

    // Selection as [selectionStart, selectionEnd); empty when both are the caret.
    qsizetype selectionStart() const { return selFrom(); }
    qsizetype selectionEnd() const { return selTo(); }
    void setSelection(qsizetype anchor, qsizetype caret) { select(anchor, caret); }

    // Rows and the widest row, as the scroll bars see them.
    qsizetype lineCount() const override { return m_store->lineCount(); }
    qsizetype longestLineLength() const { return m_store->longestLine(); }
    // The first line and column in view.
    qsizetype topLine() const { return m_topLine; }
    qsizetype leftColumn() const { return m_leftColumn; }

    LogStore& store() { return *m_store; }
    const LogStore& store() const { return *m_store; }

    QSize sizeHint() const override;

public slots:
    void undo() override;

signals:
    // clear() emptied the log.
    void cleared();

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

    qsizetype textSize() const override { return m_store->size(); }
    char16_t charAt(qsizetype pos) const override { return m_store->at(pos); }
    QString textMid(qsizetype from, qsizetype count) const override { return m_store->mid(from, count); }
    qsizetype lineOf(qsizetype pos) const override { return m_store->lineOf(pos); }
    Range lineSpan(qsizetype line, bool withBreak) const override;
    void replaceText(qsizetype from, qsizetype to, const QString& with, bool typing,
                     Selection before) override;
    QRect textArea() const override;
    void ensureVisible(qsizetype pos) override;
    void relayout() override { updateScrollBars(); }
    void openMenu(QMenu* menu) override;
    bool editKey(QKeyEvent* event) override;
    qsizetype verticalTarget(int direction, bool page) override;
    void caretMoved() override;
    void guarded(const char* undone, const std::function<void()>& work) override;

private:
    void report(const std::exception* failure, const char* undone);
    void frontReplaced(qsizetype count, qsizetype newCount, qsizetype lines, qsizetype newLines);

    void updateScrollBars();
    void scheduleScrollBars();
    void setBar(QScrollBar* bar, const ScrollScale& scale, int visible, qsizetype place);
    void scrollTo(QScrollBar* bar, const ScrollScale& scale, qsizetype& place, qsizetype value);
    void setTopLine(qsizetype line);
    void setLeftColumn(qsizetype column);
    void holdPaintUntilNextFrame();
    void tellScreenReader();
    void tellAppended();

    LogStore* m_store = nullptr;

    // Where they were before the last edit, for its undo; and the view's
    // place before a clear.
    Selection m_undoSelection{0, 0};
    qsizetype m_undoTop = 0;
    qsizetype m_undoLeft = 0;
    bool m_scrollBarsPending = false;
    bool m_paintFailed = false;
    // The view's place is exact (m_topLine, m_leftColumn); the scroll bars show it in their own steps.
    ScrollScale m_vScale;
    ScrollScale m_hScale;
    bool m_settingBars = false;
    // What a screen reader has yet to hear of: text appended from a place on,
    // and a caret move. Told together a few times a second at most.
    QBasicTimer m_screenReaderNews;
    qsizetype m_appendedFrom = -1;
    bool m_caretNews = false;
    // Program appends paint at most once a frame; between frames they only store.
    QElapsedTimer m_lastPaint;
    QBasicTimer m_frame;
};
