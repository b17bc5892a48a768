#pragma once

#include "runend.h"

#include <QThread>

#include <condition_variable>
#include <mutex>

// Emits sigTimeout() at once and then after every interval until told to quit.
// The sleep is interruptible: quitThread() ends it at once, and the destructor
// waits for the thread, so an owner may delete it at any time. A changed
// interval ends the current sleep too: the signal comes at once and the new
// interval runs from there, so a zone that idled its timer for a day moves
// again as soon as it asks for a short interval.
class TimerThread : public QThread
{
    Q_OBJECT
public:
    TimerThread();
    ~TimerThread() override;

    void setInterval(int ms);
    int interval() const;
    void quitThread();

signals:
    void sigTimeout();

protected:
    void run() override;

private:
    RunEnd m_runEnd; // marked last by run()
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_quit = false;
    bool m_intervalChanged = false;
    int m_interval = 1000;
};
