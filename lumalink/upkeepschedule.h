#pragma once

#include <QtGlobal>

// When the statistics thread's loop runs its timed jobs. After each sleep the
// loop asks what is due: the first statistics pass a minute after start, then
// statistics with cleanup once an hour (the first of them right at the pass
// after the first statistics pass), and the player watchdog every ten seconds
// (so at every fourth 3-second pass).
class UpkeepSchedule
{
public:
    static constexpr qint64 FIRST_STATS_AFTER_MS = 60000;
    static constexpr qint64 HOURLY_MS = 3600000;
    static constexpr qint64 WATCHDOG_AFTER_MS = 9999;

    struct Due
    {
        bool stats = false;
        bool cleanup = false;
        bool watchdog = false;
    };

    explicit UpkeepSchedule(qint64 startMs = 0) { restart(startMs); }
    void restart(qint64 startMs);
    // What is due at nowMs; marks it as done at nowMs.
    Due due(qint64 nowMs);

private:
    qint64 m_startMs = 0;
    qint64 m_lastHourlyMs = 0;
    qint64 m_lastWatchdogMs = 0;
    bool m_firstStatsDone = false;
};
