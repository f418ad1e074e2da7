#pragma once

#include <QString>

class QWidget;

// The modal warning box. Tests put a recorder in its place so they never block.
class MessageBoxService
{
public:
    virtual ~MessageBoxService() = default;
    // Warning icon, a single OK button; returns when the user has closed it.
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;
};

class QtMessageBox : public MessageBoxService
{
public:
    void warning(QWidget* parent, const QString& title, const QString& text) override;
};
