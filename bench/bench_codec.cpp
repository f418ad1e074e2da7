// Throughput of the payload codec on large payloads.
//
// MB/s counts payload bytes (1 MB = 1,048,576 bytes), whatever form a row's
// input has. Each row is timed twice, best of three runs each:
//  - "new memory": the allocator as it comes, so every result of 32 MB or
//    more lands in pages fresh from the kernel, which must fault them in;
//  - "reused memory": the allocator keeps freed memory, so the figure is the
//    codec's own work. The target is judged on both.
// The floor line shows what merely filling a new result of that size costs.

#include "send/Codec.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

constexpr double TargetMBps = 300.0;
constexpr qsizetype MB = 1024 * 1024;

QByteArray makePayload(qsizetype size)
{
    QByteArray s(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        s[i] = char((i * 131 + i / 256) & 0xFF);
    return s;
}

double bestSeconds(const std::function<qsizetype()>& run, qsizetype expectedSize)
{
    double best = 1e9;
    for (int r = 0; r < 3; ++r) {
        QElapsedTimer timer;
        timer.start();
        const qsizetype size = run();
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (size != expectedSize) {
            std::printf("wrong result size %lld, expected %lld\n", qlonglong(size), qlonglong(expectedSize));
            std::exit(1);
        }
        if (seconds < best)
            best = seconds;
    }
    return best;
}

struct Row
{
    QString name;
    qsizetype payloadBytes;
    std::function<qsizetype()> run;
    qsizetype resultSize;
    double newMemory = 0;
    double reusedMemory = 0;
};

double mbps(const Row& row, double seconds)
{
    return double(row.payloadBytes) / MB / seconds;
}

const char* verdict(double mbps)
{
    return mbps >= TargetMBps ? "PASS" : "MISS";
}

// Filling a brand-new string of the size of the largest result: no codec can
// be faster than this while its result needs new pages.
double freshFill(qsizetype bytes)
{
    QElapsedTimer timer;
    timer.start();
    QByteArray s(bytes, Qt::Uninitialized);
    std::fill(s.data(), s.data() + bytes, '0');
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (s.at(bytes / 2) != '0')
        std::exit(1);
    return seconds;
}

} // namespace

int main()
{
    const QByteArray separator = QByteArrayLiteral(" ");
    std::vector<QByteArray> keep; // inputs, alive for the whole run
    keep.reserve(6);              // the rows refer to them, so they must not move
    std::vector<QString> texts;   // the spaced forms as typed into the line box
    texts.reserve(2);
    std::vector<Row> rows;
    for (const qsizetype size : {qsizetype(10 * MB), qsizetype(64 * MB)}) {
        keep.push_back(makePayload(size));
        const QByteArray& payload = keep.back();
        keep.push_back(AsciiToHex(payload));
        const QByteArray& hex = keep.back();
        keep.push_back(SpacedHex(payload));
        const QByteArray& spaced = keep.back();
        texts.push_back(QString::fromLatin1(spaced));
        const QString& spacedText = texts.back();
        const QString label = QStringLiteral(" %1 MB").arg(size / MB);

        rows.push_back({QStringLiteral("SpacedHex") + label, size,
                        [&payload] { return SpacedHex(payload).size(); }, 3 * size - 1});
        rows.push_back({QStringLiteral("AsciiToHex") + label, size,
                        [&payload] { return AsciiToHex(payload).size(); }, 2 * size});
        rows.push_back(
            {QStringLiteral("HexToAscii") + label, size, [&hex] { return HexToAscii(hex).size(); }, size});
        rows.push_back({QStringLiteral("ParseHexLine(spaced)") + label, size,
                        [&spaced] { return ParseHexLine(spaced).size(); }, size});
        rows.push_back({QStringLiteral("ReadHexLine(spaced)") + label, size,
                        [&spacedText] { return ReadHexLine(spacedText).bytes; }, size});
        rows.push_back({QStringLiteral("InsertSeparator") + label, size,
                        [&hex, &separator] { return InsertSeparator(hex, 2, separator).size(); },
                        3 * size - 1});
    }

    const double floorSeconds = freshFill(3 * 64 * MB);
    for (Row& row : rows)
        row.newMemory = bestSeconds(row.run, row.resultSize);

#ifdef __GLIBC__
    // From here on freed blocks stay with the process instead of going back to the kernel.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
    for (Row& row : rows) {
        row.run(); // warms the allocator up to this row's sizes
        row.reusedMemory = bestSeconds(row.run, row.resultSize);
    }

    std::printf("%-26s %7s | %-25s | %-25s | %s\n", "", "", "  new memory", "  reused memory", "");
    std::printf("%-26s %7s | %8s %9s %6s | %8s %9s %6s | %s\n", "operation", "payload", "seconds", "MB/s", "",
                "seconds", "MB/s", "", "target");
    int misses = 0;
    for (const Row& row : rows) {
        const double cold = mbps(row, row.newMemory);
        const double warm = mbps(row, row.reusedMemory);
        misses += (cold < TargetMBps) + (warm < TargetMBps);
        std::printf("%-26s %4lld MB | %8.4f %9.1f %6s | %8.4f %9.1f %6s | %.0f MB/s\n", qPrintable(row.name),
                    qlonglong(row.payloadBytes / MB), row.newMemory, cold, verdict(cold), row.reusedMemory,
                    warm, verdict(warm), TargetMBps);
    }
    std::printf("floor: filling a new %lld MB string (the spaced form of 64 MB) takes %.4f s, "
                "%.1f MB/s of payload at best while results need new memory\n",
                qlonglong(3 * 64), floorSeconds, 64.0 / floorSeconds);
    std::printf("%d of %d figures miss the target\n", misses, int(2 * rows.size()));
    return 0;
}
