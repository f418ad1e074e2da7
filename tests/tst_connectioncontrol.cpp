// The connection control: the connect button's work, the close paths,
// listening again and the socket's events, driven directly against real
// peers on loopback, with a view of plain values in place of the window.

#include "loopback.h"
#include "testsupport.h"

#include "net/ConnectionControl.h"
#include "net/SocketControl.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

using TestSupport::bodies;
using TestSupport::body;

namespace {

const QString Idle = QStringLiteral("socket closed, boxes enabled, roles enabled, not connected");
const QString Listening = QStringLiteral("socket listening, boxes enabled, roles disabled, not connected");
const QString ConnectedTcp = QStringLiteral("socket connected, boxes disabled, roles disabled, connected");
const QString ConnectedUdp = QStringLiteral("socket open, boxes disabled, roles disabled, connected");
const QString ListeningAgain = QStringLiteral("socket listening, boxes disabled, roles disabled, connected");

constexpr int Server = 0;
constexpr int Client = 1;
constexpr int Tcp = 0;
constexpr int Udp = 1;

// The window's controls as plain values, and what the control did to them.
struct View : ConnectionView
{
    QString host = QStringLiteral("127.0.0.1");
    QString remotePort = QStringLiteral("5005");
    QString localPort = QStringLiteral("0");
    int role = Server;
    int protocolItem = Tcp; // -1: none chosen
    bool closeBox = true;
    bool closeBoxUnreadable = false; // reading the box fails, as a control that is gone would

    bool boxesEnabled = true;
    bool rolesEnabled = true;
    bool ticking = false; // the file timer
    QStringList entries;  // as the log shows their bodies

    QString hostText() const override { return host; }
    QString remotePortText() const override { return remotePort; }
    QString localPortText() const override { return localPort; }
    bool serverRole() const override { return role == Server; }
    bool clientRole() const override { return role == Client; }
    int protocol() const override
    {
        if (protocolItem < 0)
            throw KvErr::invalidPropertyValue();
        return protocolItem;
    }
    bool closeOnDisconnect() const override
    {
        if (closeBoxUnreadable)
            throw KvErr::invalidPropertyValue();
        return closeBox;
    }
    void setAddressBoxesEnabled(bool enabled) override { boxesEnabled = enabled; }
    void setRoleOptionsEnabled(bool enabled) override { rolesEnabled = enabled; }
    void connectionEnded() override { ticking = false; }
    void report(const QStringList& items) override { entries.append(body(items)); }
};

// A socket control and the connection control over it, wired as the window wires them.
struct Harness
{
    SocketControl socket;
    View view;
    ConnectionControl control{&socket, &view};
    QStringList boxes; // failures the window would show in its warning box

    Harness()
    {
        QObject::connect(&socket, &SocketControl::closed, &control, &ConnectionControl::peerClosed);
        QObject::connect(&socket, &SocketControl::connected, &control, &ConnectionControl::connected);
        QObject::connect(&socket, &SocketControl::connectionRequest, &control,
                         &ConnectionControl::connectionRequest);
        QObject::connect(&socket, &SocketControl::error, &control,
                         [this](int, const QString& description) { control.error(description); });
        QObject::connect(&socket, &SocketControl::sendingFailed, &control, &ConnectionControl::sendingFailed);
    }
    ConnectionControl* operator->() { return &control; }
    QString log() const { return view.entries.join(QString()); }
};

QString situation(Harness& w)
{
    return TestSupport::situationText(w.socket.State(), w.view.boxesEnabled, w.view.rolesEnabled,
                                      w->isConnected());
}

QStringList entries(const Harness& w)
{
    return w.view.entries;
}

// The entries written since the log held `from` entries.
QStringList entriesSince(const Harness& w, qsizetype from)
{
    return w.view.entries.mid(from);
}

void prepare(Harness& w, int role, int protocol, const QString& remotePort, const QString& localPort = "0",
             const QString& ip = "127.0.0.1")
{
    w.view.role = role;
    w.view.protocolItem = protocol;
    w.view.host = ip;
    w.view.remotePort = remotePort;
    w.view.localPort = localPort;
}

void clickConnect(Harness& w)
{
    const QString failure = w->connectOrClose();
    if (!failure.isEmpty())
        w.boxes.append(failure);
}

// A TCP server on a free port, with the peer on its way in; returns the port.
quint16 serve(Harness& w, bool closeBox, QTcpSocket& peer)
{
    prepare(w, Server, Tcp, "5005", "0");
    w.view.closeBox = closeBox;
    clickConnect(w);
    const quint16 port = quint16(w.socket.LocalPort());
    peer.connectToHost(QHostAddress::LocalHost, port);
    return port;
}

} // namespace

class TestConnectionControl : public QObject
{
    Q_OBJECT

private slots:
    void disconnectClickLogsOnlyTheClose_data()
    {
        QTest::addColumn<bool>("pending");
        QTest::newRow("connected TCP client") << false;
        QTest::newRow("TCP connect still pending") << true;
    }
    void disconnectClickLogsOnlyTheClose()
    {
        QFETCH(bool, pending);
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        Harness w;
        prepare(w, Client, Tcp, QString::number(peer.serverPort()));
        clickConnect(w);
        QCOMPARE(w->situation(), ConnectionControl::Situation::Connecting);
        QTcpSocket* accepted = nullptr;
        if (!pending) {
            QTRY_VERIFY(w->isConnected());
            QTRY_VERIFY(peer.hasPendingConnections());
            accepted = peer.nextPendingConnection();
        }
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QCOMPARE(entriesSince(w, before), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->isLocalClose());
        if (accepted)
            QTRY_COMPARE(accepted->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(entriesSince(w, before).size(), 1);
    }

    void serverListensAndAcceptsOnePeer()
    {
        Harness w;
        prepare(w, Server, Tcp, "5005", "0");
        const qsizetype before = entries(w).size();

        clickConnect(w);
        // The typed port is logged, whatever port the system gave.
        QCOMPARE(entriesSince(w, before), bodies({{"127.0.0.1:0 is listening"}}));
        QCOMPARE(situation(w), Listening);
        QCOMPARE(w->situation(), ConnectionControl::Situation::Listening);
        const quint16 port = quint16(w.socket.LocalPort());
        QVERIFY(port != 0);

        QSignalSpy requests(&w.socket, &SocketControl::connectionRequest);
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(w->isConnected());
        QCOMPARE(requests.count(), 1);
        const qint32 id = requests.at(0).at(0).toInt();
        QCOMPARE(entriesSince(w, before).mid(1),
                 bodies({{"Connection Request Accepted: " + QString::number(id),
                          "Remote IP: 127.0.0.1:" + QString::number(peer.localPort())}}));
        QCOMPARE(situation(w), ConnectedTcp);

        // Listening ended with the accept.
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(entriesSince(w, before).size(), 2);
    }

    void clientLeavesAndTheServerListensAgain()
    {
        Harness w;
        QTcpSocket first;
        const quint16 port = serve(w, false, first);
        QTRY_VERIFY(w->isConnected());
        w.view.ticking = true;
        const qsizetype before = entries(w).size();

        first.disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 2);
        // The real port, the one clients must use, not the typed 0.
        QCOMPARE(entriesSince(w, before),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Listening port " + QString::number(port)}}));
        QCOMPARE(situation(w), ListeningAgain);
        QCOMPARE(w->situation(), ConnectionControl::Situation::ListeningAgain);
        QCOMPARE(w.socket.LocalPort(), qint32(port));
        // Sendings to the peer that left stop at once.
        QVERIFY(!w.view.ticking);

        QSignalSpy requests(&w.socket, &SocketControl::connectionRequest);
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(w.socket.State(), int(SocketControl::sckConnected));
        QCOMPARE(requests.count(), 1);
        QCOMPARE(entriesSince(w, before).mid(2),
                 bodies({{"Connection Request Accepted: " + QString::number(requests.at(0).at(0).toInt()),
                          "Remote IP: 127.0.0.1:" + QString::number(second.localPort())}}));
        QCOMPARE(situation(w), ConnectedTcp);
        QCOMPARE(w->situation(), ConnectionControl::Situation::Connected);

        clickConnect(w);
        QCOMPARE(entriesSince(w, before).mid(3), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QCOMPARE(w->situation(), ConnectionControl::Situation::Idle);
        QVERIFY(!w.view.ticking);
    }

    void failedLocalCloseLeavesThePeersCloseAsThePeers()
    {
        Harness w;
        QTcpSocket peer;
        const quint16 port = serve(w, false, peer);
        QTRY_VERIFY(w->isConnected());

        // Our close fails part way and the connection stays.
        w.view.closeBoxUnreadable = true;
        const qsizetype before = entries(w).size();
        clickConnect(w);
        QCOMPARE(entriesSince(w, before).size(), 1);
        QCOMPARE(w.socket.State(), int(SocketControl::sckConnected));
        QVERIFY(!w->isLocalClose());

        // The peer's close later is still the peer's: logged, and the server listens again.
        w.view.closeBoxUnreadable = false;
        peer.disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 3);
        QCOMPARE(entriesSince(w, before).mid(1),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Listening port " + QString::number(port)}}));
        QCOMPARE(situation(w), ListeningAgain);
    }

    void clientLeavesAndTheServerCloses()
    {
        Harness w;
        QTcpSocket peer;
        const quint16 port = serve(w, true, peer);
        QTRY_VERIFY(w->isConnected());
        w.view.ticking = true;
        const qsizetype before = entries(w).size();

        peer.disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 2);
        QCOMPARE(entriesSince(w, before),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w.view.ticking);

        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!late.waitForConnected(5000));
    }

    void listeningAgainOnATakenPortEndsTheServer()
    {
        Harness w;
        QTcpSocket peer;
        const quint16 port = serve(w, false, peer);
        QTRY_VERIFY(w->isConnected());

        // Someone else takes the port while the window serves its client.
        QTcpServer intruder;
        QVERIFY2(intruder.listen(QHostAddress::Any, port), qPrintable(intruder.errorString()));
        const qsizetype before = entries(w).size();

        peer.disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 3);
        const QStringList logged = entriesSince(w, before);
        QCOMPARE(logged.at(0), body({"Client disconnected: 127.0.0.1"}));
        QVERIFY(logged.at(1) != body({""}));
        QVERIFY(!logged.at(1).startsWith("Listening port"));
        QCOMPARE(logged.at(2), body({"Server port closed."}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->isLocalClose());
        QVERIFY(w.boxes.isEmpty());
    }

    void clickWhileListeningEndsTheServer()
    {
        Harness w;
        prepare(w, Server, Tcp, "5005", "0");
        clickConnect(w);
        const quint16 port = quint16(w.socket.LocalPort());
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QCOMPARE(entriesSince(w, before), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!late.waitForConnected(5000));
    }

    void udpConnectsAtOnce_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("portableReader");
        QTest::addColumn<QStringList>("expected");
        const QString connected = body({"Connected to 127.0.0.1:<remote port>"});
        const QString listening = body({"127.0.0.1:0 is listening"});
        const QString uncounted = body({TestSupport::UncountedDrops});
        QTest::newRow("client") << Client << false << QStringList{connected};
        QTest::newRow("server: connected, then listening")
            << Server << false << QStringList{connected, listening};
        QTest::newRow("client reading through Qt: then what its drop counts leave out")
            << Client << true << QStringList{connected, uncounted};
        QTest::newRow("server reading through Qt: connected, listening, what its drop counts leave out")
            << Server << true << QStringList{connected, listening, uncounted};
    }
    void udpConnectsAtOnce()
    {
        QFETCH(int, role);
        QFETCH(bool, portableReader);
        QFETCH(QStringList, expected);
        // A build without the system's reader reads through Qt either way.
        if (!portableReader && !TestSupport::SystemReader)
            expected << body({TestSupport::UncountedDrops});
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        const QString port = QString::number(peer.localPort());
        Harness w;
        w.socket.setPortableDatagramReader(portableReader);
        prepare(w, role, Udp, port, "0");
        const qsizetype before = entries(w).size();

        clickConnect(w);
        // No socket event is awaited: all is logged within the click.
        for (QString& e : expected)
            e.replace("<remote port>", port);
        QCOMPARE(entriesSince(w, before), expected);
        QCOMPARE(situation(w), ConnectedUdp);

        // The socket really is bound: a datagram to it arrives.
        QSignalSpy arrivals(&w.socket, &SocketControl::dataArrival);
        peer.writeDatagram("ping", QHostAddress::LocalHost, quint16(w.socket.LocalPort()));
        QVERIFY(arrivals.wait());

        const qsizetype open = entries(w).size();
        clickConnect(w);
        QCOMPARE(entriesSince(w, open), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
    }

    void socketErrorIsLogged_data()
    {
        QTest::addColumn<bool>("whileConnected");
        QTest::addColumn<QString>("after");
        QTest::newRow("refused connection: idle") << false << Idle;
        // The socket closes; the connection as the user sees it stays.
        QTest::newRow("error while connected")
            << true << QStringLiteral("socket closed, boxes enabled, roles disabled, connected");
    }
    void socketErrorIsLogged()
    {
        QFETCH(bool, whileConnected);
        QFETCH(QString, after);
        const quint16 port = Loopback::unusedTcpPort();
        QVERIFY(port != 0);
        QTcpServer peer;
        QVERIFY(!whileConnected || peer.listen(QHostAddress::LocalHost, port));
        Harness w;
        prepare(w, Client, Tcp, QString::number(port));
        QSignalSpy errors(&w.socket, &SocketControl::error);
        clickConnect(w);
        if (whileConnected)
            QTRY_VERIFY(w->isConnected());
        const qsizetype before = entries(w).size();
        // No loopback peer makes a connected socket fail: its event is raised here.
        if (whileConnected)
            emit w.socket.error(SocketControl::ErrNetwork, QStringLiteral("Network error: link down"));

        QTRY_COMPARE(errors.count(), 1);
        const QString description = errors.at(0).at(1).toString();
        QVERIFY(!description.isEmpty());
        QCOMPARE(entriesSince(w, before), bodies({{description}}));
        QCOMPARE(situation(w), after);
        QVERIFY(w.boxes.isEmpty());

        // The next click opens a new connection, since the socket is closed.
        QVERIFY(whileConnected || peer.listen(QHostAddress::LocalHost, port));
        clickConnect(w);
        QTRY_COMPARE(situation(w), ConnectedTcp);
    }

    void unknownHost_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("logged");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QByteArray>("waiting"); // sent before the lookup answered
        QTest::addColumn<QStringList>("unsent");
        // UDP needs the host only to send: it stays bound and receiving.
        const QString udpAfter = ConnectedUdp;
        const QString withNul = QStringLiteral("127.0.0.1") + QChar(0) + QStringLiteral("evil");
        QTest::newRow("tcp client, unknown name: connecting ends in idle")
            << Tcp << "nonexistent.invalid" << 1 << Idle << QByteArray() << QStringList();
        QTest::newRow("udp client, unknown name: stays connected")
            << Udp << "nonexistent.invalid" << 2 << udpAfter << QByteArray() << QStringList();
        QTest::newRow("udp client, unknown name, one byte waiting")
            << Udp << "nonexistent.invalid" << 2 << udpAfter << QByteArray("x")
            << QStringList{"1 byte waiting for it was not sent."};
        QTest::newRow("udp client, unknown name, two bytes waiting")
            << Udp << "nonexistent.invalid" << 2 << udpAfter << QByteArray("xy")
            << QStringList{"2 bytes waiting for it were not sent."};
        // A listener waits on 127.0.0.1: the text before the NUL must not reach it.
        QTest::newRow("tcp client, NUL inside the host")
            << Tcp << withNul << 1 << Idle << QByteArray() << QStringList();
        QTest::newRow("udp client, NUL inside the host")
            << Udp << withNul << 2 << udpAfter << QByteArray() << QStringList();
        QTest::newRow("tcp client, tab after the host")
            << Tcp << "127.0.0.1\tx" << 1 << Idle << QByteArray() << QStringList();
    }
    void unknownHost()
    {
        QFETCH(int, protocol);
        QFETCH(QString, host);
        QFETCH(int, logged);
        QFETCH(QString, after);
        QFETCH(QByteArray, waiting);
        QFETCH(QStringList, unsent);
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        Harness w;
        prepare(w, Client, protocol, QString::number(listener.serverPort()), "0", host);
        QSignalSpy errors(&w.socket, &SocketControl::error);
        QSignalSpy notFound(&w.socket, &SocketControl::sendingFailed);
        const qsizetype before = entries(w).size();

        clickConnect(w);
        if (!waiting.isEmpty())
            w.socket.SendData(waiting);
        QTRY_COMPARE_WITH_TIMEOUT(errors.count() + notFound.count(), 1, 60000);
        const QString description = (protocol == Udp ? notFound.at(0).at(0) : errors.at(0).at(1)).toString();
        QVERIFY(description.startsWith(QStringLiteral("Host not found")));
        // Without the system's reader, the entry on what its drop counts leave out.
        const int uncounted = protocol == Udp && !TestSupport::SystemReader ? 1 : 0;
        QCOMPARE(entriesSince(w, before).size(), logged + uncounted);
        QCOMPARE(entriesSince(w, before).constLast(), body(QStringList{description} + unsent));
        QCOMPARE(situation(w), after);
        QVERIFY(w.boxes.isEmpty());
        QVERIFY(!listener.hasPendingConnections());
    }

    void addressesJoinedToPorts_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("expected"); // <port> is the peer's port
        QTest::newRow("ipv6 client") << Client << "::1"
                                     << "Connected to [::1]:<port>";
        QTest::newRow("ipv6 client in brackets") << Client << "[::1]"
                                                 << "Connected to [::1]:<port>";
        QTest::newRow("ipv4 client") << Client << "127.0.0.1"
                                     << "Connected to 127.0.0.1:<port>";
        QTest::newRow("ipv6 server") << Server << "::1"
                                     << "[::1]:0 is listening";
        QTest::newRow("ipv6 peer of a server") << Server << "::1"
                                               << "Remote IP: [::1]:<port>";
        // A host that holds "%1" is shown as typed, not read as a format.
        QTest::newRow("scoped ipv6 host") << Client << "::1%1"
                                          << "Connected to [::1%1]:<port>";
    }
    void addressesJoinedToPorts()
    {
        QFETCH(int, role);
        QFETCH(QString, host);
        QFETCH(QString, expected);
        QTcpServer listener;
        if (!Loopback::ipv6Available())
            QSKIP("no IPv6 loopback here");
        QVERIFY(listener.listen(QHostAddress::Any, 0)); // both families
        Harness w;
        prepare(w, role, Tcp, QString::number(listener.serverPort()), "0", host);
        clickConnect(w);
        QString port = QString::number(listener.serverPort());
        if (role == Server) {
            QTcpSocket peer;
            peer.connectToHost(QHostAddress::LocalHostIPv6, quint16(w.socket.LocalPort()));
            QTRY_VERIFY(w->isConnected());
            port = QString::number(peer.localPort());
        }
        QTRY_VERIFY(w->isConnected());
        QTRY_VERIFY(w.log().contains(QString(expected).replace(QStringLiteral("<port>"), port)));
    }

    void badSettingsFailTheClick_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("remotePort");
        QTest::addColumn<QString>("localPort");
        QTest::addColumn<QString>("description");
        const QString mismatch = KvErr::typeMismatch().description();
        const QString invalid = KvErr::invalidPropertyValue().description();
        const QString overflow = KvErr::overflow().description();

        QTest::newRow("server, letters in local port") << Server << Tcp << "5005"
                                                       << "12ab" << mismatch;
        QTest::newRow("server, empty local port") << Server << Tcp << "5005"
                                                  << "" << mismatch;
        QTest::newRow("server, local port 70000") << Server << Tcp << "5005"
                                                  << "70000" << invalid;
        QTest::newRow("server, local port -1") << Server << Udp << "5005"
                                               << "-1" << invalid;
        QTest::newRow("server, letters in remote port") << Server << Tcp << "port"
                                                        << "0" << mismatch;
        QTest::newRow("client, letters in remote port") << Client << Tcp << "abc"
                                                        << "0" << mismatch;
        QTest::newRow("client, empty remote port") << Client << Tcp << ""
                                                   << "0" << mismatch;
        QTest::newRow("client, remote port 70000") << Client << Udp << "70000"
                                                   << "0" << invalid;
        QTest::newRow("client, remote port -1") << Client << Tcp << "-1"
                                                << "0" << invalid;
        QTest::newRow("client, remote port beyond 32 bits") << Client << Tcp << "4294967296"
                                                            << "0" << overflow;
        QTest::newRow("server, no protocol selected") << Server << -1 << "5005"
                                                      << "0" << invalid;
        QTest::newRow("client, no protocol selected") << Client << -1 << "5005"
                                                      << "0" << invalid;
    }
    void badSettingsFailTheClick()
    {
        QFETCH(int, role);
        QFETCH(int, mode);
        QFETCH(QString, remotePort);
        QFETCH(QString, localPort);
        QFETCH(QString, description);
        Harness w;
        prepare(w, role, mode, remotePort, localPort);

        clickConnect(w);
        // The box's text is logged too, just before the close.
        QCOMPARE(entries(w), bodies({{description}, {"Server port closed."}}));
        QCOMPARE(w.boxes, QStringList{description});
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->isLocalClose());
    }

    void portInUseFailsTheClick_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("protocol");
        QTest::newRow("tcp server") << Server << Tcp;
        QTest::newRow("udp server") << Server << Udp;
        QTest::newRow("udp client") << Client << Udp;
        QTest::newRow("tcp client") << Client << Tcp;
    }
    void portInUseFailsTheClick()
    {
        QFETCH(int, role);
        QFETCH(int, protocol);
        QTcpServer tcpHolder;
        QUdpSocket udpHolder;
        quint16 port = 0;
        if (protocol == Tcp) {
            QVERIFY(tcpHolder.listen(QHostAddress::Any, 0));
            port = tcpHolder.serverPort();
        } else {
            QVERIFY(udpHolder.bind(QHostAddress::Any, 0));
            port = udpHolder.localPort();
        }
        Harness w;
        prepare(w, role, protocol, "5005", QString::number(port));
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QCOMPARE(w.boxes.size(), 1);
        QVERIFY(!w.boxes.at(0).isEmpty());
        QCOMPARE(entriesSince(w, before), bodies({{w.boxes.at(0)}, {"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
    }
};

QTEST_GUILESS_MAIN(TestConnectionControl)
#include "tst_connectioncontrol.moc"
