#include "app/Settings.h"

#include "platform/NumConv.h"
#include "platform/SettingsStore.h"

#include <QDir>

#include <array>

namespace {

using Settings::Conversion;

// The home folder with a trailing separator stands in for a first start's
// file name, where the window was first drawn with a drive's root.
QString homeFolder()
{
    return QDir::toNativeSeparators(QDir::homePath() + QLatin1Char('/'));
}

const std::array<Settings::Setting, Settings::Count>& table()
{
    static const std::array<Settings::Setting, Settings::Count> settings{{
        {QStringLiteral("File"), homeFolder(), Conversion::None},
        {QStringLiteral("remoteip"), QStringLiteral("127.0.0.1"), Conversion::None},
        {QStringLiteral("remoteport"), QStringLiteral("5005"), Conversion::NumberText},
        {QStringLiteral("localport"), QStringLiteral("0"), Conversion::NumberText},
        {QStringLiteral("Interval"), QStringLiteral("1000"), Conversion::NumberText},
        {QStringLiteral("ascii"), QStringLiteral("1"), Conversion::Selected},
        {QStringLiteral("crlf"), QStringLiteral("1"), Conversion::Rounded16},
        {QStringLiteral("CloseOnDisconnect"), QStringLiteral("1"), Conversion::Rounded16},
        {QStringLiteral("server"), QStringLiteral("1"), Conversion::Selected},
        {QStringLiteral("mode"), QStringLiteral("0"), Conversion::Rounded16},
    }};
    return settings;
}

QString stored(const SettingsStore& store, Settings::Index index)
{
    const Settings::Setting& s = Settings::setting(index);
    return store.read(Settings::Section, s.key, s.defaultValue);
}

} // namespace

const Settings::Setting& Settings::setting(Index index)
{
    return table().at(size_t(index));
}

QVariant Settings::restored(const SettingsStore& store, Index index)
{
    const QString text = stored(store, index);
    switch (setting(index).conversion) {
    case Conversion::NumberText:
        return NumToText(Val(text));
    case Conversion::Selected:
        return Val(text) != 0;
    case Conversion::Rounded16:
        return int(RoundToInt16(Val(text)));
    case Conversion::None:
        break;
    }
    return text;
}

QString Settings::flagText(bool selected)
{
    return selected ? QStringLiteral("-1") : QStringLiteral("0");
}
