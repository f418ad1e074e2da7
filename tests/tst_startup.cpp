// Start-up: caption, first entry, and the saved settings restored into the
// controls, from an empty store, from stored values and from bad values.

#include "testsupport.h"

#include "ui/CommonDialog.h"
#include "ui/Controls.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using TestSupport::Window;
using Stored = QMap<QString, QString>;

Q_DECLARE_METATYPE(Stored)

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void init() { TestSupport::clearSettings(); }

    void captionIsTheFirstEntry()
    {
        Window w;
        QCOMPARE(w->windowTitle(), QStringLiteral("Kelvane V1.0.0"));
        const QString log = w.logBox()->text();
        QVERIFY(log.startsWith(QStringLiteral("\r\n<")));
        QCOMPARE(TestSupport::entryBodies(log), QStringList{TestSupport::body({"Kelvane V1.0.0"})});
    }

    void restore_data()
    {
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<QStringList>("texts"); // host, remote port, local port, interval
        QTest::addColumn<bool>("ascii");
        QTest::addColumn<int>("crlf");
        QTest::addColumn<bool>("server");
        QTest::addColumn<int>("closeBox");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("failures");

        const QStringList defaults{"127.0.0.1", "5005", "0", "1000"};
        QTest::newRow("first start") << Stored{} << defaults << true << 1 << true << 1 << 0 << 0;
        QTest::newRow("hex mode whatever crlf holds")
            << Stored{{"ascii", "0"}, {"crlf", "1"}} << defaults << false << 0 << true << 1 << 0 << 0;
        QTest::newRow("hex mode never converts crlf")
            << Stored{{"ascii", "0"}, {"crlf", "40000"}} << defaults << false << 0 << true << 1 << 0 << 0;
        QTest::newRow("client role hides the close box")
            << Stored{{"server", "0"}, {"CloseOnDisconnect", "1"}} << defaults << true << 1 << false << 0 << 0
            << 0;
        QTest::newRow("true as shut-down writes it")
            << Stored{{"ascii", "-1"}, {"server", "-1"}} << defaults << true << 1 << true << 1 << 0 << 0;
        QTest::newRow("any other non-zero number")
            << Stored{{"ascii", "5"}, {"server", "0.5"}} << defaults << true << 1 << true << 1 << 0 << 0;
        QTest::newRow("numbers in the boxes")
            << Stored{{"remoteport", "80a"}, {"localport", "xyz"}, {"Interval", "1e3"}, {"remoteip", ""}}
            << QStringList{"", "80", "0", "1000"} << true << 1 << true << 1 << 0 << 0;
        QTest::newRow("udp") << Stored{{"mode", "1"}} << defaults << true << 1 << true << 1 << 1 << 0;
        QTest::newRow("no protocol") << Stored{{"mode", "-1"}} << defaults << true << 1 << true << 1 << -1
                                     << 0;
        QTest::newRow("unknown protocol")
            << Stored{{"mode", "7"}} << defaults << true << 1 << true << 1 << -1 << 1;
        QTest::newRow("greyed crlf") << Stored{{"crlf", "2"}} << defaults << true << 2 << true << 1 << 0 << 0;
        QTest::newRow("crlf a check box cannot take")
            << Stored{{"crlf", "3"}} << defaults << true << 1 << true << 1 << 0 << 1;
        QTest::newRow("crlf overflows")
            << Stored{{"crlf", "40000"}} << defaults << true << 1 << true << 1 << 0 << 1;
        QTest::newRow("close box unchecked")
            << Stored{{"CloseOnDisconnect", "0"}} << defaults << true << 1 << true << 0 << 0 << 0;
        QTest::newRow("close box value refused")
            << Stored{{"CloseOnDisconnect", "9"}} << defaults << true << 1 << true << 0 << 0 << 1;
        QTest::newRow("mode overflows")
            << Stored{{"mode", "&H10000"}} << defaults << true << 1 << true << 1 << -1 << 1;
        QTest::newRow("views a check box cannot take: the boxes keep theirs")
            << Stored{{"FlatView", "3"}, {"ShowSent", "40000"}} << defaults << true << 1 << true << 1 << 0
            << 2;
        QTest::newRow("every bad value costs its own step")
            << Stored{{"crlf", "5"}, {"CloseOnDisconnect", "1e9"}, {"mode", "3"}} << defaults << true << 1
            << true << 0 << -1 << 3;
    }
    void restore()
    {
        QFETCH(Stored, stored);
        QFETCH(QStringList, texts);
        QFETCH(bool, ascii);
        QFETCH(int, crlf);
        QFETCH(bool, server);
        QFETCH(int, closeBox);
        QFETCH(int, mode);
        QFETCH(int, failures);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            TestSupport::storeSetting(it.key(), it.value());

        Window w;
        QCOMPARE(w.find<QLineEdit>("txtIP")->text(), texts[0]);
        QCOMPARE(w.find<QLineEdit>("txtRemotePort")->text(), texts[1]);
        QCOMPARE(w.find<QLineEdit>("txtLocalPort")->text(), texts[2]);
        QCOMPARE(w.find<QLineEdit>("txtInterval")->text(), texts[3]);
        QCOMPARE(w.find<OptionButton>("optMode0")->isChecked(), ascii);
        QCOMPARE(w.find<OptionButton>("optMode1")->isChecked(), !ascii);
        QCOMPARE(w.find<CheckBox>("chkAppenCrLf")->value(), crlf);
        QCOMPARE(w.find<CheckBox>("chkAppenCrLf")->isEnabled(), ascii);
        QCOMPARE(w.find<OptionButton>("optServer0")->isChecked(), server);
        QCOMPARE(w.find<OptionButton>("optServer1")->isChecked(), !server);
        QCOMPARE(w.find<CheckBox>("chkCloseOnDisconnect")->value(), closeBox);
        QCOMPARE(w.find<CheckBox>("chkCloseOnDisconnect")->isEnabled(), server);
        QCOMPARE(w.find<ListCombo>("cboMode")->listIndex(), mode);
        QCOMPARE(QList<int>({w.find<ToggleButton>("chkFlat")->value(), w.find<CheckBox>("chkShow")->value()}),
                 QList<int>({1, 1}));

        const QStringList entries = TestSupport::entryBodies(w.logBox()->text());
        QCOMPARE(entries.size(), 1 + failures);
        QCOMPARE(entries.first(), TestSupport::body({w->windowTitle()}));
        for (int i = 1; i < entries.size(); ++i) {
            QVERIFY(entries[i].endsWith(QStringLiteral("\r\n")));
            QVERIFY(entries[i].size() > 2); // the failure's description
        }
    }

    void clientRoleGivesTheBoxBackToTheServerRole()
    {
        TestSupport::storeSetting("server", "0");
        TestSupport::storeSetting("CloseOnDisconnect", "1");
        Window w;
        auto* box = w.find<CheckBox>("chkCloseOnDisconnect");
        QCOMPARE(box->value(), 0);
        w.find<OptionButton>("optServer0")->click();
        QCOMPARE(box->value(), 1);
        QVERIFY(box->isEnabled());
        box->setValue(0);
        w.find<OptionButton>("optServer1")->click();
        w.find<OptionButton>("optServer0")->click();
        QCOMPARE(box->value(), 0);
    }

    void fileNameDefaultsToTheHomeFolder()
    {
        Window w;
        QCOMPARE(w.fileDialog()->FileName(), QDir::toNativeSeparators(QDir::homePath() + "/"));
        TestSupport::storeSetting("File", "/tmp/some file, with \"quotes\".txt");
        Window again;
        QCOMPARE(again.fileDialog()->FileName(), QStringLiteral("/tmp/some file, with \"quotes\".txt"));
    }

    void textsComeBackExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << "host,example";
        QTest::newRow("comma and blank") << "a, b";
        QTest::newRow("quotes") << "\"quoted\" host";
        QTest::newRow("backslashes") << "C:\\data\\x\\";
        QTest::newRow("equals and semicolon") << "a=b;c";
        QTest::newRow("leading and trailing blanks") << "  spaced  ";
        QTest::newRow("at sign first") << "@Variant(x)";
        QTest::newRow("hash") << "#not a comment";
        QTest::newRow("latin-1 letters") << QString::fromLatin1("caf\xe9 \xfc");
        QTest::newRow("empty") << "";
    }
    void textsComeBackExactly()
    {
        QFETCH(QString, text);
        TestSupport::storeSetting("remoteip", text);
        QCOMPARE(TestSupport::storedSetting(Settings::RemoteIp), text);
        Window w;
        QCOMPARE(w.find<QLineEdit>("txtIP")->text(), text);
    }

    void handEditedListIsReadAsItsText()
    {
        {
            QSettings raw = TestSupport::rawSettings();
            raw.setValue("Settings/remoteip", QStringList{"a", "b"});
        }
        QCOMPARE(TestSupport::storedSetting(Settings::RemoteIp), QStringLiteral("a,b"));
    }

    void keysAreStoredAsSpelled()
    {
        TestSupport::storeSetting("CloseOnDisconnect", "1");
        QSettings raw = TestSupport::rawSettings();
        QVERIFY(raw.fileName().startsWith(TestSupport::configDir().path()));
        QVERIFY(raw.childGroups().contains(QStringLiteral("Settings")));
        QCOMPARE(raw.value("Settings/CloseOnDisconnect").toString(), QStringLiteral("1"));
    }
};

KELVANE_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
