#pragma once

#include <atomic>

// Makes everything a thread's run() wrote visible to the thread that waited
// for it. QThread::wait() orders the two as well, but inside Qt, where a race
// checker cannot see it; this pair gives the same order with an atomic of our
// own. A RunEnd::Scope is the first local of run(), so it marks the end after
// every other local is gone, whichever way run() returns; the waiting side
// calls join() after a wait() that succeeded.
class RunEnd
{
public:
    class Scope
    {
    public:
        explicit Scope(RunEnd &end)
            : m_end(end)
        { }
        ~Scope() { m_end.m_ended.store(true, std::memory_order_release); }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        RunEnd &m_end;
    };

    void join() const { (void)m_ended.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_ended {false};
};
