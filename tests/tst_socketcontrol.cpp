#include "loopback.h"
#include "testdata.h"

#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "platform/QtDatagramReader.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <functional>
#include <memory>

using Loopback::connectClient;
using Loopback::takeClient;
using Loopback::Timeout;

namespace {

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// The number of the KvError that fn throws, 0 when it throws none.
int thrownNumber(const std::function<void()>& fn, QString* description = nullptr)
{
    try {
        fn();
    } catch (const KvError& e) {
        if (description)
            *description = e.description();
        return e.number();
    }
    return 0;
}

// Runs the event loop until a datagram sent to itself over loopback is back,
// so that whatever was queued or under way before has been handled.
void settle()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::LocalHost, 0))
        return;
    probe.writeDatagram("x", QHostAddress::LocalHost, probe.localPort());
    (void)QTest::qWaitFor([&] { return probe.hasPendingDatagrams(); }, Timeout);
    QCoreApplication::processEvents();
}

QByteArray readAtLeast(QTcpSocket& socket, qsizetype size, int timeout = Timeout)
{
    QByteArray bytes;
    (void)QTest::qWaitFor(
        [&] {
            bytes += socket.readAll();
            return bytes.size() >= size;
        },
        timeout);
    return bytes;
}

// Takes the data on every arrival, as the window does, and notes the order of events.
struct Recorder
{
    explicit Recorder(SocketControl& control)
    {
        QObject::connect(&control, &SocketControl::dataArrival, &control, [this, &control](qint32 count) {
            const QByteArray chunk = control.GetData();
            counts.append(count);
            chunks.append(chunk);
            data += chunk;
            senders.append(control.RemoteHostIP());
            lastSenders.append(control.lastSender());
            ports.append(control.RemotePort());
            events.append(QStringLiteral("data"));
        });
        QObject::connect(&control, &SocketControl::closed, &control,
                         [this] { events.append(QStringLiteral("closed")); });
        QObject::connect(&control, &SocketControl::error, &control, [this](int number, const QString&) {
            events.append(QStringLiteral("error %1").arg(number));
        });
    }

    QList<qint32> counts;
    QList<QByteArray> chunks;
    QByteArray data;
    QStringList senders;
    QStringList lastSenders;
    QList<qint32> ports;
    QStringList events;
};

// Answers connection requests the way the window does: close the listener,
// accept on the same object.
void acceptLikeTheWindow(SocketControl& control, QString* failure)
{
    QObject::connect(&control, &SocketControl::connectionRequest, &control, [&control, failure](qint32 id) {
        try {
            control.Close();
            control.Accept(id);
        } catch (const KvError& e) {
            *failure = e.description();
        }
    });
}

} // namespace

class TestSocketControl : public QObject
{
    Q_OBJECT

private slots:
    void rejectsBadPropertyValues_data();
    void rejectsBadPropertyValues();
    void refusesOperationsAtOnce_data();
    void refusesOperationsAtOnce();
    void portInUseIsRefused_data();
    void portInUseIsRefused();

    void clientExchangesEveryByteValue();
    void clientBindsGivenLocalPort();
    void peerCloseDeliversDataFirst();
    void closeFlushesQueuedData();
    void lostBytesAreCounted_data();
    void lostBytesAreCounted();
    void closeRaisesNoClosedEvent_data();
    void closeRaisesNoClosedEvent();
    void closeInsideDataArrival();
    void connectFailuresArriveLater_data();
    void connectFailuresArriveLater();

    void serverAcceptsLikeTheWindow_data();
    void serverAcceptsLikeTheWindow();
    void peerThatLeftBeforeAcceptIsStillHeard();
    void unacceptedRequestIsDropped_data();
    void unacceptedRequestIsDropped();
    void serverListensAgainAfterPeerLeaves();

    void udpExchangesDatagrams_data();
    void udpExchangesDatagrams();
    void udpBurstKeepsEveryDatagram_data();
    void udpBurstKeepsEveryDatagram();
    void udpDatagramSizeLimit_data();
    void udpDatagramSizeLimit();
    void udpReaderKeepsOrderSizeAndSender_data();
    void udpReaderKeepsOrderSizeAndSender();
    void udpCloseDiscardsWaitingDatagrams_data();
    void udpCloseDiscardsWaitingDatagrams();
    void udpDropsAreReported_data();
    void udpDropsAreReported();
    void udpDatagramsWaitingForTheLookup();
    void udpReadFailureComesAfterTheRead();

    void bulkTransferArrivesInOrder_data();
    void bulkTransferArrivesInOrder();
};

void TestSocketControl::rejectsBadPropertyValues_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");

    QTest::newRow("local port 70000") << "LocalPort" << 70000 << KvErr::InvalidPropertyValue;
    QTest::newRow("local port -1") << "LocalPort" << -1 << KvErr::InvalidPropertyValue;
    QTest::newRow("local port 65535") << "LocalPort" << 65535 << 0;
    QTest::newRow("remote port 70000") << "RemotePort" << 70000 << KvErr::InvalidPropertyValue;
    QTest::newRow("remote port -1") << "RemotePort" << -1 << KvErr::InvalidPropertyValue;
    QTest::newRow("remote port 0") << "RemotePort" << 0 << 0;
    QTest::newRow("protocol 3") << "Protocol" << 3 << KvErr::InvalidPropertyValue;
    QTest::newRow("protocol -1") << "Protocol" << -1 << KvErr::InvalidPropertyValue;
    QTest::newRow("protocol UDP") << "Protocol" << 1 << 0;
}

void TestSocketControl::rejectsBadPropertyValues()
{
    QFETCH(QString, property);
    QFETCH(int, value);
    QFETCH(int, expected);

    SocketControl control;
    QCOMPARE(control.Protocol(), 0);
    QCOMPARE(control.RemoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(control.RemotePort(), 5005);
    QCOMPARE(control.LocalPort(), 0);
    QCOMPARE(control.State(), 0);

    std::function<void()> set;
    std::function<int()> get;
    if (property == QLatin1String("LocalPort")) {
        set = [&] { control.setLocalPort(value); };
        get = [&] { return int(control.LocalPort()); };
    } else if (property == QLatin1String("RemotePort")) {
        set = [&] { control.setRemotePort(value); };
        get = [&] { return int(control.RemotePort()); };
    } else {
        set = [&] { control.setProtocol(value); };
        get = [&] { return control.Protocol(); };
    }
    const int before = get();
    QCOMPARE(thrownNumber(set), expected);
    QCOMPARE(get(), expected == 0 ? value : before);
}

void TestSocketControl::refusesOperationsAtOnce_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("expected");

    const int wrongState = SocketControl::ErrWrongProtocolOrState;
    const int invalidOp = SocketControl::ErrInvalidOperation;
    QTest::newRow("listen with UDP") << "closed udp"
                                     << "listen" << wrongState;
    QTest::newRow("bind with TCP") << "closed tcp"
                                   << "bind" << wrongState;
    QTest::newRow("accept of an unknown id") << "closed tcp"
                                             << "accept" << int(SocketControl::ErrInvalidArgument);
    QTest::newRow("send while closed, TCP") << "closed tcp"
                                            << "send" << wrongState;
    QTest::newRow("send while closed, UDP") << "closed udp"
                                            << "send" << wrongState;
    QTest::newRow("send while listening") << "listening"
                                          << "send" << wrongState;
    QTest::newRow("empty send while closed") << "closed tcp"
                                             << "send empty" << wrongState;
    QTest::newRow("listen while listening") << "listening"
                                            << "listen" << invalidOp;
    QTest::newRow("connect while listening") << "listening"
                                             << "connect" << invalidOp;
    QTest::newRow("accept while listening") << "listening"
                                            << "accept" << invalidOp;
    QTest::newRow("bind while bound") << "bound"
                                      << "bind" << invalidOp;
    QTest::newRow("protocol change while open") << "listening"
                                                << "protocol" << invalidOp;
    QTest::newRow("local port change while open") << "bound"
                                                  << "local port" << invalidOp;
    QTest::newRow("character above 255") << "bound"
                                         << "send wide" << int(KvErr::NotOneByte);
    QTest::newRow("empty send while bound") << "bound"
                                            << "send empty" << 0;
}

void TestSocketControl::refusesOperationsAtOnce()
{
    QFETCH(QString, setup);
    QFETCH(QString, operation);
    QFETCH(int, expected);

    // A silent peer, so that a send that wrongly goes out has somewhere to go.
    QUdpSocket sink;
    QVERIFY(sink.bind(QHostAddress::LocalHost, 0));

    SocketControl control;
    control.setRemotePort(sink.localPort());
    if (setup.endsWith(QLatin1String("udp")) || setup == QLatin1String("bound"))
        control.setProtocol(1);
    if (setup == QLatin1String("listening"))
        control.Listen();
    else if (setup == QLatin1String("bound"))
        control.Bind();
    const int state = control.State();

    const QHash<QString, std::function<void()>> operations{
        {"listen", [&] { control.Listen(); }},
        {"bind", [&] { control.Bind(); }},
        {"connect", [&] { control.Connect(); }},
        {"accept", [&] { control.Accept(12345); }},
        {"send", [&] { control.SendData(QByteArrayLiteral("x")); }},
        {"send empty", [&] { control.SendData(QByteArray()); }},
        // Text reaches the socket only as bytes, whole or not at all.
        {"send wide", [&] { control.SendData(Latin1::toBytes(QStringLiteral("a\u263Ab"))); }},
        {"protocol", [&] { control.setProtocol(1); }},
        {"local port", [&] { control.setLocalPort(1234); }},
    };
    QVERIFY(operations.contains(operation));
    QCOMPARE(thrownNumber(operations.value(operation)), expected);
    QCOMPARE(control.State(), state);

    // Nothing went out, not even part of a refused text.
    settle();
    QVERIFY(!sink.hasPendingDatagrams());
}

void TestSocketControl::portInUseIsRefused_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("client");
    QTest::newRow("TCP listen") << 0 << 0;
    QTest::newRow("UDP bind") << 1 << 0;
    // Bound, neither listening nor connected: the client's bind must not share it.
    QTest::newRow("TCP client bind") << 0 << 1;
    QTest::newRow("TCP client connected") << 0 << 2;
}

void TestSocketControl::portInUseIsRefused()
{
    QFETCH(int, protocol);
    QFETCH(int, client);

    QTcpServer tcpHolder;
    QUdpSocket udpHolder;
    QTcpSocket boundHolder;
    SocketControl connectedHolder;
    quint16 port = 0;
    if (client == 2) {
#ifndef KELVANE_LINUX_IMPLEMENTATIONS
        QSKIP("Qt alone cannot tell whether a live socket holds the port");
#endif
        connectedHolder.setLocalPort(Loopback::unusedTcpPort());
        QVERIFY(connectClient(connectedHolder, tcpHolder));
        port = connectedHolder.LocalPort();
    } else if (client) {
        QVERIFY(boundHolder.bind(QHostAddress::Any, 0));
        port = boundHolder.localPort();
    } else if (protocol == 0) {
        QVERIFY(tcpHolder.listen(QHostAddress::Any, 0));
        port = tcpHolder.serverPort();
    } else {
        QVERIFY(udpHolder.bind(QHostAddress::Any, 0));
        port = udpHolder.localPort();
    }

    SocketControl control;
    control.setProtocol(protocol);
    control.setLocalPort(port);
    const auto open = [&] { client ? control.Connect() : protocol == 0 ? control.Listen() : control.Bind(); };
    QString description;
    QCOMPARE(thrownNumber(open, &description), int(SocketControl::ErrAddressInUse));
    QCOMPARE(description, QStringLiteral("Address in use: port %1").arg(port));
    QCOMPARE(control.State(), 0);
}

void TestSocketControl::clientExchangesEveryByteValue()
{
    QTcpServer peerServer;
    QVERIFY(peerServer.listen(QHostAddress::LocalHost, 0));

    SocketControl control;
    Recorder recorder(control);
    QSignalSpy connectedSpy(&control, &SocketControl::connected);
    QSignalSpy closedSpy(&control, &SocketControl::closed);
    control.setRemotePort(peerServer.serverPort());
    control.Connect();
    QVERIFY(control.State() != 0);
    QVERIFY(connectedSpy.wait(Timeout));
    QCOMPARE(control.State(), int(SocketControl::sckConnected));
    QCOMPARE(control.RemoteHostIP(), QStringLiteral("127.0.0.1"));
    QCOMPARE(control.RemotePort(), qint32(peerServer.serverPort()));

    QTcpSocket* peer = takeClient(peerServer);
    QVERIFY(peer);
    QVERIFY(peer);

    control.SendData(allByteValues());
    QCOMPARE(readAtLeast(*peer, 256), allByteValues());

    peer->write(allByteValues());
    QTRY_COMPARE_WITH_TIMEOUT(recorder.data.size(), 256, Timeout);
    QCOMPARE(recorder.data, allByteValues());
    QCOMPARE(recorder.senders.last(), QStringLiteral("127.0.0.1"));

    control.Close();
    QCOMPARE(control.State(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, Timeout);
    QCOMPARE(closedSpy.count(), 0);
}

void TestSocketControl::clientBindsGivenLocalPort()
{
    QTcpServer peerServer;
    QVERIFY(peerServer.listen(QHostAddress::LocalHost, 0));
    const quint16 localPort = Loopback::unusedTcpPort();

    SocketControl control;
    QSignalSpy connectedSpy(&control, &SocketControl::connected);
    control.setLocalPort(localPort);
    control.setRemotePort(peerServer.serverPort());
    control.Connect();
    QVERIFY(connectedSpy.wait(Timeout));
    QTcpSocket* peer = takeClient(peerServer);
    QVERIFY(peer);
    QCOMPARE(peer->peerPort(), localPort);
    QCOMPARE(control.LocalPort(), qint32(localPort));

    // Closed from our side, the connection waits out its close on the port;
    // connecting from it again works at once.
    control.Close();
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    control.Connect();
    QVERIFY(connectedSpy.wait(Timeout));
    QCOMPARE(takeClient(peerServer)->peerPort(), localPort);
}

void TestSocketControl::peerCloseDeliversDataFirst()
{
    SocketControl control;
    Recorder recorder(control);
    QSignalSpy closedSpy(&control, &SocketControl::closed);
    QTcpServer peerServer;
    QTcpSocket* peer = connectClient(control, peerServer);
    QVERIFY(peer);

    // Last words and the close back to back: the close must not overtake them.
    const QByteArray lastWords = TestData::pattern(300000);
    peer->write(lastWords);
    peer->disconnectFromHost();
    QVERIFY(closedSpy.wait(Timeout));

    QCOMPARE(recorder.data, lastWords);
    QCOMPARE(recorder.events.last(), QStringLiteral("closed"));
    QCOMPARE(recorder.events.count(QStringLiteral("closed")), 1);
    // Still open until the window closes it.
    QVERIFY(control.State() != 0);
    QCOMPARE(thrownNumber([&] { control.SendData(QByteArrayLiteral("late")); }),
             int(SocketControl::ErrWrongProtocolOrState));
    control.Close();
    QCOMPARE(control.State(), 0);
    settle();
    QCOMPARE(closedSpy.count(), 1);
}

void TestSocketControl::closeFlushesQueuedData()
{
    SocketControl control;
    QTcpServer peerServer;
    QTcpSocket* peer = connectClient(control, peerServer);
    QVERIFY(peer);

    // More than the kernel takes at once; the rest is still queued at Close.
    const QByteArray payload = TestData::pattern(4 * 1024 * 1024);
    control.SendData(payload);
    control.Close();
    QCOMPARE(control.State(), 0);

    QByteArray received;
    QVERIFY(QTest::qWaitFor(
        [&] {
            received += peer->readAll();
            return peer->state() == QAbstractSocket::UnconnectedState && peer->bytesAvailable() == 0;
        },
        30000));
    QCOMPARE(received.size(), payload.size());
    QVERIFY(received == payload);
}

void TestSocketControl::lostBytesAreCounted_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::newRow("peer gone while data waits") << false;
    QTest::newRow("peer gone in the close grace time") << true;
}

void TestSocketControl::lostBytesAreCounted()
{
    QFETCH(bool, closeFirst);

    SocketControl control;
    QSignalSpy notSent(&control, &SocketControl::bytesNotSent);
    qint64 written = 0;
    connect(&control, &SocketControl::bytesWritten, &control, [&](qint64 bytes) { written += bytes; });
    QTcpServer peerServer;
    QTcpSocket* peer = connectClient(control, peerServer);
    QVERIFY(peer);
    // The peer takes nothing: once the kernel's buffers are full the rest waits here.
    peer->setReadBufferSize(1024);
    const qint64 total = 32 * 1024 * 1024;
    control.SendData(QByteArray(total, 'x'));
    QCOMPARE(control.bytesToWrite(), total);
    QTRY_VERIFY(written > 0);
    QCOMPARE(written + control.bytesToWrite(), total);

    qint64 lost = 0;
    if (closeFirst) {
        const qint64 waiting = control.bytesToWrite();
        control.Close();
        QCOMPARE(control.bytesToWrite(), 0);
        QCOMPARE(notSent.count(), 0);
        peer->abort();
        QVERIFY(notSent.wait(Timeout));
        lost = notSent.at(0).at(0).toLongLong();
        QVERIFY2(lost > 0 && lost <= waiting, qPrintable(QString::number(lost)));
    } else {
        QSignalSpy closedSpy(&control, &SocketControl::closed);
        QSignalSpy errorSpy(&control, &SocketControl::error);
        peer->abort();
        QTRY_VERIFY(closedSpy.count() + errorSpy.count() > 0);
        control.Close();
        QCOMPARE(notSent.count(), 1);
        lost = notSent.at(0).at(0).toLongLong();
        // Every byte either reached the kernel or is counted as lost.
        QCOMPARE(written + lost, total);
    }
    settle();
    QCOMPARE(notSent.count(), 1);
}

void TestSocketControl::closeRaisesNoClosedEvent_data()
{
    QTest::addColumn<QString>("situation");
    QTest::newRow("connected client") << "connected";
    QTest::newRow("connecting client") << "connecting";
    QTest::newRow("listening server") << "listening";
    QTest::newRow("bound UDP") << "bound";
    QTest::newRow("already closed") << "closed";
}

void TestSocketControl::closeRaisesNoClosedEvent()
{
    QFETCH(QString, situation);

    QTcpServer peerServer;
    QVERIFY(peerServer.listen(QHostAddress::LocalHost, 0));

    SocketControl control;
    QSignalSpy closedSpy(&control, &SocketControl::closed);
    QSignalSpy errorSpy(&control, &SocketControl::error);
    QSignalSpy connectedSpy(&control, &SocketControl::connected);
    control.setRemotePort(peerServer.serverPort());
    QTcpSocket* peer = nullptr;
    if (situation == QLatin1String("connected") || situation == QLatin1String("connecting")) {
        control.Connect();
        if (situation == QLatin1String("connected")) {
            QVERIFY(connectedSpy.wait(Timeout));
            peer = takeClient(peerServer);
            QVERIFY(peer);
        }
    } else if (situation == QLatin1String("listening")) {
        control.Listen();
    } else if (situation == QLatin1String("bound")) {
        control.setProtocol(1);
        control.Bind();
    }

    control.Close();
    control.Close();
    QCOMPARE(control.State(), 0);
    if (peer)
        QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, Timeout);
    else
        settle();
    QCOMPARE(closedSpy.count(), 0);
    QCOMPARE(errorSpy.count(), 0);
    QCOMPARE(connectedSpy.count(), situation == QLatin1String("connected") ? 1 : 0);
}

void TestSocketControl::closeInsideDataArrival()
{
    SocketControl control;
    QSignalSpy closedSpy(&control, &SocketControl::closed);
    QSignalSpy dataSpy(&control, &SocketControl::dataArrival);
    QObject::connect(&control, &SocketControl::dataArrival, &control, [&control] { control.Close(); });
    QTcpServer peerServer;
    QTcpSocket* peer = connectClient(control, peerServer);
    QVERIFY(peer);

    peer->write(TestData::pattern(2 * 1024 * 1024));
    peer->disconnectFromHost();
    QVERIFY(dataSpy.wait(Timeout));
    QCOMPARE(control.State(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(peer->state(), QAbstractSocket::UnconnectedState, Timeout);
    settle();
    QCOMPARE(dataSpy.count(), 1);
    QCOMPARE(closedSpy.count(), 0);
    QCOMPARE(control.GetData(), QByteArray());
}

void TestSocketControl::connectFailuresArriveLater_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("needsIpv6");
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("remotePort"); // -1: a port nobody listens on

    const int refused = SocketControl::ErrConnectionRefused;
    const int notFound = SocketControl::ErrHostNotFound;
    QTest::newRow("refused, IPv4") << 0 << "127.0.0.1" << false << refused << -1;
    QTest::newRow("refused, IPv6") << 0 << "::1" << true << refused << -1;
    QTest::newRow("refused, host name") << 0 << "localhost" << false << refused << -1;
    // Shown as typed: "%1" in a host is no format.
    QTest::newRow("refused, scoped IPv6") << 0 << "::1%1" << true << refused << -1;
    QTest::newRow("unknown host, TCP") << 0 << "nonexistent.invalid" << false << notFound << -1;
    // UDP needs the host only to send: the socket stays open and says so apart.
    QTest::newRow("unknown host, UDP") << 1 << "nonexistent.invalid" << false << notFound << -1;
    // Found, but the datagram that waited for it cannot go to port 0.
    QTest::newRow("held datagram refused, UDP")
        << 1 << "localhost" << false << int(SocketControl::ErrNetwork) << 0;
}

void TestSocketControl::connectFailuresArriveLater()
{
    QFETCH(int, protocol);
    QFETCH(QString, host);
    QFETCH(bool, needsIpv6);
    QFETCH(int, expected);
    QFETCH(int, remotePort);
    if (needsIpv6 && !Loopback::ipv6Available())
        QSKIP("No IPv6 loopback here");

    SocketControl control;
    QSignalSpy errorSpy(&control, &SocketControl::error);
    QSignalSpy connectedSpy(&control, &SocketControl::connected);
    QSignalSpy notFoundSpy(&control, &SocketControl::sendingFailed);
    QSignalSpy& failure = protocol == 1 ? notFoundSpy : errorSpy;
    control.setProtocol(protocol);
    control.setRemoteHost(host);
    control.setRemotePort(remotePort < 0 ? Loopback::unusedTcpPort() : remotePort);
    QCOMPARE(thrownNumber([&] { control.Connect(); }), 0);
    // The window's click finishes before it hears of the failure.
    QCOMPARE(failure.count(), 0);
    QVERIFY(control.State() != 0);
    if (protocol == 1)
        control.SendData(QByteArrayLiteral("held until the name is known"));

    QVERIFY(failure.wait(Timeout));
    QCOMPARE(errorSpy.count() + notFoundSpy.count(), 1);
    const QString description = failure.at(0).at(protocol == 1 ? 0 : 1).toString();
    QVERIFY2(description.contains(remotePort == 0 ? QStringLiteral("Unable to send") : host),
             qPrintable(description));
    if (protocol == 1) {
        // The held datagram is lost; later sends fail.
        QCOMPARE(failure.at(0).at(1).toLongLong(), 28);
        QCOMPARE(control.State(), int(SocketControl::sckOpen));
        QCOMPARE(thrownNumber([&] { control.SendData(QByteArrayLiteral("x")); }), expected);
    } else {
        QCOMPARE(errorSpy.at(0).at(0).toInt(), expected);
    }
    QCOMPARE(connectedSpy.count(), 0);
    QVERIFY(control.State() != 0);
    control.Close();
    QCOMPARE(control.State(), 0);
}

void TestSocketControl::serverAcceptsLikeTheWindow_data()
{
    QTest::addColumn<QString>("peerAddress");
    QTest::newRow("IPv4 peer") << "127.0.0.1";
    QTest::newRow("IPv6 peer") << "::1";
}

void TestSocketControl::serverAcceptsLikeTheWindow()
{
    QFETCH(QString, peerAddress);
    if (peerAddress.contains(QLatin1Char(':')) && !Loopback::ipv6Available())
        QSKIP("No IPv6 loopback here");

    SocketControl control;
    QString failure;
    acceptLikeTheWindow(control, &failure);
    Recorder recorder(control);
    QSignalSpy requestSpy(&control, &SocketControl::connectionRequest);

    control.Listen();
    QCOMPARE(control.State(), int(SocketControl::sckListening));
    QVERIFY(control.LocalPort() > 0);

    QTcpSocket peer;
    peer.connectToHost(QHostAddress(peerAddress), quint16(control.LocalPort()));
    peer.write("hello");
    QVERIFY(requestSpy.wait(Timeout));
    QCOMPARE(failure, QString());
    QCOMPARE(requestSpy.at(0).at(0).toInt(), 1);
    QCOMPARE(control.State(), int(SocketControl::sckConnected));
    QVERIFY(peer.waitForConnected(Timeout));
    QCOMPARE(control.RemoteHostIP(), peerAddress);
    QCOMPARE(control.RemotePort(), qint32(peer.localPort()));

    QTRY_COMPARE_WITH_TIMEOUT(recorder.data, QByteArray("hello"), Timeout);
    QCOMPARE(recorder.senders.last(), peerAddress);
    control.SendData(allByteValues());
    QCOMPARE(readAtLeast(peer, 256), allByteValues());
}

void TestSocketControl::peerThatLeftBeforeAcceptIsStillHeard()
{
    SocketControl control;
    Recorder recorder(control);
    QTcpSocket peer;
    QString failure;
    QObject::connect(&control, &SocketControl::connectionRequest, &control, [&](qint32 id) {
        // Let the peer's data and close land before the window gets round to accepting.
        (void)QTest::qWaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; }, Timeout);
        try {
            control.Close();
            control.Accept(id);
        } catch (const KvError& e) {
            failure = e.description();
        }
    });
    QSignalSpy closedSpy(&control, &SocketControl::closed);
    control.Listen();

    peer.connectToHost(QHostAddress::LocalHost, quint16(control.LocalPort()));
    peer.write("goodbye");
    peer.disconnectFromHost();
    QVERIFY(closedSpy.wait(Timeout));
    QCOMPARE(failure, QString());
    QCOMPARE(recorder.data, QByteArray("goodbye"));
    QCOMPARE(recorder.events, QStringList({"data", "closed"}));
    QCOMPARE(control.RemoteHostIP(), QStringLiteral("127.0.0.1"));
}

void TestSocketControl::unacceptedRequestIsDropped_data()
{
    QTest::addColumn<bool>("closeInHandler");
    QTest::newRow("handler ignores it") << false;
    QTest::newRow("handler closes without accepting") << true;
}

void TestSocketControl::unacceptedRequestIsDropped()
{
    QFETCH(bool, closeInHandler);

    SocketControl control;
    QSignalSpy requestSpy(&control, &SocketControl::connectionRequest);
    QObject::connect(&control, &SocketControl::connectionRequest, &control, [&] {
        if (closeInHandler)
            control.Close();
    });
    control.Listen();
    const quint16 port = quint16(control.LocalPort());

    QTcpSocket peer;
    QSignalSpy peerGone(&peer, &QAbstractSocket::disconnected);
    peer.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(requestSpy.wait(Timeout));
    QVERIFY(peerGone.count() > 0 || peerGone.wait(Timeout));

    if (closeInHandler) {
        QCOMPARE(control.State(), 0);
        return;
    }
    // Still listening: the next peer gets its own, higher, request id.
    QCOMPARE(control.State(), int(SocketControl::sckListening));
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(requestSpy.wait(Timeout));
    QCOMPARE(requestSpy.at(1).at(0).toInt(), requestSpy.at(0).at(0).toInt() + 1);
}

void TestSocketControl::serverListensAgainAfterPeerLeaves()
{
    SocketControl control;
    QString failure;
    acceptLikeTheWindow(control, &failure);
    Recorder recorder(control);
    // The window's close handling with close-on-disconnect unchecked.
    QObject::connect(&control, &SocketControl::closed, &control, [&] {
        try {
            control.Close();
            control.Listen();
        } catch (const KvError& e) {
            failure = e.description();
        }
    });
    QSignalSpy requestSpy(&control, &SocketControl::connectionRequest);
    QSignalSpy closedSpy(&control, &SocketControl::closed);
    control.Listen();
    const qint32 port = control.LocalPort();

    for (int round = 1; round <= 3; ++round) {
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, quint16(port));
        QVERIFY(requestSpy.wait(Timeout));
        QCOMPARE(requestSpy.last().at(0).toInt(), round);
        QCOMPARE(control.RemotePort(), qint32(peer.localPort()));
        const QByteArray line = QByteArray("round ") + QByteArray::number(round);
        peer.write(line);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.data.endsWith(line), Timeout);

        peer.disconnectFromHost();
        QVERIFY(closedSpy.wait(Timeout));
        QCOMPARE(failure, QString());
        QCOMPARE(control.State(), int(SocketControl::sckListening));
        QCOMPARE(control.LocalPort(), port);
    }
}

void TestSocketControl::udpExchangesDatagrams_data()
{
    QTest::addColumn<bool>("bindRole");
    QTest::addColumn<QString>("remoteHost");
    QTest::addColumn<QString>("peerAddress");
    QTest::addColumn<bool>("needsIpv6");

    QTest::newRow("server role, IPv4") << true << "127.0.0.1"
                                       << "127.0.0.1" << false;
    QTest::newRow("client role, IPv4") << false << "127.0.0.1"
                                       << "127.0.0.1" << false;
    QTest::newRow("client role, IPv6") << false << "::1"
                                       << "::1" << true;
    QTest::newRow("server role, IPv6 in brackets") << true << "[::1]"
                                                   << "::1" << true;
    QTest::newRow("client role, host name") << false << "localhost"
                                            << "" << false;
}

void TestSocketControl::udpExchangesDatagrams()
{
    QFETCH(bool, bindRole);
    QFETCH(QString, remoteHost);
    QFETCH(QString, peerAddress);
    QFETCH(bool, needsIpv6);
    if (needsIpv6 && !Loopback::ipv6Available())
        QSKIP("No IPv6 loopback here");

    QUdpSocket peer;
    QVERIFY(
        peer.bind(peerAddress.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(peerAddress), 0));

    SocketControl control;
    Recorder recorder(control);
    QSignalSpy connectedSpy(&control, &SocketControl::connected);
    QSignalSpy errorSpy(&control, &SocketControl::error);
    control.setProtocol(1);
    control.setRemoteHost(remoteHost);
    control.setRemotePort(peer.localPort());
    bindRole ? control.Bind() : control.Connect();
    QCOMPARE(control.State(), int(SocketControl::sckOpen));
    QVERIFY(control.LocalPort() > 0);

    // Sent at once: a host name is still being looked up, and these wait for it.
    const QByteArrayList sent{"one", QByteArray(), "three", allByteValues()};
    for (const QByteArray& bytes : sent)
        control.SendData(bytes);
    QList<QNetworkDatagram> arrived;
    QVERIFY(QTest::qWaitFor(
        [&] {
            while (peer.hasPendingDatagrams())
                arrived.append(peer.receiveDatagram());
            return arrived.size() >= 3;
        },
        Timeout));
    QCOMPARE(arrived.at(0).data(), QByteArray("one"));
    QCOMPARE(arrived.at(1).data(), QByteArray("three"));
    QCOMPARE(arrived.at(2).data(), allByteValues());

    const QList<qsizetype> sizes{1, 1000, 60000, 3};
    for (qsizetype size : sizes)
        QCOMPARE(peer.writeDatagram(arrived.at(0).makeReply(TestData::pattern(size))), qint64(size));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.counts.size(), sizes.size(), Timeout);
    for (int i = 0; i < sizes.size(); ++i) {
        QCOMPARE(qsizetype(recorder.counts.at(i)), sizes.at(i));
        QCOMPARE(recorder.chunks.at(i), TestData::pattern(sizes.at(i)));
    }
    const QString expectedSender =
        peerAddress.isEmpty() ? arrived.at(0).destinationAddress().toString() : peerAddress;
    if (!peerAddress.isEmpty())
        QCOMPARE(recorder.senders.last(), expectedSender);
    else
        QVERIFY(recorder.senders.last() == QLatin1String("127.0.0.1") ||
                recorder.senders.last() == QLatin1String("::1"));
    QCOMPARE(control.RemotePort(), qint32(peer.localPort()));
    QCOMPARE(connectedSpy.count(), 0);
    QCOMPARE(errorSpy.count(), 0);
}

void TestSocketControl::udpBurstKeepsEveryDatagram_data()
{
    QTest::addColumn<bool>("portableReader");
    QTest::addColumn<qint64>("queueLimit");
    // Two datagrams at most wait in the reader: it stops reading until the
    // window has taken them, and the socket's buffer holds the rest.
    const qint64 two = 2 * 200;
    const qint64 all = SocketControl::DefaultDatagramQueueLimit;
    QTest::newRow("the system's reader where built") << false << all;
    QTest::newRow("the system's reader, room for two") << false << two;
    QTest::newRow("reading through Qt") << true << all;
    QTest::newRow("reading through Qt, room for two") << true << two;
}

void TestSocketControl::udpBurstKeepsEveryDatagram()
{
    QFETCH(bool, portableReader);
    QFETCH(qint64, queueLimit);
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));

    SocketControl control;
    Recorder recorder(control);
    control.setPortableDatagramReader(portableReader);
    control.setDatagramQueueLimit(queueLimit);
    control.setProtocol(1);
    control.Bind();

    // Written back to back, so that several are waiting when the socket reads.
    const int count = 40;
    for (int i = 0; i < count; ++i) {
        const QByteArray payload = QByteArray::number(i).leftJustified(100 + i, '.');
        QCOMPARE(peer.writeDatagram(payload, QHostAddress::LocalHost, quint16(control.LocalPort())),
                 qint64(payload.size()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.counts.size(), count, Timeout);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(recorder.counts.at(i), 100 + i);
        QCOMPARE(recorder.chunks.at(i), QByteArray::number(i).leftJustified(100 + i, '.'));
    }
    QCOMPARE(recorder.senders.last(), QStringLiteral("127.0.0.1"));
}

void TestSocketControl::udpDatagramSizeLimit_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("expected");

    const int tooLarge = SocketControl::ErrDatagramTooLarge;
    QTest::newRow("largest IPv4 datagram") << "127.0.0.1" << 65507 << 0;
    QTest::newRow("one byte over, IPv4") << "127.0.0.1" << 65508 << tooLarge;
    QTest::newRow("largest IPv6 datagram") << "::1" << 65527 << 0;
    QTest::newRow("one byte over, IPv6") << "::1" << 65528 << tooLarge;
    QTest::newRow("far too large") << "127.0.0.1" << 1000000 << tooLarge;
}

void TestSocketControl::udpDatagramSizeLimit()
{
    QFETCH(QString, address);
    QFETCH(int, size);
    QFETCH(int, expected);
    if (address.contains(QLatin1Char(':')) && !Loopback::ipv6Available())
        QSKIP("No IPv6 loopback here");

    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress(address), 0));
    peer.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1024 * 1024);

    SocketControl control;
    QSignalSpy errorSpy(&control, &SocketControl::error);
    control.setProtocol(1);
    control.setRemoteHost(address);
    control.setRemotePort(peer.localPort());
    control.Connect();
    const QByteArray payload = TestData::pattern(size);
    QCOMPARE(thrownNumber([&] { control.SendData(payload); }), expected);
    if (expected == 0) {
        QTRY_VERIFY_WITH_TIMEOUT(peer.hasPendingDatagrams(), Timeout);
        QVERIFY(peer.receiveDatagram().data() == payload);
    }
    QCOMPARE(control.State(), int(SocketControl::sckOpen));
    QCOMPARE(errorSpy.count(), 0);
}

void TestSocketControl::udpReaderKeepsOrderSizeAndSender_data()
{
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QStringList>("senders");

    const QStringList v4{"127.0.0.1"};
    const QStringList v6{"::1"};
    QTest::newRow("empty datagrams among others, IPv4") << QList<int>{0, 5, 0, 0, 7, 0} << v4;
    QTest::newRow("one byte each, IPv6") << QList<int>(50, 1) << v6;
    QTest::newRow("largest, IPv4") << QList<int>{65507, 1, 65507, 65507} << v4;
    QTest::newRow("largest, IPv6") << QList<int>{65507, 0, 65507} << v6;
    // 12 MB: the reader's store fills and empties many of its blocks.
    QTest::newRow("many large ones, IPv4") << QList<int>(200, 60000) << v4;
    QTest::newRow("IPv4 and IPv6 senders taking turns")
        << QList<int>{10, 20, 0, 65507, 1, 2, 3, 4} << QStringList{"127.0.0.1", "::1"};
}

void TestSocketControl::udpReaderKeepsOrderSizeAndSender()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QStringList, senders);
    if (senders.contains(QStringLiteral("::1")) && !Loopback::ipv6Available())
        QSKIP("No IPv6 loopback here");

    SocketControl control;
    Recorder recorder(control);
    control.setProtocol(1);
    control.Bind();
    const quint16 port = quint16(control.LocalPort());

    std::vector<std::unique_ptr<QUdpSocket>> peers;
    for (const QString& address : senders) {
        peers.push_back(std::make_unique<QUdpSocket>());
        QVERIFY(peers.back()->bind(QHostAddress(address), 0));
    }
    // Each datagram differs from the others of its size, so that order shows.
    auto payload = [](int i, int size) { return TestData::pattern(size + i).mid(i); };
    // Sent back to back without a turn of the event loop, so that they queue up
    // in the reader; a few at a time, so that the smallest socket buffer an
    // ordinary user gets holds them even when the reader is slow to run.
    const int group = 4;
    for (int i = 0; i < sizes.size(); ++i) {
        QUdpSocket& peer = *peers.at(size_t(i) % peers.size());
        QCOMPARE(peer.writeDatagram(payload(i, sizes.at(i)), peer.localAddress(), port), qint64(sizes.at(i)));
        if ((i + 1) % group == 0)
            QTRY_COMPARE_WITH_TIMEOUT(recorder.counts.size(), i + 1, Timeout);
    }
    QTRY_COMPARE_WITH_TIMEOUT(recorder.counts.size(), sizes.size(), Timeout);
    for (int i = 0; i < sizes.size(); ++i) {
        const QUdpSocket& peer = *peers.at(size_t(i) % peers.size());
        QCOMPARE(recorder.counts.at(i), sizes.at(i));
        QCOMPARE(recorder.chunks.at(i), payload(i, sizes.at(i)));
        QCOMPARE(recorder.senders.at(i), senders.at(i % senders.size()));
        QCOMPARE(recorder.ports.at(i), qint32(peer.localPort()));
        const QString sender = senders.at(i % senders.size());
        QCOMPARE(recorder.lastSenders.at(i), (sender == "::1" ? QStringLiteral("[::1]") : sender) + ":" +
                                                 QString::number(peer.localPort()));
    }
}

void TestSocketControl::udpCloseDiscardsWaitingDatagrams_data()
{
    QTest::addColumn<QString>("reopen");
    QTest::newRow("closed for good") << "";
    QTest::newRow("bound again, server role") << "bind";
    QTest::newRow("opened again, client role") << "connect";
}

void TestSocketControl::udpCloseDiscardsWaitingDatagrams()
{
    QFETCH(QString, reopen);

    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
    SocketControl control;
    Recorder recorder(control);
    control.setProtocol(1);
    control.setRemotePort(peer.localPort());
    control.Bind();
    const quint16 port = quint16(control.LocalPort());
    // The window closes the socket while it shows the first of many.
    QObject::connect(&control, &SocketControl::dataArrival, &control, [&] {
        if (recorder.counts.size() == 1)
            control.Close();
    });
    for (int i = 0; i < 50; ++i)
        QCOMPARE(peer.writeDatagram(QByteArray::number(i), QHostAddress::LocalHost, port),
                 qint64(i < 10 ? 1 : 2));
    QTRY_COMPARE_WITH_TIMEOUT(control.State(), 0, Timeout);
    QCOMPARE(recorder.chunks, QList<QByteArray>{"0"});

    // Same port, other role: only what is sent from now on arrives.
    if (reopen == QLatin1String("bind"))
        control.Bind();
    else if (reopen == QLatin1String("connect"))
        control.Connect();
    if (!reopen.isEmpty()) {
        QCOMPARE(control.LocalPort(), qint32(port));
        QCOMPARE(peer.writeDatagram("fresh", QHostAddress::LocalHost, port), qint64(5));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.chunks.size(), 2, Timeout);
    }
    settle();
    const QList<QByteArray> expected =
        reopen.isEmpty() ? QList<QByteArray>{"0"} : QList<QByteArray>{"0", "fresh"};
    QCOMPARE(recorder.chunks, expected);
    QCOMPARE(control.GetData(), QByteArray());
}

void TestSocketControl::udpDropsAreReported_data()
{
    QTest::addColumn<bool>("closeAtOnce");
    QTest::newRow("while the socket is open") << false;
    QTest::newRow("after the socket was closed") << true;
}

void TestSocketControl::udpDropsAreReported()
{
    QFETCH(bool, closeAtOnce);
#ifndef KELVANE_LINUX_IMPLEMENTATIONS
    QSKIP("Only the system's reader counts what the system drops");
#endif
    SocketControl control;
    Recorder recorder(control);
    QSignalSpy dropSpy(&control, &SocketControl::datagramsDropped);
    // Next to nothing may wait, in the reader or in the socket.
    control.setDatagramQueueLimit(1);
    control.setProtocol(1);
    control.Bind();
    control.findChild<QUdpSocket*>()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1);

    QUdpSocket peer;
    const int sent = 100;
    for (int i = 0; i < sent; ++i)
        QCOMPARE(
            peer.writeDatagram(QByteArray(1000, 'd'), QHostAddress::LocalHost, quint16(control.LocalPort())),
            qint64(1000));
    if (closeAtOnce)
        control.Close();

    auto reported = [&] {
        qint64 sum = 0;
        for (const QList<QVariant>& report : dropSpy)
            sum += report.at(0).toLongLong();
        return sum;
    };
    if (closeAtOnce) {
        // Those the reader held are discarded with the socket, not reported.
        QVERIFY(dropSpy.wait(Timeout));
        QVERIFY(reported() > 0 && reported() < sent);
        QCOMPARE(recorder.counts.size(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(recorder.counts.size() + reported(), qint64(sent), Timeout);
        QVERIFY(reported() > 0);
        // Once the totals are reached, later seconds report nothing more.
        const qsizetype reports = dropSpy.count();
        QSignalSpy seconds(control.findChild<QTimer*>(), &QTimer::timeout);
        QVERIFY(seconds.wait(Timeout) && seconds.wait(Timeout));
        QCOMPARE(dropSpy.count(), reports);
        QCOMPARE(control.traffic().datagramsDropped, reported());
    }
}

void TestSocketControl::udpDatagramsWaitingForTheLookup()
{
    // A name is looked up in the background; what is sent meanwhile waits
    // in the program, and is counted as lost when the socket closes first.
    SocketControl control;
    QSignalSpy notSent(&control, &SocketControl::bytesNotSent);
    control.setProtocol(1);
    control.setRemoteHost(QStringLiteral("localhost"));
    control.Connect();
    control.SendData(QByteArray(1000, 'u'));
    control.SendData(QByteArray(234, 'v'));
    QCOMPARE(control.bytesToWrite(), 1234);
    control.Close();
    QCOMPARE(control.bytesToWrite(), 0);
    QCOMPARE(notSent.count(), 1);
    QCOMPARE(notSent.at(0).at(0).toLongLong(), 1234);
}

void TestSocketControl::udpReadFailureComesAfterTheRead()
{
    SocketControl control;
    Recorder recorder(control);
    // The window closes the socket from its failure handler, which frees the reader.
    QObject::connect(&control, &SocketControl::error, &control, [&control] { control.Close(); });
    control.setPortableDatagramReader(true);
    control.setProtocol(1);
    control.Bind();
    QUdpSocket peer;
    for (int i = 0; i < 20; ++i)
        peer.writeDatagram("d", QHostAddress::LocalHost, quint16(control.LocalPort()));
    QObject::connect(&control, &SocketControl::dataArrival, &control, [&] {
        if (recorder.counts.size() == 1) {
            peer.writeDatagram("f", QHostAddress::LocalHost, quint16(control.LocalPort()));
            QtDatagramReader::failNextRead();
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(control.State(), 0, Timeout);
    QCOMPARE(recorder.events.indexOf(QStringLiteral("error 10050")), recorder.events.size() - 1);
}

void TestSocketControl::bulkTransferArrivesInOrder_data()
{
    QTest::addColumn<bool>("fromPeer");
    QTest::newRow("peer to control") << true;
    QTest::newRow("control to peer") << false;
}

void TestSocketControl::bulkTransferArrivesInOrder()
{
    QFETCH(bool, fromPeer);

    SocketControl control;
    Recorder recorder(control);
    QTcpServer peerServer;
    QTcpSocket* peer = connectClient(control, peerServer);
    QVERIFY(peer);

    const QByteArray payload = TestData::pattern(8 * 1024 * 1024);
    if (fromPeer) {
        peer->write(payload);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.data.size(), payload.size(), 60000);
        QVERIFY(recorder.data == payload);
        // Each arrival counts exactly the bytes that were waiting.
        qsizetype total = 0;
        for (qint32 count : recorder.counts)
            total += count;
        QCOMPARE(total, payload.size());
    } else {
        control.SendData(payload);
        const QByteArray received = readAtLeast(*peer, payload.size(), 60000);
        QCOMPARE(received.size(), payload.size());
        QVERIFY(received == payload);
    }
}

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
