#pragma once

#include "log/LogBox.h"
#include "log/LogText.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QString>
#include <vector>

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
// Backspace or Delete next to a CR LF removes the pair.
// A fixed-pitch font for a log box that is given none of its own.
QFont defaultLogFont();

class LogView : public QAbstractScrollArea, public LogBox
{
    Q_OBJECT

public:
    explicit LogView(QWidget* parent = nullptr);
    ~LogView() override;

    QWidget* widget() override { return this; }

    QString text() const override { return m_text.toString(); }
    qsizetype length() const override { return m_text.size(); }
    void setText(const QString& text) override;
    void append(const QString& text) override;
    void clear() override;

    qsizetype lastIndexOf(const QString& needle) const override;

    qsizetype caretPosition() const override { return m_caret; }
    void setCaretPosition(qsizetype pos) override;

    // Selection as [selectionStart, selectionEnd); empty when both are the caret.
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;
    void setSelection(qsizetype anchor, qsizetype caret);
    bool hasSelection() const { return m_anchor != m_caret; }

    // Rows and the widest row, as the scroll bars see them.
    qsizetype lineCount() const { return m_lineCount; }
    qsizetype longestLineLength() const { return m_longest; }

    // The text position under a point of the viewport.
    qsizetype positionAt(const QPoint& viewportPos) const;
    // The caret's cell in viewport coordinates.
    QRect caretRect() const;

    QSize sizeHint() const override;

public slots:
    void copy() const;
    void cut();
    void paste();
    void selectAll();

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
    // A known line start: line number and its position. The index keeps one
    // wherever a line starts at least MarkSpacing characters after the last
    // one, so any line start is at most that far from a mark before it.
    struct Mark
    {
        qsizetype line;
        qsizetype pos;
    };

    void resetIndex();
    void indexFrom(qsizetype scanFrom);
    void reindexFromLine(qsizetype line);
    qsizetype lineStart(qsizetype line) const;
    qsizetype lineContentEnd(qsizetype line) const;
    qsizetype lineOf(qsizetype pos) const;

    void replaceRange(qsizetype from, qsizetype to, const QString& with);
    void removeSelectionOr(int direction);
    void moveCaret(qsizetype pos, bool keepAnchor);
    qsizetype verticalTarget(qsizetype lines) const;
    qsizetype wordStart(qsizetype pos) const;
    qsizetype wordEnd(qsizetype pos) const;
    qsizetype stepLeft(qsizetype pos) const;
    qsizetype stepRight(qsizetype pos) const;

    void updateMetrics();
    void updateScrollBars();
    void scheduleScrollBars();
    void holdPaintUntilNextFrame();
    void ensureCaretVisible();
    void restartBlink();
    int visibleRows() const;
    int visibleColumns() const;
    void drawRow(QPainter& painter, qsizetype line, int y) const;

    LogText m_text;
    std::vector<Mark> m_marks;
    qsizetype m_lineCount = 1;
    qsizetype m_lastLineStart = 0;
    qsizetype m_longest = 0;
    // Position of the last CR LF; -1 none, -2 not known since the last edit.
    mutable qsizetype m_lastCrLf = -1;

    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    qsizetype m_goalColumn = -1;
    bool m_caretShown = true;
    bool m_dragging = false;
    bool m_scrollBarsPending = false;
    QBasicTimer m_blink;
    // Program appends paint at most once a frame; between frames they only store.
    QElapsedTimer m_lastPaint;
    QBasicTimer m_frame;

    qreal m_charWidth = 8;
    int m_lineHeight = 14;
    int m_ascent = 11;
    bool m_evenAdvance[256] = {};
};
