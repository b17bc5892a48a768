#pragma once

#include "runend.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

// The one shape of the programs' worker threads: a loop that works, then
// sleeps until a time passes, wake() is called or stop() is asked for.
//
// stop() and wake() may be called from any thread. stop() cuts the sleep
// short, lets the subclass cut running work short (onStopRequested) and,
// called from another thread, returns once the thread has finished and all
// it wrote is visible. A subclass's destructor calls stop() first, so the
// loop never outlives the members it uses.
class LoopThread : public QThread
{
    Q_OBJECT
public:
    static constexpr qint64 UNTIL_WOKEN = -1;

    explicit LoopThread(QObject *parent = nullptr);
    ~LoopThread() override;

    // True once the thread has finished (or never ran); a deadline bounds the
    // wait for a loop stuck in work it cannot cut short.
    bool stop(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    bool stopRequested() const { return m_stop.load(); }
    // Ends the current sleep, or the next one if the loop is working now.
    void wake();

protected:
    // The thread's work; returns when stopRequested() turns true.
    virtual void loop() = 0;
    // Runs on the stopping thread, after the stop flag is set.
    virtual void onStopRequested() { }

    // Sleeps until ms passed (UNTIL_WOKEN: no time limit), wake() or stop();
    // false once a stop was asked for.
    bool sleepFor(qint64 ms);
    // The same with loopMutex() held by the caller (the sleep releases it), for
    // loops whose state shares that mutex.
    bool sleepFor(std::unique_lock<std::mutex> &lock, qint64 ms);
    std::mutex &loopMutex() { return m_mutex; }

    // Debug builds: steps of the loop run on the loop's thread while it runs
    // (tests drive them on their own thread without starting it).
    void assertOnLoopThread() const;

private:
    void run() final;

    RunEnd m_runEnd; // marked last by run()
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_woken = false; // guarded by m_mutex
    std::atomic<bool> m_stop {false};
};
