#include "weather/weatherwidget.h"

#include "clock.h"
#include "ui_weatherwidget.h"
#include "weather/weatherclient.h"
#include "weather/weatherlook.h"

#include <QLabel>
#include <QTimer>

// The icons are resources of the player library; a static library's resources
// are registered by hand, once.
static void registerIcons()
{
    static const bool registered = []() {
        Q_INIT_RESOURCE(weather);
        return true;
    }();
    Q_UNUSED(registered)
}

WeatherWidget::WeatherWidget(QWidget *parent)
    : QWidget(parent)
    , m_form(std::make_unique<Ui_WeatherWidget>())
{
    registerIcons();
    m_form->setupUi(this);
    m_designedSize = size();
    m_iconResource = QStringLiteral(":/images/133.png"); // the form's own
    for (QLabel *label : {m_form->labelCity, m_form->labelTemp, m_form->labelPic,
             m_form->labelStatus, m_form->labelWind})
        m_designed.append({label, label->geometry(), label->font().pointSizeF()});
    setWindowFlags(windowFlags() | Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    hide();
    m_tickTimer = new QTimer(this);
    m_tickTimer->setInterval(1000);
    connect(m_tickTimer, &QTimer::timeout, this, &WeatherWidget::checkWeather);
    m_client = new WeatherClient(this);
    connect(m_client, &WeatherClient::finished, this, &WeatherWidget::onAnswer);
}

WeatherWidget::~WeatherWidget()
{
    // The client goes first, while this object is whole: requests under way
    // are dropped and none of them reaches onAnswer().
    delete m_client;
    m_client = nullptr;
}

void WeatherWidget::initWeather(const ContentXml::ZONE_MTL &mtl, const QString &server)
{
    m_form->labelCity->clear();
    m_form->labelTemp->clear();
    m_form->labelStatus->clear();
    m_form->labelWind->clear();
    m_cycle.start(mtl.cn, mtl.it, mtl.refreshInterval);
    m_server = server;
    m_tickTimer->start();
}

bool WeatherWidget::isTicking() const
{
    return m_tickTimer->isActive();
}

void WeatherWidget::checkWeather()
{
    if (const auto city = m_cycle.due(Clock::nowMs()))
        checkCityWeather(*city);
}

void WeatherWidget::checkCityWeather(const QString &city)
{
    if (const auto answer = m_cycle.cached(city, Clock::nowMs()))
        showWeatherData(*answer);
    else
        requestWeatherData(city);
}

void WeatherWidget::requestWeatherData(const QString &city)
{
    m_client->request(m_server, city);
}

void WeatherWidget::onAnswer(const QString &city, bool ok, const ContentXml::WEATHER_DATA &weather)
{
    if (!ok)
        return; // logged by the client; the panel keeps what it shows
    m_cycle.store(city, weather, Clock::nowMs());
    // A late answer for a city whose turn has passed is kept for its next
    // turn but does not replace the city on screen.
    if (city == m_cycle.currentCity())
        showWeatherData(weather);
}

void WeatherWidget::showWeatherData(const ContentXml::WEATHER_DATA &weather)
{
    m_form->labelCity->setText(weather.city);
    m_form->labelTemp->setText(weather.temperature);
    m_form->labelStatus->setText(weather.title);
    m_form->labelWind->setText(weather.wind);
    setIcon(WeatherLook::iconResource(weather.code, Clock::now().time().hour()));
    getWeatherPaint(weather.code, weather.temperature);
}

void WeatherWidget::getWeatherPaint(int code, const QString &temperature)
{
    m_form->labelStatus->setStyleSheet(QStringLiteral("color:") + WeatherLook::statusColor(code));
    const WeatherLook::Temperature shown = WeatherLook::temperature(temperature);
    m_form->labelTemp->setStyleSheet(QStringLiteral("color:") + shown.color);
    m_form->labelTemp->setText(shown.text);
}

void WeatherWidget::setIcon(const QString &resource)
{
    m_iconResource = resource;
    // As designed the icon is drawn at its own size; a scaled-down panel
    // stretches it over its smaller place instead of cutting it.
    m_form->labelPic->setStyleSheet(m_scale < 1.0
            ? QStringLiteral("border-image:url(%1)").arg(resource)
            : QStringLiteral("background-image:url(%1);background-repeat:no-repeat").arg(resource));
}

void WeatherWidget::fitInto(const QSize &zone)
{
    const double room = qMin(double(zone.width() - 2 * MARGIN) / m_designedSize.width(),
        double(zone.height() - 2 * MARGIN) / m_designedSize.height());
    // A zone too small for any panel still gets a tiny one, not a negative size.
    const double scale = qBound(0.05, room, 1.0);
    auto scaled = [scale](int v) { return int(v * scale + 0.5); };
    if (scale != m_scale) {
        m_scale = scale;
        resize(scaled(m_designedSize.width()), scaled(m_designedSize.height()));
        for (const DesignedLabel &d : qAsConst(m_designed)) {
            d.label->setGeometry(scaled(d.geometry.x()), scaled(d.geometry.y()),
                scaled(d.geometry.width()), scaled(d.geometry.height()));
            QFont font = d.label->font();
            font.setPointSizeF(qMax(1.0, d.pointSize * scale));
            d.label->setFont(font);
        }
        if (!m_iconResource.isEmpty())
            setIcon(m_iconResource);
    }
    move((zone.width() - width()) / 2, (zone.height() - height()) / 2);
}

QString WeatherWidget::getWeatherStatusTitle(int code)
{
    return WeatherLook::statusTitle(code);
}
