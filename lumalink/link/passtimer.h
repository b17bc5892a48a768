#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// The timing of the session's pass loop: when the next pass is due, and
// whether the loop waits for the server (data or a connection) and how it
// goes on when that wait ends. Every time is read from Clock, and the timer
// wakes at least once a second so a moved clock is noticed.
class PassTimer : public QObject
{
    Q_OBJECT
public:
    // How the loop goes on when a wait ends.
    enum class Resume { None, ActWhenDue, SleepAfterWait, ClearPendingThenSleep };
    enum class WaitKind { None, Data, Connect };

    static constexpr qint64 PASS_SLEEP_MS = 1000;

    // due runs each pass once its time has come.
    explicit PassTimer(std::function<void()> due, QObject *parent = nullptr);

    // The next pass at this Clock time.
    void armAt(qint64 atMs);
    // A pass after ms, without waiting for the server.
    void sleepFor(qint64 ms);
    // Waits for the server at most ms, then goes on as resume says. Nothing
    // can arrive on a closed link: a wait for data then ends at once.
    void waitFor(WaitKind kind, qint64 ms, Resume resume, bool linkOpen);
    // The awaited event came (None: whatever is awaited): the pass runs now.
    void endWait(WaitKind kind);
    // Forgets the wait and what was to follow it.
    void dropWait();
    // The wait is over without its event (the pass runs anyway).
    void clearWait() { m_wait = WaitKind::None; }
    Resume takeResume();
    bool waiting() const { return m_wait != WaitKind::None; }
    qint64 wakeAtMs() const { return m_wakeAtMs; }
    // No pass runs any more.
    void stop();
    bool stopped() const { return m_stopped; }
    void stopTimer() { m_timer.stop(); }

private:
    void onTimer();

    std::function<void()> m_due;
    QTimer m_timer;
    qint64 m_wakeAtMs = 0;
    WaitKind m_wait = WaitKind::None;
    Resume m_resume = Resume::None;
    bool m_stopped = false;
};
