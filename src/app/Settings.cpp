#include "app/Settings.h"

#include "net/TlsCertificates.h"
#include "platform/KvError.h"
#include "platform/SettingsStore.h"
#include "send/Codec.h"

#include <QDir>

#include <array>
#include <optional>
#include <utility>

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
        {QStringLiteral("RepeatTimes"), QStringLiteral("10"), &SavedSettings::repeatTimes},
        {QStringLiteral("RepeatInterval"), QStringLiteral("1000"), &SavedSettings::repeatInterval},
        {QStringLiteral("Enabled"), QStringLiteral("0"), &SavedSettings::repliesEnabled,
         Settings::RepliesSection},
        {QStringLiteral("Delimiter"), QString(), &SavedSettings::replyDelimiter, Settings::RepliesSection},
        // Empty when the window was not capturing as it closed.
        {QStringLiteral("File"), QString(), &SavedSettings::captureFile, Settings::CaptureSection},
        {QStringLiteral("Append"), QStringLiteral("1"), &SavedSettings::captureAppend,
         Settings::CaptureSection},
        {QStringLiteral("Milliseconds"), QStringLiteral("0"), &SavedSettings::milliseconds,
         Settings::LogSection},
        {QStringLiteral("Certificate"), QString(), &SavedSettings::tlsCertificate, Settings::TlsSection},
        {QStringLiteral("Key"), QString(), &SavedSettings::tlsKey, Settings::TlsSection},
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
        saved.*s.text = store.read(s.section, s.key, s.defaultValue);
    saved.history = historyFromRows(store.readArray(HistoryArray));
    saved.commands =
        commandsFromRows(store.readArray(CommandsArray), store.fileName(), saved.commandsSkipped);
    saved.replyRules = rulesFromRows(store.readArray(RuleArray), store.fileName(), saved.repliesSkipped);
    saved.replyDelimiter = QString::fromLatin1(
        AsciiToHex(delimiterFromText(saved.replyDelimiter, store.fileName(), saved.repliesSkipped)));
    saved.tlsTrusted =
        trustedFromRows(store.readArray(TrustedArray), store.fileName(), saved.commandsSkipped);
    return saved;
}

namespace {

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// A flag as stored; anything but "1" and "0" is a broken entry.
std::optional<bool> readFlag(const SettingsRow& row, const QString& key)
{
    const QString text = row.value(key).trimmed();
    if (text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("0"))
        return false;
    return std::nullopt;
}

// A flag is never guessed: the wrong one would send other bytes.
QString flagProblem(const SettingsRow& row, const QString& key)
{
    return row.contains(key)
               ? key + QStringLiteral(" is \"") + row.value(key) + QStringLiteral("\", not 1 or 0")
               : QStringLiteral("no ") + key;
}

} // namespace

SettingsRows Settings::historyRows(const QList<HistoryLine>& lines)
{
    SettingsRows rows;
    for (const HistoryLine& line : lines)
        rows.append({{TextKey, line.text}, {HexKey, flag(line.hex)}});
    return rows;
}

QList<HistoryLine> Settings::historyFromRows(const SettingsRows& rows)
{
    // Recall is a convenience: a row without its text is passed over.
    QList<HistoryLine> lines;
    for (const SettingsRow& row : rows)
        if (row.contains(TextKey))
            lines.append({row.value(TextKey), readFlag(row, HexKey).value_or(false)});
    return lines;
}

SettingsRows Settings::commandRows(const QList<Command>& commands)
{
    SettingsRows rows;
    for (const Command& c : commands)
        rows.append({{NameKey, c.name}, {TextKey, c.text}, {HexKey, flag(c.hex)}, {CrLfKey, flag(c.crLf)}});
    return rows;
}

QList<Command> Settings::commandsFromRows(const SettingsRows& rows, const QString& where,
                                          QStringList& skipped)
{
    QList<Command> commands;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const SettingsRow& row = rows.at(i);
        Command c;
        c.name = row.value(NameKey);
        c.text = row.value(TextKey);
        const std::optional<bool> hex = readFlag(row, HexKey);
        const std::optional<bool> crLf = readFlag(row, CrLfKey);
        c.hex = hex.value_or(false);
        c.crLf = crLf.value_or(false);
        auto badFlag = [&row](const QString& key) { return flagProblem(row, key); };
        QString why;
        if (!row.contains(TextKey))
            why = QStringLiteral("no ") + TextKey;
        else if (!hex)
            why = badFlag(HexKey);
        else if (!crLf)
            why = badFlag(CrLfKey);
        else
            why = commandProblem(c);
        if (why.isEmpty())
            commands.append(c);
        else
            skipped.append(QStringLiteral("Command ") + QString::number(i + 1) +
                           (c.name.isEmpty() ? QString() : QStringLiteral(" (") + c.name + QLatin1Char(')')) +
                           QStringLiteral(" in [") + CommandsArray + QStringLiteral("] of ") + where +
                           QStringLiteral(" skipped: ") + why);
    }
    return commands;
}

SettingsRows Settings::trustedRows(const QMap<QString, QString>& trusted)
{
    SettingsRows rows;
    for (auto it = trusted.cbegin(); it != trusted.cend(); ++it)
        rows.append({{PeerKey, it.key()}, {Sha256Key, it.value()}});
    return rows;
}

QMap<QString, QString> Settings::trustedFromRows(const SettingsRows& rows, const QString& where,
                                                 QStringList& skipped)
{
    QMap<QString, QString> trusted;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString peer = rows.at(i).value(PeerKey).trimmed();
        const std::optional<QString> sha256 = normalizedFingerprint(rows.at(i).value(Sha256Key));
        if (!peer.isEmpty() && sha256)
            trusted.insert(peer, *sha256);
        else
            skipped.append(QStringLiteral("Trusted certificate ") + QString::number(i + 1) +
                           QStringLiteral(" in [") + TlsSection + QStringLiteral("] of ") + where +
                           QStringLiteral(" skipped: ") +
                           (peer.isEmpty() ? QStringLiteral("no ") + PeerKey
                                           : Sha256Key + QStringLiteral(" is not 64 hex digits")));
    }
    return trusted;
}

SettingsRows Settings::ruleRows(const QList<ReplyRule>& rules)
{
    SettingsRows rows;
    for (const ReplyRule& r : rules)
        rows.append({{OnKey, flag(r.on)},
                     {MatchKey, matchName(r.match)},
                     {PatternKey, r.pattern},
                     {PatternHexKey, flag(r.patternHex)},
                     {ReplyKey, r.reply},
                     {ReplyHexKey, flag(r.replyHex)},
                     {CrLfKey, flag(r.crLf)},
                     {DelayKey, QString::number(r.delayMs)}});
    return rows;
}

QList<ReplyRule> Settings::rulesFromRows(const SettingsRows& rows, const QString& where, QStringList& skipped)
{
    QList<ReplyRule> rules;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const SettingsRow& row = rows.at(i);
        ReplyRule r;
        QString why;
        for (const auto& [key, to] : {std::pair{OnKey, &r.on}, std::pair{PatternHexKey, &r.patternHex},
                                      std::pair{ReplyHexKey, &r.replyHex}, std::pair{CrLfKey, &r.crLf}}) {
            const std::optional<bool> value = readFlag(row, key);
            if (!value && why.isEmpty())
                why = flagProblem(row, key);
            *to = value.value_or(false);
        }
        const std::optional<ReplyRule::Match> match = matchFromName(row.value(MatchKey));
        bool delayRead = false;
        r.delayMs = row.value(DelayKey, QStringLiteral("0")).trimmed().toLongLong(&delayRead);
        if (!delayRead)
            r.delayMs = -1; // refused below with the range
        r.match = match.value_or(ReplyRule::Contains);
        r.pattern = row.value(PatternKey);
        r.reply = row.value(ReplyKey);
        // The first problem says it.
        if (why.isEmpty() && !match)
            why = MatchKey + QStringLiteral(" is \"") + row.value(MatchKey) +
                  QStringLiteral("\", not contains, starts, equals or regex");
        if (why.isEmpty() && (!row.contains(PatternKey) || !row.contains(ReplyKey)))
            why = QStringLiteral("no ") + (row.contains(PatternKey) ? ReplyKey : PatternKey);
        if (why.isEmpty())
            why = replyRuleProblem(r);
        if (why.isEmpty())
            rules.append(r);
        else
            skipped.append(QStringLiteral("Rule ") + QString::number(i + 1) + QStringLiteral(" in [") +
                           RepliesSection + QStringLiteral("] of ") + where + QStringLiteral(" skipped: ") +
                           why);
    }
    return rules;
}

QByteArray Settings::delimiterFromText(const QString& text, const QString& where, QStringList& skipped)
{
    if (text.trimmed().isEmpty())
        return {};
    try {
        return readDelimiter(text);
    } catch (const std::exception& e) {
        skipped.append(QStringLiteral("Delimiter in [") + RepliesSection + QStringLiteral("] of ") + where +
                       QStringLiteral(" ignored: ") + KvErr::describe(e));
        return {};
    }
}

namespace {

QString delimiterKey()
{
    const Settings::Setting& s = Settings::setting(Settings::ReplyDelimiter);
    return s.section + QLatin1Char('/') + s.key;
}

} // namespace

QList<Command> IniCommandFile::read(const QString& path, QStringList& skipped,
                                    std::optional<ReplySet>& replies) const
{
    using namespace Settings;
    const QStringList sections = SettingsStore::sectionsInFile(path);
    replies.reset();
    if (sections.contains(RepliesSection)) {
        ReplySet set;
        set.delimiter =
            delimiterFromText(SettingsStore::readFromFile(path, delimiterKey(), QString()), path, skipped);
        set.rules = rulesFromRows(SettingsStore::readArrayFromFile(path, RuleArray), path, skipped);
        replies = set;
        // A file of rules alone is no broken file of commands.
        if (!sections.contains(CommandsArray))
            return {};
    }
    return commandsFromRows(SettingsStore::readArrayFromFile(path, CommandsArray), path, skipped);
}

void IniCommandFile::write(const QString& path, const QList<Command>& commands, const ReplySet& replies) const
{
    using namespace Settings;
    SettingsStore::writeArrayToFile(path, CommandsArray, commandRows(commands));
    // A file without rules stays as it was before rules were kept.
    if (!replies.rules.isEmpty())
        SettingsStore::addToFile(path, {{delimiterKey(), QString::fromLatin1(AsciiToHex(replies.delimiter))}},
                                 RuleArray, ruleRows(replies.rules));
}
