#pragma once

#include <QString>

class QSettings;

// The one place that knows the saved settings: their keys, exactly as stored,
// the defaults used when a key is absent, and where the store lives.
namespace Settings {

inline const QString Section = QStringLiteral("Settings");

inline const QString File = QStringLiteral("File");
inline const QString RemoteIp = QStringLiteral("remoteip");
inline const QString RemotePort = QStringLiteral("remoteport");
inline const QString LocalPort = QStringLiteral("localport");
inline const QString Interval = QStringLiteral("Interval");
inline const QString Ascii = QStringLiteral("ascii");
inline const QString CrLf = QStringLiteral("crlf");
inline const QString CloseOnDisconnect = QStringLiteral("CloseOnDisconnect");
inline const QString Server = QStringLiteral("server");
inline const QString Mode = QStringLiteral("mode");

// The home folder with a trailing separator stands in for a first start's file name.
QString defaultFile();
inline const QString DefaultRemoteIp = QStringLiteral("127.0.0.1");
inline const QString DefaultRemotePort = QStringLiteral("5005");
inline const QString DefaultLocalPort = QStringLiteral("0");
inline const QString DefaultInterval = QStringLiteral("1000");
inline const QString DefaultAscii = QStringLiteral("1");
inline const QString DefaultCrLf = QStringLiteral("1");
inline const QString DefaultCloseOnDisconnect = QStringLiteral("1");
inline const QString DefaultServer = QStringLiteral("1");
inline const QString DefaultMode = QStringLiteral("0");

} // namespace Settings

// Per-user store of text values under the application title and a section.
// Texts come back exactly as written, commas, quotes and blanks included.
class SettingsStore
{
public:
    explicit SettingsStore(const QString& applicationName);
    ~SettingsStore();

    QString read(const QString& section, const QString& key, const QString& defaultValue) const;
    // Throws when the store cannot be written.
    void write(const QString& section, const QString& key, const QString& value);
    QString fileName() const;
    // Why a save would fail, in a few words; empty when the store can be written.
    QString whyNotWritable() const;

private:
    QSettings* m_settings;
};
