#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The modal warning box. Tests put a recorder in its place so they never block.
class MessageBoxService
{
public:
    virtual ~MessageBoxService() = default;
    // Warning icon, a single OK button; returns when the user has closed it.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
    // A question with a button for each answer; the last is the cancel.
    // Returns the answer's index, -1 when the box was closed without one. A
    // box that asks nothing answers as for a cancel.
    virtual int ask(QWidget* parent, const QString& title, const QString& text, const QStringList& answers,
                    int defaultAnswer);
};

class QtMessageBox : public MessageBoxService
{
public:
    void warning(QWidget* parent, const QString& title, const QString& text) override;
    int ask(QWidget* parent, const QString& title, const QString& text, const QStringList& answers,
            int defaultAnswer) override;
};
