#pragma once

#include "platform/SettingsStore.h"
#include "ui/CommandsDialog.h"
#include "ui/frmKelvane.h"

#include <QString>

// The saved settings: the key each is stored under, exactly as spelled,
// the text read when it is absent, and its place in what the window takes.
namespace Settings {

inline const QString Section = QStringLiteral("Settings");
inline const QString CaptureSection = QStringLiteral("Capture");
inline const QString LogSection = QStringLiteral("Log");
inline const QString TlsSection = QStringLiteral("Tls");

struct Setting
{
    QString key;
    QString defaultValue;
    QString SavedSettings::*text;
    QString section = Section;
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
    RepeatTimes,
    RepeatInterval,
    RepliesEnabled,
    ReplyDelimiter,
    CaptureFile,
    CaptureAppend,
    Milliseconds,
    TlsCertificate,
    TlsKey,
    Count
};

const Setting& setting(Index index);

// Every stored text, or its default; the history and the commands too.
SavedSettings read(const SettingsStore& store);

// The arrays beside the section, and the keys of their rows. A flag is "1" or "0".
inline const QString HistoryArray = QStringLiteral("History");
inline const QString CommandsArray = QStringLiteral("Commands");
inline const QString NameKey = QStringLiteral("Name");
inline const QString TextKey = QStringLiteral("Text");
inline const QString HexKey = QStringLiteral("Hex");
inline const QString CrLfKey = QStringLiteral("CrLf");
// The fingerprints trusted always, in [Tls]: Peer (host:port) and Sha256.
inline const QString TrustedArray = QStringLiteral("Tls/Trusted");
inline const QString PeerKey = QStringLiteral("Peer");
inline const QString Sha256Key = QStringLiteral("Sha256");

// Automatic replies: Enabled and Delimiter (HEX digits, empty for none) in
// their own section, beside the array of rules with a row's keys.
inline const QString RepliesSection = QStringLiteral("Replies");
inline const QString RuleArray = QStringLiteral("Replies/Rule");
inline const QString OnKey = QStringLiteral("On");
inline const QString MatchKey = QStringLiteral("Match");
inline const QString PatternKey = QStringLiteral("Pattern");
inline const QString PatternHexKey = QStringLiteral("PatternHex");
inline const QString ReplyKey = QStringLiteral("Reply");
inline const QString ReplyHexKey = QStringLiteral("ReplyHex");
inline const QString DelayKey = QStringLiteral("Delay");

// History rows, newest first: Text and Hex.
SettingsRows historyRows(const QList<HistoryLine>& lines);
QList<HistoryLine> historyFromRows(const SettingsRows& rows);
// Command rows in menu order: Name, Text, Hex and CrLf.
SettingsRows commandRows(const QList<Command>& commands);
// The commands of the rows in order. A row that cannot be sent as it stands
// is left out, and skipped says which and why, naming where it was read.
QList<Command> commandsFromRows(const SettingsRows& rows, const QString& where, QStringList& skipped);
// Rule rows in order; and back, a rule that cannot work left out and told in skipped.
SettingsRows ruleRows(const QList<ReplyRule>& rules);
QList<ReplyRule> rulesFromRows(const SettingsRows& rows, const QString& where, QStringList& skipped);
// The delimiter as stored; one that does not read as HEX bytes is none, told in skipped.
QByteArray delimiterFromText(const QString& text, const QString& where, QStringList& skipped);

// Trusted rows: one a peer. A row without a peer or with a fingerprint that
// is not 64 hex digits is left out, and skipped says which and why.
SettingsRows trustedRows(const QMap<QString, QString>& trusted);
QMap<QString, QString> trustedFromRows(const SettingsRows& rows, const QString& where, QStringList& skipped);

} // namespace Settings

// Commands in a file of their own, in the form the settings keep them.
class IniCommandFile : public CommandFile
{
public:
    QList<Command> read(const QString& path, QStringList& skipped,
                        std::optional<ReplySet>& replies) const override;
    void write(const QString& path, const QList<Command>& commands, const ReplySet& replies) const override;
};
