#include "log/LogText.h"

#include <QtTest>

namespace {

constexpr qsizetype Chunk = ChunkedText<char>::ChunkSize;

// Every Latin-1 character but LF, so lines break only where a test puts them.
QString filler(qsizetype length, int seed = 0)
{
    QString s(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i) {
        char16_t c = char16_t((i * 13 + seed) % 256);
        if (c == u'\n')
            c = u'n';
        s[i] = QChar(c);
    }
    return s;
}

// The text with the given characters written at the given places.
QString withAt(QString text, const QList<QPair<qsizetype, QString>>& marks)
{
    for (const auto& m : marks)
        text.replace(m.first, m.second.size(), m.second);
    return text;
}

// The text appended in pieces, then the suffix.
std::unique_ptr<LogText> fromPieces(const QString& text, qsizetype piece, const QString& suffix = QString())
{
    auto log = std::make_unique<LogText>();
    for (qsizetype i = 0; i < text.size(); i += piece)
        log->append(QStringView(text).mid(i, piece));
    log->append(suffix);
    return log;
}

} // namespace

class TestLogText : public QObject
{
    Q_OBJECT

private slots:
    void appendAcrossChunks_data();
    void appendAcrossChunks();
    void findsLineFeeds_data();
    void findsLineFeeds();
    void lastIndexOf_data();
    void lastIndexOf();
    void widensForCharactersBeyondLatin1();
    void replaceAcrossChunks_data();
    void replaceAcrossChunks();
    void setShrinksAndGrows();
};

void TestLogText::appendAcrossChunks_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<qsizetype>("piece");
    QTest::newRow("64 KB pieces fill chunks exactly") << 3 * Chunk << qsizetype(65536);
    QTest::newRow("odd pieces straddle chunk ends") << 2 * Chunk + 777 << qsizetype(333333);
    QTest::newRow("one piece of two and a half chunks") << 2 * Chunk + Chunk / 2 << 3 * Chunk;
    QTest::newRow("one character at a time near the end") << Chunk + 3 << qsizetype(1);
    QTest::newRow("a single character") << qsizetype(1) << qsizetype(1);
}

void TestLogText::appendAcrossChunks()
{
    QFETCH(qsizetype, length);
    QFETCH(qsizetype, piece);
    const QString text = filler(length);
    auto built = fromPieces(text.first(std::max<qsizetype>(0, length - 6)), piece);
    LogText& log = *built;
    // Single characters across the chunk end.
    for (qsizetype i = std::max<qsizetype>(0, length - 6); i < length; ++i)
        log.append(QStringView(text).mid(i, 1));
    QCOMPARE(log.size(), length);
    QVERIFY(!log.isWide());
    QVERIFY(log.toString() == text);
    for (qsizetype i : {qsizetype(0), Chunk - 1, Chunk, Chunk + 1, length - 1})
        if (i < length)
            QCOMPARE(log.at(i), text.at(i).unicode());
    const qsizetype from = std::max<qsizetype>(0, std::min(Chunk, length) - 5);
    QCOMPARE(log.mid(from, 10), text.mid(from, 10));
}

void TestLogText::findsLineFeeds_data()
{
    QTest::addColumn<QList<qsizetype>>("feeds");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("to");
    QTest::addColumn<qsizetype>("expected");
    QTest::newRow("last place of a chunk")
        << QList<qsizetype>{Chunk - 1} << qsizetype(0) << qsizetype(-1) << Chunk - 1;
    QTest::newRow("first place of a chunk")
        << QList<qsizetype>{Chunk} << qsizetype(10) << qsizetype(-1) << Chunk;
    QTest::newRow("found in a later chunk")
        << QList<qsizetype>{2 * Chunk + 5} << qsizetype(3) << qsizetype(-1) << 2 * Chunk + 5;
    QTest::newRow("search starts after one")
        << QList<qsizetype>{5, Chunk + 9} << qsizetype(6) << qsizetype(-1) << Chunk + 9;
    QTest::newRow("bounded before it")
        << QList<qsizetype>{Chunk + 9} << qsizetype(0) << Chunk + 9 << qsizetype(-1);
    QTest::newRow("none at all") << QList<qsizetype>{} << qsizetype(0) << qsizetype(-1) << qsizetype(-1);
    QTest::newRow("from past the end") << QList<qsizetype>{5} << 3 * Chunk << qsizetype(-1) << qsizetype(-1);
}

void TestLogText::findsLineFeeds()
{
    QFETCH(QList<qsizetype>, feeds);
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, to);
    QFETCH(qsizetype, expected);
    QString text = filler(2 * Chunk + 100);
    for (qsizetype f : feeds)
        text[f] = QLatin1Char('\n');
    QCOMPARE(fromPieces(text, 100000)->indexOfLf(from, to), expected);
    const auto wide = fromPieces(text, 100000, QString(QChar(0x20AC)));
    QVERIFY(wide->isWide());
    QCOMPARE(wide->indexOfLf(from, to), expected);
}

void TestLogText::lastIndexOf_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<QList<qsizetype>>("places");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("expected");
    const QString crlf = QStringLiteral("\r\n");
    QTest::newRow("cr lf across a chunk end")
        << 2 * Chunk << QList<qsizetype>{10, Chunk - 1} << crlf << Chunk - 1;
    QTest::newRow("cr lf right after a chunk end")
        << 2 * Chunk << QList<qsizetype>{Chunk - 2, Chunk} << crlf << Chunk;
    QTest::newRow("cr lf at the very end") << Chunk + 2 << QList<qsizetype>{3, Chunk} << crlf << Chunk;
    QTest::newRow("cr lf in an earlier chunk") << 3 * Chunk << QList<qsizetype>{7} << crlf << qsizetype(7);
    QTest::newRow("no cr lf in three chunks") << 3 * Chunk << QList<qsizetype>{} << crlf << qsizetype(-1);
    QTest::newRow("three characters, two in the next chunk")
        << 2 * Chunk << QList<qsizetype>{Chunk - 1} << QStringLiteral("\r\n\r") << Chunk - 1;
    QTest::newRow("needle longer than the text")
        << qsizetype(3) << QList<qsizetype>{} << QStringLiteral("abcd") << qsizetype(-1);
    QTest::newRow("needle beyond Latin-1")
        << Chunk << QList<qsizetype>{} << QString(QChar(0x20AC)) << qsizetype(-1);
}

void TestLogText::lastIndexOf()
{
    QFETCH(qsizetype, length);
    QFETCH(QList<qsizetype>, places);
    QFETCH(QString, needle);
    QFETCH(qsizetype, expected);
    // Filler without CR, then the needle's text written at each place.
    QString text = filler(length).replace(QLatin1Char('\r'), QLatin1Char('r'));
    QList<QPair<qsizetype, QString>> marks;
    for (qsizetype p : places)
        marks.append(
            {p, needle == QLatin1String("\r\n\r") ? QStringLiteral("\r\n\r") : QStringLiteral("\r\n")});
    text = withAt(text, marks);
    QCOMPARE(fromPieces(text, 65536)->lastIndexOf(needle), expected);
    QCOMPARE(fromPieces(text, 65536, QString(QChar(0x3A9)))->lastIndexOf(needle), expected);
}

void TestLogText::widensForCharactersBeyondLatin1()
{
    const QString head = filler(Chunk + 50);
    auto built = fromPieces(head, 40000);
    LogText& log = *built;
    QVERIFY(!log.isWide());
    const QString typed = QStringLiteral("x") + QChar(0x20AC) + QStringLiteral("\r\n");
    log.append(typed);
    QVERIFY(log.isWide());
    log.append(filler(Chunk));
    const QString expected = head + typed + filler(Chunk);
    QVERIFY(log.toString() == expected);
    QCOMPARE(log.at(Chunk + 51), char16_t(0x20AC));
    QCOMPARE(log.lastIndexOf(QString(QChar(0x20AC))), Chunk + 51);
    QCOMPARE(log.indexOfLf(Chunk), Chunk + 53);
    // A new text of Latin-1 only goes back to one byte a character.
    log.set(QStringLiteral("abc"));
    QVERIFY(!log.isWide());
    QCOMPARE(log.toString(), QStringLiteral("abc"));
}

void TestLogText::replaceAcrossChunks_data()
{
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("count");
    QTest::addColumn<QString>("with");
    QTest::newRow("insert at the start") << qsizetype(0) << qsizetype(0) << QStringLiteral("ab");
    QTest::newRow("remove across a chunk end") << Chunk - 3 << qsizetype(6) << QString();
    QTest::newRow("replace across a chunk end") << Chunk - 1 << qsizetype(2) << QStringLiteral("\r\n\r\n");
    QTest::newRow("insert beyond Latin-1") << Chunk + 1 << qsizetype(0) << QString(QChar(0x263A));
    QTest::newRow("remove everything") << qsizetype(0) << 2 * Chunk + 10 << QString();
    QTest::newRow("append at the end") << 2 * Chunk + 10 << qsizetype(0) << QStringLiteral("end");
}

void TestLogText::replaceAcrossChunks()
{
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, count);
    QFETCH(QString, with);
    QString text = filler(2 * Chunk + 10);
    auto built = fromPieces(text, 500000);
    LogText& log = *built;
    log.replace(from, count, with);
    text.replace(from, count, with);
    QCOMPARE(log.size(), text.size());
    QVERIFY(log.toString() == text);
}

void TestLogText::setShrinksAndGrows()
{
    LogText log;
    log.set(filler(3 * Chunk));
    log.set(QStringLiteral("short"));
    QCOMPARE(log.size(), 5);
    QCOMPARE(log.toString(), QStringLiteral("short"));
    log.append(filler(Chunk));
    QVERIFY(log.toString() == QStringLiteral("short") + filler(Chunk));
    log.set(QString());
    QVERIFY(log.isEmpty());
    QCOMPARE(log.indexOfLf(0), -1);
    QCOMPARE(log.lastIndexOf(QStringLiteral("\r\n")), -1);
}

QTEST_GUILESS_MAIN(TestLogText)
#include "tst_logtext.moc"
