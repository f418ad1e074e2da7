#pragma once

#include <QByteArrayList>
#include <QStringList>

class QDateTime;
class QLocale;

// The date and time at the head of a log entry: the locale's short date with
// a four-digit year, a blank, and its long time with seconds but without a
// time zone; at exactly midnight the date alone. With milliseconds, ".zzz"
// follows the seconds (17:40:34.123), and the time is there at midnight too.
QString logTimestamp(const QDateTime& when, const QLocale& locale, bool milliseconds = false);

// The time stamp of now, in the user's locale. The locale costs more than the
// rest of an entry, so it formats once a second; milliseconds are put in.
QString currentTimestamp(bool milliseconds = false);

// One entry as the log shows it: CR LF, "<" and the time stamp, "> - ", then
// each item with a CR LF after it. The first item stands on the header line.
// Items are written unchanged, NUL and other control characters included.
// Made of text (QString), or of bytes (QByteArray) one character each.
template <typename Text> Text logEntry(const QList<Text>& items, const Text& timestamp);
