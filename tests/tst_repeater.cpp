#include "loopback.h"

#include "send/Repeater.h"
#include "ui/SocketSendLink.h"

#include <QtTest>

namespace {

// Wired as the window wires it.
struct Rig
{
    SocketControl control;
    Repeater repeater{std::make_unique<SocketSendLink>(&control)};
    QList<QStringList> reports;
    qint64 shown = 0, mostWaiting = 0, notSent = 0, waitingAtReport = -1;

    Rig()
    {
        QObject::connect(&repeater, &Repeater::report, [this](const QStringList& items) {
            reports.append(items);
            waitingAtReport = control.bytesToWrite();
        });
        QObject::connect(&repeater, &Repeater::sentLine, [this] {
            ++shown;
            mostWaiting = qMax(mostWaiting, control.bytesToWrite());
        });
        QObject::connect(&control, &SocketControl::bytesWritten, &repeater, &Repeater::linkDrained);
        QObject::connect(&control, &SocketControl::closed, [this] {
            repeater.connectionEnded();
            control.Close();
        });
        QObject::connect(&control, &SocketControl::bytesNotSent, [this](qint64 bytes, bool earlier) {
            notSent += bytes;
            repeater.dataLost(bytes, earlier);
        });
    }
};

const QLocale English(QLocale::English);

} // namespace

class TestRepeater : public QObject
{
    Q_OBJECT

private slots:
    // To the end, or held by a peer that reads nothing until it ends otherwise.
    void runs_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<qint64>("times");
        QTest::addColumn<QString>("end");
        const QByteArray line = "31 bytes with its CR LF........\r\n";
        QTest::newRow("200,000 short lines") << line << qint64(200000) << "";
        QTest::newRow("300 lines of 64 KB") << QByteArray(65536, 'A') << qint64(300) << "";
        QTest::newRow("stopped, until stopped") << line << qint64(0) << "stop";
        QTest::newRow("stopped") << line << Repeater::MaxTimes << "stop";
        QTest::newRow("connection lost") << line << Repeater::MaxTimes << "lost";
        QTest::newRow("UDP line too long") << QByteArray(65508, 'u') << qint64(1) << "udp";
    }

    void runs()
    {
        QFETCH(QByteArray, line);
        QFETCH(qint64, times);
        QFETCH(QString, end);
        Rig rig;
        if (end == "udp") {
            rig.control.setProtocol(SocketControl::UdpProtocol);
            rig.control.Connect();
            QVERIFY_THROWS_EXCEPTION(KvError, rig.repeater.start({line, {}}, times, 0));
            return;
        }
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(rig.control, server);
        QVERIFY(peer);
        peer->setReadBufferSize(end.isEmpty() ? 0 : 1024);
        rig.repeater.start({line, {"Sent:", line}}, times, 0);
        QStringList expected{QStringLiteral("Repeated %1 times.").arg(English.toString(times))};
        if (!end.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(rig.control.bytesToWrite() >= FileSender::MaxWaitingBytes, 60000);
            expected = QStringList{
                QStringLiteral("Repeating stopped after %1%2.")
                    .arg(English.toString(rig.repeater.sent()), times ? " of 1,000,000,000" : "")};
            if (end == "stop")
                rig.repeater.stop();
            else
                peer->abort();
            QTRY_VERIFY(end == "stop" || rig.notSent > 0);
            if (end == "lost")
                expected << QStringLiteral("The connection ended; the last %1 bytes were not sent.")
                                .arg(English.toString(rig.notSent));
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.reports, QList<QStringList>{expected}, 60000);
        QVERIFY(rig.mostWaiting <= FileSender::MaxWaitingBytes + line.size());
        QCOMPARE(rig.shown, rig.repeater.sent());
        if (end == "lost")
            return;
        QCOMPARE(rig.waitingAtReport == 0, end.isEmpty()); // "Repeated" once the last line has left
        peer->setReadBufferSize(0);
        QByteArray received;
        QTRY_COMPARE_WITH_TIMEOUT((received += peer->readAll()).size(), line.size() * rig.repeater.sent(),
                                  60000);
        QVERIFY(received == line.repeated(rig.repeater.sent()));
    }
};

QTEST_GUILESS_MAIN(TestRepeater)
#include "tst_repeater.moc"
