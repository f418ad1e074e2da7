#pragma once

// Shared by the benchmarks: a watch on the event loop, and the memory in use.

#include "testsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

#include <malloc.h>

// Kilobytes the heap has handed out and not had back. Unlike the resident
// size it drops when memory is freed, so a case that runs after a larger one
// still shows what it costs itself.
inline qint64 heapInUseKb()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
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
