#pragma once

#include "materials/zoneview.h"

#include <QLabel>

// A material drawn as one label over the zone (captions, clocks). The label
// is made on the first play, hidden and shown with the material, and while it
// shows the zone keeps its place on screen.
class LabelView : public ZoneView
{
public:
    using ZoneView::ZoneView;
    ~LabelView() override { delete m_textLabel; }

    void setActive(bool active) override
    {
        if (m_textLabel)
            m_textLabel->setVisible(active);
    }
    bool holdsZonePosition() const override { return m_textLabel && m_textLabel->isVisible(); }

    QLabel *textLabel() const { return m_textLabel; }

protected:
    QLabel *m_textLabel = nullptr;
};
