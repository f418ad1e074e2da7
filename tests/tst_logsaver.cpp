#include "log/LogSaver.h"
#include "log/LogStore.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "storedtext.h"

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using namespace StoredText;

namespace {

// Every Latin-1 character, over and over.
QString allLatin1(qsizetype length)
{
    QString s(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i)
        s[i] = QChar(char16_t((i * 7) % 256));
    return s;
}

QByteArray contentsOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Waits for the save to end; the description of a failure, empty on success.
QString finish(LogSaver& saver, bool* utf8 = nullptr)
{
    QSignalSpy saved(&saver, &LogSaver::saved);
    QSignalSpy failed(&saver, &LogSaver::failed);
    if (!QTest::qWaitFor([&] { return !saved.isEmpty() || !failed.isEmpty(); }, 20000))
        return QStringLiteral("<still running>");
    if (utf8 && !saved.isEmpty())
        *utf8 = saved.at(0).at(1).toBool();
    return failed.isEmpty() ? QString() : failed.at(0).at(0).toString();
}

} // namespace

class TestLogSaver : public QObject
{
    Q_OBJECT

private slots:
    void writesExactBytes_data();
    void writesExactBytes();
    void leavesNoFileWhenItFails_data();
    void leavesNoFileWhenItFails();
    void cancelAroundTheRename_data();
    void cancelAroundTheRename();
};

void TestLogSaver::writesExactBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<qint64>("workingSet");
    // More than a block, so that the typed character stands where one block ends.
    const QString big = allLatin1(5 * Chunk + 77);
    for (qint64 workingSet : {InMemory, Spilling}) {
        const char* where = residence(workingSet);
        auto row = [&](const char* name) -> QTestData& { return QTest::addRow("%s: %s", where, name); };
        row("every Latin-1 character, one byte each") << big << QString() << false << workingSet;
        row("a character beyond Latin-1 makes it UTF-8")
            << big << QStringLiteral("\u20AC") << true << workingSet;
        row("a surrogate pair across blocks") << big << QStringLiteral("\U0001F600") << true << workingSet;
        // The typed character is gone again; its chunk still takes two bytes a character.
        row("Latin-1 again after the wide character went")
            << big << QStringLiteral("-") << false << workingSet;
    }
    QTest::newRow("an empty log, an empty file") << QString() << QString() << false << InMemory;
}

void TestLogSaver::writesExactBytes()
{
    QFETCH(QString, text);
    QFETCH(QString, edit);
    QFETCH(bool, utf8);
    QFETCH(qint64, workingSet);
    auto store = storeOf(text, workingSet);
    const qsizetype at = std::min(text.size(), LogSaver::BlockChars - 1);
    if (edit == QLatin1String("-")) {
        store->replace(at, 0, QStringLiteral("\u20AC"));
        store->replace(at, 1, QString());
    } else if (!edit.isEmpty()) {
        store->replace(at, 0, edit);
        text.insert(at, edit);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("saved.log"));
    // An older file of the name is replaced.
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("older and longer than nothing");
    old.close();

    LogSaver saver(store.get());
    QSignalSpy progress(&saver, &LogSaver::progress);
    saver.start(path);
    bool wasUtf8 = !utf8;
    QCOMPARE(finish(saver, &wasUtf8), QString());
    QCOMPARE(wasUtf8, utf8);
    const QByteArray expected = utf8 ? text.toUtf8() : text.toLatin1();
    QVERIFY(contentsOf(path) == expected);
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("saved.log")});
    QCOMPARE(progress.last().at(0).toLongLong(), store->size());
    QVERIFY(store->mid(0, store->size()) == text); // the log is only read
}

void TestLogSaver::leavesNoFileWhenItFails_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("failure");
    QTest::newRow("cancelled") << ""
                               << "cancel"
                               << "";
    QTest::newRow("the log cleared meanwhile") << ""
                                               << "clear"
                                               << "changed or cleared while it was being saved";
    QTest::newRow("the log edited meanwhile") << ""
                                              << "edit"
                                              << "changed or cleared while it was being saved";
    // A process limit on file size fails the writes as a full disk does.
    QTest::newRow("the file cannot grow, as on a full disk") << ""
                                                             << "limit"
                                                             << "File too large";
    QTest::newRow("no such folder") << "missing/deeper"
                                    << ""
                                    << "No such file or directory";
    QTest::newRow("a file in place of the folder") << "afile"
                                                   << ""
                                                   << "";
    QTest::newRow("a folder without write permission") << "readonly"
                                                       << ""
                                                       << "Permission denied";
}

void TestLogSaver::leavesNoFileWhenItFails()
{
    QFETCH(QString, folder);
    QFETCH(QString, action);
    QFETCH(QString, failure);
    if (folder == QLatin1String("readonly") && ::geteuid() == 0)
        QSKIP("root writes into any folder");
    QTemporaryDir dir;
    QFile(dir.filePath(QStringLiteral("afile"))).open(QIODevice::WriteOnly);
    QDir(dir.path()).mkdir(QStringLiteral("readonly"));
    QFile::setPermissions(dir.filePath(QStringLiteral("readonly")), QFile::ReadOwner | QFile::ExeOwner);
    const QString target =
        dir.filePath(folder.isEmpty() ? QStringLiteral("log.txt") : folder + QStringLiteral("/log.txt"));
    // A file of the name stays as it was.
    if (folder.isEmpty()) {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older");
    }
    const QStringList before = filesIn(dir.path());
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    if (action == QLatin1String("limit")) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = unlimited;
        small.rlim_cur = 2 * LogSaver::BlockChars;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }

    // Enough text for many blocks, so the save is still under way after start().
    auto store = storeOf(allLatin1(32 * LogSaver::BlockChars), InMemory);
    LogSaver saver(store.get());
    QSignalSpy saved(&saver, &LogSaver::saved);
    QSignalSpy failed(&saver, &LogSaver::failed);
    saver.start(target);
    QCoreApplication::processEvents();
    if (action == QLatin1String("cancel"))
        saver.cancel();
    else if (action == QLatin1String("clear"))
        store->clear();
    else if (action == QLatin1String("edit"))
        store->replace(5, 1, QStringLiteral("x"));
    QTest::qWait(100);
    QTRY_VERIFY(!saver.isRunning());
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    QCOMPARE(saved.size(), 0);
    QCOMPARE(failed.size(), action == QLatin1String("cancel") ? 0 : 1);
    if (!failed.isEmpty()) {
        const QString description = failed.at(0).at(0).toString();
        QVERIFY2(description.startsWith(QStringLiteral("The log was not saved to ") + target),
                 qPrintable(description));
        QVERIFY2(description.contains(failure), qPrintable(description));
    }
    QCOMPARE(contentsOf(target), folder.isEmpty() ? QByteArray("older") : QByteArray("<no file>"));
    QCOMPARE(filesIn(dir.path()), before);
    QFile::setPermissions(dir.filePath(QStringLiteral("readonly")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestLogSaver::cancelAroundTheRename_data()
{
    QTest::addColumn<bool>("renamed"); // where the writer is held when the cancel comes
    QTest::newRow("on the disk, not yet renamed: the old file stays") << false;
    QTest::newRow("renamed: the new file stays, and the cancel is too late") << true;
}

void TestLogSaver::cancelAroundTheRename()
{
    QFETCH(bool, renamed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("older") == 5 && old.flush());
    const QString text = allLatin1(3 * LogSaver::BlockChars + 5);
    auto store = storeOf(text, InMemory);
    auto saver = std::make_unique<LogSaver>(store.get());
    saver->holdAtRename(renamed);
    saver->start(path);
    QTRY_VERIFY(saver->isHeldAtRename());
    QCOMPARE(saver->cancel(), !renamed);
    saver->releaseRename();
    saver.reset(); // once the writer and the file have gone
    QVERIFY(contentsOf(path) == (renamed ? text.toLatin1() : QByteArray("older")));
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("log.txt")});
}

QTEST_GUILESS_MAIN(TestLogSaver)
#include "tst_logsaver.moc"
