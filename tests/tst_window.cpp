// The window as it is created, before start-up: controls found by name, their
// texts, start values and places; the default button, option arrays and the
// check box and list value rules that the handlers rely on.

#include "testsupport.h"

#include "send/FileSender.h"
#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/Layout.h"
#include "ui/LineBox.h"
#include "ui/LogView.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using TestSupport::Window;

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { TestSupport::clearSettings(); }

    void captionsAndTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("chkFlat") << "chkFlat"
                                 << "Flat Vie&w";
        QTest::newRow("chkShow") << "chkShow"
                                 << "Sh&ow sent lines";
        QTest::newRow("cmdSendFile") << "cmdSendFile"
                                     << "S&end";
        QTest::newRow("lblInterval") << "lblInterval"
                                     << "Interva&l";
        QTest::newRow("chkAppenCrLf") << "chkAppenCrLf"
                                      << "Appe&nd CrLf";
        QTest::newRow("optMode1") << "optMode1"
                                  << "HE&X";
        QTest::newRow("optMode0") << "optMode0"
                                  << "&ASCII";
        QTest::newRow("cmdClear") << "cmdClear"
                                  << "Clea&r";
        QTest::newRow("chkCloseOnDisconnect") << "chkCloseOnDisconnect"
                                              << "Close server when client disconnecte&d";
        QTest::newRow("optServer1") << "optServer1"
                                    << "&Client";
        QTest::newRow("optServer0") << "optServer0"
                                    << "&Server";
        QTest::newRow("lblMode") << "lblMode"
                                 << "&Mode";
        QTest::newRow("lblLocalPort") << "lblLocalPort"
                                      << "&Local Port";
        QTest::newRow("lblRemotePort") << "lblRemotePort"
                                       << "&Remote Port";
        QTest::newRow("lblIP") << "lblIP"
                               << "I&P or Host";
        QTest::newRow("txtIP") << "txtIP"
                               << "127.0.0.1";
        QTest::newRow("txtRemotePort") << "txtRemotePort"
                                       << "5005";
        QTest::newRow("txtLocalPort") << "txtLocalPort"
                                      << "0";
        QTest::newRow("txtInterval") << "txtInterval"
                                     << "1000";
        QTest::newRow("txtLine") << "txtLine"
                                 << "";
    }
    void captionsAndTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        Window w(false);
        QObject* control = w.find<QObject>(name);
        QCOMPARE(control->property("text").toString(), text);
    }

    void frameTitles()
    {
        Window w(false);
        QCOMPARE(w.find<QGroupBox>("fraSendFile")->title(), QStringLiteral("Send Text File"));
        QCOMPARE(w.find<QGroupBox>("fraConnectionSettings")->title(), QStringLiteral("Connection Settings"));
    }

    void startValues()
    {
        Window w(false);
        QCOMPARE(w.find<ToggleButton>("chkFlat")->value(), 1);
        QCOMPARE(w.find<CheckBox>("chkShow")->value(), 1);
        QCOMPARE(w.find<CheckBox>("chkAppenCrLf")->value(), 1);
        QCOMPARE(w.find<CheckBox>("chkCloseOnDisconnect")->value(), 0);
        QVERIFY(w.find<OptionButton>("optMode0")->isChecked());
        QVERIFY(!w.find<OptionButton>("optMode1")->isChecked());
        QVERIFY(!w.find<OptionButton>("optServer0")->isChecked());
        QVERIFY(!w.find<OptionButton>("optServer1")->isChecked());
        auto* mode = w.find<ListCombo>("cboMode");
        QCOMPARE(mode->listIndex(), -1);
        QCOMPARE(mode->count(), 3);
        QCOMPARE(mode->itemText(0), QStringLiteral("0-TCP"));
        QCOMPARE(mode->itemText(1), QStringLiteral("1-UDP"));
        QCOMPARE(mode->itemText(2), QStringLiteral("2-TLS"));
        QCOMPARE(mode->itemDataAt(0), 0);
        QCOMPARE(mode->itemDataAt(1), 1);
        QCOMPARE(mode->itemDataAt(2), 2);
        auto* timer = w.find<QTimer>("tmrSendFile");
        QVERIFY(!timer->isActive());
        QCOMPARE(timer->interval(), 1000);
        QCOMPARE(w.logBox()->text(), QString());
        QCOMPARE(w.fileDialog()->DialogTitle(), QStringLiteral("Select File..."));
        QCOMPARE(w->defaultButton(), w.find<QPushButton>("cmdOpen"));
        QCOMPARE(w.find<QLineEdit>("txtIP")->maxLength(), 4096);
        QCOMPARE(w.find<QLineEdit>("txtRemotePort")->maxLength(), 15);
        QCOMPARE(w.find<QLineEdit>("txtLocalPort")->maxLength(), 15);
        QCOMPARE(w.find<QLineEdit>("txtInterval")->maxLength(), Layout::NoMaxLength);
        QCOMPARE(w.find<QPushButton>("cmdOpen")->toolTip(), QStringLiteral("Open file"));
        QCOMPARE(w.find<QPushButton>("cmdConnect")->toolTip(), QStringLiteral("Connect/Disconnect"));
        QVERIFY(!w.find<QPushButton>("cmdConnect")->icon().isNull());
        QVERIFY(!w->windowIcon().isNull());
        for (QWidget* child : w->findChildren<QWidget*>())
            QVERIFY2(child->isEnabled(), qPrintable(child->objectName()));
    }

    void sendButtonShowsATriangle()
    {
        Window w(false);
        const QString caption = w.find<QPushButton>("cmdSend1")->text();
        QCOMPARE(caption, QString(QChar(0x25B6)));
        QVERIFY(QFontMetrics(w.find<QPushButton>("cmdSend1")->font()).inFont(caption.at(0)));
    }

    void places_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        const auto row = [](const char* name, Layout::Twips t) {
            QTest::newRow(name) << QString::fromLatin1(name) << QRect(t.left, t.top, t.width, t.height);
        };
        row("fraConnectionSettings", {60, 90, 5640, 2355});
        row("txtIP", {1620, 510, 1995, 225});
        row("txtRemotePort", {1620, 960, 1995, 225});
        row("txtLocalPort", {1620, 1380, 1995, 225});
        row("optServer0", {120, 1710, 1125, 285});
        row("optServer1", {1575, 1695, 1125, 285});
        row("chkCloseOnDisconnect", {120, 1995, 3735, 315});
        row("cmdConnect", {3840, 510, 855, 735});
        row("cboMode", {3840, 1635, 1590, 345});
        row("fraSendFile", {5715, 90, 3105, 2295});
        row("cmdOpen", {330, 510, 855, 735});
        row("txtInterval", {1920, 720, 945, 330});
        row("chkShow", {90, 1755, 1785, 285});
        row("cmdSendFile", {1890, 1740, 1035, 315});
        row("cmdClear", {7650, 2430, 1185, 315});
        row("chkFlat", {7650, 2850, 1215, 345});
        row("txtOutput", {60, 2460, 7530, 2835});
        row("txtLine", {60, 5340, 7530, 330});
        row("cmdSend1", {7620, 5340, 465, 285});
        row("optMode0", {60, 5730, 1125, 285});
        row("optMode1", {1275, 5730, 1125, 285});
        row("chkAppenCrLf", {2490, 5760, 1485, 225});
    }
    void places()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        Window w(false);
        const QRect px(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
        QCOMPARE(w.find<QWidget>(name)->geometry(), px);
    }

    void clientAreaAndMenu()
    {
        Window w(false);
        QCOMPARE(w->centralWidget()->size(), QSize(600, 421));
        auto* menu = w.find<QMenu>("mnFile");
        QCOMPARE(menu->title(), QStringLiteral("&File"));
        const auto actions = menu->actions();
        QCOMPARE(actions.size(), 2);
        QCOMPARE(actions[0]->objectName(), QStringLiteral("mnFile_New"));
        QCOMPARE(actions[0]->text(), QStringLiteral("&New Window"));
        QCOMPARE(actions[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(actions[1]->objectName(), QStringLiteral("mnFile_Close"));
        QCOMPARE(actions[1]->text(), QStringLiteral("&Close"));
        QCOMPARE(actions[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    }

    void tabOrderFollowsTheControls()
    {
        Window w(false);
        const QStringList expected = {"txtIP",      "txtRemotePort", "txtLocalPort", "optServer0",
                                      "optServer1", "cmdConnect",    "cboMode",      "chkCloseOnDisconnect",
                                      "cmdOpen",    "txtInterval",   "chkShow",      "cmdSendFile",
                                      "txtOutput",  "cmdClear",      "chkFlat",      "txtLine",
                                      "cmdSend1",   "optMode0",      "optMode1",     "chkAppenCrLf"};
        QWidget* current = w.find<QWidget>(expected.first());
        for (int i = 1; i < expected.size(); ++i) {
            current = current->nextInFocusChain();
            while (current->focusPolicy() == Qt::NoFocus || !expected.contains(current->objectName()))
                current = current->nextInFocusChain();
            QCOMPARE(current->objectName(), expected[i]);
        }
    }

    void labelsLeadToTheirBoxes_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("buddy");
        QTest::newRow("host") << "lblIP"
                              << "txtIP";
        QTest::newRow("remote port") << "lblRemotePort"
                                     << "txtRemotePort";
        QTest::newRow("local port") << "lblLocalPort"
                                    << "txtLocalPort";
        QTest::newRow("mode") << "lblMode"
                              << "cboMode";
        QTest::newRow("interval") << "lblInterval"
                                  << "txtInterval";
    }
    void labelsLeadToTheirBoxes()
    {
        QFETCH(QString, label);
        QFETCH(QString, buddy);
        Window w(false);
        QCOMPARE(w.find<QLabel>(label)->buddy(), w.find<QWidget>(buddy));
    }

    void checkBoxValues_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("unchecked") << 0 << true;
        QTest::newRow("checked") << 1 << true;
        QTest::newRow("greyed") << 2 << true;
        QTest::newRow("three") << 3 << false;
        QTest::newRow("minus one") << -1 << false;
    }
    void checkBoxValues()
    {
        QFETCH(int, value);
        QFETCH(bool, accepted);
        Window w(false);
        auto* box = w.find<CheckBox>("chkShow");
        try {
            box->setValue(value);
            QVERIFY(accepted);
            QCOMPARE(box->value(), value);
        } catch (const KvError& e) {
            QVERIFY(!accepted);
            QCOMPARE(e.number(), KvErr::InvalidPropertyValue);
            QCOMPARE(box->value(), 1); // kept
        }
    }

    void greyedBoxClickedByUserBecomesChecked()
    {
        Window w(false);
        auto* box = w.find<CheckBox>("chkShow");
        box->setValue(2);
        box->click();
        QCOMPARE(box->value(), 1);
        box->click();
        QCOMPARE(box->value(), 0);
    }

    void listIndexRange_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("none") << -1 << true;
        QTest::newRow("first") << 0 << true;
        QTest::newRow("last") << 1 << true;
        QTest::newRow("past the end") << 3 << false;
        QTest::newRow("below none") << -2 << false;
    }
    void listIndexRange()
    {
        QFETCH(int, index);
        QFETCH(bool, accepted);
        Window w(false);
        auto* mode = w.find<ListCombo>("cboMode");
        mode->setListIndex(0);
        try {
            mode->setListIndex(index);
            QVERIFY(accepted);
            QCOMPARE(mode->listIndex(), index);
        } catch (const KvError&) {
            QVERIFY(!accepted);
            QCOMPARE(mode->listIndex(), 0);
        }
    }

    void optionSelectedFromCodeRaisesItsClick()
    {
        OptionArray array;
        QWidget parent;
        array.add("opt", "a", &parent);
        array.add("opt", "b", &parent);
        QSignalSpy clicks(&array, &OptionArray::clicked);
        array.setValue(1, true);
        array.setValue(1, true); // already selected: raised again
        array.setValue(0, true);
        QCOMPARE(clicks.count(), 3);
        QCOMPARE(clicks.at(0).at(0).toInt(), 1);
        QCOMPARE(clicks.at(2).at(0).toInt(), 0);
        QVERIFY(array.value(0));
        QVERIFY(!array.value(1));
        array.setValue(0, false); // deselecting raises nothing and leaves none selected
        QCOMPARE(clicks.count(), 3);
        QVERIFY(!array.value(0) && !array.value(1));
    }

    void optionClickedByUserStaysSelected()
    {
        OptionArray array;
        QWidget parent;
        OptionButton* a = array.add("opt", "a", &parent);
        OptionButton* b = array.add("opt", "b", &parent);
        QSignalSpy clicks(&array, &OptionArray::clicked);
        b->click();
        b->click();
        QVERIFY(b->isChecked());
        QVERIFY(!a->isChecked());
        QCOMPARE(clicks.count(), 2);
        a->click();
        QVERIFY(a->isChecked());
        QVERIFY(!b->isChecked());
    }

    void keyboard_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("clicked"); // the control that must run its click, and only it
        QTest::newRow("enter on a button clicks that button")
            << "cmdClear" << int(Qt::Key_Return) << "cmdClear";
        QTest::newRow("space on a button clicks that button")
            << "cmdClear" << int(Qt::Key_Space) << "cmdClear";
        QTest::newRow("enter on the file button, not the default")
            << "cmdSendFile" << int(Qt::Key_Enter) << "cmdSendFile";
        QTest::newRow("enter on the flat-view toggle") << "chkFlat" << int(Qt::Key_Return) << "chkFlat";
        QTest::newRow("space on the flat-view toggle") << "chkFlat" << int(Qt::Key_Space) << "chkFlat";
        QTest::newRow("enter in a box clicks the default button")
            << "txtIP" << int(Qt::Key_Return) << "cmdOpen";
        QTest::newRow("enter on a check box clicks the default button")
            << "chkShow" << int(Qt::Key_Return) << "cmdOpen";
        QTest::newRow("enter in the list clicks the default button")
            << "cboMode" << int(Qt::Key_Return) << "cmdOpen";
        QTest::newRow("right arrow selects HEX") << "optMode0" << int(Qt::Key_Right) << "optMode1";
        QTest::newRow("down arrow selects HEX") << "optMode0" << int(Qt::Key_Down) << "optMode1";
        QTest::newRow("left arrow goes round to HEX") << "optMode0" << int(Qt::Key_Left) << "optMode1";
        QTest::newRow("up arrow selects ASCII") << "optMode1" << int(Qt::Key_Up) << "optMode0";
        QTest::newRow("right arrow selects the client role")
            << "optServer0" << int(Qt::Key_Right) << "optServer1";
        QTest::newRow("left arrow selects the server role")
            << "optServer1" << int(Qt::Key_Left) << "optServer0";
    }
    void keyboard()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, clicked);
        Window w;
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        // The first control of the tab order has the focus at start.
        QCOMPARE(QApplication::focusWidget(), w.find<QWidget>("txtIP"));

        QStringList clicks;
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (!qobject_cast<OptionButton*>(b))
                connect(b, &QAbstractButton::clicked, this, [&clicks, b] { clicks << b->objectName(); });
        for (const char* array : {"optMode", "optServer"})
            connect(w.find<OptionArray>(array), &OptionArray::clicked, this,
                    [&clicks, array](int index) { clicks << QLatin1String(array) + QString::number(index); });
        auto* target = w.find<QWidget>(focus);
        if (auto* option = qobject_cast<OptionButton*>(target))
            option->click();
        clicks.clear();
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(target->hasFocus());

        QTest::keyClick(target, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(clicks, QStringList{clicked});
        if (auto* option = w->findChild<OptionButton*>(clicked)) {
            QVERIFY(option->isChecked());
            QVERIFY(option->hasFocus());
        }
    }

    void coloursHoldUnderADarkTheme()
    {
        const QPalette saved = QApplication::palette();
        QPalette dark;
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            dark.setColor(role, QColor(35, 38, 41));
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(239, 240, 241));
        QApplication::setPalette(dark);
        Window w(false);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        const QImage shot = w->grab().toImage();
        QApplication::setPalette(saved);

        struct Expected
        {
            const char* name;
            QColor background;
            QColor text;
        };
        const QColor white(255, 255, 255);
        const QColor yellow(255, 255, 192);
        for (const Expected& e :
             {Expected{"lblIP", white, Qt::black}, Expected{"txtIP", yellow, Qt::black},
              Expected{"optServer0", white, Qt::black}, Expected{"chkShow", white, Qt::black},
              Expected{"lblInfo", white, QColor(128, 128, 128)}}) {
            auto* control = w.find<QWidget>(e.name);
            const QRect area(control->mapTo(w.form.get(), QPoint(0, 0)), control->size());
            // The corner is background; the darkest pixel inside is ink.
            QCOMPARE(shot.pixelColor(area.bottomRight() - QPoint(1, 1)), e.background);
            const QPalette::ColorRole ink =
                qobject_cast<QLineEdit*>(control) ? QPalette::Text : QPalette::WindowText;
            QCOMPARE(control->palette().color(ink), e.text);
            int darkest = 255;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    darkest = qMin(darkest, qGray(shot.pixel(x, y)));
            QVERIFY2(darkest <= qGray(e.text.rgb()) + 40, e.name);
        }
    }

    void windowGrowsButNeverShrinks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("place"); // in pixels, with the client area 150 wider and 90 higher
        QTest::newRow("the log takes both") << "txtOutput" << QRect(4, 164, 652, 279);
        QTest::newRow("the line box moves down and widens") << "txtLine" << QRect(4, 446, 652, 22);
        QTest::newRow("the send button follows both edges") << "cmdSend1" << QRect(658, 446, 31, 19);
        QTest::newRow("Clear follows the right edge") << "cmdClear" << QRect(660, 162, 79, 21);
        QTest::newRow("the connection frame stays") << "fraConnectionSettings" << QRect(4, 6, 376, 157);
        QTest::newRow("the file frame stays") << "fraSendFile" << QRect(381, 6, 207, 153);
    }
    void windowGrowsButNeverShrinks()
    {
        Window w(false);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QCOMPARE(w->minimumSize(), w->size());
        QVERIFY(w->windowFlags() & Qt::WindowMaximizeButtonHint);
        w->resize(w->size() + QSize(150, 90));
        QTRY_COMPARE(w->centralWidget()->size(), QSize(750, 511));
        QFETCH(QString, name);
        QTEST(w.find<QWidget>(name)->geometry(), "place");
        auto* info = w.find<QLabel>("lblInfo");
        QCOMPARE(info->geometry(), QRect(QPoint(4, 493), info->sizeHint()));
    }

    void infoLineElidesWhatDoesNotFit()
    {
        QTcpServer peer;
        QTemporaryDir dir;
        QFile file(dir.filePath(QString(200, QLatin1Char('x'))));
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0) && file.open(QIODevice::WriteOnly) &&
                file.write("1\n2\n") && file.flush());
        Window w;
        QVERIFY(TestSupport::connectTcpClient(w, peer.serverPort()));
        w->fileSender()->open(file.fileName());
        w.find<QPushButton>("cmdSendFile")->click();
        auto* info = w.find<QLabel>("lblInfo");
        QTRY_VERIFY(info->toolTip().contains(" | Sending " + QString(200, QLatin1Char('x')) + ": line "));
        QCOMPARE(info->text(), info->fontMetrics().elidedText(info->toolTip(), Qt::ElideRight, 592));
        QCOMPARE(info->geometry(), QRect(QPoint(4, 403), info->sizeHint()));
    }

    void sharedAccessKeysOnlyMoveTheFocus_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("click");
        const auto row = [](const char* name, const char* from, Qt::Key key, const char* to, bool click) {
            QTest::newRow(name) << QString(from) << int(key) << QString(to) << click;
        };
        row("line box, Alt+R: round to remote port", "txtLine", Qt::Key_R, "txtRemotePort", false);
        row("remote port, Alt+R: Clear", "txtRemotePort", Qt::Key_R, "cmdClear", false);
        row("interval, Alt+L: round to local port", "txtInterval", Qt::Key_L, "txtLocalPort", false);
        row("Alt+W, the key of one control, clicks it", "txtIP", Qt::Key_W, "chkFlat", true);
    }
    void sharedAccessKeysOnlyMoveTheFocus()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, click);
        Window w;
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        w.find<QWidget>(from)->setFocus();
        QTRY_VERIFY(w.find<QWidget>(from)->hasFocus());
        QFETCH(int, key);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), to);
        // A click starts by holding its button down.
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            QCOMPARE(b->isDown(), click && b->objectName() == to);
        QTRY_COMPARE(w.find<ToggleButton>("chkFlat")->value(), click ? 0 : 1);
    }

    void enterClicksTheDefaultButton()
    {
        Window w(false);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QPushButton* clear = w.find<QPushButton>("cmdClear");
        QSignalSpy clicked(clear, &QPushButton::clicked);
        w->setDefaultButton(clear);
        auto* host = w.find<QLineEdit>("txtIP");
        host->setFocus();
        QTest::keyClick(host, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QTest::keyClick(host, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(clicked.count(), 2);
        w->setDefaultButton(nullptr);
        QTest::keyClick(host, Qt::Key_Return);
        QCOMPARE(clicked.count(), 2);
    }

    void focusInTheLogDropsOnlyTheOpenButtonsRole()
    {
        Window w(false);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QWidget* log = w.logBox();
        log->setFocus();
        QTRY_VERIFY(log->hasFocus());
        QCOMPARE(w->defaultButton(), nullptr);

        auto* line = w.find<LineBox>("txtLine");
        line->setFocus();
        QTRY_COMPARE(w->defaultButton(), w.find<QPushButton>("cmdSend1"));
        log->setFocus();
        QTRY_VERIFY(log->hasFocus());
        QCOMPARE(w->defaultButton(), w.find<QPushButton>("cmdSend1"));
    }

    void clearEmptiesTheLog()
    {
        Window w;
        QVERIFY(!w.logBox()->text().isEmpty());
        w.find<QPushButton>("cmdClear")->click();
        QCOMPARE(w.logBox()->text(), QString());
        w.find<QPushButton>("cmdClear")->click();
        QCOMPARE(w.logBox()->text(), QString());
    }

    void lineBoxTellsTheLogWhatItCouldNotCopy()
    {
        Window w;
        auto* line = w.find<LineBox>("txtLine");
        line->setCopyLimit(3);
        line->setText(QStringLiteral("abcd"));
        line->setSelection(0, 4);
        QTest::keyClick(line, Qt::Key_C, Qt::ControlModifier);
        QVERIFY2(w.entries().constLast().contains(QStringLiteral("Not copied: the selection holds 4 bytes")),
                 qPrintable(w.entries().constLast()));
    }
};

KELVANE_TEST_MAIN(TestWindow)
#include "tst_window.moc"
