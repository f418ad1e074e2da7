// The information line for each situation of the connection, with what it
// has carried and how far a file has been sent.

#include "ui/StatusLine.h"

#include <QTest>

Q_DECLARE_METATYPE(StatusFacts)

class TestStatusLine : public QObject
{
    Q_OBJECT

private slots:
    void text_data()
    {
        QTest::addColumn<StatusFacts>("facts");
        QTest::addColumn<QString>("expected");
        using S = StatusFacts::Situation;
        auto facts = [](S situation, bool udp = false) {
            StatusFacts f;
            f.situation = situation;
            f.udp = udp;
            f.peer = QStringLiteral("10.0.0.5:5005");
            f.localPort = 5005;
            f.traffic = {1258291, 3482, 3201, 12};
            return f;
        };
        QTest::newRow("idle") << facts(S::Idle) << "Not connected";
        QTest::newRow("connecting") << facts(S::Connecting) << "Connecting to 10.0.0.5:5005";
        QTest::newRow("listening") << facts(S::Listening) << "Listening on port 5005";
        QTest::newRow("connected over TCP")
            << facts(S::Connected) << "Connected to 10.0.0.5:5005 - 1.2 MB in, 3.4 KB out";
        QTest::newRow("UDP") << facts(S::Connected, true)
                             << "UDP on port 5005 - 3,201 datagrams in, 12 dropped, 3.4 KB out";
        StatusFacts heard = facts(S::Connected, true);
        heard.lastSender = QStringLiteral("[::1]:4000");
        QTest::newRow("UDP names its last sender")
            << heard
            << "UDP on port 5005, last datagram from [::1]:4000 - 3,201 datagrams in, 12 dropped, 3.4 KB out";
        QTest::newRow("listening again")
            << facts(S::ListeningAgain) << "Listening again on port 5005 - 1.2 MB in, 3.4 KB out";
        StatusFacts sending = facts(S::Connected);
        sending.traffic = {0, 1, 0, 0};
        sending.sending = true;
        sending.file = {QStringLiteral("/data/lines.txt"), 120, 250, 1000};
        QTest::newRow("sending a file") << sending
                                        << "Connected to 10.0.0.5:5005 - 0 bytes in, 1 byte out | Sending "
                                           "lines.txt: line 120 (25%)";
        StatusFacts repeating = sending;
        repeating.repeating = true;
        repeating.repeatSent = 1037;
        repeating.repeatTimes = 100000;
        QTest::newRow("sending a file and repeating a line")
            << repeating
            << "Connected to 10.0.0.5:5005 - 0 bytes in, 1 byte out | Sending lines.txt: line 120 (25%) | "
               "Repeating: 1,037 of 100,000";
        StatusFacts untilStopped = facts(S::Connected, true);
        untilStopped.repeating = true;
        untilStopped.repeatSent = 37;
        QTest::newRow("repeating until stopped")
            << untilStopped
            << "UDP on port 5005 - 3,201 datagrams in, 12 dropped, 3.4 KB out | Repeating: 37 sent";
        StatusFacts capturing = facts(S::Idle);
        capturing.capturing = true;
        capturing.capturePath = QStringLiteral("/data/soak test.log");
        capturing.captureBytes = 12897485;
        QTest::newRow("capturing") << capturing << "Not connected | Capturing to soak test.log - 12.3 MB";
    }
    void text()
    {
        QFETCH(StatusFacts, facts);
        QFETCH(QString, expected);
        QCOMPARE(statusText(facts), expected);
    }

    void byteSizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one byte") << qint64(1) << "1 byte";
        QTest::newRow("just under a kilobyte") << qint64(1023) << "1023 bytes";
        QTest::newRow("a kilobyte") << qint64(1024) << "1.0 KB";
        QTest::newRow("rounds up into the next unit") << qint64(1048575) << "1.0 MB";
        QTest::newRow("stays below the next unit") << qint64(1048575 - 60 * 1024) << "964.0 KB";
        QTest::newRow("terabytes have no larger unit") << (qint64(5000) << 40) << "5000.0 TB";
    }
    void byteSizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, expected);
        QCOMPARE(byteSize(bytes), expected);
    }
};

QTEST_GUILESS_MAIN(TestStatusLine)
#include "tst_statusline.moc"
