#pragma once

#include "zoneview.h"

class QLabel;

// "clock" materials: the current time of a named time zone in a preset or
// custom format, centred in the zone and refreshed twice a second.
class ClockView : public ZoneView
{
public:
    static constexpr int REFRESH_INTERVAL_MS = 500;

    explicit ClockView(ZoneContext &zone);
    ~ClockView() override;

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool holdsZonePosition() const override;
    // Sets the label's text when the time text changed.
    void runningControl() override;

    void playText(const CONVERTXMLDATA::ZONE_MTL &mtl);
    QLabel *textLabel() const { return m_textLabel; }
    QString clockFormat() const { return m_clockFormat; }

private:
    QLabel *m_textLabel = nullptr;
    QString m_clockTimeZone;
    QString m_clockFormat;
};
