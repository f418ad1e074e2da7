// The socket control alone, against a loopback peer on its own thread that
// uses plain POSIX sockets: how fast TCP data is taken in and sent out, and
// how many datagrams of a UDP flood reach the window's handler.

#include "net/SocketControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

quint16 boundPort(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// Runs the event loop until done() holds or the budget is spent.
bool runUntil(const std::function<bool()>& done, int budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < budgetMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}

// The peer writes `total` bytes as fast as the kernel takes them, then closes.
void tcpReceive(qint64 total)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);

    std::thread peer([listener, total] {
        const int fd = ::accept(listener, nullptr, nullptr);
        QByteArray chunk(64 * 1024, 'k');
        qint64 left = total;
        while (left > 0) {
            const ssize_t n = ::write(fd, chunk.constData(), size_t(qMin<qint64>(left, chunk.size())));
            if (n <= 0)
                break;
            left -= n;
        }
        ::close(fd);
    });

    SocketControl control;
    qint64 received = 0;
    int events = 0;
    bool closed = false;
    QObject::connect(&control, &SocketControl::dataArrival, &control, [&] {
        received += control.GetData().size();
        ++events;
    });
    QObject::connect(&control, &SocketControl::closed, &control, [&] { closed = true; });
    control.setRemotePort(boundPort(listener));
    QElapsedTimer clock;
    clock.start();
    control.Connect();
    const bool ok = runUntil([&] { return closed; }, 60000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    peer.join();
    ::close(listener);

    std::printf("%-28s %10.1f MB/s  %8d events  %10.0f bytes/event  %s\n", "TCP receive",
                received / seconds / 1e6, events, events ? double(received) / events : 0.0,
                ok && received == total ? "complete" : "INCOMPLETE");
}

// Many short lines through SendData, as file sending at full speed does;
// the peer reads until the control closes.
void tcpSendLines(int lines, int lineSize)
{
    SocketControl control;
    control.Listen();
    const quint16 port = quint16(control.LocalPort());
    QObject::connect(&control, &SocketControl::connectionRequest, &control, [&](qint32 id) {
        control.Close();
        control.Accept(id);
    });

    std::atomic<qint64> peerBytes{0};
    std::thread peer([port, &peerBytes] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = loopback(port);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return;
        char buffer[64 * 1024];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            peerBytes += n;
        ::close(fd);
    });

    runUntil([&] { return control.State() == SocketControl::sckConnected; }, 10000);
    const QByteArray line = QByteArray(lineSize - 2, 's') + QByteArrayLiteral("\r\n");
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < lines; ++i)
        control.SendData(line);
    const double callSeconds = clock.nsecsElapsed() / 1e9;
    control.Close();
    const qint64 total = qint64(lines) * lineSize;
    const bool ok = runUntil([&] { return peerBytes.load() >= total; }, 60000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    peer.join();

    std::printf("%-28s %10.0f lines/s in SendData  %8.1f MB/s to the peer  %s\n", "TCP send, 64-byte lines",
                lines / callSeconds, total / seconds / 1e6, ok ? "complete" : "INCOMPLETE");
}

// The peer sends `count` datagrams; paced sends pause briefly after each burst.
void udpFlood(const char* name, int count, int size, int burst)
{
    SocketControl control;
    control.setProtocol(1);
    control.Bind();
    const quint16 port = quint16(control.LocalPort());
    int events = 0;
    qint64 bytes = 0;
    QObject::connect(&control, &SocketControl::dataArrival, &control, [&](qint32 n) {
        bytes += control.GetData().size();
        events += n == size ? 1 : 0;
    });

    std::atomic<bool> sent{false};
    std::thread peer([&] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr = loopback(port);
        QByteArray payload(size, 'u');
        for (int i = 0; i < count; ++i) {
            ::sendto(fd, payload.constData(), size_t(size), 0, reinterpret_cast<sockaddr*>(&addr),
                     sizeof addr);
            if (burst > 0 && (i + 1) % burst == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(fd);
        sent = true;
    });

    QElapsedTimer clock;
    clock.start();
    // Done when everything came, or when nothing more came for a while after the peer finished.
    int lastEvents = -1;
    QElapsedTimer quiet;
    quiet.start();
    runUntil(
        [&] {
            if (events != lastEvents) {
                lastEvents = events;
                quiet.restart();
            }
            return events == count || (sent && quiet.elapsed() > 500);
        },
        60000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    peer.join();

    std::printf("%-28s %10.0f datagrams/s  %6d of %6d arrived (%.1f%% lost)\n", name, events / seconds,
                events, count, 100.0 * (count - events) / count);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("Socket control against a loopback peer on its own thread\n\n");
    tcpReceive(256LL * 1024 * 1024);
    tcpSendLines(200000, 64);
    udpFlood("UDP 512-byte, unpaced", 20000, 512, 0);
    udpFlood("UDP 512-byte, bursts of 50", 20000, 512, 50);
    return 0;
}
