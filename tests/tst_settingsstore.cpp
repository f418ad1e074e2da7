// Settings arrays in the program's own store and in a file the user chose.

#include "testdata.h"
#include "testsupport.h"

#include <QtTest>

#include <sys/stat.h>

namespace {

const QString App = QStringLiteral("KelvaneArrays");

// Texts that an INI file has to quote or escape.
const SettingsRows Rows = {
    {{"Name", "Status"}, {"Text", "STATUS?"}, {"Hex", "0"}, {"CrLf", "1"}},
    {{"Name", " a, b;c "}, {"Text", "\"RST\" 0D 0A \\ = [x]"}, {"Hex", "1"}, {"CrLf", "0"}},
    {{"Name", "\u00e9\u00ff"}, {"Text", ""}},
};

QString failure(const std::function<void()>& work)
{
    try {
        work();
    } catch (const KvError& e) {
        return e.description();
    }
    return QString();
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private:
    TestData::TempFiles m_files;

private slots:
    void roundTrip()
    {
        SettingsStore store(App);
        store.writeArray(QStringLiteral("Commands"), Rows + Rows);
        store.writeArray(QStringLiteral("Commands"), Rows);
        store.write(QStringLiteral("Other"), QStringLiteral("Key"), QStringLiteral("kept"));
        QCOMPARE(SettingsStore(App).readArray(QStringLiteral("Commands")), Rows);
        QCOMPARE(SettingsStore(App).read(QStringLiteral("Other"), QStringLiteral("Key"), QString()), "kept");

        // A file the user chose is replaced, not merged into.
        const QString path = m_files.write("[Other]\na=1\n[Commands]\n9\\Name=old\nsize=9\n");
        SettingsStore::writeArrayToFile(path, QStringLiteral("Commands"), Rows);
        QCOMPARE(SettingsStore::readArrayFromFile(path, QStringLiteral("Commands")), Rows);
        QVERIFY(QSettings(path, QSettings::IniFormat).childGroups() == QStringList{"Commands"});
    }

    // As a hand-edited file may hold it: no count, rows out of order, an
    // unquoted comma, a count below the rows.
    void handEdited_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("no count") << QByteArray("[Commands]\n2\\Name=b\n1\\Name=a,c\n")
                                  << QStringList{"a,c", "b"};
        QTest::newRow("rows past the count")
            << QByteArray("[Commands]\n1\\Name=a\n2\\Name=b\nsize=1\n") << QStringList{"a"};
        QTest::newRow("a count without rows") << QByteArray("[Commands]\nsize=1000000000\n") << QStringList{};
    }

    void handEdited()
    {
        QFETCH(QByteArray, file);
        QStringList names;
        for (const SettingsRow& row :
             SettingsStore::readArrayFromFile(m_files.write(file), QStringLiteral("Commands")))
            names.append(row.value(QStringLiteral("Name")));
        QTEST(names, "names");
    }

    void fileErrors_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("writing");
        QTest::addColumn<QString>("reason");
        const QString plain = m_files.write("just some text\n");
        const QString pipe = m_files.path(QStringLiteral("pipe"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QTest::newRow("missing") << m_files.path(QStringLiteral("none.ini")) << false << "File not found";
        QTest::newRow("a pipe")
            << pipe << false << QStringLiteral("Path/File access error: %1 is not a regular file").arg(pipe);
        QTest::newRow("plain text") << plain << false << "Invalid file format: no [Commands] section";
        QTest::newRow("a broken section")
            << m_files.write("[Commands\n1\\Name=x\n") << false << "Invalid file format: not an INI file";
        QTest::newRow("write over a folder")
            << m_files.folder() << true << "Path/File access error: a folder stands where the file belongs";
        QTest::newRow("write over a pipe")
            << pipe << true << QStringLiteral("Path/File access error: %1 is not a regular file").arg(pipe);
        QTest::newRow("write below a file")
            << plain + QStringLiteral("/out.ini") << true
            << QStringLiteral("Path/File access error: %1 is not a folder").arg(plain);
    }

    void fileErrors()
    {
        QFETCH(QString, path);
        QFETCH(bool, writing);
        const QString array = QStringLiteral("Commands");
        QTEST(failure([&] {
                  if (writing)
                      SettingsStore::writeArrayToFile(path, array, Rows);
                  else
                      SettingsStore::readArrayFromFile(path, array);
              }),
              "reason");
    }
};

KELVANE_TEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
