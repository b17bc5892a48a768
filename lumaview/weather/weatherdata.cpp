#include "weather/weatherdata.h"

#include "xmlguard.h"

#include <QDomDocument>

namespace ContentXml {

namespace {
// The first child element, when it carries the expected tag.
QDomElement firstChildTagged(const QDomElement &parent, const QString &tag)
{
    const QDomElement first = parent.firstChildElement();
    return first.tagName() == tag ? first : QDomElement();
}

int intAttribute(const QDomElement &e, const QString &name)
{
    return e.attribute(name).toInt(); // missing or not a number: 0
}
} // namespace

bool xml_weatherResponse(const QByteArray &bytes, WEATHER_RESP &resp)
{
    QDomDocument doc;
    if (!XmlGuard::parse(bytes, XmlGuard::Encoding::Declared, doc))
        return false;
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("weather"))
        return false;
    resp.c = root.attribute(QStringLiteral("c"));
    resp.dt = root.attribute(QStringLiteral("dt"));

    const QDomElement city = firstChildTagged(root, QStringLiteral("city"));
    if (city.isNull())
        return false;
    resp.city.name = city.attribute(QStringLiteral("name"));
    resp.city.prov = city.attribute(QStringLiteral("prov"));
    resp.city.code = city.attribute(QStringLiteral("code"));

    const QDomElement forecast = firstChildTagged(city, QStringLiteral("foreacast"));
    if (forecast.isNull())
        return false;
    resp.city.ut = forecast.attribute(QStringLiteral("ut"));

    const QDomElement day = firstChildTagged(forecast, QStringLiteral("day"));
    if (day.isNull())
        return false;
    WEATHER_RESP_DAY &d = resp.city.day;
    d.wsId = intAttribute(day, QStringLiteral("wsId"));
    d.wsId2 = intAttribute(day, QStringLiteral("wsId2"));
    d.wind = day.attribute(QStringLiteral("wind"));
    d.wind2 = day.attribute(QStringLiteral("wind2"));
    d.temperature = day.attribute(QStringLiteral("temperature"));
    d.liveToday = day.attribute(QStringLiteral("liveToday"));
    d.date = day.attribute(QStringLiteral("date"));
    return true;
}

} // namespace ContentXml
