#include "testdata.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/stat.h>

static const SettingsRows Rows = {{{"Name", " a, b;c "}, {"Text", "\"RST\" 0D 0A \\ = [x]"}, {"Hex", "1"}},
                                  {{"Name", "\u00e9\u00ff"}, {"Text", ""}}};

class TestSettingsStore : public QObject
{
    Q_OBJECT

    TestData::TempFiles m_files;

private slots:
    void files_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("writing");
        QTest::addColumn<QString>("reason");
        const QString text = m_files.write("just some text\n"), pipe = m_files.path(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const QString access = QStringLiteral("Path/File access error: ");
        QTest::newRow("round trip") << m_files.write("[Other]\na=1\n[Commands]\n9\\Name=old\n") << true << "";
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

    void files()
    {
        QFETCH(QString, path);
        QFETCH(bool, writing);
        QString reason;
        try {
            if (writing)
                SettingsStore::writeArrayToFile(path, QStringLiteral("Commands"), Rows);
            QCOMPARE(SettingsStore::readArrayFromFile(path, QStringLiteral("Commands")), Rows);
            QCOMPARE(QSettings(path, QSettings::IniFormat).childGroups(), QStringList{"Commands"});
        } catch (const KvError& e) {
            reason = e.description();
        }
        QTEST(reason, "reason");
    }
};

KELVANE_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
