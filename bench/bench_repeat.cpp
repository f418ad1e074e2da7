// Repeating a line to a loopback peer. (a) A million 16-byte lines at interval
// 0 to a peer that reads all: lines per second and peak memory, beside a
// plain loop that writes the same lines to the same kind of peer. (b) Interval
// 1 ms and 10 ms for 10 s with a busy loop on another core: lines sent against
// lines due, and how late they went. --quick runs a sixteenth of (a) and 2 s of (b).

#include "benchsupport.h"
#include "floodpeer.h"

#include "net/SocketControl.h"
#include "send/Repeater.h"
#include "ui/SocketSendLink.h"

#include <QApplication>
#include <QSignalSpy>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

using namespace BenchSupport;

namespace {

const LineToSend Line = prepareLine(QStringLiteral("0123456789abcd"), false, true); // 16 bytes with CR LF

// A repeater over a socket control connected to a loopback peer that reads all.
struct Rig
{
    FloodPeer peer;
    SocketControl control;
    Repeater repeater{std::make_unique<SocketSendLink>(&control)};
    bool connected = false;

    Rig()
    {
        peer.setKeeping(false);
        peer.start(QByteArray());
        QObject::connect(&control, &SocketControl::bytesWritten, &repeater, &Repeater::linkDrained);
        QSignalSpy spy(&control, &SocketControl::connected);
        control.setRemotePort(peer.port());
        control.Connect();
        connected = spy.wait(10000);
    }
    ~Rig() { peer.stop(); }
};

struct Run
{
    double seconds = 0;
    qint64 lines = 0;
    qint64 peakKb = 0;
    double maxBlockMs = 0;
    bool complete = false;
};

// The repeater, or a plain loop of SendData, until the peer has read every line.
Run toReadingPeer(qint64 lines, bool plainLoop)
{
    Rig rig;
    auto& [peer, control, repeater, connected] = rig;
    repeater.setShowSent(false);
    Run r;
    if (!connected)
        return r;
    QCoreApplication::processEvents();
    resetPeakMemory();
    const qint64 bytes = lines * Line.payload.size();
    LoopWatch watch;
    r.seconds = watch.run(
        120, [&] { return peer.receivedSize() >= bytes && !repeater.isRunning(); },
        [&] {
            if (!plainLoop) {
                repeater.start(Line, lines, 0);
                return;
            }
            for (qint64 i = 0; i < lines; ++i)
                control.SendData(Line.payload);
        });
    r.peakKb = TestSupport::procStatusKb("VmHWM:");
    r.maxBlockMs = watch.maxBlockMs();
    r.complete = peer.receivedSize() == bytes;
    r.lines = peer.receivedSize() / Line.payload.size();
    return r;
}

struct Paced
{
    qint64 sent = 0;
    qint64 due = 0;
    double maxLateMs = 0;
    double p99LateMs = 0;
    double maxBlockMs = 0;
};

Paced atInterval(qint64 intervalMs, double seconds)
{
    Rig rig;
    auto& [peer, control, repeater, connected] = rig;
    Paced p;
    if (!connected)
        return p;
    // Each line's lateness: when it went against start + k * interval.
    std::vector<double> late;
    QElapsedTimer clock;
    QObject::connect(&repeater, &Repeater::sentLine, &repeater, [&] {
        late.push_back(clock.nsecsElapsed() / 1e6 - double(late.size()) * double(intervalMs));
    });
    LoopWatch watch;
    double elapsedMs = 0;
    watch.run(
        seconds, [] { return false; },
        [&] {
            clock.start();
            repeater.start(Line, 0, intervalMs);
        });
    elapsedMs = clock.nsecsElapsed() / 1e6;
    repeater.stop();
    p.sent = qint64(late.size());
    p.due = qint64(elapsedMs / double(intervalMs)) + 1;
    for (const double l : late)
        p.maxLateMs = qMax(p.maxLateMs, l);
    std::sort(late.begin(), late.end());
    p.p99LateMs = late.empty() ? 0 : late[late.size() * 99 / 100];
    p.maxBlockMs = watch.maxBlockMs();
    return p;
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    std::printf("Load average at the start: %s\n", loadAverage().constData());

    const qint64 lines = 1000000 / (quick ? 16 : 1);
    // The repeater first, so that the peak memory it shows is its own.
    const Run repeated = toReadingPeer(lines, false);
    const Run plain = toReadingPeer(lines, true);
    auto rate = [](const Run& r) { return r.seconds > 0 ? r.lines / r.seconds : 0; };
    std::printf("\n(a) %lld lines of 16 bytes at interval 0 to a loopback peer that reads all\n",
                static_cast<long long>(lines));
    std::vector<QStringList> rows;
    for (const auto& [name, r] :
         {std::pair{"repeater", repeated}, std::pair{"plain loop of SendData", plain}}) {
        rows.push_back({QString::fromLatin1(name), QStringLiteral("%1 l/s").arg(rate(r), 0, 'f', 0),
                        sec(r.seconds), QStringLiteral("%1 MB").arg(r.peakKb / 1024.0, 0, 'f', 1),
                        ms(r.maxBlockMs / 1e3), r.complete ? QStringLiteral("yes") : QStringLiteral("NO")});
    }
    printTable({"case", "lines/s", "time", "peak memory (VmHWM)", "longest loop block", "all received"},
               rows);

    // The other core spins while the lines are paced.
    std::atomic<bool> busy{true};
    std::thread spinner([&busy] {
        volatile quint64 n = 0;
        while (busy.load(std::memory_order_relaxed))
            n = n + 1;
    });
    const double seconds = quick ? 2 : 10;
    rows.clear();
    for (const qint64 interval : {qint64(1), qint64(10)}) {
        const Paced p = atInterval(interval, seconds);
        const double ratio = p.due > 0 ? double(p.sent) / double(p.due) : 0;
        rows.push_back({QStringLiteral("%1 ms").arg(interval), QString::number(p.sent),
                        QString::number(p.due),
                        QStringLiteral("%1 %2").arg(ratio, 0, 'f', 4).arg(verdict(ratio >= 0.95)),
                        QStringLiteral("%1 ms").arg(p.p99LateMs, 0, 'f', 2),
                        QStringLiteral("%1 ms").arg(p.maxLateMs, 0, 'f', 2), ms(p.maxBlockMs / 1e3)});
    }
    busy = false;
    spinner.join();
    std::printf("\n(b) %.0f s at an interval, a busy loop on another core (load average now %s)\n", seconds,
                loadAverage().constData());
    printTable({"interval", "sent", "due", "sent/due (>= 0.95)", "99th pct lateness", "largest lateness",
                "longest loop block"},
               rows);
    return 0;
}
