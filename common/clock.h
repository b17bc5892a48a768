#pragma once

#include <QDateTime>

// The one place both programs read the wall clock from. Tests move it with
// setOffsetMs() or freeze it with setFixedMs(); production code never touches
// either, so Clock::now() is then simply the system clock.
class Clock
{
public:
    static QDateTime now(); // local time
    static qint64 nowMs(); // milliseconds since the epoch
    // Time that only goes on, whatever the wall clock is set to (periods of
    // upkeep): milliseconds since some start, never set back.
    static qint64 monotonicMs();
    // Setting the wall clock (a time sync) leaves the monotonic clock alone.
    static void setOffsetMs(qint64 offset);
    static void setFixedMs(qint64 msSinceEpoch);
    // Time passing: moves a fixed clock, or the offset, and the monotonic clock.
    static void advanceMs(qint64 ms);
    static void reset();
};
