#pragma once

#include "zoneview.h"

class QLabel;

// "text" and "font" materials: the caption in the material's font and
// colours, still (filling the zone, centred vertically), scrolling from right
// to left, or scrolling upwards with its own line breaks. The zone's text
// timer moves it every 200 ms.
class TextView : public ZoneView
{
public:
    enum ScrollMode { STILL = 0, HORIZONTAL = 1, VERTICAL = 2 };
    static constexpr int SCROLL_INTERVAL_MS = 200;

    explicit TextView(ZoneContext &zone);
    ~TextView() override;

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool holdsZonePosition() const override;
    // One scroll step.
    void runningControl() override;

    void playText(const CONVERTXMLDATA::ZONE_MTL &mtl);
    QLabel *textLabel() const { return m_textLabel; }
    int scrollMode() const { return m_scrollMode; }
    int scrollStep() const { return m_scrollStep; }

private:
    QLabel *m_textLabel = nullptr;
    int m_scrollMode = STILL;
    int m_scrollStep = 0;
};
