#pragma once

#include "zoneview.h"

class QLabel;

// "text" and "font" materials: the caption, still or scrolling.
class TextView : public ZoneView
{
public:
    explicit TextView(ZoneContext &zone);
    ~TextView() override;

    void play(const CONVERTXMLDATA::ZONE_MTL &mtl) override;
    void setActive(bool active) override;
    bool holdsZonePosition() const override;

    void playText(const CONVERTXMLDATA::ZONE_MTL &mtl);
    QLabel *textLabel() const { return m_textLabel; }

private:
    QLabel *m_textLabel = nullptr;
};
