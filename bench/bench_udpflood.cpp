// A loopback sender on its own thread floods the window with 1 KB UDP
// datagrams: how many the window shows, the longest time the event loop was
// blocked, and whether the log accounts for every datagram lost. Each case
// runs with datagrams read on a thread of their own and, beside it, read on
// the window's thread as they arrive.

#include "Harness.h"
#include "benchsupport.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "ui/Controls.h"
#include "ui/LogView.h"
#include "ui/frmKelvane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

enum class Reading
{
    ReaderThread, // the program as it is
    WindowThread  // as it read datagrams before it had a reader of its own
};

// The receive buffer the program asks for, so that both readings start alike.
constexpr int ReceiveBuffer = 64 * 1024 * 1024;

constexpr int DatagramSize = 1024;

// Sends count datagrams to a loopback port: back to back, or paced at
// perSecond in steps of a millisecond.
class DatagramSender
{
public:
    DatagramSender(quint16 port, int count, int perSecond)
        : m_port(port), m_count(count), m_perSecond(perSecond)
    {
    }
    ~DatagramSender()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    int sent() const { return m_sent; }
    bool done() const { return m_done; }
    double seconds() const { return m_seconds; }

private:
    void run()
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(m_port);
        const QByteArray payload(DatagramSize, 'u');
        const int step = m_perSecond > 0 ? m_perSecond / 1000 : m_count;
        const auto begin = std::chrono::steady_clock::now();
        auto next = begin;
        for (int i = 0; i < m_count;) {
            if (m_perSecond > 0) {
                std::this_thread::sleep_until(next);
                next += std::chrono::milliseconds(1);
            }
            for (int j = 0; j < step && i < m_count; ++j, ++i) {
                if (::sendto(fd, payload.constData(), size_t(DatagramSize), 0,
                             reinterpret_cast<sockaddr*>(&addr), sizeof addr) == DatagramSize)
                    ++m_sent;
            }
        }
        m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ::close(fd);
        m_done = true;
    }

    quint16 m_port;
    int m_count;
    int m_perSecond;
    std::thread m_thread;
    std::atomic<int> m_sent{0};
    std::atomic<bool> m_done{false};
    std::atomic<double> m_seconds{0};
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
    auto count1k = [&](qint32 n) {
        if (n == DatagramSize)
            ++r.shown;
    };
    std::unique_ptr<TestSupport::Window> w;
    std::unique_ptr<WindowThreadUdp> before;
    quint16 port = 0;
    if (reading == Reading::ReaderThread) {
        w = std::make_unique<TestSupport::Window>();
        w->find<ToggleButton>("chkFlat")->setValue(flatView ? 1 : 0);
        (*w)->show();
        SocketControl* socket = w->socket();
        TestSupport::clickConnect(*w, 0, 1, QStringLiteral("9"));
        port = quint16(socket->LocalPort());
        w->find<QPushButton>("cmdClear")->click();
        QObject::connect(socket, &SocketControl::dataArrival, socket, count1k);
        QObject::connect(socket, &SocketControl::datagramsDropped, socket, [&](qint64 n) { dropped += n; });
    } else {
        before = std::make_unique<WindowThreadUdp>(ReceiveBuffer);
        before->log.flat = flatView;
        before->view.widget()->show();
        before->shown = count1k;
        port = before->port();
    }
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

QString shownText(const Result& r)
{
    const QString text = QStringLiteral("%1 of %2, %3 lost").arg(r.shown).arg(r.sent).arg(r.sent - r.shown);
    return r.shown == r.sent ? text : text + QStringLiteral(" (%1 in the log)").arg(r.reported);
}

// Named with the rate the sender reached, which a busy machine may hold below the one asked for.
void lostRow(const char* name, const Result& mine, const Result& today)
{
    std::printf("| %s (sent at %.0f/s) | %s | %s | 0 lost | %s |\n", name, mine.sendRate,
                qPrintable(shownText(mine)), qPrintable(shownText(today)),
                mine.shown == mine.sent ? "PASS" : "MISS");
}

// The longest block, and in brackets the window's own work within one tick gap.
void blockRow(const char* name, const Result& mine, const Result& today)
{
    std::printf("| %s | %.1f ms (%.1f ms) | %.1f ms (%.1f ms) | <= 50 ms | %s |\n", name, mine.maxBlockMs,
                mine.maxBusyMs, today.maxBlockMs, today.maxBusyMs, mine.maxBlockMs <= 50 ? "PASS" : "MISS");
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
        Result mine;
        Result today;
    };
    auto both = [&](bool flat, int count, int perSecond, int quiet, bool paused = false) {
        return Pair{flood(Reading::ReaderThread, flat, count, perSecond, quiet, paused),
                    flood(Reading::WindowThread, flat, count, perSecond, quiet, paused)};
    };
    const Pair burstNormal = both(false, burst, 0, quietMs);
    const Pair burstFlat = both(true, burst, 0, quietMs);
    const Pair sustainedNormal = both(false, 4 * 100000, 100000, quietMs);
    const Pair sustainedFlat = both(true, 4 * 200000, 200000, quietMs);
    // Twice what the bound holds, unpaced, to a window too busy to show any
    // until the flood is over; reports come once a second, so wait longer for the last.
    const int overBound = 2 * int(SocketControl::DefaultDatagramQueueLimit / DatagramSize);
    const Pair drops = both(true, overBound, 0, 2500, true);

    QFile loadavg(QStringLiteral("/proc/loadavg"));
    const QByteArray load =
        loadavg.open(QIODevice::ReadOnly) ? loadavg.readLine().trimmed() : QByteArray("?");
    std::printf(
        "\nUDP flood of %d-byte datagrams from a loopback sender on its own thread (load at the end: %s)\n",
        DatagramSize, load.constData());
    std::printf(
        "Blocks: the longest event-loop block; in brackets the window's own work within it, the rest\n"
        "being the wait for a processor on a busy machine.\n\n");
    std::printf("| case | reader thread | window thread (before) | target | |\n");
    std::printf("|---|---|---|---|---|\n");
    lostRow("burst of 20,000, normal view", burstNormal.mine, burstNormal.today);
    lostRow("burst of 20,000, flat view", burstFlat.mine, burstFlat.today);
    blockRow("burst, normal view, longest block", burstNormal.mine, burstNormal.today);
    blockRow("burst, flat view, longest block", burstFlat.mine, burstFlat.today);
    lostRow("400,000 paced at 100,000/s, normal view", sustainedNormal.mine, sustainedNormal.today);
    lostRow("800,000 paced at 200,000/s, flat view", sustainedFlat.mine, sustainedFlat.today);
    blockRow("paced, normal view, longest block", sustainedNormal.mine, sustainedNormal.today);
    blockRow("paced, flat view, longest block", sustainedFlat.mine, sustainedFlat.today);
    const Result& m = drops.mine;
    const Result& t = drops.today;
    std::printf(
        "| %d unpaced to a busy window (sent at %.0f/s), flat view: lost / in the log | %d / %lld | %d / "
        "%lld | equal | %s |\n",
        overBound, m.sendRate, m.sent - m.shown, (long long)m.reported, t.sent - t.shown,
        (long long)t.reported, m.sent - m.shown == m.reported && m.reported > 0 ? "PASS" : "MISS");
    return 0;
}
