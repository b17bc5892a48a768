#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// The weather server's reply and what the weather panel shows of it.
namespace ContentXml {

// One answer as the panel shows it.
struct WEATHER_DATA
{
    QString city;
    QString temperature; // as the server wrote it, e.g. "20/10℃"
    int code = 0; // weather code; 1xx codes name the same weather as xx
    QString title; // description of the code
    QString wind;
};

// <day> of a reply: the forecast of one day.
struct WEATHER_RESP_DAY
{
    int wsId = 0; // weather code
    int wsId2 = 0;
    QString wind;
    QString wind2;
    QString temperature;
    QString liveToday;
    QString date;
};

// <city> of a reply with its <foreacast> (spelled as the server writes it).
struct WEATHER_RESP_CITY
{
    QString name;
    QString prov;
    QString code;
    QString ut; // attribute of <foreacast>
    WEATHER_RESP_DAY day;
};

// A parsed reply: <weather c dt><city><foreacast ut><day .../>.
struct WEATHER_RESP
{
    QString c;
    QString dt;
    WEATHER_RESP_CITY city;
};

// Parses a reply; the XML parser detects its encoding (byte-order mark or
// declaration). A reply the XML reader refuses (XmlGuard) counts as one that
// cannot be parsed. Only the first child element of each level is looked at, and
// only when it has the expected tag. A document that cannot be parsed, or
// whose root is not "weather", leaves resp as it was. True only when the reply
// holds a "day" element, that is when it is a weather report the panel can show.
bool xml_weatherResponse(const QByteArray &bytes, WEATHER_RESP &resp);

} // namespace ContentXml

Q_DECLARE_METATYPE(ContentXml::WEATHER_DATA)
