#pragma once

#include "ui/CaretBlink.h"
#include "ui/CellText.h"

#include <QBasicTimer>
#include <QString>
#include <QWidget>

#include <vector>

class QStyleOptionFrame;

// A one-line text box for lines of any length. It draws only the columns in
// view on a fixed-pitch grid, so typing into a line of megabytes costs what
// the edit touches, where QLineEdit lays out the whole line on every key.
// It has no length limit, keeps every character exactly as typed or pasted
// (control characters are shown, not dropped), and follows QLineEdit's
// conventions: selection by start and length, Tab into it selects all.
class LineBox : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit LineBox(QWidget* parent = nullptr);
    ~LineBox() override;

    QString text() const { return m_text; }
    // Replaces the whole text, with the caret at its end and no undo history.
    void setText(const QString& text);

    qsizetype cursorPosition() const { return m_caret; }
    void setCursorPosition(qsizetype pos);
    // From start, length characters; the caret ends after them. Clamped to the text.
    void setSelection(qsizetype start, qsizetype length);
    bool hasSelectedText() const { return m_anchor != m_caret; }
    QString selectedText() const;
    // -1 when nothing is selected.
    qsizetype selectionStart() const;

    // The first column in view.
    qsizetype firstVisibleColumn() const { return m_scroll; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The text was set or edited.
    void textChanged();

public slots:
    void selectAll();
    void copy() const;
    void cut();
    void paste();
    void undo();
    void redo();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    // Its accessible interface reads the text, caret and cells as they are.
    friend class LineBoxAccessible;

    // One edit: the text that stood at from, and what replaced it.
    struct Edit
    {
        qsizetype from;
        QString removed;
        QString inserted;
        qsizetype caretBefore;
        qsizetype anchorBefore;
        bool typing;
    };

    void replace(qsizetype from, qsizetype to, const QString& with, bool typing = false);
    void insert(const QString& with, bool typing = false);
    void deleteBackOrForward(int direction, bool word);
    void moveCaret(qsizetype pos, bool keepAnchor);
    qsizetype wordLeft(qsizetype pos) const;
    qsizetype wordRight(qsizetype pos) const;
    qsizetype selectionEnd() const;
    void pasteFrom(int mode);
    void remember(Edit edit);

    void initStyleOption(QStyleOptionFrame* option) const;
    QRect contentsRect() const;
    int visibleColumns() const;
    qsizetype positionAt(int x) const;
    QRect caretRect() const;
    void ensureCaretVisible();
    void caretChanged();
    void updateMetrics();

    QString m_text;
    qsizetype m_caret = 0;
    qsizetype m_anchor = 0;
    qsizetype m_scroll = 0;

    std::vector<Edit> m_undo;
    std::vector<Edit> m_redo;
    qsizetype m_undoChars = 0;

    bool m_dragging = false;
    int m_dragX = 0;
    CaretBlink m_blink;
    QBasicTimer m_autoScroll;

    CellText::Grid m_grid;
    int m_lineHeight = 14;
};
