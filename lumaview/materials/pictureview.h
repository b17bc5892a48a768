#pragma once

#include "materials/zoneview.h"
#include "transitions/transitioncontrol.h"

#include <QPixmap>

class EffectLabel;
class QLabel;

// "pic" materials: a picture filling the zone, brought in by its transition
// effect ("ttype", 0 for none). While an effect runs, the effect label lies
// over the image label and is repainted on every step (every 30 ms).
class PictureView : public ZoneView
{
public:
    // Larger pictures are not shown (a 64-megapixel picture takes 256 MB).
    static constexpr qint64 MAX_PICTURE_PIXELS = 64LL * 1000 * 1000;
    // The picture at path, or a null pixmap when it is missing, unreadable,
    // of unknown size or larger than MAX_PICTURE_PIXELS.
    static QPixmap readPicture(const QString &path);

    explicit PictureView(ZoneContext &zone);
    ~PictureView() override;

    void play(const ContentXml::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool swipe(int) override { return true; }
    QString failure() const override;
    qint64 dueMs() const override;
    void runDue(qint64 nowMs) override;
    void slotEnded(qint64 nowMs) override;

    // Brings the current picture in with effect number n (n < 1: no effect).
    void startTransitionEffect(int n);
    // Paints one step of the running effect.
    void runTransitionEffect(int step);

    QLabel *imageLabel() const { return m_imageLabel; }
    EffectLabel *effectLabel() const { return m_effectLabel; }
    const TransitionControl &transition() const { return m_transition; }

private:
    void follow(TransitionControl::Tick tick, qint64 nowMs);
    // Ends a running effect at once, leaving the picture on the image label.
    void finishTransitionEffect();
    void showFinishedPicture();
    EffectLabel *newEffectLabel();

    QLabel *m_imageLabel = nullptr;
    EffectLabel *m_effectLabel = nullptr;
    QString m_path;
    TransitionControl m_transition;
    QPixmap m_effectPixmap;
    qint64 m_lastStepMs = 0;
    bool m_unreadable = false; // the picture playing could not be loaded
};
