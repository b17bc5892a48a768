#pragma once

#include <QString>

// What a clock zone shows: the Qt date-time format chosen by a material's
// "datefotmat" and "customerFormat", the time text with Chinese weekday
// names, and the clock's colours and size. Plain functions, driven by tests
// with the clock seam.
namespace ClockFormat {

// "0" "yyyy-MM-dd ddd HH:mm", "1" "MM-dd ddd HH:mm", "2" "MM-dd HH:mm",
// "3" "HH:mm", "4" the converted custom format when it holds a "$", and
// "MM-dd ddd HH:mm:ss" for anything else.
QString clockFormat(const QString &datefotmat, const QString &customerFormat);

// The server's custom format as a Qt format: "$d$" removed, "$dd$" the
// weekday ("ddd"), "D" and "Y" lower case, every other "$" removed.
QString convertCustomFormat(QString format);

// The first English weekday abbreviation (Mon to Sun) found in text, every
// occurrence of it, replaced by its Chinese name; the others stay.
QString replaceWeekday(QString text);

// The current time in the named zone (the machine's local time for a name
// the zone table does not know), formatted, with Chinese weekday names.
QString clockText(const QString &timeZoneId, const QString &format);

// Black behind white digits ("#ffffff", any case), white behind any other.
QString clockBackground(const QString &color);

// The material's point size, or 30 when it is below 6.
int clockPointSize(int fsize);

} // namespace ClockFormat
