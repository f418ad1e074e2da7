// Capture to a file: the record against what the log received, its failures,
// a kill in the middle, a restart; and time stamps to the millisecond.

#include "testsupport.h"

#include "log/LogCapture.h"
#include "log/LogEntry.h"
#include "log/LogStore.h"
#include "ui/StatusLine.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstdio>

using TestSupport::Window;

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The child's appends: every byte value, in lines of their own number.
QByteArray childLine(qint64 i)
{
    QByteArray line = QByteArray::number(i) + ':';
    for (int k = 0; k < 5; ++k)
        line += char((i * 5 + k) & 0xFF);
    return line + "\r\n";
}

void capture(const Window& w, const QString& path, int answer = 1)
{
    w.captureReplies->push_back({0, path});
    w.answers->append(answer);
    w.find<QAction>(QStringLiteral("mnTools_Capture"))->trigger();
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
        if (!before.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        }
        Window w;
        w.find<ToggleButton>(QStringLiteral("chkFlat"))->setValue(flat ? 1 : 0);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QVERIFY(TestSupport::connectTcpClient(w, server.serverPort()));
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket* peer = server.nextPendingConnection();
        qsizetype from = w.logBox()->length();
        capture(w, path, answer);
        QByteArray expected = answer == 0 ? before : QByteArray();
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all += char(i);
        for (int round = 0; round < 2; ++round) {
            const qsizetype length = w.logBox()->length();
            peer->write(all);
            QTRY_VERIFY(w.logBox()->text().mid(length).contains(flat ? QString::fromLatin1(all) : "FF"));
            expected += w.logBox()->text().mid(from).toLatin1();
            if (clear && round == 0) {
                w.find<QPushButton>(QStringLiteral("cmdClear"))->click();
                from = 0;
                expected +=
                    logEntry(QByteArrayList{"The log was cleared; the capture goes on."}, QByteArray());
            } else if (round == 0) {
                from = w.logBox()->length();
            }
        }
        w.find<QAction>(QStringLiteral("mnTools_StopCapture"))->trigger();
        QTRY_VERIFY(!w.find<LogCapture>(QStringLiteral("logCapture"))->isBusy());
        const QByteArray record = fileBytes(path);
        // The note's time stamp is its own; the rest is compared whole.
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
        QTest::newRow("full disk") << "/dev/full" << LogCapture::BacklogBytes
                                   << "Capture to %1 stopped after 0 bytes written: " +
                                          qt_error_string(ENOSPC);
        QTest::newRow("disk behind")
            << "x.log" << qint64(0)
            << "Capture to %1 stopped after 0 bytes written: the disk fell more than 0 "
               "MB behind";
        QTest::newRow("missing folder") << "gone/x.log" << LogCapture::BacklogBytes
                                        << "Capture to %1 not started: " + qt_error_string(ENOENT);
        QTest::newRow("a folder") << "" << LogCapture::BacklogBytes
                                  << "Capture to %1 not started: " + qt_error_string(EISDIR);
    }
    void failureStopsCaptureAndLogGoesOn()
    {
        QFETCH(QString, path);
        QFETCH(qint64, backlog);
        QFETCH(QString, entry);
        QTemporaryDir dir;
        path = QDir(dir.path()).filePath(path);
        Window w;
        w.find<LogCapture>(QStringLiteral("logCapture"))->setBacklogLimit(backlog);
        capture(w, path);
        QTRY_COMPARE(w.entries().last(), entry.arg(QDir::toNativeSeparators(QDir::cleanPath(path))) + "\r\n");
        w->Echo({"on"});
        QCOMPARE(w.entries().last(), QStringLiteral("on\r\n"));
        QVERIFY(w.find<QAction>(QStringLiteral("mnTools_Capture"))->isEnabled());
    }

    void restartResumesAppending()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("soak.log"));
        QByteArray expected;
        {
            Window w;
            const qsizetype from = w.logBox()->length();
            capture(w, path);
            w->Echo({"first window"});
            expected = w.logBox()->text().mid(from).toLatin1();
            w->close();
        }
        QCOMPARE(TestSupport::storedSetting(Settings::CaptureFile), path);
        Window w;
        QCOMPARE(w.entries().last(), "Capturing to " + QDir::toNativeSeparators(path) +
                                         " again, appending, as when the window closed.\r\n");
        const qsizetype from = w.logBox()->text().lastIndexOf("\r\n<");
        w->Echo({"second window"});
        expected += w.logBox()->text().mid(from).toLatin1();
        w.find<QAction>(QStringLiteral("mnTools_StopCapture"))->trigger();
        QTRY_VERIFY(!w.find<LogCapture>(QStringLiteral("logCapture"))->isBusy());
        QCOMPARE(fileBytes(path), expected);
        w->close();
        QCOMPARE(TestSupport::storedSetting(Settings::CaptureFile), QString());
    }

    void milliseconds_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("stamp"); // how the time stamp ends
        QTest::newRow("unchecked, as always") << "0"
                                              << ":\\d\\d$";
        QTest::newRow("checked") << "1"
                                 << ":\\d\\d\\.\\d{3}$";
    }
    void milliseconds()
    {
        QFETCH(QString, stored);
        QFETCH(QString, stamp);
        TestSupport::storeSetting(Settings::Milliseconds, stored);
        Window w;
        QCOMPARE(w.find<QAction>(QStringLiteral("mnTools_Milliseconds"))->isChecked(), stored == "1");
        w->Echo({"x"});
        const QString log = w.logBox()->text();
        const qsizetype open = log.lastIndexOf("\r\n<") + 3;
        QVERIFY2(QRegularExpression(stamp).match(log.mid(open, log.lastIndexOf("> - ") - open)).hasMatch(),
                 qPrintable(log.mid(open)));
        QCOMPARE(logTimestamp(QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0, 7)),
                              QLocale(QLocale::English, QLocale::UnitedStates), stored == "1"),
                 stored == "1" ? "12/7/2026 12:00:00.007 AM" : "12/7/2026 12:00:00 AM");
        w.find<QAction>(QStringLiteral("mnTools_Milliseconds"))->toggle();
        w->close();
        QCOMPARE(TestSupport::storedSetting(Settings::Milliseconds), stored == "1" ? "0" : "1");
    }

    // Run as a child by killedChildLosesAtMostTheLastSecond: captures for ever,
    // telling how much it appended. Does nothing in a run of the suite.
    void childCapturing()
    {
        const QString path = qEnvironmentVariable("KELVANE_CAPTURE_CHILD");
        if (path.isEmpty())
            return;
        LogStore store;
        auto* capture = new LogCapture(&store);
        QVERIFY(capture->start(path, false).isEmpty());
        for (qint64 i = 0, total = 0;; ++i) {
            const QByteArray line = childLine(i);
            store.append(line);
            total += line.size();
            if (i % 256 == 0) {
                QCoreApplication::processEvents();
                std::printf("%lld\n", total);
                std::fflush(stdout);
            }
        }
    }

    void killedChildLosesAtMostTheLastSecond()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("killed.log"));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KELVANE_CAPTURE_CHILD", path);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"childCapturing"});
        QVERIFY(child.waitForStarted());
        // How much the child had appended, by the time it said so.
        QList<QPair<qint64, qint64>> told;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QTest::qWaitFor(
            [&] {
                while (child.canReadLine())
                    told.append({clock.elapsed(), child.readLine().trimmed().toLongLong()});
                return !told.isEmpty() && clock.elapsed() - told.first().first > 2500;
            },
            20000));
        const qint64 killedAt = clock.elapsed();
        child.kill();
        QVERIFY(child.waitForFinished());
        qint64 safe = 0;
        for (const auto& [at, total] : told)
            if (at <= killedAt - 1000)
                safe = total;
        const QByteArray record = fileBytes(path);
        QVERIFY2(record.size() >= safe, qPrintable(QString("%1 of %2").arg(record.size()).arg(safe)));
        QByteArray stream;
        for (qint64 i = 0; stream.size() < record.size(); ++i)
            stream += childLine(i);
        QCOMPARE(record, stream.left(record.size()));
    }
};

KELVANE_TEST_MAIN(TestCapture)
#include "tst_capture.moc"
