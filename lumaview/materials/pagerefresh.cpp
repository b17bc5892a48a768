#include "materials/pagerefresh.h"

void PageRefresh::start(int refreshInterval, qint64 nowMs)
{
    m_active = true;
    m_intervalMs = refreshInterval > 0 ? qMax<qint64>(refreshInterval, MIN_INTERVAL_MS) : 0;
    m_nextMs = m_intervalMs > 0 ? nowMs + m_intervalMs : -1;
    m_loading = true;
    m_loaded = false;
    m_failed = false;
    m_dueWhileLoading = 0;
}

void PageRefresh::stop()
{
    m_active = false;
    m_nextMs = -1;
}

void PageRefresh::loadFinished(bool ok, qint64 nowMs)
{
    m_loading = false;
    m_dueWhileLoading = 0;
    if (ok) {
        m_loaded = true;
        m_failed = false;
        if (m_intervalMs == 0)
            m_nextMs = -1; // a retry succeeded: nothing more to do
        return;
    }
    m_failed = true;
    // Without a reload interval nothing else would ever load it again.
    if (m_active && m_nextMs < 0)
        m_nextMs = nowMs + MIN_INTERVAL_MS;
}

PageRefresh::Action PageRefresh::due(qint64 nowMs)
{
    if (!m_active || m_nextMs < 0 || nowMs < m_nextMs)
        return Action::None;
    if (m_loading && ++m_dueWhileLoading < 2) {
        // A slow page: let it finish rather than cut it off again.
        m_nextMs = nowMs + retryInterval();
        return Action::None;
    }
    const Action action = m_loading || m_failed ? Action::Retry : Action::Reload;
    m_loading = true;
    m_dueWhileLoading = 0;
    m_nextMs = nowMs + retryInterval();
    return action;
}
