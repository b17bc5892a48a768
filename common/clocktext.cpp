#include "clocktext.h"

#include "clock.h"

#include <QLocale>

namespace {
// Zone names a server writes into clock zones, with their fixed offsets.
// No daylight-saving rule applies to any of them.
QMap<QString, QString> buildZoneMap()
{
    const struct
    {
        const char *offset;
        std::initializer_list<const char *> names;
    } table[] = {
        {"UTC-12:00", {"Dateline Standard Time"}},
        {"UTC-11:00", {"UTC-11"}},
        {"UTC-10:00", {"Aleutian Standard Time", "Hawaiian Standard Time"}},
        {"UTC-09:30", {"Marquesas Standard Time"}},
        {"UTC-09:00", {"Alaskan Standard Time", "UTC-09"}},
        {"UTC-08:00", {"Pacific Standard Time", "Pacific Standard Time (Mexico)", "UTC-08"}},
        {"UTC-07:00",
            {"Mountain Standard Time", "Mountain Standard Time (Mexico)",
                "US Mountain Standard Time"}},
        {"UTC-06:00",
            {"Canada Central Standard Time", "Central America Standard Time",
                "Central Standard Time", "Central Standard Time (Mexico)",
                "Easter Island Standard Time"}},
        {"UTC-05:00",
            {"Cuba Standard Time", "Eastern Standard Time", "Eastern Standard Time (Mexico)",
                "Haiti Standard Time", "SA Pacific Standard Time", "US Eastern Standard Time"}},
        {"UTC-04:00",
            {"Atlantic Standard Time", "Central Brazilian Standard Time",
                "Pacific SA Standard Time", "Paraguay Standard Time", "SA Western Standard Time",
                "Turks And Caicos Standard Time", "Venezuela Standard Time"}},
        {"UTC-03:30", {"Newfoundland Standard Time"}},
        {"UTC-03:00",
            {"Argentina Standard Time", "Bahia Standard Time", "E. South America Standard Time",
                "Greenland Standard Time", "Montevideo Standard Time", "SA Eastern Standard Time",
                "Saint Pierre Standard Time", "Tocantins Standard Time"}},
        {"UTC-02:00", {"Mid-Atlantic Standard Time", "UTC-02"}},
        {"UTC-01:00", {"Azores Standard Time", "Cape Verde Standard Time"}},
        {"UTC+00:00",
            {"GMT Standard Time", "Greenwich Standard Time", "Morocco Standard Time", "UTC"}},
        {"UTC+01:00",
            {"Central Europe Standard Time", "Central European Standard Time",
                "Namibia Standard Time", "Romance Standard Time", "W. Central Africa Standard Time",
                "W. Europe Standard Time"}},
        {"UTC+02:00",
            {"E. Europe Standard Time", "Egypt Standard Time", "FLE Standard Time",
                "GTB Standard Time", "Israel Standard Time", "Jordan Standard Time",
                "Kaliningrad Standard Time", "Libya Standard Time", "Middle East Standard Time",
                "South Africa Standard Time", "Syria Standard Time", "West Bank Standard Time"}},
        {"UTC+03:00",
            {"Arab Standard Time", "Arabic Standard Time", "Belarus Standard Time",
                "E. Africa Standard Time", "Russian Standard Time", "Turkey Standard Time"}},
        {"UTC+03:30", {"Iran Standard Time"}},
        {"UTC+04:00",
            {"Arabian Standard Time", "Astrakhan Standard Time", "Azerbaijan Standard Time",
                "Caucasus Standard Time", "Georgian Standard Time", "Mauritius Standard Time",
                "Russia Time Zone 3"}},
        {"UTC+04:30", {"Afghanistan Standard Time"}},
        {"UTC+05:00",
            {"Ekaterinburg Standard Time", "Pakistan Standard Time", "West Asia Standard Time"}},
        {"UTC+05:30", {"India Standard Time", "Sri Lanka Standard Time"}},
        {"UTC+05:45", {"Nepal Standard Time"}},
        {"UTC+06:00",
            {"Bangladesh Standard Time", "Central Asia Standard Time", "Omsk Standard Time"}},
        {"UTC+06:30", {"Myanmar Standard Time"}},
        {"UTC+07:00",
            {"Altai Standard Time", "N. Central Asia Standard Time", "North Asia Standard Time",
                "SE Asia Standard Time", "Tomsk Standard Time", "W. Mongolia Standard Time"}},
        {"UTC+08:00",
            {"China Standard Time", "North Asia East Standard Time", "Singapore Standard Time",
                "Taipei Standard Time", "Ulaanbaatar Standard Time", "W. Australia Standard Time"}},
        {"UTC+08:30", {"North Korea Standard Time"}},
        {"UTC+08:45", {"Aus Central W. Standard Time"}},
        {"UTC+09:00",
            {"Korea Standard Time", "Tokyo Standard Time", "Transbaikal Standard Time",
                "Yakutsk Standard Time"}},
        {"UTC+09:30", {"AUS Central Standard Time", "Cen. Australia Standard Time"}},
        {"UTC+10:00",
            {"AUS Eastern Standard Time", "E. Australia Standard Time", "Tasmania Standard Time",
                "Vladivostok Standard Time", "West Pacific Standard Time"}},
        {"UTC+10:30", {"Lord Howe Standard Time"}},
        {"UTC+11:00",
            {"Bougainville Standard Time", "Central Pacific Standard Time", "Magadan Standard Time",
                "Norfolk Standard Time", "Russia Time Zone 10", "Sakhalin Standard Time"}},
        {"UTC+12:00",
            {"Fiji Standard Time", "Kamchatka Standard Time", "New Zealand Standard Time",
                "Russia Time Zone 11", "UTC+12"}},
        {"UTC+12:45", {"Chatham Islands Standard Time"}},
        {"UTC+13:00", {"Samoa Standard Time", "Tonga Standard Time"}},
        {"UTC+14:00", {"Line Islands Standard Time"}},
    };
    QMap<QString, QString> map;
    for (const auto &row : table) {
        for (const char *name : row.names)
            map.insert(QString::fromLatin1(name), QString::fromLatin1(row.offset));
    }
    return map;
}
} // namespace

QString ClockText::date()
{
    return Clock::now().date().toString(QStringLiteral("yyyy-MM-dd"));
}

QString ClockText::date(int days)
{
    return Clock::now().date().addDays(days).toString(QStringLiteral("yyyy-MM-dd"));
}

QString ClockText::dateTime()
{
    return Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

const QMap<QString, QString> &ClockText::zoneMap()
{
    static const QMap<QString, QString> map = buildZoneMap();
    return map;
}

QString ClockText::httpDate()
{
    const QDateTime utc = Clock::now().toUTC();
    return QLocale(QLocale::English).toString(utc, QStringLiteral("ddd,dd MM yyyy HH:mm:ss"))
        + QStringLiteral(" GMT");
}

int ClockText::secondsFromMidnight()
{
    return Clock::now().time().msecsSinceStartOfDay() / 1000;
}

int ClockText::secondsFromMidnight(long long t)
{
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(static_cast<quint32>(t)))
               .time()
               .msecsSinceStartOfDay()
        / 1000;
}

int ClockText::secondsBetween(const QString &a, const QString &b)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QString day = QStringLiteral("2000-01-01 ");
    const qint64 ta = QDateTime::fromString(day + a, format).toMSecsSinceEpoch() / 1000;
    const qint64 tb = QDateTime::fromString(day + b, format).toMSecsSinceEpoch() / 1000;
    return static_cast<int>(ta - tb);
}

int ClockText::offsetSeconds(const QString &s)
{
    int pos = s.indexOf(QLatin1Char('+'));
    int sign = 1;
    if (pos < 0) {
        pos = s.indexOf(QLatin1Char('-'));
        sign = -1;
    }
    if (pos < 0)
        return 0;
    const QString rest = s.mid(pos + 1);
    const int colon = rest.indexOf(QLatin1Char(':'));
    const int hours = (colon < 0 ? rest : rest.left(colon)).toInt();
    const int minutes = colon < 0 ? 0 : rest.mid(colon + 1).toInt();
    return sign * (hours * 3600 + minutes * 60);
}

QString ClockText::zoneTime(const QString &zone, const QString &format)
{
    // Qt 5 names days and months in the desktop's language; a terminal shows
    // the same text on every machine, so the names come from the C locale.
    const QLocale fixed = QLocale::c();
    const auto it = zoneMap().constFind(zone);
    if (it == zoneMap().constEnd())
        return fixed.toString(Clock::now(), format);
    const QDateTime shifted = Clock::now().toUTC().addSecs(offsetSeconds(it.value()));
    return fixed.toString(shifted, format);
}
