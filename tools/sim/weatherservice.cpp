#include "weatherservice.h"

#include <QDomDocument>
#include <QTextCodec>
#include <QXmlStreamWriter>

namespace {
const int MAX_HISTORY = 1000;
}

WeatherService::WeatherService()
{
    const QString c = QStringLiteral("℃");
    m_cities = {
        {QStringLiteral("北京"), QStringLiteral("北京"), QStringLiteral("101010100"), 101, 100,
            QStringLiteral("20/10") + c, QStringLiteral("东北风3级"), QStringLiteral("北风2级")},
        {QStringLiteral("上海"), QStringLiteral("上海"), QStringLiteral("101020100"), 107, 107,
            QStringLiteral("18/14") + c, QStringLiteral("东风3级"), QStringLiteral("东风2级")},
        {QStringLiteral("广州"), QStringLiteral("广东"), QStringLiteral("101280101"), 100, 101,
            QStringLiteral("33/25") + c, QStringLiteral("南风2级"), QStringLiteral("南风1级")},
        {QStringLiteral("深圳"), QStringLiteral("广东"), QStringLiteral("101280601"), 104, 103,
            QStringLiteral("36/28") + c, QStringLiteral("西南风3级"), QStringLiteral("南风2级")},
        {QStringLiteral("乌鲁木齐"), QStringLiteral("新疆"), QStringLiteral("101130101"), 114, 115,
            QStringLiteral("3/-2") + c, QStringLiteral("西北风4级"), QStringLiteral("西北风3级")},
        {QStringLiteral("哈尔滨"), QStringLiteral("黑龙江"), QStringLiteral("101050101"), 117, 116,
            QStringLiteral("-8/-19") + c, QStringLiteral("北风5级"), QStringLiteral("北风4级")},
        {QStringLiteral("兰州"), QStringLiteral("甘肃"), QStringLiteral("101160101"), 130, 129,
            QStringLiteral("24/9") + c, QStringLiteral("西风4级"), QStringLiteral("西风3级")},
        {QStringLiteral("重庆"), QStringLiteral("重庆"), QStringLiteral("101040100"), 100, 100,
            QStringLiteral("40/31") + c, QStringLiteral("微风"), QStringLiteral("微风")},
    };
}

bool WeatherService::parseRequest(const QByteArray &body, QString *city, QString *dt)
{
    QString text;
    if (body.startsWith("\xff\xfe"))
        text = QTextCodec::codecForName("UTF-16LE")->toUnicode(body.mid(2));
    else if (body.size() >= 2 && body.at(1) == '\0')
        text = QTextCodec::codecForName("UTF-16LE")->toUnicode(body);
    else
        text = QString::fromUtf8(body); // lenient: a hand-made request with curl
    QDomDocument doc;
    if (!doc.setContent(text))
        return false;
    const QDomElement root = doc.documentElement();
    const QDomElement w = root.firstChildElement(QStringLiteral("w"));
    if (root.tagName() != QLatin1String("xml") || w.isNull()
        || !w.hasAttribute(QStringLiteral("c")))
        return false;
    if (city)
        *city = w.attribute(QStringLiteral("c"));
    if (dt)
        *dt = w.attribute(QStringLiteral("dt"));
    return true;
}

QByteArray WeatherService::report(const City &city, const QString &dt, const QDate &date)
{
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("weather"));
    w.writeAttribute(QStringLiteral("c"), city.name);
    w.writeAttribute(QStringLiteral("dt"), dt);
    w.writeStartElement(QStringLiteral("city"));
    w.writeAttribute(QStringLiteral("name"), city.name);
    w.writeAttribute(QStringLiteral("prov"), city.prov);
    w.writeAttribute(QStringLiteral("code"), city.code);
    w.writeStartElement(QStringLiteral("foreacast")); // sic: terminals read this spelling
    w.writeAttribute(QStringLiteral("ut"), dt);
    w.writeEmptyElement(QStringLiteral("day"));
    w.writeAttribute(QStringLiteral("wsId"), QString::number(city.wsId));
    w.writeAttribute(QStringLiteral("wsId2"), QString::number(city.wsId2));
    w.writeAttribute(QStringLiteral("wind"), city.wind);
    w.writeAttribute(QStringLiteral("wind2"), city.wind2);
    w.writeAttribute(QStringLiteral("temperature"), city.temperature);
    w.writeAttribute(QStringLiteral("liveToday"), city.temperature.section(QLatin1Char('/'), 0, 0));
    w.writeAttribute(QStringLiteral("date"), date.toString(QStringLiteral("yyyy-MM-dd")));
    w.writeEndElement(); // foreacast
    w.writeEndElement(); // city
    w.writeEndElement(); // weather
    w.writeEndDocument();
    return xml;
}

bool WeatherService::useUp(int &counter)
{
    if (counter == 0)
        return false;
    if (counter > 0)
        --counter;
    return true;
}

WeatherService::Reply WeatherService::answer(const QByteArray &body, const QDateTime &now)
{
    Reply reply;
    reply.delayMs = m_slowMs;
    reply.contentType = "text/xml; charset=utf-8";
    Asked asked;
    asked.timeMs = now.toMSecsSinceEpoch();
    if (!parseRequest(body, &asked.city, &asked.dt)) {
        reply.status = 400;
        reply.contentType = "text/plain";
        reply.body = "400 not a weather request\n";
        asked.outcome = QStringLiteral("unreadable");
    } else if (useUp(m_fail)) {
        reply.status = 500;
        reply.contentType = "text/plain";
        reply.body = "500 Internal Server Error (injected)\n";
        asked.outcome = QStringLiteral("failed");
    } else if (useUp(m_garble)) {
        reply.body = "<html><body>weather service busy</body></html>";
        reply.contentType = "text/html";
        asked.outcome = QStringLiteral("not a report");
    } else if (const auto known = city(asked.city)) {
        reply.body = report(*known, asked.dt, now.date());
        asked.outcome = QStringLiteral("report");
    } else {
        QXmlStreamWriter w(&reply.body);
        w.writeStartDocument();
        w.writeEmptyElement(QStringLiteral("weather"));
        w.writeAttribute(QStringLiteral("c"), asked.city);
        w.writeAttribute(QStringLiteral("dt"), asked.dt);
        w.writeEndDocument();
        asked.outcome = QStringLiteral("unknown city");
    }
    reply.city = asked.city;
    reply.outcome = asked.outcome;
    asked.status = reply.status;
    m_asked.append(asked);
    if (m_asked.size() > MAX_HISTORY)
        m_asked.removeFirst();
    return reply;
}

std::optional<WeatherService::City> WeatherService::city(const QString &name) const
{
    for (const City &c : m_cities) {
        if (c.name == name)
            return c;
    }
    return std::nullopt;
}

void WeatherService::setCity(const City &city)
{
    for (City &c : m_cities) {
        if (c.name == city.name) {
            c = city;
            return;
        }
    }
    m_cities.append(city);
}

void WeatherService::clearFaults()
{
    m_slowMs = 0;
    m_fail = 0;
    m_garble = 0;
}

QStringList WeatherService::faults() const
{
    auto times = [](int n) { return n < 0 ? QStringLiteral("all") : QString::number(n); };
    QStringList lines;
    if (m_slowMs > 0)
        lines << QStringLiteral("weather slow %1").arg(m_slowMs);
    if (m_fail != 0)
        lines << QStringLiteral("weather fail %1").arg(times(m_fail));
    if (m_garble != 0)
        lines << QStringLiteral("weather bad %1").arg(times(m_garble));
    return lines;
}
