#pragma once

#include "zoneview.h"

// "weather" materials: the weather panel of the material's cities.
class WeatherView : public ZoneView
{
public:
    explicit WeatherView(ZoneContext &zone);

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
};
