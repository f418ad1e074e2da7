#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One automatic reply: when a message matches, these bytes go back.
struct ReplyRule
{
    enum Match
    {
        Contains,
        Starts,
        Equals,
        Regex
    };
    // QTimer's own limit.
    static constexpr qint64 MaxDelayMs = 2147483647;

    bool on = true;
    Match match = Contains;
    // ASCII text, a HEX line, or a regular expression over the message as Latin-1 text.
    QString pattern;
    bool patternHex = false;
    // \0 is what the rule matched, \1 to \9 the groups of a regex, \\ one
    // backslash; in a HEX reply outside the quotes too.
    QString reply;
    bool replyHex = false;
    // Appended to an ASCII reply; a HEX reply carries its own line ends.
    bool crLf = false;
    // -1 when the text typed for it was no whole number.
    qint64 delayMs = 0;
    bool operator==(const ReplyRule& other) const;
    bool operator!=(const ReplyRule& other) const { return !(*this == other); }
};

// The rules and where the stream is cut for them, as the settings and a
// commands file keep them.
struct ReplySet
{
    QList<ReplyRule> rules;
    // Empty: a TCP message is each arrival as it came.
    QByteArray delimiter;
    bool operator==(const ReplySet& o) const { return rules == o.rules && delimiter == o.delimiter; }
    bool operator!=(const ReplySet& o) const { return !(*this == o); }
};

// "contains", "starts", "equals", "regex": the names the settings store.
QString matchName(ReplyRule::Match match);
std::optional<ReplyRule::Match> matchFromName(const QString& name);

// Why the rule cannot work as it stands (an expression that does not compile,
// an unclosed quote, a character that is not one byte, a delay out of range);
// empty when it can.
QString replyRuleProblem(const ReplyRule& rule);

// A delimiter typed as HEX bytes. Throws KvError: nothing, an unclosed quote,
// or text that does not read as hex digits.
QByteArray readDelimiter(const QString& hex);

// The rules made ready to match. Rules that are off, or cannot work, never
// answer; the others keep their number in the list.
class ReplyRules
{
public:
    struct Answer
    {
        int rule = -1; // from 0, in the list given
        QByteArray bytes;
        bool hex = false;
        qint64 delayMs = 0;
        // Where the bytes the rule matched end, counted in the message.
        qsizetype end = 0;
    };

    ReplyRules();
    ReplyRules(const QList<ReplyRule>& rules, const QByteArray& delimiter);
    ~ReplyRules();
    ReplyRules(ReplyRules&&) noexcept;
    ReplyRules& operator=(ReplyRules&&) noexcept;

    bool isEmpty() const;
    const QByteArray& delimiter() const { return m_delimiter; }
    // The longest `contains` pattern, so that a stream keeps enough of its
    // last arrival to find one that arrivals split.
    qsizetype longestContains() const { return m_longestContains; }

    // The first rule that answers the message. `before` is the end of the
    // stream just before it that no match has used: a `contains` pattern that
    // begins there and ends in the message matches too. `equals` takes the
    // message with or without its delimiter.
    std::optional<Answer> answer(const QByteArray& message, const QByteArray& before = {}) const;

    // One rule made ready; public for the check of a single rule.
    struct Compiled;

private:
    std::vector<std::unique_ptr<Compiled>> m_rules;
    QByteArray m_delimiter;
    qsizetype m_longestContains = 0;
};
