#pragma once

// Shared by the benchmarks: the process set-up and a watch on the event loop.

#include "testsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

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
// longest time the loop was blocked: the largest gap between ticks of a 10 ms timer.
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
        QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
            m_maxBlockMs = qMax(m_maxBlockMs, tick.nsecsElapsed() / 1e6 - TickMs);
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

private:
    static constexpr int TickMs = 10;
    double m_maxBlockMs = 0;
};
