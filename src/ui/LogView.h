#pragma once

#include "ui/CaretBlink.h"
#include "ui/CellText.h"

#include "log/LogStore.h"

#include <QAbstractScrollArea>
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
// last edit typed, pasted, cut or deleted, however large, until the program
// appends or clears (the store keeps what the edit took away).
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

class LogView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    // Selections larger than this are not copied: no clipboard holds them sensibly.
    static constexpr qsizetype CopyLimitChars = qsizetype(256) << 20;

    QString text() const { return m_store->mid(0, m_store->size()); }
    qsizetype length() const { return m_store->size(); }
    void setText(const QString& text);
    void append(const QString& text);
    void clear();

    qsizetype lastIndexOf(const QString& needle) const;

    qsizetype caretPosition() const { return m_caret; }
    void setCaretPosition(qsizetype pos);

    // Selection as [selectionStart, selectionEnd); empty when both are the caret.
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;
    void setSelection(qsizetype anchor, qsizetype caret);
    bool hasSelection() const { return m_anchor != m_caret; }

    // Rows and the widest row, as the scroll bars see them.
    qsizetype lineCount() const { return m_store->lineCount(); }
    qsizetype longestLineLength() const { return m_store->longestLine(); }
    // The first line and column in view.
    qsizetype topLine() const { return m_topLine; }
    qsizetype leftColumn() const { return m_leftColumn; }

    LogStore& store() { return *m_store; }
    const LogStore& store() const { return *m_store; }
    void setCopyLimit(qsizetype chars) { m_copyLimit = chars; }

    // The text position under a point of the viewport.
    qsizetype positionAt(const QPoint& viewportPos) const;
    // The caret's cell in viewport coordinates.
    QRect caretRect() const;
    // The cell of a position, in viewport coordinates.
    QRect cellRect(qsizetype pos) const;
    // Scrolls as little as needed to show pos, leaving the caret where it is.
    void scrollToPosition(qsizetype pos);

    // The context menu: the editing entries, then the actions added to the
    // view (addAction) in their order. The caller owns it.
    QMenu* createContextMenu(QWidget* parent);

    QSize sizeHint() const override;

signals:
    // Something the user should read in the log: a failure, a refused copy.
    void notice(const QString& text);

public slots:
    void copy();
    void cut();
    void paste();
    void selectAll();
    // Deletes the selection, as the Delete key does.
    void removeSelection();
    // Takes back the last edit; the caret and selection are as before it.
    void undo();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent* event) override;

private:
    template <typename Work> void guarded(const char* undone, Work&& work);
    void report(const std::exception* failure, const char* undone);
    bool copySelection(bool cut);
    void fillPrimarySelection();
    QString accessibleText(qsizetype from, qsizetype count) const;
    void frontReplaced(qsizetype count, qsizetype newCount, qsizetype lines, qsizetype newLines);

    qsizetype lineStart(qsizetype line) const { return m_store->lineStart(line); }
    qsizetype lineOf(qsizetype pos) const { return m_store->lineOf(pos); }

    void handleKey(QKeyEvent* event);
    // typing: a typed key, which runs on from the keys typed before it as one step to undo.
    void replaceRange(qsizetype from, qsizetype to, const QString& with, bool typing = false);
    // Deletes the selection, or else the character before (-1) or after (1) the caret.
    void removeSelectionOr(int direction);
    void moveCaret(qsizetype pos, bool keepAnchor);
    qsizetype columnOf(qsizetype pos) const;
    qsizetype goalColumn() const;
    qsizetype verticalTarget(qsizetype lines) const;
    qsizetype wordStart(qsizetype pos) const;
    qsizetype wordEnd(qsizetype pos) const;
    qsizetype stepLeft(qsizetype pos) const;
    qsizetype stepRight(qsizetype pos) const;

    void updateMetrics();
    void updateScrollBars();
    void scheduleScrollBars();
    void setBar(QScrollBar* bar, const ScrollScale& scale, int visible, qsizetype place);
    void scrollTo(QScrollBar* bar, const ScrollScale& scale, qsizetype& place, qsizetype value);
    void setTopLine(qsizetype line);
    void setLeftColumn(qsizetype column);
    void holdPaintUntilNextFrame();
    void ensureCaretVisible();
    void ensureVisible(qsizetype pos);
    void caretMoved();
    void tellScreenReader();
    int visibleRows() const;
    int visibleColumns() const;
    void drawRow(QPainter& painter, qsizetype line, int y) const;

    LogStore* m_store = nullptr;
    qsizetype m_copyLimit = CopyLimitChars;

    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    // Where they were before the last edit, for its undo.
    qsizetype m_undoCaret = 0;
    qsizetype m_undoAnchor = 0;
    qsizetype m_goalColumn = -1;
    bool m_dragging = false;
    bool m_scrollBarsPending = false;
    bool m_paintFailed = false;
    // The view's place, exact; the scroll bars show it in their own steps.
    qsizetype m_topLine = 0;
    qsizetype m_leftColumn = 0;
    ScrollScale m_vScale;
    ScrollScale m_hScale;
    bool m_settingBars = false;
    CaretBlink m_blink;
    // Scrolls while a selection is dragged past the edge.
    QBasicTimer m_autoScroll;
    QPoint m_dragPos;
    // What a screen reader has yet to hear of: text appended from a place on,
    // and a caret move. Told together a few times a second at most.
    QBasicTimer m_screenReaderNews;
    qsizetype m_appendedFrom = -1;
    bool m_caretNews = false;
    // Program appends paint at most once a frame; between frames they only store.
    QElapsedTimer m_lastPaint;
    QBasicTimer m_frame;

    CellText::Grid m_grid;
    int m_lineHeight = 14;
};
