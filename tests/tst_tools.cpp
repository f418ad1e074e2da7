// The Tools menu in the window: recall in the line box across a restart,
// saved commands sent by menu and by Ctrl+1, the [Commands] entries a hand
// edit broke, Import and Export, repeating a line to a loopback peer, and
// automatic replies from a hand-edited [Replies].

#include "testsupport.h"

#include "loopback.h"
#include "ui/CommandsDialog.h"
#include "ui/LineBox.h"
#include "ui/RepeatDialog.h"
#include "ui/RepliesDialog.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>
#include <QTcpServer>

using TestSupport::body;
using TestSupport::Window;

namespace {

using Rows = QList<QStringList>; // Name, Text, Hex, CrLf

void storeCommands(const Rows& rows)
{
    QSettings s = TestSupport::rawSettings();
    s.beginWriteArray(QStringLiteral("Commands"));
    for (int i = 0; i < rows.size(); ++i) {
        s.setArrayIndex(i);
        const QStringList keys{QStringLiteral("Name"), QStringLiteral("Text"), QStringLiteral("Hex"),
                               QStringLiteral("CrLf")};
        for (int k = 0; k < keys.size(); ++k)
            if (rows[i].value(k) != QStringLiteral("<absent>"))
                s.setValue(keys[k], rows[i].value(k));
    }
    s.endArray();
}

QStringList menuNames(const Window& w)
{
    QStringList names;
    for (QAction* a : w.find<QMenu>(QStringLiteral("mnTools_Commands"))->actions())
        names.append(a->objectName() + QLatin1Char('=') + a->text());
    return names;
}

void trigger(const Window& w, const QString& action)
{
    w.find<QAction>(action)->trigger();
}

void press(const Window& w, int key)
{
    QTest::keyClick(w.find<LineBox>(QStringLiteral("txtLine")), Qt::Key(key));
}

// What the line box holds, and in which mode: "41 42 (HEX)".
QString lineBox(const Window& w)
{
    return w.find<LineBox>(QStringLiteral("txtLine"))->text() +
           (w.find<OptionArray>(QStringLiteral("optMode"))->value(1) ? QStringLiteral(" (HEX)")
                                                                     : QStringLiteral(" (ASCII)"));
}

// The window as a TCP client of a test server; the server's end of the connection.
QTcpSocket* connectPeer(const Window& w, QTcpServer& server)
{
    server.listen(QHostAddress::LocalHost, 0);
    return TestSupport::connectTcpClient(w, server.serverPort()) ? Loopback::takeClient(server) : nullptr;
}

bool receives(QTcpSocket* peer, const QByteArray& expected)
{
    QByteArray got;
    const bool whole = QTest::qWaitFor([&] { return (got += peer->readAll()).size() >= expected.size(); });
    QTest::qWait(50); // nothing more follows
    got += peer->readAll();
    if (!whole || got != expected)
        qWarning() << "received" << got.left(200) << "of" << got.size() << "bytes";
    return got == expected;
}

template <typename Dialog> Dialog* openDialog(const Window& w, const QString& action, const QString& name)
{
    trigger(w, action);
    return w.find<Dialog>(name);
}

// The stand-in Redis of the README as the settings file holds it, with a
// third rule that cannot work; returns the file's path.
QString storeRedisRules()
{
    // ' stands for a double quote here: moc misreads one alone in a raw string.
    QFile ini(TestSupport::rawSettings().fileName());
    QDir().mkpath(QFileInfo(ini).absolutePath());
    ini.open(QIODevice::WriteOnly | QIODevice::Truncate);
    ini.write(QByteArray(R"ini([Replies]
Enabled=1
Delimiter=
Rule\1\On=1
Rule\1\Match=contains
Rule\1\Pattern=PING
Rule\1\PatternHex=0
Rule\1\Reply=+PONG
Rule\1\ReplyHex=0
Rule\1\CrLf=1
Rule\1\Delay=0
Rule\2\On=1
Rule\2\Match=regex
Rule\2\Pattern='ECHO\\r\\n\\$(\\d+)\\r\\n([^\\r]*)\\r\\n'
Rule\2\PatternHex=0
Rule\2\Reply='\'$\' \\1 0D 0A \\2 0D 0A'
Rule\2\ReplyHex=1
Rule\2\CrLf=0
Rule\2\Delay=0
Rule\3\On=1
Rule\3\Match=regex
Rule\3\Pattern=(
Rule\3\Reply=x
Rule\3\PatternHex=0
Rule\3\ReplyHex=0
Rule\3\CrLf=0
Rule\size=3
)ini")
                  .replace('\'', '"'));
    ini.close();
    return ini.fileName();
}

} // namespace

class TestTools : public QObject
{
    Q_OBJECT
private slots:
    void init() { TestSupport::clearSettings(); }

    void recallAcrossARestartKeepsTheDraftAndTheMode()
    {
        const QString longLine(LineHistory::MaxSavedChars + 1, QLatin1Char('x'));
        {
            Window w;
            QTcpServer server;
            QVERIFY(connectPeer(w, server));
            for (const HistoryLine& line :
                 {HistoryLine{longLine, false}, HistoryLine{QStringLiteral("one"), false},
                  HistoryLine{QStringLiteral("41 42"), true}, HistoryLine{QStringLiteral("41 42"), true}}) {
                w.find<OptionArray>(QStringLiteral("optMode"))->setValue(line.hex ? 1 : 0, true);
                w.find<LineBox>(QStringLiteral("txtLine"))->setText(line.text);
                w.find<QPushButton>(QStringLiteral("cmdSend1"))->click();
            }
            // Over 64 KB: recalled in this window.
            for (int i = 0; i < 3; ++i)
                press(w, Qt::Key_Up);
            QCOMPARE(lineBox(w), longLine + QStringLiteral(" (ASCII)"));
            w->close();
        }
        Window w;
        w.find<LineBox>(QStringLiteral("txtLine"))->setText(QStringLiteral("draft"));
        QStringList seen;
        for (int key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}) {
            press(w, key);
            seen.append(lineBox(w) + QStringLiteral(" CR LF ") +
                        QString::number(w.find<CheckBox>(QStringLiteral("chkAppenCrLf"))->value()));
        }
        // Sent twice in a row, kept once; the long line not saved.
        QCOMPARE(seen,
                 QStringList({"41 42 (HEX) CR LF 0", "one (ASCII) CR LF 1", "one (ASCII) CR LF 1",
                              "41 42 (HEX) CR LF 0", "draft (ASCII) CR LF 1", "draft (ASCII) CR LF 1"}));
    }

    void commandSentWhateverTheWindowsOptions_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<bool>("byCtrl1FromTheLog");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("entry");
        QTest::newRow("ASCII command with CR LF, window in HEX")
            << false << false << true << QByteArray("STATUS?\r\n") << body({"Sent:", "STATUS?\r\n"});
        QTest::newRow("HEX command, window in ASCII with CR LF")
            << true << false << true << QByteArray("RST\r\n") << body({"Sent:", "RST\r\n", "52 53 54 0D 0A"});
        QTest::newRow("Ctrl+1 from the log")
            << false << true << true << QByteArray("STATUS?\r\n") << body({"Sent:", "STATUS?\r\n"});
        QTest::newRow("not connected") << false << false << false << QByteArray() << body({"Not connected."});
    }
    void commandSentWhateverTheWindowsOptions()
    {
        QFETCH(bool, hex);
        QFETCH(bool, byCtrl1FromTheLog);
        QFETCH(bool, connected);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, entry);
        Window w;
        w.find<OptionArray>(QStringLiteral("optMode"))->setValue(hex ? 1 : 0, true);
        w.find<LineBox>(QStringLiteral("txtLine"))->setText(hex ? "\"RST\" 0D 0A" : "STATUS?");
        w.names->append(QStringLiteral("Status"));
        trigger(w, QStringLiteral("mnTools_SaveCommand"));
        QCOMPARE(menuNames(w), QStringList{"mnTools_Command1=Status"});
        // The other mode, another line, Show sent lines checked.
        w.find<OptionArray>(QStringLiteral("optMode"))->setValue(hex ? 0 : 1, true);
        w.find<LineBox>(QStringLiteral("txtLine"))->setText(QStringLiteral("00"));
        QTcpServer server;
        QTcpSocket* peer = connected ? connectPeer(w, server) : nullptr;
        QVERIFY(peer || !connected);
        if (byCtrl1FromTheLog) {
            w->show();
            QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
            w.logBox()->setFocus();
            QTRY_VERIFY(w.logBox()->hasFocus());
            QTest::keyClick(w.logBox(), Qt::Key_1, Qt::ControlModifier);
        } else {
            trigger(w, QStringLiteral("mnTools_Command1"));
        }
        QCOMPARE(w.entries().last(), entry);
        QVERIFY(!peer || receives(peer, bytes));
        QCOMPARE(lineBox(w), hex ? QStringLiteral("00 (ASCII)") : QStringLiteral("00 (HEX)"));
    }

    void aBrokenCommandsEntryIsSkippedAndTold_data()
    {
        QTest::addColumn<QStringList>("broken");
        QTest::addColumn<QString>("why");
        QTest::newRow("unclosed quote")
            << QStringList{"Reset", "\"RST 0D", "1", "0"}
            << "Command 2 (Reset) in [Commands] of %1 skipped: Unclosed quotion mark";
        QTest::newRow("Hex neither 1 nor 0")
            << QStringList{"Reset", "RST", "yes", "0"}
            << "Command 2 (Reset) in [Commands] of %1 skipped: Hex is \"yes\", "
               "not 1 or 0";
        QTest::newRow("no Text") << QStringList{"Reset", "<absent>", "0", "0"}
                                 << "Command 2 (Reset) in [Commands] of %1 skipped: no Text";
        QTest::newRow("no name") << QStringList{"", "RST", "0", "0"}
                                 << "Command 2 in [Commands] of %1 skipped: no name";
    }
    void aBrokenCommandsEntryIsSkippedAndTold()
    {
        QFETCH(QStringList, broken);
        QFETCH(QString, why);
        storeCommands({{"Status", "STATUS?", "0", "1"}, broken, {"Poll", "50 4F", "1", "0"}});
        Window w;
        QCOMPARE(menuNames(w), QStringList({"mnTools_Command1=Status", "mnTools_Command2=Poll"}));
        QVERIFY(w.entries().contains(body({why.arg(TestSupport::rawSettings().fileName())})));
    }

    void aSecondWindowLeavesTheCommandsItDidNotChange()
    {
        storeCommands({{"Status", "STATUS?", "0", "1"}});
        Window first;
        Window second;
        first.names->append(QStringLiteral("Reset"));
        trigger(first, QStringLiteral("mnTools_SaveCommand"));
        first->close();
        second->close();
        QCOMPARE(menuNames(Window()), QStringList({"mnTools_Command1=Status", "mnTools_Command2=Reset"}));
    }

    void importReadsWhatExportWrote()
    {
        const Rows rows{{"Quotes, commas & more", "say \"hi\", then; \\ bye", "0", "1"},
                        {"Reset", "\"RST\" 0D 0A", "1", "0"},
                        {"No line end", "", "0", "0"}};
        storeCommands(rows);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("team.ini"));
        Window w;
        w.commandFileReplies->push_back({0, path});
        w.commandFileReplies->push_back({0, path});
        auto* dialog = openDialog<CommandsDialog>(w, QStringLiteral("mnTools_EditCommands"), "dlgCommands");
        const QList<Command> original = dialog->commands();
        QCOMPARE(original.size(), 3);
        w.find<QPushButton>(QStringLiteral("cmdExportCommands"))->click();
        for (int i = 0; i < 3; ++i)
            w.find<QPushButton>(QStringLiteral("cmdRemoveCommand"))->click();
        QCOMPARE(dialog->commands().size(), 0);
        w.find<QPushButton>(QStringLiteral("cmdImportCommands"))->click();
        QCOMPARE(dialog->commands(), original);
        // A HEX text tells what it sends, as the information line does.
        w.find<QTableWidget>(QStringLiteral("tblCommands"))->setCurrentCell(1, 0);
        QCOMPARE(w.find<QLabel>(QStringLiteral("lblCommandNote"))->text(), QStringLiteral("HEX: 5 bytes"));
        QCOMPARE(w.entries().mid(w.entries().size() - 2),
                 QStringList(
                     {body({"3 commands exported to " + path}), body({"3 commands imported from " + path})}));
        // Edited in place, kept by OK, and saved with the settings.
        w.find<QTableWidget>(QStringLiteral("tblCommands"))->item(0, 0)->setText(QStringLiteral("A & B"));
        w.find<QPushButton>(QStringLiteral("cmdCommandsOK"))->click();
        const QStringList menu{"mnTools_Command1=A && B", "mnTools_Command2=Reset",
                               "mnTools_Command3=No line end"};
        QCOMPARE(menuNames(w), menu);
        w->close();
        QCOMPARE(menuNames(Window()), menu);
        // The file is in the settings' own form.
        QSettings file(path, QSettings::IniFormat);
        QCOMPARE(file.beginReadArray(QStringLiteral("Commands")), 3);
        file.setArrayIndex(1);
        QCOMPARE(file.value(QStringLiteral("Text")).toString() + file.value(QStringLiteral("Hex")).toString(),
                 QStringLiteral("\"RST\" 0D 0A1"));
    }

    void theRepeatDialogRefusesBadValuesAndRemembersGoodOnes()
    {
        {
            Window w;
            auto* dialog = openDialog<RepeatDialog>(w, QStringLiteral("mnTools_Repeat"), "dlgRepeat");
            for (const QString& times :
                 {QStringLiteral("1,000,000,001"), QStringLiteral("-1"), QStringLiteral("5x")}) {
                w.find<QLineEdit>(QStringLiteral("txtRepeatTimes"))->setText(times);
                w.find<QPushButton>(QStringLiteral("cmdRepeatOK"))->click();
                QVERIFY2(dialog->isVisible(), qPrintable(times));
                QVERIFY(
                    w.find<QLabel>(QStringLiteral("lblRepeatProblem"))->text().startsWith("Times must be"));
            }
            w.find<QLineEdit>(QStringLiteral("txtRepeatTimes"))->setText(QStringLiteral("5"));
            w.find<QLineEdit>(QStringLiteral("txtRepeatInterval"))->setText(QStringLiteral("250"));
            QTest::keyClick(w.find<QLineEdit>(QStringLiteral("txtRepeatInterval")), Qt::Key_Return);
            QTRY_VERIFY(!w->findChild<RepeatDialog*>());
            QCOMPARE(w.entries().last(), body({"Not connected."}));
            w->close();
        }
        Window w;
        openDialog<RepeatDialog>(w, QStringLiteral("mnTools_Repeat"), "dlgRepeat");
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("txtRepeatTimes"))->text() + QLatin1Char('/') +
                     w.find<QLineEdit>(QStringLiteral("txtRepeatInterval"))->text(),
                 QStringLiteral("5/250"));
    }

    void repeatSendsExactlyTheCountThenStopsWhenAsked()
    {
        Window w;
        QTcpServer server;
        QTcpSocket* peer = connectPeer(w, server);
        QVERIFY(peer);
        w.find<CheckBox>(QStringLiteral("chkShow"))->setValue(0);
        w.find<LineBox>(QStringLiteral("txtLine"))->setText(QStringLiteral("ping"));
        auto repeat = [&](const QString& times, const QString& interval) {
            openDialog<RepeatDialog>(w, QStringLiteral("mnTools_Repeat"), "dlgRepeat");
            w.find<QLineEdit>(QStringLiteral("txtRepeatTimes"))->setText(times);
            w.find<QLineEdit>(QStringLiteral("txtRepeatInterval"))->setText(interval);
            w.find<QPushButton>(QStringLiteral("cmdRepeatOK"))->click();
        };
        repeat(QStringLiteral("500"), QStringLiteral("0"));
        QTRY_COMPARE(w.entries().last(), body({"Repeated 500 times."}));
        QVERIFY(receives(peer, QByteArray("ping\r\n").repeated(500)));

        // Until stopped, at an interval long enough that only the first is due.
        repeat(QStringLiteral("0"), QStringLiteral("100000"));
        QTRY_VERIFY(w.find<QLabel>(QStringLiteral("lblInfo"))->text().endsWith(" | Repeating: 1 sent"));
        trigger(w, QStringLiteral("mnTools_StopRepeating"));
        QCOMPARE(w.entries().last(), body({"Repeating stopped after 1."}));
        QVERIFY(receives(peer, QByteArray("ping\r\n")));
    }
    void repliesFromAHandEditedFileAnswerAPeer()
    {
        const QString iniPath = storeRedisRules();
        Window w;
        QVERIFY(w.entries().contains(body({"Rule 3 in [Replies] of " + iniPath +
                                           " skipped: the regular expression does not compile: missing "
                                           "closing parenthesis at column 2"})));
        QAction* onOff = w.find<QAction>(QStringLiteral("mnTools_ReplyAutomatically"));
        QVERIFY(onOff->isChecked());
        QCOMPARE(onOff->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+R")));
        QTcpServer server;
        QTcpSocket* peer = connectPeer(w, server);
        QVERIFY(peer);
        peer->write("*1\r\n$4\r\nPING\r\n");
        QVERIFY(receives(peer, "+PONG\r\n"));
        peer->write("*2\r\n$4\r\nECHO\r\n$5\r\nhello\r\n");
        QVERIFY(receives(peer, "$5\r\nhello\r\n"));
        QCOMPARE(w.entries().last(),
                 body({"Reply (rule 2):", "$5\r\nhello\r\n", "24 35 0D 0A 68 65 6C 6C 6F 0D 0A"}));
        QTRY_VERIFY(w.find<QLabel>(QStringLiteral("lblInfo"))->text().endsWith(" | 2 replies"));

        // The dialog's test field answers as the peer was answered; a rule that cannot work is refused.
        auto* dialog = openDialog<RepliesDialog>(w, QStringLiteral("mnTools_Replies"), "dlgReplies");
        w.find<QLineEdit>(QStringLiteral("txtReplyTest"))->setText(QStringLiteral("PING"));
        QCOMPARE(w.find<QLabel>(QStringLiteral("lblReplyTest"))->text(),
                 QStringLiteral("Rule 1 answers with 7 bytes: +PONG<0D><0A> | 2B 50 4F 4E 47 0D 0A"));
        w.find<QPushButton>(QStringLiteral("cmdAddReply"))->click();
        auto* table = w.find<QTableWidget>(QStringLiteral("tblReplies"));
        table->item(1, 5)->setCheckState(Qt::Checked);
        table->item(1, 4)->setText(QStringLiteral("\"x"));
        w.find<QPushButton>(QStringLiteral("cmdRepliesOK"))->click();
        QVERIFY(dialog->isVisible());
        QCOMPARE(w.find<QLabel>(QStringLiteral("lblReplyNote"))->text(),
                 QStringLiteral("Rule 2 cannot work: Unclosed quotion mark"));
        w.find<QPushButton>(QStringLiteral("cmdRemoveReply"))->click();
        w.find<QPushButton>(QStringLiteral("cmdRepliesOK"))->click();
        QTRY_VERIFY(!w->findChild<RepliesDialog*>());

        // Switched off: nothing answers. The rules the window did not change stay in the file.
        onOff->trigger();
        peer->write("*1\r\n$4\r\nPING\r\n");
        QVERIFY(receives(peer, ""));
        QTRY_VERIFY(!w.find<QLabel>(QStringLiteral("lblInfo"))->text().contains("replies"));
        onOff->trigger(); // on again, as the next start finds it
        w->close();
        QSettings file = TestSupport::rawSettings();
        QCOMPARE(file.value("Replies/Enabled").toString() + file.value("Replies/Rule/3/Pattern").toString(),
                 QStringLiteral("1("));
    }
    void importAndExportCarryTheRules()
    {
        storeRedisRules();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("team.ini"));
        Window w;
        w.commandFileReplies->push_back({0, path});
        w.commandFileReplies->push_back({0, path});
        auto* dialog = openDialog<CommandsDialog>(w, QStringLiteral("mnTools_EditCommands"), "dlgCommands");
        w.find<QPushButton>(QStringLiteral("cmdExportCommands"))->click();
        w.find<QPushButton>(QStringLiteral("cmdImportCommands"))->click();
        QCOMPARE(w.entries().mid(w.entries().size() - 2),
                 QStringList({body({"0 commands and 2 reply rules exported to " + path}),
                              body({"0 commands and 2 reply rules imported from " + path})}));
        const QList<ReplyRule> rules = dialog->replies().rules;
        QCOMPARE(rules.size(), 4);
        QCOMPARE(rules.mid(2), rules.mid(0, 2));
        QCOMPARE(rules.at(1).reply, QStringLiteral("\"$\" \\1 0D 0A \\2 0D 0A"));
    }
};

KELVANE_TEST_MAIN(TestTools)
#include "tst_tools.moc"
