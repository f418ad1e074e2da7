// The log's tools over a log of 1 GB: Find with the needle at its very end
// (exact and ignoring case), and Save Log As..., each on a log held all in
// memory and on one whose store keeps all but 256 MB in its file. Each case
// runs on the window's event loop as the program runs it, and the longest
// time the loop was held up is shown beside it.
//
// Run on the offscreen platform in a Release build. The saved file goes to a
// temporary folder on the disk and is removed; check free disk first (2 GB
// for the saves, 1 GB for the store's own file).

#include "log/LogSaver.h"
#include "log/LogSearch.h"
#include "log/LogStore.h"

#include "benchsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <limits>
#include <memory>

using namespace BenchSupport;

namespace {

constexpr qsizetype MB = 1024 * 1024;
constexpr qsizetype GB = 1024 * MB;
constexpr double BudgetSeconds = 60;
const QString Needle = QStringLiteral("the needle at the end of the log");

struct Timed
{
    double seconds = 0;
    double maxBlockMs = 0;
    double maxBusyMs = 0; // the window's own work within that block
    bool ok = false;
};

// Starts the work and runs the event loop until it is done, timing the work
// and the longest block of the loop.
template <typename Start> void timeLoop(Timed& t, const bool& done, Start start)
{
    QElapsedTimer clock;
    LoopWatch watch;
    watch.run(
        BudgetSeconds, [&] { return done; },
        [&] {
            clock.start();
            start();
        });
    t.seconds = clock.nsecsElapsed() / 1e9;
    t.maxBlockMs = watch.maxBlockMs();
    t.maxBusyMs = watch.maxBusyMs();
}

std::unique_ptr<LogStore> bigLog(qsizetype size, bool inMemory)
{
    auto store = std::make_unique<LogStore>();
    if (inMemory)
        store->setWorkingSetLimit(std::numeric_limits<qint64>::max());
    const QString block = logOfSize(MB);
    while (store->size() < size)
        store->append(block);
    store->append(Needle);
    store->settle();
    return store;
}

Timed find(const LogStore& store, Qt::CaseSensitivity cs)
{
    LogSearch search(&store);
    Timed t;
    qsizetype found = -1;
    bool done = false;
    QObject::connect(&search, &LogSearch::found, [&](qsizetype pos) {
        found = pos;
        done = true;
    });
    QObject::connect(&search, &LogSearch::notFound, [&] { done = true; });
    QObject::connect(&search, &LogSearch::failed, [&] { done = true; });
    timeLoop(t, done,
             [&] { search.start(cs == Qt::CaseSensitive ? Needle : Needle.toUpper(), 0, true, cs); });
    t.ok = found == store.size() - Needle.size();
    return t;
}

Timed save(const LogStore& store, const QString& path)
{
    LogSaver saver(&store);
    Timed t;
    bool done = false;
    QObject::connect(&saver, &LogSaver::saved, [&] {
        t.ok = true;
        done = true;
    });
    QObject::connect(&saver, &LogSaver::failed, [&](const QString& why) {
        std::printf("  save failed: %s\n", qPrintable(why));
        done = true;
    });
    timeLoop(t, done, [&] { saver.start(path); });
    t.ok = t.ok && QFileInfo(path).size() == store.size();
    QFile::remove(path);
    return t;
}

struct Figures
{
    Timed exact;
    Timed folded;
    Timed saved;
    qsizetype size = 0;
};

Figures run(bool inMemory, qsizetype size, const QString& folder)
{
    resetPeakMemory();
    auto store = bigLog(size, inMemory);
    Figures f;
    f.size = store->size();
    std::printf("  %s: %lld MB logged, %lld MB in its file\n", inMemory ? "memory" : "file",
                (long long)(store->size() / MB), (long long)(store->fileBytes() / MB));
    std::fflush(stdout);
    f.exact = find(*store, Qt::CaseSensitive);
    f.folded = find(*store, Qt::CaseInsensitive);
    f.saved = save(*store, QDir(folder).filePath(QStringLiteral("saved.log")));
    return f;
}

QString findCell(const Timed& t)
{
    return t.ok ? ms(t.seconds) : QStringLiteral("not found");
}

QString blockCell(const Timed& t)
{
    return QStringLiteral("%1 (own work %2)").arg(ms(t.maxBlockMs / 1e3), ms(t.maxBusyMs / 1e3));
}

QString rateCell(const Timed& t, qsizetype size)
{
    return t.ok ? QStringLiteral("%1 MB/s").arg(size / MB / t.seconds, 0, 'f', 0) : QStringLiteral("failed");
}

} // namespace

int main(int argc, char** argv)
{
    prepareBenchmark();
    QCoreApplication app(argc, argv);
    // --quick: a sixteenth of the size, to try the benchmark out.
    const qsizetype size = app.arguments().contains(QStringLiteral("--quick")) ? GB / 16 : GB;
    QTemporaryDir folder(QDir::homePath() + QStringLiteral("/kelvane-bench-XXXXXX"));
    std::printf("The log's tools on a log of %lld MB, all in memory and with its file.\n"
                "Load average at the start: %s (the machine has %d cores).\n\n",
                (long long)(size / MB), loadAverage().constData(), QThread::idealThreadCount());

    const Figures memory = run(true, size, folder.path());
    const Figures file = run(false, size, folder.path());

    std::vector<QStringList> rows;
    auto findRow = [&](const QString& name, const Timed& m, const Timed& f) {
        rows.push_back({name, findCell(m), findCell(f), QStringLiteral("< 1 s"),
                        verdict(m.ok && f.ok && m.seconds < 1 && f.seconds < 1)});
        rows.push_back({QStringLiteral("  longest event-loop block"), blockCell(m), blockCell(f),
                        QStringLiteral("<= 50 ms"), verdict(m.maxBlockMs <= 50 && f.maxBlockMs <= 50)});
    };
    findRow(QStringLiteral("find, needle at the end, exact case"), memory.exact, file.exact);
    findRow(QStringLiteral("find, needle at the end, ignoring case"), memory.folded, file.folded);
    const bool fast = memory.saved.ok && file.saved.ok && memory.size / MB / memory.saved.seconds >= 200 &&
                      file.size / MB / file.saved.seconds >= 200;
    rows.push_back({QStringLiteral("save, on the disk (synced)"), rateCell(memory.saved, memory.size),
                    rateCell(file.saved, file.size), QStringLiteral(">= 200 MB/s"), verdict(fast)});
    rows.push_back({QStringLiteral("  longest event-loop block"), blockCell(memory.saved),
                    blockCell(file.saved), QStringLiteral("<= 50 ms"),
                    verdict(memory.saved.maxBlockMs <= 50 && file.saved.maxBlockMs <= 50)});
    std::printf("\n");
    printTable({QStringLiteral("case"), QStringLiteral("all in memory"), QStringLiteral("with the file"),
                QStringLiteral("target"), QStringLiteral("result")},
               rows);
    return 0;
}
