#pragma once

#include <QtGlobal>

// The run of one picture transition: started with the picture, stepped on the
// zone's ticks, finished after MAX_STEP painted steps or at the time limit.
// The zone maps each decision onto its effect label and image label.
class TransitionControl
{
public:
    static constexpr int TICK_MS = 30; // tick of a zone while a transition runs
    static constexpr int IDLE_TICK_MS = 50; // tick of a zone otherwise
    static constexpr qint64 LIMIT_MS = 3000; // a transition never outlasts this

    enum class Action { None, Paint, Finish };
    struct Tick
    {
        Action action = Action::None;
        int step = 0; // the step to paint, for Action::Paint
    };

    // Starts the given effect at nowMs. Effect numbers below 1 start nothing
    // and return false (whatever ran before counts as stopped).
    bool start(int effect, qint64 nowMs);
    // One tick within the picture's slot: paint the next step, or finish once
    // every step is painted or the time limit passed.
    Tick tick(qint64 nowMs);
    // The picture's slot ended: a transition still running gets one more tick,
    // unless the zone's list wrapped round to its first material.
    Tick slotEnded(qint64 nowMs, bool wrapped);
    // Ends a running transition at once; true if one was running.
    bool finish();

    bool isRunning() const { return m_running; }
    int effect() const { return m_effect; }
    int step() const { return m_step; }
    qint64 endTime() const { return m_endMs; }
    int tickInterval() const { return m_running ? TICK_MS : IDLE_TICK_MS; }

private:
    int m_effect = 0;
    int m_step = 0;
    bool m_running = false;
    qint64 m_endMs = 0;
};
