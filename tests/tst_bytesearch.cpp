// Finding bytes in a block: the places either side of the blocks the
// portable search tests at once, and the matches it must not miss.

#include "platform/ByteSearch.h"

#include <QtTest>

class TestByteSearch : public QObject
{
    Q_OBJECT

private slots:
    void lastIndexOf_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("at"); // where the byte stands
        QTest::addColumn<int>("expected");
        QTest::newRow("none") << 100 << QList<int>{} << -1;
        QTest::newRow("empty block") << 0 << QList<int>{} << -1;
        QTest::newRow("first byte only") << 100 << QList<int>{0} << 0;
        QTest::newRow("last byte") << 100 << QList<int>{3, 99} << 99;
        QTest::newRow("blocks fit exactly: first byte of the last") << 96 << QList<int>{10, 64} << 64;
        QTest::newRow("first of the last whole block") << 100 << QList<int>{5, 68} << 68;
        QTest::newRow("just before the last whole block") << 100 << QList<int>{5, 67} << 67;
        QTest::newRow("in the part before all whole blocks") << 100 << QList<int>{1, 3} << 3;
        QTest::newRow("shorter than a block") << 7 << QList<int>{2, 6} << 6;
        QTest::newRow("two megabytes of a line after it") << (2 << 20) + 5 << QList<int>{1} << 1;
    }
    void lastIndexOf()
    {
        QFETCH(int, size);
        QFETCH(QList<int>, at);
        QFETCH(int, expected);
        // Bytes around the one looked for, the high ones too.
        QByteArray data(size, '\xff');
        for (int i = 0; i < size; ++i)
            data[i] = char(i % 251 == 10 ? 11 : i % 251);
        for (int i : at)
            data[i] = '\n';
        QCOMPARE(ByteSearch::lastIndexOf(data.constData(), data.size(), '\n'), qsizetype(expected));
    }

    void indexOf_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("needle");
        QTest::addColumn<int>("expected");
        QTest::newRow("at the start") << QByteArray("needle and hay") << QByteArray("needle") << 0;
        QTest::newRow("at the very end") << QByteArray("hay and needle") << QByteArray("needle") << 8;
        QTest::newRow("the first of two") << QByteArray("xneedleneedle") << QByteArray("needle") << 1;
        QTest::newRow("cut short by the block") << QByteArray("hay and needl") << QByteArray("needle") << -1;
        QTest::newRow("a near miss before it") << QByteArray("needlxneedle") << QByteArray("needle") << 6;
        QTest::newRow("high bytes") << QByteArray("\x01\xff\xfe\xff\xfe\xfd") << QByteArray("\xfe\xfd") << 4;
        QTest::newRow("NUL inside") << QByteArray("a\0b\0c", 5) << QByteArray("\0c", 2) << 3;
        QTest::newRow("longer than the block") << QByteArray("abc") << QByteArray("abcd") << -1;
    }
    void indexOf()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, needle);
        QFETCH(int, expected);
        QCOMPARE(ByteSearch::indexOf(data.constData(), data.size(), needle.constData(), needle.size()),
                 qsizetype(expected));
    }
};

QTEST_GUILESS_MAIN(TestByteSearch)
#include "tst_bytesearch.moc"
