// File sending to a loopback peer: lines per second at interval 0 with the
// window responsive, and the pace at interval 10 ms. Each case runs with the
// program's log box and with a QPlainTextEdit doing the same work.

#include "benchsupport.h"
#include "floodpeer.h"
#include "testsupport.h"

#include "log/LogBox.h"
#include "log/PlainLogBox.h"
#include "ui/Controls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

struct Result
{
    double seconds = 0;
    int lines = 0;
    double maxBlockMs = 0;
    bool complete = false;
};

Result sendFile(const QString& path, int lines, int lineBytes, const QString& interval, bool show,
                bool plainBox, double budgetSeconds)
{
    Result r;
    TestSupport::Window w(false);
    if (plainBox)
        w->replaceLogBox(new PlainLogBox);
    w->Form_Load();
    auto replies = std::make_shared<std::vector<TestSupport::ScriptedFileDialog::Reply>>();
    replies->push_back({0, path});
    w->fileDialog()->setBackend(std::make_unique<TestSupport::ScriptedFileDialog>(replies));
    w.find<CheckBox>("chkShow")->setValue(show ? 1 : 0);
    w.find<QLineEdit>("txtInterval")->setText(interval);
    w->show();

    FloodPeer peer;
    peer.start(QByteArray());
    TestSupport::connectTcpClient(w, peer.port());
    w.find<QPushButton>("cmdOpen")->click();

    const qsizetype expected = qsizetype(lines) * lineBytes;
    LoopWatch watch;
    r.seconds = watch.run(
        budgetSeconds, [&] { return peer.receivedSize() >= expected; },
        [&] { w.find<QPushButton>("cmdSendFile")->click(); });
    r.maxBlockMs = watch.maxBlockMs();
    r.lines = int(peer.receivedSize() / lineBytes);
    r.complete = peer.receivedSize() >= expected;
    peer.stop();
    return r;
}

} // namespace

int main(int argc, char* argv[])
{
    TestSupport::prepareProcess();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const int lineBytes = 80; // 78 characters and the CR LF the window appends
    const int many = 200000;
    const QString bigFile = dir.filePath("lines.txt");
    {
        QFile f(bigFile);
        f.open(QIODevice::WriteOnly);
        QByteArray line(78, 'x');
        for (int i = 0; i < many; ++i) {
            QByteArray n = QByteArray::number(i);
            f.write(n + line.left(78 - n.size()) + "\n");
        }
    }
    const QString shortFile = dir.filePath("200.txt");
    {
        QFile f(shortFile);
        f.open(QIODevice::WriteOnly);
        for (int i = 0; i < 200; ++i)
            f.write(QByteArray(78, 'y') + "\n");
    }

    const double budget = 20;
    const Result quiet = sendFile(bigFile, many, lineBytes, "0", false, false, 120);
    const Result shown = sendFile(bigFile, many, lineBytes, "0", true, false, 120);
    const Result shownPlain = sendFile(bigFile, many, lineBytes, "0", true, true, budget);
    const Result paced = sendFile(shortFile, 200, lineBytes, "10", true, false, 10);
    const Result pacedPlain = sendFile(shortFile, 200, lineBytes, "10", true, true, 10);

    auto rate = [](const Result& r) { return r.seconds > 0 ? r.lines / r.seconds : 0; };
    std::printf("\nFile sending to a loopback peer, 80-byte lines (* = stopped at the budget)\n");
    std::printf("%-34s | %-16s | %-17s | %-7s | %s\n", "case", "log box", "QPlainTextEdit", "ratio",
                "target");
    std::printf("-----------------------------------+------------------+-------------------+---------+-------"
                "--------\n");
    std::printf("%-34s | %10.0f l/s   | %17s | %7s | >= 50000 %s\n", "interval 0, lines not logged",
                rate(quiet), "-", "-", rate(quiet) >= 50000 ? "PASS" : "MISS");
    std::printf("%-34s | %10.0f l/s   | %11.0f l/s%s  | %6.1fx | >= 50000 %s\n",
                "interval 0, each line logged", rate(shown), rate(shownPlain),
                shownPlain.complete ? " " : "*", rate(shownPlain) > 0 ? rate(shown) / rate(shownPlain) : 0.0,
                rate(shown) >= 50000 ? "PASS" : "MISS");
    std::printf("%-34s | %10.1f ms    | %11.1f ms%s   | %7s | <= 50 ms %s\n", "  longest block (logged)",
                shown.maxBlockMs, shownPlain.maxBlockMs, shownPlain.complete ? " " : "*", "",
                shown.maxBlockMs <= 50 ? "PASS" : "MISS");
    std::printf("%-34s | %10.3f s     | %12.3f s%s   | %7s | 2.0 s +-5%% %s\n", "interval 10 ms, 200 lines",
                paced.seconds, pacedPlain.seconds, pacedPlain.complete ? " " : "*", "",
                paced.complete && qAbs(paced.seconds - 2.0) <= 0.1 ? "PASS" : "MISS");
    return 0;
}
