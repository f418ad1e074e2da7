// File sending to a loopback peer: lines per second at interval 0 with the
// window responsive, and the pace at interval 10 ms, each with the program's
// log box and with a QPlainTextEdit doing the same work. Then the volume
// cases: a large file to a peer that reads nothing for a while, and one very
// long line, with the memory they cost and the longest event-loop block.

#include "benchsupport.h"
#include "floodpeer.h"
#include "testsupport.h"

#include "Harness.h"

#include "net/SocketControl.h"
#include "send/FileSender.h"
#include "ui/Controls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr double MB = 1024.0 * 1024.0;

struct Result
{
    double seconds = 0;
    qint64 received = 0;
    double maxBlockMs = 0;
    bool complete = false;
    // Most heap memory in use above what the window used before the start.
    qint64 growthKb = 0;
    // What the peer had read, and what still waited inside the program, when
    // "Completed." was logged; -1 when it was not.
    qint64 receivedAtCompletion = -1;
    qint64 waitingAtCompletion = -1;
};

// Bytes a socket holds that have not gone to the kernel yet.
qint64 waitingInProgram(const SocketControl* control)
{
    qint64 waiting = 0;
    for (const QTcpSocket* socket : control->findChildren<QTcpSocket*>())
        waiting += socket->bytesToWrite();
    return waiting;
}

struct Case
{
    QString path;
    qint64 bytesOnWire = 0;
    QString interval = QStringLiteral("0");
    bool show = false;
    bool plainBox = false;
    // The peer reads nothing for this long after the start.
    int peerPauseMs = 0;
    double budgetSeconds = 120;
};

Result sendFile(const Case& c)
{
    Result r;
    FloodPeer peer;
    peer.setKeeping(false);
    peer.setReading(c.peerPauseMs == 0);
    peer.start(QByteArray());

    // The window as the program has it, driven by its buttons; or the same
    // sending logged into a QPlainTextEdit.
    std::unique_ptr<TestSupport::Window> w;
    std::unique_ptr<PlainWindow> plain;
    SocketControl* socket = nullptr;
    std::function<void()> start;
    std::function<bool()> running;
    if (c.plainBox) {
        plain = std::make_unique<PlainWindow>();
        plain->box.show();
        plain->connectTo(peer.port());
        plain->sender->setShowSent(c.show);
        plain->sender->open(c.path);
        socket = &plain->socket;
        start = [&] { plain->sender->start(c.interval, true); };
        running = [&] { return plain->sender->isRunning(); };
    } else {
        w = std::make_unique<TestSupport::Window>();
        auto replies = std::make_shared<std::vector<TestSupport::ScriptedFileDialog::Reply>>();
        replies->push_back({0, c.path});
        w->fileDialog()->setBackend(std::make_unique<TestSupport::ScriptedFileDialog>(replies));
        w->find<CheckBox>("chkShow")->setValue(c.show ? 1 : 0);
        w->find<QLineEdit>("txtInterval")->setText(c.interval);
        (*w)->show();
        TestSupport::connectTcpClient(*w, peer.port());
        w->find<QPushButton>("cmdOpen")->click();
        socket = w->socket();
        start = [&] { w->find<QPushButton>("cmdSendFile")->click(); };
        running = [&] { return (*w)->fileSender()->isRunning(); };
    }
    QCoreApplication::processEvents();

    const qint64 baseKb = heapInUseKb();
    qint64 mostKb = baseKb;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler, [&] { mostKb = qMax(mostKb, heapInUseKb()); });
    bool started = false;

    LoopWatch watch;
    r.seconds = watch.run(
        c.budgetSeconds,
        [&] {
            // The sending ends when "Completed." is logged.
            if (started && r.receivedAtCompletion < 0 && !running()) {
                r.receivedAtCompletion = peer.receivedSize();
                r.waitingAtCompletion = waitingInProgram(socket);
            }
            return peer.receivedSize() >= c.bytesOnWire && r.receivedAtCompletion >= 0;
        },
        [&] {
            start();
            started = true;
            sampler.start(20);
            if (c.peerPauseMs > 0)
                QTimer::singleShot(c.peerPauseMs, &sampler, [&peer] { peer.setReading(true); });
        });
    r.maxBlockMs = watch.maxBlockMs();
    r.received = peer.receivedSize();
    r.complete = r.received >= c.bytesOnWire;
    r.growthKb = mostKb - baseKb;
    peer.stop();
    return r;
}

const char* verdict(bool pass)
{
    return pass ? "PASS" : "MISS";
}

// Interval 0 to a reading peer, logged and not, and the pace at 10 ms.
void lineCases(const QTemporaryDir& dir)
{
    const int lineBytes = 80; // 78 characters and the CR LF the window appends
    const int many = 200000;
    Case lines;
    lines.path = dir.filePath("lines.txt");
    lines.bytesOnWire = qint64(many) * lineBytes;
    {
        QFile f(lines.path);
        f.open(QIODevice::WriteOnly);
        QByteArray line(78, 'x');
        for (int i = 0; i < many; ++i) {
            QByteArray n = QByteArray::number(i);
            f.write(n + line.left(78 - n.size()) + "\n");
        }
    }
    Case paced;
    paced.path = dir.filePath("200.txt");
    paced.bytesOnWire = 200 * lineBytes;
    paced.interval = QStringLiteral("10");
    paced.show = true;
    paced.budgetSeconds = 10;
    {
        QFile f(paced.path);
        f.open(QIODevice::WriteOnly);
        for (int i = 0; i < 200; ++i)
            f.write(QByteArray(78, 'y') + "\n");
    }

    const Result quiet = sendFile(lines);
    Case shownCase = lines;
    shownCase.show = true;
    const Result shown = sendFile(shownCase);
    shownCase.plainBox = true;
    shownCase.budgetSeconds = 20;
    const Result shownPlain = sendFile(shownCase);
    const Result pacedMine = sendFile(paced);
    paced.plainBox = true;
    const Result pacedPlain = sendFile(paced);

    auto rate = [](const Result& r) { return r.seconds > 0 ? r.received / lineBytes / r.seconds : 0; };
    std::printf("\nFile sending to a loopback peer, 80-byte lines (* = stopped at the budget)\n");
    std::printf("%-34s | %-16s | %-17s | %-7s | %s\n", "case", "log box", "QPlainTextEdit", "ratio",
                "target");
    std::printf("-----------------------------------+------------------+-------------------+---------+-------"
                "--------\n");
    std::printf("%-34s | %10.0f l/s   | %17s | %7s | >= 50000 %s\n", "interval 0, lines not logged",
                rate(quiet), "-", "-", verdict(rate(quiet) >= 50000));
    std::printf("%-34s | %10.0f l/s   | %11.0f l/s%s  | %6.1fx | >= 50000 %s\n",
                "interval 0, each line logged", rate(shown), rate(shownPlain),
                shownPlain.complete ? " " : "*", rate(shownPlain) > 0 ? rate(shown) / rate(shownPlain) : 0.0,
                verdict(rate(shown) >= 50000));
    std::printf("%-34s | %10.1f ms    | %11.1f ms%s   | %7s | <= 50 ms %s\n", "  longest block (logged)",
                shown.maxBlockMs, shownPlain.maxBlockMs, shownPlain.complete ? " " : "*", "",
                verdict(shown.maxBlockMs <= 50));
    std::printf("%-34s | %10.3f s     | %12.3f s%s   | %7s | 2.0 s +-5%% %s\n", "interval 10 ms, 200 lines",
                pacedMine.seconds, pacedPlain.seconds, pacedPlain.complete ? " " : "*", "",
                verdict(pacedMine.complete && qAbs(pacedMine.seconds - 2.0) <= 0.1));
}

void volumeCases(const QTemporaryDir& dir)
{
    // Volume: 300 MB of 1 KB lines to a peer that reads nothing for 5 s.
    Case big;
    big.path = dir.filePath("300mb.txt");
    big.peerPauseMs = 5000;
    {
        QFile f(big.path);
        f.open(QIODevice::WriteOnly);
        const QByteArray line = QByteArray(1022, 'b') + "\n";
        QByteArray block;
        for (int i = 0; i < 1024; ++i)
            block += line;
        for (int i = 0; i < 300; ++i)
            f.write(block);
        big.bytesOnWire = 300 * 1024 * 1024;
    }
    const Result bigResult = sendFile(big);
    QFile::remove(big.path);

    // One 50 MB line, as it is read: not logged for its memory, logged for the
    // longest block (the log then holds the line itself).
    Case longLine;
    longLine.path = dir.filePath("line.txt");
    {
        QFile f(longLine.path);
        f.open(QIODevice::WriteOnly);
        const QByteArray block(1024 * 1024, 'l');
        for (int i = 0; i < 50; ++i)
            f.write(block);
        longLine.bytesOnWire = 50 * 1024 * 1024 + 2;
    }
    const Result lineQuiet = sendFile(longLine);
    longLine.show = true;
    const Result lineShown = sendFile(longLine);
    QFile::remove(longLine.path);

    std::printf("\nVolume: 300 MB of 1 KB lines to a peer that reads nothing for 5 s, then everything;\n"
                "one 50 MB line to a reading peer (interval 0)\n");
    std::printf("%-40s | %-26s | %-22s | %s\n", "case", "figure", "beside", "target");
    std::printf(
        "-----------------------------------------+----------------------------+------------------------"
        "+------------\n");
    std::printf("%-40s | %21.1f MB  | %15.0f MB file | <= 8 MB %s\n", "300 MB, peer waits: memory growth",
                bigResult.growthKb / 1024.0, big.bytesOnWire / MB, verdict(bigResult.growthKb <= 8 * 1024));
    std::printf("%-40s | %16.1f MB left | %22s | 0 %s\n", "  in the program at \"Completed.\"",
                bigResult.waitingAtCompletion / MB, "", verdict(bigResult.waitingAtCompletion == 0));
    std::printf("%-40s | %13.1f MB at peer | %13.1f MB on wire | %s\n", "  by then read by the peer",
                bigResult.receivedAtCompletion / MB, big.bytesOnWire / MB, "the rest in kernel buffers");
    std::printf("%-40s | %21.1f s   | %22s | %s\n", "  all at the peer after", bigResult.seconds, "",
                bigResult.complete ? "" : "(incomplete)");
    std::printf("%-40s | %21.1f ms  | %22s | <= 50 ms %s\n", "  longest block", bigResult.maxBlockMs, "",
                verdict(bigResult.maxBlockMs <= 50));
    std::printf("%-40s | %21.1f MB  | %15.0f MB line | <= 8 MB %s\n", "50 MB line, not logged: memory growth",
                lineQuiet.growthKb / 1024.0, 50.0,
                verdict(lineQuiet.complete && lineQuiet.growthKb <= 8 * 1024));
    std::printf("%-40s | %21.1f ms  | %22s | <= 50 ms %s\n", "  longest block", lineQuiet.maxBlockMs, "",
                verdict(lineQuiet.maxBlockMs <= 50));
    std::printf("%-40s | %21.1f ms  | %12.1f MB growth | <= 50 ms %s\n", "50 MB line, logged: longest block",
                lineShown.maxBlockMs, lineShown.growthKb / 1024.0,
                verdict(lineShown.complete && lineShown.maxBlockMs <= 50));
}

} // namespace

// With "lines" or "volume" as its argument it runs only those cases.
int main(int argc, char* argv[])
{
    TestSupport::prepareProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString only = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();

    QTemporaryDir dir;
    if (only.isEmpty() || only == QLatin1String("lines"))
        lineCases(dir);
    if (only.isEmpty() || only == QLatin1String("volume"))
        volumeCases(dir);
    return 0;
}
