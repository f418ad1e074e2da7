#pragma once

#include "ui/TextBox.h"

#include <QString>

#include <vector>

class QStyleOptionFrame;

// A one-line text box for lines of any length. It draws only the columns in
// view on a fixed-pitch grid, so typing into a line of megabytes costs what
// the edit touches, where QLineEdit lays out the whole line on every key.
// It has no length limit, keeps every character exactly as typed or pasted
// (control characters are shown, not dropped), and follows QLineEdit's
// conventions: selection by start and length, Tab into it selects all.
class LineBox : public TextBox
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
    void setCursorPosition(qsizetype pos) { select(pos, pos); }
    // From start, length characters; the caret ends after them. Clamped to the text.
    void setSelection(qsizetype start, qsizetype length) { select(start, start + length); }
    bool hasSelectedText() const { return hasSelection(); }
    // -1 when nothing is selected.
    qsizetype selectionStart() const { return hasSelection() ? selFrom() : -1; }

    // The first column in view.
    qsizetype firstVisibleColumn() const { return m_leftColumn; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The text was set or edited.
    void textChanged();
    // Up (-1) or Down (1) without modifiers: the lines sent before are stepped through.
    void recall(int direction);

public slots:
    void undo() override;
    void redo();

protected:
    qsizetype textSize() const override { return m_text.size(); }
    char16_t charAt(qsizetype pos) const override { return m_text.at(pos).unicode(); }
    QString textMid(qsizetype from, qsizetype count) const override { return m_text.mid(from, count); }
    qsizetype lineCount() const override { return 1; }
    qsizetype lineOf(qsizetype) const override { return 0; }
    Range lineSpan(qsizetype, bool) const override { return {0, m_text.size()}; }
    void replaceText(qsizetype from, qsizetype to, const QString& with, bool typing,
                     Selection before) override;
    QRect textArea() const override;
    void ensureVisible(qsizetype pos) override;
    void relayout() override { ensureVisible(m_caret); }
    void openMenu(QMenu* menu) override;
    void paintFrame(QPainter& painter) override;
    bool editKey(QKeyEvent* event) override;

private:
    // One edit: the text that stood at from, and what replaced it.
    struct Edit
    {
        qsizetype from;
        QString removed;
        QString inserted;
        Selection before;
        bool typing;
    };

    void remember(Edit edit);
    void panelOption(QStyleOptionFrame* option) const;
    QRect textRect() const;

    QString m_text;
    std::vector<Edit> m_undo;
    std::vector<Edit> m_redo;
    qsizetype m_undoChars = 0;
};
