#pragma once

#include <QAccessibleWidget>
#include <QString>

#include <utility>

class TextBox;

// The accessible text of the program's own text boxes (TextBox), which draw
// their text themselves: through it a screen reader reads the text, the caret
// and the selection, and the text at an offset by character, word, sentence
// or line. Text is handed out in bounded amounts however long the box's text.
// Offsets are ints: of a text longer than that, the interface shows a stretch
// of that length which follows the caret.
class AccessibleTextBox : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    // The most characters handed out at once.
    static constexpr qsizetype TextLimit = qsizetype(1) << 20;

    explicit AccessibleTextBox(TextBox* box);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // The interface's offset of a place in the text, and back.
    int offsetOf(qsizetype position) const;
    qsizetype positionOf(int offset) const;

    // Tell a screen reader, when one listens, that the caret or the selection
    // moved, or that text was replaced at a place (removed and inserted are
    // cut to TextLimit).
    static void caretMoved(TextBox* box);
    static void textChanged(TextBox* box, qsizetype position, QStringView removed, QStringView inserted);
    // Installs the factory that makes the interfaces; once is enough.
    static void install();

private:
    using Range = std::pair<qsizetype, qsizetype>;

    TextBox* box() const;
    qsizetype size() const;
    QString read(qsizetype from, qsizetype count) const;
    // The line that holds pos, with its line break.
    Range lineAround(qsizetype pos) const;
    Range unitAt(qsizetype pos, QAccessible::TextBoundaryType type) const;
    Range bounded(Range range, qsizetype pos) const;
    QString textOf(Range range, int* startOffset, int* endOffset) const;
    qsizetype base() const;

    mutable qsizetype m_base = 0;
};
