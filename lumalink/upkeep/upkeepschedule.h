#pragma once

#include <QtGlobal>

// When the statistics thread's loop runs its timed jobs. After each sleep the
// loop asks what is due: the first statistics pass a minute after start, then
// statistics with cleanup once an hour (the first of them right at the pass
// after the first statistics pass), and the player watchdog every ten seconds
// (so at every fourth 3-second pass). Its times are those of the monotonic
// clock, so a wall clock set back does not stop the upkeep for hours. A wall
// clock that jumps forward by more than a day makes the next cleanup skip,
// so one wrong server time cannot delete every log and file.
class UpkeepSchedule
{
public:
    static constexpr qint64 FIRST_STATS_AFTER_MS = 60000;
    static constexpr qint64 HOURLY_MS = 3600000;
    static constexpr qint64 WATCHDOG_AFTER_MS = 9999;
    static constexpr qint64 WALL_JUMP_MS = 24 * 3600000;

    struct Due
    {
        bool stats = false;
        bool cleanup = false;
        bool watchdog = false;
        bool cleanupSkipped = false; // due, but the wall clock jumped forward
    };

    explicit UpkeepSchedule(qint64 startMs = 0) { restart(startMs); }
    void restart(qint64 startMs);
    // What is due at nowMs (monotonic); marks it as done at nowMs.
    Due due(qint64 nowMs);
    // Compares how far the wall clock went with the monotonic time since the
    // last call; returns the forward jump beyond WALL_JUMP_MS (0: none) and
    // then skips the next cleanup.
    qint64 noteWallClock(qint64 wallMs, qint64 monotonicMs);

private:
    qint64 m_lastWallMs = 0;
    qint64 m_lastMonotonicMs = 0;
    bool m_wallNoted = false;
    bool m_skipCleanup = false;
    qint64 m_startMs = 0;
    qint64 m_lastHourlyMs = 0;
    qint64 m_lastWatchdogMs = 0;
    bool m_firstStatsDone = false;
};
