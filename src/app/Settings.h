#pragma once

#include <QString>
#include <QVariant>

class SettingsStore;

// The ten saved settings: the key each is stored under, exactly as spelled,
// the text read when it is absent, and how start-up turns the stored text
// into its control's value.
namespace Settings {

inline const QString Section = QStringLiteral("Settings");

enum class Conversion
{
    None,       // the text as stored
    NumberText, // its numeric value, written back as text
    Selected,   // an option selected when the numeric value is not 0
    Rounded16   // the numeric value rounded to a 16-bit integer
};

struct Setting
{
    QString key;
    QString defaultValue;
    Conversion conversion;
};

// In the order start-up reads them.
enum Index
{
    File,
    RemoteIp,
    RemotePort,
    LocalPort,
    Interval,
    Ascii,
    CrLf,
    CloseOnDisconnect,
    Server,
    Mode,
    Count
};

const Setting& setting(Index index);

// The stored text, or the default, turned by the setting's conversion: a
// text, a Boolean (Selected) or an int (Rounded16). Throws KvError when a
// number overflows its conversion.
QVariant restored(const SettingsStore& store, Index index);

// The text shut-down stores for an option: "-1" when selected, else "0".
QString flagText(bool selected);

} // namespace Settings
