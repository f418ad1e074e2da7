// How close the window comes to a plain reader. The same stream, from the
// same sender on its own thread, is read and discarded by a loop that does
// nothing else, and shown by the window as the program has it (the log with
// its file). Each case runs the plain reader and the window by turns, three
// times, and keeps the median of each; the ratio is window / plain reader.
// A TCP stream is also read as socat reads it, the reader the targets were
// set against: they are judged against it, and the ratio to a loop of large
// reads is shown beside it.
//
// Cases: a flat TCP flood, a normal-view TCP flood, and a UDP flood of 1 KB
// datagrams in each view. Arguments: --quick (a sixteenth of the sizes), and
// any of flat, normal, udp to run only those cases; window runs only the
// window's side (for a profiler).

#include "DatagramSender.h"
#include "benchsupport.h"
#include "floodpeer.h"
#include "testdata.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "ui/Controls.h"
#include "ui/frmKelvane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace BenchSupport;

namespace {

constexpr qint64 MB = 1024 * 1024;
constexpr int Runs = 3;
// What a plain reader reads at a time: what the peer writes at a time.
constexpr qsizetype ReadSize = 64 * 1024;
// What socat reads at a time unless told otherwise.
constexpr qsizetype SocatReadSize = 8 * 1024;
// The receive buffer the program asks for, so that both readers start alike.
constexpr int UdpReceiveBuffer = 64 * 1024 * 1024;
// Quiet time after the sender is done before a UDP run counts what it has.
constexpr int QuietMs = 500;

struct Rate
{
    qint64 bytes = 0;
    double seconds = 0;
    qint64 lost = 0; // datagrams
    double mbs() const { return seconds > 0 ? bytes / 1e6 / seconds : 0; }
};

// How a plain reader reads: a blocking loop of large reads, or as socat does
// it (the reader the figures were first taken against): wait in poll, read
// 8 KB, write it on, here to /dev/null.
enum class Reader
{
    Recv,
    Socat
};

// A blocking TCP client of the peer that reads everything and keeps nothing.
Rate plainTcp(const QByteArray& payload, qint64 bytes, Reader reader)
{
    FloodPeer peer;
    peer.setKeeping(false);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(peer.port());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        qFatal("cannot connect to the peer");
    const bool socat = reader == Reader::Socat;
    std::vector<char> buffer(static_cast<size_t>(socat ? SocatReadSize : ReadSize));
    const int sink = socat ? ::open("/dev/null", O_WRONLY) : -1;
    Rate r;
    QElapsedTimer clock;
    clock.start();
    peer.start(payload, true, 64 * 1024, bytes);
    while (r.bytes < bytes) {
        pollfd p{fd, POLLIN, 0};
        if (socat && ::poll(&p, 1, -1) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0 || (socat && ::write(sink, buffer.data(), size_t(n)) != n))
            break;
        r.bytes += n;
    }
    r.seconds = clock.nsecsElapsed() / 1e9;
    if (sink >= 0)
        ::close(sink);
    ::close(fd);
    peer.stop();
    return r;
}

// The window, connected to the peer, shows the flood in the view asked for.
Rate windowTcp(const QByteArray& payload, qint64 bytes, bool flat)
{
    TestSupport::Window w;
    w.find<ToggleButton>("chkFlat")->setValue(flat ? 1 : 0);
    w->show();
    FloodPeer peer;
    peer.setKeeping(false);
    if (!TestSupport::connectTcpClient(w, peer.port()))
        qFatal("the window did not connect");
    w.find<QPushButton>("cmdClear")->click();
    QCoreApplication::processEvents();
    Rate r;
    QObject::connect(w.socket(), &SocketControl::dataArrival, w.socket(),
                     [&r](qint32 count) { r.bytes += count; });
    LoopWatch watch;
    r.seconds = watch.run(
        3600, [&] { return r.bytes >= bytes; }, [&] { peer.start(payload, true, 64 * 1024, bytes); });
    peer.stop();
    return r;
}

// A UDP socket that reads datagrams one by one and keeps nothing.
Rate plainUdp(int count)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    // As the program's reader asks for it.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &UdpReceiveBuffer, sizeof UdpReceiveBuffer) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &UdpReceiveBuffer, sizeof UdpReceiveBuffer);
    std::vector<char> buffer(65536);
    DatagramSender sender(ntohs(addr.sin_port), count, 0);
    Rate r;
    int got = 0;
    QElapsedTimer clock;
    clock.start();
    sender.start();
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, QuietMs) <= 0) {
            if (sender.done())
                break;
            continue;
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            ++got;
            r.bytes += n;
            r.seconds = clock.nsecsElapsed() / 1e9;
        }
    }
    r.lost = sender.sent() - got;
    ::close(fd);
    return r;
}

// The window as a UDP peer shows the datagrams in the view asked for.
Rate windowUdp(int count, bool flat)
{
    TestSupport::Window w;
    w.find<ToggleButton>("chkFlat")->setValue(flat ? 1 : 0);
    w->show();
    SocketControl* socket = w.socket();
    TestSupport::clickConnect(w, 0, 1, QStringLiteral("9"));
    w.find<QPushButton>("cmdClear")->click();
    QCoreApplication::processEvents();
    DatagramSender sender(quint16(socket->LocalPort()), count, 0);
    Rate r;
    int got = 0;
    qint64 dropped = 0;
    QElapsedTimer clock;
    QElapsedTimer quiet;
    quiet.start();
    QObject::connect(socket, &SocketControl::dataArrival, socket, [&](qint32 n) {
        ++got;
        r.bytes += n;
        r.seconds = clock.nsecsElapsed() / 1e9;
        quiet.restart();
    });
    QObject::connect(socket, &SocketControl::datagramsDropped, socket, [&](qint64 n) { dropped += n; });
    LoopWatch watch;
    watch.run(
        600, [&] { return sender.done() && (got + dropped >= sender.sent() || quiet.elapsed() > QuietMs); },
        [&] {
            clock.start();
            quiet.restart();
            sender.start();
        });
    r.lost = sender.sent() - got;
    return r;
}

Rate medianOf(std::vector<Rate> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Rate& a, const Rate& b) { return a.mbs() < b.mbs(); });
    return runs[runs.size() / 2];
}

struct Case
{
    QString name;
    Rate window;
    Rate plain;
    Rate socat; // TCP only
    double target = 0;
    QByteArray load;
};

// The plain reader and the window by turns, so that both see the machine alike.
Case compare(const QString& name, double target, bool windowOnly, const std::function<Rate()>& plain,
             const std::function<Rate()>& window, const std::function<Rate()>& socat = {})
{
    Case c{name, {}, {}, {}, target, loadAverage()};
    std::vector<Rate> plains;
    std::vector<Rate> socats;
    std::vector<Rate> windows;
    for (int i = 0; i < (windowOnly ? 1 : Runs); ++i) {
        if (!windowOnly)
            plains.push_back(plain());
        if (!windowOnly && socat)
            socats.push_back(socat());
        windows.push_back(window());
        std::printf(
            "  %s, run %d: plain reader %.1f MB/s, socat's way %.1f MB/s, window %.1f MB/s (load %s)\n",
            qPrintable(name), i + 1, plains.empty() ? 0.0 : plains.back().mbs(),
            socats.empty() ? 0.0 : socats.back().mbs(), windows.back().mbs(), loadAverage().constData());
        std::fflush(stdout);
    }
    c.window = medianOf(windows);
    c.plain = plains.empty() ? Rate() : medianOf(plains);
    c.socat = socats.empty() ? Rate() : medianOf(socats);
    return c;
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 scale = args.contains(QStringLiteral("--quick")) ? 16 : 1;
    const bool windowOnly = args.contains(QStringLiteral("window"));
    const bool any = args.contains(QStringLiteral("flat")) || args.contains(QStringLiteral("normal")) ||
                     args.contains(QStringLiteral("udp"));
    auto wanted = [&](const char* name) { return !any || args.contains(QLatin1String(name)); };
    std::printf("Load average at the start: %s\n", loadAverage().constData());

    // Not a divisor of the floods: every arrival starts at another place of it.
    const QByteArray payload = TestData::pattern(64 * MB + 13);
    const qint64 flatBytes = 2048 * MB / scale;
    const qint64 normalBytes = 512 * MB / scale;
    const int datagrams = int(500000 / scale);
    std::vector<Case> cases;
    if (wanted("flat"))
        cases.push_back(compare(
            QStringLiteral("flat view, TCP, %1 MB").arg(flatBytes / MB), 0.6, windowOnly,
            [&] { return plainTcp(payload, flatBytes, Reader::Recv); },
            [&] { return windowTcp(payload, flatBytes, true); },
            [&] { return plainTcp(payload, flatBytes, Reader::Socat); }));
    if (wanted("normal"))
        cases.push_back(compare(
            QStringLiteral("normal view, TCP, %1 MB").arg(normalBytes / MB), 0.3, windowOnly,
            [&] { return plainTcp(payload, normalBytes, Reader::Recv); },
            [&] { return windowTcp(payload, normalBytes, false); },
            [&] { return plainTcp(payload, normalBytes, Reader::Socat); }));
    if (wanted("udp")) {
        cases.push_back(compare(
            QStringLiteral("flat view, UDP, %1 datagrams of 1 KB").arg(datagrams), 0, windowOnly,
            [&] { return plainUdp(datagrams); }, [&] { return windowUdp(datagrams, true); }));
        cases.push_back(compare(
            QStringLiteral("normal view, UDP, %1 datagrams of 1 KB").arg(datagrams), 0, windowOnly,
            [&] { return plainUdp(datagrams); }, [&] { return windowUdp(datagrams, false); }));
    }

    std::printf("\nThe window beside a plain reader of the same stream (median of %d runs each)\n", Runs);
    std::vector<QStringList> rows;
    for (const Case& c : cases) {
        const double ratio = c.plain.mbs() > 0 ? c.window.mbs() / c.plain.mbs() : 0;
        // The targets were set against socat; where it ran, they hold against it.
        const double socatRatio = c.socat.mbs() > 0 ? c.window.mbs() / c.socat.mbs() : 0;
        const double judged = c.socat.mbs() > 0 ? socatRatio : ratio;
        QString window = QStringLiteral("%1 MB/s").arg(c.window.mbs(), 0, 'f', 1);
        QString plain = QStringLiteral("%1 MB/s").arg(c.plain.mbs(), 0, 'f', 1);
        if (c.window.lost > 0)
            window += QStringLiteral(" (%1 lost)").arg(c.window.lost);
        if (c.plain.lost > 0)
            plain += QStringLiteral(" (%1 lost)").arg(c.plain.lost);
        const QString socat =
            c.socat.mbs() > 0
                ? QStringLiteral("%1 MB/s = %2").arg(c.socat.mbs(), 0, 'f', 1).arg(socatRatio, 0, 'f', 2)
                : QString();
        rows.push_back({c.name, window, plain, QString::number(ratio, 'f', 2), socat,
                        c.target > 0 ? QStringLiteral(">= %1").arg(c.target, 0, 'f', 1) : QString(),
                        c.target > 0 ? verdict(judged >= c.target) : QString(), QString::fromLatin1(c.load)});
    }
    printTable({QStringLiteral("case"), QStringLiteral("window"), QStringLiteral("plain reader (64 KB recv)"),
                QStringLiteral("ratio"), QStringLiteral("socat's way (8 KB), ratio"),
                QStringLiteral("target"), QStringLiteral("result"), QStringLiteral("load")},
               rows);
    std::printf("Load average at the end: %s\n", loadAverage().constData());
    return 0;
}
