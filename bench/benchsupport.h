#pragma once

// Shared by the benchmarks: the process set-up and a watch on the event loop.

#include "testsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <ctime>
#include <functional>

// Offscreen unless a platform is asked for, and never the user's settings.
// Call first thing in main, before the application object exists.
inline void prepareBenchmark()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestSupport::prepareProcess();
}

// Runs an event loop until done() says so or the budget is spent, and keeps the
// longest time the loop was blocked: the largest gap between ticks of a 10 ms
// timer. On a busy machine a gap is partly waiting for a processor; the most
// processor time the window's thread used within one gap is its own work.
class LoopWatch
{
public:
    // Returns the seconds the loop ran; start() is called once the watch runs.
    double run(double budgetSeconds, const std::function<bool()>& done, const std::function<void()>& start)
    {
        QEventLoop loop;
        QElapsedTimer clock;
        QElapsedTimer tick;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(TickMs);
        double lastCpuMs = threadCpuMs();
        QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
            const double cpuMs = threadCpuMs();
            m_maxBlockMs = qMax(m_maxBlockMs, tick.nsecsElapsed() / 1e6 - TickMs);
            m_maxBusyMs = qMax(m_maxBusyMs, cpuMs - lastCpuMs);
            lastCpuMs = cpuMs;
            tick.restart();
            if (clock.elapsed() > budgetSeconds * 1000)
                loop.quit();
        });
        QTimer poll; // done() is asked more often than the ticker runs
        poll.setTimerType(Qt::PreciseTimer);
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        clock.start();
        tick.start();
        ticker.start();
        poll.start();
        start();
        loop.exec();
        return clock.nsecsElapsed() / 1e9;
    }
    double maxBlockMs() const { return m_maxBlockMs; }
    double maxBusyMs() const { return m_maxBusyMs; }

private:
    static double threadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    }

    static constexpr int TickMs = 10;
    double m_maxBlockMs = 0;
    double m_maxBusyMs = 0;
};
