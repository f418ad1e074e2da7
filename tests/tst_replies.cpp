// Automatic replies without a window: each match kind over TCP and UDP against
// real loopback peers, the stream cut and matched across arrivals, groups in a
// HEX reply, order with delays, a reply loop with bounded memory, and the
// reasons a rule cannot work.

#include "loopback.h"

#include "send/ReplyEngine.h"
#include "ui/SocketSendLink.h"

#include <QFile>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

Q_DECLARE_METATYPE(ReplyRule)
Q_DECLARE_METATYPE(QList<ReplyRule>)

#ifdef __SANITIZE_ADDRESS__
// Freed memory goes back at once, so that the process's size shows what is held.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=0";
}
#endif

namespace {

// flags: "p" a HEX pattern, "r" a HEX reply, "c" CR LF after it.
ReplyRule rule(ReplyRule::Match match, const QString& pattern, const QString& reply,
               const QString& flags = {}, qint64 delayMs = 0)
{
    ReplyRule r;
    r.match = match;
    r.pattern = pattern;
    r.reply = reply;
    r.patternHex = flags.contains('p');
    r.replyHex = flags.contains('r');
    r.crLf = flags.contains('c');
    r.delayMs = delayMs;
    return r;
}

// Wired as the window wires it.
struct Rig
{
    SocketControl control;
    ReplyEngine engine{std::make_unique<SocketReplyLink>(&control)};
    QByteArray shown;
    QStringList notices;

    Rig()
    {
        QObject::connect(&control, &SocketControl::dataArrival,
                         [this] { answerArrival(engine, control, control.GetData()); });
        QObject::connect(&control, &SocketControl::bytesWritten, &engine, &ReplyEngine::linkDrained);
        QObject::connect(&control, &SocketControl::connectionRequest, [this](qint32 id) {
            control.Close();
            control.Accept(id);
        });
        QObject::connect(&engine, &ReplyEngine::replied,
                         [this](const QByteArrayList& items) { shown += items.at(0) + items.at(1); });
        QObject::connect(&engine, &ReplyEngine::notice,
                         [this](const QStringList& items) { notices += items; });
        engine.setEnabled(true);
    }
};

qint64 residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

} // namespace

class TestReplies : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<QList<ReplyRule>>("rules");
        QTest::addColumn<QByteArray>("delimiter");
        QTest::addColumn<QByteArrayList>("arrivals");
        QTest::addColumn<QByteArray>("expected");
        using R = ReplyRule;
        const QByteArray one = "Reply (rule 1):";
        for (const bool udp : {false, true}) {
            const char* over = udp ? ", UDP" : ", TCP";
            QTest::addRow("contains%s", over)
                << udp << QList<R>{rule(R::Contains, "PING", "+PONG", "c")} << QByteArray()
                << QByteArrayList{"*1\r\n$4\r\nPING\r\n", "PONG"} << one + "+PONG\r\n";
            QTest::addRow("starts%s", over)
                << udp << QList<R>{rule(R::Starts, "GET ", "HTTP/1.0 200 OK", "c")} << QByteArray()
                << QByteArrayList{"POST / GET ", "GET / HTTP/1.1\r\n\r\n"} << one + "HTTP/1.0 200 OK\r\n";
            QTest::addRow("equals a HEX pattern%s", over)
                << udp << QList<R>{rule(R::Equals, "01 \"-\"", "\"ok\" 00", "pr")} << QByteArray()
                << QByteArrayList{"\x01-\x02", "\x01-"} << one + QByteArray("ok\0", 3);
            QTest::addRow("regex, groups in a HEX reply%s", over)
                << udp
                << QList<R>{rule(R::Regex, "ID=(\\d+);(\\w+)?", "\"ack \" \\1 20 \\2 \"\\1\" \\\\ 0D0A", "r")}
                << QByteArray() << QByteArrayList{"ID=42;ok", "ID=7;"}
                << one + "ack 42 ok\\1\\\r\n" + one + "ack 7 \\1\\\r\n";
            QTest::addRow("regex over any byte, the first rule that matches%s", over)
                << udp
                << QList<R>{rule(R::Contains, "zz", "no"), rule(R::Regex, "\\x00[\\x80-\\xFF]+", "<\\0>"),
                            rule(R::Contains, "", "any")}
                << QByteArray() << QByteArrayList{QByteArray("a\0\xFF\x80", 4)}
                << "Reply (rule 2):" + QByteArray("<\0\xFF\x80>", 5);
        }
        QTest::newRow("contains across arrivals, once per occurrence")
            << false << QList<R>{rule(R::Contains, "PING", "P")} << QByteArray()
            << QByteArrayList{"xxPI", "NGyy", "PINGPI", "NG", "G"} << one + "P" + one + "P" + one + "P";
        QTest::newRow("a delimiter cuts across arrivals")
            << false << QList<R>{rule(R::Equals, "b", "B"), rule(R::Starts, "hello world", "H")}
            << QByteArray("\r\n") << QByteArrayList{"a\r\nhello ", "world\r\nb\r", "\n"}
            << "Reply (rule 2):H" + one + "B";
        QTest::newRow("order with delays")
            << false << QList<R>{rule(R::Starts, "slow", "1", {}, 300), rule(R::Starts, "fast", "2")}
            << QByteArray("\n") << QByteArrayList{"slow\nfast\n"} << one + "1Reply (rule 2):2";
    }

    void answers()
    {
        QFETCH(bool, udp);
        QFETCH(QList<ReplyRule>, rules);
        QFETCH(QByteArray, delimiter);
        QFETCH(QByteArrayList, arrivals);
        QFETCH(QByteArray, expected);
        Rig rig;
        rig.engine.setRules({rules, delimiter});
        QTcpServer server;
        QTcpSocket* tcpPeer = nullptr;
        QUdpSocket udpPeer;
        if (udp) {
            // The host and port boxes name someone else: the reply goes to the sender.
            rig.control.setProtocol(SocketControl::UdpProtocol);
            rig.control.setRemoteHost(QStringLiteral("127.0.0.1"));
            rig.control.setRemotePort(Loopback::unusedTcpPort());
            rig.control.Connect();
            QVERIFY(udpPeer.bind(QHostAddress::LocalHost, 0));
        } else {
            QVERIFY((tcpPeer = Loopback::connectClient(rig.control, server)));
        }
        QSignalSpy arrived(&rig.control, &SocketControl::dataArrival);
        for (const QByteArray& arrival : arrivals) {
            const qsizetype before = arrived.size();
            if (udp)
                udpPeer.writeDatagram(arrival, QHostAddress::LocalHost, quint16(rig.control.LocalPort()));
            else
                tcpPeer->write(arrival);
            QTRY_VERIFY(arrived.size() > before);
        }
        QByteArray received;
        auto take = [&] {
            while (udp && udpPeer.hasPendingDatagrams())
                received += udpPeer.receiveDatagram().data();
            if (!udp)
                received += tcpPeer->readAll();
            return received;
        };
        QTRY_COMPARE(rig.shown, expected);
        QByteArray sent = expected;
        sent.replace("Reply (rule 1):", "").replace("Reply (rule 2):", "");
        QTRY_COMPARE(take(), sent);
        QTest::qWait(50); // and nothing more
        QCOMPARE(take(), sent);
    }

    // Two sockets answer each other, each reply making two messages: what
    // waits stays bounded, and switching off stops the sending at once.
    void aReplyLoopStaysBoundedAndStopsAtOnce()
    {
        Rig server, client;
        const QString big(1000, QLatin1Char('x'));
        for (Rig* rig : {&server, &client}) {
            rig->engine.setShowSent(false);
            rig->engine.setRules({{rule(ReplyRule::Contains, "x", "\\0" + big + "\n" + big + "\n")}, "\n"});
        }
        server.control.setLocalPort(0);
        server.control.Listen();
        QSignalSpy connected(&client.control, &SocketControl::connected);
        client.control.setRemotePort(server.control.LocalPort());
        client.control.Connect();
        QVERIFY(connected.wait());
        QTRY_COMPARE(server.control.State(), int(SocketControl::sckConnected));
        const qint64 startKb = residentKb();
        client.control.SendData("x\n");
        QTRY_VERIFY_WITH_TIMEOUT(server.engine.replies() + client.engine.replies() > 40000, 120000);
        QVERIFY2(residentKb() - startKb < 48 * 1024, qPrintable(QString::number(residentKb() - startKb)));
        for (Rig* rig : {&server, &client}) {
            QVERIFY(rig->control.bytesToWrite() <= ReplyEngine::MaxHeldBytes + 2003);
            rig->engine.setEnabled(false);
        }
        const qint64 out = server.control.traffic().bytesOut + client.control.traffic().bytesOut;
        QTest::qWait(200);
        QCOMPARE(server.control.traffic().bytesOut + client.control.traffic().bytesOut, out);
        const QString told = server.notices.join('|');
        QVERIFY(told.contains(" not sent: replying was switched off") && told.contains(" not answered: "));
    }

    void aRuleThatCannotWorkSaysWhy_data()
    {
        QTest::addColumn<ReplyRule>("rule");
        QTest::addColumn<QString>("why");
        using R = ReplyRule;
        QTest::newRow("fine") << rule(R::Regex, "a(b)", "\\1 \\\\ \\q", "c", R::MaxDelayMs) << "";
        QTest::newRow("an expression that does not compile")
            << rule(R::Regex, "a(b", "x")
            << "the regular expression does not compile: missing closing parenthesis at column 4";
        QTest::newRow("an unclosed quote in a HEX pattern")
            << rule(R::Contains, "41 \"B", "x", "p") << "Unclosed quotion mark";
        QTest::newRow("an unclosed quote in a HEX reply")
            << rule(R::Contains, "A", "\"\\0", "r") << "Unclosed quotion mark";
        QTest::newRow("a delay out of range")
            << rule(R::Contains, "A", "x", {}, -1)
            << "the delay must be a whole number of ms from 0 to 2,147,483,647";
        QTest::newRow("a character that is not one byte")
            << rule(R::Contains, "A", QString(QChar(0x20AC)))
            << QString::fromUtf8("Character '\u20AC' (U+20AC) has no single-byte code; nothing was sent.");
    }

    void aRuleThatCannotWorkSaysWhy()
    {
        QFETCH(ReplyRule, rule);
        QFETCH(QString, why);
        QCOMPARE(replyRuleProblem(rule), why);
    }
};

QTEST_GUILESS_MAIN(TestReplies)
#include "tst_replies.moc"
