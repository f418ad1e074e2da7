// The connect button, the role switch and the connection events, driven
// through the window's own controls against real peers on loopback.

#include "testsupport.h"

#include "net/SocketControl.h"
#include "ui/Controls.h"
#include "ui/LogView.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

using TestSupport::body;
using TestSupport::Window;

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

// What the user sees of the connection, in one line that compares readably.
QString situation(const Window& w)
{
    QString socket;
    switch (w->socket()->State()) {
    case SocketControl::sckClosed:
        socket = QStringLiteral("closed");
        break;
    case SocketControl::sckOpen:
        socket = QStringLiteral("open");
        break;
    case SocketControl::sckListening:
        socket = QStringLiteral("listening");
        break;
    case SocketControl::sckConnected:
        socket = QStringLiteral("connected");
        break;
    default:
        socket = QStringLiteral("state %1").arg(w->socket()->State());
        break;
    }
    auto enabled = [](bool all, bool any) {
        return all ? QStringLiteral("enabled") : any ? QStringLiteral("mixed") : QStringLiteral("disabled");
    };
    const bool ip = w.find<QLineEdit>("txtIP")->isEnabled();
    const bool remote = w.find<QLineEdit>("txtRemotePort")->isEnabled();
    const bool local = w.find<QLineEdit>("txtLocalPort")->isEnabled();
    const bool server = w.find<OptionButton>("optServer0")->isEnabled();
    const bool client = w.find<OptionButton>("optServer1")->isEnabled();
    return QStringLiteral("socket %1, boxes %2, roles %3, %4")
        .arg(socket, enabled(ip && remote && local, ip || remote || local),
             enabled(server && client, server || client),
             w->isConnected() ? QStringLiteral("connected") : QStringLiteral("not connected"));
}

QStringList entries(const Window& w)
{
    return TestSupport::entryBodies(w->logBox()->text());
}

// The entries written since the log held `from` entries.
QStringList entriesSince(const Window& w, qsizetype from)
{
    return entries(w).mid(from);
}

QStringList bodies(const QList<QStringList>& entryItems)
{
    QStringList out;
    for (const QStringList& items : entryItems)
        out.append(body(items));
    return out;
}

void prepare(Window& w, int role, int protocol, const QString& remotePort, const QString& localPort = "0",
             const QString& ip = "127.0.0.1")
{
    QTest::mouseClick(w.find<OptionButton>(QStringLiteral("optServer%1").arg(role)), Qt::LeftButton);
    w.find<ListCombo>("cboMode")->setCurrentIndex(protocol);
    w.find<QLineEdit>("txtIP")->setText(ip);
    w.find<QLineEdit>("txtRemotePort")->setText(remotePort);
    w.find<QLineEdit>("txtLocalPort")->setText(localPort);
}

void clickConnect(Window& w)
{
    QTest::mouseClick(w.find<QPushButton>("cmdConnect"), Qt::LeftButton);
}

// A port nobody listens on: taken from the system, then given back.
quint16 freeTcpPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

// Remembers the log as it stood when a warning box came up.
class LogAtWarning : public MessageBoxService
{
public:
    LogAtWarning(frmKelvane* form, std::shared_ptr<std::vector<TestSupport::ShownBox>> shown,
                 std::shared_ptr<QString> log)
        : m_form(form), m_shown(std::move(shown)), m_log(std::move(log))
    {
    }
    void warning(QWidget*, const QString& title, const QString& text) override
    {
        *m_log = m_form->logBox()->text();
        m_shown->push_back({title, text});
    }

private:
    frmKelvane* m_form;
    std::shared_ptr<std::vector<TestSupport::ShownBox>> m_shown;
    std::shared_ptr<QString> m_log;
};

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    void clientConnectsAndThePeerCloses()
    {
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        Window w;
        w->show();
        const QString port = QString::number(peer.serverPort());
        prepare(w, Client, Tcp, port);
        const qsizetype before = entries(w).size();

        clickConnect(w);
        // The connect event is still to come: nothing is logged or locked yet.
        QCOMPARE(entriesSince(w, before), QStringList());
        QVERIFY(!w->isConnected());
        QTRY_VERIFY(w->isConnected());
        QCOMPARE(entriesSince(w, before), bodies({{"Connected to 127.0.0.1:" + port}}));
        QCOMPARE(situation(w), ConnectedTcp);

        QTRY_VERIFY(peer.hasPendingConnections());
        QTcpSocket* accepted = peer.nextPendingConnection();
        accepted->disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 3);
        QCOMPARE(entriesSince(w, before).mid(1),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->connection()->isLocalClose());
    }

    void disconnectClickLogsOnlyTheClose()
    {
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        Window w;
        w->show();
        prepare(w, Client, Tcp, QString::number(peer.serverPort()));
        clickConnect(w);
        QTRY_VERIFY(w->isConnected());
        QTRY_VERIFY(peer.hasPendingConnections());
        QTcpSocket* accepted = peer.nextPendingConnection();
        QSignalSpy gone(accepted, &QTcpSocket::disconnected);
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QCOMPARE(entriesSince(w, before), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->connection()->isLocalClose());
        QVERIFY(gone.wait());
        QCOMPARE(entriesSince(w, before).size(), 1);
    }

    void serverListensAndAcceptsOnePeer()
    {
        Window w;
        w->show();
        prepare(w, Server, Tcp, "5005", "0");
        const qsizetype before = entries(w).size();

        clickConnect(w);
        // The typed port is logged, whatever port the system gave.
        QCOMPARE(entriesSince(w, before), bodies({{"127.0.0.1:0 is listening"}}));
        QCOMPARE(situation(w), Listening);
        const quint16 port = quint16(w->socket()->LocalPort());
        QVERIFY(port != 0);

        QSignalSpy requests(w->socket(), &SocketControl::connectionRequest);
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
        Window w;
        w->show();
        prepare(w, Server, Tcp, "5005", "0");
        w.find<CheckBox>("chkCloseOnDisconnect")->setValue(0);
        auto* timer = w->findChild<QTimer*>("tmrSendFile");
        clickConnect(w);
        const quint16 port = quint16(w->socket()->LocalPort());

        QTcpSocket first;
        first.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(w->isConnected());
        timer->start(3600000);
        const qsizetype before = entries(w).size();

        first.disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 2);
        // The real port, the one clients must use, not the typed 0.
        QCOMPARE(entriesSince(w, before),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Listening port " + QString::number(port)}}));
        QCOMPARE(situation(w), ListeningAgain);
        QCOMPARE(w->socket()->LocalPort(), qint32(port));
        QVERIFY(timer->isActive());

        QSignalSpy requests(w->socket(), &SocketControl::connectionRequest);
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(w->socket()->State(), int(SocketControl::sckConnected));
        QCOMPARE(requests.count(), 1);
        QCOMPARE(entriesSince(w, before).mid(2),
                 bodies({{"Connection Request Accepted: " + QString::number(requests.at(0).at(0).toInt()),
                          "Remote IP: 127.0.0.1:" + QString::number(second.localPort())}}));
        QCOMPARE(situation(w), ConnectedTcp);

        clickConnect(w);
        QCOMPARE(entriesSince(w, before).mid(3), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!timer->isActive());
    }

    void clientLeavesAndTheServerCloses()
    {
        Window w;
        w->show();
        prepare(w, Server, Tcp, "5005", "0");
        w.find<CheckBox>("chkCloseOnDisconnect")->setValue(1);
        auto* timer = w->findChild<QTimer*>("tmrSendFile");
        clickConnect(w);
        const quint16 port = quint16(w->socket()->LocalPort());
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(w->isConnected());
        timer->start(3600000);
        const qsizetype before = entries(w).size();

        peer.disconnectFromHost();
        QTRY_COMPARE(entriesSince(w, before).size(), 2);
        QCOMPARE(entriesSince(w, before),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!timer->isActive());

        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!late.waitForConnected(5000));
    }

    void listeningAgainOnATakenPortEndsTheServer()
    {
        Window w;
        w->show();
        prepare(w, Server, Tcp, "5005", "0");
        w.find<CheckBox>("chkCloseOnDisconnect")->setValue(0);
        clickConnect(w);
        const quint16 port = quint16(w->socket()->LocalPort());
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
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
        QVERIFY(!w->connection()->isLocalClose());
        QCOMPARE(w.boxes->size(), size_t(0));
    }

    void clickWhileListeningEndsTheServer()
    {
        Window w;
        w->show();
        prepare(w, Server, Tcp, "5005", "0");
        clickConnect(w);
        const quint16 port = quint16(w->socket()->LocalPort());
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
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("client") << Client << QStringList{body({"Connected to 127.0.0.1:<remote port>"})};
        QTest::newRow("server: connected, then listening")
            << Server
            << QStringList{body({"Connected to 127.0.0.1:<remote port>"}),
                           body({"127.0.0.1:0 is listening"})};
    }
    void udpConnectsAtOnce()
    {
        QFETCH(int, role);
        QFETCH(QStringList, expected);
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        const QString port = QString::number(peer.localPort());
        Window w;
        w->show();
        prepare(w, role, Udp, port, "0");
        const qsizetype before = entries(w).size();

        clickConnect(w);
        // No socket event is awaited: all is logged within the click.
        for (QString& e : expected)
            e.replace("<remote port>", port);
        QCOMPARE(entriesSince(w, before), expected);
        QCOMPARE(situation(w), ConnectedUdp);

        // The socket really is bound: a datagram to it arrives.
        QSignalSpy arrivals(w->socket(), &SocketControl::dataArrival);
        peer.writeDatagram("ping", QHostAddress::LocalHost, quint16(w->socket()->LocalPort()));
        QVERIFY(arrivals.wait());

        const qsizetype open = entries(w).size();
        clickConnect(w);
        QCOMPARE(entriesSince(w, open), bodies({{"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
    }

    void refusedConnectionIsLoggedAndLeavesIdle()
    {
        const quint16 port = freeTcpPort();
        QVERIFY(port != 0);
        Window w;
        w->show();
        prepare(w, Client, Tcp, QString::number(port));
        QSignalSpy errors(w->socket(), &SocketControl::error);
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QTRY_COMPARE(errors.count(), 1);
        const QString description = errors.at(0).at(1).toString();
        QVERIFY(!description.isEmpty());
        QCOMPARE(entriesSince(w, before), bodies({{description}}));
        QCOMPARE(situation(w), Idle);
        QCOMPARE(w.boxes->size(), size_t(0));

        // The next click tries again from scratch.
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, port));
        clickConnect(w);
        QTRY_VERIFY(w->isConnected());
    }

    void unknownHost_data()
    {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("logged");
        QTest::addColumn<QString>("after");
        // UDP was connected at once; the error closes the socket and frees the
        // boxes but leaves the rest as it was.
        const QString udpAfter = QStringLiteral("socket closed, boxes enabled, roles disabled, connected");
        const QString withNul = QStringLiteral("127.0.0.1") + QChar(0) + QStringLiteral("evil");
        QTest::newRow("tcp client, unknown name: connecting ends in idle")
            << Tcp << "nonexistent.invalid" << 1 << Idle;
        QTest::newRow("udp client, unknown name: closed while connected")
            << Udp << "nonexistent.invalid" << 2 << udpAfter;
        // A listener waits on 127.0.0.1: the text before the NUL must not reach it.
        QTest::newRow("tcp client, NUL inside the host") << Tcp << withNul << 1 << Idle;
        QTest::newRow("udp client, NUL inside the host") << Udp << withNul << 2 << udpAfter;
        QTest::newRow("tcp client, tab after the host") << Tcp << "127.0.0.1\tx" << 1 << Idle;
    }
    void unknownHost()
    {
        QFETCH(int, protocol);
        QFETCH(QString, host);
        QFETCH(int, logged);
        QFETCH(QString, after);
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        Window w;
        w->show();
        prepare(w, Client, protocol, QString::number(listener.serverPort()), "0", host);
        QSignalSpy errors(w->socket(), &SocketControl::error);
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 60000);
        const QString description = errors.at(0).at(1).toString();
        QVERIFY(description.startsWith(QStringLiteral("Host not found")));
        QCOMPARE(entriesSince(w, before).size(), logged);
        QCOMPARE(entriesSince(w, before).constLast(), body({QString(description).replace(QChar(0), u'?')}));
        QCOMPARE(situation(w), after);
        QCOMPARE(w.boxes->size(), size_t(0));
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
        if (QTcpServer probe; !probe.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("no IPv6 loopback here");
        QVERIFY(listener.listen(QHostAddress::Any, 0)); // both families
        Window w;
        w->show();
        prepare(w, role, Tcp, QString::number(listener.serverPort()), "0", host);
        clickConnect(w);
        QString port = QString::number(listener.serverPort());
        if (role == Server) {
            QTcpSocket peer;
            peer.connectToHost(QHostAddress::LocalHostIPv6, quint16(w->socket()->LocalPort()));
            QTRY_VERIFY(w->isConnected());
            port = QString::number(peer.localPort());
        }
        QTRY_VERIFY(w->isConnected());
        QTRY_VERIFY(w->logBox()->text().contains(QString(expected).replace(QStringLiteral("<port>"), port)));
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
        Window w;
        auto logAtBox = std::make_shared<QString>();
        w->setMessageBox(std::make_unique<LogAtWarning>(w.form.get(), w.boxes, logAtBox));
        w->show();
        prepare(w, role, mode, remotePort, localPort);
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QCOMPARE(entriesSince(w, before), bodies({{"Server port closed."}}));
        QCOMPARE(w.boxes->size(), size_t(1));
        QCOMPARE(w.boxes->at(0).title, frmKelvane::applicationTitle());
        QCOMPARE(w.boxes->at(0).text, description);
        // The close is logged before the box comes up.
        QCOMPARE(*logAtBox, w->logBox()->text());
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->connection()->isLocalClose());
    }

    void portInUseFailsTheClick_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("protocol");
        QTest::newRow("tcp server") << Server << Tcp;
        QTest::newRow("udp server") << Server << Udp;
        QTest::newRow("udp client") << Client << Udp;
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
        Window w;
        w->show();
        prepare(w, role, protocol, "5005", QString::number(port));
        const qsizetype before = entries(w).size();

        clickConnect(w);
        QCOMPARE(entriesSince(w, before), bodies({{"Server port closed."}}));
        QCOMPARE(w.boxes->size(), size_t(1));
        QCOMPARE(w.boxes->at(0).title, frmKelvane::applicationTitle());
        QVERIFY(!w.boxes->at(0).text.isEmpty());
        QCOMPARE(situation(w), Idle);
    }

    void roleSwitchKeepsTheServersBox_data()
    {
        QTest::addColumn<int>("serverValue");
        QTest::newRow("unchecked") << 0;
        QTest::newRow("checked") << 1;
        QTest::newRow("greyed") << 2;
    }
    void roleSwitchKeepsTheServersBox()
    {
        QFETCH(int, serverValue);
        Window w;
        w->show();
        auto* box = w.find<CheckBox>("chkCloseOnDisconnect");
        auto* server = w.find<OptionButton>("optServer0");
        auto* client = w.find<OptionButton>("optServer1");
        QTest::mouseClick(server, Qt::LeftButton);
        box->setValue(serverValue);

        QTest::mouseClick(client, Qt::LeftButton);
        QCOMPARE(box->value(), 0);
        QVERIFY(!box->isEnabled());
        // The user cannot change it in the client role.
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(box->value(), 0);
        // Nor does a second click on the selected role lose the kept value.
        QTest::mouseClick(client, Qt::LeftButton);

        QTest::mouseClick(server, Qt::LeftButton);
        QCOMPARE(box->value(), serverValue);
        QVERIFY(box->isEnabled());
        // A second click on the server role keeps what the user set there.
        box->setValue(serverValue == 1 ? 0 : 1);
        QTest::mouseClick(server, Qt::LeftButton);
        QCOMPARE(box->value(), serverValue == 1 ? 0 : 1);
    }

    void startUpRestoresTheBoxThroughTheRoles_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("server role") << "-1" << 1 << true;
        QTest::newRow("client role") << "0" << 0 << false;
    }
    void startUpRestoresTheBoxThroughTheRoles()
    {
        QFETCH(QString, server);
        QFETCH(int, shown);
        QFETCH(bool, enabled);
        TestSupport::storeSetting(Settings::Server, server);
        TestSupport::storeSetting(Settings::CloseOnDisconnect, "1");
        Window w;
        auto* box = w.find<CheckBox>("chkCloseOnDisconnect");
        QCOMPARE(box->value(), shown);
        QCOMPARE(box->isEnabled(), enabled);
        // Either way the server role shows the restored value.
        w->show();
        QTest::mouseClick(w.find<OptionButton>("optServer0"), Qt::LeftButton);
        QCOMPARE(box->value(), 1);
    }
};

KELVANE_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
