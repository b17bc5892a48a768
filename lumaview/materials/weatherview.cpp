#include "materials/weatherview.h"

#include "weather/weatherwidget.h"

WeatherView::WeatherView(ZoneContext &zone)
    : ZoneView(zone)
{ }

WeatherView::~WeatherView()
{
    // Requests still under way go with the panel and are never answered.
    delete m_panel;
}

void WeatherView::play(const ContentXml::ZONE_MTL &mtl)
{
    QWidget *zone = m_zone.zoneWidget();
    if (!m_panel)
        m_panel = new WeatherWidget(zone);
    m_panel->initWeather(mtl, m_zone.zoneHost());
    // A text before may have painted the zone in its own ground colour; the
    // panel's colours are chosen for the zone's plain light ground.
    zone->setStyleSheet(QString());
    m_panel->fitInto(zone->size());
}

void WeatherView::setActive(bool active)
{
    if (m_panel)
        m_panel->setVisible(active);
}
