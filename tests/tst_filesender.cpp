// The file sender on its own, over a real socket control and a loopback peer:
// pacing by the connection, "Completed." only once all has left the program,
// lines longer than a piece, and lines too large for a datagram.

#include "loopback.h"
#include "testdata.h"

#include "net/SocketControl.h"
#include "send/FileSender.h"
#include "ui/SocketSendLink.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

namespace {

constexpr int LongTimeout = 60000;

const QString Completed = QStringLiteral("Completed.");

// A line of the given length with every byte value but CR and LF.
QByteArray oneLine(qsizetype size)
{
    QByteArray line = TestData::pattern(size);
    for (char& c : line) {
        if (c == '\r' || c == '\n')
            c = 'x';
    }
    return line;
}

// A sender over a socket control, keeping what it reports.
struct Rig
{
    SocketControl control;
    FileSender sender{std::make_unique<SocketSendLink>(&control)};
    QList<QStringList> entries;
    // What waited inside the program when "Completed." was reported; -1 before.
    qint64 waitingAtCompletion = -1;
    qint64 mostWaiting = 0;

    Rig()
    {
        QObject::connect(&sender, &FileSender::report, &sender, [this](const QStringList& items) {
            entries.append(items);
            if (items == QStringList{Completed})
                waitingAtCompletion = control.bytesToWrite();
        });
        // The lines sent, as bytes, in their place among the other entries.
        QObject::connect(&sender, &FileSender::sent, &sender, [this](const QByteArrayList& items) {
            QStringList texts;
            for (const QByteArray& item : items)
                texts.append(QString::fromLatin1(item));
            entries.append(texts);
        });
        QObject::connect(&control, &SocketControl::bytesWritten, &sender, &FileSender::linkDrained);
        // Sampled after every tick, when it is at its highest.
        auto sample = [this] { mostWaiting = qMax(mostWaiting, control.bytesToWrite()); };
        QObject::connect(sender.timer(), &QTimer::timeout, &sender, sample);
        QObject::connect(&control, &SocketControl::bytesWritten, &sender, sample);
    }

    // Sending over UDP to a loopback peer.
    bool overUdpTo(QUdpSocket& peer)
    {
        control.setProtocol(SocketControl::UdpProtocol);
        control.setRemotePort(peer.bind(QHostAddress::LocalHost, 0) ? peer.localPort() : 0);
        control.Connect();
        return peer.localPort() != 0;
    }

    bool completed() const { return !entries.isEmpty() && entries.constLast() == QStringList{Completed}; }
};

} // namespace

class TestFileSender : public QObject
{
    Q_OBJECT

private:
    TestData::TempFiles m_files;

private slots:
    void pacedByAPeerThatPauses()
    {
        Rig rig;
        rig.sender.setShowSent(false);
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(rig.control, server);
        QVERIFY(peer);
        // The peer reads nothing for now; once the kernel's buffers are full,
        // whatever is sent waits inside the program.
        peer->setReadBufferSize(1024);

        QByteArray file;
        QByteArray expected;
        for (int i = 0; file.size() < 32 * 1024 * 1024; ++i) {
            const QByteArray line = QByteArray::number(i).leftJustified(998, '.');
            file += line + '\n';
            expected += line + "\r\n";
        }
        rig.sender.open(m_files.write(file));
        rig.sender.start(QStringLiteral("0"), true);

        QTRY_VERIFY(rig.control.bytesToWrite() >= FileSender::MaxWaitingBytes);
        // While it waits, interval 0 no longer spins; a few more ticks find
        // the connection full and send nothing.
        QVERIFY(rig.sender.timer()->interval() > 0);
        QSignalSpy ticks(rig.sender.timer(), &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 3);
        QVERIFY(rig.mostWaiting < FileSender::MaxWaitingBytes + 1000);
        QVERIFY(!rig.completed());
        QVERIFY(rig.sender.isRunning());

        QByteArray received;
        peer->setReadBufferSize(0);
        connect(peer, &QTcpSocket::readyRead, peer, [&] { received += peer->readAll(); });
        received += peer->readAll();
        QTRY_VERIFY_WITH_TIMEOUT(rig.completed(), LongTimeout);
        QCOMPARE(rig.waitingAtCompletion, 0);
        QVERIFY(!rig.sender.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), LongTimeout);
        QVERIFY(received == expected);
        QVERIFY(rig.mostWaiting < FileSender::MaxWaitingBytes + 1000);
    }

    void completedOnlyOnceAllHasLeft()
    {
        Rig rig;
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(rig.control, server);
        QVERIFY(peer);
        rig.sender.open(m_files.write("A\nB\n"));
        rig.sender.start(QStringLiteral("100000"), true);
        // Ticks back to back: the lines are still inside the program when the
        // end of the file is found.
        for (int i = 0; i < 3; ++i)
            QVERIFY(QMetaObject::invokeMethod(rig.sender.timer(), "timeout"));
        QVERIFY(rig.control.bytesToWrite() > 0);
        QVERIFY(!rig.completed());
        QVERIFY(rig.sender.isRunning());
        // It comes as soon as they have gone, not a whole interval later.
        QTRY_VERIFY(rig.completed());
        QCOMPARE(rig.waitingAtCompletion, 0);
        QByteArray received;
        QTRY_COMPARE((received += peer->readAll()), QByteArray("A\r\nB\r\n"));
    }

    void longLineOverTcpByteForByte()
    {
        Rig rig;
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(rig.control, server);
        QVERIFY(peer);
        QByteArray received;
        connect(peer, &QTcpSocket::readyRead, peer, [&] { received += peer->readAll(); });

        const QByteArray line = oneLine(3 * FileSender::PieceBytes + 12345);
        rig.sender.open(m_files.write("a\n" + line + "\r\nz"));
        rig.sender.start(QStringLiteral("0"), true);
        QTRY_VERIFY_WITH_TIMEOUT(rig.completed(), LongTimeout);
        const QByteArray expected = "a\r\n" + line + "\r\nz\r\n";
        QTRY_COMPARE(received.size(), expected.size());
        QVERIFY(received == expected);
        QVERIFY(rig.mostWaiting <= FileSender::MaxWaitingBytes + FileSender::PieceBytes + 2);

        // Each piece has an entry of its own that says where it stands in
        // its line; together the entries show exactly the bytes sent.
        const QList<QStringList> sent = rig.entries.mid(2, rig.entries.size() - 3);
        QCOMPARE(sent.size(), 6);
        QCOMPARE(sent.at(0), QStringList{QStringLiteral("Sent :a\r\n")});
        QCOMPARE(sent.at(5), QStringList{QStringLiteral("Sent :z\r\n")});
        static_assert(FileSender::PieceBytes == 256 * 1024, "the labels below count in 256 KB pieces");
        const QStringList labels = {QStringLiteral("Sent :"),
                                    QStringLiteral("Sent (line 2 from byte 262,145) :"),
                                    QStringLiteral("Sent (line 2 from byte 524,289) :"),
                                    QStringLiteral("Sent (line 2 from byte 786,433) :")};
        QByteArray shown;
        for (int i = 0; i < labels.size(); ++i) {
            const QString item = sent.at(i + 1).value(0);
            QVERIFY2(item.startsWith(labels.at(i)), qPrintable(item.left(40)));
            shown += item.mid(labels.at(i).size()).toLatin1();
        }
        QVERIFY(shown == line + "\r\n");
    }

    void savedBeforeTheFirstLine_data()
    {
        QTest::addColumn<int>("save"); // in place, a new file put in its place, deleted
        QTest::addColumn<QString>("sent");
        QTest::newRow("written in place") << 0 << "newer\r\n";
        QTest::newRow("a new file put in its place") << 1 << "newer\r\n";
        QTest::newRow("deleted: sent as it was opened") << 2 << "old\r\n";
    }

    void savedBeforeTheFirstLine()
    {
        QFETCH(int, save);
        QFETCH(QString, sent);
        Rig rig;
        QUdpSocket peer;
        QVERIFY(rig.overUdpTo(peer));
        const QString path = m_files.write("old\n");
        rig.sender.open(path);
        QFile file(path);
        QVERIFY(save == 0 ? file.open(QIODevice::WriteOnly) && file.write("newer\n") == 6
                          : file.remove() && (save == 2 || QFile::rename(m_files.write("newer\n"), path)));
        file.close();

        rig.sender.start(QStringLiteral("0"), true);
        QTRY_VERIFY(rig.completed());
        QList<QStringList> expected{{"Sent :" + sent}, {Completed}};
        if (save != 2)
            expected.prepend(
                {QStringLiteral("The file changed after it was opened; it is sent as it is now.")});
        QCOMPARE(rig.entries.mid(2), expected);
    }

    void datagramTooLargeIsSkipped_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("one byte over a datagram with its CR LF") << 65506;
        QTest::newRow("longer than a piece") << int(3 * FileSender::PieceBytes + 10);
    }

    void datagramTooLargeIsSkipped()
    {
        QFETCH(int, size);
        Rig rig;
        QUdpSocket peer;
        QVERIFY(rig.overUdpTo(peer));

        rig.sender.open(m_files.write("short 1\n" + oneLine(size) + "\nshort 2\n"));
        rig.sender.start(QStringLiteral("0"), true);
        QTRY_VERIFY(!rig.sender.isRunning());
        const QStringList failure = {
            QStringLiteral("*** Error ***"),
            QStringLiteral("Line 2 does not fit in one datagram: at most 65,507 bytes "
                           "fit. It is skipped."),
            QStringLiteral("File sending stopped.")};
        QCOMPARE(rig.entries.constLast(), failure);

        // The next start goes on with the line after it, and reports it no more.
        rig.sender.start(QStringLiteral("0"), true);
        QTRY_VERIFY_WITH_TIMEOUT(rig.completed(), LongTimeout);
        QCOMPARE(rig.entries.count(failure), 1);
        QList<QByteArray> datagrams;
        QTRY_VERIFY(peer.hasPendingDatagrams());
        while (datagrams.size() < 2 && QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }))
            datagrams.append(peer.receiveDatagram().data());
        QCOMPARE(datagrams, QList<QByteArray>({"short 1\r\n", "short 2\r\n"}));
    }
};

QTEST_GUILESS_MAIN(TestFileSender)
#include "tst_filesender.moc"
