#pragma once

#include "materials/labelview.h"

// "clock" materials: the current time of a named time zone in a preset or
// custom format, centred in the zone and refreshed twice a second.
class ClockView : public LabelView
{
public:
    static constexpr int REFRESH_INTERVAL_MS = 500;

    explicit ClockView(ZoneContext &zone);

    void play(const ContentXml::ZONE_MTL &mtl) override;
    // Sets the label's text when the time text changed.
    void runningControl() override;

    void playText(const ContentXml::ZONE_MTL &mtl);
    QString clockFormat() const { return m_clockFormat; }

private:
    QString m_clockTimeZone;
    QString m_clockFormat;
};
