#pragma once

#include "ui/CellText.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>

#include <algorithm>
#include <functional>
#include <utility>

class QMenu;

// What the program's own text boxes share, the log (LogView) and the line box
// (LineBox): a caret and a selection over a text of any length, drawn in rows
// on a fixed-pitch grid from the first line and column in view; the editing
// keys and caret motions, the mouse, the clipboard, the input method, the
// blinking caret, and what a screen reader reads (AccessibleTextBox). Each box
// keeps its text its own way and says how it edits, undoes and scrolls it.
//
// A multi-line box takes Enter, Up, Down and the page keys, and a CR LF is one
// step for the caret; a one-line box leaves those keys to the window, and
// tabbing into it selects the whole line.
class TextBox : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // Selections larger than this are not copied: no clipboard holds them sensibly.
    static constexpr qsizetype CopyLimitChars = qsizetype(256) << 20;

    bool hasSelection() const { return m_anchor != m_caret; }
    QString selectedText() const;
    void setCopyLimit(qsizetype chars) { m_copyLimit = chars; }

    // The text position under a point of the viewport.
    qsizetype positionAt(const QPoint& viewportPos) const;
    // The cell of a position, and the caret, in viewport coordinates.
    QRect cellRect(qsizetype pos) const;
    QRect caretRect() const;
    // Scrolls as little as needed to show pos, leaving the caret where it is.
    void scrollToPosition(qsizetype pos);

    // The context menu: the editing entries, then the actions added to the
    // box (addAction) in their order. The caller owns it.
    QMenu* createContextMenu(QWidget* parent);

signals:
    // Something the user should read: a failure, a refused copy.
    void notice(const QString& text);

public slots:
    void copy();
    void cut();
    void paste();
    void selectAll();
    // Deletes the selection, as the Delete key does.
    void removeSelection();
    // Takes back the last edit; the caret and selection are as before it.
    virtual void undo() = 0;

protected:
    using Range = std::pair<qsizetype, qsizetype>;
    struct Selection
    {
        qsizetype anchor;
        qsizetype caret;
    };

    TextBox(QWidget* parent, bool multiLine);

    // The text and its lines, as the box keeps them.
    virtual qsizetype textSize() const = 0;
    virtual char16_t charAt(qsizetype pos) const = 0;
    virtual QString textMid(qsizetype from, qsizetype count) const = 0;
    virtual qsizetype lineCount() const = 0;
    virtual qsizetype lineOf(qsizetype pos) const = 0;
    // A line's text from its start to its end: before its line break, or after it.
    virtual Range lineSpan(qsizetype line, bool withBreak = false) const = 0;
    // Puts with in place of [from, to) and keeps what undo needs: before is
    // the selection the edit took back from. The caret is already after with.
    virtual void replaceText(qsizetype from, qsizetype to, const QString& with, bool typing,
                             Selection before) = 0;

    // Where the rows lie in the viewport: the first cell in view at its top left.
    virtual QRect textArea() const = 0;
    // Scrolls so that pos is in view.
    virtual void ensureVisible(qsizetype pos) = 0;
    // The size, the font or the text changed: the view follows.
    virtual void relayout() = 0;
    // Names the context menu and adds its first entries, those of undo.
    virtual void openMenu(QMenu* menu) = 0;
    // Draws what lies under the text; may clip the text's painting.
    virtual void paintFrame(QPainter&) {}

    // A key of the box's own, before the shared ones; true when it took it.
    virtual bool editKey(QKeyEvent*) { return false; }
    // Where Up, Down (page false) or a page key lands; -1 leaves the key to the window.
    virtual qsizetype verticalTarget(int /*direction*/, bool /*page*/) { return -1; }
    // Tells a screen reader that the caret or the selection moved.
    virtual void caretMoved();
    // Runs work. A box whose text can fail to load or to grow catches the
    // failure and tells it through notice(), with what was left undone.
    virtual void guarded(const char* undone, const std::function<void()>& work);

    qsizetype selFrom() const { return std::min(m_anchor, m_caret); }
    qsizetype selTo() const { return std::max(m_anchor, m_caret); }
    // Sets the selection, clamped to the text; follow scrolls to the caret.
    void select(qsizetype anchor, qsizetype caret, bool follow = true);
    // Replaces [from, to) through replaceText; the caret goes after with.
    void replace(qsizetype from, qsizetype to, const QString& with, bool typing = false);
    // After the box changed its text at from: the view, a screen reader and the caret follow.
    void textReplaced(qsizetype from, QStringView removed, QStringView inserted, Selection after);
    // Deletes the selection, or else from the caret one step or word back (-1) or on (1).
    void removeSelectionOr(int direction, bool word = false);
    // What a screen reader is told was removed; nothing is read when none listens.
    QString accessibleText(qsizetype from, qsizetype count) const;
    qsizetype columnOf(qsizetype pos) const;
    qsizetype goalColumn() const;
    int visibleRows() const;
    int visibleColumns() const;
    QPalette::ColorGroup colorGroup() const;

    bool event(QEvent* event) override;
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

    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    // The column Up and Down keep, -1 until the first of them.
    qsizetype m_goalColumn = -1;
    // The first line and column in view.
    qsizetype m_topLine = 0;
    qsizetype m_leftColumn = 0;
    CellText::Grid m_grid;
    int m_lineHeight = 14;

private:
    // It reads the text, the caret and the cells as they are.
    friend class AccessibleTextBox;

    void handleKey(QKeyEvent* event);
    void moveCaret(qsizetype pos, bool keepAnchor);
    qsizetype stepLeft(qsizetype pos) const;
    qsizetype stepRight(qsizetype pos) const;
    qsizetype wordStart(qsizetype pos) const;
    qsizetype wordEnd(qsizetype pos) const;
    qsizetype wordReach() const;
    bool copySelection(bool cut);
    void pasteFrom(int mode);
    void fillPrimarySelection();
    void restartBlink();
    void updateMetrics();
    void drawLine(QPainter& painter, qsizetype line, int y) const;

    const bool m_multiLine;
    qsizetype m_copyLimit = CopyLimitChars;
    int m_baseline = 11;
    bool m_dragging = false;
    QPoint m_dragPos;
    // Scrolls while a selection is dragged past the edge.
    QBasicTimer m_autoScroll;
    // The caret shows at once after a move or an edit, then blinks at the
    // desktop's flash time while the box has the focus.
    QBasicTimer m_blink;
    bool m_caretShown = true;
};
