#include "storedtext.h"

#include "log/LogStore.h"
#include "platform/NumConv.h"

#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using StoredText::Chunk;
using StoredText::InMemory;
using StoredText::Spilling;

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

// The text appended in pieces, as text or as its bytes, then the suffix, to a
// store with the given working set.
std::unique_ptr<LogStore> fromPieces(const QString& text, qsizetype piece, qint64 workingSet = InMemory,
                                     const QString& suffix = QString(), bool asBytes = false)
{
    auto log = std::make_unique<LogStore>();
    log->setWorkingSetLimit(workingSet);
    for (qsizetype i = 0; i < text.size(); i += piece)
        asBytes ? log->append(text.mid(i, piece).toLatin1()) : log->append(QStringView(text).mid(i, piece));
    log->append(suffix);
    log->settle();
    return log;
}

// Everything the store tells about its text, against the text itself; an
// empty result when all agree.
QString mismatch(const LogStore& log, const QString& text)
{
    if (log.size() != text.size())
        return QStringLiteral("size %1, expected %2").arg(log.size()).arg(text.size());
    if (log.mid(0, log.size()) != text)
        return QStringLiteral("text differs");
    QList<qsizetype> starts{0};
    qsizetype longest = 0;
    for (qsizetype i = text.indexOf(QLatin1Char('\n')); i >= 0; i = text.indexOf(QLatin1Char('\n'), i + 1)) {
        const qsizetype start = starts.last();
        longest = std::max(longest, i - start - (i > start && text.at(i - 1) == u'\r'));
        starts << i + 1;
    }
    longest = std::max(longest, text.size() - starts.last());
    if (log.lineCount() != starts.size())
        return QStringLiteral("%1 lines, expected %2").arg(log.lineCount()).arg(starts.size());
    if (log.longestLine() != longest)
        return QStringLiteral("longest line %1, expected %2").arg(log.longestLine()).arg(longest);
    if (log.lastCrLf() != text.lastIndexOf(QStringLiteral("\r\n")))
        return QStringLiteral("last CR LF at %1").arg(log.lastCrLf());
    // Every line start, backwards and forwards, and the line of a place inside each.
    const qsizetype step = std::max<qsizetype>(1, starts.size() / 200);
    for (qsizetype l = starts.size() - 1; l >= 0; l -= step)
        if (log.lineStart(l) != starts[l])
            return QStringLiteral("line %1 starts at %2, expected %3")
                .arg(l)
                .arg(log.lineStart(l))
                .arg(starts[l]);
    for (qsizetype l = 0; l < starts.size(); l += step) {
        const qsizetype end = l + 1 < starts.size() ? starts[l + 1] : text.size() + 1;
        // The line's text ends before its LF, and before a CR that goes with it.
        qsizetype textEnd = end - 1;
        if (l + 1 < starts.size() && textEnd > starts[l] && text.at(textEnd - 1) == u'\r')
            --textEnd;
        if (log.lineEnd(l) != textEnd)
            return QStringLiteral("line %1 ends at %2, expected %3").arg(l).arg(log.lineEnd(l)).arg(textEnd);
        for (qsizetype pos : {starts[l], (starts[l] + end - 1) / 2, end - 1})
            if (log.lineOf(pos) != l)
                return QStringLiteral("position %1 on line %2, expected %3")
                    .arg(pos)
                    .arg(log.lineOf(pos))
                    .arg(l);
    }
    return QString();
}

// Open files of this process that have no name any more, as a log's file has.
int unnamedFiles()
{
    int count = 0;
    const QString fds = QStringLiteral("/proc/self/fd");
    for (const QString& fd : QDir(fds).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t n =
            ::readlink(QFile::encodeName(fds + QLatin1Char('/') + fd).constData(), target, sizeof target - 1);
        if (n > 0 && QByteArray(target, n).endsWith(" (deleted)"))
            ++count;
    }
    return count;
}

void addResidence()
{
    QTest::addColumn<qint64>("workingSet");
}

// Why the file cannot be opened for writing, as the system says it; empty when it can.
QString refusal(const QString& path)
{
    const bool existed = QFileInfo::exists(path);
    QFile probe(path);
    if (!probe.open(QIODevice::ReadWrite))
        return probe.errorString();
    if (!existed)
        probe.remove();
    return QString();
}

} // namespace

class TestLogStore : public QObject
{
    Q_OBJECT

private slots:
    void appendAcrossChunks_data();
    void appendAcrossChunks();
    void lineIndex_data();
    void lineIndex();
    void lastIndexOf_data();
    void lastIndexOf();
    void widensForCharactersBeyondLatin1_data();
    void widensForCharactersBeyondLatin1();
    void replaceAcrossChunks_data();
    void replaceAcrossChunks();
    void appendAfterCuttingBackToAChunkBeingWritten();
    void readBackAcrossMemoryAndFile_data();
    void readBackAcrossMemoryAndFile();
    void clearEmptiesTextAndFile();
    void fileGoesWithTheStore();
    void diskFullKeepsTheNewestBehindOneMarker_data();
    void diskFullKeepsTheNewestBehindOneMarker();
    void failedAllocationChangesNothing_data();
    void failedAllocationChangesNothing();
};

void TestLogStore::appendAcrossChunks_data()
{
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<qsizetype>("piece");
    addResidence();
    QTest::addColumn<bool>("asBytes"); // as the socket's data comes
    for (qint64 workingSet : {InMemory, Spilling}) {
        for (bool asBytes : {false, true}) {
            const char* where = workingSet == InMemory ? "memory" : "file";
            auto row = [&](const char* name) -> QTestData& {
                return QTest::addRow("%s, %s: %s", where, asBytes ? "bytes" : "text", name);
            };
            row("64 KB pieces fill chunks exactly") << 3 * Chunk << qsizetype(65536) << workingSet << asBytes;
            row("odd pieces straddle chunk ends")
                << 2 * Chunk + 777 << qsizetype(333333) << workingSet << asBytes;
            row("one piece of two and a half chunks")
                << 2 * Chunk + Chunk / 2 << 3 * Chunk << workingSet << asBytes;
            row("one character at a time near the end") << Chunk + 3 << qsizetype(1) << workingSet << asBytes;
            row("a single character") << qsizetype(1) << qsizetype(1) << workingSet << asBytes;
        }
    }
}

void TestLogStore::appendAcrossChunks()
{
    QFETCH(qsizetype, length);
    QFETCH(qsizetype, piece);
    QFETCH(qint64, workingSet);
    QFETCH(bool, asBytes);
    const QString text = filler(length);
    const qsizetype bulk = std::max<qsizetype>(0, length - 6);
    auto log = fromPieces(text.first(bulk), piece == 1 ? 65536 : piece, workingSet, QString(), asBytes);
    // Single characters across the chunk end.
    for (qsizetype i = bulk; i < length; ++i)
        asBytes ? log->append(text.mid(i, 1).toLatin1()) : log->append(QStringView(text).mid(i, 1));
    QCOMPARE(log->size(), length);
    QVERIFY(log->mid(0, length) == text);
    for (qsizetype i : {qsizetype(0), Chunk - 1, Chunk, Chunk + 1, length - 1})
        if (i < length)
            QCOMPARE(log->at(i), text.at(i).unicode());
    const qsizetype from = std::max<qsizetype>(0, std::min(Chunk, length) - 5);
    QCOMPARE(log->mid(from, 10), text.mid(from, 10));
    log->settle();
    QVERIFY(log->memoryBytes() <= std::max<qint64>(workingSet, Chunk));
}

void TestLogStore::lineIndex_data()
{
    QTest::addColumn<QList<qsizetype>>("feeds");
    addResidence();
    for (qint64 workingSet : {InMemory, Spilling}) {
        const char* where = workingSet == InMemory ? "memory" : "file";
        QTest::addRow("%s: last place of a chunk", where) << QList<qsizetype>{Chunk - 1} << workingSet;
        QTest::addRow("%s: first place of a chunk", where) << QList<qsizetype>{Chunk} << workingSet;
        QTest::addRow("%s: a chunk without any", where) << QList<qsizetype>{5, 2 * Chunk + 5} << workingSet;
        QTest::addRow("%s: dense lines over a chunk end", where)
            << QList<qsizetype>{Chunk - 4, Chunk - 2, Chunk, Chunk + 1, Chunk + 3} << workingSet;
        QTest::addRow("%s: at the very start and end", where)
            << QList<qsizetype>{0, 2 * Chunk + 99} << workingSet;
        QTest::addRow("%s: none at all", where) << QList<qsizetype>{} << workingSet;
    }
}

void TestLogStore::lineIndex()
{
    QFETCH(QList<qsizetype>, feeds);
    QFETCH(qint64, workingSet);
    QString text = filler(2 * Chunk + 100);
    for (qsizetype f : feeds)
        text[f] = QLatin1Char('\n');
    QString failure = mismatch(*fromPieces(text, 100000, workingSet), text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QString wideText = text + QChar(0x20AC);
    failure = mismatch(*fromPieces(text, 100000, workingSet, QString(QChar(0x20AC))), wideText);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestLogStore::lastIndexOf_data()
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

void TestLogStore::lastIndexOf()
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
    QCOMPARE(fromPieces(text, 65536, Spilling, QString(QChar(0x3A9)))->lastIndexOf(needle), expected);
}

void TestLogStore::widensForCharactersBeyondLatin1_data()
{
    addResidence();
    QTest::addColumn<qsizetype>("offset"); // of an edit in the wide chunk
    QTest::addColumn<qsizetype>("count");
    QTest::addColumn<QString>("with");
    for (qint64 workingSet : {InMemory, Spilling}) {
        auto row = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", StoredText::residence(workingSet), name) << workingSet;
        };
        row("an insert six in") << qsizetype(6) << qsizetype(0) << QStringLiteral("\n");
        row("a delete three in") << qsizetype(3) << qsizetype(4) << QString();
        row("an insert near the chunk's end") << Chunk - 5 << qsizetype(0) << QStringLiteral("xyz");
    }
}

void TestLogStore::widensForCharactersBeyondLatin1()
{
    QFETCH(qint64, workingSet);
    QFETCH(qsizetype, offset);
    QFETCH(qsizetype, count);
    QFETCH(QString, with);
    const QString head = filler(Chunk + 50);
    auto log = fromPieces(head, 40000, workingSet);
    const qint64 narrow = log->memoryBytes() + log->fileBytes();
    const QString typed = QStringLiteral("x") + QChar(0x20AC) + QStringLiteral("\r\n");
    log->append(typed);
    // Bytes after it are widened into its chunk.
    const QByteArray bytes("\0\xe9\r\n", 4);
    log->append(bytes);
    log->append(filler(2 * Chunk));
    const QString expected = head + typed + QString::fromLatin1(bytes) + filler(2 * Chunk);
    QString failure = mismatch(*log, expected);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(log->at(Chunk + 51), char16_t(0x20AC));
    QCOMPARE(log->lastIndexOf(QString(QChar(0x20AC))), Chunk + 51);
    // Only the chunk that holds it takes two bytes a character.
    log->settle();
    QVERIFY(log->memoryBytes() + log->fileBytes() < narrow + 5 * Chunk);
    // An edit that takes the wide character away, and one that puts one back.
    QString edited = expected;
    log->replace(Chunk + 51, 1, QStringLiteral("E"));
    edited.replace(Chunk + 51, 1, QStringLiteral("E"));
    failure = mismatch(*log, edited);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    log->replace(3, 0, QString(QChar(0x263A)));
    edited.insert(3, QChar(0x263A));
    failure = mismatch(*log, edited);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    log->replace(Chunk + 1 + offset, count, with);
    edited.replace(Chunk + 1 + offset, count, with);
    failure = mismatch(*log, edited);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // A key typed into a chunk kept two bytes a character.
    LogStore small;
    small.append(QStringLiteral("x") + QChar(0x20AC) + QStringLiteral("abc"));
    small.replace(1, 0, QStringLiteral("Z"));
    failure = mismatch(small, QStringLiteral("xZ") + QChar(0x20AC) + QStringLiteral("abc"));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestLogStore::replaceAcrossChunks_data()
{
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<qsizetype>("count");
    QTest::addColumn<QString>("with");
    addResidence();
    QTest::addColumn<bool>("movedAfter");
    // The text is five chunks and a bit; with the small working set the first
    // three or four lie in the file. Moved: edited in memory, then all but
    // the last chunk go to the file, grown or cut short as the edit left them.
    const qsizetype size = 5 * Chunk + 10;
    const std::tuple<const char*, qint64, bool> residences[] = {
        {"memory", InMemory, false}, {"file", Spilling, false}, {"moved", InMemory, true}};
    for (const auto& [where, workingSet, moved] : residences) {
        auto row = [&, where = where](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", where, name);
        };
        row("insert at the start") << qsizetype(0) << qsizetype(0) << QStringLiteral("ab") << workingSet
                                   << moved;
        row("remove across a chunk end") << Chunk - 3 << qsizetype(6) << QString() << workingSet << moved;
        row("replace inside a chunk")
            << Chunk + 10 << qsizetype(5) << QStringLiteral("ab\r\n") << workingSet << moved;
        row("replace across a chunk end")
            << Chunk - 1 << qsizetype(2) << QStringLiteral("\r\n\r\n") << workingSet << moved;
        row("insert beyond Latin-1") << Chunk + 1 << qsizetype(0) << QString(QChar(0x263A)) << workingSet
                                     << moved;
        row("remove whole chunks between two") << Chunk / 2 << 3 * Chunk << QString() << workingSet << moved;
        row("remove one chunk's whole text") << Chunk << Chunk << QString() << workingSet << moved;
        row("remove everything") << qsizetype(0) << size << QString() << workingSet << moved;
        row("append at the end") << size << qsizetype(0) << QStringLiteral("end\r\n") << workingSet << moved;
        row("paste that splits the chunk")
            << 2 * Chunk + 7 << qsizetype(1) << filler(3 * Chunk, 5).replace(7, 2, QStringLiteral("\r\n"))
            << workingSet << moved;
        row("edit from the file into memory")
            << 3 * Chunk + 5 << Chunk + 3 << QStringLiteral("x\ny") << workingSet << moved;
        row("paste over the text in memory")
            << 4 * Chunk << Chunk + 10 << filler(3 * Chunk, 9) << workingSet << moved;
    }
}

void TestLogStore::replaceAcrossChunks()
{
    QFETCH(qsizetype, from);
    QFETCH(qsizetype, count);
    QFETCH(QString, with);
    QFETCH(qint64, workingSet);
    QFETCH(bool, movedAfter);
    QString text = filler(5 * Chunk + 10);
    for (qsizetype lf : {qsizetype(100), Chunk + 1, 2 * Chunk + 3, 4 * Chunk})
        text.replace(lf, 2, QStringLiteral("\r\n"));
    auto log = fromPieces(text, 500000, workingSet);
    log->replace(from, count, with);
    QString edited = QString(text).replace(from, count, with);
    QString failure = mismatch(*log, edited);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    log->settle();
    QVERIFY(log->memoryBytes() <= workingSet); // what the edit took away included
    // Undone whole, once, then done again.
    log->undo();
    failure = mismatch(*log, text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(!log->canUndo());
    if (workingSet == InMemory)
        QCOMPARE(log->memoryBytes(), qint64(text.size()));
    log->replace(from, count, with);
    if (movedAfter) {
        // Newer chunks go to the file after them.
        log->setWorkingSetLimit(Chunk / 2);
        log->append(filler(2 * Chunk, 7));
        edited += filler(2 * Chunk, 7);
        log->settle();
        QVERIFY(log->fileBytes() >= log->size() - 2 * Chunk);
        failure = mismatch(*log, edited);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }
    // The text goes on growing after the edit; what the edit took away gives its room back.
    log->append(QStringLiteral("tail\r\n"));
    edited += QStringLiteral("tail\r\n");
    failure = mismatch(*log, edited);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(!log->canUndo());
    if (edited.size() < Chunk)
        QCOMPARE(log->fileBytes(), 0);
}

void TestLogStore::appendAfterCuttingBackToAChunkBeingWritten()
{
    // The oldest chunk goes to the file while the text after it is cut away,
    // so the next append meets it as the last chunk with its write under way.
    // The store's calls follow each other at once, before the write ends.
    const QString start = filler(3 * Chunk);
    const QString more = filler(Chunk, 3);
    LogStore log;
    log.setWorkingSetLimit(4 * 1024 * 1024);
    for (qsizetype i = 0; i < 3 * Chunk; i += Chunk)
        log.append(QStringView(start).mid(i, Chunk));
    log.replace(0, 10, QString());
    log.replace(Chunk, 1, QStringLiteral("b"));
    log.replace(2 * Chunk, 1, QStringLiteral("c"));
    log.append(more);
    log.replace(Chunk - 10, log.size() - (Chunk - 10), QString());
    log.append(QStringLiteral("XYZ"));
    log.settle();
    const QString failure = mismatch(log, start.mid(10, Chunk - 10) + QStringLiteral("XYZ"));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestLogStore::readBackAcrossMemoryAndFile_data()
{
    QTest::addColumn<QString>("pattern");
    const QString nul(1, QChar(0));
    QTest::newRow("nul characters") << nul + QStringLiteral("a") + nul + nul;
    QTest::newRow("cr lf, lone cr, lone lf") << QStringLiteral("line\r\n\r\n\rx\ny\r");
    QTest::newRow("all of Latin-1") << filler(256);
    QTest::newRow("wide text") << QStringLiteral("\r\n") + QChar(0x20AC) + QChar(0xD83D) + QChar(0xDE00) +
                                      QStringLiteral("z");
}

void TestLogStore::readBackAcrossMemoryAndFile()
{
    QFETCH(QString, pattern);
    QString text;
    while (text.size() < 4 * Chunk + 1234)
        text += pattern + filler(pattern.size() * 7 % 300 + 1, int(text.size()));
    // Odd pieces, so that CR LF and surrogate pairs fall across appends.
    auto log = fromPieces(text, 77777, Spilling);
    QVERIFY(log->fileBytes() >= 2 * Chunk);
    QVERIFY(log->memoryBytes() <= Spilling);
    const QString failure = mismatch(*log, text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // Piece by piece, as searching and saving read it.
    QString pieces;
    qsizetype expectedPos = 5;
    QVERIFY(log->forEachPiece(5, text.size() - 5, [&](const LogPiece& p) {
        if (p.position != expectedPos)
            return false;
        expectedPos += p.length;
        pieces += p.latin1 ? QString::fromLatin1(p.latin1, p.length) : QString::fromUtf16(p.utf16, p.length);
        return true;
    }));
    QVERIFY(pieces == text.mid(5, text.size() - 10));
}

// A clear can be undone, with nothing copied, until the next append; then the text and the file go.
void TestLogStore::clearEmptiesTextAndFile()
{
    const QString text = filler(3 * Chunk) + QStringLiteral("\r\n") + QChar(0x20AC);
    auto log = fromPieces(text, 100000, Spilling);
    const qint64 memory = log->memoryBytes();
    const qint64 file = log->fileBytes();
    log->clear();
    QCOMPARE(log->size(), 0);
    log->undo();
    QString failure = mismatch(*log, text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY(log->memoryBytes() == memory && log->fileBytes() == file && !log->canUndo());
    log->clear();
    QCOMPARE(log->lineCount(), 1);
    QCOMPARE(log->lastCrLf(), -1);
    QCOMPARE(log->longestLine(), 0);
    log->append(QStringLiteral("short\r\n"));
    QVERIFY(!log->canUndo());
    log->settle();
    QCOMPARE(log->fileBytes(), 0);
    QCOMPARE(log->memoryBytes(), qint64(7));
    const QString again = QStringLiteral("short\r\n") + filler(3 * Chunk);
    log->append(QStringView(again).mid(7));
    failure = mismatch(*log, again);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestLogStore::fileGoesWithTheStore()
{
    const int before = unnamedFiles();
    auto log = fromPieces(filler(3 * Chunk), 1000000, Spilling);
    QCOMPARE(unnamedFiles(), before + 1);
    log.reset();
    QCOMPARE(unnamedFiles(), before);
}

void TestLogStore::diskFullKeepsTheNewestBehindOneMarker_data()
{
    QTest::addColumn<qint64>("fileLimit");
    QTest::addColumn<QString>("file");
    // The process's limit on the size of the files it writes; -1 none.
    QTest::addColumn<qint64>("sizeLimit");
    // %1 the folder, %2 what the system says of the file there.
    QTest::addColumn<QString>("cause");
    const QString noSpace =
        QStringLiteral("no space left on the device for the log's file (%1)").arg(qt_error_string(ENOSPC));
    const QString notWritable = QStringLiteral("the folder %1 is not writable (%2)");
    QTest::newRow("the file reaches its limit") << qint64(2 * Chunk) << QString() << qint64(-1) << noSpace;
    QTest::newRow("no room for a file at all") << qint64(0) << QString() << qint64(-1) << noSpace;
    QTest::newRow("writes fail: no space left")
        << qint64(-1) << QStringLiteral("/dev/full") << qint64(-1) << noSpace;
    QTest::newRow("the file's folder is not writable")
        << qint64(-1) << QStringLiteral("<read-only>/log") << qint64(-1) << notWritable;
    QTest::newRow("a folder named beyond Latin-1 is not writable")
        << qint64(-1) << QStringLiteral("<wide>/log") << qint64(-1) << notWritable;
    QTest::newRow("the cache and temporary folders are not writable")
        << qint64(-1) << QStringLiteral("<read-only>") << qint64(-1) << notWritable;
    QTest::newRow("a folder in place of the file") << qint64(-1) << QStringLiteral("<folder>") << qint64(-1)
                                                   << QStringLiteral("the log's file failed (%2)");
    QTest::newRow("the process writes no larger file")
        << qint64(-1) << QString() << 3 * Chunk
        << QStringLiteral("the log's file failed (%1)").arg(qt_error_string(EFBIG));
}

void TestLogStore::diskFullKeepsTheNewestBehindOneMarker()
{
    QFETCH(qint64, fileLimit);
    QFETCH(QString, file);
    QFETCH(qint64, sizeLimit);
    QFETCH(QString, cause);
    QTemporaryDir dir;
    QString folder = dir.filePath(QStringLiteral("readonly"));
    QDir(dir.path()).mkdir(QStringLiteral("readonly"));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    // Root writes into any folder: then one of the system's, which takes no new file from anyone.
    if (refusal(folder + QStringLiteral("/probe")).isEmpty())
        folder = QStringLiteral("/sys");
    const QByteArray temp = qgetenv("TMPDIR");
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    auto restore = [&] {
        qputenv("TMPDIR", temp);
        qputenv("XDG_CACHE_HOME", cache);
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
    };
    const auto restored = qScopeGuard(restore);
    if (file == QLatin1String("<folder>"))
        file = dir.path();
    if (file.startsWith(QLatin1String("<wide>"))) { // the same folder by another name
        QVERIFY(QFile::link(folder, dir.filePath(QStringLiteral("to-\u0444"))));
        folder = dir.filePath(QStringLiteral("to-\u0444"));
        file.replace(QLatin1String("<wide>"), QStringLiteral("<read-only>"));
    }
    if (file.startsWith(QLatin1String("<read-only>")) && refusal(folder + QStringLiteral("/probe")).isEmpty())
        QSKIP("no folder here refuses a new file");
    if (file == QLatin1String("<read-only>")) {
        qputenv("TMPDIR", QFile::encodeName(folder));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(folder));
    }
    file.replace(QLatin1String("<read-only>"), folder);
    cause.replace(QLatin1String("%1"), QDir::toNativeSeparators(folder));
    if (cause.contains(QLatin1String("%2")))
        cause.replace(QLatin1String("%2"),
                      refusal(file == folder ? folder + QStringLiteral("/probe") : file));
    if (sizeLimit >= 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = unlimited;
        limited.rlim_cur = rlim_t(sizeLimit);
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    auto marker = [&cause](qint64 dropped) {
        return QStringLiteral("... %1 characters dropped: %2 ...\r\n")
            .arg(CountText(dropped), QString(cause).replace(QChar(0x444), QLatin1String("\\u0444")));
    };
    LogStore log;
    log.setFilePath(file == folder ? QString() : file);
    log.setWorkingSetLimit(2 * Chunk);
    log.setFileLimit(fileLimit);
    QSignalSpy full(&log, &LogStore::diskFull);
    QSignalSpy front(&log, &LogStore::frontReplaced);
    QString sent;
    for (int i = 0; i < 12; ++i) {
        const QString piece = filler(Chunk / 2, i) + QStringLiteral("\r\n");
        log.append(piece);
        sent += piece;
    }
    log.settle();
    QVERIFY(log.isDiskFull());
    QVERIFY(log.memoryBytes() <= 2 * Chunk);
    const QString text = log.mid(0, log.size());
    const qsizetype markerEnd = text.indexOf(QStringLiteral("\r\n")) + 2;
    const qint64 dropped = sent.size() - (text.size() - markerEnd);
    QCOMPARE(text.first(markerEnd), marker(dropped));
    QCOMPARE(log.droppedCharacters(), dropped);
    QVERIFY(text.mid(markerEnd) == sent.right(text.size() - markerEnd));
    QString failure = mismatch(log, text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(log.fileBytes(), 0);
    // Each drop says where the old start went.
    QVERIFY(!front.isEmpty());
    QCOMPARE(front.last().at(1).value<qsizetype>(), markerEnd);
    QCOMPARE(front.last().at(3).value<qsizetype>(), 1);

    // Said once, after the append, however often text is dropped.
    QCOMPARE(full.size(), 0);
    QVERIFY(full.wait(2000));
    QCOMPARE(full.at(0).at(0).toString(), cause);
    // Part of the marker line deleted, and typed into: what was typed counts as dropped.
    log.replace(4, 3, QString());
    log.replace(10, 0, QStringLiteral("typed"));
    // The cause stays readable however much is dropped after it.
    for (int i = 0; i < 6; ++i)
        log.append(filler(Chunk / 2, 20 + i));
    QTest::qWait(20);
    QCOMPARE(full.size(), 1);
    QVERIFY(log.droppedCharacters() > dropped);
    QCOMPARE(log.mid(0, log.lineEnd(0, true)), marker(log.droppedCharacters()));
    QCOMPARE(log.droppedCharacters(),
             qint64(sent.size() + 3 * Chunk + 5 - (log.size() - log.lineEnd(0, true))));
    const qint64 count = log.droppedCharacters();
    log.clear();
    log.undo();
    QVERIFY(log.isDiskFull() && log.droppedCharacters() == count);
    // An edit that passes the working set drops old text, and its own undo first.
    log.replace(log.size() - 5, 5, filler(Chunk));
    QVERIFY(!log.canUndo());
    log.settle();
    QVERIFY(log.memoryBytes() <= 2 * Chunk);

    // A clear starts afresh, with the file again.
    restore();
    log.clear();
    log.setFileLimit(-1);
    log.setFilePath(QString());
    const QString again = filler(4 * Chunk);
    log.append(again);
    QVERIFY(!log.isDiskFull());
    failure = mismatch(log, again);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // An edit that meets the full disk loses its undo with the file.
    log.setFileLimit(log.fileBytes());
    log.replace(0, 0, filler(2 * Chunk));
    QVERIFY(log.isDiskFull() && !log.canUndo());
}

void TestLogStore::failedAllocationChangesNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<qint64>("workingSet");
    for (const char* op : {"append", "replace", "read"}) {
        QTest::addRow("%s in memory", op) << QString::fromLatin1(op) << InMemory;
        QTest::addRow("%s across the file", op) << QString::fromLatin1(op) << Spilling;
    }
}

void TestLogStore::failedAllocationChangesNothing()
{
    QFETCH(QString, operation);
    QFETCH(qint64, workingSet);
    const QString text = filler(3 * Chunk) + QStringLiteral("\r\nlast");
    auto log = fromPieces(text, 300000, workingSet);
    const bool read = operation == QLatin1String("read");
    log->failNextAllocations(read ? 0 : 1, read ? 1 : 0);
    try {
        if (operation == QLatin1String("append"))
            log->append(filler(2 * Chunk));
        else if (operation == QLatin1String("replace"))
            log->replace(Chunk - 5, Chunk, QStringLiteral("x"));
        else
            log->mid(0, log->size());
        QFAIL("no allocation failed");
    } catch (const std::bad_alloc&) {
    }
    QString failure = mismatch(*log, text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // The next one goes through.
    log->append(QStringLiteral("!"));
    failure = mismatch(*log, text + QStringLiteral("!"));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QTEST_GUILESS_MAIN(TestLogStore)
#include "tst_logstore.moc"
