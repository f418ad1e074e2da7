// Log entries: their exact text, the time stamp, and the caret after each.

#include "testsupport.h"

#include "log/LogEntry.h"
#include "log/LogStore.h"
#include "platform/NumConv.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using TestSupport::Window;

class TestEcho : public QObject
{
    Q_OBJECT
private slots:
    void init() { TestSupport::clearSettings(); }

    void timestamp_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("expected");
        QTest::newRow("morning") << QDateTime(QDate(2026, 12, 7), QTime(4, 0, 0)) << "12/7/2026 4:00:00 AM";
        QTest::newRow("afternoon") << QDateTime(QDate(2026, 1, 31), QTime(13, 5, 9))
                                   << "1/31/2026 1:05:09 PM";
        QTest::newRow("exactly midnight") << QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0)) << "12/7/2026";
        QTest::newRow("a second past midnight")
            << QDateTime(QDate(2026, 12, 7), QTime(0, 0, 1)) << "12/7/2026 12:00:01 AM";
        QTest::newRow("noon") << QDateTime(QDate(2030, 6, 1), QTime(12, 0, 0)) << "6/1/2030 12:00:00 PM";
    }
    void timestamp()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, expected);
        QCOMPARE(logTimestamp(when, QLocale(QLocale::English, QLocale::UnitedStates)), expected);
    }

    void timestampInOtherLocalesHasAFullYearAndNoZone_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
        QTest::newRow("British") << QLocale(QLocale::English, QLocale::UnitedKingdom);
        QTest::newRow("Turkish") << QLocale(QLocale::Turkish, QLocale::Turkey);
        QTest::newRow("C") << QLocale::c();
    }
    void timestampInOtherLocalesHasAFullYearAndNoZone()
    {
        QFETCH(QLocale, locale);
        const QString text = logTimestamp(QDateTime(QDate(2026, 12, 7), QTime(16, 5, 9)), locale);
        QVERIFY2(text.contains(QStringLiteral("2026")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("05")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("UTC")) && !text.contains(QStringLiteral("GMT")),
                 qPrintable(text));
        QVERIFY2(!text.contains(QLatin1Char('>')) && !text.contains(QLatin1Char('\r')), qPrintable(text));
    }

    void entryText_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("body");
        QTest::newRow("one item") << QStringList{"Server port closed."} << "Server port closed.\r\n";
        QTest::newRow("two items") << QStringList{"File open: ", "C:\\data\\lines.txt"}
                                   << "File open: \r\nC:\\data\\lines.txt\r\n";
        QTest::newRow("NUL kept, never a question mark")
            << QStringList{QString::fromLatin1("a\0b\0?", 5)} << QString::fromLatin1("a\0b\0?\r\n", 7);
        QTest::newRow("only NULs") << QStringList{QString(3, QChar(0))} << QString(3, QChar(0)) + "\r\n";
        QTest::newRow("empty first item") << QStringList{"", "x"} << "\r\nx\r\n";
        QTest::newRow("empty later item") << QStringList{"Sent:", "", ""} << "Sent:\r\n\r\n\r\n";
        QTest::newRow("line breaks kept") << QStringList{"a\r\nb", "c\nd\re"} << "a\r\nb\r\nc\nd\re\r\n";
        QTest::newRow("control and high characters kept")
            << QStringList{QString::fromLatin1("\x01\x1b\x7f\xff")}
            << QString::fromLatin1("\x01\x1b\x7f\xff\r\n");
        QTest::newRow("no items") << QStringList{} << "";
    }
    void entryText()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, body);
        Window w;
        w.find<QPushButton>("cmdClear")->click();
        const QString before = logTimestamp(QDateTime::currentDateTime(), QLocale::system());
        w->Echo(items);
        const QString after = logTimestamp(QDateTime::currentDateTime(), QLocale::system());
        const QString log = w.logBox()->text();
        QVERIFY(log.startsWith(QStringLiteral("\r\n<")));
        const qsizetype close = log.indexOf(QStringLiteral("> - "));
        QVERIFY(close > 2);
        const QString stamp = log.mid(3, close - 3);
        QVERIFY2(stamp == before || stamp == after, qPrintable(stamp));
        QCOMPARE(log.mid(close + 4), body);
    }

    void consecutiveEntriesAreSeparatedByOneEmptyLine()
    {
        Window w;
        w.find<QPushButton>("cmdClear")->click();
        w->Echo({"first"});
        w->Echo({"second", "more"});
        const QString log = w.logBox()->text();
        QVERIFY(log.contains(QStringLiteral("first\r\n\r\n<")));
        QCOMPARE(TestSupport::entryBodies(log), (QStringList{"first\r\n", "second\r\nmore\r\n"}));
    }

    void entriesFollowWhatTheUserTyped()
    {
        Window w;
        w.logBox()->setText(QStringLiteral("typed"));
        w->Echo({"x"});
        QVERIFY(w.logBox()->text().startsWith(QStringLiteral("typed\r\n<")));
    }

    void caretEndsAtTheEndHoweverLongTheLog()
    {
        Window w;
        w->Echo({"short"});
        QCOMPARE(w.logBox()->caretPosition(), w.logBox()->length());
        // Far past 65535 characters the newest entry must still be in view.
        w->Echo({QString(70000, QLatin1Char('x'))});
        w->Echo({"newest"});
        QCOMPARE(w.logBox()->caretPosition(), w.logBox()->length());
        QVERIFY(w.logBox()->isEnabled());
    }

    // The log is never replaced: an entry that cannot be written leaves
    // everything as it was and a short entry says so.
    void failingEntryKeepsTheLog()
    {
        Window w;
        w.find<QPushButton>("cmdClear")->click();
        w->Echo({"kept"});
        const QString before = w.logBox()->text();
        store(w).failNextAllocations(1, 0);
        w->Echo({"lost", "entry"});
        const QString log = w.logBox()->text();
        QVERIFY(log.startsWith(before));
        QCOMPARE(TestSupport::entryBodies(log),
                 (QStringList{"kept\r\n", "Out of memory: an entry of 9 characters was not written.\r\n"}));
        QCOMPARE(w.logBox()->caretPosition(), w.logBox()->length());
        QVERIFY(w.logBox()->isEnabled());
    }

    // When the log's file cannot grow, the log says so once and goes on with
    // its newest text behind a marker line.
    void diskFullIsSaidOnce()
    {
        Window w;
        LogStore& s = store(w);
        s.setWorkingSetLimit(2 * LogStore::ChunkChars);
        s.setFileLimit(LogStore::ChunkChars);
        QSignalSpy said(&s, &LogStore::diskFull);
        w.find<QPushButton>("cmdClear")->click();
        const QString item(LogStore::ChunkChars / 3, QLatin1Char('x'));
        for (int i = 0; i < 12; ++i)
            w->Echo({item});
        QTRY_VERIFY(w.logBox()->text().contains(QLatin1String("cannot grow")));
        for (int i = 0; i < 6; ++i)
            w->Echo({item});
        QTest::qWait(20);
        QCOMPARE(said.size(), 1);
        // The notice may be gone with the old text: the first line keeps its cause.
        const QString log = w.logBox()->text();
        QVERIFY(
            log.startsWith(QStringLiteral("... %1 characters dropped: no space left on the device for the "
                                          "log's file (No space left on device) ...\r\n")
                               .arg(CountText(s.droppedCharacters()))));
        QVERIFY(log.endsWith(item + QStringLiteral("\r\n")));
        QVERIFY(s.memoryBytes() <= 2 * LogStore::ChunkChars);
    }

private:
    static LogStore& store(const Window& w) { return dynamic_cast<LogView*>(w.logBox())->store(); }
};

KELVANE_TEST_MAIN(TestEcho)
#include "tst_echo.moc"
