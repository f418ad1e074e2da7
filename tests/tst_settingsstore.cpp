// Settings arrays in the program's own store and in a file the user chose.

#include "testdata.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/stat.h>

// Texts that an INI file has to quote or escape, in rows of different keys.
static const SettingsRows Rows = {{{"Name", " a, b;c "}, {"Text", "\"RST\" 0D 0A \\ = [x]"}, {"Hex", "1"}},
                                  {{"Name", "\u00e9\u00ff"}, {"Text", ""}}};

class TestSettingsStore : public QObject
{
    Q_OBJECT

    TestData::TempFiles m_files;

private slots:
    void roundTrip()
    {
        SettingsStore(QStringLiteral("KelvaneArrays")).writeArray(QStringLiteral("Commands"), Rows + Rows);
        SettingsStore(QStringLiteral("KelvaneArrays")).writeArray(QStringLiteral("Commands"), Rows);
        QCOMPARE(SettingsStore(QStringLiteral("KelvaneArrays")).readArray(QStringLiteral("Commands")), Rows);
        // A file the user chose is replaced, not merged into.
        const QString path = m_files.write("[Other]\na=1\n[Commands]\n9\\Name=old\nsize=9\n");
        SettingsStore::writeArrayToFile(path, QStringLiteral("Commands"), Rows);
        QCOMPARE(SettingsStore::readArrayFromFile(path, QStringLiteral("Commands")), Rows);
        QCOMPARE(QSettings(path, QSettings::IniFormat).childGroups(), QStringList{"Commands"});
    }

    void fileErrors_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("writing");
        QTest::addColumn<QString>("reason");
        const QString text = m_files.write("just some text\n"), pipe = m_files.path(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const QString access = QStringLiteral("Path/File access error: ");
        QTest::newRow("missing") << m_files.path(QStringLiteral("none.ini")) << false << "File not found";
        QTest::newRow("a pipe") << pipe << false << access + pipe + " is not a regular file";
        QTest::newRow("plain text") << text << false << "Invalid file format: no [Commands] section";
        QTest::newRow("not INI") << m_files.write("[Commands\n1\\Name=x\n") << false
                                 << "Invalid file format: not an INI file";
        QTest::newRow("write a folder")
            << m_files.folder() << true << access + "a folder stands where the file belongs";
        QTest::newRow("write below a file")
            << text + "/out.ini" << true << access + text + " is not a folder";
    }

    void fileErrors()
    {
        QFETCH(QString, path);
        QFETCH(bool, writing);
        QString reason;
        try {
            if (writing)
                SettingsStore::writeArrayToFile(path, QStringLiteral("Commands"), Rows);
            else
                SettingsStore::readArrayFromFile(path, QStringLiteral("Commands"));
        } catch (const KvError& e) {
            reason = e.description();
        }
        QTEST(reason, "reason");
    }
};

KELVANE_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
