#pragma once

#include <QString>

#include <optional>

class QWidget;

// The modal box that asks for one line of text. Tests put a scripted one in
// its place so they never block.
class PromptService
{
public:
    virtual ~PromptService() = default;
    // The text entered, or nothing when the user cancelled.
    virtual std::optional<QString> text(QWidget* parent, const QString& title, const QString& label) = 0;
};

class QtPrompt : public PromptService
{
public:
    std::optional<QString> text(QWidget* parent, const QString& title, const QString& label) override;
};
