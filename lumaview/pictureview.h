#pragma once

#include "zoneview.h"

#include <QPixmap>

class QLabel;

// "pic" materials: a picture filling the zone, brought in by its transition
// effect ("ttype", 0 for none).
class PictureView : public ZoneView
{
public:
    explicit PictureView(ZoneContext &zone);
    ~PictureView() override;

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool swipe(int) override { return true; }

    // Brings the current picture in with effect number n (n < 1: nothing).
    void startTransitionEffect(int n);
    // One step of the running effect.
    void runTransitionEffect();

    QLabel *imageLabel() const { return m_imageLabel; }

private:
    QLabel *m_imageLabel = nullptr;
    QString m_path;
};
