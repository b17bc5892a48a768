#include "zones/TimerThread.h"

#include <QtGlobal>

TimerThread::TimerThread() = default;

TimerThread::~TimerThread()
{
    quitThread();
    if (wait())
        m_runEnd.join();
}

void TimerThread::setInterval(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (ms == m_interval)
        return;
    m_interval = ms;
    m_intervalChanged = true;
    m_wake.notify_all();
}

int TimerThread::interval() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_interval;
}

void TimerThread::quitThread()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_quit = true;
    m_wake.notify_all();
}

void TimerThread::run()
{
    const RunEnd::Scope end(m_runEnd);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        m_intervalChanged = false;
        lock.unlock();
        emit sigTimeout();
        lock.lock();
        // Spurious wake-ups go back to sleep until the same deadline.
        m_wake.wait_for(lock, std::chrono::milliseconds(qMax(m_interval, 0)),
            [this] { return m_quit || m_intervalChanged; });
    }
}
