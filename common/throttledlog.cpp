#include "throttledlog.h"

#include "clock.h"
#include "dailylog.h"

ThrottledLog::ThrottledLog(const QString &level, const QString &module)
    : m_level(level)
    , m_module(module)
{ }

void ThrottledLog::note(const QString &message)
{
    const qint64 now = Clock::nowMs();
    if (m_logged && now >= m_lastMs && now - m_lastMs < PERIOD_MS) {
        ++m_counted;
        return;
    }
    QString line = message;
    if (m_counted > 0)
        line += QStringLiteral(" (and %1 more like it in the minute before)").arg(m_counted);
    DailyLog::write(m_level, m_module, line);
    m_logged = true;
    m_lastMs = now;
    m_counted = 0;
}
