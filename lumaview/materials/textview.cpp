#include "materials/textview.h"

#include "formats/contentrules.h"
#include "materials/textlayout.h"
#include "texttools.h"

#include <QLabel>

TextView::TextView(ZoneContext &zone)
    : LabelView(zone)
{ }

void TextView::play(const ContentXml::ZONE_MTL &mtl)
{
    if (!m_textLabel) {
        m_textLabel = new QLabel(m_zone.zoneWidget());
        m_textLabel->setStyleSheet(QStringLiteral("background:transparent"));
        m_textLabel->setAttribute(Qt::WA_TranslucentBackground);
    }
    playText(mtl);
}

void TextView::playText(const ContentXml::ZONE_MTL &mtl)
{
    QWidget *zone = m_zone.zoneWidget();
    const int W = zone->width();
    const int H = zone->height();
    m_textLabel->setStyleSheet(TextLayout::labelStyle(mtl.color, mtl.bgcolor));
    zone->setStyleSheet(
        QStringLiteral("background:") + ContentRules::styleColor(mtl.bgcolor).left(7));

    QFont font = m_textLabel->font();
    font.setWeight(mtl.bold > 0 ? QFont::Bold : QFont::Normal);
    font.setUnderline(mtl.udl > 0);
    font.setStyle(mtl.italic > 0 ? QFont::StyleItalic : QFont::StyleNormal);
    font.setFamily(TextTools::fontFamily(mtl.font));
    if (mtl.fsize > 0) // Qt refuses other sizes anyway, with a warning
        font.setPointSize(mtl.fsize);
    m_textLabel->setFont(font);

    m_scrollMode = mtl.movemode;
    m_scrollStep = TextLayout::scrollStep(mtl.speed);
    QString caption = mtl.caption;
    switch (m_scrollMode) {
    case HORIZONTAL:
        m_textLabel->setText(caption);
        m_textLabel->adjustSize();
        m_textLabel->move(TextLayout::horizontalStart(m_textLabel->size(), zone->size()));
        break;
    case VERTICAL: {
        const int height = TextLayout::setLineFeed(caption, W, font);
        m_textLabel->setGeometry(0, 0, W, height);
        m_textLabel->setText(caption);
        break;
    }
    default:
        // Still: the zone filled, the lines broken as for upward scrolling,
        // the block centred vertically.
        TextLayout::setLineFeed(caption, W, font);
        m_textLabel->setGeometry(0, 0, W, H);
        m_textLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_textLabel->setText(caption);
        break;
    }
    if (m_scrollMode == HORIZONTAL || m_scrollMode == VERTICAL)
        m_zone.runTextTimer(SCROLL_INTERVAL_MS);
}

void TextView::runningControl()
{
    if (!m_textLabel)
        return;
    const QSize zone = m_zone.zoneWidget()->size();
    if (m_scrollMode == HORIZONTAL) {
        m_textLabel->move(TextLayout::nextScrollX(
                              m_textLabel->x(), m_scrollStep, m_textLabel->width(), zone.width()),
            m_textLabel->y());
    } else if (m_scrollMode == VERTICAL) {
        m_textLabel->move(0,
            TextLayout::nextScrollY(
                m_textLabel->y(), m_scrollStep, m_textLabel->height(), zone.height()));
    }
}
