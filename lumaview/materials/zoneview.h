#pragma once

#include "formats/xmldata.h"

#include <QString>

class QWidget;

// What a view may ask of the zone that shows it. ZoneWindow implements it;
// a test can implement it on a plain widget.
class ZoneContext
{
public:
    // The zone window: parent of every widget a view creates, and the event
    // filter a view installs on surfaces that take swipes.
    virtual QWidget *zoneWidget() = 0;
    // The data/mtl folder: the materials the service downloaded.
    virtual QString mtlFolder() const = 0;
    // Full path of a material file in mtlFolder(), or an empty string when the
    // name is refused (SafePath::fileIn): the view then shows nothing for the
    // slot, as for a missing file, and its failure() says NAME_REFUSED.
    QString mtlPath(const QString &name) const;
    // The host (and port) of the weather service.
    virtual QString zoneHost() const = 0;
    // The volume fraction last applied, and a new one for the zone.
    virtual double volume() const = 0;
    virtual void setVolume(double volume) = 0;
    // Starts the zone's text timer at this interval (at once, first tick
    // immediately); it goes back to idle when a view that did not ask for it
    // starts playing. Its ticks reach the view on screen as runningControl().
    virtual void runTextTimer(int intervalMs) = 0;
    // Asks the zone to look at the views' dueMs() again (after a view's own
    // schedule changed outside play() or runDue()).
    virtual void rescheduleTick() = 0;

protected:
    ~ZoneContext() = default;
};

// One kind of material on screen. The zone keeps one view per kind for its
// life, chosen by ZoneViews::createZoneView from the material's kind, and talks to the
// view on screen only through this interface. Views create their widgets on
// first use, as children of the zone.
class ZoneView
{
public:
    explicit ZoneView(ZoneContext &zone)
        : m_zone(zone)
    { }
    virtual ~ZoneView() = default;
    ZoneView(const ZoneView &) = delete;
    ZoneView &operator=(const ZoneView &) = delete;

    // Starts showing one material (a fresh slot, also when it replays).
    virtual void play(const ContentXml::ZONE_MTL &mtl) = 0;
    // Shows this view's widgets, or hides them and stops what plays or reloads
    // (called on every view after each play(), true only for the one on screen).
    virtual void setActive(bool active) = 0;

    // Empty while the material started last is shown; otherwise why it shows
    // nothing (a missing file, a document or page that failed to load). Asked
    // when its slot ends: a slot that showed nothing is not recorded as a play.
    virtual QString failure() const { return QString(); }

    virtual void setVolume(double) { }
    // A swipe (1 next, -1 previous) on a surface of this view: true when the
    // zone is to leave the material for another one.
    virtual bool swipe(int) { return false; }
    // True while a touch or move of the zone must put it back in place.
    virtual bool holdsZonePosition() const { return false; }
    // One tick of the text timer: a scroll step or a clock refresh.
    virtual void runningControl() { }

    // Work due inside the slot (a page reload, the next transition step):
    // when it is next due, in ms since the epoch, or -1 when nothing is.
    // Asked of every view, not only the one on screen.
    virtual qint64 dueMs() const { return -1; }
    virtual void runDue(qint64) { }
    // The slot of the material on screen ended and the zone moves on to the
    // next material of its list (not on a wrap to the first, nor on a swipe),
    // before that material plays. Asked of every view.
    virtual void slotEnded(qint64) { }

protected:
    ZoneContext &m_zone;
};

namespace ZoneViews {

// Why a material whose file name was refused shows nothing.
constexpr const char *NAME_REFUSED = "file name refused";

} // namespace ZoneViews
