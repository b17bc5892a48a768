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
    static void setOffsetMs(qint64 offset);
    static void setFixedMs(qint64 msSinceEpoch);
    static void advanceMs(qint64 ms); // moves a fixed clock, or the offset
    static void reset();
};
