#pragma once

class QLabel;
class QWidget;
class ZoneContext;

namespace ZoneViews {

// Makes a view's widget report touches and clicks to the zone, which turns
// them into swipes.
void acceptSwipes(QWidget *surface, ZoneContext &zone);
// A label that fills the zone, scales its picture and takes swipes.
QLabel *newImageLabel(ZoneContext &zone);

} // namespace ZoneViews
