#pragma once

#include "zoneview.h"

class QLabel;

// "clock" materials: the time of a named time zone.
class ClockView : public ZoneView
{
public:
    explicit ClockView(ZoneContext &zone);
    ~ClockView() override;

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool holdsZonePosition() const override;

    void playText(const CONVERTXMLDATA::ZONE_MTL &mtl);
    QLabel *textLabel() const { return m_textLabel; }

private:
    QLabel *m_textLabel = nullptr;
};
