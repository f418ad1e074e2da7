#include "platform/SettingsStore.h"

#include "platform/KvError.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

SettingsStore::SettingsStore(const QString& applicationName)
    : m_settings(QSettings::IniFormat, QSettings::UserScope, applicationName, applicationName)
{
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QVariant v = m_settings.value(section + QLatin1Char('/') + key);
    if (!v.isValid())
        return defaultValue;
    // A hand-edited file may hold an unquoted comma, which the INI reader
    // hands back as a list: join it back into the text that stood there.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
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
    const QFileInfo file(m_settings.fileName());
    if (file.exists()) {
        if (file.isDir())
            return QStringLiteral("a folder stands where the file belongs");
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

SettingsRows SettingsStore::readArray(const QString& array) const
{
    return {};
}

void SettingsStore::writeArray(const QString& array, const SettingsRows& rows) {}

SettingsRows SettingsStore::readArrayFromFile(const QString& path, const QString& array)
{
    return {};
}

void SettingsStore::writeArrayToFile(const QString& path, const QString& array, const SettingsRows& rows) {}
