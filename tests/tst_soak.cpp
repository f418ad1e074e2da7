// A peer floods the window in the flat view while lines are sent back to it.
// The log is never cleared: old text goes to the log's file. Every byte the
// peer sent is checked in the log, in order, in place and in small steps, and
// every line arrived at the peer once, in order. The process's memory stays
// within the log's working set and a margin for the program itself.
// KELVANE_SOAK_SECONDS sets the length (`make soak` runs 60 s); the suite runs
// a short one.

#include "floodpeer.h"
#include "testdata.h"
#include "testsupport.h"

#include "log/LogStore.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>

using TestSupport::Window;

namespace {

// Memory the program needs beside the log's working set: Qt, the window, the
// socket's buffers, the file's read cache, and the test's own 8 MB pattern.
constexpr qint64 MemoryMargin = qint64(256) << 20;

QByteArray expectedLines(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "line " + QByteArray::number(i) + "\r\n";
    return out;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void floodWhileSendingLines()
    {
        const int seconds = qMax(1, qEnvironmentVariableIntValue("KELVANE_SOAK_SECONDS") > 0
                                        ? qEnvironmentVariableIntValue("KELVANE_SOAK_SECONDS")
                                        : 3);
        const QByteArray payload = TestData::pattern(8 * 1024 * 1024 + 13);

        FloodPeer peer;
        Window w;
        w.find<CheckBox>("chkShow")->setValue(0);
        QCOMPARE(w.find<ToggleButton>("chkFlat")->value(), 1);
        QVERIFY(TestSupport::connectTcpClient(w, peer.port()));
        w.find<QPushButton>("cmdClear")->click();
        auto* view = dynamic_cast<LogView*>(w.logBox());
        QVERIFY(view);
        const LogStore& store = view->store();
        QFile peak(QStringLiteral("/proc/self/clear_refs"));
        if (peak.open(QIODevice::WriteOnly))
            peak.write("5"); // VmHWM from here on
        peer.start(payload, true);

        // The log against the stream from where the last check ended, compared
        // in place a few megabytes at a time, so no copy of the log is made.
        qint64 checked = 0;
        qint64 mismatchAt = -1;
        auto check = [&](qint64 upTo) {
            store.forEachPiece(checked, upTo, [&](const LogPiece& p) {
                for (qint64 done = 0; done < p.length;) {
                    const qint64 at = (p.position + done) % payload.size();
                    const qint64 n = std::min<qint64>(p.length - done, payload.size() - at);
                    if (!p.latin1 || std::memcmp(p.latin1 + done, payload.constData() + at, size_t(n)) != 0) {
                        mismatchAt = p.position + done;
                        return false;
                    }
                    done += n;
                }
                return true;
            });
            checked = upTo;
        };
        constexpr qint64 CheckStep = 4 * 1024 * 1024;

        auto* line = w.find<LineBox>("txtLine");
        auto* send = w.find<QPushButton>("cmdSend1");
        int linesSent = 0;
        QTimer sender;
        sender.setInterval(2);
        connect(&sender, &QTimer::timeout, this, [&] {
            line->setText(QStringLiteral("line %1").arg(linesSent++));
            send->click();
        });
        QTimer checker;
        checker.setInterval(20);
        connect(&checker, &QTimer::timeout, this,
                [&] { check(std::min<qint64>(store.size(), checked + CheckStep)); });

        sender.start();
        checker.start();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000 && mismatchAt < 0)
            QTest::qWait(100);
        sender.stop();
        checker.stop();
        QVERIFY2(mismatchAt < 0,
                 qPrintable(QStringLiteral("log differs from the stream at byte %1").arg(mismatchAt)));
        QVERIFY(linesSent > 0);
        // A peer faster than the window is slowed down, not buffered without
        // end, and the log keeps its working set.
        const qint64 peakKb = TestSupport::procStatusKb("VmHWM:");
        const qint64 boundKb = (LogStore::WorkingSetBytes + MemoryMargin) / 1024;
        QVERIFY2(peakKb < boundKb, qPrintable(QStringLiteral("%1 MB in use").arg(peakKb / 1024)));

        const QByteArray lines = expectedLines(linesSent);
        QTRY_COMPARE_WITH_TIMEOUT(peer.receivedSize(), lines.size(), 30000);
        QCOMPARE(peer.received(), lines);

        // The peer stops; what it sent last still reaches the log before its close is handled.
        peer.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isConnected(), 30000);
        const qint64 sent = peer.sent();
        QVERIFY(store.size() > sent);
        while (checked < sent && mismatchAt < 0)
            check(std::min<qint64>(sent, checked + CheckStep));
        QVERIFY2(mismatchAt < 0,
                 qPrintable(QStringLiteral("log differs from the stream at byte %1").arg(mismatchAt)));
        const QString rest = store.mid(sent, store.size() - sent);
        QVERIFY(rest.startsWith(QStringLiteral("\r\n<")));
        QVERIFY(rest.contains(QStringLiteral("Client disconnected: 127.0.0.1")));
        qInfo(
            "%d s: %.1f MB shown in order, %.0f MB of it in the log's file, peak %lld MB, %d lines sent back",
            seconds, sent / 1e6, store.fileBytes() / 1e6, peakKb / 1024, linesSent);
    }
};

KELVANE_TEST_MAIN(TestSoak)
#include "tst_soak.moc"
