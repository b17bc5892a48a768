#include "TimerThread.h"

#include <QDeadlineTimer>

TimerThread::TimerThread() = default;

TimerThread::~TimerThread()
{
    quitThread();
    wait();
}

void TimerThread::setInterval(int ms)
{
    QMutexLocker lock(&m_mutex);
    if (ms == m_interval)
        return;
    m_interval = ms;
    m_intervalChanged = true;
    m_wake.wakeAll();
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
        m_intervalChanged = false;
        lock.unlock();
        emit sigTimeout();
        lock.relock();
        const QDeadlineTimer deadline(qMax(m_interval, 0), Qt::PreciseTimer);
        // Spurious wake-ups go back to sleep until the same deadline.
        while (!m_quit && !m_intervalChanged && !deadline.hasExpired())
            m_wake.wait(&m_mutex, deadline);
    }
}
