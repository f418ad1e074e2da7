// Recall of sent lines as a shell does it, and the checks on a saved command.

#include "send/Command.h"
#include "send/LineHistory.h"

#include <QtTest>

class TestLineHistory : public QObject
{
    Q_OBJECT

private slots:
    // A script of steps: "+a" sends a (a HEX line when "+#a"), "^box" is Up
    // with box in the line box, "v" is Down, "e" is typing; each Up and Down
    // gives the line recalled ("#" before a HEX one) or "-" for none.
    void recall_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("recalled");
        QTest::newRow("the draft comes back past the newest")
            << QStringList{"+a", "+b", "^draft", "^", "^", "v", "v", "v"}
            << QStringList{"b", "a", "-", "b", "draft", "-"};
        QTest::newRow("a line sent twice in a row is kept once")
            << QStringList{"+a", "+a", "+b", "+a", "+a", "^", "^", "^", "^"}
            << QStringList{"a", "b", "a", "-"};
        QTest::newRow("the mode belongs to the line")
            << QStringList{"+41", "+#41", "^", "^", "v"} << QStringList{"#41", "41", "#41"};
        QTest::newRow("sending ends the recall") << QStringList{"+a", "+b", "^x", "^", "+c", "v", "^y", "v"}
                                                 << QStringList{"b", "a", "-", "c", "y"};
        QTest::newRow("typing ends the recall") << QStringList{"+a", "+b", "^x", "^", "e", "v", "^typed", "v"}
                                                << QStringList{"b", "a", "-", "b", "typed"};
        QTest::newRow("nothing sent yet") << QStringList{"^box", "v"} << QStringList{"-", "-"};
    }

    void recall()
    {
        QFETCH(QStringList, steps);
        LineHistory history;
        QStringList got;
        auto show = [&](const std::optional<HistoryLine>& line) {
            got.append(!line ? QStringLiteral("-")
                             : (line->hex ? QStringLiteral("#") : QString()) + line->text);
        };
        for (const QString& step : steps) {
            const bool hex = step.startsWith(QStringLiteral("+#"));
            if (step.startsWith(QLatin1Char('+')))
                history.add({step.mid(hex ? 2 : 1), hex});
            else if (step.startsWith(QLatin1Char('^')))
                show(history.older({step.mid(1), false}));
            else if (step == QLatin1String("v"))
                show(history.newer());
            else
                history.endRecall();
        }
        QTEST(got, "recalled");
    }

    void keptAndSaved()
    {
        LineHistory history;
        const QString longLine(LineHistory::MaxSavedChars + 1, QLatin1Char('x'));
        QList<HistoryLine> expected;
        for (int i = 0; i < 150; ++i) {
            const HistoryLine line{i == 140 ? longLine : QString::number(i), i % 2 == 1};
            history.add(line);
            expected.prepend(line);
        }
        expected.resize(LineHistory::MaxLines);
        QCOMPARE(history.lines(), expected);
        // Recalled here, but not saved.
        expected.removeAt(149 - 140);
        QCOMPARE(history.linesToSave(), expected);
        expected.append(expected);
        history.setLines(expected);
        QCOMPARE(history.lines(), expected.mid(0, LineHistory::MaxLines));
    }

    void commandProblems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("problem");
        QTest::newRow("sendable") << "Status"
                                  << "STATUS?" << false << "";
        QTest::newRow("no name") << " "
                                 << "STATUS?" << false << "no name";
        QTest::newRow("not one byte")
            << "Euro" << QString(QChar(0x20AC)) << false
            << "Character '\u20AC' (U+20AC) has no single-byte code; nothing was sent.";
        QTest::newRow("unclosed quote") << "Reset"
                                        << "\"RST 0D" << true << "Unclosed quotion mark";
    }

    void commandProblems()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, hex);
        QTEST(commandProblem({name, text, hex, true}), "problem");
    }
};

QTEST_GUILESS_MAIN(TestLineHistory)
#include "tst_linehistory.moc"
