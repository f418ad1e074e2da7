// Capture to a file: the record against the log, failures, a kill, a restart; milliseconds.

#include "loopback.h"
#include "testsupport.h"

#include "log/LogCapture.h"
#include "log/LogStore.h"
#include "ui/StatusLine.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProcess>

#include <cerrno>
#include <cstdio>
#include <numeric>

using TestSupport::Window;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The child's appends: every byte value, in lines of their own number.
QByteArray childLine(qint64 i)
{
    return QByteArray::number(i) + ':' + char(i & 0xFF) + char(i * 7 & 0xFF) + "\r\n";
}

void capture(const Window& w, const QString& path, int answer = 1)
{
    w.captureReplies->push_back({0, path});
    w.answers->append(answer);
    w.find<QAction>(QStringLiteral("mnTools_Capture"))->trigger();
}

void stopCapture(const Window& w)
{
    w.find<QAction>(QStringLiteral("mnTools_StopCapture"))->trigger();
    QTRY_VERIFY(!w.find<LogCapture>(QStringLiteral("logCapture"))->isBusy());
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT
private slots:
    void init() { TestSupport::clearSettings(); }

    void recordMatchesLog_data()
    {
        QTest::addColumn<bool>("flat");
        QTest::addColumn<bool>("clear");
        QTest::addColumn<QByteArray>("before"); // the file's bytes before; null: no file
        QTest::addColumn<int>("answer");        // to append (0) or replace (1)
        QTest::newRow("flat view, new file") << true << false << QByteArray() << -1;
        QTest::newRow("entries, across Clear") << false << true << QByteArray() << -1;
        QTest::newRow("flat view across Clear, appended") << true << true << QByteArray("kept\r\n") << 0;
        QTest::newRow("entries, replacing") << false << false << QByteArray("gone") << 1;
    }
    void recordMatchesLog()
    {
        QFETCH(bool, flat);
        QFETCH(bool, clear);
        QFETCH(QByteArray, before);
        QFETCH(int, answer);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("record.log"));
        QFile file(path);
        QVERIFY(before.isNull() || (file.open(QIODevice::WriteOnly) && file.write(before) && file.flush()));
        Window w;
        w.find<ToggleButton>(QStringLiteral("chkFlat"))->setValue(flat ? 1 : 0);
        QTcpServer server;
        QTcpSocket* peer = Loopback::connectClient(*w.socket(), server);
        QVERIFY(peer);
        qsizetype from = w.logBox()->length();
        capture(w, path, answer);
        QByteArray expected = answer == 0 ? before : QByteArray();
        QByteArray all(256, 0);
        std::iota(all.begin(), all.end(), 0);
        for (int round = 0; round < 2; ++round) {
            const qsizetype length = w.logBox()->length();
            peer->write(all);
            QTRY_VERIFY(w.logBox()->text().mid(length).contains(flat ? QString::fromLatin1(all) : "FF"));
            expected += w.logBox()->text().mid(from).toLatin1();
            from = w.logBox()->length();
            if (clear && round == 0) {
                w.find<QPushButton>(QStringLiteral("cmdClear"))->click();
                from = 0;
                expected += "\r\n<> - The log was cleared; the capture goes on.\r\n";
            }
        }
        stopCapture(w);
        const QByteArray record = fileBytes(path);
        QCOMPARE(QString::fromLatin1(record)
                     .replace(QRegularExpression(QStringLiteral("<[^<>\r\n]*> - The log was cleared")),
                              QStringLiteral("<> - The log was cleared"))
                     .toLatin1(),
                 expected);
        QCOMPARE(w.entries().last(), QStringLiteral("Capture to %1 stopped; the file holds %2.\r\n")
                                         .arg(QDir::toNativeSeparators(path), byteSize(record.size())));
    }

    void failureStopsCaptureAndLogGoesOn_data()
    {
        QTest::addColumn<QString>("path"); // in a folder of the test's own
        QTest::addColumn<qint64>("backlog");
        QTest::addColumn<QString>("entry");
        const qint64 room = LogCapture::BacklogBytes;
        const QString after = "stopped after 0 bytes written: ", at = "not started: ";
        QTest::newRow("full disk") << "/dev/full" << room << after + qt_error_string(ENOSPC);
        QTest::newRow("disk behind") << "x.log" << qint64(0) << after + "the disk fell more than 0 MB behind";
        QTest::newRow("missing folder") << "gone/x.log" << room << at + qt_error_string(ENOENT);
        QTest::newRow("a folder") << "" << room << at + qt_error_string(EISDIR);
    }
    void failureStopsCaptureAndLogGoesOn()
    {
        QFETCH(QString, path);
        QFETCH(qint64, backlog);
        QFETCH(QString, entry);
        QTemporaryDir dir;
        path = QDir::cleanPath(QDir(dir.path()).filePath(path));
        Window w;
        w.find<LogCapture>(QStringLiteral("logCapture"))->setBacklogLimit(backlog);
        capture(w, path);
        QTRY_COMPARE(w.entries().last(),
                     ("Capture to %1 " + entry + "\r\n").arg(QDir::toNativeSeparators(path)));
        w->Echo({"on"});
        QCOMPARE(w.entries().last(), QStringLiteral("on\r\n"));
        QVERIFY(w.find<QAction>(QStringLiteral("mnTools_Capture"))->isEnabled());
    }

    // The window that was capturing when it closed captures again; and time
    // stamps as they always were, then with milliseconds once checked.
    void restartResumesAppending()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("soak.log"));
        const QRegularExpression seconds(":\\d\\d> - x\r\n$"), milliseconds(":\\d\\d\\.\\d{3}> - x\r\n$");
        QByteArray expected;
        {
            // A window that never captured, closed last, leaves the capture to resume.
            Window idle;
            Window w;
            const qsizetype from = w.logBox()->length();
            capture(w, path);
            w->Echo({"x"});
            QVERIFY(seconds.match(w.logBox()->text()).hasMatch());
            expected = w.logBox()->text().mid(from).toLatin1();
            w.find<QAction>(QStringLiteral("mnTools_Milliseconds"))->trigger();
            w->close();
            // Both windows keep milliseconds; only w was capturing.
            idle.find<QAction>(QStringLiteral("mnTools_Milliseconds"))->trigger();
            idle->close();
        }
        QCOMPARE(TestSupport::storedSetting(Settings::Milliseconds), QStringLiteral("1"));
        Window w;
        QCOMPARE(w.entries().last(), "Capturing to " + QDir::toNativeSeparators(path) +
                                         " again, appending, as when the window closed.\r\n");
        const qsizetype from = w.logBox()->text().lastIndexOf("\r\n<");
        w->Echo({"x"});
        QVERIFY(milliseconds.match(w.logBox()->text()).hasMatch());
        expected += w.logBox()->text().mid(from).toLatin1();
        stopCapture(w);
        QCOMPARE(fileBytes(path), expected);
        w->close();
        QCOMPARE(TestSupport::storedSetting(Settings::CaptureFile), QString());
    }

    // The child of killedChildLosesAtMostTheLastSecond, telling how much it appended; idle in the suite.
    void childCapturing()
    {
        const QString path = qEnvironmentVariable("KELVANE_CAPTURE_CHILD");
        if (path.isEmpty())
            return;
        LogStore store;
        QVERIFY((new LogCapture(&store))->start(path, false).isEmpty());
        for (qint64 i = 0;; ++i) {
            store.append(childLine(i));
            if (i % 256 == 0) {
                QCoreApplication::processEvents();
                std::printf("%lld\n", qint64(store.size()));
                std::fflush(stdout);
            }
        }
    }

    void killedChildLosesAtMostTheLastSecond()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("killed.log"));
        QProcess child;
        qputenv("KELVANE_CAPTURE_CHILD", path.toLocal8Bit());
        child.start(QCoreApplication::applicationFilePath(), {"childCapturing"});
        // The child's count told 1.5 s after it began is on the disk once it is killed a second later.
        qint64 told = 0, safe = 0;
        QElapsedTimer clock;
        QVERIFY(QTest::qWaitFor(
            [&] {
                while (child.canReadLine())
                    told = child.readLine().toLongLong();
                if (told > 0 && !clock.isValid())
                    clock.start();
                if (clock.isValid() && clock.elapsed() < 1500)
                    safe = told;
                return clock.isValid() && clock.elapsed() > 2500;
            },
            20000));
        child.kill();
        QVERIFY(child.waitForFinished());
        const QByteArray record = fileBytes(path);
        QVERIFY(record.size() >= safe && safe > 0);
        QByteArray stream;
        for (qint64 i = 0; stream.size() < record.size(); ++i)
            stream += childLine(i);
        QCOMPARE(record, stream.left(record.size()));
    }
};

KELVANE_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
