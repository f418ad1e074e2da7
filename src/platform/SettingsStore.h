#pragma once

#include <QList>
#include <QMap>
#include <QSettings>
#include <QString>

// One row of a settings array: each key of the row and its text.
using SettingsRow = QMap<QString, QString>;
using SettingsRows = QList<SettingsRow>;

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

    // The rows of an array ("History", "Commands"), every key of each row as stored.
    SettingsRows readArray(const QString& array) const;
    // Replaces the array; throws KvError when the store cannot be written.
    void writeArray(const QString& array, const SettingsRows& rows);
    // The same in an INI file the user chose, for import and export. Throws
    // KvError with the reason: not found, not readable, not an INI file, not writable.
    static SettingsRows readArrayFromFile(const QString& path, const QString& array);
    static void writeArrayToFile(const QString& path, const QString& array, const SettingsRows& rows);
    // The sections such a file holds, and one of its values ("Section/Key"),
    // the default when absent; they throw as readArrayFromFile does.
    static QStringList sectionsInFile(const QString& path);
    static QString readFromFile(const QString& path, const QString& key, const QString& defaultValue);
    // Adds values and an array to such a file, keeping what it holds.
    static void addToFile(const QString& path, const SettingsRow& values, const QString& array,
                          const SettingsRows& rows);
    // Why a save would fail, in a few words; empty when the store can be written.
    QString whyNotWritable() const;

private:
    // Reading an array steps through its groups.
    mutable QSettings m_settings;
};
