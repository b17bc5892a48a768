#include "link/authorization.h"

#include "dailylog.h"
#include "net/playernotices.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"

namespace {
void logAuth(const QString &level, const QString &message)
{
    DailyLog::write(level, QStringLiteral("AUTH"), message);
}
} // namespace

Authorization::Authorization(ServiceSettings &settings, TerminalStatus &statusFile)
    : m_settings(settings)
    , m_statusFile(statusFile)
{ }

void Authorization::onResult(int status, qint64 nowMs)
{
    if (status == ID_CONFLICT) {
        // Keep the first twelve characters and make the rest new.
        m_settings.terminalId = m_settings.terminalId.get().left(12)
            + QStringLiteral("%1").arg(nowMs % 1000, 3, 10, QLatin1Char('0'));
        return;
    }
    if (status == EXCEED_AUTH_COUNT) {
        logAuth(QStringLiteral("WARN"), QStringLiteral("Exceed authorized amount of terminals"));
        return;
    }
    if (status == m_reported && m_settings.terminalId.get() == m_reportedId) {
        // Nothing new for the status file or the player.
        if (status == UNAUTHORIZED) {
            ++m_repeats;
            if (nowMs - m_repeatsSinceMs >= REPEAT_LOG_MS)
                logRepeats(nowMs);
        }
        return;
    }
    if (m_repeats > 0)
        logRepeats(nowMs);
    report(status);
    m_repeatsSinceMs = nowMs;
}

void Authorization::report(int status)
{
    m_statusFile.writeTerminalStatus(m_settings.terminalId, status);
    PlayerNotices::post(QStringLiteral("STATUS"), QString::number(status));
    m_reported = status;
    m_reportedId = m_settings.terminalId;
}

void Authorization::logRepeats(qint64 nowMs)
{
    logAuth(QStringLiteral("INFO"),
        QStringLiteral("Authorization refused %1 more times in %2 s")
            .arg(m_repeats)
            .arg((nowMs - m_repeatsSinceMs) / 1000));
    m_repeats = 0;
    m_repeatsSinceMs = nowMs;
}
