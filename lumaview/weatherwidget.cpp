#include "weatherwidget.h"

#include "clock.h"
#include "ui_weatherwidget.h"
#include "weatherclient.h"
#include "weatherlook.h"

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

void WeatherWidget::initWeather(const CONVERTXMLDATA::ZONE_MTL &mtl, const QString &server)
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

void WeatherWidget::onAnswer(
    const QString &city, bool ok, const CONVERTXMLDATA::WEATHER_DATA &weather)
{
    if (!ok)
        return; // logged by the client; the panel keeps what it shows
    m_cycle.store(city, weather, Clock::nowMs());
    // A late answer for a city whose turn has passed is kept for its next
    // turn but does not replace the city on screen.
    if (city == m_cycle.currentCity())
        showWeatherData(weather);
}

void WeatherWidget::showWeatherData(const CONVERTXMLDATA::WEATHER_DATA &weather)
{
    m_form->labelCity->setText(weather.city);
    m_form->labelTemp->setText(weather.temperature);
    m_form->labelStatus->setText(weather.title);
    m_form->labelWind->setText(weather.wind);
    m_form->labelPic->setStyleSheet(
        QStringLiteral("background-image:url(%1);background-repeat:no-repeat")
            .arg(WeatherLook::iconResource(weather.code, Clock::now().time().hour())));
    getWeatherPaint(weather.code, weather.temperature);
}

void WeatherWidget::getWeatherPaint(int code, const QString &temperature)
{
    m_form->labelStatus->setStyleSheet(QStringLiteral("color:") + WeatherLook::statusColor(code));
    const WeatherLook::Temperature shown = WeatherLook::temperature(temperature);
    m_form->labelTemp->setStyleSheet(QStringLiteral("color:") + shown.color);
    m_form->labelTemp->setText(shown.text);
}

QString WeatherWidget::getWeatherStatusTitle(int code)
{
    return WeatherLook::statusTitle(code);
}
