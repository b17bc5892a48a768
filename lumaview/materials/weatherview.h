#pragma once

#include "materials/zoneview.h"

class WeatherWidget;

// "weather" materials: the weather panel of the material's cities, centred in
// the zone. The panel keeps turning through its cities while hidden, so their
// answers are fresh when the material comes round again.
class WeatherView : public ZoneView
{
public:
    explicit WeatherView(ZoneContext &zone);
    ~WeatherView() override;

    void play(const ContentXml::ZONE_MTL &mtl) override;
    void setActive(bool active) override;

    WeatherWidget *panel() const { return m_panel; }

private:
    WeatherWidget *m_panel = nullptr;
};
