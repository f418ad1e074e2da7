// The repeater over a real socket control and a loopback peer: exact counts,
// pacing by a peer that pauses, the ends of a run and what each reports.

#include "loopback.h"

#include "net/SocketControl.h"
#include "send/Repeater.h"
#include "ui/SocketSendLink.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

namespace {

constexpr int LongTimeout = 60000;

// A repeater over a socket control wired as the window wires it, keeping what it reports.
struct Rig
{
    SocketControl control;
    Repeater repeater{std::make_unique<SocketSendLink>(&control)};
    QList<QStringList> reports;
    qint64 shown = 0;
    qint64 mostWaiting = 0;
    qint64 notSent = 0;
    qint64 waitingAtReport = -1;

    Rig()
    {
        QObject::connect(&repeater, &Repeater::report, [this](const QStringList& items) {
            reports.append(items);
            waitingAtReport = control.bytesToWrite();
        });
        QObject::connect(&repeater, &Repeater::sentLine, [this] { ++shown; });
        QObject::connect(&control, &SocketControl::bytesWritten, &repeater, &Repeater::linkDrained);
        QObject::connect(&control, &SocketControl::closed, &repeater, [this] {
            repeater.connectionEnded();
            control.Close();
        });
        QObject::connect(&control, &SocketControl::bytesNotSent, [this](qint64 bytes, bool closedEarlier) {
            notSent += bytes;
            repeater.dataLost(bytes, closedEarlier);
        });
        // Sampled whenever it can be at its highest: after each pass of sending.
        QObject::connect(&repeater, &Repeater::sentLine,
                         [this] { mostWaiting = qMax(mostWaiting, control.bytesToWrite()); });
    }
};

} // namespace

class TestRepeater : public QObject
{
    Q_OBJECT

private slots:
    void countsExactAtIntervalZero_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<qint64>("times");
        QTest::addColumn<QString>("ended");
        QTest::newRow("once") << "status?" << false << qint64(1) << "Repeated 1 time.";
        QTest::newRow("200,000 short ASCII lines")
            << "0123456789abcd" << false << qint64(200000) << "Repeated 200,000 times.";
        QTest::newRow("300 HEX lines of 64 KB")
            << QStringLiteral("41 ").repeated(65536) << true << qint64(300) << "Repeated 300 times.";
    }

    void countsExactAtIntervalZero()
    {
        QFETCH(QString, line);
        QFETCH(bool, hex);
        QFETCH(qint64, times);
        QFETCH(QString, ended);
        Rig rig;
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(rig.control, server);
        QVERIFY(peer);
        QByteArray received;
        connect(peer, &QTcpSocket::readyRead, peer, [&] { received += peer->readAll(); });

        const LineToSend prepared = prepareLine(line, hex, true);
        rig.repeater.start(prepared, times, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.repeater.isRunning(), LongTimeout);
        QCOMPARE(rig.reports, QList<QStringList>{{ended}});
        // Said only once the last line has left the program.
        QCOMPARE(rig.waitingAtReport, 0);
        QCOMPARE(rig.shown, times);
        QCOMPARE(rig.repeater.sent(), times);
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), prepared.payload.size() * times, LongTimeout);
        QVERIFY(received == prepared.payload.repeated(times));
        QVERIFY(rig.mostWaiting <= FileSender::MaxWaitingBytes + prepared.payload.size());
    }

    // A peer that stops reading holds the run at what the socket takes; each
    // end says how far it came and what was lost, and what did go out is whole lines.
    void endsOfARunWithAPausingPeer_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("times");
        QTest::newRow("stopped, until stopped") << "stop" << qint64(0);
        QTest::newRow("stopped") << "stop" << Repeater::MaxTimes;
        QTest::newRow("connection lost") << "lost" << Repeater::MaxTimes;
        QTest::newRow("sending failed") << "failed" << qint64(0);
    }

    void endsOfARunWithAPausingPeer()
    {
        QFETCH(QString, end);
        QFETCH(qint64, times);
        Rig rig;
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(rig.control, server);
        QVERIFY(peer);
        peer->setReadBufferSize(1024);
        const LineToSend line = prepareLine(QStringLiteral("line of 31 bytes with CR LF"), false, true);
        rig.repeater.start(line, times, 0);
        QTRY_VERIFY_WITH_TIMEOUT(rig.control.bytesToWrite() >= FileSender::MaxWaitingBytes, LongTimeout);
        const qint64 sent = rig.repeater.sent();

        QString after =
            QStringLiteral("Repeating stopped after %1").arg(QLocale(QLocale::English).toString(sent));
        if (times > 0)
            after += QStringLiteral(" of 1,000,000,000");
        QStringList expected{after + QLatin1Char('.')};
        if (end == QLatin1String("stop")) {
            rig.repeater.stop();
        } else if (end == QLatin1String("failed")) {
            rig.repeater.sendingFailed(QStringLiteral("Host not found."), 12345);
            expected << QStringLiteral("Host not found; the last 12,345 bytes were not sent.");
        } else {
            peer->abort();
            QTRY_VERIFY(rig.notSent > 0);
            expected << QStringLiteral("The connection ended; the last %1 bytes were not sent.")
                            .arg(QLocale(QLocale::English).toString(rig.notSent));
        }
        QTRY_VERIFY(!rig.repeater.isRunning());
        QCOMPARE(rig.reports, QList<QStringList>{expected});
        // Never more waited than the socket takes, however long the run.
        QVERIFY(rig.mostWaiting <= FileSender::MaxWaitingBytes + line.payload.size());
        if (end == QLatin1String("stop")) {
            QByteArray received;
            peer->setReadBufferSize(0);
            connect(peer, &QTcpSocket::readyRead, peer, [&] { received += peer->readAll(); });
            received += peer->readAll();
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), line.payload.size() * sent, LongTimeout);
            QVERIFY(received == line.payload.repeated(sent));
        }
    }

    // Send k is due at start + k * interval: a tick held up sends all that
    // came due meanwhile at once, and the rest keeps its times.
    void aLateTickCatchesUp()
    {
        Rig rig;
        QTcpServer server;
        QVERIFY(Loopback::connectClient(rig.control, server));
        rig.repeater.start(prepareLine(QStringLiteral("x"), false, false), 0, 10);
        QTRY_COMPARE(rig.repeater.sent(), 1);
        QElapsedTimer held;
        held.start();
        while (!held.hasExpired(105)) {
        }
        QSignalSpy sent(&rig.repeater, &Repeater::sentLine);
        QVERIFY(sent.wait());
        QVERIFY2(sent.count() >= 10, qPrintable(QString::number(sent.count())));
        rig.repeater.stop();
    }

    void refusedAtTheStart_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("times");
        QTest::addColumn<qint64>("interval");
        QTest::addColumn<QString>("reason");
        QTest::newRow("too long for a datagram")
            << 65508 << qint64(1) << qint64(0)
            << "The line does not fit in one datagram: 65,508 bytes, at most 65,507 bytes fit";
        QTest::newRow("the longest datagram") << 65507 << qint64(1) << qint64(0) << "";
        QTest::newRow("empty") << 0 << qint64(1) << qint64(0)
                               << "The line is empty: there is nothing to repeat";
        QTest::newRow("too many times")
            << 1 << Repeater::MaxTimes + 1 << qint64(0) << "Invalid property value";
        QTest::newRow("negative interval") << 1 << qint64(1) << qint64(-1) << "Invalid property value";
    }

    void refusedAtTheStart()
    {
        QFETCH(int, size);
        QFETCH(qint64, times);
        QFETCH(qint64, interval);
        QFETCH(QString, reason);
        Rig rig;
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        rig.control.setProtocol(SocketControl::UdpProtocol);
        rig.control.setRemotePort(peer.localPort());
        rig.control.Connect();
        const QByteArray payload(size, 'u');
        QString refused;
        try {
            rig.repeater.start({payload, {"Sent:", payload}}, times, interval);
        } catch (const KvError& e) {
            refused = e.description();
        }
        QCOMPARE(refused, reason);
        if (!reason.isEmpty()) {
            QVERIFY(!rig.repeater.isRunning());
            QVERIFY(!QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }, 100));
            return;
        }
        QTRY_VERIFY(peer.hasPendingDatagrams());
        QVERIFY(peer.receiveDatagram().data() == payload);
        QTRY_COMPARE(rig.reports, QList<QStringList>{{QStringLiteral("Repeated 1 time.")}});
    }
};

QTEST_GUILESS_MAIN(TestRepeater)
#include "tst_repeater.moc"
