#include "loopthread.h"

#include <chrono>

LoopThread::LoopThread(QObject *parent)
    : QThread(parent)
{ }

LoopThread::~LoopThread()
{
    // The subclass stopped the loop already; this only makes sure.
    stop();
}

bool LoopThread::stop(QDeadlineTimer deadline)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_wake.notify_all();
    }
    onStopRequested();
    if (QThread::currentThread() == this || !wait(deadline))
        return false;
    m_runEnd.join(); // everything the loop did is now visible
    return true;
}

void LoopThread::wake()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_woken = true;
    m_wake.notify_all();
}

bool LoopThread::sleepFor(qint64 ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return sleepFor(lock, ms);
}

bool LoopThread::sleepFor(std::unique_lock<std::mutex> &lock, qint64 ms)
{
    const auto ended = [this] { return m_woken || m_stop.load(); };
    if (ms < 0)
        m_wake.wait(lock, ended);
    else
        m_wake.wait_for(lock, std::chrono::milliseconds(ms), ended);
    m_woken = false;
    return !m_stop.load();
}

void LoopThread::assertOnLoopThread() const
{
    Q_ASSERT_X(!isRunning() || QThread::currentThread() == this, "LoopThread",
        "a step of the loop called from another thread while the loop runs");
}

void LoopThread::run()
{
    const RunEnd::Scope end(m_runEnd);
    loop();
}
