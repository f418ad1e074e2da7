#include "PlainLogBox.h"
#include "platform/NumConv.h"
#include "ui/LogView.h"

#include <QClipboard>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

QString allCharacters()
{
    QString s;
    for (int c = 0; c < 256; ++c)
        s.append(QChar(char16_t(c)));
    return s;
}

// A line of the given length made of every character but CR and LF.
QString longLine(qsizetype length, int seed = 0)
{
    QString s(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i) {
        char16_t c = char16_t((i * 7 + seed) % 256);
        if (c == u'\r' || c == u'\n')
            c = u'x';
        s[i] = QChar(c);
    }
    return s;
}

std::unique_ptr<LogBox> makeBox(const QString& kind)
{
    if (kind == QLatin1String("PlainLogBox"))
        return std::make_unique<PlainLogBox>();
    return std::make_unique<LogViewBox>();
}

class FocusWatch : public QObject
{
public:
    using QObject::QObject;
    QObject* focused = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn)
            focused = watched;
        return false;
    }
};

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT

private slots:
    void textReadBackExactly_data();
    void textReadBackExactly();
    void lastIndexOf_data();
    void lastIndexOf();
    void caretPlacement_data();
    void caretPlacement();
    void clearEmptiesEverything_data();
    void clearEmptiesEverything();

    void typingInsertsAtCaret();
    void enterInsertsCrLf();
    void removal_data();
    void removal();
    void lastCrLfFollowsEdits();
    void homeAndEndStopAtTheLineBreak();
    void verticalMovesAcrossManyLines();
    void pageKeysMoveByAView();
    void shiftArrowSelectionCopiesExactly_data();
    void shiftArrowSelectionCopiesExactly();
    void cutAndPaste();
    void undoTakesBackTheLastEdit_data();
    void undoTakesBackTheLastEdit();
    void selectAllCopiesWholeLog();
    void mouseClickPlacesCaretAndFocus();
    void disabledBoxIgnoresInput();
    void longLineAppendedInPieces();
    void caretScrolledIntoView();
    void typedCharacterBeyondLatin1();
    void display_data();
    void display();

    void scrollScaleReachesEveryPlace_data();
    void scrollScaleReachesEveryPlace();
    void largeSelectionIsNotCopied_data();
    void largeSelectionIsNotCopied();
    void failureLeavesTheTextAndIsTold_data();
    void failureLeavesTheTextAndIsTold();
    void droppedTextMovesCaretAndView();
};

// ---- the contract, for both boxes -----------------------------------------

static void addBoxRows(const char* name, const QStringList& pieces, const QString& expected)
{
    for (const char* kind : {"LogView", "PlainLogBox"})
        QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(kind), QLatin1String(name))))
            << QString::fromLatin1(kind) << pieces << expected;
}

void TestLogView::textReadBackExactly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("expected");
    const QString nul(1, QChar(0));
    addBoxRows("plain entry", {QStringLiteral("\r\n<1/2/2024> - Hello\r\n")},
               QStringLiteral("\r\n<1/2/2024> - Hello\r\n"));
    addBoxRows("nul characters", {QStringLiteral("a") + nul + nul + QStringLiteral("b"), nul},
               QStringLiteral("a") + nul + nul + QStringLiteral("b") + nul);
    addBoxRows("lone cr and lone lf", {QStringLiteral("a\rb\nc\r"), QStringLiteral("\rd")},
               QStringLiteral("a\rb\nc\r\rd"));
    addBoxRows("cr lf split over two appends", {QStringLiteral("abc\r"), QStringLiteral("\ndef")},
               QStringLiteral("abc\r\ndef"));
    addBoxRows("all 256 characters", {allCharacters(), allCharacters()}, allCharacters() + allCharacters());
    addBoxRows("empty appends", {QString(), QStringLiteral("x"), QString()}, QStringLiteral("x"));
}

void TestLogView::textReadBackExactly()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, pieces);
    QFETCH(QString, expected);
    auto box = makeBox(kind);
    for (const QString& piece : pieces)
        box->append(piece);
    QCOMPARE(box->text(), expected);
    QCOMPARE(box->length(), expected.size());

    box->setText(expected);
    QCOMPARE(box->text(), expected);
    QCOMPARE(box->caretPosition(), 0);
}

void TestLogView::lastIndexOf_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("expected");
    for (const char* kind : {"LogView", "PlainLogBox"}) {
        const QString k = QString::fromLatin1(kind);
        auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(k + QStringLiteral(": ") + QLatin1String(name))) << k;
        };
        row("cr lf at the end") << QStringList{QStringLiteral("ab\r\ncd\r\n")} << QStringLiteral("\r\n")
                                << qsizetype(6);
        row("cr lf before a partial line")
            << QStringList{QStringLiteral("ab\r\n"), QStringLiteral("cd\r\nef")} << QStringLiteral("\r\n")
            << qsizetype(6);
        row("cr lf split over appends") << QStringList{QStringLiteral("ab\r"), QStringLiteral("\ncd")}
                                        << QStringLiteral("\r\n") << qsizetype(2);
        row("lone cr and lone lf are no cr lf")
            << QStringList{QStringLiteral("a\r\nb\nc\rd\n\r")} << QStringLiteral("\r\n") << qsizetype(1);
        row("lf cr is no cr lf") << QStringList{QStringLiteral("ab\n\rcd")} << QStringLiteral("\r\n")
                                 << qsizetype(-1);
        row("none at all") << QStringList{QStringLiteral("abcdef")} << QStringLiteral("\r\n")
                           << qsizetype(-1);
        row("empty log") << QStringList{} << QStringLiteral("\r\n") << qsizetype(-1);
        row("other needle") << QStringList{QStringLiteral("abcab"), QStringLiteral("c")}
                            << QStringLiteral("abc") << qsizetype(3);
        row("other needle missing") << QStringList{QStringLiteral("abcab")} << QStringLiteral("abd")
                                    << qsizetype(-1);
    }
}

void TestLogView::lastIndexOf()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, pieces);
    QFETCH(QString, needle);
    QFETCH(qsizetype, expected);
    auto box = makeBox(kind);
    for (const QString& piece : pieces)
        box->append(piece);
    QCOMPARE(box->lastIndexOf(needle), expected);
    // The same log set in one piece answers the same.
    box->setText(pieces.join(QString()));
    QCOMPARE(box->lastIndexOf(needle), expected);
}

void TestLogView::caretPlacement_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qsizetype>("requested");
    QTest::addColumn<qsizetype>("expected");
    // The log is "ab\r\ncd\r\nef", 10 characters.
    for (const char* kind : {"LogView", "PlainLogBox"}) {
        const QString k = QString::fromLatin1(kind);
        auto name = [&](const char* n) { return (k + QStringLiteral(": ") + QLatin1String(n)).toLatin1(); };
        QTest::newRow(name("start").constData()) << k << qsizetype(0) << qsizetype(0);
        QTest::newRow(name("inside a line").constData()) << k << qsizetype(5) << qsizetype(5);
        QTest::newRow(name("after a cr lf").constData()) << k << qsizetype(8) << qsizetype(8);
        QTest::newRow(name("end").constData()) << k << qsizetype(10) << qsizetype(10);
        QTest::newRow(name("past the end").constData()) << k << qsizetype(65535) << qsizetype(10);
        QTest::newRow(name("negative").constData()) << k << qsizetype(-3) << qsizetype(0);
    }
}

void TestLogView::caretPlacement()
{
    QFETCH(QString, kind);
    QFETCH(qsizetype, requested);
    QFETCH(qsizetype, expected);
    auto box = makeBox(kind);
    box->append(QStringLiteral("ab\r\ncd\r\n"));
    box->append(QStringLiteral("ef"));
    box->setCaretPosition(requested);
    QCOMPARE(box->caretPosition(), expected);
    // Appending leaves the caret where it was.
    box->append(QStringLiteral("\r\nmore"));
    QCOMPARE(box->caretPosition(), expected);
}

void TestLogView::clearEmptiesEverything_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("LogView") << QStringLiteral("LogView");
    QTest::newRow("PlainLogBox") << QStringLiteral("PlainLogBox");
}

void TestLogView::clearEmptiesEverything()
{
    QFETCH(QString, kind);
    auto box = makeBox(kind);
    box->append(QStringLiteral("\r\n<entry>\r\n") + longLine(5000));
    box->setCaretPosition(box->length());
    box->clear();
    QCOMPARE(box->text(), QString());
    QCOMPARE(box->length(), 0);
    QCOMPARE(box->caretPosition(), 0);
    QCOMPARE(box->lastIndexOf(QStringLiteral("\r\n")), -1);
    box->append(QStringLiteral("x\r\n"));
    QCOMPARE(box->text(), QStringLiteral("x\r\n"));
    QCOMPARE(box->lastIndexOf(QStringLiteral("\r\n")), 1);
}

// ---- the box as a text box ------------------------------------------------

void TestLogView::typingInsertsAtCaret()
{
    LogView view;
    view.setText(QStringLiteral("ab\r\ncd"));
    view.setCaretPosition(1);
    QTest::keyClicks(&view, QStringLiteral("XY"));
    QCOMPARE(view.text(), QStringLiteral("aXYb\r\ncd"));
    QCOMPARE(view.caretPosition(), 3);
    // Latin-1 beyond ASCII goes in as typed.
    QKeyEvent eAcute(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9)));
    QApplication::sendEvent(&view, &eAcute);
    QCOMPARE(view.text(), QStringLiteral("aXY") + QChar(0xE9) + QStringLiteral("b\r\ncd"));
}

void TestLogView::enterInsertsCrLf()
{
    LogView view;
    view.setText(QStringLiteral("ab"));
    view.setCaretPosition(2);
    QTest::keyClick(&view, Qt::Key_Return);
    QTest::keyClicks(&view, QStringLiteral("c"));
    QCOMPARE(view.text(), QStringLiteral("ab\r\nc"));
    QCOMPARE(view.lineCount(), 2);
    view.setCaretPosition(1);
    QTest::keyClick(&view, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(view.text(), QStringLiteral("a\r\nb\r\nc"));
    QCOMPARE(view.caretPosition(), 3);
}

void TestLogView::removal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("anchor");
    QTest::addColumn<qsizetype>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<qsizetype>("expectedCaret");
    QTest::newRow("backspace after cr lf removes the pair")
        << QStringLiteral("ab\r\ncd") << qsizetype(4) << qsizetype(4) << int(Qt::Key_Backspace)
        << QStringLiteral("abcd") << qsizetype(2);
    QTest::newRow("delete before cr lf removes the pair")
        << QStringLiteral("ab\r\ncd") << qsizetype(2) << qsizetype(2) << int(Qt::Key_Delete)
        << QStringLiteral("abcd") << qsizetype(2);
    QTest::newRow("backspace after a lone lf")
        << QStringLiteral("ab\ncd") << qsizetype(3) << qsizetype(3) << int(Qt::Key_Backspace)
        << QStringLiteral("abcd") << qsizetype(2);
    QTest::newRow("backspace after a lone cr")
        << QStringLiteral("ab\rcd") << qsizetype(3) << qsizetype(3) << int(Qt::Key_Backspace)
        << QStringLiteral("abcd") << qsizetype(2);
    QTest::newRow("backspace after nul")
        << QStringLiteral("a") + QChar(0) + QStringLiteral("b") << qsizetype(2) << qsizetype(2)
        << int(Qt::Key_Backspace) << QStringLiteral("ab") << qsizetype(1);
    QTest::newRow("backspace at the start") << QStringLiteral("ab") << qsizetype(0) << qsizetype(0)
                                            << int(Qt::Key_Backspace) << QStringLiteral("ab") << qsizetype(0);
    QTest::newRow("delete at the end") << QStringLiteral("ab") << qsizetype(2) << qsizetype(2)
                                       << int(Qt::Key_Delete) << QStringLiteral("ab") << qsizetype(2);
    QTest::newRow("backspace removes the selection")
        << QStringLiteral("ab\r\ncd") << qsizetype(5) << qsizetype(1) << int(Qt::Key_Backspace)
        << QStringLiteral("ad") << qsizetype(1);
    QTest::newRow("delete removes the selection")
        << QStringLiteral("abcdef") << qsizetype(1) << qsizetype(4) << int(Qt::Key_Delete)
        << QStringLiteral("aef") << qsizetype(1);
}

void TestLogView::removal()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, anchor);
    QFETCH(qsizetype, caret);
    QFETCH(int, key);
    QFETCH(QString, expected);
    QFETCH(qsizetype, expectedCaret);
    LogView view;
    view.setText(text);
    view.setSelection(anchor, caret);
    QTest::keyClick(&view, Qt::Key(key));
    QCOMPARE(view.text(), expected);
    QCOMPARE(view.caretPosition(), expectedCaret);
    QCOMPARE(view.lineCount(), qsizetype(expected.count(QLatin1Char('\n')) + 1));
}

void TestLogView::lastCrLfFollowsEdits()
{
    LogView view;
    view.append(QStringLiteral("ab\r\ncd\r\n"));
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), 6);
    view.setCaretPosition(8);
    QTest::keyClick(&view, Qt::Key_Backspace);
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), 2);
    QTest::keyClick(&view, Qt::Key_Return);
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), 6);
    view.setCaretPosition(0);
    QTest::keyClicks(&view, QStringLiteral("zz"));
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), 8);
    view.append(QStringLiteral("xy"));
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), 8);
}

void TestLogView::homeAndEndStopAtTheLineBreak()
{
    LogView view;
    view.setText(QStringLiteral("first\r\nsecond line\r\nlast"));
    view.setCaretPosition(10);
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(view.caretPosition(), 18);
    QTest::keyClick(&view, Qt::Key_Home);
    QCOMPARE(view.caretPosition(), 7);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view.caretPosition(), view.length());
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(view.caretPosition(), 0);
    // Right from the end of a line steps over the whole CR LF.
    view.setCaretPosition(5);
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(view.caretPosition(), 7);
    QTest::keyClick(&view, Qt::Key_Left);
    QCOMPARE(view.caretPosition(), 5);
}

// Lines of mixed lengths, some far longer than the index's spacing, so
// finding a line has to go through several index marks.
void TestLogView::verticalMovesAcrossManyLines()
{
    QStringList lines;
    for (int i = 0; i < 400; ++i)
        lines << longLine((i * 37) % 900 + (i % 50 == 0 ? 5000 : 0), i);
    const QString breaks[] = {QStringLiteral("\r\n"), QStringLiteral("\n")};
    QString text;
    QList<qsizetype> starts;
    for (int i = 0; i < lines.size(); ++i) {
        starts << text.size();
        text += lines[i];
        if (i + 1 < lines.size())
            text += breaks[i % 3 == 0 ? 1 : 0];
    }
    LogView view;
    view.resize(400, 300);
    // Half through append in odd pieces, half through setText.
    for (qsizetype i = 0; i < text.size(); i += 333)
        view.append(text.mid(i, 333));
    QCOMPARE(view.text(), text);
    QCOMPARE(view.lineCount(), qsizetype(lines.size()));
    qsizetype longest = 0;
    for (const QString& line : lines)
        longest = std::max(longest, line.size());
    QCOMPARE(view.longestLineLength(), longest);

    view.setCaretPosition(0);
    for (int i = 1; i < lines.size(); ++i) {
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(view.caretPosition(), starts[i]);
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.caretPosition(), starts[i] + lines[i].size());
        QTest::keyClick(&view, Qt::Key_Home);
    }
    // Up keeps the column where the lines are long enough.
    view.setText(text);
    view.setCaretPosition(starts[399] + 3);
    for (int i = 398; i >= 0; --i) {
        QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(view.caretPosition(), starts[i] + std::min<qsizetype>(3, lines[i].size()));
    }
}

void TestLogView::pageKeysMoveByAView()
{
    LogView view;
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QString text;
    for (int i = 0; i < 100; ++i)
        text += QStringLiteral("line %1\r\n").arg(i, 3, 10, QLatin1Char('0'));
    view.setText(text);
    const int rows = view.verticalScrollBar()->pageStep();
    QVERIFY(rows > 1 && rows < 100);
    view.setCaretPosition(2);
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.caretPosition(), qsizetype(rows) * 10 + 2);
    QVERIFY(view.verticalScrollBar()->value() > 0);
    QVERIFY(view.viewport()->rect().contains(view.caretRect()));
    QTest::keyClick(&view, Qt::Key_PageDown, Qt::ShiftModifier);
    QCOMPARE(view.selectionStart(), qsizetype(rows) * 10 + 2);
    QCOMPARE(view.caretPosition(), qsizetype(rows) * 20 + 2);
    QTest::keyClick(&view, Qt::Key_PageUp);
    QTest::keyClick(&view, Qt::Key_PageUp);
    QCOMPARE(view.caretPosition(), 2);
    QCOMPARE(view.verticalScrollBar()->value(), 0);

    // A taller box pages further.
    view.resize(300, 400);
    QTRY_VERIFY(view.viewport()->height() > 300);
    const int taller = view.verticalScrollBar()->pageStep();
    QVERIFY(taller > rows);
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.caretPosition(), qsizetype(taller) * 10 + 2);
}

void TestLogView::shiftArrowSelectionCopiesExactly_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    // The text is a 200000 character line, CR LF, and a short line.
    const int lineEnd = 200000;
    QTest::newRow("right inside a long line") << 150000 << QList<int>(10, Qt::Key_Right) << 150000 << 150010;
    QTest::newRow("left inside a long line") << 150000 << QList<int>(7, Qt::Key_Left) << 149993 << 150000;
    QTest::newRow("right across the cr lf")
        << lineEnd - 2 << QList<int>(4, Qt::Key_Right) << lineEnd - 2 << lineEnd + 3;
    QTest::newRow("end of a long line") << 123456 << QList<int>{Qt::Key_End} << 123456 << lineEnd;
    QTest::newRow("down from a long line") << 3 << QList<int>{Qt::Key_Down} << 3 << lineEnd + 5;
}

void TestLogView::shiftArrowSelectionCopiesExactly()
{
    QFETCH(int, start);
    QFETCH(QList<int>, keys);
    QFETCH(int, from);
    QFETCH(int, to);
    const QString text = longLine(200000) + QStringLiteral("\r\nabc") + QChar(0) + QStringLiteral("z");
    LogView view;
    view.setText(text);
    view.setCaretPosition(start);
    for (int key : keys)
        QTest::keyClick(&view, Qt::Key(key), Qt::ShiftModifier);
    QCOMPARE(view.selectionStart(), from);
    QCOMPARE(view.selectionEnd(), to);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), text.mid(from, to - from));
}

void TestLogView::cutAndPaste()
{
    LogView view;
    view.setText(QStringLiteral("one\r\ntwo\r\nthree"));
    view.setSelection(3, 8);
    QTest::keyClick(&view, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("\r\ntwo"));
    QCOMPARE(view.text(), QStringLiteral("one\r\nthree"));
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(view.text(), QStringLiteral("one\r\nthree\r\ntwo"));
    QCOMPARE(view.caretPosition(), view.length());
    QCOMPARE(view.lineCount(), 3);
}

void TestLogView::undoTakesBackTheLastEdit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("anchor");
    QTest::addColumn<qsizetype>("caret");
    QTest::addColumn<QString>("action");   // typed text, keys in brackets, or the program's append or clear
    QTest::addColumn<QString>("expected"); // the text as it was: with its caret and selection too
    const QString t = QStringLiteral("one\r\ntwo\r\nthree");
    auto row = [&](const char* name, qsizetype anchor, qsizetype caret, const char* action) -> QTestData& {
        return QTest::newRow(name) << t << anchor << caret << QString::fromLatin1(action);
    };
    row("keys typed over a selection: one step", 5, 8, "x [Return] z") << t;
    row("backspace", 8, 8, "[Backspace]") << t;
    row("cut of a selection made backwards", 8, 5, "[Ctrl+X]") << t;
    row("paste at the caret", 0, 0, "[Ctrl+V]") << t;
    row("keys after a caret move: only those", 8, 8, "ab [Home] c") << "one\r\ntwoab\r\nthree";
    row("one level: a second undo does nothing", 5, 8, "x [Ctrl+Z]") << t;
    row("an append ends it", 5, 8, "x append") << "one\r\nx\r\nthree!";
    row("a clear is undone whole", 5, 8, "x clear") << "one\r\nx\r\nthree";
    // A log that lies mostly in its file; the second key of the last row goes
    // into the chunk after the selection's.
    QString big;
    for (int i = 0; i < 6; ++i)
        big += longLine(LogStore::ChunkChars - 2, i) + QStringLiteral("\r\n");
    const qsizetype end = 2 * LogStore::ChunkChars;
    QTest::newRow("all of a log") << big << qsizetype(0) << big.size() << "[Ctrl+A] x y" << big;
    QTest::newRow("a selection that ends a chunk") << big << end - 9 << end << "x y" << big;
    QTest::newRow("a clear of a log mostly in its file") << big << end - 9 << end << "clear" << big;
}

void TestLogView::undoTakesBackTheLastEdit()
{
    QFETCH(QString, text);
    QFETCH(qsizetype, anchor);
    QFETCH(qsizetype, caret);
    QFETCH(QString, action);
    QFETCH(QString, expected);
    const qint64 workingSet = 3 * LogStore::ChunkChars / 2;
    LogView view;
    view.store().setWorkingSetLimit(workingSet);
    view.setText(text);
    view.store().settle();
    QGuiApplication::clipboard()->setText(QStringLiteral("X"));
    view.setSelection(anchor, caret);
    for (const QString& step : action.split(QLatin1Char(' '))) {
        if (step.startsWith(QLatin1Char('[')))
            QTest::keySequence(&view, QKeySequence(step.mid(1, step.size() - 2)));
        else if (step == QLatin1String("append") || step == QLatin1String("clear"))
            step == QLatin1String("clear") ? view.clear() : view.append(QStringLiteral("!"));
        else
            QTest::keyClicks(&view, step);
    }
    QTest::keySequence(&view, QKeySequence::Undo);
    QVERIFY(view.text() == expected);
    QCOMPARE(view.lineCount(), qsizetype(expected.count(QLatin1Char('\n')) + 1));
    if (expected == text) {
        QCOMPARE(view.caretPosition(), caret);
        QCOMPARE(view.selectionStart() + view.selectionEnd() - caret, anchor);
    }
    view.store().settle();
    QVERIFY(view.store().memoryBytes() <= workingSet);
}

void TestLogView::selectAllCopiesWholeLog()
{
    LogView view;
    const QString text = allCharacters() + QStringLiteral("\r\n") + allCharacters();
    view.append(text);
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), text);
}

void TestLogView::mouseClickPlacesCaretAndFocus()
{
    QWidget window;
    auto* other = new QLineEdit(&window);
    auto* view = new LogView(&window);
    view->setGeometry(0, 30, 400, 200);
    window.resize(400, 240);
    FocusWatch watch;
    view->installEventFilter(&watch);
    view->setText(QStringLiteral("hello\r\nworld\r\n") + longLine(3000));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());

    view->setCaretPosition(10); // "wor|ld"
    const QPoint target = view->caretRect().center();
    view->setCaretPosition(0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, target);
    QCOMPARE(view->caretPosition(), 10);
    QTRY_VERIFY(view->hasFocus());
    QCOMPARE(watch.focused, view);

    // A click past the end of a line lands at its end, before the CR LF.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(390, target.y()));
    QCOMPARE(view->caretPosition(), 12);
    // Dragging selects.
    const QPoint first = QPoint(2, target.y() - view->caretRect().height());
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, first);
    QTest::mouseMove(view->viewport(), target);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, target);
    QCOMPARE(view->selectedText(), QStringLiteral("hello\r\nwor"));
    // A double click takes the word.
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, target);
    QCOMPARE(view->selectedText(), QStringLiteral("world"));
}

void TestLogView::disabledBoxIgnoresInput()
{
    QWidget window;
    auto* view = new LogView(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    view->setText(QStringLiteral("log"));
    view->setCaretPosition(3);
    view->setEnabled(false);
    QTest::keyClicks(view, QStringLiteral("typed"));
    QTest::keyClick(view, Qt::Key_Backspace);
    QTest::keyClick(view, Qt::Key_Return);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    QCOMPARE(view->text(), QStringLiteral("log"));
    QCOMPARE(view->caretPosition(), 3);
    // The program still writes it while disabled.
    view->append(QStringLiteral("\r\nentry"));
    QCOMPARE(view->text(), QStringLiteral("log\r\nentry"));
    view->setEnabled(true);
    QTest::keyClicks(view, QStringLiteral("!"));
    QCOMPARE(view->text(), QStringLiteral("log!\r\nentry"));
}

void TestLogView::longLineAppendedInPieces()
{
    const qsizetype size = 10 * 1024 * 1024;
    const QString line = longLine(size);
    LogView view;
    view.resize(500, 300);
    view.show();
    for (qsizetype i = 0; i < size; i += 65536) {
        view.append(line.mid(i, 65536));
        view.setCaretPosition(view.length());
    }
    QCOMPARE(view.length(), size);
    QVERIFY(view.text() == line);
    QCOMPARE(view.lineCount(), 1);
    QCOMPARE(view.longestLineLength(), size);
    QCOMPARE(view.caretPosition(), size);
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), -1);
    QCOMPARE(view.horizontalScrollBar()->value(), view.horizontalScrollBar()->maximum());

    view.append(QStringLiteral("\r\nnext"));
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), size);
    QCOMPARE(view.lineCount(), 2);
    view.setCaretPosition(size + 2);
    QCOMPARE(view.horizontalScrollBar()->value(), 0);
}

void TestLogView::caretScrolledIntoView()
{
    LogView view;
    view.resize(300, 200);
    view.show();
    QString text;
    for (int i = 0; i < 1000; ++i)
        text += QStringLiteral("\r\n<entry %1> - line\r\n").arg(i);
    view.append(text);
    QCOMPARE(view.verticalScrollBar()->value(), 0);
    view.setCaretPosition(view.length());
    const QRect caret = view.caretRect();
    QVERIFY(view.viewport()->rect().contains(caret));
    view.setCaretPosition(0);
    QVERIFY(view.viewport()->rect().contains(view.caretRect()));
    QCOMPARE(view.verticalScrollBar()->value(), 0);
}

void TestLogView::typedCharacterBeyondLatin1()
{
    LogView view;
    view.resize(300, 200);
    view.show();
    view.append(QStringLiteral("ab\r\n"));
    view.setCaretPosition(4);
    QKeyEvent euro(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)));
    QApplication::sendEvent(&view, &euro);
    view.append(allCharacters() + QStringLiteral("\r\nz"));
    const QString expected =
        QStringLiteral("ab\r\n") + QChar(0x20AC) + allCharacters() + QStringLiteral("\r\nz");
    QCOMPARE(view.text(), expected);
    QCOMPARE(view.lastIndexOf(QStringLiteral("\r\n")), expected.size() - 3);
    QCOMPARE(view.lineCount(), 4); // the 256 characters hold one LF
    view.grab();                   // paints the wide character without trouble
}

// Renders a one-line log and compares it with another one.
void TestLogView::display_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("other");
    QTest::addColumn<bool>("same");
    QTest::newRow("cr lf looks like lf") << QStringLiteral("ab\r\ncd") << QStringLiteral("ab\ncd") << true;
    QTest::newRow("lone cr is shown") << QStringLiteral("ab\rcd") << QStringLiteral("ab cd") << false;
    QTest::newRow("nul is shown") << QStringLiteral("ab") + QChar(0) + QStringLiteral("cd")
                                  << QStringLiteral("ab cd") << false;
    QTest::newRow("nul is not @") << QStringLiteral("ab") + QChar(0) + QStringLiteral("cd")
                                  << QStringLiteral("ab@cd") << false;
    QTest::newRow("c1 control is shown")
        << QStringLiteral("ab") + QChar(0x85) + QStringLiteral("cd") << QStringLiteral("ab cd") << false;
    QTest::newRow("del is shown") << QStringLiteral("ab") + QChar(0x7F) + QStringLiteral("cd")
                                  << QStringLiteral("ab cd") << false;
}

void TestLogView::display()
{
    QFETCH(QString, text);
    QFETCH(QString, other);
    QFETCH(bool, same);
    LogView view;
    view.resize(300, 120);
    view.setText(text);
    const QImage first = view.viewport()->grab().toImage();
    view.setText(other);
    const QImage second = view.viewport()->grab().toImage();
    QCOMPARE(first == second, same);
}

// ---- a log of any size ------------------------------------------------------

void TestLogView::scrollScaleReachesEveryPlace_data()
{
    QTest::addColumn<qint64>("maximum");
    QTest::newRow("nothing to scroll") << qint64(0);
    QTest::newRow("a short log") << qint64(1000);
    QTest::newRow("just within the bar") << ScrollScale::BarLimit;
    QTest::newRow("one past the bar") << ScrollScale::BarLimit + 1;
    QTest::newRow("an 8 GB line") << qint64(8) * 1024 * 1024 * 1024;
    QTest::newRow("three trillion lines") << qint64(3'000'000'000'000);
}

void TestLogView::scrollScaleReachesEveryPlace()
{
    QFETCH(qint64, maximum);
    const ScrollScale scale(maximum);
    QVERIFY(scale.barMaximum() >= 0 && scale.barMaximum() <= ScrollScale::BarLimit + 1);
    QCOMPARE(scale.fromBar(0), 0);
    QCOMPARE(scale.fromBar(scale.barMaximum()), maximum);
    QCOMPARE(scale.toBar(maximum), scale.barMaximum());
    // Any place shows on the bar at the step that holds it, and the bar's
    // steps go up without a gap.
    qint64 previous = -1;
    for (qint64 place : {qint64(0), maximum / 3, maximum / 2 + 1, maximum - 1, maximum}) {
        place = std::clamp<qint64>(place, 0, maximum);
        const int bar = scale.toBar(place);
        QVERIFY(scale.fromBar(bar) <= place);
        QVERIFY(place - scale.fromBar(bar) < scale.step);
        QVERIFY(bar >= previous);
        previous = bar;
    }
    QVERIFY(scale.fromBar(1) - scale.fromBar(0) <= std::max<qint64>(1, scale.step));
}

void TestLogView::largeSelectionIsNotCopied_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<qsizetype>("selected");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("notice");
    // The limit is 10 characters here.
    QTest::newRow("copy at the limit") << int(Qt::Key_C) << qsizetype(10) << true << QString();
    QTest::newRow("copy past the limit") << int(Qt::Key_C) << qsizetype(11) << false
                                         << QStringLiteral("Not copied: the selection holds 11 bytes");
    QTest::newRow("cut past the limit keeps the text")
        << int(Qt::Key_X) << qsizetype(11) << false
        << QStringLiteral("Not cut: the selection holds 11 bytes");
}

void TestLogView::largeSelectionIsNotCopied()
{
    QFETCH(int, key);
    QFETCH(qsizetype, selected);
    QFETCH(bool, taken);
    QFETCH(QString, notice);
    LogView view;
    view.setCopyLimit(10);
    QSignalSpy notices(&view, &LogView::notice);
    const QString text = QStringLiteral("0123456789abcdef");
    view.setText(text);
    view.setSelection(2, 2 + selected);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(&view, Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), taken ? text.mid(2, selected) : QStringLiteral("before"));
    QCOMPARE(view.text(), taken && key == Qt::Key_X ? text.left(2) + text.mid(2 + selected) : text);
    QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
    if (!notice.isEmpty())
        QVERIFY2(notices.at(0).at(0).toString().startsWith(notice),
                 qPrintable(notices.at(0).at(0).toString()));
}

void TestLogView::failureLeavesTheTextAndIsTold_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("failedAppends");
    QTest::addColumn<int>("failedReads");
    QTest::addColumn<QString>("notice");
    QTest::newRow("typing") << "type" << 1 << 0 << "Out of memory: the key was not taken.";
    QTest::newRow("deleting") << "delete" << 1 << 0 << "Out of memory: the key was not taken.";
    QTest::newRow("pasting") << "paste" << 1 << 0 << "Out of memory: nothing was pasted.";
    QTest::newRow("copying") << "copy" << 0 << 1 << "Out of memory: nothing was copied.";
    QTest::newRow("cutting") << "cut" << 0 << 1 << "Out of memory: nothing was cut.";
    QTest::newRow("undoing") << "undo" << 1 << 0 << "Out of memory: nothing was undone.";
}

void TestLogView::failureLeavesTheTextAndIsTold()
{
    QFETCH(QString, action);
    QFETCH(int, failedAppends);
    QFETCH(int, failedReads);
    QFETCH(QString, notice);
    LogView view;
    QSignalSpy notices(&view, &LogView::notice);
    const QString text = QStringLiteral("one\r\ntwo\r\nthree");
    view.setText(text);
    view.setSelection(5, 8);
    if (action == QLatin1String("undo")) { // an edit that leaves the text as it was
        QTest::keyClicks(&view, QStringLiteral("two"));
        view.setSelection(5, 8);
    }
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    view.store().failNextAllocations(failedAppends, failedReads);
    if (action == QLatin1String("type"))
        QTest::keyClicks(&view, QStringLiteral("x"));
    else if (action == QLatin1String("delete"))
        QTest::keyClick(&view, Qt::Key_Delete);
    else if (action == QLatin1String("undo"))
        QTest::keyClick(&view, Qt::Key_Z, Qt::ControlModifier);
    else
        QTest::keyClick(&view,
                        action == QLatin1String("paste")  ? Qt::Key_V
                        : action == QLatin1String("copy") ? Qt::Key_C
                                                          : Qt::Key_X,
                        Qt::ControlModifier);
    QCOMPARE(view.text(), text);
    QCOMPARE(view.selectionStart(), 5);
    QCOMPARE(view.selectionEnd(), 8);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("pasted"));
    QCOMPARE(notices.size(), 1);
    QCOMPARE(notices.at(0).at(0).toString(), notice);
    QCOMPARE(view.store().canUndo(), action == QLatin1String("undo"));
    // The next edit goes through.
    QTest::keyClicks(&view, QStringLiteral("x"));
    QCOMPARE(view.text(), QStringLiteral("one\r\nx\r\nthree"));
}

// With the disk full the store drops old text at the start; the caret, the
// selection and the view keep to the text they were on.
void TestLogView::droppedTextMovesCaretAndView()
{
    constexpr qsizetype Chunk = LogStore::ChunkChars;
    LogView view;
    view.resize(300, 200);
    view.store().setWorkingSetLimit(2 * Chunk);
    view.store().setFileLimit(0);
    QSignalSpy notices(&view, &LogView::notice);
    QString line = longLine(Chunk / 4 - 2) + QStringLiteral("\r\n");
    for (int i = 0; i < 10; ++i)
        view.append(line);
    const qint64 droppedBefore = view.store().droppedCharacters();
    QVERIFY(droppedBefore > 0);
    const qsizetype anchor = view.length() - 10;
    view.setSelection(anchor, anchor + 4);
    const QString selected = view.selectedText();
    for (int i = 0; i < 3; ++i)
        view.append(line);
    QVERIFY(view.store().droppedCharacters() > droppedBefore);
    QVERIFY(
        view.text().startsWith(QStringLiteral("... %1 characters dropped: no space left on the device for "
                                              "the log's file (No space left on device) ...\r\n")
                                   .arg(CountText(view.store().droppedCharacters()))));
    QCOMPARE(view.selectedText(), selected);
    QCOMPARE(view.lineCount(), view.store().lineCount());
    QVERIFY(view.topLine() < view.lineCount());
    QTRY_COMPARE(notices.size(), 1);
    QVERIFY(notices.at(0).at(0).toString().contains(QLatin1String("No space left on device")));
}

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
