#include "log/LogEntry.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace {

// Drops the time-zone fields ('t' outside quotes) and the blanks before them.
QString withoutTimeZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) {
            while (out.endsWith(QLatin1Char(' ')))
                out.chop(1);
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

// Two-digit years are ambiguous in a log that may outlive a century.
QString withFullYear(const QString& format)
{
    if (format.contains(QLatin1String("yyyy")) || !format.contains(QLatin1String("yy")))
        return format;
    QString out = format;
    return out.replace(QLatin1String("yy"), QLatin1String("yyyy"));
}

// Puts insert after the seconds ('s' outside quotes), or at the end.
QString afterSeconds(const QString& format, const QString& insert)
{
    qsizetype at = format.size();
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && format[i] == QLatin1Char('s'))
            at = i + 1;
    }
    return format.left(at) + insert + format.mid(at);
}

// milliseconds: what goes after the seconds, in the locale's format; empty for nothing.
QString stamp(const QDateTime& when, const QLocale& locale, const QString& milliseconds)
{
    const QString date = locale.toString(when.date(), withFullYear(locale.dateFormat(QLocale::ShortFormat)));
    if (milliseconds.isEmpty() && when.time() == QTime(0, 0, 0))
        return date;
    QString format = withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    if (!milliseconds.isEmpty())
        format = afterSeconds(format, milliseconds);
    return date + QLatin1Char(' ') + locale.toString(when.time(), format);
}

} // namespace

QString logTimestamp(const QDateTime& when, const QLocale& locale, bool milliseconds)
{
    return stamp(when, locale, milliseconds ? QStringLiteral(".zzz") : QString());
}

QString currentTimestamp(bool milliseconds)
{
    if (milliseconds) {
        // The second's text, cut where the milliseconds go.
        static qint64 cachedSecond = -1;
        static QString head, tail;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 second = now / 1000;
        if (second != cachedSecond) {
            const QString text =
                stamp(QDateTime::fromSecsSinceEpoch(second), QLocale::system(), QStringLiteral("'\x01'"));
            const qsizetype mark = text.indexOf(QChar(1));
            head = text.left(mark);
            tail = text.mid(mark + 1);
            cachedSecond = second;
        }
        return head + QLatin1Char('.') + QString::number(now % 1000).rightJustified(3, QLatin1Char('0')) +
               tail;
    }
    static qint64 cachedSecond = -1;
    static QString cachedText;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != cachedSecond) {
        cachedText = logTimestamp(QDateTime::fromSecsSinceEpoch(second), QLocale::system());
        cachedSecond = second;
    }
    return cachedText;
}

template <typename Text> Text logEntry(const QList<Text>& items, const Text& timestamp)
{
    qsizetype size = timestamp.size() + 8;
    for (const Text& item : items)
        size += item.size() + 2;
    Text entry;
    entry.reserve(size);
    static const Text open("\r\n<"), close("> - "), crLf("\r\n"); // made once, not each entry
    entry += open;
    entry += timestamp;
    entry += close;
    // Items go in exactly as they are, NUL included: a byte 00 written as "?"
    // could not be told from a real 3F, and the log shows every other byte as
    // itself, in the flat view too.
    for (const Text& item : items) {
        entry += item;
        entry += crLf;
    }
    return entry;
}

template QString logEntry(const QStringList& items, const QString& timestamp);
template QByteArray logEntry(const QByteArrayList& items, const QByteArray& timestamp);
