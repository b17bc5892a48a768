#include "link/passtimer.h"

#include "clock.h"

#include <utility>

PassTimer::PassTimer(std::function<void()> due, QObject *parent)
    : QObject(parent)
    , m_due(std::move(due))
    , m_timer(this)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PassTimer::onTimer);
}

void PassTimer::armAt(qint64 atMs)
{
    m_wakeAtMs = atMs;
    // Wake at least once a second so a moved clock is noticed.
    m_timer.start(static_cast<int>(qBound<qint64>(0, atMs - Clock::nowMs(), PASS_SLEEP_MS)));
}

void PassTimer::onTimer()
{
    if (m_stopped)
        return;
    if (Clock::nowMs() < m_wakeAtMs) {
        armAt(m_wakeAtMs);
        return;
    }
    m_wait = WaitKind::None;
    m_due();
}

void PassTimer::sleepFor(qint64 ms)
{
    m_wait = WaitKind::None;
    armAt(Clock::nowMs() + ms);
}

void PassTimer::waitFor(WaitKind kind, qint64 ms, Resume resume, bool linkOpen)
{
    m_wait = kind;
    m_resume = resume;
    armAt(kind == WaitKind::Data && !linkOpen ? Clock::nowMs() : Clock::nowMs() + ms);
}

void PassTimer::endWait(WaitKind kind)
{
    if (m_wait == WaitKind::None || (kind != WaitKind::None && m_wait != kind))
        return;
    m_wait = WaitKind::None;
    armAt(Clock::nowMs());
}

void PassTimer::dropWait()
{
    m_wait = WaitKind::None;
    m_resume = Resume::None;
}

PassTimer::Resume PassTimer::takeResume()
{
    return std::exchange(m_resume, Resume::None);
}

void PassTimer::stop()
{
    m_stopped = true;
    m_timer.stop();
}
