#pragma once

// Shared by the benchmarks: the process set-up, a watch on the event loop,
// log text as the program writes it, timing, peak memory and memory in use.

#include "testsupport.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <functional>
#include <vector>

namespace BenchSupport {

// One entry as Echo writes it: about 60 characters between CR LFs.
inline QString logEntry(int n)
{
    return QStringLiteral("\r\n<11/3/2026 10:%1:%2 AM> - 60 bytes received from 127.0.0.1\r\n")
        .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(n % 60, 2, 10, QLatin1Char('0'));
}

inline QString logOfSize(qsizetype size)
{
    QString log;
    log.reserve(size + 100);
    for (int n = 0; log.size() < size; ++n)
        log += logEntry(n);
    return log;
}

// Received binary data as the flat view appends it: every character but CR
// and LF, so the line never breaks.
inline QString binaryPiece(qsizetype size, int seed)
{
    QString s(size, Qt::Uninitialized);
    quint32 x = 0x9e3779b9u + quint32(seed);
    for (qsizetype i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        char16_t c = char16_t(x >> 24);
        if (c == u'\r' || c == u'\n')
            c = u'.';
        s[i] = QChar(c);
    }
    return s;
}

// Gives the memory freed by earlier cases back to the system, so that the
// next case pays for its own pages and its peak is its own; then starts a new
// peak for VmHWM.
inline void resetPeakMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Counts the paints a box's viewport gets, to show that painting happened.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* viewport) : QObject(viewport) { viewport->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The first figure of /proc/loadavg: how busy the machine was.
inline QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0) : QByteArray("?");
}

inline double secondsOf(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

inline QString ms(double seconds)
{
    return QStringLiteral("%1 ms").arg(seconds * 1e3, 0, 'f', seconds < 0.01 ? 3 : 1);
}

inline QString sec(double seconds)
{
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 2);
}

inline QString verdict(bool pass)
{
    return pass ? QStringLiteral("PASS") : QStringLiteral("MISS");
}

// A table with a header line, columns as wide as their widest cell.
inline void printTable(const QStringList& heads, const std::vector<QStringList>& rows)
{
    std::vector<qsizetype> width;
    for (const QString& h : heads)
        width.push_back(h.size());
    for (const QStringList& r : rows)
        for (qsizetype c = 0; c < r.size() && size_t(c) < width.size(); ++c)
            width[size_t(c)] = std::max(width[size_t(c)], r[c].size());
    auto line = [&](const QStringList& cells) {
        QString out;
        for (size_t c = 0; c < width.size(); ++c)
            out += cells.value(qsizetype(c)).leftJustified(width[c]) +
                   QLatin1String(c + 1 < width.size() ? " | " : "");
        while (out.endsWith(QLatin1Char(' ')))
            out.chop(1);
        std::printf("%s\n", qPrintable(out));
    };
    line(heads);
    QStringList rule;
    for (qsizetype w : width)
        rule << QString(w, QLatin1Char('-'));
    line(rule);
    for (const QStringList& r : rows)
        line(r);
    std::fflush(stdout);
}

} // namespace BenchSupport

// Offscreen unless a platform is asked for, and never the user's settings.
// Call first thing in main, before the application object exists.
inline void prepareBenchmark()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestSupport::prepareProcess();
}

// Kilobytes the heap has handed out and not had back. Unlike the resident
// size it drops when memory is freed, so a case that runs after a larger one
// still shows what it costs itself.
inline qint64 heapInUseKb()
{
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
#else
    return 0; // not known away from glibc
#endif
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
