#pragma once

#include <QString>

// Starts a program by its path, without a shell and without arguments.
class Launcher
{
public:
    virtual ~Launcher() = default;
    // False when no process was started.
    virtual bool start(const QString& program) = 0;
};

class ProcessLauncher : public Launcher
{
public:
    bool start(const QString& program) override;
};
