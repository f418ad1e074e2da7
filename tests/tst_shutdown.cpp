// Closing the window: the connection is closed without listening again and
// the settings are saved. The window menu: New Window and Close.

#include "testsupport.h"

#include "net/SocketControl.h"
#include "platform/Launcher.h"
#include "ui/Controls.h"
#include "ui/LogView.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

using TestSupport::body;
using TestSupport::storedSetting;
using TestSupport::Window;

namespace {

QString entry(const QString& item)
{
    return body({item});
}

// Hands every start to a real launcher, pointed at a program of the test's choosing.
class RedirectingLauncher : public Launcher
{
public:
    RedirectingLauncher(QString target, std::shared_ptr<QStringList> asked, std::shared_ptr<qint64> pid)
        : m_target(std::move(target)), m_asked(std::move(asked)), m_pid(std::move(pid))
    {
    }
    bool start(const QString& program) override
    {
        m_asked->append(program);
        const bool started = m_real.start(m_target);
        *m_pid = m_real.processId();
        return started;
    }

private:
    ProcessLauncher m_real;
    QString m_target;
    std::shared_ptr<QStringList> m_asked;
    std::shared_ptr<qint64> m_pid;
};

// Alive and not yet a zombie waiting for its parent.
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z';
}

QString builtProgram()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/kelvane"));
}

// What a piece of work writes to standard error.
QByteArray standardErrorOf(const std::function<void()>& work)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "cannot capture";
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    work();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private:
    static void listen(Window& w, int closeBox, int protocol = 0)
    {
        w.find<OptionArray>("optServer")->setValue(0, true);
        w.find<CheckBox>("chkCloseOnDisconnect")->setValue(closeBox);
        w.find<ListCombo>("cboMode")->setListIndex(protocol);
        w.find<QLineEdit>("txtLocalPort")->setText(QStringLiteral("0"));
        w.find<QPushButton>("cmdConnect")->click();
    }

    static bool refused(quint16 port)
    {
        QTcpSocket probe;
        QSignalSpy failed(&probe, &QTcpSocket::errorOccurred);
        QSignalSpy made(&probe, &QTcpSocket::connected);
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (!QTest::qWaitFor([&] { return failed.size() + made.size() > 0; }, 5000))
            return false;
        return made.isEmpty() && probe.error() == QAbstractSocket::ConnectionRefusedError;
    }

private slots:
    void init() { TestSupport::clearSettings(); }

    void idleCloseSavesTheTenSettings()
    {
        Window w;
        w.find<QLineEdit>("txtIP")->setText(QStringLiteral(" peer, \"one\" "));
        w.find<QLineEdit>("txtRemotePort")->setText(QStringLiteral("80x"));
        w.find<QLineEdit>("txtLocalPort")->setText(QStringLiteral("7001"));
        w.find<QLineEdit>("txtInterval")->setText(QStringLiteral("250ms"));
        w.fileDialog()->setFileName(QStringLiteral("/data/lines one.txt"));
        w.find<OptionArray>("optMode")->setValue(1, true);
        w.find<CheckBox>("chkCloseOnDisconnect")->setValue(2);
        w.find<ListCombo>("cboMode")->setListIndex(1);
        w.find<ToggleButton>("chkFlat")->setValue(0);
        w.find<CheckBox>("chkShow")->setValue(2);
        const QRect place(30, 40, w->minimumWidth() + 150, w->minimumHeight() + 90);
        w->setGeometry(place);
        const qsizetype before = w.entries().size();

        QVERIFY(w->close());
        QVERIFY(!w->isVisible());
        QVERIFY(!w->connection()->isUnloading());
        QCOMPARE(w.entries().size(), before);
        QVERIFY(w.boxes->empty());

        QCOMPARE(storedSetting(Settings::RemoteIp), QStringLiteral(" peer, \"one\" "));
        QCOMPARE(storedSetting(Settings::RemotePort), QStringLiteral("80x"));
        QCOMPARE(storedSetting(Settings::LocalPort), QStringLiteral("7001"));
        QCOMPARE(storedSetting(Settings::File), QStringLiteral("/data/lines one.txt"));
        QCOMPARE(storedSetting(Settings::Interval), QStringLiteral("250ms"));
        QCOMPARE(storedSetting(Settings::Ascii), QStringLiteral("0"));
        QCOMPARE(storedSetting(Settings::Server), QStringLiteral("-1"));
        QCOMPARE(storedSetting(Settings::CrLf), QStringLiteral("0"));
        QCOMPARE(storedSetting(Settings::CloseOnDisconnect), QStringLiteral("2"));
        QCOMPARE(storedSetting(Settings::Mode), QStringLiteral("1"));
        QCOMPARE(storedSetting(Settings::FlatView) + storedSetting(Settings::ShowSent), QStringLiteral("02"));
        QCOMPARE(QStringList({storedSetting(Settings::Left), storedSetting(Settings::Top),
                              storedSetting(Settings::Width), storedSetting(Settings::Height)}),
                 QStringList({"30", "40", QString::number(place.width()), QString::number(place.height())}));

        // The next window starts from what was saved.
        Window next;
        QCOMPARE(next.find<QLineEdit>("txtIP")->text(), QStringLiteral(" peer, \"one\" "));
        QCOMPARE(next.find<QLineEdit>("txtRemotePort")->text(), QStringLiteral("80"));
        QCOMPARE(next.find<QLineEdit>("txtLocalPort")->text(), QStringLiteral("7001"));
        QCOMPARE(next.find<QLineEdit>("txtInterval")->text(), QStringLiteral("250"));
        QCOMPARE(next.fileDialog()->FileName(), QStringLiteral("/data/lines one.txt"));
        QVERIFY(next.find<OptionArray>("optMode")->value(1));
        QVERIFY(next.find<OptionArray>("optServer")->value(0));
        QCOMPARE(next.find<CheckBox>("chkCloseOnDisconnect")->value(), 2);
        QCOMPARE(next.find<ListCombo>("cboMode")->listIndex(), 1);
        QCOMPARE(next.find<ToggleButton>("chkFlat")->value(), 0);
        QCOMPARE(next.find<CheckBox>("chkShow")->value(), 2);
        QCOMPARE(next->geometry(), place);
        // A size the layout does not fit in is not used.
        TestSupport::storeSetting(Settings::Height, QString::number(next->minimumHeight() - 1));
        QCOMPARE(Window()->size(), next->minimumSize());
    }

    void storedFlags_data()
    {
        QTest::addColumn<bool>("client");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("ascii");
        QTest::addColumn<QString>("crlf");
        QTest::addColumn<QString>("closeBox");
        QTest::addColumn<QString>("mode");

        QTest::newRow("server, ASCII, TCP") << false << false << 0 << "-1"
                                            << "-1"
                                            << "1"
                                            << "1"
                                            << "0";
        // The client role shows the close box unchecked, and that is what is kept.
        QTest::newRow("client keeps the box as shown") << true << false << 0 << "0"
                                                       << "-1"
                                                       << "1"
                                                       << "0"
                                                       << "0";
        QTest::newRow("HEX shows CrLf unchecked") << false << true << 1 << "-1"
                                                  << "0"
                                                  << "0"
                                                  << "1"
                                                  << "1";
        QTest::newRow("no protocol selected") << false << false << -1 << "-1"
                                              << "-1"
                                              << "1"
                                              << "1"
                                              << "-1";
    }

    void storedFlags()
    {
        QFETCH(bool, client);
        QFETCH(bool, hex);
        QFETCH(int, protocol);
        Window w;
        if (client)
            w.find<OptionArray>("optServer")->setValue(1, true);
        if (hex)
            w.find<OptionArray>("optMode")->setValue(1, true);
        w.find<ListCombo>("cboMode")->setListIndex(protocol);
        w->close();

        QTEST(storedSetting(Settings::Server), "server");
        QTEST(storedSetting(Settings::Ascii), "ascii");
        QTEST(storedSetting(Settings::CrLf), "crlf");
        QTEST(storedSetting(Settings::CloseOnDisconnect), "closeBox");
        QTEST(storedSetting(Settings::Mode), "mode");
    }

    void closeEndsTheConnection_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<int>("closeBox");
        QTest::addColumn<bool>("withPeer");
        QTest::addColumn<bool>("fullClose");

        // Unchecked, a server would listen again; closing the window must not.
        QTest::newRow("listening, box unchecked") << "tcp server" << 0 << false << false;
        QTest::newRow("serving, box unchecked") << "tcp server" << 0 << true << false;
        QTest::newRow("serving, box checked") << "tcp server" << 1 << true << true;
        QTest::newRow("connected as a TCP client") << "tcp client" << 0 << true << true;
        QTest::newRow("UDP, box unchecked") << "udp server" << 0 << false << false;
    }

    void closeEndsTheConnection()
    {
        QFETCH(QString, open);
        QFETCH(int, closeBox);
        QFETCH(bool, withPeer);
        QFETCH(bool, fullClose);

        Window w;
        QTcpServer server; // a TCP client's peer
        QTcpSocket peer;
        QTcpSocket* peerEnd = &peer;
        quint16 port = 0;
        if (open == "tcp client") {
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            QVERIFY(TestSupport::connectTcpClient(w, server.serverPort()));
            QTRY_VERIFY(server.hasPendingConnections());
            peerEnd = server.nextPendingConnection();
        } else {
            listen(w, closeBox, open == "udp server");
            QCOMPARE(w.socket()->State(),
                     int(open == "udp server" ? SocketControl::sckOpen : SocketControl::sckListening));
            port = quint16(w.socket()->LocalPort());
        }
        QSignalSpy peerGone(peerEnd, &QTcpSocket::disconnected);
        if (withPeer && open == "tcp server") {
            peer.connectToHost(QHostAddress::LocalHost, port);
            QTRY_VERIFY(w->isConnected());
            QTRY_COMPARE(peer.state(), QAbstractSocket::ConnectedState);
        }
        const QString remoteIp = w.socket()->RemoteHostIP();
        const qsizetype before = w.entries().size();

        w->close();
        QVERIFY(w->connection()->isUnloading());
        QCOMPARE(w.socket()->State(), int(SocketControl::sckClosed));
        QStringList expected = {entry(QStringLiteral("Client disconnected: ") + remoteIp)};
        if (fullClose)
            expected.append(entry(QStringLiteral("Server port closed.")));
        QCOMPARE(w.entries().mid(before), expected);

        if (withPeer)
            QTRY_COMPARE(peerGone.size(), 1);
        QVERIFY(open != "tcp server" || refused(port));
        QUdpSocket freed;
        QVERIFY(open != "udp server" ||
                freed.bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress));
        QTest::qWait(20);
        QCOMPARE(w.socket()->State(), int(SocketControl::sckClosed));
        QCOMPARE(storedSetting(Settings::LocalPort), QStringLiteral("0"));
    }

    void closeWhileSendingAFile()
    {
        // Serving with the box unchecked, the close handling leaves the timer
        // running; the closed window must not go on ticking.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("lines.txt"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("1\r\n2\r\n3\r\n");
        }
        Window w;
        listen(w, 0);
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, quint16(w.socket()->LocalPort()));
        QTRY_VERIFY(w->isConnected());
        w.fileDialog()->setBackend(std::make_unique<TestSupport::ScriptedFileDialog>(
            std::make_shared<std::vector<TestSupport::ScriptedFileDialog::Reply>>(
                std::vector<TestSupport::ScriptedFileDialog::Reply>{{0, path}})));
        w.find<QPushButton>("cmdOpen")->click();
        w.find<QLineEdit>("txtInterval")->setText(QStringLiteral("50"));
        w.find<QPushButton>("cmdSendFile")->click();
        QVERIFY(w.find<QTimer>("tmrSendFile")->isActive());

        w.find<QAction>("mnFile_Close")->trigger();
        QVERIFY(!w->isVisible());
        QVERIFY(!w.find<QTimer>("tmrSendFile")->isActive());
        const qsizetype after = w.entries().size();
        QTest::qWait(150);
        QCOMPARE(w.entries().size(), after);
        QCOMPARE(storedSetting(Settings::File), path);
        QCOMPARE(storedSetting(Settings::Interval), QStringLiteral("50"));
    }

    void lastWindowClosedWins()
    {
        Window first;
        Window second;
        first.find<QLineEdit>("txtIP")->setText(QStringLiteral("first"));
        second.find<QLineEdit>("txtIP")->setText(QStringLiteral("second"));
        second->close();
        QCOMPARE(storedSetting(Settings::RemoteIp), QStringLiteral("second"));
        first->close();
        QCOMPARE(storedSetting(Settings::RemoteIp), QStringLiteral("first"));
    }

    void unwritableStoreStillCloses()
    {
        // A folder where the settings file belongs makes every write fail.
        const QString file = TestSupport::rawSettings().fileName();
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file));
        Window w;
        // Said once at start-up, with the path and the reason.
        QCOMPARE(w.entries().filter(QStringLiteral("Settings will not be saved: ")),
                 QStringList{body(
                     {"Settings will not be saved: " + file + " (a folder stands where the file belongs)"})});
        const qsizetype before = w.entries().size();
        const QByteArray told = standardErrorOf([&] { QVERIFY(w->close()); });
        QVERIFY(!w->isVisible());
        QCOMPARE(w.entries().size(), before);
        QVERIFY(w.boxes->empty());
        // The failed save reaches standard error, once.
        QCOMPARE(told.count("settings not saved"), 1);
        QVERIFY(told.contains(file.toLocal8Bit()));
        QVERIFY(QDir(file).removeRecursively());
    }

    void closeMenuClosesTheWindow()
    {
        Window w;
        w->show();
        w.find<QLineEdit>("txtIP")->setText(QStringLiteral("via menu"));
        w.find<QAction>("mnFile_Close")->trigger();
        QVERIFY(!w->isVisible());
        QCOMPARE(storedSetting(Settings::RemoteIp), QStringLiteral("via menu"));
    }

    void newWindowStartsThisProgram()
    {
        Window w;
        const QString log = w.logBox()->text();
        w.find<QAction>("mnFile_New")->trigger();
        w.find<QAction>("mnFile_New")->trigger();
        const QString self = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
        QCOMPARE(*w.launched, QStringList({self, self}));
        QVERIFY(w.boxes->empty());
        QCOMPARE(w.logBox()->text(), log);
    }

    void newWindowFailure()
    {
        Window w(true, false);
        const QString log = w.logBox()->text();
        w.find<QAction>("mnFile_New")->trigger();
        QCOMPARE(w.boxes->size(), size_t(1));
        QCOMPARE(w.boxes->at(0).title, QStringLiteral("Error"));
        QCOMPARE(w.boxes->at(0).text, QStringLiteral("Failed to open program: ") +
                                          QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
        QCOMPARE(w.logBox()->text(), log);
        QCOMPARE(w.socket()->State(), int(SocketControl::sckClosed));
    }

    void newWindowRunsTheBuiltProgram()
    {
        const QString program = builtProgram();
        if (!QFileInfo(program).isExecutable())
            QSKIP("the program is not built next to the tests");
        Window w;
        auto asked = std::make_shared<QStringList>();
        auto pid = std::make_shared<qint64>(0);
        w->setLauncher(std::make_unique<RedirectingLauncher>(program, asked, pid));
        w.find<QAction>("mnFile_New")->trigger();

        QVERIFY(w.boxes->empty());
        QCOMPARE(asked->size(), 1);
        QVERIFY(*pid > 0);
        const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(*pid));
        const bool isProgram = QFileInfo(exe) == QFileInfo(program);
        // The new instance runs on its own until it is ended.
        QTest::qWait(300);
        const bool stillRunning = running(*pid);
        ::kill(pid_t(*pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!running(*pid), 10000);
        QVERIFY2(isProgram, qPrintable(exe));
        QVERIFY(stillRunning);
    }

    void newWindowWithTheProgramGone()
    {
        QTemporaryDir dir;
        Window w;
        auto asked = std::make_shared<QStringList>();
        auto pid = std::make_shared<qint64>(0);
        w->setLauncher(
            std::make_unique<RedirectingLauncher>(dir.filePath(QStringLiteral("kelvane")), asked, pid));
        w.find<QAction>("mnFile_New")->trigger();
        QCOMPARE(*pid, 0);
        QCOMPARE(w.boxes->size(), size_t(1));
        QCOMPARE(w.boxes->at(0).text, QStringLiteral("Failed to open program: ") + asked->value(0));
    }

    void launcherRefuses_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("bare name") << "bare";
        QTest::newRow("folder") << "folder";
        QTest::newRow("not executable") << "plain";
    }

    void launcherRefuses()
    {
        QFETCH(QString, what);
        QTemporaryDir dir;
        QString program;
        if (what == QStringLiteral("missing")) {
            program = dir.filePath(QStringLiteral("missing"));
        } else if (what == QStringLiteral("bare")) {
            program = QStringLiteral("kelvane");
        } else if (what == QStringLiteral("folder")) {
            program = dir.path();
        } else {
            program = dir.filePath(QStringLiteral("plain"));
            QFile f(program);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n");
            f.close();
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        }
        ProcessLauncher launcher;
        QVERIFY(!launcher.start(program));
        QCOMPARE(launcher.processId(), 0);
    }
};

KELVANE_TEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
