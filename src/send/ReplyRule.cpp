#include "send/ReplyRule.h"

#include "platform/KvError.h"
#include "platform/Latin1.h"
#include "platform/NumConv.h"
#include "send/Codec.h"

#include <QRegularExpression>

#include <array>

namespace {

const std::array<QString, 4> MatchNames{QStringLiteral("contains"), QStringLiteral("starts"),
                                        QStringLiteral("equals"), QStringLiteral("regex")};

// One stretch of a reply: bytes as they stand, or what a reference stands for.
struct Piece
{
    QByteArray bytes;
    int group = -1; // 0: the whole match; -1: the bytes
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Walks the reply: outside the quotes of a HEX reply, and anywhere in an
// ASCII one, \0 to \9 and \\ stand for something; every other stretch is
// taken as the reply's mode reads it.
QList<Piece> replyPieces(const ReplyRule& rule)
{
    const QByteArray text = Latin1::toBytes(rule.reply);
    QList<Piece> pieces;
    QByteArray stretch;
    auto flush = [&] {
        const QByteArray bytes = rule.replyHex ? ParseHexLine(stretch) : stretch;
        if (!bytes.isEmpty()) {
            if (!pieces.isEmpty() && pieces.last().group < 0)
                pieces.last().bytes += bytes;
            else
                pieces.append({bytes, -1});
        }
        stretch.clear();
    };
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '"' && rule.replyHex)
            quoted = !quoted;
        const char next = i + 1 < text.size() ? text.at(i + 1) : '\0';
        if (c != '\\' || quoted || !(isDigit(next) || next == '\\')) {
            stretch += c;
            continue;
        }
        flush();
        ++i;
        if (next == '\\')
            pieces.append({QByteArrayLiteral("\\"), -1});
        else
            pieces.append({{}, next - '0'});
    }
    // An unclosed quote is told here, by the codec.
    flush();
    if (rule.crLf && !rule.replyHex)
        pieces.append({QByteArrayLiteral("\r\n"), -1});
    return pieces;
}

} // namespace

struct ReplyRules::Compiled
{
    int index = 0;
    ReplyRule::Match match = ReplyRule::Contains;
    bool hex = false;
    qint64 delayMs = 0;
    QByteArray pattern;
    QRegularExpression expression;
    QList<Piece> pieces;

    // Throws KvError with the reason the rule cannot work.
    explicit Compiled(const ReplyRule& rule, int at)
        : index(at), match(rule.match), hex(rule.replyHex), delayMs(rule.delayMs)
    {
        if (rule.delayMs < 0 || rule.delayMs > ReplyRule::MaxDelayMs)
            throw KvError(KvErr::InvalidPropertyValue,
                          QStringLiteral("the delay must be a whole number of ms from 0 to ") +
                              CountText(ReplyRule::MaxDelayMs));
        const QByteArray text = Latin1::toBytes(rule.pattern);
        pattern = rule.patternHex ? ParseHexLine(text) : text;
        if (match == ReplyRule::Regex) {
            expression.setPattern(QString::fromLatin1(pattern));
            if (!expression.isValid())
                throw KvError(KvErr::InvalidPropertyValue,
                              QStringLiteral("the regular expression does not compile: ") +
                                  expression.errorString() + QStringLiteral(" at column ") +
                                  QString::number(expression.patternErrorOffset() + 1));
        }
        pieces = replyPieces(rule);
    }

    QByteArray build(const QByteArray& matched, const QRegularExpressionMatch& groups) const
    {
        QByteArray out;
        for (const Piece& p : pieces) {
            if (p.group < 0)
                out += p.bytes;
            else if (p.group == 0)
                out += matched;
            else if (match == ReplyRule::Regex)
                // A group that did not take part, or that the expression lacks, is empty.
                out += groups.captured(p.group).toLatin1();
        }
        return out;
    }
};

bool ReplyRule::operator==(const ReplyRule& o) const
{
    return on == o.on && match == o.match && pattern == o.pattern && patternHex == o.patternHex &&
           reply == o.reply && replyHex == o.replyHex && crLf == o.crLf && delayMs == o.delayMs;
}

QString matchName(ReplyRule::Match match)
{
    return MatchNames.at(size_t(match));
}

std::optional<ReplyRule::Match> matchFromName(const QString& name)
{
    for (size_t i = 0; i < MatchNames.size(); ++i)
        if (name.trimmed() == MatchNames.at(i))
            return ReplyRule::Match(i);
    return std::nullopt;
}

QString replyRuleProblem(const ReplyRule& rule)
{
    try {
        ReplyRules::Compiled check(rule, 0);
    } catch (const std::exception& e) {
        return KvErr::describe(e);
    }
    return QString();
}

QByteArray readDelimiter(const QString& hex)
{
    const HexLineReading reading = ReadHexLine(hex);
    if (reading.doubt == HexLineReading::UnclosedQuote || reading.doubt == HexLineReading::NotOneByte)
        return ParseHexLine(Latin1::toBytes(hex)); // throws the reason
    if (reading.doubt != HexLineReading::None)
        throw KvError(KvErr::InvalidPropertyValue, QStringLiteral("the delimiter is not HEX bytes: \"") +
                                                       reading.characters + QStringLiteral("\" at column ") +
                                                       CountText(reading.at + 1));
    if (reading.bytes == 0)
        throw KvError(KvErr::InvalidPropertyValue, QStringLiteral("the delimiter has no bytes"));
    return ParseHexLine(Latin1::toBytes(hex));
}

ReplyRules::ReplyRules() = default;
ReplyRules::~ReplyRules() = default;
ReplyRules::ReplyRules(ReplyRules&&) noexcept = default;
ReplyRules& ReplyRules::operator=(ReplyRules&&) noexcept = default;

ReplyRules::ReplyRules(const QList<ReplyRule>& rules, const QByteArray& delimiter) : m_delimiter(delimiter)
{
    for (int i = 0; i < rules.size(); ++i) {
        if (!rules.at(i).on)
            continue;
        try {
            m_rules.push_back(std::make_unique<Compiled>(rules.at(i), i));
        } catch (const KvError&) {
            continue; // told where the rule was read or typed
        }
        if (m_rules.back()->match == ReplyRule::Contains)
            m_longestContains = qMax(m_longestContains, m_rules.back()->pattern.size());
    }
}

bool ReplyRules::isEmpty() const
{
    return m_rules.empty();
}

std::optional<ReplyRules::Answer> ReplyRules::answer(const QByteArray& message,
                                                     const QByteArray& before) const
{
    // Made once, and only when an expression asks for it.
    std::optional<QString> text;
    for (const auto& rule : m_rules) {
        const QByteArray& p = rule->pattern;
        qsizetype end = -1;
        QRegularExpressionMatch groups;
        switch (rule->match) {
        case ReplyRule::Contains: {
            // Across the arrivals first: that occurrence came earlier.
            const QByteArray tail = p.size() > 1 ? before.right(p.size() - 1) : QByteArray();
            const qsizetype across = tail.isEmpty() ? -1 : (tail + message.left(p.size() - 1)).indexOf(p);
            if (across >= 0) {
                end = across + p.size() - tail.size();
            } else {
                const qsizetype at = message.indexOf(p);
                end = at < 0 ? -1 : at + p.size();
            }
            break;
        }
        case ReplyRule::Starts:
            end = message.startsWith(p) ? p.size() : -1;
            break;
        case ReplyRule::Equals: {
            const qsizetype body = message.size() - m_delimiter.size();
            const bool delimited =
                !m_delimiter.isEmpty() && message.endsWith(m_delimiter) && body == p.size();
            end = message == p || (delimited && message.startsWith(p)) ? message.size() : -1;
            break;
        }
        case ReplyRule::Regex:
            if (!text)
                text = QString::fromLatin1(message);
            groups = rule->expression.match(*text);
            end = groups.hasMatch() ? groups.capturedEnd(0) : -1;
            break;
        }
        if (end < 0)
            continue;
        const QByteArray matched = rule->match == ReplyRule::Regex ? groups.captured(0).toLatin1() : p;
        return Answer{rule->index, rule->build(matched, groups), rule->hex, rule->delayMs, end};
    }
    return std::nullopt;
}
