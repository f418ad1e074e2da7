// The one-line box for lines of any length: editing keys, undo, selection,
// and a view that follows the caret however long the line.

#include "testsupport.h"

#include "ui/LineBox.h"

#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QTest>

#include <memory>

namespace {

// A key script: "k:<key>" for a key by name, or text typed as it stands.
void play(LineBox& box, const QStringList& script)
{
    for (const QString& step : script) {
        if (!step.startsWith(QLatin1String("k:"))) {
            QTest::keyClicks(&box, step);
            continue;
        }
        const QKeySequence key(step.mid(2));
        QTest::keyClick(&box, Qt::Key(key[0].key()), key[0].keyboardModifiers());
    }
}

} // namespace

class TestLineBox : public QObject
{
    Q_OBJECT

private slots:
    void editing_data()
    {
        QTest::addColumn<QString>("start"); // the caret at its end
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("selected");
        QTest::newRow("typing appends") << "ab" << QStringList{"cd"} << "abcd"
                                        << "";
        QTest::newRow("backspace and delete")
            << "abcd" << QStringList{"k:Backspace", "k:Home", "k:Del"} << "bc"
            << "";
        QTest::newRow("typing replaces a selection")
            << "hello world" << QStringList{"k:Shift+Home", "x"} << "x"
            << "";
        QTest::newRow("word left selects a word")
            << "hello world" << QStringList{"k:Ctrl+Shift+Left"} << "hello world"
            << "world";
        QTest::newRow("ctrl backspace deletes a word")
            << "hello world" << QStringList{"k:Ctrl+Backspace"} << "hello "
            << "";
        QTest::newRow("undo takes back a typed run at once") << "ab" << QStringList{"cde", "k:Ctrl+Z"} << "ab"
                                                             << "";
        QTest::newRow("redo puts it back")
            << "ab" << QStringList{"cde", "k:Ctrl+Z", "k:Ctrl+Shift+Z"} << "abcde"
            << "";
        QTest::newRow("cut and paste")
            << "abc" << QStringList{"k:Shift+Left", "k:Ctrl+X", "k:Home", "k:Ctrl+V"} << "cab"
            << "";
        QTest::newRow("select all") << "abc" << QStringList{"k:Ctrl+A"} << "abc"
                                    << "abc";
        // Control characters are kept as typed or pasted; Enter belongs to the window.
        QTest::newRow("enter changes nothing") << "abc" << QStringList{"k:Return"} << "abc"
                                               << "";
        // A pasted CR LF is two characters here, within the one line.
        QTest::newRow("backspace takes one character of a cr lf") << "a\r\n"
                                                                  << QStringList{"k:Backspace"} << "a\r"
                                                                  << "";
        QTest::newRow("home and end reach past a cr lf")
            << "ab\r\ncd" << QStringList{"k:Home", "k:End", "k:Shift+Home"} << "ab\r\ncd"
            << "ab\r\ncd";
        QTest::newRow("ctrl delete deletes the next word")
            << "hello world" << QStringList{"k:Home", "k:Ctrl+Del"} << "world"
            << "";
        const QString word(70000, QLatin1Char('w'));
        QTest::newRow("word left crosses a word of any length")
            << "x " + word << QStringList{"k:Ctrl+Shift+Left"} << "x " + word << word;
    }
    void editing()
    {
        QFETCH(QString, start);
        QFETCH(QStringList, keys);
        QFETCH(QString, text);
        QFETCH(QString, selected);
        LineBox box;
        box.setText(start);
        play(box, keys);
        QCOMPARE(box.text(), text);
        QCOMPARE(box.selectedText(), selected);
    }

    // Undo and redo as the line's own entries, ahead of the shared ones.
    void contextMenu()
    {
        LineBox box;
        box.setText(QStringLiteral("abc"));
        QTest::keyClicks(&box, QStringLiteral("d"));
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QGuiApplication::clipboard()->setText(QStringLiteral("X"));
        const std::unique_ptr<QMenu> menu(box.createContextMenu(nullptr));
        QStringList entries;
        for (QAction* a : menu->actions())
            entries << (a->isSeparator() ? QStringLiteral("-")
                                         : a->text() + (a->isEnabled() ? "" : " (off)"));
        QCOMPARE(entries, (QStringList{"&Undo (off)", "&Redo", "-", "Cu&t (off)", "&Copy (off)", "&Paste",
                                       "&Delete (off)", "-", "Select &All"}));
        menu->actions().at(1)->trigger();
        QCOMPARE(box.text(), QStringLiteral("abcd"));
    }

    void pasteKeepsControlCharacters()
    {
        LineBox box;
        const QString pasted = QStringLiteral("a\tb\r\nc") + QChar(0);
        QGuiApplication::clipboard()->setText(pasted);
        box.paste();
        QCOMPARE(box.text(), pasted);
    }

    void viewFollowsTheCaretInALongLine()
    {
        LineBox box;
        box.resize(200, box.sizeHint().height());
        box.setText(QString(3000000, QLatin1Char('4')));
        QVERIFY(box.firstVisibleColumn() > 2990000); // the caret is at the end, and in view
        QTest::keyClick(&box, Qt::Key_Home);
        QCOMPARE(box.firstVisibleColumn(), 0);
        box.setSelection(1500000, 10);
        QVERIFY(box.firstVisibleColumn() <= 1500010 && box.firstVisibleColumn() > 1499900);
    }

    // Renders a box scrolled to a column and compares it with another text there.
    void display_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("other");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("same");
        const QString pair = QStringLiteral("\U0001F600");
        const QString tail(100, QLatin1Char('q'));
        QTest::newRow("a pair is shown") << "ab" + pair + "x" + tail << "ab  x" + tail << 0 << false;
        QTest::newRow("no half of a pair cut by the left edge")
            << "ab" + pair + "x" + tail << "ab  x" + tail << 3 << true;
    }
    void display()
    {
        QFETCH(QString, text);
        QFETCH(QString, other);
        QFETCH(int, column);
        QFETCH(bool, same);
        LineBox box;
        box.resize(200, box.sizeHint().height());
        box.setText(text); // the caret at the end, then back to the column
        box.setCursorPosition(column);
        QCOMPARE(box.firstVisibleColumn(), column);
        const QImage first = box.grab().toImage();
        box.setText(other);
        box.setCursorPosition(column);
        QCOMPARE(box.firstVisibleColumn(), column);
        QCOMPARE(first == box.grab().toImage(), same);
    }
};

KELVANE_TEST_MAIN(TestLineBox)
#include "tst_linebox.moc"
