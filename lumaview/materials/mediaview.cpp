#include "materials/mediaview.h"

#include "formats/contentrules.h"
#include "materials/swipesurface.h"

#include <QFile>
#include <QMediaPlayer>
#include <QVideoWidget>

using ContentXml::MtlKind;

MediaView::MediaView(ZoneContext &zone)
    : ZoneView(zone)
{ }

MediaView::~MediaView()
{
    delete m_player; // before its output
    delete m_videoWidget;
}

void MediaView::play(const ContentXml::ZONE_MTL &mtl)
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
    // The material's volume becomes the zone's. A file or stream that cannot
    // be played leaves the player as it was; the slot lasts its length anyway.
    m_failure.clear();
    QUrl source;
    if (m_kind == MtlKind::Stream) {
        source = QUrl::fromEncoded(mtl.address.toUtf8());
        if (!ContentRules::isStreamAllowed(source))
            m_failure = QStringLiteral("stream address refused");
    } else {
        const QString path = m_zone.mtlPath(mtl.name);
        if (path.isEmpty())
            m_failure = QString::fromLatin1(ZoneViews::NAME_REFUSED);
        else if (!QFile::exists(path))
            m_failure = QStringLiteral("file missing");
        else
            source = QUrl::fromLocalFile(path);
    }
    if (!m_failure.isEmpty()) {
        m_zone.setVolume(mtl.volume);
        return;
    }
    m_player->setMedia(source);
    m_zone.setVolume(mtl.volume);
    m_player->play();
}

QString MediaView::failure() const
{
    return m_failure;
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
