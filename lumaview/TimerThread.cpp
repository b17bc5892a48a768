#include "TimerThread.h"

TimerThread::TimerThread() = default;

TimerThread::~TimerThread()
{
    quitThread();
    wait();
}

void TimerThread::setInterval(int ms)
{
    QMutexLocker lock(&m_mutex);
    m_interval = ms;
}

int TimerThread::interval() const
{
    QMutexLocker lock(&m_mutex);
    return m_interval;
}

void TimerThread::quitThread()
{
    QMutexLocker lock(&m_mutex);
    m_quit = true;
    m_wake.wakeAll();
}

void TimerThread::run()
{
    QMutexLocker lock(&m_mutex);
    while (!m_quit) {
        lock.unlock();
        emit sigTimeout();
        lock.relock();
        if (m_quit)
            break;
        // The interval in force now; a new one applies after this sleep.
        m_wake.wait(&m_mutex, static_cast<unsigned long>(qMax(m_interval, 0)));
    }
}
