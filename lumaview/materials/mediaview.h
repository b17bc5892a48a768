#pragma once

#include "materials/zoneview.h"

class QMediaPlayer;
class QVideoWidget;

// "video" and "audio" files and "rtsp" streams, through one media player
// whose output fills the zone (blank for audio).
class MediaView : public ZoneView
{
public:
    explicit MediaView(ZoneContext &zone);
    ~MediaView() override;

    void play(const ContentXml::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    void setVolume(double volume) override;
    bool swipe(int) override;
    QString failure() const override;

private:
    QMediaPlayer *m_player = nullptr;
    QVideoWidget *m_videoWidget = nullptr;
    ContentXml::MtlKind m_kind = ContentXml::MtlKind::Unknown;
    QString m_failure; // why the material playing is not played, empty when it is
};
