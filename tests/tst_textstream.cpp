#include "testdata.h"

#include "platform/KvError.h"
#include "platform/TextStream.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {
constexpr int Chunk = 64 * 1024;
}

class TestTextStream : public QObject
{
    Q_OBJECT

private:
    TestData::TempFiles m_files;

    static QStringList readAll(TextStream& ts)
    {
        QStringList lines;
        while (!ts.AtEndOfStream())
            lines.append(ts.ReadLine());
        return lines;
    }

private slots:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");

        const QString a = QStringLiteral("a");
        const QString b = QStringLiteral("b");
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("one line, no terminator") << QByteArray("a") << QStringList{a};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{a, b};
        QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList{a, b};
        QTest::newRow("lone CR") << QByteArray("a\rb\r") << QStringList{a, b};
        QTest::newRow("mixed terminators") << QByteArray("a\r\nb\nc\rd") << QStringList{a, b, "c", "d"};
        QTest::newRow("last line without terminator") << QByteArray("a\r\nb") << QStringList{a, b};
        QTest::newRow("only a terminator") << QByteArray("\r\n") << QStringList{QString()};
        QTest::newRow("empty lines") << QByteArray("\r\n\r\na\r\n\r\n") << QStringList{"", "", a, ""};
        QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << QStringList{a, "", b};
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QStringList{a, "", b};

        QByteArray split(Chunk - 1, 'x');
        split += "\r\nnext";
        QTest::newRow("CR LF split across chunks") << split << QStringList{QString(Chunk - 1, 'x'), "next"};

        QByteArray crAtEnd(Chunk - 1, 'x');
        crAtEnd += '\r';
        QTest::newRow("CR as the last byte of a chunk and the file")
            << crAtEnd << QStringList{QString(Chunk - 1, 'x')};

        QByteArray crThenText(Chunk - 1, 'x');
        crThenText += "\rnext";
        QTest::newRow("lone CR at the chunk end")
            << crThenText << QStringList{QString(Chunk - 1, 'x'), "next"};

        QByteArray lfFirst(Chunk, 'x');
        lfFirst += "\nnext";
        QTest::newRow("LF as the first byte of a chunk")
            << lfFirst << QStringList{QString(Chunk, 'x'), "next"};
    }

    void lines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        auto ts = TextStream::open(m_files.write(bytes));
        QCOMPARE(readAll(*ts), lines);
        QVERIFY(ts->AtEndOfStream());
    }

    void bytesAreCharacters()
    {
        // NUL and every high byte come back as the character of the same code.
        QByteArray all;
        for (int c = 0; c < 256; ++c) {
            if (c != '\r' && c != '\n')
                all += char(c);
        }
        auto ts = TextStream::open(m_files.write(all + "\r\n" + all));
        const QStringList got = readAll(*ts);
        QCOMPARE(got.size(), 2);
        for (const QString& line : got) {
            QCOMPARE(line.size(), all.size());
            QCOMPARE(line.toLatin1(), all);
        }
    }

    void megabyteLine()
    {
        QByteArray big(1024 * 1024, 'z');
        for (int i = 0; i < big.size(); i += 997)
            big[i] = char('A' + i % 26);
        auto ts = TextStream::open(m_files.write(big + "\r\nend"));
        const QString first = ts->ReadLine();
        QCOMPARE(first.size(), big.size());
        QCOMPARE(first.toLatin1(), big);
        QCOMPARE(ts->ReadLine(), QStringLiteral("end"));
        QVERIFY(ts->AtEndOfStream());
    }

    void binaryFile()
    {
        // Arbitrary bytes read without failure and lose nothing but the line ends.
        QByteArray bytes;
        quint32 seed = 12345;
        for (int i = 0; i < 3 * Chunk + 17; ++i) {
            seed = seed * 1103515245u + 12345u;
            bytes += char(seed >> 24);
        }
        auto ts = TextStream::open(m_files.write(bytes));
        QByteArray rest;
        while (!ts->AtEndOfStream())
            rest += ts->ReadLine().toLatin1();
        QByteArray expected = bytes;
        expected.replace('\r', QByteArray()).replace('\n', QByteArray());
        QCOMPARE(rest, expected);
    }

    void readingPastTheEndFails()
    {
        auto ts = TextStream::open(m_files.write("a"));
        QCOMPARE(ts->ReadLine(), QStringLiteral("a"));
        QVERIFY(ts->AtEndOfStream());
        try {
            ts->ReadLine();
            QFAIL("read past the end");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), 62);
        }
    }

    void closedStreamHasNothingLeft()
    {
        auto ts = TextStream::open(m_files.write("a\r\nb\r\n"));
        QCOMPARE(ts->ReadLine(), QStringLiteral("a"));
        ts->Close();
        QVERIFY(ts->AtEndOfStream());
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("number");
        QTest::newRow("missing file") << m_files.path(QStringLiteral("missing.txt")) << 53;
        QTest::newRow("empty path") << QString() << 53;
        QTest::newRow("folder") << m_files.folder() << 75;
    }

    void openFailures()
    {
        QFETCH(QString, path);
        QFETCH(int, number);
        try {
            TextStream::open(path);
            QFAIL("opened");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), number);
            QVERIFY(!e.description().isEmpty());
        }
    }

    void openingNeverCreates()
    {
        const QString path = m_files.path(QStringLiteral("not-there.txt"));
        QVERIFY_THROWS_EXCEPTION(KvError, TextStream::open(path));
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestTextStream)
#include "tst_textstream.moc"
