#pragma once

#include <QtGlobal>

class QString;

// Numbers read from and written to text boxes and the settings store.

// The number at the start of a text: blanks, tabs and line feeds are skipped
// wherever they stand, then an optional sign, digits with at most one ".",
// and an optional exponent; "&H" and "&O" read hexadecimal and octal digits.
// A text that does not begin with a number is 0. Throws an overflow for a
// number too large for a double.
double Val(const QString& text);

// Whole numbers as plain digits, fractions with the user's decimal separator.
QString NumToText(double value);

// To the nearest whole number, a half going to the even neighbour; outside
// the type's range the conversion throws an overflow.
qint16 RoundToInt16(double value);
qint32 RoundToInt32(double value);

// A text that must be a number as a whole (blanks around it allowed), as typed
// into a port box. Anything else, the empty text included, is a type mismatch.
qint32 TextToInt32(const QString& text);

// A count as the log shows it, thousands grouped with commas: 1,234,567.
QString CountText(qint64 count);
