#pragma once

#include <QSettings>
#include <QString>

// The per-user store of text values, addressed by a section and a key under
// the application's name: an INI file in the user's configuration folder
// (XDG_CONFIG_HOME on Linux). Texts come back exactly as written, commas,
// quotes and blanks included.
class SettingsStore
{
public:
    explicit SettingsStore(const QString& applicationName);
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    QString read(const QString& section, const QString& key, const QString& defaultValue) const;
    // Throws KvError when the store cannot be written.
    void write(const QString& section, const QString& key, const QString& value);
    QString fileName() const;
    // Why a save would fail, in a few words; empty when the store can be written.
    QString whyNotWritable() const;

private:
    QSettings m_settings;
};
