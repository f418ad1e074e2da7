#include "PlainLogBox.h"

#include "ui/Fonts.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace {

constexpr char16_t CrMark = 0x240D;

// The document's view of log text: CR LF becomes one line break and a lone CR
// a mark, so every other character keeps its place.
QString shown(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                continue;
            out.append(QChar(CrMark));
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

PlainLogBox::PlainLogBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFont(Fonts::log());
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    setPalette(pal);
    connect(document(), &QTextDocument::contentsChanged, this, &PlainLogBox::takeUserEdit);
    keepCaretOnAppend();
}

void PlainLogBox::setText(const QString& text)
{
    m_shadow = text;
    m_crLfCount = QStringView(text).count(u"\r\n");
    m_writing = true;
    setPlainText(shown(text));
    m_writing = false;
    keepCaretOnAppend();
}

// Appends go in behind the caret, even when it stands at the end.
void PlainLogBox::keepCaretOnAppend()
{
    QTextCursor cursor = textCursor();
    cursor.setKeepPositionOnInsert(true);
    setTextCursor(cursor);
}

void PlainLogBox::append(const QString& text)
{
    if (text.isEmpty())
        return;
    m_writing = true;
    const bool hadSelection = textCursor().hasSelection();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    // A CR shown as a mark becomes part of a line break once its LF arrives.
    if (m_shadow.endsWith(u'\r') && text.startsWith(u'\n')) {
        cursor.deletePreviousChar();
        ++m_crLfCount;
    }
    m_crLfCount += QStringView(text).count(u"\r\n");
    m_shadow.append(text);
    cursor.insertText(shown(text));
    m_writing = false;
    // A caret at the end keeps its place, but its anchor moves on.
    if (!hadSelection && textCursor().hasSelection()) {
        QTextCursor caret = textCursor();
        caret.setPosition(caret.position());
        caret.setKeepPositionOnInsert(true);
        setTextCursor(caret);
    }
}

void PlainLogBox::clear()
{
    setText(QString());
}

qsizetype PlainLogBox::lastIndexOf(const QString& needle) const
{
    return m_shadow.lastIndexOf(needle);
}

// Each CR that begins a CR LF is not in the document.
qsizetype PlainLogBox::toDocument(qsizetype pos) const
{
    if (pos >= m_shadow.size())
        return m_shadow.size() - m_crLfCount;
    const QStringView head = QStringView(m_shadow).left(std::min(pos + 1, m_shadow.size()));
    return pos - head.count(u"\r\n");
}

qsizetype PlainLogBox::caretPosition() const
{
    const qsizetype target = textCursor().position();
    qsizetype pos = 0;
    qsizetype doc = 0;
    const QStringView all(m_shadow);
    for (qsizetype i = all.indexOf(u"\r\n"); i >= 0; i = all.indexOf(u"\r\n", i + 2)) {
        if (doc + (i - pos) >= target)
            break;
        doc += i - pos + 1;
        pos = i + 2;
    }
    return pos + (target - doc);
}

void PlainLogBox::setCaretPosition(qsizetype pos)
{
    QTextCursor cursor = textCursor();
    cursor.setPosition(int(toDocument(std::clamp<qsizetype>(pos, 0, m_shadow.size()))));
    cursor.setKeepPositionOnInsert(true);
    setTextCursor(cursor);
}

// A user's edit changes the document only: take the text back from it.
void PlainLogBox::takeUserEdit()
{
    if (m_writing)
        return;
    QString text = toPlainText();
    text.replace(QChar(CrMark), QLatin1Char('\r'));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    m_shadow = text;
    m_crLfCount = QStringView(text).count(u"\r\n");
}
