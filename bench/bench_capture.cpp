// What a capture to a file costs the window. A flat and a normal-view TCP
// flood from a loopback peer are shown by the window with the capture off and
// on, by turns, three times each; the medians of the wire speed are compared
// (target: the flat view with capture at least 0.8 of it without), with the
// peak memory of each run and the longest block of the event loop.
//
// Then the same flat flood is captured to a slow disk. No slow file system is
// at hand, so the disk is throttled in the process: each sync of the capture
// takes as long as a disk of the given speed would to write what came since
// the last one (LogCapture::setSlowDisk), and the writes wait behind it. The
// capture must stop at its backlog and say so, and the loop never block over
// 50 ms. Arguments: --quick (a sixteenth of the sizes).

#include "benchsupport.h"
#include "floodpeer.h"
#include "testdata.h"
#include "testsupport.h"

#include "log/LogCapture.h"
#include "net/SocketControl.h"
#include "ui/Controls.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>

#include <cstdio>

using namespace BenchSupport;

namespace {

constexpr qint64 MB = 1024 * 1024;
constexpr int Runs = 3;

struct Run
{
    qint64 bytes = 0;
    double seconds = 0;
    double maxBlockMs = 0;
    double maxBusyMs = 0;
    qint64 peakKb = 0;
    qint64 captured = 0; // the capture file's size
    QString ending;      // the capture's last entry
    double mbs() const { return seconds > 0 ? bytes / 1e6 / seconds : 0; }
};

// The window shows bytes of the flood in the view asked for, capturing to a
// file when asked, on a disk of slowDisk bytes a second (0: as fast as it is).
Run flood(const QByteArray& payload, qint64 bytes, bool flat, bool capture, qint64 slowDisk = 0)
{
    QTemporaryDir dir;
    resetPeakMemory();
    Run r;
    {
        TestSupport::Window w;
        w.find<ToggleButton>("chkFlat")->setValue(flat ? 1 : 0);
        w->show();
        auto* logCapture = w.find<LogCapture>(QStringLiteral("logCapture"));
        logCapture->setSlowDisk(slowDisk);
        FloodPeer peer;
        peer.setKeeping(false);
        if (!TestSupport::connectTcpClient(w, peer.port()))
            qFatal("the window did not connect");
        w.find<QPushButton>("cmdClear")->click();
        if (capture) {
            w.captureReplies->push_back({0, dir.filePath(QStringLiteral("capture.log"))});
            w.find<QAction>(QStringLiteral("mnTools_Capture"))->trigger();
        }
        QCoreApplication::processEvents();
        QObject::connect(w.socket(), &SocketControl::dataArrival, w.socket(),
                         [&r](qint32 count) { r.bytes += count; });
        LoopWatch watch;
        r.seconds = watch.run(
            3600, [&] { return r.bytes >= bytes; }, [&] { peer.start(payload, true, 64 * 1024, bytes); });
        r.maxBlockMs = watch.maxBlockMs();
        r.maxBusyMs = watch.maxBusyMs();
        peer.stop();
        if (capture) {
            w.find<QAction>(QStringLiteral("mnTools_StopCapture"))->trigger();
            QTest::qWaitFor([&] { return !logCapture->isBusy(); }, 600000);
            r.captured = QFileInfo(dir.filePath(QStringLiteral("capture.log"))).size();
        }
        r.peakKb = TestSupport::procStatusKb("VmHWM:");
        // The last entry alone: the whole log as one text would cost more than the run.
        const qsizetype last = w.logBox()->lastIndexOf(QStringLiteral("> - ")) + 4;
        r.ending = capture ? w.logBox()->store().mid(last, w.logBox()->length() - last).trimmed() : QString();
        w->close();
    }
    return r;
}

Run medianOf(std::vector<Run> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.mbs() < b.mbs(); });
    return runs[runs.size() / 2];
}

QStringList row(const QString& name, const Run& r)
{
    return {name,
            QStringLiteral("%1 MB/s").arg(r.mbs(), 0, 'f', 1),
            QStringLiteral("%1 MB").arg(r.peakKb / 1024),
            ms(r.maxBlockMs / 1e3),
            ms(r.maxBusyMs / 1e3),
            r.captured > 0 ? QStringLiteral("%1 MB").arg(r.captured / double(MB), 0, 'f', 1) : QString()};
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);
    const qint64 scale = app.arguments().contains(QStringLiteral("--quick")) ? 16 : 1;
    std::printf("Load average at the start: %s\n", loadAverage().constData());
    const QByteArray payload = TestData::pattern(64 * MB + 13);
    const qint64 flatBytes = 2048 * MB / scale;
    const qint64 normalBytes = 512 * MB / scale;

    std::vector<QStringList> rows;
    std::vector<QStringList> ratios;
    for (const bool flat : {true, false}) {
        const qint64 bytes = flat ? flatBytes : normalBytes;
        const QString view = flat ? QStringLiteral("flat view") : QStringLiteral("normal view");
        std::vector<Run> off, on;
        for (int i = 0; i < Runs; ++i) {
            off.push_back(flood(payload, bytes, flat, false));
            on.push_back(flood(payload, bytes, flat, true));
            std::printf("  %s, run %d: off %.1f MB/s, on %.1f MB/s (%s; load %s)\n", qPrintable(view), i + 1,
                        off.back().mbs(), on.back().mbs(), qPrintable(on.back().ending),
                        loadAverage().constData());
            std::fflush(stdout);
        }
        const Run a = medianOf(off), b = medianOf(on);
        rows.push_back(row(view + QStringLiteral(", %1 MB, capture off").arg(bytes / MB), a));
        rows.push_back(row(view + QStringLiteral(", %1 MB, capture on").arg(bytes / MB), b));
        const double ratio = a.mbs() > 0 ? b.mbs() / a.mbs() : 0;
        ratios.push_back({view, QString::number(ratio, 'f', 2), flat ? QStringLiteral(">= 0.8") : QString(),
                          flat ? verdict(ratio >= 0.8) : QString()});
    }
    std::printf("\nA flood shown with capture off and on (median of %d runs each)\n", Runs);
    const QStringList heads = {QStringLiteral("case"),         QStringLiteral("wire speed"),
                               QStringLiteral("peak memory"),  QStringLiteral("longest block"),
                               QStringLiteral("its CPU time"), QStringLiteral("captured")};
    printTable(heads, rows);
    std::printf("\nWire speed with capture on / off\n");
    printTable(
        {QStringLiteral("view"), QStringLiteral("ratio"), QStringLiteral("target"), QStringLiteral("result")},
        ratios);

    // A disk far slower than the flood: the backlog fills, and the capture stops.
    const qint64 slowBytes = 256 * MB; // the backlog fills in the quick run too
    std::vector<QStringList> slow;
    QStringList endings;
    for (const qint64 diskRate : {qint64(200) * MB, qint64(20) * MB}) {
        const Run r = flood(payload, slowBytes, true, true, diskRate);
        QStringList cells = row(
            QStringLiteral("flat view, %1 MB, disk of %2 MB/s").arg(slowBytes / MB).arg(diskRate / MB), r);
        cells << verdict(r.maxBlockMs <= 50);
        slow.push_back(cells);
        endings << r.ending;
    }
    std::printf("\nCapturing a flood to a slow disk (throttled in the process)\n");
    printTable(heads + QStringList{QStringLiteral("block <= 50 ms")}, slow);
    for (const QString& ending : endings)
        std::printf("  %s\n", qPrintable(ending));
    std::printf("Load average at the end: %s\n", loadAverage().constData());
    return 0;
}
