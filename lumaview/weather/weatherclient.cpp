#include "weather/weatherclient.h"

#include "clocktext.h"
#include "dailylog.h"
#include "weather/weatherlook.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {
const QString MODULE = QStringLiteral("WEATHERWIDGET");
}

WeatherClient::WeatherClient(QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
{
    qRegisterMetaType<ContentXml::WEATHER_DATA>();
}

WeatherClient::~WeatherClient()
{
    // Replies are children of the manager and go with it; cut them off first
    // so that none reports back into a client being destroyed.
    const QList<QNetworkReply *> replies = m_pending.keys();
    m_pending.clear();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

bool WeatherClient::isPending(const QString &city) const
{
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        if (it.value() == city)
            return true;
    }
    return false;
}

void WeatherClient::request(const QString &server, const QString &city)
{
    if (isPending(city))
        return;
    QNetworkRequest request(QUrl(WeatherLook::requestUrl(server)));
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    QNetworkReply *reply
        = m_manager->post(request, WeatherLook::requestBody(city, ClockText::dateTime()));
    m_pending.insert(reply, city);
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { onReplyFinished(reply); });
    // The limit belongs to the reply: it ends with it.
    auto *limit = new QTimer(reply);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, reply, &QNetworkReply::abort);
    limit->start(m_timeoutMs);
}

void WeatherClient::onReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const auto found = m_pending.find(reply);
    if (found == m_pending.end())
        return;
    const QString city = found.value();
    m_pending.erase(found);

    ContentXml::WEATHER_DATA data;
    data.city = city;
    const QString url = reply->url().toString();
    if (reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        DailyLog::write(QStringLiteral("WARN"), MODULE,
            QStringLiteral("request weather from %1 error ....code: %2 %3")
                .arg(url)
                .arg(status)
                .arg(int(reply->error())));
        emit finished(city, false, data);
        return;
    }
    ContentXml::WEATHER_RESP resp;
    if (!ContentXml::xml_weatherResponse(reply->readAll(), resp)) {
        DailyLog::write(QStringLiteral("WARN"), MODULE,
            QStringLiteral(
                "weather from %1 for %2 is not a weather report; the panel keeps what it "
                "shows")
                .arg(url, city));
        emit finished(city, false, data);
        return;
    }
    const ContentXml::WEATHER_RESP_DAY &day = resp.city.day;
    data.temperature = day.temperature;
    data.code = day.wsId;
    data.title = WeatherLook::statusTitle(data.code);
    data.wind = day.wind;
    emit finished(city, true, data);
}
