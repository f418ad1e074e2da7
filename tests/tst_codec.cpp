#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "send/Codec.h"

#include <QtTest>

namespace {

QByteArray bytes(const QByteArray& b)
{
    return b;
}

// Every byte value in turn, repeated up to the size asked for.
QByteArray sampleBytes(qsizetype size)
{
    QByteArray s(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        s[i] = char((i * 7 + i / 256) & 0xFF);
    return s;
}

// A copy that shares no data with the original, so a write through the
// argument could not go unnoticed.
QByteArray deepCopy(const QByteArray& s)
{
    return QByteArray(s.constData(), s.size());
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void asciiToHex_data();
    void asciiToHex();
    void wideCharactersNeverReachTheCodec();
    void hexToByte_data();
    void hexToByte();
    void hexToAscii_data();
    void hexToAscii();
    void insertSeparator_data();
    void insertSeparator();
    void parseHexLine_data();
    void parseHexLine();
    void parseHexLineUnclosedQuote_data();
    void parseHexLineUnclosedQuote();
    void readHexLine_data();
    void readHexLine();
    void spacedHex_data();
    void spacedHex();
    void largePayloadsRoundTrip_data();
    void largePayloadsRoundTrip();
    void everyByteValueRoundTrips();
    void argumentsAreLeftUnchanged();
};

void TestCodec::asciiToHex_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("hex");

    QTest::newRow("empty text") << QByteArray() << QByteArray();
    QTest::newRow("letters JK") << QByteArrayLiteral("JK") << QByteArrayLiteral("4A4B");
    QTest::newRow("code 10 keeps its leading zero") << bytes("\x0a") << QByteArrayLiteral("0A");
    QTest::newRow("code 0") << bytes(QByteArray(1, '\0')) << QByteArrayLiteral("00");
    QTest::newRow("code 255") << bytes("\xff") << QByteArrayLiteral("FF");
    QTest::newRow("Latin-1 letter") << bytes("\xe9") << QByteArrayLiteral("E9");
    QTest::newRow("line with CR LF") << bytes("AB\r\n") << QByteArrayLiteral("41420D0A");
}

void TestCodec::asciiToHex()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, hex);
    QCOMPARE(AsciiToHex(text), hex);
}

void TestCodec::wideCharactersNeverReachTheCodec()
{
    // Cutting U+20AC down to 0xAC would send a byte the user never typed: text
    // becomes the codec's bytes whole or not at all.
    try {
        Latin1::toBytes(QStringLiteral(u"A\u20acB"));
        QFAIL("a character above U+00FF was converted");
    } catch (const KvError& e) {
        QCOMPARE(e.number(), KvErr::NotOneByte);
        QVERIFY2(e.description().contains(QLatin1String("U+20AC")), qPrintable(e.description()));
    }
    QCOMPARE(SpacedHex(Latin1::toBytes(QStringLiteral(u"\u00e9\u00ff"))), QByteArrayLiteral("E9 FF"));
}

void TestCodec::hexToByte_data()
{
    QTest::addColumn<QByteArray>("pair");
    QTest::addColumn<int>("byte");

    QTest::newRow("upper-case pair") << QByteArrayLiteral("4A") << 0x4A;
    QTest::newRow("lower-case pair") << QByteArrayLiteral("4a") << 0x4A;
    QTest::newRow("FF") << QByteArrayLiteral("FF") << 0xFF;
    QTest::newRow("ff") << QByteArrayLiteral("ff") << 0xFF;
    QTest::newRow("00") << QByteArrayLiteral("00") << 0x00;
    QTest::newRow("lone digit is doubled") << QByteArrayLiteral("7") << 0x77;
    QTest::newRow("lone letter is doubled") << QByteArrayLiteral("A") << 0xAA;
    QTest::newRow("lone lower-case letter") << QByteArrayLiteral("c") << 0xCC;
    QTest::newRow("lone non-digit") << QByteArrayLiteral("Z") << 0;
    QTest::newRow("invalid high digit") << QByteArrayLiteral("G4") << 0;
    QTest::newRow("zero then invalid low digit") << QByteArrayLiteral("0G") << 0;
    QTest::newRow("valid high then invalid low: 4G") << QByteArrayLiteral("4G") << 0x3F;
    QTest::newRow("valid high then invalid low: AZ") << QByteArrayLiteral("AZ") << 0x9F;
    QTest::newRow("both invalid") << QByteArrayLiteral("XY") << 0;
    QTest::newRow("empty text") << QByteArray() << 0;
    QTest::newRow("only the last two characters count") << QByteArrayLiteral("12AB") << 0xAB;
    QTest::newRow("byte above 7F is a non-digit") << bytes("4\xc1") << 0x3F;
    QTest::newRow("space is a non-digit") << QByteArrayLiteral("5 ") << 0x4F;
}

void TestCodec::hexToByte()
{
    QFETCH(QByteArray, pair);
    QFETCH(int, byte);
    QCOMPARE(int(HexToByte(pair)), byte);
}

void TestCodec::hexToAscii_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("empty text") << QByteArray() << QByteArray();
    QTest::newRow("two pairs") << QByteArrayLiteral("4A4B") << bytes("\x4a\x4b");
    QTest::newRow("lower-case digits") << QByteArrayLiteral("0d0a") << bytes("\r\n");
    QTest::newRow("odd length doubles the last digit") << QByteArrayLiteral("414") << bytes("\x41\x44");
    QTest::newRow("single digit") << QByteArrayLiteral("F") << bytes("\xff");
    QTest::newRow("zero byte") << QByteArrayLiteral("00") << bytes(QByteArray(1, '\0'));
    QTest::newRow("separators are not skipped")
        << QByteArrayLiteral("41 42") << bytes(QByteArray("\x41\0\x22", 3));
    QTest::newRow("invalid digits decode by the byte rules")
        << QByteArrayLiteral("G44G") << bytes(QByteArray("\0\x3f", 2));
}

void TestCodec::hexToAscii()
{
    QFETCH(QByteArray, hex);
    QFETCH(QByteArray, payload);
    QCOMPARE(HexToAscii(hex), payload);
}

void TestCodec::insertSeparator_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("groupSize");
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<QByteArray>("result");

    const QByteArray space = QByteArrayLiteral(" ");
    QTest::newRow("pairs with a space")
        << QByteArrayLiteral("4A4B4C4D") << 2 << space << QByteArrayLiteral("4A 4B 4C 4D");
    QTest::newRow("pairs four at a time, then one by one")
        << QByteArrayLiteral("0123456789ABCDEF") << 2 << space
        << QByteArrayLiteral("01 23 45 67 89 AB CD EF");
    QTest::newRow("odd length ends with a short group")
        << QByteArrayLiteral("414") << 2 << space << QByteArrayLiteral("41 4");
    QTest::newRow("text as long as the group")
        << QByteArrayLiteral("414") << 3 << space << QByteArrayLiteral("414");
    QTest::newRow("text shorter than the group")
        << QByteArrayLiteral("414") << 5 << space << QByteArrayLiteral("414");
    QTest::newRow("group size 0") << QByteArrayLiteral("4A4B") << 0 << space << QByteArrayLiteral("4A4B");
    QTest::newRow("group size -1") << QByteArrayLiteral("4A4B") << -1 << space << QByteArrayLiteral("4A4B");
    QTest::newRow("empty text") << QByteArray() << 2 << space << QByteArray();
    QTest::newRow("group size 1") << QByteArrayLiteral("abc") << 1 << QByteArrayLiteral("-")
                                  << QByteArrayLiteral("a-b-c");
    QTest::newRow("pairs with a hyphen, four at a time")
        << QByteArrayLiteral("0123456789") << 2 << QByteArrayLiteral("-")
        << QByteArrayLiteral("01-23-45-67-89");
    QTest::newRow("separator of several characters")
        << QByteArrayLiteral("4A4B4C") << 2 << QByteArrayLiteral(", ") << QByteArrayLiteral("4A, 4B, 4C");
    QTest::newRow("empty separator") << QByteArrayLiteral("4A4B") << 2 << QByteArray()
                                     << QByteArrayLiteral("4A4B");
    QTest::newRow("multiple of the group: no trailing separator")
        << QByteArrayLiteral("ABCDEF") << 3 << QByteArrayLiteral("|") << QByteArrayLiteral("ABC|DEF");
}

void TestCodec::insertSeparator()
{
    QFETCH(QByteArray, text);
    QFETCH(int, groupSize);
    QFETCH(QByteArray, separator);
    QFETCH(QByteArray, result);
    QCOMPARE(InsertSeparator(text, groupSize, separator), result);
}

void TestCodec::parseHexLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("empty line") << QByteArray() << QByteArray();
    QTest::newRow("hyphen, full stop and space are ignored")
        << QByteArrayLiteral("41-42.43 44") << bytes("\x41\x42\x43\x44");
    QTest::newRow("hex, quoted text, hex") << QByteArrayLiteral("41 42 \"hi\" 0D 0A")
                                           << bytes("AB"
                                                    "hi"
                                                    "\r\n");
    QTest::newRow("only two quotes") << QByteArrayLiteral("\"\"") << QByteArray();
    QTest::newRow("four quotes") << QByteArrayLiteral("\"\"\"\"") << QByteArray();
    QTest::newRow("adjacent literals drop the quotes") << QByteArrayLiteral("\"a\"\"b\"") << bytes("ab");
    QTest::newRow("spaces inside quotes stay") << QByteArrayLiteral(" 41 \" x y \" 42 ") << bytes("A x y B");
    QTest::newRow("ignored characters inside quotes stay") << QByteArrayLiteral("\"-.\"") << bytes("-.");
    QTest::newRow("comma is not removed") << QByteArrayLiteral("41,42") << bytes(QByteArray("\x41\0\x22", 3));
    QTest::newRow("tab is not removed") << QByteArrayLiteral("41\t42") << bytes(QByteArray("\x41\0\x22", 3));
    QTest::newRow("pairs form across removed characters") << QByteArrayLiteral("4 A4 B") << bytes("\x4a\x4b");
    QTest::newRow("three removed characters inside a pair") << QByteArrayLiteral("4 - A") << bytes("\x4a");
    QTest::newRow("two spaces inside a pair") << QByteArrayLiteral("4  1") << bytes("\x41");
    QTest::newRow("removed characters inside each pair") << QByteArrayLiteral("4..1 -4-.2") << bytes("AB");
    QTest::newRow("odd digit count ends each hex part doubled")
        << QByteArrayLiteral("4\"x\"5") << bytes("\x44x\x55");
    QTest::newRow("lower-case digits") << QByteArrayLiteral("ff 0d") << bytes("\xff\r");
    QTest::newRow("only ignored characters") << QByteArrayLiteral(" .-. ") << QByteArray();
    QTest::newRow("literal at the end") << QByteArrayLiteral("41\"a\"") << bytes("Aa");
    QTest::newRow("a quote is sent as 22") << QByteArrayLiteral("22 \"q\" 22") << bytes("\"q\"");
    QTest::newRow("literal keeps Latin-1 characters") << bytes("\"\xe9\xff\"") << bytes("\xe9\xff");
    // Digits are decoded in blocks of 65,536: here each block ends on the high digit of a pair.
    QTest::newRow("odd digit carried over block ends")
        << "4" + QByteArrayLiteral(" 15").repeated(100000) << "A" + QByteArray(99999, 'Q') + "U";
}

void TestCodec::parseHexLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, payload);
    QCOMPARE(ParseHexLine(line), payload);
    QCOMPARE(ReadHexLine(QString::fromLatin1(line)).bytes, payload.size());
}

void TestCodec::parseHexLineUnclosedQuote_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("one quote") << QByteArrayLiteral("41 \"abc");
    QTest::newRow("only a quote") << QByteArrayLiteral("\"");
    QTest::newRow("three quotes") << QByteArrayLiteral("\"a\" 41 \"b");
    QTest::newRow("quote at the end") << QByteArrayLiteral("41 42\"");
    QTest::newRow("five quotes") << QByteArrayLiteral("\"\"\"\"\"");
}

void TestCodec::parseHexLineUnclosedQuote()
{
    QFETCH(QByteArray, line);
    try {
        const QByteArray payload = ParseHexLine(line);
        QFAIL("no error, payload " + SpacedHex(payload));
    } catch (const KvError& e) {
        QCOMPARE(e.number(), 512);
        QCOMPARE(e.description(), QStringLiteral("Unclosed quotion mark"));
    }
}

void TestCodec::readHexLine_data()
{
    QTest::addColumn<QString>("line");
    // Its doubt (0 none, 1 not hex, 2 odd digits, 3 unclosed quote, 4 not one
    // byte), the bytes sent, and the place: where, what, read as which byte.
    QTest::addColumn<QString>("reading");

    QTest::newRow("pair across ignored ones")
        << QStringLiteral("4 - A \"hi\"") << QStringLiteral("0 3 -1  0");
    QTest::newRow("GG reads as 00") << QStringLiteral("48 GG") << QStringLiteral("1 2 3 GG 0");
    QTest::newRow("4 G reads as 3F") << QStringLiteral("41 4 G") << QStringLiteral("1 2 3 4G 3f");
    QTest::newRow("tab; later bytes count") << QStringLiteral("41\t42") << QStringLiteral("1 3 2 \t4 0");
    QTest::newRow("odd digit count") << QStringLiteral("41 42 4 43") << QStringLiteral("2 4 9 3 33");
    QTest::newRow("the first place wins") << QStringLiteral("4\"x\"4G") << QStringLiteral("2 3 0 4 44");
    QTest::newRow("third quote unclosed") << QStringLiteral("\"a\" 4G \"b") << QStringLiteral("3 0 7 \" 0");
    QTest::newRow("no single byte first")
        << QStringLiteral(u"\"\U0001F600") << QStringLiteral(u"4 0 1 \U0001F600 0");
}

void TestCodec::readHexLine()
{
    QFETCH(QString, line);
    const HexLineReading r = ReadHexLine(line);
    QTEST(QStringLiteral("%1 %2 %3 %4 %5")
              .arg(QString::number(r.doubt), QString::number(r.bytes), QString::number(r.at), r.characters,
                   QString::number(r.readsAs, 16)),
          "reading");
}

void TestCodec::spacedHex_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("spaced");

    QTest::newRow("empty payload") << QByteArray() << QByteArray();
    QTest::newRow("one byte has no space") << bytes("\x0a") << QByteArrayLiteral("0A");
    QTest::newRow("line with CR LF") << bytes("AB\r\n") << QByteArrayLiteral("41 42 0D 0A");
    QTest::newRow("zero and 255") << bytes(QByteArray("\0\xff", 2)) << QByteArrayLiteral("00 FF");
}

void TestCodec::spacedHex()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, spaced);
    QCOMPARE(SpacedHex(payload), spaced);
    QCOMPARE(SpacedHex(payload), InsertSeparator(AsciiToHex(payload), 2, QByteArrayLiteral(" ")));
}

void TestCodec::largePayloadsRoundTrip_data()
{
    QTest::addColumn<int>("size");

    // 16,384 bytes is where a 16-bit length count would give out.
    QTest::newRow("16,383 bytes") << 16383;
    QTest::newRow("16,384 bytes") << 16384;
    QTest::newRow("100,000 bytes") << 100000;
}

void TestCodec::largePayloadsRoundTrip()
{
    QFETCH(int, size);
    const QByteArray payload = sampleBytes(size);

    const QByteArray spaced = SpacedHex(payload);
    QCOMPARE(spaced.size(), qsizetype(3) * size - 1);
    QCOMPARE(spaced, InsertSeparator(AsciiToHex(payload), 2, QByteArrayLiteral(" ")));
    QCOMPARE(ParseHexLine(spaced), payload);

    const QByteArray hex = AsciiToHex(payload);
    QCOMPARE(hex.size(), qsizetype(2) * size);
    QCOMPARE(HexToAscii(hex), payload);
}

void TestCodec::everyByteValueRoundTrips()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b) {
        all[b] = char(b);
        const QByteArray hex = AsciiToHex(QByteArray(1, char(b)));
        QCOMPARE(hex, QByteArray::number(b, 16).toUpper().rightJustified(2, '0'));
        QCOMPARE(int(HexToByte(hex)), b);
        QCOMPARE(int(HexToByte(hex.toLower())), b);
    }
    QCOMPARE(HexToAscii(AsciiToHex(all)), all);
    QCOMPARE(ParseHexLine(SpacedHex(all)), all);
    QCOMPARE(ParseHexLine(SpacedHex(all).toLower()), all);
}

void TestCodec::argumentsAreLeftUnchanged()
{
    const QByteArray line = QByteArrayLiteral("41-42 \"a b\" 4");
    const QByteArray hex = QByteArrayLiteral("4a4B4");
    const QByteArray separator = QByteArrayLiteral(", ");
    QByteArray lineArg = deepCopy(line);
    QByteArray hexArg = deepCopy(hex);
    QByteArray separatorArg = deepCopy(separator);

    ParseHexLine(lineArg);
    HexToAscii(hexArg);
    HexToByte(hexArg);
    AsciiToHex(lineArg);
    SpacedHex(lineArg);
    InsertSeparator(hexArg, 2, separatorArg);
    InsertSeparator(hexArg, 0, separatorArg);

    QCOMPARE(lineArg, line);
    QCOMPARE(hexArg, hex);
    QCOMPARE(separatorArg, separator);
}

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
