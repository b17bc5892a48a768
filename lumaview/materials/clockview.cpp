#include "materials/clockview.h"

#include "materials/clockformat.h"
#include "materials/textlayout.h"

#include <QLabel>

ClockView::ClockView(ZoneContext &zone)
    : LabelView(zone)
{ }

void ClockView::play(const ContentXml::ZONE_MTL &mtl)
{
    // Not a translucent label as for captions: that would also switch off the
    // painting of its style sheet background, and the clock's black or white
    // ground, which fills the zone, would never show.
    if (!m_textLabel)
        m_textLabel = new QLabel(m_zone.zoneWidget());
    playText(mtl);
}

void ClockView::playText(const ContentXml::ZONE_MTL &mtl)
{
    QWidget *zone = m_zone.zoneWidget();
    m_textLabel->setStyleSheet(
        TextLayout::labelStyle(mtl.color, ClockFormat::clockBackground(mtl.color)));
    zone->setStyleSheet(QStringLiteral("background:transparent"));

    QFont font = m_textLabel->font();
    font.setPointSize(ClockFormat::clockPointSize(mtl.fsize));
    m_textLabel->setFont(font);
    m_textLabel->setGeometry(0, 0, zone->width(), zone->height());
    m_textLabel->setAlignment(Qt::AlignCenter);
    m_textLabel->setWordWrap(true);

    m_clockTimeZone = mtl.timeZoneID;
    m_clockFormat = ClockFormat::clockFormat(mtl.datefotmat, mtl.customerFormat);
    // Shown at once, not only from the timer's next tick: a clock after
    // another one must not show the other zone's time meanwhile.
    runningControl();
    m_zone.runTextTimer(REFRESH_INTERVAL_MS);
}

void ClockView::runningControl()
{
    if (!m_textLabel)
        return;
    const QString text = ClockFormat::clockText(m_clockTimeZone, m_clockFormat);
    if (text != m_textLabel->text())
        m_textLabel->setText(text);
}
