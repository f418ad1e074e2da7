// The log of any length: its store keeps 256 MB in memory and older text in a
// file. Each case runs on the log box as the program has it and, beside it,
// on the same box with the store's working set unbounded (everything in
// memory, as the log was kept before).
//
//  1. Append cost: one entry appended (with the caret moved to the end and a
//     paint) to logs of 100 KB, 10 MB, 100 MB and 4 GB.
//  2. One key typed at the start, the middle and the end of a 1 GB log; then
//     Ctrl+A and a key over all of it, Ctrl+Z, and an entry appended after
//     Ctrl+A and a key again, which ends the undo and lets the old text go.
//  3. The view put at random places of an 8 GB log (4 GB in memory) and
//     painted; the log holds short entries and, every 512 MB, a 16 MB line.
//
// Run on the offscreen platform in a Release build. The file goes to the cache
// folder (QStandardPaths::CacheLocation) and is gone when the program ends;
// check free disk first (8 GB).

#include "log/LogStore.h"
#include "ui/LogView.h"

#include "benchsupport.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>

using namespace BenchSupport;

namespace {

constexpr qsizetype KB = 1024;
constexpr qsizetype MB = 1024 * KB;
constexpr qsizetype GB = 1024 * MB;
constexpr qsizetype LongLineEvery = 512 * MB;
constexpr qsizetype LongLine = 16 * MB;

QString sizeText(qsizetype bytes)
{
    return bytes >= GB ? QStringLiteral("%1 GB").arg(bytes / GB) : QStringLiteral("%1 MB").arg(bytes / MB);
}

struct Figures
{
    std::vector<double> append; // median seconds per size
    std::vector<double> keys;   // slowest key at start, middle, end
    std::vector<double>
        undo; // the key over all, its undo, the append that ends one, a Clear, its undo and end
    double slowestPaint = 0;
    double medianPaint = 0;
    qsizetype paintedLog = 0;
    qint64 peakKb = 0;
};

std::unique_ptr<LogView> makeView(bool inMemory)
{
    auto view = std::make_unique<LogView>();
    if (inMemory)
        view->store().setWorkingSetLimit(std::numeric_limits<qint64>::max());
    view->resize(502, 189); // the log box's size in the window
    view->show();
    QCoreApplication::processEvents();
    return view;
}

// Grows the log to size with blocks of entries, a long line now and then.
void grow(LogView& view, qsizetype size)
{
    static const QString block = logOfSize(MB);
    static const QString line = binaryPiece(LongLine, 7);
    while (view.length() < size) {
        const qsizetype before = view.length();
        view.append(block);
        if (before / LongLineEvery != view.length() / LongLineEvery)
            view.append(line);
    }
    view.setCaretPosition(view.length());
    // Past the frame in which appends only store, so the next paint is real.
    QTest::qWait(50);
}

// The program's write pattern: append, caret to the end, paint.
double appendCost(LogView& view)
{
    for (int i = 0; i < 20; ++i) // caches warm
        view.append(logEntry(i));
    std::vector<double> times;
    for (int i = 0; i < 200; ++i)
        times.push_back(secondsOf([&] {
            view.append(logEntry(i));
            view.setCaretPosition(view.length());
            QCoreApplication::processEvents();
        }));
    return median(times);
}

// The slowest of a few keys typed at a place, each painted.
double keyCost(LogView& view, qsizetype pos)
{
    view.setFocus();
    view.setCaretPosition(pos);
    QTest::qWait(50);
    const PaintCounter paints(view.viewport());
    double slowest = 0;
    const qsizetype before = view.length();
    for (int i = 0; i < 10; ++i)
        slowest = std::max(slowest, secondsOf([&] {
                               QTest::keyClick(&view, Qt::Key_X);
                               view.viewport()->repaint();
                           }));
    if (view.length() != before + 10 || paints.paints < 10)
        std::printf("  keys not taken or not painted: %lld characters, %d paints\n",
                    (long long)(view.length() - before), paints.paints);
    return slowest;
}

// Each step painted; the text taken away by a key over all of the log waits
// for Ctrl+Z until the next append.
std::vector<double> undoCosts(LogView& view)
{
    view.store().settle();
    const QString start = view.store().mid(0, 1000);
    const qsizetype size = view.length();
    auto painted = [&view](const std::function<void()>& work) {
        return secondsOf([&] {
            work();
            view.viewport()->repaint();
        });
    };
    std::vector<double> times;
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    times.push_back(painted([&] { QTest::keyClick(&view, Qt::Key_X); }));
    times.push_back(painted([&] { QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier); }));
    if (view.length() != size || view.store().mid(0, 1000) != start)
        std::printf("  the undo did not bring the log back: %lld characters\n", (long long)view.length());
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_X);
    times.push_back(painted([&] { view.append(logEntry(0)); }));
    // The log grown again, most of it in the file, and cleared.
    grow(view, size);
    view.store().settle();
    const qsizetype grown = view.length();
    times.push_back(painted([&] { view.clear(); }));
    // Clear keeps what it took for Ctrl+Z; the next append lets it go.
    times.push_back(painted([&] { QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier); }));
    if (view.length() != grown)
        std::printf("  the undo did not bring the cleared log back: %lld characters\n",
                    (long long)view.length());
    view.clear();
    times.push_back(painted([&] { view.append(logEntry(0)); }));
    return times;
}

void paintAtRandomPlaces(LogView& view, Figures& f)
{
    QRandomGenerator random(12345);
    const PaintCounter paints(view.viewport());
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        QScrollBar* v = view.verticalScrollBar();
        QScrollBar* h = view.horizontalScrollBar();
        const int row = int(random.bounded(v->maximum() + 1));
        // Mostly the start of lines, now and then far along the long lines.
        const int column = i % 4 == 0 ? int(random.bounded(h->maximum() + 1)) : 0;
        times.push_back(secondsOf([&] {
            v->setValue(row);
            h->setValue(column);
            view.viewport()->repaint();
        }));
    }
    if (paints.paints < int(times.size()))
        std::printf("  only %d paints\n", paints.paints);
    f.slowestPaint = *std::max_element(times.begin(), times.end());
    f.medianPaint = median(times);
    f.paintedLog = view.length();
}

Figures run(bool inMemory, qsizetype paintSize, qsizetype scale)
{
    Figures f;
    resetPeakMemory();
    {
        auto view = makeView(inMemory);
        for (qsizetype size : {100 * KB, 10 * MB, 100 * MB, 4 * GB / scale}) {
            grow(*view, size);
            f.append.push_back(appendCost(*view));
            std::printf("  %s: %lld MB logged\n", inMemory ? "memory" : "file",
                        (long long)(view->length() / MB));
            std::fflush(stdout);
        }
        grow(*view, paintSize);
        paintAtRandomPlaces(*view, f);
    }
    {
        auto view = makeView(inMemory);
        grow(*view, GB / scale);
        for (qsizetype pos : {qsizetype(0), view->length() / 2, view->length()})
            f.keys.push_back(keyCost(*view, pos));
        f.undo = undoCosts(*view);
    }
    f.peakKb = TestSupport::procStatusKb("VmHWM:");
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --quick: a sixteenth of the big sizes, to try the benchmark out.
    const qsizetype scale = app.arguments().contains(QStringLiteral("--quick")) ? 16 : 1;
    std::printf("The log's store: with the file (working set %lld MB) beside everything in memory.\n"
                "Load average at the start: %s (the machine has %d cores).\n\n",
                (long long)(LogStore::WorkingSetBytes / MB), loadAverage().constData(),
                QThread::idealThreadCount());

    const Figures memory = run(true, 4 * GB / scale, scale);
    const Figures file = run(false, 8 * GB / scale, scale);

    std::vector<QStringList> rows;
    const QString sizes[] = {QStringLiteral("100 KB"), QStringLiteral("10 MB"), QStringLiteral("100 MB"),
                             sizeText(4 * GB / scale)};
    for (size_t i = 0; i < 4; ++i)
        rows.push_back({QStringLiteral("append one entry, %1 log").arg(sizes[i]), ms(file.append[i]),
                        ms(memory.append[i]), QString(), QString()});
    const double growth = file.append[3] / file.append[0];
    rows.push_back({QStringLiteral("append cost, %1 log / 100 KB log").arg(sizes[3]),
                    QStringLiteral("%1x").arg(growth, 0, 'f', 2),
                    QStringLiteral("%1x").arg(memory.append[3] / memory.append[0], 0, 'f', 2),
                    QStringLiteral("<= 2x"), verdict(growth <= 2)});
    const char* places[] = {"start", "middle", "end"};
    for (size_t i = 0; i < 3; ++i)
        rows.push_back({QStringLiteral("key typed at the %1 of a %2 log, slowest of 10")
                            .arg(QLatin1String(places[i]), sizeText(GB / scale)),
                        ms(file.keys[i]), ms(memory.keys[i]), QStringLiteral("<= 5 ms"),
                        verdict(file.keys[i] <= 0.005)});
    const char* undoSteps[] = {"Ctrl+A and a key over all",
                               "Ctrl+Z after it",
                               "the next append, which ends the undo",
                               "Clear",
                               "Ctrl+Z after a Clear",
                               "the next append after a Clear, which lets it go"};
    for (size_t i = 0; i < std::size(undoSteps); ++i)
        rows.push_back(
            {QStringLiteral("%1 of a %2 log, painted").arg(QLatin1String(undoSteps[i]), sizeText(GB / scale)),
             ms(file.undo[i]), ms(memory.undo[i]), QStringLiteral("<= 50 ms"),
             verdict(file.undo[i] <= 0.05 && memory.undo[i] <= 0.05)});
    rows.push_back({QStringLiteral("paint at 200 random places, slowest (file: %1 log; memory: %2)")
                        .arg(sizeText(file.paintedLog), sizeText(memory.paintedLog)),
                    ms(file.slowestPaint), ms(memory.slowestPaint), QStringLiteral("<= 16 ms"),
                    verdict(file.slowestPaint <= 0.016)});
    rows.push_back({QStringLiteral("  median paint"), ms(file.medianPaint), ms(memory.medianPaint), QString(),
                    QString()});
    rows.push_back({QStringLiteral("peak memory of the process"),
                    QStringLiteral("%1 MB").arg(file.peakKb / 1024),
                    QStringLiteral("%1 MB").arg(memory.peakKb / 1024), QString(), QString()});
    std::printf("\n");
    printTable({QStringLiteral("case"), QStringLiteral("with the file"), QStringLiteral("all in memory"),
                QStringLiteral("target"), QStringLiteral("result")},
               rows);
    return 0;
}
