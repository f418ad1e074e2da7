#include "send/LineHistory.h"

#include <QtTest>

class TestLineHistory : public QObject
{
    Q_OBJECT

private slots:
    // "+a" sends a ("+#a" as HEX), "^x" is Up with x in the box, "v" Down, "e" typing.
    // Each Up and Down gives the line recalled ("#" when HEX), or "-" for none.
    void recall_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("recalled");
        QTest::newRow("the draft comes back past the newest") << "+a +b ^draft ^ ^ v v v"
                                                              << "b a - b draft -";
        QTest::newRow("sent twice in a row kept once, with its mode") << "+a +a +b +#b +#b ^ ^ ^ ^"
                                                                      << "#b b a -";
        QTest::newRow("sending or typing ends the recall") << "+a +b ^x ^ +c v ^y e v ^z v"
                                                           << "b a - c - c z";
    }

    void recall()
    {
        QFETCH(QString, steps);
        LineHistory history;
        QStringList got;
        for (const QString& step : steps.split(' ')) {
            const bool hex = step.startsWith("+#");
            if (step.startsWith('+')) {
                history.add({step.mid(hex ? 2 : 1), hex});
            } else if (step == "e") {
                history.endRecall();
            } else {
                const auto line = step == "v" ? history.newer() : history.older({step.mid(1), false});
                got << (!line ? "-" : (line->hex ? "#" : "") + line->text);
            }
        }
        QTEST(got.join(' '), "recalled");
    }

    void keptAndSaved()
    {
        LineHistory history;
        QList<HistoryLine> expected;
        for (int i = 0; i < 150; ++i) {
            const HistoryLine line{i == 140 ? QString(LineHistory::MaxSavedChars + 1, 'x')
                                            : QString::number(i)};
            history.add(line);
            expected.prepend(line);
        }
        QCOMPARE(history.lines(), expected.mid(0, LineHistory::MaxLines));
        expected.removeAt(149 - 140); // recalled here, but not saved
        QCOMPARE(history.linesToSave(), expected.mid(0, LineHistory::MaxLines - 1));
    }
};

QTEST_GUILESS_MAIN(TestLineHistory)
#include "tst_linehistory.moc"
