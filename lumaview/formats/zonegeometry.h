#pragma once

#include "formats/xmldata.h"

#include <QRect>
#include <QSize>

// Placement arithmetic of the player: template areas on the screen, PDF pages
// in a zone, and swipes.
namespace ZoneGeometry {

// The area scaled from the template's design size to the screen. The width
// follows the vertical factor like the height (peers' templates are designed
// for that); a template without a design size is taken as made for the screen.
QRect areaRect(const ContentXml::TP_AREA &area, QSize templateSize, QSize screen, int xOffset);
int stackingKey(const ContentXml::TP_AREA &area, int index);

// A rendered page fitted into the zone, centred, keeping its aspect ratio.
QRect pdfFit(QSize zone, QSize page);

// 1 for a swipe to the left (next), -1 to the right (previous), 0 otherwise.
int swipeDirection(QPoint press, QPoint release, int zoneHeight);

// The address a web material loads: its url as it is when it names a scheme,
// else with "http://" in front.
QString webAddress(const QString &url);

} // namespace ZoneGeometry
