#include "pictureview.h"

#include "swipesurface.h"

#include <QLabel>

PictureView::PictureView(ZoneContext &zone)
    : ZoneView(zone)
{ }

PictureView::~PictureView()
{
    delete m_imageLabel;
}

void PictureView::play(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    if (!m_imageLabel)
        m_imageLabel = ZoneViews::newImageLabel(m_zone);
    m_path = m_zone.mtlPath(mtl.name);
    if (mtl.ttype == 0) {
        m_imageLabel->setPixmap(QPixmap(m_path));
        m_imageLabel->show();
    } else {
        startTransitionEffect(mtl.ttype);
    }
}

void PictureView::setActive(bool active)
{
    if (m_imageLabel)
        m_imageLabel->setVisible(active);
}

void PictureView::startTransitionEffect(int n)
{
    if (n < 1)
        return; // the label keeps the picture it showed before
    // No effect is painted: the picture appears at once.
    m_imageLabel->setPixmap(QPixmap(m_path));
    m_imageLabel->show();
}

void PictureView::runTransitionEffect()
{ }
