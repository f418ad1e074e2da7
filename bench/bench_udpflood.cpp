// A loopback sender on its own thread floods the window with 1 KB UDP
// datagrams: how many the window shows, the longest time the event loop was
// blocked, and whether the log accounts for every datagram lost. Each case
// runs with the system's reader (Linux: a thread of its own, recvmmsg, the
// socket's drop counter) and, beside it, with the reader in Qt alone that a
// build without it has.

#include "DatagramSender.h"
#include "benchsupport.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "ui/Controls.h"
#include "ui/LogView.h"
#include "ui/frmKelvane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRegularExpression>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

enum class Reading
{
    System,  // the program as it is on Linux
    Portable // as a build with KELVANE_PORTABLE=ON, or on another system, reads
};

struct Result
{
    int sent = 0;
    int shown = 0;
    qint64 reported = 0; // datagrams the log says were dropped
    double maxBlockMs = 0;
    double maxBusyMs = 0; // of it, the window's own work
    double sendRate = 0;
};

// The counts in the log's drop entries, added up.
qint64 reportedDrops(const QString& log)
{
    static const QRegularExpression entry(QStringLiteral("(\\d+) datagrams? (?:was|were) dropped before"));
    qint64 sum = 0;
    auto it = entry.globalMatch(log);
    while (it.hasNext())
        sum += it.next().captured(1).toLongLong();
    return sum;
}

// The window as a UDP peer on a free port, in the given view, flooded with
// count datagrams; a paused window runs no event loop until the sender is done.
// Done once every datagram sent is shown or reported, or when nothing has
// changed for quietMs after the sender finished.
Result flood(Reading reading, bool flatView, int count, int perSecond, int quietMs, bool paused = false)
{
    Result r;
    qint64 dropped = 0;
    auto w = std::make_unique<TestSupport::Window>();
    w->find<ToggleButton>("chkFlat")->setValue(flatView ? 1 : 0);
    (*w)->show();
    SocketControl* socket = w->socket();
    socket->setPortableDatagramReader(reading == Reading::Portable);
    TestSupport::clickConnect(*w, 0, 1, QStringLiteral("9"));
    const quint16 port = quint16(socket->LocalPort());
    w->find<QPushButton>("cmdClear")->click();
    QObject::connect(socket, &SocketControl::dataArrival, socket, [&](qint32 n) {
        if (n == DatagramSize)
            ++r.shown;
    });
    QObject::connect(socket, &SocketControl::datagramsDropped, socket, [&](qint64 n) { dropped += n; });
    QCoreApplication::processEvents();

    DatagramSender sender(port, count, perSecond);
    if (paused) {
        sender.start();
        while (!sender.done())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    qint64 lastSeen = -1;
    QElapsedTimer quiet;
    quiet.start();
    LoopWatch watch;
    watch.run(
        600,
        [&] {
            if (r.shown + dropped != lastSeen) {
                lastSeen = r.shown + dropped;
                quiet.restart();
            }
            return sender.done() && (r.shown + dropped >= sender.sent() || quiet.elapsed() > quietMs);
        },
        [&] {
            if (!paused)
                sender.start();
        });
    r.maxBlockMs = watch.maxBlockMs();
    r.maxBusyMs = watch.maxBusyMs();
    r.sent = sender.sent();
    r.sendRate = r.sent / sender.seconds();
    // Read only when drops were reported: the text of a long normal-view log is gigabytes.
    if (dropped > 0)
        r.reported = reportedDrops(w->logBox()->text());
    return r;
}

// How many were shown, with the rate the sender reached, which a busy
// machine may hold below the one asked for.
QString shownText(const Result& r)
{
    QString text = QStringLiteral("%1 of %2 (sent at %3/s), %4 lost")
                       .arg(r.shown)
                       .arg(r.sent)
                       .arg(qint64(r.sendRate))
                       .arg(r.sent - r.shown);
    if (r.shown != r.sent)
        text += QStringLiteral(" (%1 in the log)").arg(r.reported);
    return text + (r.shown == r.sent ? QStringLiteral(" PASS") : QStringLiteral(" MISS"));
}

void lostRow(const char* name, const Result& system, const Result& portable)
{
    std::printf("| %s | %s | %s | 0 lost |\n", name, qPrintable(shownText(system)),
                qPrintable(shownText(portable)));
}

// The longest block, and in brackets the window's own work within one tick gap.
QString blockText(const Result& r)
{
    return QStringLiteral("%1 ms (%2 ms) %3")
        .arg(r.maxBlockMs, 0, 'f', 1)
        .arg(r.maxBusyMs, 0, 'f', 1)
        .arg(r.maxBlockMs <= 50 ? QStringLiteral("PASS") : QStringLiteral("MISS"));
}

void blockRow(const char* name, const Result& system, const Result& portable)
{
    std::printf("| %s | %s | %s | <= 50 ms |\n", name, qPrintable(blockText(system)),
                qPrintable(blockText(portable)));
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);

    const int burst = 20000;
    const int quietMs = 500;
    struct Pair
    {
        Result system;
        Result portable;
    };
    auto both = [&](bool flat, int count, int perSecond, int quiet, bool paused = false) {
        return Pair{flood(Reading::System, flat, count, perSecond, quiet, paused),
                    flood(Reading::Portable, flat, count, perSecond, quiet, paused)};
    };
    const Pair burstNormal = both(false, burst, 0, quietMs);
    const Pair burstFlat = both(true, burst, 0, quietMs);
    const Pair pacedNormal = both(false, 4 * 100000, 100000, quietMs);
    const Pair pacedFlat = both(true, 4 * 100000, 100000, quietMs);
    // Twice what the bound holds, unpaced, to a window too busy to show any
    // until the flood is over; reports come once a second, so wait longer for the last.
    const int overBound = 2 * int(SocketControl::DefaultDatagramQueueLimit / DatagramSize);
    const Pair drops = both(true, overBound, 0, 2500, true);

    std::printf(
        "\nUDP flood of %d-byte datagrams from a loopback sender on its own thread (load at the end: %s)\n",
        DatagramSize, BenchSupport::loadAverage().constData());
    std::printf(
        "Blocks: the longest event-loop block; in brackets the window's own work within it, the rest\n"
        "being the wait for a processor on a busy machine.\n\n");
    std::printf("| case | system's reader (Linux) | portable reader (Qt alone) | target |\n");
    std::printf("|---|---|---|---|\n");
    lostRow("burst of 20,000, normal view", burstNormal.system, burstNormal.portable);
    lostRow("burst of 20,000, flat view", burstFlat.system, burstFlat.portable);
    blockRow("burst, normal view, longest block", burstNormal.system, burstNormal.portable);
    blockRow("burst, flat view, longest block", burstFlat.system, burstFlat.portable);
    lostRow("400,000 paced at 100,000/s, normal view", pacedNormal.system, pacedNormal.portable);
    lostRow("400,000 paced at 100,000/s, flat view", pacedFlat.system, pacedFlat.portable);
    blockRow("paced, normal view, longest block", pacedNormal.system, pacedNormal.portable);
    blockRow("paced, flat view, longest block", pacedFlat.system, pacedFlat.portable);
    const Result& l = drops.system;
    const Result& q = drops.portable;
    std::printf(
        "| %d unpaced to a busy window, flat view: lost / in the log | %d / %lld (sent at %.0f/s) %s | "
        "%d / %lld (sent at %.0f/s) | equal |\n",
        overBound, l.sent - l.shown, (long long)l.reported, l.sendRate,
        l.sent - l.shown == l.reported && l.reported > 0 ? "PASS" : "MISS", q.sent - q.shown,
        (long long)q.reported, q.sendRate);
    return 0;
}
