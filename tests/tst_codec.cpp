#include "platform/KvError.h"
#include "send/Codec.h"

#include <QtTest>

namespace {

QString bytes(const QByteArray& b)
{
    return QString::fromLatin1(b);
}

// Every byte value in turn, repeated up to the size asked for.
QString sampleString(qsizetype size)
{
    QString s(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        s[i] = QChar(char16_t((i * 7 + i / 256) & 0xFF));
    return s;
}

// A copy that shares no data with the original, so a write through the
// argument could not go unnoticed.
QString deepCopy(const QString& s)
{
    return QString(s.constData(), s.size());
}

} // namespace

class TestCodec : public QObject
{
    Q_OBJECT

private slots:
    void asciiToHex_data();
    void asciiToHex();
    void asciiToHexRejectsWideCharacters();
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
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hex");

    QTest::newRow("empty text") << QString() << QString();
    QTest::newRow("letters JK") << QStringLiteral("JK") << QStringLiteral("4A4B");
    QTest::newRow("code 10 keeps its leading zero") << bytes("\x0a") << QStringLiteral("0A");
    QTest::newRow("code 0") << bytes(QByteArray(1, '\0')) << QStringLiteral("00");
    QTest::newRow("code 255") << bytes("\xff") << QStringLiteral("FF");
    QTest::newRow("Latin-1 letter") << QStringLiteral(u"\u00e9") << QStringLiteral("E9");
    QTest::newRow("line with CR LF") << bytes("AB\r\n") << QStringLiteral("41420D0A");
}

void TestCodec::asciiToHex()
{
    QFETCH(QString, text);
    QFETCH(QString, hex);
    QCOMPARE(AsciiToHex(text), hex);
}

void TestCodec::asciiToHexRejectsWideCharacters()
{
    // Cutting U+20AC down to 0xAC would send a byte the user never typed.
    const QString text = QStringLiteral(u"A\u20acB");
    for (auto convert : {&AsciiToHex, &SpacedHex}) {
        try {
            convert(text);
            QFAIL("a character above U+00FF was converted");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), KvErr::NotOneByte);
            QVERIFY2(e.description().contains(QLatin1String("U+20AC")), qPrintable(e.description()));
        }
    }
}

void TestCodec::hexToByte_data()
{
    QTest::addColumn<QString>("pair");
    QTest::addColumn<int>("byte");

    QTest::newRow("upper-case pair") << QStringLiteral("4A") << 0x4A;
    QTest::newRow("lower-case pair") << QStringLiteral("4a") << 0x4A;
    QTest::newRow("FF") << QStringLiteral("FF") << 0xFF;
    QTest::newRow("ff") << QStringLiteral("ff") << 0xFF;
    QTest::newRow("00") << QStringLiteral("00") << 0x00;
    QTest::newRow("lone digit is doubled") << QStringLiteral("7") << 0x77;
    QTest::newRow("lone letter is doubled") << QStringLiteral("A") << 0xAA;
    QTest::newRow("lone lower-case letter") << QStringLiteral("c") << 0xCC;
    QTest::newRow("lone non-digit") << QStringLiteral("Z") << 0;
    QTest::newRow("invalid high digit") << QStringLiteral("G4") << 0;
    QTest::newRow("zero then invalid low digit") << QStringLiteral("0G") << 0;
    QTest::newRow("valid high then invalid low: 4G") << QStringLiteral("4G") << 0x3F;
    QTest::newRow("valid high then invalid low: AZ") << QStringLiteral("AZ") << 0x9F;
    QTest::newRow("both invalid") << QStringLiteral("XY") << 0;
    QTest::newRow("empty text") << QString() << 0;
    QTest::newRow("only the last two characters count") << QStringLiteral("12AB") << 0xAB;
    QTest::newRow("wide character is a non-digit") << QStringLiteral(u"4\uff21") << 0x3F;
    QTest::newRow("space is a non-digit") << QStringLiteral("5 ") << 0x4F;
}

void TestCodec::hexToByte()
{
    QFETCH(QString, pair);
    QFETCH(int, byte);
    QCOMPARE(int(HexToByte(pair)), byte);
}

void TestCodec::hexToAscii_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("payload");

    QTest::newRow("empty text") << QString() << QString();
    QTest::newRow("two pairs") << QStringLiteral("4A4B") << bytes("\x4a\x4b");
    QTest::newRow("lower-case digits") << QStringLiteral("0d0a") << bytes("\r\n");
    QTest::newRow("odd length doubles the last digit") << QStringLiteral("414") << bytes("\x41\x44");
    QTest::newRow("single digit") << QStringLiteral("F") << bytes("\xff");
    QTest::newRow("zero byte") << QStringLiteral("00") << bytes(QByteArray(1, '\0'));
    QTest::newRow("separators are not skipped")
        << QStringLiteral("41 42") << bytes(QByteArray("\x41\0\x22", 3));
    QTest::newRow("invalid digits decode by the byte rules")
        << QStringLiteral("G44G") << bytes(QByteArray("\0\x3f", 2));
}

void TestCodec::hexToAscii()
{
    QFETCH(QString, hex);
    QFETCH(QString, payload);
    QCOMPARE(HexToAscii(hex), payload);
}

void TestCodec::insertSeparator_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("groupSize");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("result");

    const QString space = QStringLiteral(" ");
    QTest::newRow("pairs with a space")
        << QStringLiteral("4A4B4C4D") << 2 << space << QStringLiteral("4A 4B 4C 4D");
    QTest::newRow("odd length ends with a short group")
        << QStringLiteral("414") << 2 << space << QStringLiteral("41 4");
    QTest::newRow("text as long as the group")
        << QStringLiteral("414") << 3 << space << QStringLiteral("414");
    QTest::newRow("text shorter than the group")
        << QStringLiteral("414") << 5 << space << QStringLiteral("414");
    QTest::newRow("group size 0") << QStringLiteral("4A4B") << 0 << space << QStringLiteral("4A4B");
    QTest::newRow("group size -1") << QStringLiteral("4A4B") << -1 << space << QStringLiteral("4A4B");
    QTest::newRow("empty text") << QString() << 2 << space << QString();
    QTest::newRow("group size 1") << QStringLiteral("abc") << 1 << QStringLiteral("-")
                                  << QStringLiteral("a-b-c");
    QTest::newRow("separator of several characters")
        << QStringLiteral("4A4B4C") << 2 << QStringLiteral(", ") << QStringLiteral("4A, 4B, 4C");
    QTest::newRow("empty separator") << QStringLiteral("4A4B") << 2 << QString() << QStringLiteral("4A4B");
    QTest::newRow("multiple of the group: no trailing separator")
        << QStringLiteral("ABCDEF") << 3 << QStringLiteral("|") << QStringLiteral("ABC|DEF");
}

void TestCodec::insertSeparator()
{
    QFETCH(QString, text);
    QFETCH(int, groupSize);
    QFETCH(QString, separator);
    QFETCH(QString, result);
    QCOMPARE(InsertSeparator(text, groupSize, separator), result);
}

void TestCodec::parseHexLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("payload");

    QTest::newRow("empty line") << QString() << QString();
    QTest::newRow("hyphen, full stop and space are ignored")
        << QStringLiteral("41-42.43 44") << bytes("\x41\x42\x43\x44");
    QTest::newRow("hex, quoted text, hex") << QStringLiteral("41 42 \"hi\" 0D 0A")
                                           << bytes("AB"
                                                    "hi"
                                                    "\r\n");
    QTest::newRow("only two quotes") << QStringLiteral("\"\"") << QString();
    QTest::newRow("four quotes") << QStringLiteral("\"\"\"\"") << QString();
    QTest::newRow("adjacent literals drop the quotes") << QStringLiteral("\"a\"\"b\"") << bytes("ab");
    QTest::newRow("spaces inside quotes stay") << QStringLiteral(" 41 \" x y \" 42 ") << bytes("A x y B");
    QTest::newRow("ignored characters inside quotes stay") << QStringLiteral("\"-.\"") << bytes("-.");
    QTest::newRow("comma is not removed") << QStringLiteral("41,42") << bytes(QByteArray("\x41\0\x22", 3));
    QTest::newRow("tab is not removed") << QStringLiteral("41\t42") << bytes(QByteArray("\x41\0\x22", 3));
    QTest::newRow("pairs form across removed characters") << QStringLiteral("4 A4 B") << bytes("\x4a\x4b");
    QTest::newRow("three removed characters inside a pair") << QStringLiteral("4 - A") << bytes("\x4a");
    QTest::newRow("two spaces inside a pair") << QStringLiteral("4  1") << bytes("\x41");
    QTest::newRow("removed characters inside each pair") << QStringLiteral("4..1 -4-.2") << bytes("AB");
    QTest::newRow("odd digit count ends each hex part doubled")
        << QStringLiteral("4\"x\"5") << bytes("\x44x\x55");
    QTest::newRow("lower-case digits") << QStringLiteral("ff 0d") << bytes("\xff\r");
    QTest::newRow("only ignored characters") << QStringLiteral(" .-. ") << QString();
    QTest::newRow("literal at the end") << QStringLiteral("41\"a\"") << bytes("Aa");
    QTest::newRow("a quote is sent as 22") << QStringLiteral("22 \"q\" 22") << bytes("\"q\"");
    QTest::newRow("literal keeps Latin-1 characters")
        << QStringLiteral(u"\"\u00e9\u00ff\"") << QStringLiteral(u"\u00e9\u00ff");
}

void TestCodec::parseHexLine()
{
    QFETCH(QString, line);
    QFETCH(QString, payload);
    QCOMPARE(ParseHexLine(line), payload);
    QCOMPARE(ReadHexLine(line).bytes, payload.size());
}

void TestCodec::parseHexLineUnclosedQuote_data()
{
    QTest::addColumn<QString>("line");

    QTest::newRow("one quote") << QStringLiteral("41 \"abc");
    QTest::newRow("only a quote") << QStringLiteral("\"");
    QTest::newRow("three quotes") << QStringLiteral("\"a\" 41 \"b");
    QTest::newRow("quote at the end") << QStringLiteral("41 42\"");
    QTest::newRow("five quotes") << QStringLiteral("\"\"\"\"\"");
}

void TestCodec::parseHexLineUnclosedQuote()
{
    QFETCH(QString, line);
    try {
        const QString payload = ParseHexLine(line);
        QFAIL(qPrintable(QStringLiteral("no error, payload %1").arg(SpacedHex(payload))));
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
    QTest::addColumn<QString>("payload");
    QTest::addColumn<QString>("spaced");

    QTest::newRow("empty payload") << QString() << QString();
    QTest::newRow("one byte has no space") << bytes("\x0a") << QStringLiteral("0A");
    QTest::newRow("line with CR LF") << bytes("AB\r\n") << QStringLiteral("41 42 0D 0A");
    QTest::newRow("zero and 255") << bytes(QByteArray("\0\xff", 2)) << QStringLiteral("00 FF");
}

void TestCodec::spacedHex()
{
    QFETCH(QString, payload);
    QFETCH(QString, spaced);
    QCOMPARE(SpacedHex(payload), spaced);
    QCOMPARE(SpacedHex(payload), InsertSeparator(AsciiToHex(payload), 2, QStringLiteral(" ")));
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
    const QString payload = sampleString(size);

    const QString spaced = SpacedHex(payload);
    QCOMPARE(spaced.size(), qsizetype(3) * size - 1);
    QCOMPARE(spaced, InsertSeparator(AsciiToHex(payload), 2, QStringLiteral(" ")));
    QCOMPARE(ParseHexLine(spaced), payload);

    const QString hex = AsciiToHex(payload);
    QCOMPARE(hex.size(), qsizetype(2) * size);
    QCOMPARE(HexToAscii(hex), payload);
}

void TestCodec::everyByteValueRoundTrips()
{
    QString all(256, Qt::Uninitialized);
    for (int b = 0; b < 256; ++b) {
        all[b] = QChar(char16_t(b));
        const QString hex = AsciiToHex(QString(QChar(char16_t(b))));
        QCOMPARE(hex, QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0')));
        QCOMPARE(int(HexToByte(hex)), b);
        QCOMPARE(int(HexToByte(hex.toLower())), b);
    }
    QCOMPARE(HexToAscii(AsciiToHex(all)), all);
    QCOMPARE(ParseHexLine(SpacedHex(all)), all);
    QCOMPARE(ParseHexLine(SpacedHex(all).toLower()), all);
}

void TestCodec::argumentsAreLeftUnchanged()
{
    const QString line = QStringLiteral("41-42 \"a b\" 4");
    const QString hex = QStringLiteral("4a4B4");
    const QString separator = QStringLiteral(", ");
    QString lineArg = deepCopy(line);
    QString hexArg = deepCopy(hex);
    QString separatorArg = deepCopy(separator);

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
