// Automatic replies. (a) Round trip: a client on its own thread sends a
// 32-byte request and waits for the 32-byte reply, 100,000 times over TCP and
// over UDP, to the reply engine on a socket control, beside a plain echo server
// (a loop of read and write on a thread) in the same run: requests per second
// and the 99th percentile of the reply time. (b) A TCP flood of 1 GB to a
// socket control with a `contains` rule that never matches, beside replies
// off, in turns, the best of three each: wire speed (target at least 0.8).
// --quick runs a sixteenth of each.

#include "benchsupport.h"
#include "floodpeer.h"

#include "net/SocketControl.h"
#include "send/ReplyEngine.h"
#include "ui/SocketSendLink.h"

#include <QApplication>
#include <QSignalSpy>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace BenchSupport;

namespace {

constexpr int Size = 32;
const QByteArray Request = QByteArray("REQ:").leftJustified(Size, '.');

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

bool readWhole(int fd, char* to, int size)
{
    for (int got = 0; got < size;) {
        const ssize_t n = ::recv(fd, to + got, size_t(size - got), 0);
        if (n <= 0)
            return false;
        got += int(n);
    }
    return true;
}

struct Trip
{
    double seconds = 0;
    qint64 done = 0;
    double p99Us = 0;
};

// The client: each request waits for its whole reply; the reply time of each is kept.
Trip client(bool udp, quint16 port, qint64 count)
{
    const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in to = loopback(port);
    Trip t;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return t;
    }
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::vector<double> us;
    us.reserve(size_t(count));
    char reply[Size];
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (; t.done < count; ++t.done) {
        const auto sent = Clock::now();
        if (::send(fd, Request.constData(), Size, 0) != Size || !readWhole(fd, reply, Size))
            break;
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    if (!us.empty()) {
        std::sort(us.begin(), us.end());
        t.p99Us = us[size_t(double(us.size() - 1) * 0.99)];
    }
    return t;
}

// The plain echo server: one peer, a loop of read and write.
Trip plainEcho(bool udp, qint64 count)
{
    const int server = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    sockaddr_in at = loopback(0);
    ::bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at);
    socklen_t len = sizeof at;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&at), &len);
    if (!udp)
        ::listen(server, 1);
    std::thread echo([server, udp] {
        const int fd = udp ? server : ::accept(server, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char buffer[65536];
        sockaddr_in from{};
        for (;;) {
            socklen_t fromLen = sizeof from;
            const ssize_t n =
                ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n <= 0 || (udp && n == 1))
                break;
            if (::sendto(fd, buffer, size_t(n), 0, udp ? reinterpret_cast<sockaddr*>(&from) : nullptr,
                         udp ? fromLen : 0) != n)
                break;
        }
        if (!udp)
            ::close(fd);
    });
    const Trip t = client(udp, ntohs(at.sin_port), count);
    if (udp) { // one byte ends the loop
        const sockaddr_in to = at;
        ::sendto(::socket(AF_INET, SOCK_DGRAM, 0), "x", 1, 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
    echo.join();
    ::close(server);
    return t;
}

// The socket control and the reply engine, wired as the window wires them.
struct Rig
{
    SocketControl control;
    ReplyEngine engine{std::make_unique<SocketReplyLink>(&control)};
    qint64 received = 0;

    explicit Rig(const ReplyRule& rule)
    {
        engine.setShowSent(false);
        engine.setRules({{rule}, {}});
        QObject::connect(&control, &SocketControl::dataArrival, [this] {
            const QByteArray data = control.GetData();
            received += data.size();
            answerArrival(engine, control, data);
        });
        QObject::connect(&control, &SocketControl::bytesWritten, &engine, &ReplyEngine::linkDrained);
        QObject::connect(&control, &SocketControl::connectionRequest, [this](qint32 id) {
            control.Close();
            control.Accept(id);
        });
    }
};

ReplyRule answerRule()
{
    ReplyRule r;
    r.match = ReplyRule::Starts;
    r.pattern = QStringLiteral("REQ:");
    r.reply = QStringLiteral("ACK:").leftJustified(Size, QLatin1Char('.'));
    return r;
}

Trip replies(bool udp, qint64 count)
{
    Rig rig(answerRule());
    rig.engine.setEnabled(true);
    rig.control.setProtocol(udp ? SocketControl::UdpProtocol : SocketControl::TcpProtocol);
    rig.control.setLocalPort(0);
    if (udp)
        rig.control.Connect();
    else
        rig.control.Listen();
    Trip t;
    std::atomic<bool> finished{false};
    std::thread c([&] {
        t = client(udp, quint16(rig.control.LocalPort()), count);
        finished = true;
    });
    LoopWatch watch;
    watch.run(
        600, [&] { return finished.load(); }, [] {});
    c.join();
    return t;
}

struct Flood
{
    double seconds = 0;
    qint64 bytes = 0;
};

Flood flood(qint64 total, bool on)
{
    ReplyRule never;
    never.pattern = QStringLiteral("never in the flood");
    never.reply = QStringLiteral("x");
    Rig rig(never);
    rig.engine.setEnabled(on);
    FloodPeer peer;
    QByteArray chunk(64 * 1024, 'a');
    for (qsizetype i = 0; i < chunk.size(); i += 61)
        chunk[i] = '\n';
    QSignalSpy spy(&rig.control, &SocketControl::connected);
    rig.control.setRemotePort(peer.port());
    rig.control.Connect();
    peer.start(chunk, true, chunk.size(), total);
    Flood f;
    if (!spy.wait(10000))
        return f;
    LoopWatch watch;
    f.seconds = watch.run(
        600, [&] { return rig.received >= total; }, [] {});
    f.bytes = rig.received;
    peer.stop();
    return f;
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    std::printf("Load average at the start: %s\n", loadAverage().constData());

    const qint64 count = 100000 / (quick ? 16 : 1);
    std::vector<QStringList> rows;
    for (const bool udp : {false, true}) {
        for (const bool plain : {false, true}) {
            const Trip t = plain ? plainEcho(udp, count) : replies(udp, count);
            rows.push_back({QString::fromLatin1(udp ? "UDP" : "TCP"),
                            QString::fromLatin1(plain ? "plain echo server" : "automatic replies"),
                            QStringLiteral("%1 / %2").arg(t.done).arg(count),
                            QStringLiteral("%1").arg(t.seconds > 0 ? t.done / t.seconds : 0, 0, 'f', 0),
                            QStringLiteral("%1 us").arg(t.p99Us, 0, 'f', 0)});
        }
    }
    std::printf("\n(a) Round trip: %lld requests of 32 bytes, each waiting for its 32-byte reply\n",
                static_cast<long long>(count));
    printTable({"link", "server", "answered", "requests/s", "99th pct reply time"}, rows);

    const qint64 total = (qint64(1) << 30) / (quick ? 16 : 1);
    // Taken in turns, three times each, the best of each kept: the machine may be shared.
    auto mbs = [](const Flood& f) { return f.seconds > 0 ? f.bytes / f.seconds / 1e6 : 0; };
    Flood off, on;
    for (int round = 0; round < 3; ++round) {
        for (Flood* best : {&off, &on}) {
            const Flood f = flood(total, best == &on);
            if (mbs(f) > mbs(*best))
                *best = f;
        }
    }
    const double ratio = mbs(off) > 0 ? mbs(on) / mbs(off) : 0;
    std::printf("\n(b) A TCP flood of %lld MB, a `contains` rule that never matches (load average now %s)\n",
                static_cast<long long>(total >> 20), loadAverage().constData());
    printTable(
        {"replies", "received", "wire speed", "against replies off (>= 0.8)"},
        {{"off", QString::number(off.bytes), QStringLiteral("%1 MB/s").arg(mbs(off), 0, 'f', 0), "1.00"},
         {"on", QString::number(on.bytes), QStringLiteral("%1 MB/s").arg(mbs(on), 0, 'f', 0),
          QStringLiteral("%1 %2").arg(ratio, 0, 'f', 2).arg(verdict(ratio >= 0.8))}});
    return 0;
}
