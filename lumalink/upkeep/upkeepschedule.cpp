#include "upkeep/upkeepschedule.h"

#include <limits>

namespace {
// Long before any time given: the first check of each kind is due at once.
constexpr qint64 NEVER = std::numeric_limits<qint64>::min() / 4;
} // namespace

void UpkeepSchedule::restart(qint64 startMs)
{
    m_startMs = startMs;
    m_lastHourlyMs = NEVER;
    m_lastWatchdogMs = NEVER;
    m_firstStatsDone = false;
}

UpkeepSchedule::Due UpkeepSchedule::due(qint64 nowMs)
{
    Due due;
    if (m_firstStatsDone) {
        if (nowMs - m_lastHourlyMs > HOURLY_MS) {
            due.stats = true;
            due.cleanup = !m_skipCleanup;
            due.cleanupSkipped = m_skipCleanup;
            m_skipCleanup = false;
            m_lastHourlyMs = nowMs;
        }
    } else if (nowMs - m_startMs > FIRST_STATS_AFTER_MS) {
        m_firstStatsDone = true;
        due.stats = true;
    }
    if (nowMs - m_lastWatchdogMs > WATCHDOG_AFTER_MS) {
        due.watchdog = true;
        m_lastWatchdogMs = nowMs;
    }
    return due;
}

qint64 UpkeepSchedule::noteWallClock(qint64 wallMs, qint64 monotonicMs)
{
    const qint64 jump
        = m_wallNoted ? (wallMs - m_lastWallMs) - (monotonicMs - m_lastMonotonicMs) : 0;
    m_wallNoted = true;
    m_lastWallMs = wallMs;
    m_lastMonotonicMs = monotonicMs;
    if (jump <= WALL_JUMP_MS)
        return 0;
    m_skipCleanup = true;
    return jump;
}
