// A loopback peer floods the window as fast as it can: how fast the data is
// shown, the longest time the event loop was blocked, and peak memory.
//
// First a flat flood of 8 GB into the log box as the program has it (old text
// goes to the log's file), beside 2 GB into the same box with everything kept
// in memory; the log is checked byte for byte against the stream afterwards.
// Then the older cases, each with the program's log box and with a
// QPlainTextEdit doing the same work; the QPlainTextEdit runs stop at a time
// budget. --quick runs a sixteenth of the big flood.

#include "benchsupport.h"
#include "floodpeer.h"
#include "testdata.h"
#include "testsupport.h"

#include "Harness.h"

#include "net/SocketControl.h"
#include "ui/Controls.h"
#include "ui/LogView.h"
#include "ui/frmKelvane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <limits>

using namespace BenchSupport;

namespace {

constexpr qint64 MB = 1024 * 1024;
constexpr qint64 GB = 1024 * MB;

struct Result
{
    double seconds = 0;
    qint64 bytesShown = 0;
    qint64 logChars = 0;
    double maxBlockMs = 0;
    qint64 peakKb = -1;
    qint64 baseKb = -1;
    bool complete = false;
};

struct Watched
{
    double seconds = 0;
    double maxBlockMs = 0;
    qint64 shown = 0;
    qint64 baseKb = 0;
    qint64 peakKb = 0;
};

// Runs the event loop under a watch while startPeer's flood arrives at a
// connected socket, until bytes are shown or the budget is spent.
Watched watchFlood(SocketControl* socket, qint64 bytes, double budgetSeconds,
                   const std::function<void()>& startPeer)
{
    Watched run;
    QCoreApplication::processEvents();
    resetPeakMemory();
    run.baseKb = TestSupport::procStatusKb("VmRSS:");
    const QMetaObject::Connection counting = QObject::connect(socket, &SocketControl::dataArrival, socket,
                                                              [&run](qint32 count) { run.shown += count; });
    LoopWatch watch;
    run.seconds = watch.run(
        budgetSeconds, [&] { return run.shown >= bytes; }, startPeer);
    run.maxBlockMs = watch.maxBlockMs();
    run.peakKb = TestSupport::procStatusKb("VmHWM:");
    QObject::disconnect(counting);
    return run;
}

// The window as the program has it, connected to the peer, its log emptied.
struct WindowUnderFlood
{
    explicit WindowUnderFlood(bool flatView)
    {
        w.find<ToggleButton>("chkFlat")->setValue(flatView ? 1 : 0);
        w->show();
    }
    bool connectTo(quint16 port)
    {
        const bool connected = TestSupport::connectTcpClient(w, port);
        w.find<QPushButton>("cmdClear")->click();
        return connected;
    }
    TestSupport::Window w;
};

Result flood(bool flatView, bool plainBox, qint64 bytes, double budgetSeconds)
{
    Result r;
    std::unique_ptr<WindowUnderFlood> window;
    std::unique_ptr<PlainWindow> plain;
    FloodPeer peer;
    SocketControl* socket = nullptr;
    if (plainBox) {
        plain = std::make_unique<PlainWindow>();
        plain->log.flat = flatView;
        plain->box.show();
        plain->connectTo(peer.port());
        socket = &plain->socket;
    } else {
        window = std::make_unique<WindowUnderFlood>(flatView);
        window->connectTo(peer.port());
        socket = window->w.socket();
    }
    const QByteArray payload = TestData::pattern(bytes);
    const Watched run = watchFlood(socket, bytes, budgetSeconds, [&] { peer.start(payload); });
    r.seconds = run.seconds;
    r.maxBlockMs = run.maxBlockMs;
    r.bytesShown = run.shown;
    r.complete = run.shown >= bytes;
    r.logChars = plainBox ? plain->box.length() : window->w.logBox()->length();
    r.peakKb = run.peakKb;
    r.baseKb = run.baseKb;
    peer.stop();
    return r;
}

struct StoreRun : Watched
{
    qint64 fileBytes = 0;
    qint64 firstDifference = -1; // -1: the log is the stream, byte for byte
};

// The log against the looping payload, compared in place a piece at a time.
qint64 firstDifference(const LogStore& store, const QByteArray& payload, qint64 bytes)
{
    if (store.size() != bytes)
        return std::min<qint64>(store.size(), bytes);
    qint64 difference = -1;
    store.forEachPiece(0, store.size(), [&](const LogPiece& p) {
        if (!p.latin1) {
            difference = p.position;
            return false;
        }
        for (qint64 done = 0; done < p.length;) {
            const qint64 at = (p.position + done) % payload.size();
            const qint64 n = std::min<qint64>(p.length - done, payload.size() - at);
            if (std::memcmp(p.latin1 + done, payload.constData() + at, size_t(n)) != 0) {
                difference = p.position + done;
                return false;
            }
            done += n;
        }
        return true;
    });
    return difference;
}

StoreRun floodIntoStore(qint64 bytes, bool inMemory)
{
    StoreRun r;
    WindowUnderFlood window(true);
    LogView* view = window.w.logBox();
    if (inMemory)
        view->store().setWorkingSetLimit(std::numeric_limits<qint64>::max());

    FloodPeer peer;
    window.connectTo(peer.port());
    // Not a divisor of the flood: a piece lost or doubled anywhere shows.
    const QByteArray payload = TestData::pattern(64 * MB + 13);
    static_cast<Watched&>(r) =
        watchFlood(window.w.socket(), bytes, 3600, [&] { peer.start(payload, true, 64 * 1024, bytes); });
    r.fileBytes = view->store().fileBytes();
    r.firstDifference = firstDifference(view->store(), payload, bytes);
    peer.stop();
    return r;
}

void printStoreTable(const StoreRun& file, qint64 fileBytes, const StoreRun& memory, qint64 memoryBytes)
{
    auto rate = [](const StoreRun& r) { return r.shown / 1e6 / r.seconds; };
    auto checked = [](const StoreRun& r, qint64 bytes) {
        return r.firstDifference < 0 ? QStringLiteral("all %1 MB as sent").arg(bytes / MB)
                                     : QStringLiteral("differs at byte %1").arg(r.firstDifference);
    };
    std::vector<QStringList> rows;
    rows.push_back({QStringLiteral("flat flood, MB/s shown (file: %1 MB, memory: %2 MB)")
                        .arg(fileBytes / MB)
                        .arg(memoryBytes / MB),
                    QStringLiteral("%1 MB/s").arg(rate(file), 0, 'f', 1),
                    QStringLiteral("%1 MB/s").arg(rate(memory), 0, 'f', 1), QStringLiteral(">= 200 MB/s"),
                    verdict(rate(file) >= 200)});
    rows.push_back({QStringLiteral("  peak memory of the process"),
                    QStringLiteral("%1 MB").arg(file.peakKb / 1024),
                    QStringLiteral("%1 MB").arg(memory.peakKb / 1024), QStringLiteral("<= 512 MB"),
                    verdict(file.peakKb <= 512 * 1024)});
    rows.push_back({QStringLiteral("  of which before the flood"),
                    QStringLiteral("%1 MB").arg(file.baseKb / 1024),
                    QStringLiteral("%1 MB").arg(memory.baseKb / 1024), QString(), QString()});
    rows.push_back({QStringLiteral("  longest event-loop block"),
                    QStringLiteral("%1 ms").arg(file.maxBlockMs, 0, 'f', 1),
                    QStringLiteral("%1 ms").arg(memory.maxBlockMs, 0, 'f', 1), QStringLiteral("<= 50 ms"),
                    verdict(file.maxBlockMs <= 50)});
    rows.push_back({QStringLiteral("  the log against the stream"), checked(file, fileBytes),
                    checked(memory, memoryBytes), QStringLiteral("byte for byte"),
                    verdict(file.firstDifference < 0 && memory.firstDifference < 0)});
    rows.push_back({QStringLiteral("  text in the log's file"),
                    QStringLiteral("%1 MB").arg(file.fileBytes / MB),
                    QStringLiteral("%1 MB").arg(memory.fileBytes / MB), QString(), QString()});
    std::printf("\nFlat flood into the log's store (the peer on its own thread)\n");
    printTable({QStringLiteral("case"), QStringLiteral("with the file"), QStringLiteral("all in memory"),
                QStringLiteral("target"), QStringLiteral("result")},
               rows);
}

void row(const char* name, const Result& mine, const Result& plain, double targetMBs, double targetBlockMs)
{
    const double mineRate = mine.bytesShown / 1e6 / mine.seconds;
    const double plainRate = plain.bytesShown / 1e6 / plain.seconds;
    std::printf("%-22s | %9.1f MB/s | %9.2f MB/s%s | %7.0fx | >= %3.0f MB/s %s\n", name, mineRate, plainRate,
                plain.complete ? "" : "*", plainRate > 0 ? mineRate / plainRate : 0.0, targetMBs,
                mineRate >= targetMBs ? "PASS" : "MISS");
    std::printf("%-22s | %9.1f ms   | %9.1f ms  %s | %8s | <= %3.0f ms   %s\n", "  longest block",
                mine.maxBlockMs, plain.maxBlockMs, plain.complete ? " " : "*", "", targetBlockMs,
                mine.maxBlockMs <= targetBlockMs ? "PASS" : "MISS");
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);

    const double budget = 20;
    const qint64 scale = app.arguments().contains(QStringLiteral("--quick")) ? 16 : 1;
    std::printf("Load average at the start: %s\n", loadAverage().constData());

    // The big flood first, while the process is fresh.
    const qint64 fileBytes = 8 * GB / scale;
    const qint64 memoryBytes = 2 * GB / scale;
    const StoreRun file = floodIntoStore(fileBytes, false);
    const StoreRun memory = floodIntoStore(memoryBytes, true);
    printStoreTable(file, fileBytes, memory, memoryBytes);
    resetPeakMemory();

    // The program's box first, so that the process's peak memory is its own.
    const Result flat = flood(true, false, 64 * MB, 120);
    const qint64 baseKb = flat.baseKb;
    const Result normal = flood(false, false, 16 * MB, 120);
    const Result flatPlain = flood(true, true, 64 * MB, budget);
    const Result normalPlain = flood(false, true, 16 * MB, budget);

    std::printf("\nFlood from a loopback peer (* = stopped at the %.0f s budget, rate of what was shown)\n",
                budget);
    std::printf("%-22s | %-14s | %-15s | %-8s | %s\n", "case", "log box", "QPlainTextEdit", "ratio",
                "target");
    std::printf("-----------------------+----------------+-----------------+----------+----------------\n");
    row("flat view, 64 MB", flat, flatPlain, 100, 50);
    row("normal view, 16 MB", normal, normalPlain, 30, 100);
    const double perChar = flat.logChars > 0 ? (flat.peakKb - baseKb) * 1024.0 / flat.logChars : 0;
    std::printf("%-22s | %9.2f B/char (peak %lld MB over a %lld MB base, %lld chars) | < 4 B/char %s\n",
                "flat view memory", perChar, (long long)(flat.peakKb / 1024), (long long)(baseKb / 1024),
                (long long)flat.logChars, perChar < 4 ? "PASS" : "MISS");
    return 0;
}
