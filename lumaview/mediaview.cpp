#include "mediaview.h"

#include "swipesurface.h"

#include <QFile>
#include <QMediaPlayer>
#include <QVideoWidget>

using CONVERTXMLDATA::MtlKind;

MediaView::MediaView(ZoneContext &zone)
    : ZoneView(zone)
{ }

MediaView::~MediaView()
{
    delete m_player; // before its output
    delete m_videoWidget;
}

void MediaView::play(const CONVERTXMLDATA::ZONE_MTL &mtl)
{
    m_kind = mtl.kind;
    if (!m_videoWidget) {
        QWidget *zone = m_zone.zoneWidget();
        m_videoWidget = new QVideoWidget(zone);
        m_videoWidget->setGeometry(0, 0, zone->width(), zone->height());
        m_videoWidget->setAspectRatioMode(Qt::IgnoreAspectRatio);
        ZoneViews::acceptSwipes(m_videoWidget, m_zone);
    }
    if (!m_player) {
        m_player = new QMediaPlayer(m_zone.zoneWidget());
        m_player->setVolume(qRound(m_zone.volume() * 100));
        m_player->setVideoOutput(m_videoWidget);
    }
    // The material's volume becomes the zone's.
    m_missing = false;
    if (m_kind == MtlKind::Stream) {
        m_player->setMedia(QUrl::fromEncoded(mtl.address.toUtf8()));
        m_zone.setVolume(mtl.volume);
        m_player->play();
        return;
    }
    const QString path = m_zone.mtlPath(mtl.name);
    if (QFile::exists(path)) {
        m_player->setMedia(QUrl::fromLocalFile(path));
        m_zone.setVolume(mtl.volume);
        m_player->play();
    } else {
        // The player keeps whatever it had; the slot lasts its length anyway.
        m_zone.setVolume(mtl.volume);
        m_missing = true;
    }
}

QString MediaView::failure() const
{
    return m_missing ? QStringLiteral("file missing") : QString();
}

void MediaView::setActive(bool active)
{
    if (m_player && !active)
        m_player->stop();
    if (m_videoWidget)
        m_videoWidget->setVisible(active);
}

void MediaView::setVolume(double volume)
{
    if (m_player)
        m_player->setVolume(qRound(volume * 100));
}

bool MediaView::swipe(int)
{
    return m_kind == MtlKind::Video;
}
