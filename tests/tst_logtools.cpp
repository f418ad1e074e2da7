#include "testsupport.h"

#include "log/LogSaver.h"
#include "ui/FindBox.h"
#include "ui/LineBox.h"
#include "ui/LogTools.h"
#include "ui/LogView.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QMenu>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace TestSupport;

namespace {

// A shown window holding a log view with its tools.
struct Bench
{
    QWidget window;
    LogView* view = new LogView(&window);
    LogTools* tools = new LogTools(view);

    explicit Bench(const QString& text)
    {
        view->resize(400, 150);
        window.resize(400, 150);
        view->setText(text);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        view->setFocus();
    }
};

QStringList entries(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isEnabled() ? "" : " (off)"));
    return texts;
}

QAction* entry(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

QAccessibleTextInterface* textInterface(QWidget* widget)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->textInterface() : nullptr;
}

std::unique_ptr<QWidget> textBox(const QString& kind, const QString& text)
{
    if (kind == QLatin1String("LineBox")) {
        auto box = std::make_unique<LineBox>();
        box->setText(text);
        return box;
    }
    auto view = std::make_unique<LogView>();
    view->setText(text);
    return view;
}

} // namespace

class TestLogTools : public QObject
{
    Q_OBJECT

private slots:
    void contextMenu_data();
    void contextMenu();
    void findBoxKeys();
    void saveFromTheWindow_data();
    void saveFromTheWindow();
    void cancelAfterTheRenameIsTold();
    void primarySelection();
    void dragPastTheEdgeScrolls();
    void accessibleTextAtOffset_data();
    void accessibleTextAtOffset();
    void accessibleCaretAndSelection_data();
    void accessibleCaretAndSelection();
};

void TestLogTools::contextMenu_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("selected");
    // The log is "one\r\ntwo\r\nthree", the clipboard holds "X".
    QTest::newRow("cut") << "Cu&t" << 3 << 8 << "one\r\nthree"
                         << "\r\ntwo"
                         << "";
    QTest::newRow("copy") << "&Copy" << 8 << 3 << "one\r\ntwo\r\nthree"
                          << "\r\ntwo"
                          << "\r\ntwo";
    QTest::newRow("paste over the selection") << "&Paste" << 3 << 8 << "oneX\r\nthree"
                                              << "X"
                                              << "";
    QTest::newRow("delete") << "&Delete" << 3 << 8 << "one\r\nthree"
                            << "X"
                            << "";
    QTest::newRow("select all") << "Select &All" << 1 << 1 << "one\r\ntwo\r\nthree"
                                << "X"
                                << "one\r\ntwo\r\nthree";
    QTest::newRow("clear, as the clear button") << "Clea&r" << 3 << 8 << ""
                                                << "X"
                                                << "";
    // After the selection was typed over.
    QTest::newRow("undo") << "&Undo" << 3 << 8 << "one\r\ntwo\r\nthree"
                          << "X"
                          << "\r\ntwo";
}

void TestLogTools::contextMenu()
{
    QFETCH(QString, entry);
    QFETCH(int, anchor);
    QFETCH(int, caret);
    QFETCH(QString, text);
    QFETCH(QString, clipboard);
    QFETCH(QString, selected);
    LogView view;
    new LogTools(&view);
    view.setText(QStringLiteral("one\r\ntwo\r\nthree"));
    QGuiApplication::clipboard()->setText(QStringLiteral("X"));
    view.setSelection(anchor, caret);
    const bool undo = entry == QLatin1String("&Undo");
    if (undo)
        QTest::keyClicks(&view, QStringLiteral("Y"));
    const std::unique_ptr<QMenu> menu(view.createContextMenu(nullptr));
    const bool some = view.hasSelection();
    const QString off = some ? QString() : QStringLiteral(" (off)");
    QCOMPARE(entries(menu.get()),
             (QStringList{QStringLiteral("&Undo") + (undo ? QString() : QStringLiteral(" (off)")),
                          QStringLiteral("-"), QStringLiteral("Cu&t") + off, QStringLiteral("&Copy") + off,
                          QStringLiteral("&Paste"), QStringLiteral("&Delete") + off, QStringLiteral("-"),
                          QStringLiteral("Select &All"), QStringLiteral("-"), QStringLiteral("&Find..."),
                          QStringLiteral("&Save Log As..."), QStringLiteral("-"), QStringLiteral("Clea&r")}));
    QAction* action = ::entry(menu.get(), entry);
    QVERIFY(action);
    action->trigger();
    QCOMPARE(view.text(), text);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    QCOMPARE(view.selectedText(), selected);
}

void TestLogTools::findBoxKeys()
{
    Bench b(QStringLiteral("alpha Needle beta needle\r\ngamma NEEDLE delta"));
    QTest::keyClick(b.view, Qt::Key_F, Qt::ControlModifier);
    FindBox* box = b.tools->findBox();
    QTRY_VERIFY(box->isVisible());
    auto* text = box->findChild<LineBox*>(QStringLiteral("txtFind"));
    QTRY_VERIFY(text->hasFocus());
    QTest::keyClicks(text, QStringLiteral("needle"));

    // Each key, and the match it selects; the status says when the search went round.
    struct Step
    {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        qsizetype match;
        QString status;
    };
    const QString none;
    const QString fromStart = QStringLiteral("Found from the start: the end was passed.");
    const QString fromEnd = QStringLiteral("Found from the end: the start was passed.");
    const Step steps[] = {
        {Qt::Key_Return, Qt::NoModifier, 6, none},        {Qt::Key_Enter, Qt::KeypadModifier, 18, none},
        {Qt::Key_F3, Qt::NoModifier, 32, none},           {Qt::Key_Return, Qt::NoModifier, 6, fromStart},
        {Qt::Key_Return, Qt::ShiftModifier, 32, fromEnd}, {Qt::Key_F3, Qt::ShiftModifier, 18, none}};
    for (const Step& s : steps) {
        QTest::keyClick(text, s.key, s.mods);
        QTRY_COMPARE(box->status() != QLatin1String("Searching..."), true);
        QCOMPARE(b.view->selectionStart(), s.match);
        QCOMPARE(b.view->selectedText().toLower(), QStringLiteral("needle"));
        QCOMPARE(box->status(), s.status);
    }
    // Match case: only the lower-case one, from the one selected on.
    box->findChild<QCheckBox*>(QStringLiteral("chkMatchCase"))->setChecked(true);
    QTest::keyClick(text, Qt::Key_Return);
    QTRY_COMPARE(box->status(), fromStart);
    QCOMPARE(b.view->selectionStart(), 18);
    // Nothing found leaves the selection.
    text->setText(QStringLiteral("needles"));
    QTest::keyClick(text, Qt::Key_Return);
    QTRY_COMPARE(box->status(), QStringLiteral("Not found."));
    QCOMPARE(b.view->selectionStart(), 18);

    // Escape: back to the log with the match selected, ready for Ctrl+C; F3 goes on there.
    text->setText(QStringLiteral("NEEDLE"));
    QTest::keyClick(text, Qt::Key_Escape);
    QVERIFY(!box->isVisible());
    QTRY_VERIFY(b.view->hasFocus());
    QTest::keyClick(b.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("needle"));
    QTest::keyClick(b.view, Qt::Key_F3);
    QTRY_COMPARE(b.view->selectionStart(), 32);
    // Ctrl+F takes a short selection as the text to find.
    b.view->setSelection(0, 5);
    QTest::keyClick(b.view, Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->needle(), QStringLiteral("alpha"));
}

void TestLogTools::saveFromTheWindow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("dialogCode");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<bool>("editWhileSaving");
    QTest::newRow("Latin-1, by Ctrl+S") << ""
                                        << "" << 0 << QByteArray("latin1") << "" << false;
    QTest::newRow("a typed euro sign makes it UTF-8")
        << "\u20AC"
        << "" << 0 << QByteArray("utf8") << "so it was saved as UTF-8" << false;
    QTest::newRow("an unwritable place")
        << ""
        << "missing" << 0 << QByteArray() << "The log was not saved to" << false;
    QTest::newRow("the dialog cancelled") << ""
                                          << "" << int(KvErr::DialogCancel) << QByteArray() << "" << false;
    QTest::newRow("the log edited while it is saved")
        << ""
        << "" << 0 << QByteArray() << "changed or cleared while it was being saved" << true;
}

void TestLogTools::saveFromTheWindow()
{
    QFETCH(QString, typed);
    QFETCH(QString, folder);
    QFETCH(int, dialogCode);
    QFETCH(QByteArray, encoding);
    QFETCH(QString, warning);
    QFETCH(bool, editWhileSaving);
    Window w;
    w->Echo(
        {QStringLiteral("all of Latin-1:"), QString::fromLatin1(QByteArray("\x01\x7f\x80\xa0\xff\xe4", 6))});
    auto* log = w.find<LogView>(QStringLiteral("txtOutput"));
    log->append(typed);
    const QString before = log->text();
    QTemporaryDir dir;
    const QString path =
        dir.filePath(folder.isEmpty() ? QStringLiteral("log.txt") : folder + QStringLiteral("/log.txt"));
    w.saveReplies->push_back({dialogCode, path});
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    log->setFocus();
    QTRY_VERIFY(log->hasFocus());
    QTest::keyClick(log, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(w.saveReplies->empty());
    // The progress box is gone before the outcome is shown: hidden only, it
    // would show itself while the warning waits for the user.
    size_t boxesWhenProgressWent = 0;
    if (auto* progress = w->findChild<QProgressDialog*>(QStringLiteral("dlgSaveProgress")))
        connect(progress, &QObject::destroyed, this, [&] { boxesWhenProgressWent = w.boxes->size(); });
    if (editWhileSaving) {
        QTest::keyClick(log, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(log, Qt::Key_X);
    }
    // Save Log As... is off while a save runs.
    QTRY_VERIFY(w.find<LogTools>(QStringLiteral("logTools"))->saveAction()->isEnabled());
    QTRY_VERIFY(!w->findChild<QProgressDialog*>(QStringLiteral("dlgSaveProgress")));
    QCOMPARE(boxesWhenProgressWent, size_t(0));
    QFile saved(path);
    if (encoding.isEmpty()) {
        QVERIFY(!saved.exists());
    } else {
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == (encoding == "utf8" ? before.toUtf8() : before.toLatin1()));
    }
    QCOMPARE(w.boxes->size(), warning.isEmpty() ? size_t(0) : size_t(1));
    if (!warning.isEmpty())
        QVERIFY2(w.boxes->front().text.contains(warning), qPrintable(w.boxes->front().text));
    // The log is never touched by a save.
    QCOMPARE(log->text(), before + (editWhileSaving ? QStringLiteral("x") : QString()));
}

void TestLogTools::cancelAfterTheRenameIsTold()
{
    Window w;
    QTemporaryDir dir;
    w.saveReplies->push_back({0, dir.filePath(QStringLiteral("log.txt"))});
    auto* saver = w->findChild<LogSaver*>(QStringLiteral("logSaver"));
    saver->holdAtRename(true);
    w.find<LogTools>(QStringLiteral("logTools"))->saveAs();
    QTRY_VERIFY(saver->isHeldAtRename());
    emit w->findChild<QProgressDialog*>(QStringLiteral("dlgSaveProgress"))->canceled();
    saver->releaseRename();
    QCOMPARE(w.boxes->size(), size_t(1));
    QCOMPARE(w.boxes->front().text, QStringLiteral("The log was saved before the cancel arrived."));
}

void TestLogTools::primarySelection()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection())
        QSKIP("this platform has no primary selection; the test runs under X too");
    Bench b(QStringLiteral("hello world\r\nsecond line"));
    QWidget* port = b.view->viewport();
    auto at = [&](qsizetype pos) { return b.view->cellRect(pos).topLeft() + QPoint(1, 3); };
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, at(6));
    QTest::mouseMove(port, at(11));
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, at(11));
    QCOMPARE(b.view->selectedText(), QStringLiteral("world"));
    QTRY_COMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("world"));
    // A double click selects a word and offers it too.
    QTest::mouseDClick(port, Qt::LeftButton, Qt::NoModifier, at(15));
    QTRY_COMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("second"));
    // A middle click pastes it where it lands, not at the caret.
    QTest::mouseClick(port, Qt::MiddleButton, Qt::NoModifier, at(b.view->length()));
    QCOMPARE(b.view->text(), QStringLiteral("hello world\r\nsecond linesecond"));
}

void TestLogTools::dragPastTheEdgeScrolls()
{
    QString text;
    for (int i = 0; i < 500; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    Bench b(text);
    QWidget* port = b.view->viewport();
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mouseMove(port, QPoint(5, port->height() + 40));
    // The timer goes on scrolling while the mouse stays out there.
    QTRY_VERIFY(b.view->topLine() > 20);
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, QPoint(5, port->height() + 40));
    const qsizetype top = b.view->topLine();
    QTest::qWait(200);
    QCOMPARE(b.view->topLine(), top);
    QCOMPARE(b.view->selectionStart(), 0);
    QVERIFY(b.view->selectedText().startsWith(QStringLiteral("line 0\r\nline 1\r\n")));
    QVERIFY(b.view->store().lineOf(b.view->selectionEnd()) >= top);
}

void TestLogTools::accessibleTextAtOffset_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("boundary");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("at");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    // The text is "First line.\r\nSecond one, here.".
    for (const QString& kind : {QStringLiteral("LogView"), QStringLiteral("LineBox")}) {
        const bool log = kind == QLatin1String("LogView");
        auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(kind + QStringLiteral(": ") + QLatin1String(name))) << kind;
        };
        row("character") << int(QAccessible::CharBoundary) << 1 << "i" << 1 << "F"
                         << "r";
        row("character at the end") << int(QAccessible::CharBoundary) << 30 << "" << 30 << "."
                                    << "";
        row("word") << int(QAccessible::WordBoundary) << 15 << "Second" << 13 << "\r\n"
                    << " ";
        row("word at its first letter") << int(QAccessible::WordBoundary) << 0 << "First" << 0 << ""
                                        << " ";
        if (log) {
            row("line with its break") << int(QAccessible::LineBoundary) << 3 << "First line.\r\n"
                                       << 0 << ""
                                       << "Second one, here.";
            row("last line") << int(QAccessible::LineBoundary) << 20 << "Second one, here." << 13
                             << "First line.\r\n"
                             << "";
        } else {
            row("the line is the whole text")
                << int(QAccessible::LineBoundary) << 20 << "First line.\r\nSecond one, here." << 0 << ""
                << "";
        }
    }
}

void TestLogTools::accessibleTextAtOffset()
{
    QFETCH(QString, kind);
    QFETCH(int, boundary);
    QFETCH(int, offset);
    QFETCH(QString, at);
    QFETCH(int, start);
    QFETCH(QString, before);
    QFETCH(QString, after);
    const QString text = QStringLiteral("First line.\r\nSecond one, here.");
    const auto box = textBox(kind, text);
    QAccessibleTextInterface* iface = textInterface(box.get());
    QVERIFY(iface);
    QCOMPARE(iface->characterCount(), int(text.size()));
    QCOMPARE(iface->text(0, -1), text);
    QCOMPARE(iface->text(6, 10), QStringLiteral("line"));
    const auto type = QAccessible::TextBoundaryType(boundary);
    int s = -1;
    int e = -1;
    QCOMPARE(iface->textAtOffset(offset, type, &s, &e), at);
    QCOMPARE(s, start);
    QCOMPARE(e, start + int(at.size()));
    QCOMPARE(iface->textBeforeOffset(offset, type, &s, &e), before);
    QCOMPARE(iface->textAfterOffset(offset, type, &s, &e), after);
}

void TestLogTools::accessibleCaretAndSelection_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("log") << "LogView";
    QTest::newRow("line box") << "LineBox";
}

void TestLogTools::accessibleCaretAndSelection()
{
    QFETCH(QString, kind);
    const auto box = textBox(kind, QStringLiteral("0123456789"));
    QAccessibleTextInterface* iface = textInterface(box.get());
    QVERIFY(iface);
    QAccessibleInterface* whole = QAccessible::queryAccessibleInterface(box.get());
    QVERIFY(whole->state().editable);
    QCOMPARE(whole->text(QAccessible::Value), QStringLiteral("0123456789"));
    auto selected = [&] {
        int s = -1;
        int e = -1;
        iface->selection(0, &s, &e);
        return QStringLiteral("%1 %2-%3 caret %4")
            .arg(iface->selectionCount())
            .arg(s)
            .arg(e)
            .arg(iface->cursorPosition());
    };
    iface->setSelection(0, 2, 5);
    QCOMPARE(selected(), QStringLiteral("1 2-5 caret 5"));
    // Backwards: the caret at the start, the selection the same.
    iface->setSelection(0, 7, 3);
    QCOMPARE(selected(), QStringLiteral("1 3-7 caret 3"));
    auto* view = qobject_cast<LogView*>(box.get());
    auto* line = qobject_cast<LineBox*>(box.get());
    QCOMPARE(view ? view->selectedText() : line->selectedText(), QStringLiteral("3456"));
    iface->removeSelection(0);
    QCOMPARE(selected(), QStringLiteral("0 0-0 caret 3"));
    iface->setCursorPosition(8);
    QCOMPARE(selected(), QStringLiteral("0 0-0 caret 8"));
    QCOMPARE(view ? view->caretPosition() : line->cursorPosition(), 8);
    // The caret's cell is where the box draws it, and that point leads back to it.
    box->resize(300, 60);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    const QRect cell = iface->characterRect(4);
    QVERIFY(cell.isValid());
    QCOMPARE(iface->offsetAtPoint(cell.topLeft() + QPoint(1, 2)), 4);
}

KELVANE_TEST_MAIN(TestLogTools)
#include "tst_logtools.moc"
