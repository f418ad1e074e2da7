// TLS through the window against loopback peers, with the certificates of
// tests/tls (made with openssl, valid to 2126, one expired).

#include "testsupport.h"

#include "net/TlsCertificates.h"
#include "ui/LineBox.h"

#include <QAction>
#include <QLabel>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>

using TestSupport::Window;

namespace {

constexpr int Server = 0;
constexpr int Client = 1;
constexpr int Tls = 2;

QString tlsFile(const QString& name)
{
    return QFINDTESTDATA(QStringLiteral("tls/") + name);
}

QSslCertificate certificate(const QString& name)
{
    return QSslCertificate::fromPath(tlsFile(name + QStringLiteral(".pem"))).value(0);
}

// A Qt TLS server of the test's own, which keeps what its client sent.
struct TlsPeer
{
    QSslServer server;
    QPointer<QSslSocket> socket;
    QByteArray received;

    explicit TlsPeer(const QString& name, QSslSocket::PeerVerifyMode verify = QSslSocket::VerifyNone)
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(certificate(name));
        config.setPrivateKey(TlsIdentity::load(tlsFile(name + ".pem"), tlsFile(name + ".key")).key);
        config.setPeerVerifyMode(verify);
        server.setSslConfiguration(config);
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QSslServer::pendingConnectionAvailable, &server, [this] {
            socket = qobject_cast<QSslSocket*>(server.nextPendingConnection());
            QObject::connect(socket, &QIODevice::readyRead, &server,
                             [this] { received += socket->readAll(); });
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
};

bool logHas(const Window& w, const QString& text)
{
    return w.logBox()->text().contains(text);
}

void setCertificate(const Window& w, const QString& certificateFile, const QString& keyFile)
{
    w.find<QAction>(QStringLiteral("mnTools_TlsCertificate"))->trigger();
    w.find<QLineEdit>(QStringLiteral("txtTlsCertificate"))->setText(certificateFile);
    w.find<QLineEdit>(QStringLiteral("txtTlsKey"))->setText(keyFile);
    w.find<QDialog>(QStringLiteral("dlgTls"))->accept();
}

} // namespace

class TestTls : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    void clientAsksAboutTheCertificate_data()
    {
        QTest::addColumn<QString>("saved"); // the fingerprint trusted before, as stored
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("connects");
        const QString other = fingerprintWithColons(fingerprint(certificate("other"))).toLower();
        QTest::newRow("trust once") << QString() << 0 << true;
        QTest::newRow("always trust") << QString() << 1 << true;
        QTest::newRow("close") << QString() << 2 << false;
        QTest::newRow("fingerprint changed, trust once") << other << 0 << true;
    }
    void clientAsksAboutTheCertificate()
    {
        QFETCH(QString, saved);
        QFETCH(int, answer);
        QFETCH(bool, connects);
        TlsPeer peer(QStringLiteral("server"));
        const QString where = "127.0.0.1:" + peer.port();
        if (!saved.isEmpty())
            SettingsStore(frmKelvane::applicationTitle())
                .writeArray(Settings::TrustedArray,
                            {{{Settings::PeerKey, where}, {Settings::Sha256Key, saved}},
                             {{Settings::PeerKey, "x:1"}}});
        Window w;
        w.answers->append(answer);
        TestSupport::clickConnect(w, Client, Tls, peer.port());
        QTRY_COMPARE(w.boxes->size(), size_t(1));
        QVERIFY(w.boxes->back().text.contains(fingerprintWithColons(fingerprint(certificate("server")))));
        QCOMPARE(w.boxes->back().text.contains(saved.toUpper()), true);
        if (!connects) {
            QTRY_VERIFY(logHas(w, "Closed: the certificate of " + where + " is not trusted"));
            QTRY_COMPARE(w.socket()->State(), int(SocketControl::sckClosed));
            QVERIFY(w.find<QLineEdit>("txtIP")->isEnabled());
            return;
        }
        QTRY_VERIFY(w->isConnected());
        QVERIFY(logHas(w, "Connected to " + where + " - TLS 1.3, TLS_AES_256_GCM_SHA384, CN=localhost"));
        w.find<LineBox>("txtLine")->setText("hello");
        w.find<QPushButton>("cmdSend1")->click();
        QTRY_COMPARE(peer.received, QByteArray("hello\r\n"));
        peer.socket->write("back");
        QTRY_COMPARE(w.socket()->traffic().bytesIn, 4);
        QTRY_VERIFY(w.find<QLabel>("lblInfo")->text().startsWith("Connected to 127.0.0.1:" + peer.port() +
                                                                 " (TLS 1.3) - 4 bytes in, 7 bytes out"));
        QMap<QString, QString> expected;
        if (answer == 1 || !saved.isEmpty())
            expected.insert(where,
                            answer == 1 ? fingerprint(certificate("server")) : *normalizedFingerprint(saved));
        QCOMPARE(w->settingsToSave().tlsTrusted, expected);
        // Only a new trust is written back, so another window's list stays.
        QCOMPARE(w->settingsToSave().tlsTrustedChanged, answer == 1);
        // Trusted always: the next connect asks nothing.
        w.find<QPushButton>("cmdConnect")->click();
        w.find<QPushButton>("cmdConnect")->click();
        QTRY_VERIFY(w->isConnected() || w.boxes->size() > 1);
        QCOMPARE(w.boxes->size(), size_t(answer == 1 ? 1 : 2));
    }

    void clientFailures_data()
    {
        QTest::addColumn<QString>("peer"); // a certificate's name, or how a plain TCP server behaves
        QTest::addColumn<QString>("logged");
        auto row = [](const char* name, const char* peer, const char* logged) {
            QTest::newRow(name) << QString(peer) << QString(logged);
        };
        row("plain server closes", "close", "failed: the server closed the connection");
        row("plain server sends garbage", "garbage", "TLS handshake failed: ");
        row("silent server", "silent", "timed out after 0.3 s");
        row("expired certificate", "expired", "The certificate has expired");
        row("wrong host name", "other", "The host name did not match");
    }
    void clientFailures()
    {
        QFETCH(QString, peer);
        QFETCH(QString, logged);
        QTcpServer plain;
        plain.listen(QHostAddress::LocalHost, 0);
        connect(&plain, &QTcpServer::newConnection, &plain, [&] {
            QTcpSocket* s = plain.nextPendingConnection();
            if (peer == "close")
                s->close();
            else if (peer == "garbage")
                s->write(QByteArray(64, 'x'));
        });
        std::unique_ptr<TlsPeer> tls;
        if (!QStringList{"close", "garbage", "silent"}.contains(peer))
            tls = std::make_unique<TlsPeer>(peer);
        Window w;
        w.socket()->setTlsHandshakeTimeout(300);
        TestSupport::clickConnect(w, Client, Tls, tls ? tls->port() : QString::number(plain.serverPort()));
        QTRY_VERIFY(logHas(w, logged));
        QTRY_COMPARE(w.socket()->State(), int(SocketControl::sckClosed));
        QVERIFY(w.find<QLineEdit>("txtIP")->isEnabled() && !w->isConnected());
    }

    void clientOffersItsCertificate()
    {
        TlsPeer peer(QStringLiteral("server"), QSslSocket::QueryPeer);
        Window w;
        setCertificate(w, tlsFile("client.pem"), tlsFile("client.key"));
        QVERIFY(logHas(w, "TLS certificate: subject CN=Kelvane test client, issuer CN=Kelvane test client"));
        w.answers->append(0);
        TestSupport::clickConnect(w, Client, Tls, peer.port());
        QTRY_VERIFY(w->isConnected());
        QTRY_VERIFY(peer.socket);
        QCOMPARE(subjectText(peer.socket->peerCertificate()), "CN=Kelvane test client");
    }

    void serverRole_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<QString>("logged"); // after the certificate is set, or when listening fails
        auto row = [](const char* name, const char* certificate, const char* key, const char* passphrase,
                      const char* logged) {
            QTest::newRow(name) << QString(certificate) << QString(key) << QString(passphrase)
                                << QString(logged);
        };
        row("no certificate", "", "", "",
            "A TLS server needs a certificate and its key: set them under Tools, TLS Certificate...");
        row("missing file", "none.pem", "server.key", "",
            "none.pem cannot be read: No such file or directory");
        row("encrypted key, wrong passphrase", "server.pem", "server-encrypted.key", "wrong",
            "cannot be read: wrong passphrase");
        row("plain key", "server.pem", "server.key", "", "TLS certificate: subject CN=localhost");
        row("encrypted key", "server.pem", "server-encrypted.key", "secret",
            "TLS certificate: subject CN=localhost");
        row("key of another certificate", "server.pem", "other.key", "", "key values mismatch");
    }
    void serverRole()
    {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, passphrase);
        QFETCH(QString, logged);
        Window w;
        w.names->append(passphrase);
        const QString dir = QFileInfo(tlsFile("server.pem")).path() + "/";
        if (!certificate.isEmpty())
            setCertificate(w, dir + certificate, dir + key);
        TestSupport::clickConnect(w, Server, Tls, "0");
        if (w.socket()->State() != SocketControl::sckListening) {
            QVERIFY(logHas(w, logged));
            QCOMPARE(w.find<QLineEdit>("txtIP")->isEnabled(), true);
            return;
        }
        const quint16 port = quint16(w.socket()->LocalPort());
        // A plain TCP peer fails its handshake; the server listens on.
        QTcpSocket plain;
        plain.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(plain.waitForConnected());
        const QString from = QString::number(plain.localPort());
        plain.write("hello\r\n");
        QTRY_VERIFY(logHas(w, "TLS handshake with 127.0.0.1:" + from + " failed: "));
        QCOMPARE(w.socket()->State(), int(SocketControl::sckListening));
        QSslSocket client;
        client.setPeerVerifyMode(QSslSocket::VerifyNone);
        client.connectToHostEncrypted("localhost", port);
        QTRY_VERIFY(logHas(w, logged));
        if (logged == "key values mismatch")
            return;
        QTRY_VERIFY(w->isConnected());
        QVERIFY(logHas(w, "TLS 1.3, TLS_AES_256_GCM_SHA384"));
        client.write("ping");
        QTRY_COMPARE(w.socket()->traffic().bytesIn, 4);
    }
};

KELVANE_TEST_MAIN(TestTls)
#include "tst_tls.moc"
