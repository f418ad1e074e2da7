#include "testdata.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "send/Codec.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"
#include "ui/LogView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

using TestSupport::body;
using TestSupport::entryBodies;

namespace {

constexpr int Timeout = 10000;

QByteArray allByteValues()
{
    QByteArray bytes(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

// One normal-view entry taken apart: count and sender from the header line,
// then "Data:", the text (which may hold line breaks) and the dump.
struct Arrival
{
    qint32 count = -1;
    QString sender;
    QString text;
    QString dump;
    bool wellFormed = false;
};

Arrival parseArrival(const QString& entry)
{
    static const QRegularExpression header(
        QStringLiteral("^(-?\\d+) bytes received from ([^\r\n]*)\r\nData:\r\n"));
    Arrival a;
    const auto m = header.match(entry);
    if (!m.hasMatch() || !entry.endsWith(QLatin1String("\r\n")))
        return a;
    const QString rest = entry.mid(m.capturedEnd()).chopped(2);
    const qsizetype lastBreak = rest.lastIndexOf(QLatin1String("\r\n"));
    if (lastBreak < 0)
        return a;
    a.count = m.captured(1).toInt();
    a.sender = m.captured(2);
    a.text = rest.left(lastBreak);
    a.dump = rest.mid(lastBreak + 2);
    a.wellFormed = true;
    return a;
}

} // namespace

class TestReceived : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void normalViewEntry();
    void showsEveryByteThatArrived_data();
    void showsEveryByteThatArrived();
    void everyByteLooksTheSameInEveryPlace();
    void switchingViewsBetweenArrivals();
    void flatViewCaret_data();
    void flatViewCaret();
    void droppedDatagramsAreLogged();
    void dataThatCannotBeShownIsCounted_data();
    void dataThatCannotBeShownIsCounted();

private:
    void connectWindow();
    void setFlat(int value) { w->find<ToggleButton>(QStringLiteral("chkFlat"))->setValue(value); }
    LogView* logBox() const { return w->logBox(); }
    QList<Arrival> arrivals() const;
    qint64 countShown() const;

    std::unique_ptr<TestSupport::Window> w;
    std::unique_ptr<QTcpServer> server;
    QTcpSocket* peer = nullptr;
};

void TestReceived::init()
{
    TestSupport::clearSettings();
    w = std::make_unique<TestSupport::Window>();
    server = std::make_unique<QTcpServer>();
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    connectWindow();
}

void TestReceived::cleanup()
{
    w.reset();
    server.reset();
    peer = nullptr;
}

void TestReceived::connectWindow()
{
    TestSupport::clickConnect(*w, 1, 0, QString::number(server->serverPort()));
    QTRY_VERIFY_WITH_TIMEOUT(server->hasPendingConnections(), Timeout);
    peer = server->nextPendingConnection();
    QTRY_VERIFY_WITH_TIMEOUT(w->form->isConnected(), Timeout);
    logBox()->clear();
}

QList<Arrival> TestReceived::arrivals() const
{
    QList<Arrival> list;
    for (const QString& entry : entryBodies(logBox()->text()))
        list.append(parseArrival(entry));
    return list;
}

qint64 TestReceived::countShown() const
{
    qint64 sum = 0;
    for (const Arrival& a : arrivals())
        sum += a.wellFormed ? a.count : 0;
    return sum;
}

void TestReceived::normalViewEntry()
{
    setFlat(0);
    peer->write("ABC");
    QTRY_VERIFY_WITH_TIMEOUT(!logBox()->text().isEmpty(), Timeout);
    QCOMPARE(entryBodies(logBox()->text()),
             QStringList{body({"3 bytes received from 127.0.0.1", "Data:", "ABC", "41 42 43"})});
}

void TestReceived::showsEveryByteThatArrived_data()
{
    QTest::addColumn<int>("flat");
    QTest::addColumn<QByteArray>("bytes");

    const QList<std::pair<const char*, QByteArray>> data = {
        {"text with CR LF", QByteArray("first line\r\nsecond line\r\n")},
        {"NUL bytes", QByteArray("a\0b\0\0c", 6)},
        {"all 256 byte values", allByteValues()},
        {"20000 bytes", TestData::pattern(20000)},
    };
    for (const auto& [name, bytes] : data) {
        QTest::addRow("normal view, %s", name) << 0 << bytes;
        QTest::addRow("flat view, %s", name) << 1 << bytes;
    }
    QTest::addRow("greyed flat box is the normal view") << 2 << QByteArray("xyz");
}

void TestReceived::showsEveryByteThatArrived()
{
    QFETCH(int, flat);
    QFETCH(QByteArray, bytes);

    setFlat(flat);
    QSignalSpy arrivalsSpy(w->socket(), &SocketControl::dataArrival);
    peer->write(bytes);
    const QString sent = QString::fromLatin1(bytes);

    if (flat == 1) {
        // Raw, NUL kept, nothing added.
        QTRY_VERIFY_WITH_TIMEOUT(logBox()->length() >= bytes.size(), Timeout);
        QCOMPARE(logBox()->text(), sent);
        return;
    }

    // One write may come in several reads; together they must show it all.
    QTRY_COMPARE_WITH_TIMEOUT(countShown(), qint64(bytes.size()), Timeout);
    const QList<Arrival> shown = arrivals();
    QCOMPARE(shown.size(), arrivalsSpy.count());
    QString text;
    QStringList dumps;
    for (int i = 0; i < shown.size(); ++i) {
        const Arrival& a = shown.at(i);
        QVERIFY2(a.wellFormed, qPrintable(QStringLiteral("entry %1 is not an arrival").arg(i)));
        QCOMPARE(a.sender, QStringLiteral("127.0.0.1"));
        QCOMPARE(a.count, arrivalsSpy.at(i).at(0).toInt());
        QCOMPARE(a.text.size(), qsizetype(a.count));
        text += a.text;
        dumps += a.dump;
    }
    QCOMPARE(text, sent);
    QCOMPARE(dumps.join(QLatin1Char(' ')), QString::fromLatin1(SpacedHex(bytes)));
}

// Sent as a HEX line and shown in the "Sent:" entry; sent back by the peer in
// the normal view, then in the flat view. Each value stands in the same column
// in the three places, so its cells must be drawn pixel for pixel alike.
void TestReceived::everyByteLooksTheSameInEveryPlace()
{
    const QByteArray bytes = allByteValues();
    const QString text = QString::fromLatin1(bytes);
    w->find<OptionButton>(QStringLiteral("optMode1"))->click();
    w->find<LineBox>(QStringLiteral("txtLine"))->setText(QString::fromLatin1(SpacedHex(bytes)));
    w->find<QPushButton>(QStringLiteral("cmdSend1"))->click();
    QTRY_COMPARE_WITH_TIMEOUT(peer->bytesAvailable(), qint64(256), Timeout);
    setFlat(0);
    peer->write(peer->readAll());
    QTRY_COMPARE_WITH_TIMEOUT(countShown(), qint64(256), Timeout);
    setFlat(1);
    const qsizetype flatAt = logBox()->length();
    peer->write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(logBox()->length(), flatAt + 256, Timeout);

    const QString log = logBox()->text();
    const qsizetype places[] = {log.indexOf(QLatin1String("Sent:\r\n")) + 7,
                                log.indexOf(QLatin1String("Data:\r\n")) + 7, flatAt};
    for (qsizetype place : places)
        QCOMPARE(log.mid(place, 256), text);
    logBox()->resize(3000, 1000); // every row and column in view
    const QImage shown = logBox()->viewport()->grab().toImage();
    auto cell = [&](qsizetype place, int byte) { return shown.copy(logBox()->cellRect(place + byte)); };
    for (int byte = 0; byte < 256; ++byte)
        QVERIFY2(byte == '\n' || (cell(places[0], byte) == cell(places[1], byte) &&
                                  cell(places[0], byte) == cell(places[2], byte)),
                 qPrintable(QString::number(byte, 16)));
    // Nor is a byte 00 drawn as 3F or as a blank.
    QVERIFY(cell(flatAt, 0) != cell(flatAt, '?') && cell(flatAt, 0) != cell(flatAt, ' '));
}

void TestReceived::switchingViewsBetweenArrivals()
{
    setFlat(0);
    peer->write("one\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(countShown(), qint64(5), Timeout);
    const QString afterFirst = logBox()->text();

    setFlat(1);
    peer->write("two");
    QTRY_VERIFY_WITH_TIMEOUT(logBox()->text().endsWith(QLatin1String("two")), Timeout);
    QVERIFY(logBox()->text().startsWith(afterFirst));

    setFlat(0);
    peer->write("four");
    QTRY_COMPARE_WITH_TIMEOUT(entryBodies(logBox()->text()).size(), 2, Timeout);

    // The flat data follows the first entry's final CR LF directly; the next
    // entry starts with its own CR LF right after the data.
    const QString log = logBox()->text();
    QVERIFY(log.startsWith(afterFirst + QLatin1String("two\r\n<")));
    QCOMPARE(entryBodies(log),
             (QStringList{body({"5 bytes received from 127.0.0.1", "Data:", "one\r\n", "6F 6E 65 0D 0A"}) +
                              QStringLiteral("two"),
                          body({"4 bytes received from 127.0.0.1", "Data:", "four", "66 6F 75 72"})}));
}

void TestReceived::flatViewCaret_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qsizetype>("caret");

    QTest::newRow("empty log, no line break: at the end") << "" << QByteArray("abc") << qsizetype(3);
    QTest::newRow("log without line breaks: at the end") << "abc" << QByteArray("def") << qsizetype(6);
    QTest::newRow("data ending in CR LF: at the end") << "" << QByteArray("abc\r\n") << qsizetype(5);
    QTest::newRow("line break inside the data") << "" << QByteArray("ab\r\ncd") << qsizetype(4);
    QTest::newRow("after earlier lines, no break in the data") << "first\r\n"
                                                               << QByteArray("tail") << qsizetype(7);
    QTest::newRow("CR in the log, LF in the data") << "abc\r" << QByteArray("\nxyz") << qsizetype(5);
    QTest::newRow("lone CR and LF are no line break") << "a\r\nb" << QByteArray("\rc\nd") << qsizetype(3);
}

void TestReceived::flatViewCaret()
{
    QFETCH(QString, before);
    QFETCH(QByteArray, bytes);
    QFETCH(qsizetype, caret);

    setFlat(1);
    logBox()->setText(before);
    peer->write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(logBox()->length(), before.size() + bytes.size(), Timeout);
    QCOMPARE(logBox()->text(), before + QString::fromLatin1(bytes));
    QCOMPARE(logBox()->caretPosition(), caret);
}

void TestReceived::droppedDatagramsAreLogged()
{
    if (!TestSupport::SystemReader)
        QSKIP("Only the system's reader counts what the system drops; tst_connectioncontrol checks the "
              "entry that says so");
    // A UDP peer that keeps next to nothing waiting, with the smallest socket buffer.
    w->find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    SocketControl* socket = w->socket();
    socket->setDatagramQueueLimit(1);
    setFlat(0);
    TestSupport::clickConnect(*w, 0, 1, QStringLiteral("9"));
    QVERIFY(w->form->isConnected());
    socket->findChild<QUdpSocket*>()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1);
    logBox()->clear();

    // The window is paused while they are sent: most cannot be kept.
    const int sent = 200;
    QUdpSocket sender;
    for (int i = 0; i < sent; ++i) {
        QCOMPARE(sender.writeDatagram(TestData::pattern(1000), QHostAddress::LocalHost,
                                      quint16(socket->LocalPort())),
                 qint64(1000));
    }

    static const QRegularExpression dropEntry(
        QStringLiteral("^(\\d+) datagrams were dropped before they could be read\r\n$"));
    int shown = 0;
    int dropped = 0;
    int dropEntries = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            shown = dropped = dropEntries = 0;
            for (const QString& entry : entryBodies(logBox()->text())) {
                const auto m = dropEntry.match(entry);
                if (m.hasMatch()) {
                    dropped += m.captured(1).toInt();
                    ++dropEntries;
                } else if (parseArrival(entry).count == 1000) {
                    ++shown;
                }
            }
            return shown + dropped == sent;
        }(),
        Timeout);
    QVERIFY(dropped > 0);
    QVERIFY(dropEntries >= 1);
}

void TestReceived::dataThatCannotBeShownIsCounted_data()
{
    QTest::addColumn<int>("flat");
    QTest::addColumn<QString>("expected");
    QTest::newRow("flat view") << 1 << "Out of memory: 5 bytes received were not shown.";
    // The entry fails as a whole; what it would have held is counted.
    QTest::newRow("normal view") << 0 << "Out of memory: an entry of 55 characters was not written.";
}

void TestReceived::dataThatCannotBeShownIsCounted()
{
    QFETCH(int, flat);
    QFETCH(QString, expected);
    setFlat(flat);
    logBox()->setText(QStringLiteral("before"));
    dynamic_cast<LogView*>(logBox())->store().failNextAllocations(1, 0);
    QSignalSpy arrivalsSpy(w->socket(), &SocketControl::dataArrival);
    peer->write("ABCDE");
    QVERIFY(arrivalsSpy.wait(Timeout));
    QCOMPARE(arrivalsSpy.at(0).at(0).toInt(), 5);
    QVERIFY(logBox()->text().startsWith(QLatin1String("before\r\n<")));
    QCOMPARE(entryBodies(logBox()->text()), QStringList{expected + QStringLiteral("\r\n")});
}

KELVANE_TEST_MAIN(TestReceived)
#include "tst_received.moc"
