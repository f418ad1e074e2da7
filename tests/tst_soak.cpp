// A peer floods the window in the flat view while lines are sent back to it.
// Afterwards every byte the peer sent is in the log, in order, and every line
// arrived at the peer once, in order. KELVANE_SOAK_SECONDS sets the length
// (`make soak` runs 60 s); the suite runs a short one.

#include "floodpeer.h"
#include "testdata.h"
#include "testsupport.h"

#include "log/LogBox.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using TestSupport::Window;

namespace {

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
        peer.start(payload, true);

        // Check the log against the stream at intervals and empty it, so the run
        // can last as long as asked without the log growing without bound.
        qint64 consumed = 0;
        qint64 peakKb = 0;
        bool mismatch = false;
        auto checkAndClear = [&] {
            const QString log = w->logBox()->text();
            const QByteArray shown = log.toLatin1();
            for (qsizetype i = 0; i < shown.size() && !mismatch; ++i)
                if (shown[i] != payload[(consumed + i) % payload.size()]) {
                    qWarning("log differs from the stream at byte %lld", consumed + i);
                    mismatch = true;
                }
            consumed += shown.size();
            w.find<QPushButton>("cmdClear")->click();
            // A peer faster than the window must be slowed down, not buffered without end.
            peakKb = qMax(peakKb, TestSupport::procStatusKb("VmRSS:"));
        };

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
        checker.setInterval(500);
        connect(&checker, &QTimer::timeout, this, checkAndClear);

        sender.start();
        checker.start();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000 && !mismatch)
            QTest::qWait(100);
        sender.stop();
        checker.stop();
        QVERIFY(!mismatch);
        QVERIFY(linesSent > 0);
        QVERIFY2(peakKb < 1024 * 1024, qPrintable(QStringLiteral("%1 MB in use").arg(peakKb / 1024)));

        const QByteArray lines = expectedLines(linesSent);
        QTRY_COMPARE_WITH_TIMEOUT(peer.receivedSize(), lines.size(), 30000);
        QCOMPARE(peer.received(), lines);

        // The peer stops; what it sent last still reaches the log before its close is handled.
        peer.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isConnected(), 30000);
        const QString log = w->logBox()->text();
        const qint64 rest = peer.sent() - consumed;
        QVERIFY(rest >= 0);
        const QByteArray tail = log.left(rest).toLatin1();
        for (qsizetype i = 0; i < tail.size(); ++i)
            if (tail[i] != payload[(consumed + i) % payload.size()])
                QFAIL(qPrintable(QStringLiteral("log differs from the stream at byte %1").arg(consumed + i)));
        QVERIFY(log.mid(rest).startsWith(QStringLiteral("\r\n<")));
        QVERIFY(log.mid(rest).contains(QStringLiteral("Client disconnected: 127.0.0.1")));
        qInfo("%d s: %.1f MB shown in order, %d lines sent back", seconds, peer.sent() / 1e6, linesSent);
    }
};

KELVANE_TEST_MAIN(TestSoak)
#include "tst_soak.moc"
