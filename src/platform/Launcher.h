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

// Starts the program as a process of its own that outlives this one.
class ProcessLauncher : public Launcher
{
public:
    bool start(const QString& program) override;
    // The process started last, 0 before the first start and after a failure.
    qint64 processId() const { return m_processId; }

private:
    qint64 m_processId = 0;
};
