#pragma once

class QDateTime;
class QLocale;
class QString;

// The date and time at the head of a log entry: the locale's short date with
// a four-digit year, a blank, and its long time with seconds but without a
// time zone; at exactly midnight the date alone.
QString logTimestamp(const QDateTime& when, const QLocale& locale);
