#include "clockview.h"

#include <QLabel>

ClockView::ClockView(ZoneContext &zone)
    : ZoneView(zone)
{ }

ClockView::~ClockView()
{
    delete m_textLabel;
}

void ClockView::play(const CONVERTXMLDATA::ZONE_MTL &mtl)
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

void ClockView::playText(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    m_textLabel->setText(mtl.caption);
}

void ClockView::setActive(bool active)
{
    if (m_textLabel)
        m_textLabel->setVisible(active);
}

bool ClockView::holdsZonePosition() const
{
    return m_textLabel && m_textLabel->isVisible();
}
