#include "link/passloop.h"

#include "clock.h"
#include "dailylog.h"
#include "link/linktransport.h"
#include "link/requeststeps.h"
#include "link/sendqueue.h"
#include "link/sessionstate.h"
#include "protocol/builddata.h"
#include "protocol/framereceiver.h"
#include "settings/servicesettings.h"

#include <utility>

namespace {
void logTcp(const QString &level, const QString &message)
{
    DailyLog::write(level, QStringLiteral("TCP"), message);
}
} // namespace

PassLoop::PassLoop(SessionState &state, ServiceSettings &settings, PassTimer &timer,
    FrameReceiver &receiver, SendQueue &queue, RequestSteps &steps, std::function<bool()> busy)
    : m_state(state)
    , m_settings(settings)
    , m_timer(timer)
    , m_receiver(receiver)
    , m_queue(queue)
    , m_steps(steps)
    , m_busy(std::move(busy))
{ }

void PassLoop::pass()
{
    if (m_timer.stopped())
        return;
    if (m_busy()) {
        // A handler is running an event loop of its own (CPU sample): come back.
        m_timer.armAt(Clock::nowMs() + 50);
        return;
    }
    switch (m_timer.takeResume()) {
    case Resume::ActWhenDue:
        actWhenDue();
        return;
    case Resume::ClearPendingThenSleep:
        m_state.pendingWaitMs = 0;
        m_timer.sleepFor(PassTimer::PASS_SLEEP_MS);
        return;
    case Resume::SleepAfterWait:
        m_timer.sleepFor(PassTimer::PASS_SLEEP_MS);
        return;
    case Resume::None:
        break;
    }

    if (m_receiver.holding()) {
        if (Clock::nowMs() < m_receiver.holdDeadline()) {
            waitFor(WaitKind::Data, FrameReceiver::HOLD_MS, Resume::ActWhenDue);
            return;
        }
        m_receiver.dropHeld(); // the rest of that frame never came
        actWhenDue();
        return;
    }

    if (!m_queue.isEmpty()) {
        writeFrame(m_queue.takeFirst());
        m_state.pendingWaitMs = SessionState::IDLE_WAIT_MS;
        if (!m_queue.isEmpty()) {
            // More answers are waiting: they go out a pass apart, not one per
            // 80 s of silence from the server.
            m_timer.sleepFor(PassTimer::PASS_SLEEP_MS);
            return;
        }
        if (!m_state.contentReady) {
            waitFor(WaitKind::Data, SessionState::IDLE_WAIT_MS, Resume::ClearPendingThenSleep);
            return;
        }
        keepAliveOrAct();
        return;
    }
    if (m_state.contentReady)
        keepAliveOrAct();
    else
        actWhenDue();
}

void PassLoop::keepAliveOrAct()
{
    // A reply that could not be stored is asked for again once its retry
    // period is over, before the link goes back to idling on heartbeats.
    if (m_steps.askAgainDue()) {
        actWhenDue();
        return;
    }
    if (m_state.status == AUTHORIZED
        && Clock::nowMs() - m_state.lastTrafficMs > HEARTBEAT_AFTER_MS) {
        logTcp(QStringLiteral("DEBUG"), QStringLiteral("Send active heartbeat 00 00 00 00"));
        if (!writeFrame(BuildData::ACTIVE_HEARTBEAT)) {
            m_state.status = NOT_CONNECTED;
            m_receiver.dropHeld();
            m_state.pendingWaitMs = 0;
            m_transport->disconnectFromServer();
            m_transport->close();
            m_timer.sleepFor(PassTimer::PASS_SLEEP_MS);
            return;
        }
        m_state.lastTrafficMs = Clock::nowMs();
        waitFor(WaitKind::Data, SessionState::IDLE_WAIT_MS, Resume::ActWhenDue);
        return;
    }
    actWhenDue();
}

void PassLoop::actWhenDue()
{
    if (m_state.pendingWaitMs > 0 && m_queue.isEmpty() && !m_steps.askAgainDue()) {
        waitFor(WaitKind::Data, m_state.pendingWaitMs, Resume::ClearPendingThenSleep);
        return;
    }
    if (m_state.nextActionMs > Clock::nowMs()) {
        m_timer.sleepFor(PassTimer::PASS_SLEEP_MS);
        return;
    }
    actOnStatus();
    // A request that waits for its answer continues when the wait ends.
    if (!m_timer.waiting())
        m_timer.sleepFor(PassTimer::PASS_SLEEP_MS);
}

void PassLoop::actOnStatus()
{
    // The retry time is stored before the request goes out, so an answer that
    // clears it is never overwritten.
    switch (m_state.status) {
    case NOT_CONNECTED:
        m_state.nextActionMs = Clock::nowMs() + CONNECT_RETRY_MS;
        connectAnew();
        break;
    case HANDSHAKING:
        sendHandshake();
        m_state.nextActionMs = Clock::nowMs() + HANDSHAKE_RETRY_MS;
        break;
    case CONNECTED:
    case ID_CONFLICT:
        m_steps.askAuthorization(RequestSteps::AUTH_RETRY_MS);
        break;
    case UNAUTHORIZED:
        m_steps.askAuthorization(RequestSteps::UNAUTHORIZED_RETRY_MS);
        break;
    case AUTHORIZED:
        m_steps.actOnStep();
        break;
    default: // EXCEED_AUTH_COUNT and unknown values: stay silent
        break;
    }
}

void PassLoop::connectAnew()
{
    m_state.lastTrafficMs = Clock::nowMs();
    // A connection that never got the server's handshake is dropped and made
    // anew, so a silent server cannot hold the session.
    if (!m_transport->isUnconnected())
        m_transport->abort();
    m_state.connected = false;
    m_transport->connectToServer(
        m_settings.connIp, static_cast<quint16>(m_settings.connPort.get().toUInt()));
    waitFor(WaitKind::Connect, CONNECT_WAIT_MS, Resume::SleepAfterWait);
    m_state.step = START;
}

void PassLoop::sendHandshake()
{
    m_state.lastTrafficMs = Clock::nowMs();
    writeFrame(BuildData::getInnerHandshake());
    m_state.status = CONNECTED;
    m_state.nextActionMs = 0;
    m_state.step = INNER_HANDSHAKE;
}

bool PassLoop::writeFrame(const QByteArray &frame)
{
    return m_transport && m_transport->send(frame);
}

void PassLoop::sendRequest(const QByteArray &frame, qint64 waitMs)
{
    writeFrame(frame);
    waitFor(WaitKind::Data, waitMs, Resume::SleepAfterWait);
}

void PassLoop::waitFor(WaitKind kind, qint64 ms, Resume resume)
{
    m_timer.waitFor(kind, ms, resume, m_state.connected);
}
