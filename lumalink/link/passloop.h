#pragma once

#include "link/passtimer.h"
#include "protocol/sessionenums.h"

#include <QByteArray>

#include <functional>

class FrameReceiver;
class LinkTransport;
class RequestSteps;
class SendQueue;
struct ServiceSettings;
struct SessionState;

// One pass of the session's loop and what it decides: go on as the last wait
// said, wait for the rest of a frame, send the next queued answer, keep an
// idle link alive with an active heartbeat, wait for the server when a wait
// is owed, or, once the next action is due, act on the status: connect,
// handshake, ask for authorization, or the next request of the walk.
class PassLoop : public SessionEnums
{
public:
    static constexpr qint64 CONNECT_RETRY_MS = 30000;
    static constexpr qint64 CONNECT_WAIT_MS = 6000;
    static constexpr qint64 HANDSHAKE_RETRY_MS = 2000;
    static constexpr qint64 HEARTBEAT_AFTER_MS = 29999;

    // busy: a handler of received frames runs (it may spin an event loop of
    // its own); the pass comes back shortly.
    PassLoop(SessionState &state, ServiceSettings &settings, PassTimer &timer,
        FrameReceiver &receiver, SendQueue &queue, RequestSteps &steps, std::function<bool()> busy);

    // The link the loop writes to and connects; not owned.
    void setTransport(LinkTransport *transport) { m_transport = transport; }
    void pass();
    // Writes a request and waits up to waitMs for its reply.
    void sendRequest(const QByteArray &frame, qint64 waitMs);

private:
    using Resume = PassTimer::Resume;
    using WaitKind = PassTimer::WaitKind;

    // Sends an active heartbeat when the link has been quiet, else acts.
    void keepAliveOrAct();
    // Waits for the server when a wait is owed, else acts once it is due.
    void actWhenDue();
    void actOnStatus();
    // Drops a connection that never got the server's handshake and connects anew.
    void connectAnew();
    void sendHandshake();
    bool writeFrame(const QByteArray &frame);
    void waitFor(WaitKind kind, qint64 ms, Resume resume);

    SessionState &m_state;
    ServiceSettings &m_settings;
    PassTimer &m_timer;
    FrameReceiver &m_receiver;
    SendQueue &m_queue;
    RequestSteps &m_steps;
    std::function<bool()> m_busy;
    LinkTransport *m_transport = nullptr;
};
