#include "link/requeststeps.h"

#include "clock.h"
#include "dailylog.h"
#include "lebytes.h"
#include "link/authorization.h"
#include "link/sessionstate.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"
#include "requests/systemclock.h"
#include "settings/servicesettings.h"
#include "settings/terminalstatus.h"

#include <utility>

using namespace ServerProtocol;

// clang-format off
const RequestSteps::Row RequestSteps::ROWS[6] = {
    // step, protocol, command, inWalk, replyAtAnyStep, retryMs, waitMs, next,
    // what, tail, quietWhileRefused, ids, due, frame, verified, onReply, walkReply
    {REQ_AUTH, PROTO_SESSION, CMD_AUTH, false, false, AUTH_RETRY_MS, 6000, REQ_CONFIG,
        "authorization", Row::Length, true, nullptr, nullptr, &RequestSteps::authFrame, false,
        &RequestSteps::onAuthResult, nullptr},
    {REQ_CONFIG, PROTO_SESSION, CMD_CONFIG, true, false, REQUEST_RETRY_MS, 6000, SYNC_TIME,
        "config", Row::Length, false, nullptr, nullptr, nullptr, true,
        &RequestSteps::onConfig, nullptr},
    {SYNC_TIME, PROTO_SESSION, CMD_SERVER_TIME, true, false, REQUEST_RETRY_MS, 5000, REQ_SCHEDULE,
        "server time", Row::NoTail, false, nullptr, &RequestSteps::syncDue, nullptr, true,
        &RequestSteps::onServerTime, nullptr},
    // A new day schedule is taken whenever it comes.
    {REQ_SCHEDULE, PROTO_CONTENT, CMD_DAY_SCHEDULE, true, true, SCHEDULE_RETRY_MS, 6000, REQ_TPL,
        "play schedule", Row::NoTail, false, nullptr, nullptr, nullptr, false,
        nullptr, &ContentWalk::onSchedule},
    {REQ_TPL, PROTO_CONTENT, CMD_TEMPLATE_LIST, true, false, REQUEST_RETRY_MS, 5000, REQ_ZONE,
        "tplId=", Row::Id, false, &ContentWalk::tplIds, nullptr, nullptr, false,
        nullptr, &ContentWalk::onTemplateList},
    {REQ_ZONE, PROTO_CONTENT, CMD_ZONE, true, false, REQUEST_RETRY_MS, 5000, REQ_FILE,
        "zoneId=", Row::Id, false, &ContentWalk::zoneIds, nullptr, nullptr, false,
        nullptr, &ContentWalk::onZone},
};
// clang-format on

RequestSteps::RequestSteps(SessionState &state, ServiceSettings &settings, FrameSequence &sequence,
    TerminalStatus &statusFile, Authorization &auth, ContentWalk &walk, Send send,
    std::function<void()> walkDone)
    : m_state(state)
    , m_settings(settings)
    , m_sequence(sequence)
    , m_statusFile(statusFile)
    , m_auth(auth)
    , m_walk(walk)
    , m_send(std::move(send))
    , m_walkDone(std::move(walkDone))
{ }

const RequestSteps::Row *RequestSteps::rowOf(int step)
{
    for (const Row &row : ROWS) {
        if (row.step == step)
            return &row;
    }
    return nullptr;
}

void RequestSteps::askAuthorization(qint64 retryMs)
{
    ask(*rowOf(REQ_AUTH), retryMs);
}

void RequestSteps::actOnStep()
{
    m_state.askAgain = false;
    const Row *row = rowOf(m_state.step);
    if (row && row->inWalk) {
        const bool due
            = row->ids ? !(m_walk.*row->ids)().isEmpty() : (!row->due || (this->*row->due)());
        if (due)
            ask(*row, row->retryMs);
        else
            m_state.step = row->next;
        return;
    }
    if (m_state.step == REQ_FILE)
        m_state.step = WAITING;
    m_state.pendingWaitMs = SessionState::IDLE_WAIT_MS;
}

void RequestSteps::ask(const Row &row, qint64 retryMs)
{
    // The retry time is stored before the request goes out, so an answer that
    // clears it is never overwritten.
    m_state.nextActionMs = Clock::nowMs() + retryMs;
    m_state.lastTrafficMs = Clock::nowMs();
    const QByteArray id = row.ids ? (m_walk.*row.ids)().first() : QByteArray();
    QByteArray frame;
    if (row.frame)
        frame = (this->*row.frame)();
    else if (row.ids)
        frame = BuildData::buildPackage(m_sequence.next(), row.protocol, row.command, FLAGS, id);
    else
        frame = BuildData::buildPackage(m_sequence.next(), row.protocol, row.command, FLAGS);
    const bool quiet = row.quietWhileRefused && m_auth.repeatingRefusal();
    m_send(frame, row.waitMs);
    if (!quiet) {
        QString line = QStringLiteral("Request protocol=%1, command=%2, request %3")
                           .arg(row.protocol)
                           .arg(row.command)
                           .arg(QLatin1String(row.what));
        if (row.tail == Row::Length)
            line += QStringLiteral(", length=%1").arg(frame.size());
        else if (row.tail == Row::Id)
            line += QString::fromLatin1(id);
        DailyLog::write(QStringLiteral("DEBUG"), QStringLiteral("TCP"), line);
    }
    m_state.step = row.step;
}

bool RequestSteps::dispatch(
    unsigned short protocol, unsigned short command, const QByteArray &frame)
{
    for (const Row &row : ROWS) {
        if (row.protocol != protocol || row.command != command)
            continue;
        if (row.replyAtAnyStep || m_state.step == row.step) {
            QByteArray payload;
            if (row.walkReply)
                applyWalkMove((m_walk.*row.walkReply)(frame));
            else if (!row.verified)
                (this->*row.onReply)(row, frame);
            else if (verifiedPayload(frame, payload))
                (this->*row.onReply)(row, payload);
            else
                m_state.nextActionMs = 0; // asked again at the next pass
        }
        return true;
    }
    return false;
}

bool RequestSteps::askAgainDue() const
{
    return m_state.askAgain && m_state.status == AUTHORIZED
        && m_state.nextActionMs <= Clock::nowMs();
}

bool RequestSteps::syncDue() const
{
    return Clock::nowMs() - m_state.lastSyncMs > SYNC_PERIOD_MS;
}

QByteArray RequestSteps::authFrame() const
{
    return BuildData::getAuthData(
        m_sequence.forAuthorization(), *m_settings.runner, m_settings.terminalId, m_settings.mac);
}

void RequestSteps::onAuthResult(const Row &row, const QByteArray &frame)
{
    const unsigned int status = LeBytes::read32(frame, 30);
    m_state.status = static_cast<int>(status);
    m_auth.onResult(m_state.status, Clock::nowMs());
    // A conflict asks again with the new id; a refusal at the next pass.
    if (status == AUTHORIZED)
        m_state.step = row.next;
    m_state.nextActionMs = 0;
}

void RequestSteps::onConfig(const Row &row, const QByteArray &payload)
{
    ServerConfig &config = m_state.serverConfig;
    readServerConfig(payload, config);
    const int port = config.serverPort;
    if (!config.serverIp.isEmpty() && !TerminalStatus::isUsablePort(port)) {
        // An address without a usable port would cut the terminal off from
        // every server: keep the one it has.
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
            QStringLiteral("Refuse server address %1 with port %2 of the configuration; "
                           "keep %3:%4")
                .arg(config.serverIp)
                .arg(port)
                .arg(m_settings.connIp.get(), m_settings.connPort.get()));
        m_statusFile.writeServerConfig(
            m_settings.connIp, m_settings.connPort.get().toInt(), config.rtdaHost, config.rtdaPort);
    } else if (!config.serverIp.isEmpty()) {
        // The open connection stays; the next connect uses the new address.
        m_settings.connIp = config.serverIp;
        m_settings.connPort = QString::number(port);
        m_statusFile.writeServerConfig(config.serverIp, port, config.rtdaHost, config.rtdaPort);
    }
    m_settings.logUrl = QStringLiteral("http://%1:%2").arg(config.logIp).arg(config.logPort);
    m_state.step = row.next;
    m_state.nextActionMs = 0;
}

void RequestSteps::onServerTime(const Row &row, const QByteArray &payload)
{
    SystemClock::setFromServer(*m_settings.runner, payload, m_settings.sudoPassword);
    m_state.lastSyncMs = Clock::nowMs();
    m_statusFile.writeSyncTime(m_state.lastSyncMs);
    // With content in place the step stays; the fresh sync moves the loop on.
    if (!m_state.contentReady)
        m_state.step = row.next;
    m_state.nextActionMs = 0;
}

void RequestSteps::applyWalkMove(const ContentWalk::Move &move)
{
    m_state.step = move.step;
    // A reply that could not be stored is asked for again after the retry
    // period, not on the next pass.
    m_state.nextActionMs
        = move.retryLater ? qMax(m_state.nextActionMs, Clock::nowMs() + REQUEST_RETRY_MS) : 0;
    m_state.askAgain = move.retryLater;
    if (move.contentReady)
        m_state.contentReady = true;
    if (move.idleWait)
        m_state.pendingWaitMs = SessionState::IDLE_WAIT_MS;
    // The walk is done: files already in may complete the playbill at once.
    if (move.walkDone)
        m_walkDone();
}
