#include "textview.h"

#include <QLabel>

TextView::TextView(ZoneContext &zone)
    : ZoneView(zone)
{ }

TextView::~TextView()
{
    delete m_textLabel;
}

void TextView::play(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    if (!m_textLabel) {
        QWidget *zone = m_zone.zoneWidget();
        m_textLabel = new QLabel(zone);
        m_textLabel->setStyleSheet(QStringLiteral("background:transparent"));
        m_textLabel->setAttribute(Qt::WA_TranslucentBackground);
        m_textLabel->setGeometry(0, 0, zone->width(), zone->height());
    }
    playText(mtl);
}

void TextView::playText(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    m_textLabel->setText(mtl.caption);
}

void TextView::setActive(bool active)
{
    if (m_textLabel)
        m_textLabel->setVisible(active);
}

bool TextView::holdsZonePosition() const
{
    return m_textLabel && m_textLabel->isVisible();
}
