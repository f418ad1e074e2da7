// A loopback peer floods the window as fast as it can: how fast the data is
// shown, the longest time the event loop was blocked, and peak memory. Each
// case runs with the program's log box and with a QPlainTextEdit doing the
// same work; the QPlainTextEdit runs stop at a time budget.

#include "benchsupport.h"
#include "floodpeer.h"
#include "testdata.h"
#include "testsupport.h"

#include "log/LogBox.h"
#include "log/PlainLogBox.h"
#include "net/SocketControl.h"
#include "ui/Controls.h"
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

namespace {

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

Result flood(bool flatView, bool plainBox, qint64 bytes, double budgetSeconds)
{
    Result r;
    TestSupport::Window w(false);
    frmKelvane& window = *w.form;
    if (plainBox)
        window.replaceLogBox(new PlainLogBox);
    window.Form_Load();
    w.find<ToggleButton>("chkFlat")->setValue(flatView ? 1 : 0);
    window.show();

    FloodPeer peer;
    TestSupport::connectTcpClient(w, peer.port());
    w.find<QPushButton>("cmdClear")->click();
    QCoreApplication::processEvents();

    const QByteArray payload = TestData::pattern(bytes);
    r.baseKb = TestSupport::procStatusKb("VmRSS:");

    qint64 shown = 0;
    QObject::connect(window.socket(), &SocketControl::dataArrival, window.socket(),
                     [&](qint32 count) { shown += count; });
    LoopWatch watch;
    r.seconds = watch.run(
        budgetSeconds, [&] { return shown >= bytes; }, [&] { peer.start(payload); });
    r.maxBlockMs = watch.maxBlockMs();
    r.bytesShown = shown;
    r.complete = shown >= bytes;
    r.logChars = window.logBox()->length();
    r.peakKb = TestSupport::procStatusKb("VmHWM:");
    peer.stop();
    return r;
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

    const qint64 MB = 1024 * 1024;
    const double budget = 20;

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
