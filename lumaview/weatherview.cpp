#include "weatherview.h"

WeatherView::WeatherView(ZoneContext &zone)
    : ZoneView(zone)
{ }

// The panel is not drawn yet: the zone shows nothing for the slot.
void WeatherView::play(const CONVERTXMLDATA::ZONE_MTL &)
{ }

void WeatherView::setActive(bool)
{ }
