#pragma once

#include "LogBox.h"

#include <QPlainTextEdit>
#include <QString>

// The log on the stock plain-text box, kept to measure LogView against. The
// exact text lives in a shadow string; the document shows it with CR LF as a
// line break and a lone CR as a visible mark.
class PlainLogBox : public QPlainTextEdit, public LogBox
{
    Q_OBJECT

public:
    explicit PlainLogBox(QWidget* parent = nullptr);

    QWidget* widget() override { return this; }

    QString text() const override { return m_shadow; }
    qsizetype length() const override { return m_shadow.size(); }
    void setText(const QString& text) override;
    void append(const QString& text) override;
    void clear() override;

    qsizetype lastIndexOf(const QString& needle) const override;

    qsizetype caretPosition() const override;
    void setCaretPosition(qsizetype pos) override;

private:
    qsizetype toDocument(qsizetype pos) const;
    void takeUserEdit();
    void keepCaretOnAppend();

    QString m_shadow;
    qsizetype m_crLfCount = 0;
    bool m_writing = false;
};
