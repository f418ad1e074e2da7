#pragma once

#include "ui/frmKelvane.h"

#include <QString>

class SettingsStore;

// The saved settings: the key each is stored under, exactly as spelled,
// the text read when it is absent, and its place in what the window takes.
namespace Settings {

inline const QString Section = QStringLiteral("Settings");

struct Setting
{
    QString key;
    QString defaultValue;
    QString SavedSettings::*text;
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
    FlatView,
    ShowSent,
    Left,
    Top,
    Width,
    Height,
    Count
};

const Setting& setting(Index index);

// Every stored text, or its default.
SavedSettings read(const SettingsStore& store);

} // namespace Settings
