#pragma once

#include "formats/xmldata.h"
#include "weather/weathercycle.h"
#include "weather/weatherdata.h"

#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QTimer;
class Ui_WeatherWidget;
class WeatherClient;

// The weather panel of a zone: city, temperature, icon, description and wind
// of one city at a time, turning through the material's cities. Answers come
// from the zone host's weather server without blocking the zone; the panel
// changes when an answer for the city on turn arrives.
class WeatherWidget : public QWidget
{
    Q_OBJECT
public:
    explicit WeatherWidget(QWidget *parent = nullptr);
    ~WeatherWidget() override;

    // A weather material starts: its cities, seconds per city ("it") and
    // seconds an answer stays valid ("refreshInterval"); server is the zone
    // host. The first city comes on the next tick.
    void initWeather(const ContentXml::ZONE_MTL &mtl, const QString &server);

    // One tick of the city cycle at the clock's current time (driven every
    // second by the panel's timer, and by tests).
    void checkWeather();
    void checkCityWeather(const QString &city);
    void requestWeatherData(const QString &city);
    void showWeatherData(const ContentXml::WEATHER_DATA &weather);
    void getWeatherPaint(int code, const QString &temperature);
    static QString getWeatherStatusTitle(int code);

    // Places the panel centred in a zone of this size, at least MARGIN pixels
    // from every edge: as designed where it fits, scaled down as a whole
    // (labels, fonts and icon) where the zone is smaller.
    void fitInto(const QSize &zone);
    double scale() const { return m_scale; }
    static constexpr int MARGIN = 8;

    const WeatherCycle &cycle() const { return m_cycle; }
    WeatherClient *client() const { return m_client; }
    QString server() const { return m_server; }
    bool isTicking() const;

private:
    void onAnswer(const QString &city, bool ok, const ContentXml::WEATHER_DATA &weather);
    void setIcon(const QString &resource);

    // Each label's place and font size as designed, for scaling.
    struct DesignedLabel
    {
        QLabel *label;
        QRect geometry;
        qreal pointSize;
    };
    QList<DesignedLabel> m_designed;
    QSize m_designedSize;
    double m_scale = 1.0;
    QString m_iconResource;

    std::unique_ptr<Ui_WeatherWidget> m_form;
    QTimer *m_tickTimer = nullptr;
    WeatherClient *m_client = nullptr;
    WeatherCycle m_cycle;
    QString m_server;
};
