#include "log/LogSearch.h"
#include "log/LogStore.h"

#include <QSignalSpy>
#include <QtTest>

#include "storedtext.h"

#include <memory>

using namespace StoredText;

namespace {

// Text without the letters of the needles, so that matches stand only where a test puts them.
QString filler(qsizetype length)
{
    QString s(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i)
        s[i] = QChar(char16_t(u'0' + i % 10));
    return s;
}

// A residence of its own: in memory, with the text from a little before the
// first place on in chunks of one or two characters (as edits leave them),
// and what stands at the places typed there one character at a time.
constexpr qint64 TinyChunks = -1;
constexpr qsizetype TinyBefore = 4;
constexpr qsizetype TinyLength = 33;

std::unique_ptr<LogStore> tinyChunksOf(const QString& base, qsizetype from, const QList<qsizetype>& places,
                                       const QString& written)
{
    auto store = std::make_unique<LogStore>();
    // Each piece ends a chunk, filled up with padding that goes once all are in.
    std::vector<std::pair<qsizetype, qsizetype>> padding;
    auto appendFilled = [&](QStringView piece) {
        store->append(piece);
        const qsizetype room = (Chunk - store->size() % Chunk) % Chunk;
        padding.emplace_back(store->size(), room);
        store->append(QString(room, QLatin1Char('-')));
    };
    appendFilled(QStringView(base).first(from));
    for (qsizetype at = from; at < from + TinyLength; at += 3) {
        appendFilled(QStringView(base).mid(at, 1));
        appendFilled(QStringView(base).mid(at + 1, 2));
    }
    store->append(QStringView(base).sliced(from + TinyLength));
    for (auto it = padding.rbegin(); it != padding.rend(); ++it)
        store->replace(it->first, it->second, QString());
    for (qsizetype p : places)
        for (qsizetype i = 0; i < written.size(); ++i)
            store->replace(p + i, 1, written.mid(i, 1));
    return store;
}

struct Outcome
{
    qsizetype position = -1;
    bool wrapped = false;
    bool operator==(const Outcome& o) const { return position == o.position && wrapped == o.wrapped; }
};

char* toString(const Outcome& o)
{
    return qstrdup(QByteArray::number(o.position).append(o.wrapped ? " (wrapped)" : "").constData());
}

// Runs a search that was started to its end.
Outcome finish(LogSearch& search)
{
    QSignalSpy found(&search, &LogSearch::found);
    QSignalSpy notFound(&search, &LogSearch::notFound);
    QSignalSpy failed(&search, &LogSearch::failed);
    if (!QTest::qWaitFor([&] { return !found.isEmpty() || !notFound.isEmpty() || !failed.isEmpty(); }, 10000))
        return {-2, false};
    if (found.isEmpty())
        return {};
    return {found.at(0).at(0).value<qsizetype>(), found.at(0).at(2).toBool()};
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TestLogSearch : public QObject
{
    Q_OBJECT

private slots:
    void finds_data();
    void finds();
    void changeWhileSearching_data();
    void changeWhileSearching();
};

void TestLogSearch::finds_data()
{
    QTest::addColumn<QList<qsizetype>>("places");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("from");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<Outcome>("expected");
    QTest::addColumn<qint64>("workingSet");
    const QString word = QStringLiteral("needle");
    // The text is more than a block; most rows have matches at 100, across
    // the first chunk end and in the fourth chunk.
    const QList<qsizetype> places{100, Chunk - 3, 3 * Chunk + 10};
    for (qint64 workingSet : {InMemory, Spilling, TinyChunks}) {
        const char* where = workingSet == TinyChunks ? "tiny chunks" : residence(workingSet);
        auto row = [&](const char* name) -> QTestData& { return QTest::addRow("%s: %s", where, name); };
        row("forward from the start")
            << places << word << word << qsizetype(0) << true << true << Outcome{100, false} << workingSet;
        row("forward to a match across a chunk end") << places << word << word << qsizetype(101) << true
                                                     << true << Outcome{Chunk - 3, false} << workingSet;
        row("forward past the last wraps to the first")
            << places << word << word << 3 * Chunk + 11 << true << true << Outcome{100, true} << workingSet;
        row("backward to the one before") << places << word << word << 3 * Chunk + 10 << false << true
                                          << Outcome{Chunk - 3, false} << workingSet;
        row("backward from the first wraps to the last")
            << places << word << word << qsizetype(100) << false << true << Outcome{3 * Chunk + 10, true}
            << workingSet;
        row("case ignored") << places << QStringLiteral("NeEdLe") << word << qsizetype(0) << true << false
                            << Outcome{100, false} << workingSet;
        row("case kept: no match") << places << QStringLiteral("NeEdLe") << word << qsizetype(0) << true
                                   << true << Outcome{} << workingSet;
        row("Latin-1 letters ignore case")
            << places << QStringLiteral("\u00C4RGER") << QStringLiteral("\u00E4rger") << Chunk << true
            << false << Outcome{3 * Chunk + 10, false} << workingSet;
        row("needle of one character across the end")
            << places << word << QStringLiteral("e") << 3 * Chunk + 16 << true << true
            << Outcome{100 + 1, true} << workingSet;
        row("needle longer than a chunk's tail and head")
            << QList<qsizetype>{2 * Chunk - 1} << QString(40, QLatin1Char('x')) + QStringLiteral("end")
            << QString(40, QLatin1Char('x')) + QStringLiteral("end") << qsizetype(0) << false << true
            << Outcome{2 * Chunk - 1, true} << workingSet;
        // Blocks are counted from where the search starts.
        row("forward to a match across a block end")
            << QList<qsizetype>{100, LogSearch::BlockChars + 99} << word << word << qsizetype(101) << true
            << true << Outcome{LogSearch::BlockChars + 99, false} << workingSet;
        row("backward to a match across a block end")
            << QList<qsizetype>{48} << word << word << LogSearch::BlockChars + 50 << false << true
            << Outcome{48, false} << workingSet;
        row("forward from inside the only match goes round to it")
            << QList<qsizetype>{100} << word << word << qsizetype(102) << true << true << Outcome{100, true}
            << workingSet;
        row("no match anywhere") << places << word << QStringLiteral("needles") << qsizetype(7) << true
                                 << true << Outcome{} << workingSet;
        row("text beyond Latin-1") << QList<qsizetype>{2 * Chunk - 2} << QStringLiteral("a\u20ACb")
                                   << QStringLiteral("A\u20ACB") << qsizetype(0) << true << false
                                   << Outcome{2 * Chunk - 2, false} << workingSet;
        // Eight characters found twice, apart and overlapping: backward gives the later one.
        const QString eight = QStringLiteral("needle08");
        row("backward to the later of two matches")
            << QList<qsizetype>{100, 112} << eight << eight << 3 * Chunk << false << true
            << Outcome{112, false} << workingSet;
        row("forward to the earlier of two matches")
            << QList<qsizetype>{100, 112} << eight << eight << qsizetype(0) << true << true
            << Outcome{100, false} << workingSet;
        row("backward to the later of two overlapping matches")
            << QList<qsizetype>{100, 102} << QStringLiteral("abababab") << QStringLiteral("abababab")
            << 3 * Chunk << false << true << Outcome{102, false} << workingSet;
    }
}

void TestLogSearch::finds()
{
    QFETCH(QList<qsizetype>, places);
    QFETCH(QString, written);
    QFETCH(QString, needle);
    QFETCH(qsizetype, from);
    QFETCH(bool, forward);
    QFETCH(bool, matchCase);
    QFETCH(Outcome, expected);
    QFETCH(qint64, workingSet);
    const QString base = filler(LogSearch::BlockChars + Chunk);
    QString text = base;
    for (qsizetype p : places)
        text.replace(p, written.size(), written);
    auto store = workingSet == TinyChunks ? tinyChunksOf(base, places.value(0) - TinyBefore, places, written)
                                          : storeOf(text, workingSet);
    QVERIFY(store->mid(0, store->size()) == text);
    QCOMPARE(store->fileBytes() > 0, workingSet == Spilling);
    LogSearch search(store.get());
    QSignalSpy progress(&search, &LogSearch::progress);
    search.start(needle, from, forward, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
    QCOMPARE(finish(search), expected);
    QVERIFY(!search.isRunning());
}

void TestLogSearch::changeWhileSearching_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<qsizetype>("expected");
    // The needle stands at 5000, the search goes forward from 4000; the
    // change comes right after it starts.
    QTest::newRow("text inserted before the match") << "insert" << qsizetype(5003);
    QTest::newRow("the match deleted") << "delete" << qsizetype(-1);
    QTest::newRow("the log cleared") << "clear" << qsizetype(-1);
    QTest::newRow("text appended is left for the next search") << "append" << qsizetype(5000);
}

void TestLogSearch::changeWhileSearching()
{
    QFETCH(QString, change);
    QFETCH(qsizetype, expected);
    QString text = filler(Chunk);
    text.replace(5000, 6, QStringLiteral("needle"));
    auto store = storeOf(text, InMemory);
    LogSearch search(store.get());
    search.start(QStringLiteral("needle"), change == QLatin1String("append") ? 5001 : 4000, true,
                 Qt::CaseSensitive);
    if (change == QLatin1String("insert"))
        store->replace(10, 0, QStringLiteral("abc"));
    else if (change == QLatin1String("delete"))
        store->replace(5001, 3, QString());
    else if (change == QLatin1String("clear"))
        store->clear();
    else
        store->append(QStringLiteral("needle"));
    QCOMPARE(finish(search).position, expected);
}

QTEST_GUILESS_MAIN(TestLogSearch)
#include "tst_logsearch.moc"
