#include "platform/SettingsStore.h"

#include "platform/KvError.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace {

constexpr int ErrInvalidFormat = 321;

// A hand-edited file may hold an unquoted comma, which the INI reader hands
// back as a list: join it back into the text that stood there.
QString textOf(const QVariant& v)
{
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

QString whyNotWritable(const QString& fileName)
{
    const QFileInfo file(fileName);
    if (file.exists()) {
        if (file.isDir())
            return QStringLiteral("a folder stands where the file belongs");
        if (!file.isFile())
            return QStringLiteral("%1 is not a regular file").arg(file.filePath());
        return file.isWritable() ? QString() : QStringLiteral("the file is read-only");
    }
    // Saving creates the missing folders: the nearest one that exists decides.
    QFileInfo folder(file.absolutePath());
    while (!folder.exists() && !folder.isRoot())
        folder = QFileInfo(folder.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("%1 is not a folder").arg(folder.filePath());
    if (!folder.isWritable())
        return QStringLiteral("the folder %1 is read-only").arg(folder.filePath());
    return QString();
}

KvError notWritten(const QString& fileName)
{
    QString why = whyNotWritable(fileName);
    if (why.isEmpty())
        why = fileName;
    return KvError(KvErr::PathAccess, QStringLiteral("Path/File access error: ") + why);
}

SettingsRows readRows(QSettings& settings, const QString& array)
{
    // The numbered rows that stand in the file, up to its count when it has
    // one: a hand-edited count or number cannot make up rows that are not there.
    settings.beginGroup(array);
    const bool counted = settings.contains(QStringLiteral("size"));
    const int size = settings.value(QStringLiteral("size")).toInt();
    QList<std::pair<int, QString>> numbered;
    for (const QString& group : settings.childGroups()) {
        bool ok = false;
        const int number = group.toInt(&ok);
        if (ok && number > 0 && (!counted || number <= size))
            numbered.append({number, group});
    }
    std::sort(numbered.begin(), numbered.end());
    SettingsRows rows;
    for (const auto& [number, group] : numbered) {
        Q_UNUSED(number);
        settings.beginGroup(group);
        SettingsRow row;
        for (const QString& key : settings.childKeys())
            row.insert(key, textOf(settings.value(key)));
        rows.append(row);
        settings.endGroup();
    }
    settings.endGroup();
    return rows;
}

void writeRows(QSettings& settings, const QString& array, const SettingsRows& rows)
{
    // Rows beyond the new count would otherwise stay behind.
    settings.remove(array);
    settings.beginWriteArray(array, int(rows.size()));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        settings.setArrayIndex(int(i));
        // Stored as strings so that QSettings quotes commas and leading blanks.
        for (auto it = rows.at(i).cbegin(); it != rows.at(i).cend(); ++it)
            settings.setValue(it.key(), QVariant(it.value()));
    }
    settings.endArray();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw notWritten(settings.fileName());
}

} // namespace

SettingsStore::SettingsStore(const QString& applicationName)
    : m_settings(QSettings::IniFormat, QSettings::UserScope, applicationName, applicationName)
{
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QVariant v = m_settings.value(section + QLatin1Char('/') + key);
    if (!v.isValid())
        return defaultValue;
    return textOf(v);
}

void SettingsStore::write(const QString& section, const QString& key, const QString& value)
{
    // Stored as a string so that QSettings quotes commas and leading blanks.
    m_settings.setValue(section + QLatin1Char('/') + key, QVariant(value));
    m_settings.sync();
    if (m_settings.status() != QSettings::NoError)
        throw KvError(KvErr::PathAccess, QStringLiteral("Path/File access error: ") + m_settings.fileName());
}

QString SettingsStore::fileName() const
{
    return m_settings.fileName();
}

QString SettingsStore::whyNotWritable() const
{
    return ::whyNotWritable(m_settings.fileName());
}

SettingsRows SettingsStore::readArray(const QString& array) const
{
    return readRows(m_settings, array);
}

void SettingsStore::writeArray(const QString& array, const SettingsRows& rows)
{
    writeRows(m_settings, array, rows);
}

namespace {

// A file the user chose, opened for reading: QSettings reads a missing or
// unreadable file as an empty one, and would wait on a pipe, so the file is
// looked at first.
void checkFile(const QString& path)
{
    const QFileInfo file(path);
    if (file.exists() && !file.isFile())
        throw KvError(KvErr::PathAccess,
                      QStringLiteral("Path/File access error: %1 is not a regular file").arg(path));
    openRegularFile(path);
}

void checkRead(const QSettings& settings, const QString& path)
{
    if (settings.status() == QSettings::AccessError)
        throw KvError(KvErr::PathAccess, QStringLiteral("Path/File access error: ") + path);
    if (settings.status() == QSettings::FormatError)
        throw KvError(ErrInvalidFormat, QStringLiteral("Invalid file format: not an INI file"));
}

} // namespace

SettingsRows SettingsStore::readArrayFromFile(const QString& path, const QString& array)
{
    checkFile(path);
    QSettings settings(path, QSettings::IniFormat);
    checkRead(settings, path);
    // Lines without "=" are skipped, so any text reads as an empty INI file.
    if (!settings.childGroups().contains(array.section(QLatin1Char('/'), 0, 0)))
        throw KvError(ErrInvalidFormat, QStringLiteral("Invalid file format: no [%1] section").arg(array));
    return readRows(settings, array);
}

QStringList SettingsStore::sectionsInFile(const QString& path)
{
    checkFile(path);
    QSettings settings(path, QSettings::IniFormat);
    checkRead(settings, path);
    return settings.childGroups();
}

QString SettingsStore::readFromFile(const QString& path, const QString& key, const QString& defaultValue)
{
    checkFile(path);
    QSettings settings(path, QSettings::IniFormat);
    checkRead(settings, path);
    const QVariant v = settings.value(key);
    return v.isValid() ? textOf(v) : defaultValue;
}

void SettingsStore::addToFile(const QString& path, const SettingsRow& values, const QString& array,
                              const SettingsRows& rows)
{
    checkFile(path);
    QSettings settings(path, QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), QVariant(it.value()));
    writeRows(settings, array, rows);
}

void SettingsStore::writeArrayToFile(const QString& path, const QString& array, const SettingsRows& rows)
{
    // The file is replaced, not merged into; QSettings would first read what
    // stands there, and wait on a pipe.
    const QFileInfo file(path);
    if (file.exists() && !file.isFile())
        throw notWritten(path);
    QSettings settings(path, QSettings::IniFormat);
    settings.clear();
    writeRows(settings, array, rows);
}
