// The connect button, the role switch and the connection events, driven
// through the window's own controls against real peers on loopback.

#include "testdata.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "ui/Controls.h"
#include "ui/LogView.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

using TestSupport::bodies;
using TestSupport::body;
using TestSupport::Window;

namespace {

const QString Idle = QStringLiteral("socket closed, boxes enabled, roles enabled, not connected");
const QString ConnectedTcp = QStringLiteral("socket connected, boxes disabled, roles disabled, connected");
const QString ConnectedUdp = QStringLiteral("socket open, boxes disabled, roles disabled, connected");

constexpr int Server = 0;
constexpr int Client = 1;
constexpr int Tcp = 0;
constexpr int Udp = 1;

QString situation(const Window& w)
{
    const bool boxes = w.find<QLineEdit>("txtIP")->isEnabled() &&
                       w.find<QLineEdit>("txtRemotePort")->isEnabled() &&
                       w.find<QLineEdit>("txtLocalPort")->isEnabled();
    const bool roles =
        w.find<OptionButton>("optServer0")->isEnabled() && w.find<OptionButton>("optServer1")->isEnabled();
    return TestSupport::situationText(w.socket()->State(), boxes, roles, w->isConnected());
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
        *m_log = m_form->findChild<LogView*>(QStringLiteral("txtOutput"))->text();
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
        const qsizetype before = w.entries().size();

        TestSupport::clickConnect(w, Client, Tcp, port);
        // The connect event is still to come: nothing is logged or locked yet.
        QCOMPARE(w.entries().mid(before), QStringList());
        QVERIFY(!w->isConnected());
        QTRY_VERIFY(w->isConnected());
        QCOMPARE(w.entries().mid(before), bodies({{"Connected to 127.0.0.1:" + port}}));
        QCOMPARE(situation(w), ConnectedTcp);

        QTRY_VERIFY(peer.hasPendingConnections());
        QTcpSocket* accepted = peer.nextPendingConnection();
        // The information line follows the connection and what it carried.
        accepted->write("ABC");
        auto* info = w.find<QLabel>("lblInfo");
        QTRY_COMPARE(info->text(), "Connected to 127.0.0.1:" + port + " - 3 bytes in, 0 bytes out");
        accepted->disconnectFromHost();
        QTRY_COMPARE(w.entries().mid(before).size(), 3);
        QCOMPARE(w.entries().mid(before).mid(1),
                 bodies({{"Client disconnected: 127.0.0.1"}, {"Server port closed."}}));
        QCOMPARE(situation(w), Idle);
        QVERIFY(!w->connection()->isLocalClose());
        QTRY_COMPARE(info->text(), QStringLiteral("Not connected"));
    }

    void udpHostNotFoundKeepsReceiving_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("waited"); // the line sent before the lookup answered
        QTest::newRow("server role, unknown name")
            << Server << "no-such-host.invalid" << QStringList{"2 bytes waiting for it were not sent."};
        QTest::newRow("client role, tab in the host") << Client << "127.0.0.1\tx" << QStringList{};
    }
    void udpHostNotFoundKeepsReceiving()
    {
        QFETCH(int, role);
        QFETCH(QString, host);
        QFETCH(QStringList, waited);
        TestData::TempFiles files;
        Window w;
        w->show();
        TestSupport::clickConnect(w, role, Udp, "5005", "0", host);
        w.find<QPushButton>("cmdSend1")->click();
        const QString notFound =
            "Host not found: " + host +
            ". Nothing can be sent until the connection is opened again with another host.";
        QTRY_COMPARE(w.entries().constLast(), body(QStringList{notFound} + waited));
        QCOMPARE(situation(w), ConnectedUdp);

        // Still receiving; the information line names the sender.
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        peer.writeDatagram("ping", QHostAddress::LocalHost, quint16(w.socket()->LocalPort()));
        QTRY_VERIFY(w.find<QLabel>("lblInfo")->text().startsWith(
            "UDP on port " + QString::number(w.socket()->LocalPort()) +
            ", last datagram from 127.0.0.1:" + QString::number(peer.localPort()) + " - 1 datagram in"));
        // A typed line and a file line fail with the reason.
        w.find<QPushButton>("cmdSend1")->click();
        QCOMPARE(w.entries().constLast(), body({"Error", notFound}));
        w.fileDialog()->setBackend(std::make_unique<TestSupport::ScriptedFileDialog>(
            std::make_shared<std::vector<TestSupport::ScriptedFileDialog::Reply>>(
                std::vector<TestSupport::ScriptedFileDialog::Reply>{{0, files.write("line\r\n")}})));
        w.find<QPushButton>("cmdOpen")->click();
        w.find<QPushButton>("cmdSendFile")->click();
        QTRY_COMPARE(w.entries().constLast(), body({"*** Error ***", notFound, "File sending stopped."}));
        QCOMPARE(situation(w), ConnectedUdp);
        w.find<QPushButton>("cmdConnect")->click();
        QCOMPARE(w.entries().constLast(), body({"Server port closed."}));
        QCOMPARE(situation(w), Idle);
    }

    void failedClickShowsItsBoxAfterTheLog()
    {
        Window w;
        auto logAtBox = std::make_shared<QString>();
        w->setMessageBox(std::make_unique<LogAtWarning>(w.form.get(), w.boxes, logAtBox));
        w->show();
        const qsizetype before = w.entries().size();

        TestSupport::clickConnect(w, Server, Tcp, "5005", "12ab");
        // The box's text is in the log as well, for a saved log to keep.
        QCOMPARE(w.entries().mid(before), bodies({{"Type mismatch"}, {"Server port closed."}}));
        QCOMPARE(w.boxes->size(), size_t(1));
        QCOMPARE(w.boxes->at(0).title, frmKelvane::applicationTitle());
        QCOMPARE(w.boxes->at(0).text, KvErr::typeMismatch().description());
        // The close is logged before the box comes up.
        QCOMPARE(*logAtBox, w.logBox()->text());
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
