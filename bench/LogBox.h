#pragma once

#include "ui/LogView.h"

#include <QString>

#include <memory>

class QWidget;

// What the benchmarks compare log boxes by: the calls the window makes on its
// log. Positions count characters from 0, before the first character.
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
    // Bytes, one character each; a box that holds text takes them as text.
    virtual void append(const QByteArray& bytes) { append(QString::fromLatin1(bytes)); }
    virtual void clear() = 0;

    // Last occurrence of needle, -1 when there is none.
    virtual qsizetype lastIndexOf(const QString& needle) const = 0;

    virtual qsizetype caretPosition() const = 0;
    // Empty selection at pos (clamped to 0 .. length()), scrolled into view.
    virtual void setCaretPosition(qsizetype pos) = 0;
};

// The program's log view behind the same calls.
class LogViewBox : public LogBox
{
public:
    explicit LogViewBox(LogView* view) : m_view(view) {}
    LogViewBox() : m_owned(std::make_unique<LogView>()), m_view(m_owned.get()) {}

    QWidget* widget() override { return m_view; }
    QString text() const override { return m_view->text(); }
    qsizetype length() const override { return m_view->length(); }
    void setText(const QString& text) override { m_view->setText(text); }
    void append(const QString& text) override { m_view->append(text); }
    void append(const QByteArray& bytes) override { m_view->append(bytes); }
    void clear() override { m_view->clear(); }
    qsizetype lastIndexOf(const QString& needle) const override { return m_view->lastIndexOf(needle); }
    qsizetype caretPosition() const override { return m_view->caretPosition(); }
    void setCaretPosition(qsizetype pos) override { m_view->setCaretPosition(pos); }

private:
    std::unique_ptr<LogView> m_owned;
    LogView* m_view;
};
