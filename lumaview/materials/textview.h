#pragma once

#include "materials/labelview.h"

// "text" and "font" materials: the caption in the material's font and
// colours, still (filling the zone, centred vertically), scrolling from right
// to left, or scrolling upwards with its own line breaks. The zone's text
// timer moves it every 200 ms.
class TextView : public LabelView
{
public:
    enum ScrollMode { STILL = 0, HORIZONTAL = 1, VERTICAL = 2 };
    static constexpr int SCROLL_INTERVAL_MS = 200;

    explicit TextView(ZoneContext &zone);

    void play(const ContentXml::ZONE_MTL &mtl) override;
    // One scroll step.
    void runningControl() override;

    void playText(const ContentXml::ZONE_MTL &mtl);
    int scrollMode() const { return m_scrollMode; }
    int scrollStep() const { return m_scrollStep; }

private:
    int m_scrollMode = STILL;
    int m_scrollStep = 0;
};
