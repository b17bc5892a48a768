#include "upkeepschedule.h"

void UpkeepSchedule::restart(qint64 startMs)
{
    m_startMs = startMs;
    m_lastHourlyMs = 0;
    m_lastWatchdogMs = 0;
    m_firstStatsDone = false;
}

UpkeepSchedule::Due UpkeepSchedule::due(qint64 nowMs)
{
    Due due;
    if (m_firstStatsDone) {
        if (nowMs - m_lastHourlyMs > HOURLY_MS) {
            due.stats = true;
            due.cleanup = true;
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
