#include "weather/weatherlook.h"

#include <QStringList>
#include <QTextCodec>

namespace WeatherLook {

namespace {
const char16_t *const TITLES[] = {u"晴", u"多云", u"阴", u"阵雨", u"雷阵雨", u"雷阵雨伴有冰雹",
    u"雨夹雪", u"小雨", u"中雨", u"大雨", u"暴雨", u"大暴雨", u"特大暴雨", u"阵雪", u"小雪",
    u"中雪", u"大雪", u"暴雪", u"雾", u"冻雨", u"沙尘暴", u"小到中雨", u"中到大雨", u"大到暴雨",
    u"暴雨到大暴雨", u"大暴雨到特大暴雨", u"小到中雪", u"中到大雪", u"大到暴雪", u"浮尘", u"扬沙",
    u"强沙尘暴", u"霾", u"无", u"霜冻", u"冰雹"};
constexpr int TITLE_COUNT = int(sizeof(TITLES) / sizeof(TITLES[0]));

const QChar DEGREE(0x2103); // ℃
const QChar SLASH(0x2571); // ╱, drawn instead of "/"
} // namespace

QString statusTitle(int code)
{
    if (code > 99)
        code %= 100;
    if (code < 0 || code >= TITLE_COUNT)
        return QString();
    return QString::fromUtf16(TITLES[code]);
}

QString statusColor(int code)
{
    const int c = code % 100; // keeps the sign of the code
    if (c == 0)
        return QStringLiteral("#f47920");
    if (c <= 2)
        return QStringLiteral("#33a3dc"); // cloudy, overcast, and negative codes
    if (c <= 12 || c == 19 || (c >= 21 && c <= 25))
        return QStringLiteral("#145b7d"); // rain
    return QStringLiteral("#130c0e"); // snow, fog, dust and the rest
}

QString iconResource(int code, int hour)
{
    QString suffix;
    if (code < 102)
        suffix = hour >= 7 && hour <= 17 ? QStringLiteral("d") : QStringLiteral("n");
    return QStringLiteral(":/images/%1%2.png").arg(code).arg(suffix);
}

Temperature temperature(const QString &serverText)
{
    QString text = serverText;
    text.remove(DEGREE);
    text.replace(QLatin1Char('/'), SLASH);
    const QStringList parts = text.split(SLASH); // empty parts kept
    const int a = parts.value(0).toInt();
    int hi = a;
    int lo = a;
    if (parts.size() > 1) {
        const int b = parts.at(1).toInt();
        hi = qMax(a, b);
        lo = qMin(a, b);
    }
    QString color;
    if (hi > 38)
        color = QStringLiteral("#d71345");
    else if (hi > 34)
        color = QStringLiteral("#ef4136");
    else if (hi > 30)
        color = QStringLiteral("#f47920");
    else if (lo <= 4)
        color = QStringLiteral("#11264f");
    else if (lo > 9)
        color = QStringLiteral("#009ad6");
    else
        color = QStringLiteral("#102b6a");
    return {text + DEGREE, color};
}

QString requestUrl(const QString &server)
{
    return QStringLiteral("http://%1/getweather").arg(server);
}

QByteArray requestBody(const QString &city, const QString &time)
{
    const QString xml = QStringLiteral("<xml><p v=\"1152\"/><w g=\"1\" c=\"%1\" dt=\"%2\"/></xml>")
                            .arg(city.toHtmlEscaped(), time);
    QTextCodec *codec = QTextCodec::codecForName("UTF-16LE");
    return codec->fromUnicode(xml);
}

} // namespace WeatherLook
