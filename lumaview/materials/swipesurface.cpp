#include "materials/swipesurface.h"

#include "materials/zoneview.h"

#include <QLabel>

namespace ZoneViews {

void acceptSwipes(QWidget *surface, ZoneContext &zone)
{
    surface->installEventFilter(zone.zoneWidget());
    surface->setAttribute(Qt::WA_AcceptTouchEvents);
}

QLabel *newImageLabel(ZoneContext &zone)
{
    QWidget *parent = zone.zoneWidget();
    auto *label = new QLabel(parent);
    label->setScaledContents(true);
    label->setGeometry(0, 0, parent->width(), parent->height());
    acceptSwipes(label, zone);
    return label;
}

} // namespace ZoneViews
