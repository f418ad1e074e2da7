// TLS flood into the flat view: a peer on its own thread sends N MB over TLS
// 1.3 as fast as it can. Beside it, in the same run: a plain TLS reader that
// reads and discards the same stream over the same cipher (what TLS alone
// costs this process), and the same flood into the flat view over plain TCP.
// Wire speed (plaintext MB/s) and the process's peak memory for each.

#include "benchsupport.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "net/TlsCertificates.h"
#include "ui/Controls.h"
#include "ui/frmKelvane.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QSemaphore>
#include <QSslCipher>
#include <QSslServer>
#include <QSslSocket>
#include <QThread>

#include <cstdio>

using namespace BenchSupport;

namespace {

constexpr qint64 MB = 1024 * 1024;

// The test certificates, found from this file's place as the compiler saw it
// (relative to the folder where the benchmark is built).
QString tlsFile(const char* name)
{
    const QString source = QFileInfo(QStringLiteral(__FILE__)).path();
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(source) +
           QStringLiteral("/../tests/tls/") + QLatin1String(name);
}

// Accepts one client and sends it total bytes, TLS or plain, from its own thread.
class FloodThread : public QThread
{
public:
    FloodThread(bool tls, qint64 total) : m_tls(tls), m_total(total) {}
    quint16 port()
    {
        m_ready.acquire();
        return m_port;
    }

protected:
    void run() override
    {
        std::unique_ptr<QTcpServer> server;
        if (m_tls) {
            auto* ssl = new QSslServer;
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            const TlsIdentity id = TlsIdentity::load(tlsFile("server.pem"), tlsFile("server.key"));
            config.setLocalCertificate(id.certificate);
            config.setPrivateKey(id.key);
            ssl->setSslConfiguration(config);
            server.reset(ssl);
        } else {
            server = std::make_unique<QTcpServer>();
        }
        server->listen(QHostAddress::LocalHost, 0);
        m_port = server->serverPort();
        m_ready.release();
        const QByteArray chunk(64 * 1024, 'x');
        qint64 sent = 0;
        QObject::connect(server.get(), &QTcpServer::pendingConnectionAvailable, server.get(), [&] {
            QTcpSocket* s = server->nextPendingConnection();
            auto pump = [&, s] {
                // A TLS socket encrypts at once: what waits is counted encrypted too.
                auto* ssl = qobject_cast<QSslSocket*>(s);
                while (sent < m_total &&
                       s->bytesToWrite() + (ssl ? ssl->encryptedBytesToWrite() : 0) < 4 * MB) {
                    s->write(chunk.constData(), qMin<qint64>(chunk.size(), m_total - sent));
                    sent += qMin<qint64>(chunk.size(), m_total - sent);
                }
            };
            QObject::connect(s, &QIODevice::bytesWritten, s, pump);
            if (auto* ssl = qobject_cast<QSslSocket*>(s))
                QObject::connect(ssl, &QSslSocket::encryptedBytesWritten, s, pump);
            pump();
        });
        exec();
    }

private:
    bool m_tls;
    qint64 m_total;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

struct Run
{
    double seconds = 0;
    qint64 bytes = 0;
    qint64 peakKb = 0;
    QString cipher;
};

// The window in the flat view as a client of the flood, TLS or TCP.
Run windowFlood(bool tls, qint64 total)
{
    TestSupport::Window w;
    w.find<ToggleButton>("chkFlat")->setValue(1);
    w->show();
    FloodThread peer(tls, total);
    peer.start();
    const QString port = QString::number(peer.port());
    w.answers->append(0); // trust the self-signed certificate once
    QCoreApplication::processEvents();
    resetPeakMemory();
    Run r;
    qint64 shown = 0;
    QObject::connect(w.socket(), &SocketControl::dataArrival, w.socket(), [&](qint32 n) { shown += n; });
    LoopWatch watch;
    r.seconds = watch.run(
        600, [&] { return shown >= total; }, [&] { TestSupport::clickConnect(w, 1, tls ? 2 : 0, port); });
    r.bytes = shown;
    r.peakKb = TestSupport::procStatusKb("VmHWM:");
    r.cipher = w.socket()->tlsSummary();
    w.find<QPushButton>("cmdConnect")->click();
    peer.quit();
    peer.wait();
    return r;
}

// A QSslSocket that reads and discards: TLS's own cost in this process.
Run plainTlsReader(qint64 total)
{
    FloodThread peer(true, total);
    peer.start();
    QSslSocket reader;
    reader.setPeerVerifyMode(QSslSocket::VerifyNone);
    resetPeakMemory();
    Run r;
    char buffer[256 * 1024];
    QObject::connect(&reader, &QIODevice::readyRead, &reader, [&] {
        while (reader.bytesAvailable() > 0)
            r.bytes += reader.read(buffer, sizeof buffer);
    });
    LoopWatch watch;
    r.seconds = watch.run(
        600, [&] { return r.bytes >= total; },
        [&] { reader.connectToHostEncrypted(QStringLiteral("127.0.0.1"), peer.port()); });
    r.peakKb = TestSupport::procStatusKb("VmHWM:");
    r.cipher = reader.sessionCipher().name();
    reader.abort();
    peer.quit();
    peer.wait();
    return r;
}

} // namespace

int main(int argc, char* argv[])
{
    prepareBenchmark();
    QApplication app(argc, argv);
    TestSupport::clearSettings();
    const qint64 total = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 256) * MB;
    std::printf("TLS flood of %lld MB, load average %s\n", total / MB, loadAverage().constData());
    const Run reader = plainTlsReader(total);
    const Run tls = windowFlood(true, total);
    const Run tcp = windowFlood(false, total);
    std::vector<QStringList> rows;
    auto row = [&](const QString& name, const Run& r) {
        rows.push_back({name, QStringLiteral("%1 MB/s").arg(r.bytes / 1e6 / r.seconds, 0, 'f', 1),
                        QStringLiteral("%1 MB").arg(r.peakKb / 1024),
                        r.bytes >= total ? QStringLiteral("all") : QStringLiteral("%1 MB").arg(r.bytes / MB),
                        r.cipher});
    };
    row(QStringLiteral("plain TLS reader (read and discard)"), reader);
    row(QStringLiteral("flat view over TLS"), tls);
    row(QStringLiteral("flat view over plain TCP"), tcp);
    printTable({QStringLiteral("case"), QStringLiteral("plaintext speed"), QStringLiteral("peak memory"),
                QStringLiteral("received"), QStringLiteral("cipher")},
               rows);
    return 0;
}
