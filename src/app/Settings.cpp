#include "app/Settings.h"

#include "platform/SettingsStore.h"

#include <QDir>

#include <array>

namespace {

// The home folder with a trailing separator stands in for a first start's
// file name, where the window was first drawn with a drive's root.
QString homeFolder()
{
    return QDir::toNativeSeparators(QDir::homePath() + QLatin1Char('/'));
}

const std::array<Settings::Setting, Settings::Count>& table()
{
    static const std::array<Settings::Setting, Settings::Count> settings{{
        {QStringLiteral("File"), homeFolder(), &SavedSettings::file},
        {QStringLiteral("remoteip"), QStringLiteral("127.0.0.1"), &SavedSettings::remoteIp},
        {QStringLiteral("remoteport"), QStringLiteral("5005"), &SavedSettings::remotePort},
        {QStringLiteral("localport"), QStringLiteral("0"), &SavedSettings::localPort},
        {QStringLiteral("Interval"), QStringLiteral("1000"), &SavedSettings::interval},
        {QStringLiteral("ascii"), QStringLiteral("1"), &SavedSettings::ascii},
        {QStringLiteral("crlf"), QStringLiteral("1"), &SavedSettings::crlf},
        {QStringLiteral("CloseOnDisconnect"), QStringLiteral("1"), &SavedSettings::closeOnDisconnect},
        {QStringLiteral("server"), QStringLiteral("1"), &SavedSettings::server},
        {QStringLiteral("mode"), QStringLiteral("0"), &SavedSettings::mode},
        {QStringLiteral("FlatView"), QStringLiteral("1"), &SavedSettings::flatView},
        {QStringLiteral("ShowSent"), QStringLiteral("1"), &SavedSettings::showSent},
        // Empty until a window has closed: the layout's size where the system puts it.
        {QStringLiteral("Left"), QString(), &SavedSettings::left},
        {QStringLiteral("Top"), QString(), &SavedSettings::top},
        {QStringLiteral("Width"), QString(), &SavedSettings::width},
        {QStringLiteral("Height"), QString(), &SavedSettings::height},
    }};
    return settings;
}

} // namespace

const Settings::Setting& Settings::setting(Index index)
{
    return table().at(size_t(index));
}

SavedSettings Settings::read(const SettingsStore& store)
{
    SavedSettings saved;
    for (const Setting& s : table())
        saved.*s.text = store.read(Section, s.key, s.defaultValue);
    return saved;
}
