#include "testdata.h"

#include "platform/KvError.h"
#include "platform/TextStream.h"

#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <sys/stat.h>

namespace {
constexpr int Chunk = 64 * 1024;
}

class TestTextStream : public QObject
{
    Q_OBJECT

private:
    TestData::TempFiles m_files;
    QLocalServer m_socketFile;

    // A whole line, however long.
    static QString readLine(TextStream& ts)
    {
        bool ended = false;
        return QString::fromLatin1(ts.ReadPiece(std::numeric_limits<qsizetype>::max(), ended));
    }

    static QStringList readAll(TextStream& ts)
    {
        QStringList lines;
        while (!ts.AtEndOfStream())
            lines.append(readLine(ts));
        return lines;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(::mkfifo(QFile::encodeName(m_files.path(QStringLiteral("fifo"))).constData(), 0600) == 0);
        QVERIFY(m_socketFile.listen(m_files.path(QStringLiteral("socket"))));
    }

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
        const QString first = readLine(*ts);
        QCOMPARE(first.size(), big.size());
        QCOMPARE(first.toLatin1(), big);
        QCOMPARE(readLine(*ts), QStringLiteral("end"));
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
            rest += readLine(*ts).toLatin1();
        QByteArray expected = bytes;
        expected.replace('\r', QByteArray()).replace('\n', QByteArray());
        QCOMPARE(rest, expected);
    }

    void readingPastTheEndFails()
    {
        auto ts = TextStream::open(m_files.write("a"));
        QCOMPARE(readLine(*ts), QStringLiteral("a"));
        QVERIFY(ts->AtEndOfStream());
        try {
            readLine(*ts);
            QFAIL("read past the end");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), 62);
        }
    }

    void closedStreamHasNothingLeft()
    {
        auto ts = TextStream::open(m_files.write("a\r\nb\r\n"));
        QCOMPARE(readLine(*ts), QStringLiteral("a"));
        ts->Close();
        QVERIFY(ts->AtEndOfStream());
    }

    void pieces_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("maxBytes");
        // Each piece as read, with "|" after it where its line ends.
        QTest::addColumn<QStringList>("pieces");

        QTest::newRow("short lines") << QByteArray("ab\r\nc") << 4 << QStringList{"ab|", "c|"};
        QTest::newRow("a line in pieces")
            << QByteArray("abcdefghij\nk") << 4 << QStringList{"abcd", "efgh", "ij|", "k|"};
        QTest::newRow("a line as long as a piece takes its CR LF")
            << QByteArray("abcd\r\nef") << 4 << QStringList{"abcd|", "ef|"};
        QTest::newRow("a last line as long as a piece") << QByteArray("abcd") << 4 << QStringList{"abcd|"};
        QTest::newRow("an empty line") << QByteArray("\r\nab") << 4 << QStringList{"|", "ab|"};
        QTest::newRow("pieces across chunks")
            << QByteArray(Chunk + 10, 'x') + "\ry" << Chunk - 1
            << QStringList{QString(Chunk - 1, 'x'), QString(11, 'x') + "|", "y|"};
        QByteArray crLfSplit(2 * Chunk - 1, 'x');
        crLfSplit += "\r\nz";
        QTest::newRow("CR LF split across chunks after a full piece")
            << crLfSplit << 2 * Chunk - 1 << QStringList{QString(2 * Chunk - 1, 'x') + "|", "z|"};
    }

    void pieces()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, maxBytes);
        QFETCH(QStringList, pieces);
        auto ts = TextStream::open(m_files.write(bytes));
        QStringList got;
        while (!ts->AtEndOfStream()) {
            bool ended = false;
            const QByteArray piece = ts->ReadPiece(maxBytes, ended);
            QVERIFY(piece.size() <= maxBytes);
            got.append(QString::fromLatin1(piece) + (ended ? "|" : ""));
        }
        QCOMPARE(got, pieces);
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing file")
            << m_files.path(QStringLiteral("missing.txt")) << 53 << "File not found";
        QTest::newRow("empty path") << QString() << 53 << "File not found";
        // Only a regular file is sure to end; opening none of these may block.
        QTest::newRow("folder") << m_files.folder() << 75 << "this is a folder, not a regular file";
        QTest::newRow("named pipe without a writer") << m_files.path(QStringLiteral("fifo")) << 75
                                                     << "this is a named pipe (FIFO), not a regular file";
        QTest::newRow("endless device")
            << "/dev/zero" << 75 << "this is a character device, not a regular file";
        QTest::newRow("empty device")
            << "/dev/null" << 75 << "this is a character device, not a regular file";
        QTest::newRow("socket") << m_files.path(QStringLiteral("socket")) << 75
                                << "this is a socket, not a regular file";
    }

    void openFailures()
    {
        QFETCH(QString, path);
        QFETCH(int, number);
        QFETCH(QString, says);
        try {
            TextStream::open(path);
            QFAIL("opened");
        } catch (const KvError& e) {
            QCOMPARE(e.number(), number);
            QVERIFY2(e.description().contains(says), qPrintable(e.description()));
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
