#pragma once

#include <QMap>
#include <QString>

// Dates and times of day as the programs write and compare them, read from
// the clock seam (Clock).
class ClockText
{
public:
    static QString date(); // yyyy-MM-dd today
    static QString date(int days); // yyyy-MM-dd that many days from today
    static QString dateTime(); // yyyy-MM-dd HH:mm:ss now
    // An HTTP Date header's text (English names, GMT).
    static QString httpDate();
    static int secondsFromMidnight();
    // Of a time stamp in seconds (read as 32 bits, as the server sends it).
    static int secondsFromMidnight(long long t);
    // a - b in seconds, both HH:mm:ss of the same day.
    static int secondsBetween(const QString &a, const QString &b);
    // The offset of a "UTC+08:00" style text in seconds; 0 without a sign.
    static int offsetSeconds(const QString &s);
    // Now in a named zone (a server's zone name), in the given format; local
    // time for a zone not in zoneMap().
    static QString zoneTime(const QString &zone, const QString &format);
    static const QMap<QString, QString> &zoneMap();
};
