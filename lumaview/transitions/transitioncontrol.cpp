#include "transitions/transitioncontrol.h"

#include "transitions/transitioneffect.h"

bool TransitionControl::start(int effect, qint64 nowMs)
{
    if (effect < 1) {
        m_endMs = 0;
        m_running = false;
        return false;
    }
    m_endMs = nowMs + LIMIT_MS;
    m_effect = effect;
    m_step = 0;
    m_running = true;
    return true;
}

TransitionControl::Tick TransitionControl::tick(qint64 nowMs)
{
    if (!m_running)
        return {};
    if (nowMs >= m_endMs || m_step > MAX_STEP) {
        m_running = false;
        return {Action::Finish, m_step};
    }
    return {Action::Paint, m_step++};
}

TransitionControl::Tick TransitionControl::slotEnded(qint64 nowMs, bool wrapped)
{
    if (wrapped)
        return {};
    return tick(nowMs);
}

bool TransitionControl::finish()
{
    const bool was = m_running;
    m_running = false;
    return was;
}
