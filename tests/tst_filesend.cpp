// Sending a text file line by line to a real peer on loopback, driven through
// the window's own controls, and the file-open dialog the open button uses.

#include "loopback.h"
#include "testdata.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "platform/KvError.h"
#include "send/FileSender.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

#include <sys/stat.h>

using TestSupport::body;
using TestSupport::ScriptedFileDialog;
using TestSupport::Window;

namespace {

const QString Sending = QStringLiteral("S&top");
const QString Idle = QStringLiteral("Sen&d");
const QString Start = QStringLiteral("S&end");

QString entry(const QString& item)
{
    return body({item});
}

// A loopback server that keeps what each of its connections received.
class Peer
{
public:
    Peer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                const int index = int(connections.size());
                connections.append(s);
                received.append(QByteArray());
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, index] {
                    received[index] += s->readAll();
                    if (onData)
                        onData(index);
                });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    QByteArray all() const { return received.join(); }

    QList<QPointer<QTcpSocket>> connections;
    QList<QByteArray> received;
    std::function<void(int)> onData;

private:
    QTcpServer m_server;
};

QByteArray crlfLines(const QList<QByteArray>& lines)
{
    QByteArray out;
    for (const QByteArray& line : lines)
        out += line + "\r\n";
    return out;
}

QList<QByteArray> numberedLines(int count)
{
    QList<QByteArray> lines;
    for (int i = 1; i <= count; ++i)
        lines.append("line " + QByteArray::number(i));
    return lines;
}

} // namespace

class TestFileSend : public QObject
{
    Q_OBJECT

private:
    TestData::TempFiles m_files;

    // Answers the window's next dialogs with the given replies, in order.
    static void script(Window& w, std::vector<ScriptedFileDialog::Reply> replies,
                       std::shared_ptr<QStringList> presets = nullptr)
    {
        w.fileDialog()->setBackend(std::make_unique<ScriptedFileDialog>(
            std::make_shared<std::vector<ScriptedFileDialog::Reply>>(std::move(replies)),
            std::move(presets)));
    }

    static void open(Window& w, const QString& path)
    {
        script(w, {{0, path}});
        w.find<QPushButton>("cmdOpen")->click();
    }

    static void clickSend(Window& w) { w.find<QPushButton>("cmdSendFile")->click(); }
    static QString caption(const Window& w) { return w.find<QPushButton>("cmdSendFile")->text(); }
    static QTimer* timer(const Window& w) { return w.find<QTimer>("tmrSendFile"); }

    // One tick of the window's timer, as the event loop delivers it.
    static void tick(const Window& w)
    {
        if (!QMetaObject::invokeMethod(timer(w), "timeout"))
            qFatal("cannot tick the timer");
    }

    static void setInterval(Window& w, const QString& text)
    {
        w.find<QLineEdit>("txtInterval")->setText(text);
    }

    // TCP client through the window's controls.
    static bool connectTo(Window& w, quint16 port) { return TestSupport::connectTcpClient(w, port); }

    // TCP server through the window's controls, listening again when a peer leaves.
    static quint16 listen(Window& w)
    {
        w.find<OptionArray>("optServer")->setValue(0, true);
        w.find<CheckBox>("chkCloseOnDisconnect")->setValue(0);
        w.find<ListCombo>("cboMode")->setListIndex(0);
        w.find<QLineEdit>("txtLocalPort")->setText(QStringLiteral("0"));
        w.find<QPushButton>("cmdConnect")->click();
        return w.socket()->State() == SocketControl::sckListening ? quint16(w.socket()->LocalPort()) : 0;
    }

    static bool setModified(const QString& path, const QDateTime& time)
    {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
    }

    // Connected to the peer with the file open and sent at an interval so
    // long that only the test's own ticks send.
    bool startTicksByHand(Window& w, const Peer& peer, const QByteArray& file,
                          const QDateTime& modified = QDateTime())
    {
        const QString path = m_files.write(file);
        if (!connectTo(w, peer.port()) || (modified.isValid() && !setModified(path, modified)))
            return false;
        open(w, path);
        setInterval(w, QStringLiteral("100000"));
        clickSend(w);
        return caption(w) == Sending;
    }

    static bool waitForEntry(const Window& w, const QString& entryBody, int timeout = 10000)
    {
        return QTest::qWaitFor([&] { return w.entries().contains(entryBody); }, timeout);
    }

private slots:
    void init() { TestSupport::clearSettings(); }

    void cleanup()
    {
        // An answer left unused must not meet a later test's dialog.
        qDeleteAll(findChildren<QTimer*>(QStringLiteral("dialogAnswer"), Qt::FindDirectChildrenOnly));
    }

    void sendsEveryLineThenCompletes()
    {
        Peer peer;
        Window w;
        QVERIFY(connectTo(w, peer.port()));
        const QString path = m_files.write("alpha\r\nbeta\n\ngamma");
        open(w, path);
        QVERIFY(w->isFileOpen());
        setInterval(w, QStringLiteral("10"));
        const qsizetype before = w.entries().size();

        clickSend(w);
        QCOMPARE(caption(w), Sending);
        QVERIFY(timer(w)->isActive());
        QCOMPARE(timer(w)->interval(), 10);
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));

        QTRY_COMPARE(peer.all(), QByteArray("alpha\r\nbeta\r\n\r\ngamma\r\n"));
        QCOMPARE(caption(w), Idle);
        QVERIFY(!timer(w)->isActive());
        QVERIFY(!w->isFileOpen());
        const QStringList expected = {
            entry(QStringLiteral("Sending File: ") + path), entry(QStringLiteral("Sent :alpha\r\n")),
            entry(QStringLiteral("Sent :beta\r\n")),        entry(QStringLiteral("Sent :\r\n")),
            entry(QStringLiteral("Sent :gamma\r\n")),       entry(QStringLiteral("Completed."))};
        QCOMPARE(w.entries().mid(before), expected);

        // The file is done: a further start asks for one.
        clickSend(w);
        QCOMPARE(w.entries().constLast(), entry(QStringLiteral("Please select a file to send.")));
        QCOMPARE(caption(w), Idle);
    }

    void linesWithoutCrLf()
    {
        Peer peer;
        Window w;
        w.find<CheckBox>("chkAppenCrLf")->setValue(0);
        w.find<CheckBox>("chkShow")->setValue(0);
        QVERIFY(connectTo(w, peer.port()));
        open(w, m_files.write("one\r\ntwo\r\n"));
        setInterval(w, QStringLiteral("10"));
        const qsizetype before = w.entries().size();
        clickSend(w);
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));
        QTRY_COMPARE(peer.all(), QByteArray("onetwo"));
        // Without "Show sent lines" only the start and the end are logged.
        QCOMPARE(w.entries().size() - before, 2);
    }

    void fileOpenEntry()
    {
        Window w;
        const QString path = m_files.write("x");
        open(w, path);
        QCOMPARE(w.entries().constLast(), body({QStringLiteral("File open: "), path}));
        QVERIFY(w->isFileOpen());
    }

    void startNeedsFileAndConnection_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QString>("said");
        QTest::newRow("neither") << false << QStringLiteral("Please select a file to send.");
        QTest::newRow("file, no connection") << true << QStringLiteral("Not connected.");
    }

    void startNeedsFileAndConnection()
    {
        QFETCH(bool, withFile);
        QFETCH(QString, said);
        Window w;
        if (withFile)
            open(w, m_files.write("a\r\n"));
        clickSend(w);
        QCOMPARE(w.entries().constLast(), entry(said));
        QCOMPARE(caption(w), Start);
        QVERIFY(!timer(w)->isActive());
    }

    void stopAndResumeAtFullSpeed()
    {
        // Interval 0 sends as fast as the event loop turns; this very loop
        // keeps running, which is what keeps the window responsive.
        Peer peer;
        Window w;
        QVERIFY(connectTo(w, peer.port()));
        const QList<QByteArray> lines = numberedLines(20000);
        open(w, m_files.write(crlfLines(lines)));
        setInterval(w, QStringLiteral("0"));

        clickSend(w);
        QCOMPARE(timer(w)->interval(), 0);
        QTRY_VERIFY(peer.all().count('\n') >= 100);
        clickSend(w);
        QCOMPARE(caption(w), Idle);
        QCOMPARE(w.entries().constLast(), entry(QStringLiteral("Stopped")));
        QVERIFY(!timer(w)->isActive());
        QVERIFY(w->isFileOpen());

        // The lines logged as sent arrive, and nothing more.
        const auto sent = w.entries().filter(QRegularExpression(QStringLiteral("^Sent :"))).size();
        QVERIFY(sent < lines.size());
        QTRY_COMPARE(peer.all(), crlfLines(lines.mid(0, sent)));

        clickSend(w);
        QCOMPARE(caption(w), Sending);
        // Waiting on the caption is cheap; reading a long log at every poll is not.
        QTRY_COMPARE_WITH_TIMEOUT(caption(w), Idle, 60000);
        QCOMPARE(w.entries().constLast(), entry(QStringLiteral("Completed.")));
        QTRY_COMPARE(peer.all().size(), crlfLines(lines).size());
        QCOMPARE(peer.all(), crlfLines(lines));
    }

    void stopAfterFirstLineResumesWithSecond()
    {
        // Ticks by hand: each sends exactly one line.
        Peer peer;
        Window w;
        QVERIFY(startTicksByHand(w, peer, "A\r\nB\r\nC\r\n"));
        tick(w);
        QTRY_COMPARE(peer.all(), QByteArray("A\r\n"));
        clickSend(w);
        QCOMPARE(caption(w), Idle);

        clickSend(w);
        QCOMPARE(caption(w), Sending);
        tick(w);
        QTRY_COMPARE(peer.all(), QByteArray("A\r\nB\r\n"));
        tick(w);
        QTRY_COMPARE(peer.all(), QByteArray("A\r\nB\r\nC\r\n"));
        QCOMPARE(caption(w), Sending);
        tick(w);
        QCOMPARE(w.entries().constLast(), entry(QStringLiteral("Completed.")));
        QCOMPARE(caption(w), Idle);
    }

    void emptyFileCompletesAtFirstTick()
    {
        Peer peer;
        Window w;
        QVERIFY(connectTo(w, peer.port()));
        const QString path = m_files.write(QByteArray());
        open(w, path);
        setInterval(w, QStringLiteral("10"));
        const qsizetype before = w.entries().size();
        clickSend(w);
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));
        QCOMPARE(w.entries().mid(before), QStringList({entry(QStringLiteral("Sending File: ") + path),
                                                       entry(QStringLiteral("Completed."))}));
        QCOMPARE(caption(w), Idle);
        QVERIFY(!w->isFileOpen());
        QTest::qWait(20);
        QVERIFY(peer.all().isEmpty());
    }

    void everyByteArrivesAsInTheFile()
    {
        Peer peer;
        Window w;
        QVERIFY(connectTo(w, peer.port()));
        QByteArray all;
        for (int c = 0; c < 256; ++c) {
            if (c != '\r' && c != '\n')
                all += char(c);
        }
        open(w, m_files.write(all + "\n" + QByteArray(3, '\0') + "\r\n\xff\xfe"));
        setInterval(w, QStringLiteral("10"));
        clickSend(w);
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));
        QTRY_COMPARE(peer.all(), all + "\r\n" + QByteArray(3, '\0') + "\r\n\xff\xfe\r\n");
    }

    void fileThatCannotBeSent_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("said");
        QTest::newRow("missing file")
            << m_files.path(QStringLiteral("no-such-file.txt")) << QStringLiteral("File not found");
        const QString fifo = m_files.path(QStringLiteral("fifo"));
        QFile::remove(fifo);
        if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
            qFatal("cannot make a named pipe");
        // Opening it must not wait for a writer.
        QTest::newRow("named pipe") << fifo
                                    << QStringLiteral(
                                           "Path/File access error: this is a named pipe (FIFO), not "
                                           "a regular file; only regular files can be sent");
        QTest::newRow("endless device")
            << QStringLiteral("/dev/zero")
            << QStringLiteral("Path/File access error: this is a character device, "
                              "not a regular file; only regular files can be sent");
    }

    void fileThatCannotBeSent()
    {
        QFETCH(QString, path);
        QFETCH(QString, said);
        Window w;
        open(w, m_files.write("earlier\r\n"));
        QVERIFY(w->isFileOpen());
        const bool existed = QFileInfo::exists(path);
        open(w, path);
        QCOMPARE(w.entries().constLast(), body({QStringLiteral("Error"), said}));
        QVERIFY(!w->isFileOpen());
        QCOMPARE(QFileInfo::exists(path), existed);
        clickSend(w);
        QCOMPARE(w.entries().constLast(), entry(QStringLiteral("Please select a file to send.")));
    }

    void failedFileChangeStopsTheSending()
    {
        // The old file is closed before the new one fails to open: the next
        // tick has nothing to read, and must not call that complete.
        Peer peer;
        Window w;
        QVERIFY(startTicksByHand(w, peer, "A\r\nB\r\n"));
        tick(w);
        open(w, m_files.path(QStringLiteral("no-such-file.txt")));
        tick(w);
        QCOMPARE(w.entries().constLast(),
                 body({QStringLiteral("*** Error ***"), QStringLiteral("No file is open"),
                       QStringLiteral("File sending stopped.")}));
        QCOMPARE(caption(w), Idle);
        QVERIFY(!timer(w)->isActive());
        QTRY_COMPARE(peer.all(), QByteArray("A\r\n"));
    }

    void fileChangedWhileSent_data()
    {
        QTest::addColumn<int>("change"); // cut short, rewritten, replaced, deleted
        QTest::addColumn<QString>("said");
        QTest::newRow("cut short")
            << 0 << "The file shrank while it was sent, after line 1: 9 bytes when it was opened, 2 now";
        QTest::newRow("rewritten, same size") << 1 << "The file was changed while it was sent, after line 1";
        QTest::newRow("replaced") << 2 << "The file was replaced while it was sent, after line 1";
        QTest::newRow("deleted: still read to its end as it was") << 3 << QString();
        QTest::newRow("rewritten, its time set back")
            << 4 << "The file was changed while it was sent, after line 1";
        QTest::newRow("replaced by a copy of the same size and time")
            << 5 << "The file was replaced while it was sent, after line 1";
        // Cut where the next read starts: the early end is not "Completed.".
        QTest::newRow("cut short after a whole read")
            << 6
            << "The file shrank while it was sent, after line 1: 65,542 bytes when it was opened, 65,535 now";
    }

    void fileChangedWhileSent()
    {
        QFETCH(int, change);
        QFETCH(QString, said);
        Peer peer;
        Window w;
        // In whole seconds, a time a copy tool can set back exactly.
        const QDateTime opened = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 10);
        const QByteArray first = change == 6 ? QByteArray(65534, 'x') : QByteArray("A");
        QVERIFY(startTicksByHand(w, peer, first + "\r\nB\r\nC\r\n", opened));
        tick(w);
        const QString path = w->fileSender()->progress().path;
        // A change now gets a later status-change time than the file's, also
        // by the system's coarse clock.
        QVERIFY(QTest::qWaitFor([&] {
            return QDateTime::currentMSecsSinceEpoch() >
                   QFileInfo(path).metadataChangeTime().toMSecsSinceEpoch() + 20;
        }));
        QFile file(path);
        const QString copy = m_files.write("X\r\nY\r\nZ\r\n");
        if (change == 0 || change == 6)
            QVERIFY(file.resize(first.size() + 1));
        else if (change == 1 || change == 4)
            QVERIFY(file.open(QIODevice::ReadWrite) && file.write("a") == 1 && file.flush());
        else
            QVERIFY(file.remove() && (change == 3 || ((change == 2 || setModified(copy, opened)) &&
                                                      QFile::rename(copy, path) &&
                                                      (change == 5 || file.open(QIODevice::ReadOnly)))));
        // Saved a second later, as a clock that counts in whole seconds sees
        // it, or with its time set back.
        QVERIFY(!file.isOpen() || file.setFileTime(change == 4 ? opened : opened.addSecs(2),
                                                   QFileDevice::FileModificationTime));
        file.close();
        for (int i = 0; i < 3; ++i)
            tick(w);
        QTRY_COMPARE(caption(w), Idle);
        QCOMPARE(w.entries().constLast(), said.isEmpty() ? entry(QStringLiteral("Completed."))
                                                         : body({QStringLiteral("*** Error ***"), said,
                                                                 QStringLiteral("File sending stopped.")}));
        // Nothing read before the change went out after it.
        QCOMPARE(w.entries().filter(QStringLiteral("Sent :")).size(), said.isEmpty() ? 3 : 1);
    }

    void bytesNotSentAreLogged_data()
    {
        QTest::addColumn<bool>("asServer");
        QTest::newRow("client: the connection ends for good") << false;
        QTest::newRow("server: it listens again") << true;
    }

    void bytesNotSentAreLogged()
    {
        QFETCH(bool, asServer);
        Window w;
        w.find<CheckBox>("chkShow")->setValue(0);
        QTcpServer server;
        QTcpSocket client;
        QTcpSocket* peer = &client;
        if (asServer) {
            const quint16 port = listen(w);
            QVERIFY(port != 0);
            client.connectToHost(QHostAddress::LocalHost, port);
            QTRY_VERIFY(w->isConnected());
        } else {
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            QVERIFY(connectTo(w, server.serverPort()));
            QVERIFY((peer = Loopback::takeClient(server)));
        }
        // The peer reads nothing, so the file's lines pile up inside the program.
        peer->setReadBufferSize(1024);
        // Large lines, so that the kernel's buffers fill in a few ticks.
        QList<QByteArray> lines;
        for (int i = 0; i < 200; ++i)
            lines.append(QByteArray::number(i).leftJustified(100000, '.'));
        open(w, m_files.write(crlfLines(lines)));
        setInterval(w, QStringLiteral("0"));
        clickSend(w);
        QTRY_VERIFY(w.socket()->bytesToWrite() >= FileSender::MaxWaitingBytes);
        const qsizetype before = w.entries().size();
        peer->abort();

        static const QRegularExpression notSent(
            QStringLiteral("^([1-9][0-9,]*) bytes were not sent: the connection ended first.\r\n$"));
        QTRY_VERIFY(w.entries().size() >= before + 3);
        const QStringList after = w.entries().mid(before, 3);
        QCOMPARE(after.at(0), entry(QStringLiteral("Client disconnected: 127.0.0.1")));
        const QRegularExpressionMatch lost = notSent.match(after.at(1));
        QVERIFY2(lost.hasMatch(), qPrintable(after.at(1)));
        if (asServer)
            QVERIFY(after.at(2).startsWith(QStringLiteral("Listening port ")));
        else
            QCOMPARE(after.at(2), entry(QStringLiteral("Server port closed.")));
        // Either way the sending stops and says what was lost; nothing more
        // goes to whoever comes next.
        QTRY_COMPARE(caption(w), Idle);
        const QString report = w.entries().constLast();
        QVERIFY2(report.startsWith(QStringLiteral("*** Error ***\r\nThe connection ended ")) &&
                     report.endsWith("; the last " + lost.captured(1) +
                                     " bytes were not sent.\r\nFile sending stopped.\r\n"),
                 qPrintable(report));
        QVERIFY(!w.entries().contains(entry(QStringLiteral("Completed."))));
    }

    void lossOfAnEarlierConnectionLeavesTheNextSending()
    {
        // Closed by a click, a connection hands its waiting bytes over for a
        // grace time; what it loses is told later, when a new sending may run.
        Window w;
        w.find<CheckBox>("chkShow")->setValue(0);
        QTcpServer first;
        QVERIFY(first.listen(QHostAddress::LocalHost, 0));
        QVERIFY(connectTo(w, first.serverPort()));
        QTcpSocket* stalled = Loopback::takeClient(first);
        QVERIFY(stalled);
        stalled->setReadBufferSize(1024);
        QList<QByteArray> lines;
        for (int i = 0; i < 200; ++i)
            lines.append(QByteArray::number(i).leftJustified(100000, '.'));
        open(w, m_files.write(crlfLines(lines)));
        setInterval(w, QStringLiteral("0"));
        clickSend(w);
        QTRY_VERIFY(w.socket()->bytesToWrite() >= FileSender::MaxWaitingBytes);
        w.find<QPushButton>("cmdConnect")->click();

        QTcpServer second;
        QVERIFY(second.listen(QHostAddress::LocalHost, 0));
        QVERIFY(connectTo(w, second.serverPort()));
        open(w, m_files.write("A\r\nB\r\n"));
        setInterval(w, QStringLiteral("200"));
        clickSend(w);
        const qsizetype started = w.entries().size();
        stalled->abort();
        QTRY_VERIFY(
            w.entries().constLast().endsWith(" bytes were not sent: the connection ended first.\r\n"));
        QTRY_COMPARE(w.entries().constLast(), entry(QStringLiteral("Completed.")));
        QVERIFY(!w.entries().mid(started).join(QString()).contains(QStringLiteral("*** Error ***")));
    }

    void cancelledDialog()
    {
        Window w;
        open(w, m_files.write("a\r\n"));
        const qsizetype before = w.entries().size();
        script(w, {{KvErr::DialogCancel, QString()}});
        w.find<QPushButton>("cmdOpen")->click();
        // A cancel is no failure: nothing is logged.
        QCOMPARE(w.entries().size(), before);
        QVERIFY(!w->isFileOpen());
        clickSend(w);
        QCOMPARE(w.entries().constLast(), entry(QStringLiteral("Please select a file to send.")));
    }

    void cancelWhileSendingFinishesTheFile()
    {
        Peer peer;
        Window w;
        QVERIFY(connectTo(w, peer.port()));
        open(w, m_files.write("1\r\n2\r\n3\r\n4\r\n"));
        setInterval(w, QStringLiteral("20"));
        clickSend(w);
        QTRY_VERIFY(!peer.all().isEmpty());
        script(w, {{KvErr::DialogCancel, QString()}});
        w.find<QPushButton>("cmdOpen")->click();
        QVERIFY(!w->isFileOpen());
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));
        QTRY_COMPARE(peer.all(), QByteArray("1\r\n2\r\n3\r\n4\r\n"));
    }

    void openingAnotherFileWhileSending()
    {
        // The next ticks read the new file from its first line.
        Peer peer;
        Window w;
        QVERIFY(startTicksByHand(w, peer, "old 1\r\nold 2\r\nold 3\r\n"));
        tick(w);
        open(w, m_files.write("new 1\r\nnew 2\r\n"));
        QCOMPARE(caption(w), Sending);
        tick(w);
        tick(w);
        tick(w);
        // The end waits until the lines have left the program.
        QTRY_COMPARE(w.entries().constLast(), entry(QStringLiteral("Completed.")));
        QTRY_COMPARE(peer.all(), QByteArray("old 1\r\nnew 1\r\nnew 2\r\n"));
    }

    void unusablePresetShowsTheDialogAgain()
    {
        Window w;
        const QString path = m_files.write("a\r\n");
        w.fileDialog()->setFileName(QStringLiteral("/no/such/folder/lines.txt"));
        auto presets = std::make_shared<QStringList>();
        script(w, {{KvErr::DialogBadFileName, QString()}, {0, path}}, presets);
        w.find<QPushButton>("cmdOpen")->click();
        QCOMPARE(*presets, QStringList({QStringLiteral("/no/such/folder/lines.txt"), QString()}));
        QVERIFY(w->isFileOpen());
        QCOMPARE(w.fileDialog()->FileName(), path);
        QCOMPARE(w.entries().constLast(), body({QStringLiteral("File open: "), path}));
    }

    void presetRefusedTwiceIsAnErrorNotALoop()
    {
        Window w;
        w.fileDialog()->setFileName(QStringLiteral("/no/such/folder/lines.txt"));
        auto presets = std::make_shared<QStringList>();
        script(w, {{KvErr::DialogBadFileName, QString()}, {KvErr::DialogBadFileName, QString()}}, presets);
        w.find<QPushButton>("cmdOpen")->click();
        QCOMPARE(presets->size(), 2);
        QVERIFY(!w->isFileOpen());
        QCOMPARE(w.entries().constLast(),
                 body({QStringLiteral("Error"), QStringLiteral("Invalid file name: ")}));
    }

    void hostNotFoundStopsTheSending_data()
    {
        QTest::addColumn<int>("crlf");
        QTest::addColumn<QString>("unsent");
        QTest::newRow("a line waiting") << 1 << "The last 3 bytes were not sent.";
        QTest::newRow("one byte waiting") << 0 << "The last byte was not sent.";
    }

    void hostNotFoundStopsTheSending()
    {
        // A UDP client's first line waits for the name lookup, which fails:
        // the socket stays open and nothing of the file left.
        QFETCH(int, crlf);
        QFETCH(QString, unsent);
        Window w;
        w.find<CheckBox>("chkAppenCrLf")->setValue(crlf);
        open(w, m_files.write("A\r\nB\r\n"));
        setInterval(w, QStringLiteral("100000"));
        TestSupport::clickConnect(w, 1, 1, "5005", "0", "no-such-host.invalid");
        clickSend(w);
        tick(w);
        QSignalSpy failed(w.socket(), &SocketControl::sendingFailed);
        QVERIFY(failed.wait(60000));
        // At once, with no tick between.
        QCOMPARE(caption(w), Idle);
        QVERIFY(!timer(w)->isActive());
        const QString notFound =
            QStringLiteral("Host not found: no-such-host.invalid. Nothing can be sent until "
                           "the connection is opened again with another host.");
        QCOMPARE(w.entries().constLast(), body({QStringLiteral("*** Error ***"), notFound, unsent,
                                                QStringLiteral("File sending stopped.")}));
    }

    void peerLeavesTheServerWhileSending_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("rest");
        QTest::newRow("a middle line")
            << QByteArray("L1\r\nL2\r\nL3\r\nL4\r\n") << QByteArray("L2\r\nL3\r\nL4\r\n");
        QTest::newRow("the last line") << QByteArray("L1\r\nL2\r\n") << QByteArray("L2\r\n");
    }

    void peerLeavesTheServerWhileSending()
    {
        // Serving with the close box unchecked, the window listens again when
        // the peer leaves and the timer runs on into a failed send. The line
        // of that tick waits for the next start instead of being lost.
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, rest);
        Window w;
        w.find<CheckBox>("chkShow")->setValue(0);
        const quint16 port = listen(w);
        QVERIFY(port != 0);

        QTcpSocket first;
        QByteArray firstGot;
        connect(&first, &QTcpSocket::readyRead, &first, [&] {
            firstGot += first.readAll();
            if (firstGot == "L1\r\n")
                first.disconnectFromHost();
        });
        first.connectToHost(QHostAddress::LocalHost, port);
        QTRY_VERIFY(w->isConnected());

        open(w, m_files.write(file));
        setInterval(w, QStringLiteral("100000"));
        clickSend(w);
        tick(w);
        QTRY_COMPARE(w.socket()->State(), int(SocketControl::sckListening));
        QVERIFY(w->isConnected());
        // Stopped at once, as for a client, saying where.
        QVERIFY(!timer(w)->isActive());
        QTRY_COMPARE(caption(w), Idle);
        QCOMPARE(w.entries().constLast(),
                 body({QStringLiteral("*** Error ***"), QStringLiteral("The connection ended after line 1."),
                       QStringLiteral("File sending stopped.")}));
        QVERIFY(w->isFileOpen());
        QCOMPARE(firstGot, QByteArray("L1\r\n"));

        // The next peer gets nothing it did not ask for.
        QTcpSocket second;
        QByteArray secondGot;
        connect(&second, &QTcpSocket::readyRead, &second, [&] { secondGot += second.readAll(); });
        second.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE(w.socket()->State(), int(SocketControl::sckConnected));
        QVERIFY(!timer(w)->isActive());
        QCOMPARE(w.socket()->traffic().bytesOut, 0);

        setInterval(w, QStringLiteral("10"));
        clickSend(w);
        QCOMPARE(caption(w), Sending);
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));
        QTRY_COMPARE(secondGot, rest);
    }

    void peerLeavesTheClientWhileSending()
    {
        // As a client the connection ends for good: the sending stops at
        // once and says at which line. After reconnecting, a start goes on
        // with the next line.
        Peer peer;
        Window w;
        w.find<CheckBox>("chkShow")->setValue(0);
        QVERIFY(connectTo(w, peer.port()));
        open(w, m_files.write("L1\r\nL2\r\nL3\r\n"));
        setInterval(w, QStringLiteral("100000"));
        peer.onData = [&](int index) {
            if (peer.received.at(index) == "L1\r\n")
                peer.connections.at(index)->disconnectFromHost();
        };
        clickSend(w);
        tick(w);
        QTRY_VERIFY(!w->isConnected());
        QVERIFY(!timer(w)->isActive());
        QTRY_COMPARE(caption(w), Idle);
        QCOMPARE(w.entries().constLast(),
                 body({QStringLiteral("*** Error ***"), QStringLiteral("The connection ended after line 1."),
                       QStringLiteral("File sending stopped.")}));
        QCOMPARE(w.entries().at(w.entries().size() - 2), entry(QStringLiteral("Server port closed.")));
        QVERIFY(w->isFileOpen());

        peer.onData = nullptr;
        QVERIFY(connectTo(w, peer.port()));
        setInterval(w, QStringLiteral("10"));
        clickSend(w);
        QVERIFY(waitForEntry(w, entry(QStringLiteral("Completed."))));
        QTRY_COMPARE(peer.received.size(), 2);
        QTRY_COMPARE(peer.received.at(1), QByteArray("L2\r\nL3\r\n"));
        QCOMPARE(peer.received.at(0), QByteArray("L1\r\n"));
    }

    void interval_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("refusal"); // empty when the timer takes the value

        QTest::newRow("plain number") << "1000"
                                      << "1000"
                                      << "";
        QTest::newRow("no number") << "abc"
                                   << "0"
                                   << "";
        QTest::newRow("unit after digits") << "250ms"
                                           << "250"
                                           << "";
        QTest::newRow("exponent") << "1e3"
                                  << "1000"
                                  << "";
        QTest::newRow("hexadecimal") << "&H10"
                                     << "16"
                                     << "";
        QTest::newRow("largest the timer takes") << "2147483647"
                                                 << "2147483647"
                                                 << "";
        QTest::newRow("negative") << "-5"
                                  << "-5"
                                  << "Invalid property value";
        QTest::newRow("beyond 32 bits") << "3000000000"
                                        << "3000000000"
                                        << "Overflow";
    }

    void interval()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(QString, refusal);

        Peer peer;
        Window w;
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QVERIFY(connectTo(w, peer.port()));
        const QString path = m_files.write("a\r\nb\r\n");
        open(w, path);

        // The box shows the number once the focus leaves it.
        auto* box = w.find<QLineEdit>("txtInterval");
        box->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(box->hasFocus());
        box->setText(typed);
        w.find<QPushButton>("cmdSendFile")->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(box->text(), shown);

        const qsizetype before = w.entries().size();
        clickSend(w);
        if (refusal.isEmpty()) {
            QCOMPARE(caption(w), Sending);
            QVERIFY(timer(w)->isActive());
            QCOMPARE(QString::number(timer(w)->interval()), shown);
            clickSend(w);
            QCOMPARE(caption(w), Idle);
        } else {
            QCOMPARE(
                w.entries().mid(before),
                QStringList({entry(QStringLiteral("Sending File: ") + path),
                             body({QStringLiteral("Error"), refusal, QStringLiteral("cmdSendFile_Click")})}));
            QCOMPARE(caption(w), Start);
            QVERIFY(!timer(w)->isActive());
            QVERIFY(w->isFileOpen());
        }
    }

    void intervalChangeWaitsForTheNextStart()
    {
        Peer peer;
        Window w;
        QVERIFY(connectTo(w, peer.port()));
        open(w, m_files.write("a\r\n"));
        setInterval(w, QStringLiteral("5000"));
        clickSend(w);
        setInterval(w, QStringLiteral("10"));
        QCOMPARE(timer(w)->interval(), 5000);
        clickSend(w);
        clickSend(w);
        QCOMPARE(timer(w)->interval(), 10);
    }

    // The dialog layer itself, with Qt's own file dialog.
    void realDialogChoosesAFile()
    {
        const QString path = m_files.write("x");
        CommonDialog dialog;
        dialog.setDialogTitle(QStringLiteral("Select File..."));
        dialog.setFilter(QStringLiteral("All Files (*)"));
        dialog.setFileName(path);
        QString title;
        QString preselected;
        answerDialog([&](QFileDialog* d) {
            title = d->windowTitle();
            preselected = d->selectedFiles().value(0);
            static_cast<QDialog*>(d)->accept();
        });
        dialog.ShowOpen();
        QCOMPARE(title, QStringLiteral("Select File..."));
        QCOMPARE(preselected, path);
        QCOMPARE(dialog.FileName(), path);
    }

    void realDialogCancel()
    {
        CommonDialog dialog;
        dialog.setFileName(m_files.folder() + QLatin1Char('/'));
        answerDialog([](QFileDialog* d) { d->reject(); });
        try {
            dialog.ShowOpen();
            QFAIL("no cancel reported");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), KvErr::DialogCancel);
        }
        QCOMPARE(dialog.FileName(), m_files.folder() + QLatin1Char('/'));
    }

    void realDialogRefusesAPresetInAGoneFolder()
    {
        CommonDialog dialog;
        dialog.setFileName(m_files.path(QStringLiteral("gone/lines.txt")));
        bool shown = false;
        answerDialog([&](QFileDialog* d) {
            shown = true;
            d->reject();
        });
        try {
            dialog.ShowOpen();
            QFAIL("the preset was taken");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), KvErr::DialogBadFileName);
        }
        QVERIFY(!shown);
    }

    void openButtonRetriesWithTheRealDialog()
    {
        Window w;
        const QString path = m_files.write("x");
        w.fileDialog()->setBackend(CommonDialog::defaultBackend());
        w.fileDialog()->setFileName(m_files.path(QStringLiteral("gone/lines.txt")));
        int shown = 0;
        answerDialog([&](QFileDialog* d) {
            ++shown;
            d->selectFile(path);
            static_cast<QDialog*>(d)->accept();
        });
        w.find<QPushButton>("cmdOpen")->click();
        QCOMPARE(shown, 1);
        QVERIFY(w->isFileOpen());
        QCOMPARE(w.fileDialog()->FileName(), path);
    }

private:
    // Runs `answer` on the next file dialog that opens modally.
    void answerDialog(std::function<void(QFileDialog*)> answer)
    {
        auto* poll = new QTimer(this);
        poll->setObjectName(QStringLiteral("dialogAnswer"));
        poll->setInterval(10);
        connect(poll, &QTimer::timeout, this, [poll, answer] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                poll->stop();
                poll->deleteLater();
                answer(d);
            }
        });
        poll->start();
    }
};

KELVANE_TEST_MAIN(TestFileSend)
#include "tst_filesend.moc"
