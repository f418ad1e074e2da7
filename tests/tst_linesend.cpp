#include "testdata.h"
#include "testsupport.h"

#include "net/SocketControl.h"
#include "send/Codec.h"
#include "ui/Controls.h"
#include "ui/LineBox.h"
#include "ui/LogView.h"

#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using TestSupport::body;
using TestSupport::entryBodies;

namespace {

constexpr int Timeout = 10000;

// Sent after a case that must send nothing: the peer then holds exactly the
// marker, which shows that nothing went out before it.
const QByteArray Marker = QByteArrayLiteral("#marker#");

QString euroText()
{
    return QString(QChar(0x20AC));
}

QString refusal(const QString& shown, const QString& code)
{
    return QStringLiteral("Character '%1' (U+%2) has no single-byte code; nothing was sent.")
        .arg(shown, code);
}

} // namespace

class TestLineSend : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sendsTheBytesTyped_data();
    void sendsTheBytesTyped();
    void refusedLineSendsNothing_data();
    void refusedLineSendsNothing();
    void notConnectedOnlySaysSo_data();
    void notConnectedOnlySaysSo();
    void selectsTheLineAfterASend_data();
    void selectsTheLineAfterASend();
    void enterInTheLineBoxSends();
    void pastedMegabyteLineSendsEveryByte();
    void modeSwitchSetsTheCrLfBox();
    void informationLineReadsTheHexLine_data();
    void informationLineReadsTheHexLine();

private:
    void connectWindow();
    void setMode(bool hex);
    void send(const QString& line);
    // Waits until the peer holds the marker and gives what came before it.
    QByteArray receivedBeforeMarker();
    QString log() const { return w->logBox()->text(); }

    LineBox* txtLine() const { return w->find<LineBox>(QStringLiteral("txtLine")); }
    CheckBox* chkAppenCrLf() const { return w->find<CheckBox>(QStringLiteral("chkAppenCrLf")); }
    CheckBox* chkShow() const { return w->find<CheckBox>(QStringLiteral("chkShow")); }
    QLabel* info() const { return w->find<QLabel>(QStringLiteral("lblInfo")); }

    std::unique_ptr<TestSupport::Window> w;
    std::unique_ptr<QTcpServer> server;
    QTcpSocket* peer = nullptr;
    QByteArray fromWindow;
};

void TestLineSend::init()
{
    TestSupport::clearSettings();
    w = std::make_unique<TestSupport::Window>();
    server = std::make_unique<QTcpServer>();
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    peer = nullptr;
    fromWindow.clear();
}

void TestLineSend::cleanup()
{
    w.reset();
    server.reset();
    peer = nullptr;
}

void TestLineSend::connectWindow()
{
    TestSupport::clickConnect(*w, 1, 0, QString::number(server->serverPort()));
    QTRY_VERIFY_WITH_TIMEOUT(server->hasPendingConnections(), Timeout);
    peer = server->nextPendingConnection();
    connect(peer, &QTcpSocket::readyRead, this, [this] { fromWindow += peer->readAll(); });
    QTRY_VERIFY_WITH_TIMEOUT(w->form->isConnected(), Timeout);
}

void TestLineSend::setMode(bool hex)
{
    w->find<OptionButton>(hex ? QStringLiteral("optMode1") : QStringLiteral("optMode0"))->click();
}

void TestLineSend::send(const QString& line)
{
    txtLine()->setText(line);
    w->find<QPushButton>(QStringLiteral("cmdSend1"))->click();
}

QByteArray TestLineSend::receivedBeforeMarker()
{
    setMode(false);
    chkAppenCrLf()->setValue(0);
    chkShow()->setValue(0);
    send(QString::fromLatin1(Marker));
    if (!QTest::qWaitFor([this] { return fromWindow.endsWith(Marker); }, Timeout))
        return QByteArrayLiteral("<marker never arrived>") + fromWindow;
    return fromWindow.chopped(Marker.size());
}

void TestLineSend::sendsTheBytesTyped_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<int>("crLf"); // the box's value set after the mode, -1 to leave it
    QTest::addColumn<int>("show");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QStringList>("entry"); // the items as the log shows them; none for no entry

    const QString latin = QStringLiteral("caf\u00e9 \u00ff\u0080");
    QTest::newRow("ascii, CR LF box checked")
        << false << 1 << 1 << "hello" << QByteArray("hello\r\n") << QStringList{"Sent:", "hello\r\n"};
    QTest::newRow("ascii, CR LF box unchecked")
        << false << 0 << 1 << "hello" << QByteArray("hello") << QStringList{"Sent:", "hello"};
    QTest::newRow("ascii, CR LF box greyed still appends")
        << false << 2 << 0 << "hi" << QByteArray("hi\r\n") << QStringList{};
    QTest::newRow("ascii, empty line with CR LF")
        << false << 1 << 1 << "" << QByteArray("\r\n") << QStringList{"Sent:", "\r\n"};
    QTest::newRow("ascii, empty line without CR LF sends nothing")
        << false << 0 << 1 << "" << QByteArray() << QStringList{"Sent:", ""};
    QTest::newRow("ascii, Latin-1 characters are one byte each")
        << false << 0 << 1 << latin << QByteArray("caf\xe9 \xff\x80") << QStringList{"Sent:", latin};
    QTest::newRow("ascii, show box greyed logs nothing")
        << false << 1 << 2 << "x" << QByteArray("x\r\n") << QStringList{};
    QTest::newRow("hex, literal between pairs")
        << true << -1 << 1 << "48 49 \"!\" 0D 0A" << QByteArray("HI!\r\n")
        << QStringList{"Sent:", "HI!\r\n", "48 49 21 0D 0A"};
    QTest::newRow("hex, ignored separators")
        << true << -1 << 0 << "41-42.43 44" << QByteArray("ABCD") << QStringList{};
    QTest::newRow("hex, lower case digits and a spaced literal")
        << true << -1 << 1 << "4a \"a b\" 4B" << QByteArray("Ja bK")
        << QStringList{"Sent:", "Ja bK", "4A 61 20 62 4B"};
    QTest::newRow("hex, NUL and high bytes")
        << true << -1 << 1 << "00 7F 80 FF" << QByteArray("\x00\x7f\x80\xff", 4)
        << QStringList{"Sent:", QString::fromLatin1("\x00\x7f\x80\xff", 4), "00 7F 80 FF"};
    QTest::newRow("hex, CR LF box checked from code is ignored")
        << true << 1 << 0 << "41" << QByteArray("A") << QStringList{};
    QTest::newRow("hex, empty line sends nothing")
        << true << -1 << 1 << "" << QByteArray() << QStringList{"Sent:", "", ""};
    QTest::newRow("hex, only two quotes sends nothing")
        << true << -1 << 0 << "\"\"" << QByteArray() << QStringList{};
    QTest::newRow("hex, Latin-1 literal")
        << true << -1 << 0 << "\"\u00e9\"" << QByteArray("\xe9") << QStringList{};
}

void TestLineSend::sendsTheBytesTyped()
{
    QFETCH(bool, hex);
    QFETCH(int, crLf);
    QFETCH(int, show);
    QFETCH(QString, line);
    QFETCH(QByteArray, wire);
    QFETCH(QStringList, entry);

    connectWindow();
    setMode(hex);
    if (crLf >= 0)
        chkAppenCrLf()->setValue(crLf);
    chkShow()->setValue(show);
    w->logBox()->clear();

    send(line);

    const QStringList expected = entry.isEmpty() ? QStringList{} : QStringList{body(entry)};
    QCOMPARE(entryBodies(log()), expected);
    QCOMPARE(txtLine()->text(), line);
    QCOMPARE(receivedBeforeMarker(), wire);
}

void TestLineSend::refusedLineSendsNothing_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("description");

    const QString euro = euroText();
    const QString grin = QString::fromUcs4(U"\U0001F600", 1);
    const QString unclosed = QStringLiteral("Unclosed quotion mark");
    QTest::newRow("hex, one quote") << true << "41 \"x" << unclosed;
    QTest::newRow("hex, three quotes") << true << "\"a\" 42 \"b" << unclosed;
    QTest::newRow("ascii, euro sign") << false << "price 5" + euro << refusal(euro, "20AC");
    QTest::newRow("hex, euro sign in a literal") << true << "41 \"" + euro + "\"" << refusal(euro, "20AC");
    QTest::newRow("hex, euro sign outside quotes") << true << "41 " + euro + " 42" << refusal(euro, "20AC");
    QTest::newRow("ascii, character beyond 16 bits") << false << "a" + grin << refusal(grin, "1F600");
}

void TestLineSend::refusedLineSendsNothing()
{
    QFETCH(bool, hex);
    QFETCH(QString, line);
    QFETCH(QString, description);

    connectWindow();
    setMode(hex);
    chkShow()->setValue(1);
    txtLine()->setText(line);
    txtLine()->setSelection(1, 2);
    w->logBox()->clear();

    w->find<QPushButton>(QStringLiteral("cmdSend1"))->click();

    QCOMPARE(entryBodies(log()), QStringList{body({"Error", description})});
    QCOMPARE(txtLine()->selectionStart(), 1);
    QCOMPARE(txtLine()->selectedText(), line.mid(1, 2));
    QCOMPARE(receivedBeforeMarker(), QByteArray());
}

void TestLineSend::notConnectedOnlySaysSo_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("line");

    QTest::newRow("ascii line") << false << "hello";
    QTest::newRow("hex line with one quote") << true << "41 \"x";
    QTest::newRow("euro sign") << false << euroText();
}

void TestLineSend::notConnectedOnlySaysSo()
{
    QFETCH(bool, hex);
    QFETCH(QString, line);

    setMode(hex);
    chkShow()->setValue(1);
    w->logBox()->clear();
    send(line);

    QCOMPARE(entryBodies(log()), QStringList{body({"Not connected."})});
    QCOMPARE(txtLine()->selectedText(), line);
    QCOMPARE(txtLine()->text(), line);
}

void TestLineSend::selectsTheLineAfterASend_data()
{
    QTest::addColumn<int>("length");

    QTest::newRow("short line, all of it") << 10;
    QTest::newRow("999 characters, all of them") << 999;
    QTest::newRow("1000 characters, the first 999") << 1000;
    QTest::newRow("1500 characters, the first 999") << 1500;
}

void TestLineSend::selectsTheLineAfterASend()
{
    QFETCH(int, length);

    connectWindow();
    setMode(false);
    chkAppenCrLf()->setValue(0);
    chkShow()->setValue(0);
    QString line;
    for (int i = 0; i < length; ++i)
        line += QChar('a' + i % 26);
    txtLine()->setText(line);
    txtLine()->setSelection(3, 1);

    w->find<QPushButton>(QStringLiteral("cmdSend1"))->click();

    QCOMPARE(txtLine()->selectionStart(), 0);
    QCOMPARE(txtLine()->selectedText(), line.left(999));
    QCOMPARE(receivedBeforeMarker(), line.toLatin1());
}

void TestLineSend::enterInTheLineBoxSends()
{
    connectWindow();
    setMode(false);
    chkAppenCrLf()->setValue(1);
    chkShow()->setValue(0);
    txtLine()->setText(QStringLiteral("by enter"));
    QCOMPARE(w->form->defaultButton(), w->find<QPushButton>(QStringLiteral("cmdOpen")));

    w->form->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->form.get()));
    w->form->activateWindow();
    txtLine()->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(txtLine()->hasFocus());
    QCOMPARE(w->form->defaultButton(), w->find<QPushButton>(QStringLiteral("cmdSend1")));

    QSignalSpy clicks(w->find<QPushButton>(QStringLiteral("cmdSend1")), &QPushButton::clicked);
    QTest::keyClick(txtLine(), Qt::Key_Return);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(receivedBeforeMarker(), QByteArray("by enter\r\n"));
}

void TestLineSend::pastedMegabyteLineSendsEveryByte()
{
    connectWindow();
    setMode(true);
    chkShow()->setValue(0);
    // A megabyte of spaced hex, far past the 32,767 characters of a stock line box.
    const QByteArray payload = TestData::pattern(350000);
    QGuiApplication::clipboard()->setText(QString::fromLatin1(SpacedHex(payload)));
    txtLine()->setText(QString());
    QTest::keySequence(txtLine(), QKeySequence::Paste);
    QCOMPARE(txtLine()->text().size(), 3 * payload.size() - 1);
    QTRY_VERIFY(info()->text().endsWith(QStringLiteral(" out | HEX: 350,000 bytes")));

    w->find<QPushButton>(QStringLiteral("cmdSend1"))->click();
    QCOMPARE(receivedBeforeMarker(), payload);
}

void TestLineSend::modeSwitchSetsTheCrLfBox()
{
    setMode(false);
    chkAppenCrLf()->setValue(0);
    setMode(true);
    QCOMPARE(chkAppenCrLf()->value(), 0);
    QVERIFY(!chkAppenCrLf()->isEnabled());
    txtLine()->setText(QStringLiteral("41 42"));
    setMode(false);
    // Back in ASCII the box is checked again, even though it was unchecked before.
    QCOMPARE(chkAppenCrLf()->value(), 1);
    QVERIFY(chkAppenCrLf()->isEnabled());
    QCOMPARE(txtLine()->text(), QStringLiteral("41 42"));
}

void TestLineSend::informationLineReadsTheHexLine_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("shown"); // after "Not connected"

    QTest::newRow("not hex") << true << "48 GG 4G"
                             << " | HEX: 3 bytes; \"GG\" at column 4 is not hex, reads as 00";
    QTest::newRow("odd digits") << true << "4 41"
                                << " | HEX: 2 bytes; odd digit count, \"1\" at column 4 reads as 11";
    QTest::newRow("unclosed quote") << true << "41 \"x"
                                    << " | HEX: unclosed quote at column 4, nothing will be sent";
    QTest::newRow("no single byte") << true << "\"" + euroText() + "\""
                                    << " | HEX: \"" + euroText() +
                                           "\" at column 2 is not one byte, nothing will be sent";
    QTest::newRow("a tab shows as its code")
        << true << "41\t42"
        << " | HEX: 3 bytes; \"<09>4\" at column 3 is not hex, reads as 00";
    QTest::newRow("ASCII mode") << false << "48 GG"
                                << "";
}

void TestLineSend::informationLineReadsTheHexLine()
{
    QFETCH(bool, hex);
    QFETCH(QString, line);
    QFETCH(QString, shown);
    // An edit and a change of mode are each read again.
    setMode(true);
    txtLine()->setText(line);
    QTRY_VERIFY(info()->text().contains(QStringLiteral(" | HEX: ")));
    setMode(hex);
    QTRY_COMPARE(info()->text(), QStringLiteral("Not connected") + shown);
}

KELVANE_TEST_MAIN(TestLineSend)
#include "tst_linesend.moc"
