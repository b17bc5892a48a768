#pragma once

#include "weather/weatherdata.h"

#include <QHash>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Asks the weather server for one city at a time without blocking its thread:
// each request is posted and answered later through finished(). A request
// that has no answer within the time limit is aborted. Deleting the client
// drops the requests under way; their answers are never delivered.
class WeatherClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int TIMEOUT_MS = 8000;

    explicit WeatherClient(QObject *parent = nullptr);
    ~WeatherClient() override;

    // Posts the request for city to "http://<server>/getweather". Nothing is
    // sent while a request for the same city is under way.
    void request(const QString &server, const QString &city);
    bool isPending(const QString &city) const;
    int pendingCount() const { return m_pending.size(); }

    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

signals:
    // Every request ends with this signal. ok is true when the server sent a
    // weather report; data then holds it ready to show.
    void finished(const QString &city, bool ok, const ContentXml::WEATHER_DATA &data);

private:
    void onReplyFinished(QNetworkReply *reply);

    QNetworkAccessManager *m_manager;
    QHash<QNetworkReply *, QString> m_pending; // reply -> city
    int m_timeoutMs = TIMEOUT_MS;
};
