#include "link/serversession.h"

#include "clock.h"
#include "content/downloadthread.h"
#include "link/linktransport.h"
#include "miscfunc.h"
#include "net/playernotices.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"
#include "requests/systemclock.h"
#include "settings/servicesettings.h"

#include <climits>

using namespace ServerProtocol;

namespace {
void logTcp(const QString &level, const QString &message)
{
    MiscFunc::writeLog(level, QStringLiteral("TCP"), message);
}
} // namespace

ServerSession::ServerSession(ServiceSettings &settings, const QString &statusPath, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_statusFile(statusPath, m_settings)
    , m_auth(m_settings, m_statusFile)
    , m_power(m_settings)
    , m_requests(m_settings, m_statusFile, m_walk, m_power)
    , m_timer(this)
    , m_pollTimer(this)
    , m_downloadTimer(this)
    , m_offThread(this)
{
    setUpTimers();
    loadSettings();
}

ServerSession::ServerSession(ServiceSettings &settings, const SessionSettings &stored,
    const QString &statusPath, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_statusFile(statusPath, m_settings)
    , m_auth(m_settings, m_statusFile)
    , m_power(m_settings)
    , m_requests(m_settings, m_statusFile, m_walk, m_power)
    , m_timer(this)
    , m_pollTimer(this)
    , m_downloadTimer(this)
    , m_offThread(this)
{
    setUpTimers();
    applySettings(stored);
}

void ServerSession::setUpTimers()
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ServerSession::onTimer);
    m_pollTimer.setInterval(POLL_MS);
    connect(&m_pollTimer, &QTimer::timeout, this, &ServerSession::slot_handleTimeout);
    m_downloadTimer.setInterval(DOWNLOAD_POLL_MS);
    connect(&m_downloadTimer, &QTimer::timeout, this, &ServerSession::slot_handleDownloadTimeout);
}

ServerSession::~ServerSession()
{
    m_stopRequested = true;
    if (m_transport) {
        m_transport->disconnect(this);
        m_transport->abort();
    }
}

qint64 ServerSession::now() const
{
    return Clock::nowMs();
}

void ServerSession::loadSettings()
{
    applySettings(m_statusFile.checkStatus());
}

void ServerSession::applySettings(const SessionSettings &stored)
{
    m_requests.load(stored.volume, stored.clearType);
    m_lastSyncMs = stored.lastSyncMs;
    // What the file says about the last status does not steer the session.
    m_status = NOT_CONNECTED;
}

void ServerSession::setFileRecorder(std::function<void(const QString &)> recorder)
{
    m_walk.setFileRecorder(std::move(recorder));
}

void ServerSession::setDownloadThread(DownloadThread *thread)
{
    if (m_downloadThread)
        m_downloadThread->disconnect(this);
    m_downloadThread = thread;
    if (thread) {
        connect(thread, &DownloadThread::sigDownloaded, this,
            &ServerSession::slot_handleDownloadTimeout, Qt::QueuedConnection);
    }
}

void ServerSession::slot_handleTimeout()
{
    if (!m_stopRequested)
        m_power.tick();
}

void ServerSession::slot_handleDownloadTimeout()
{
    if (!m_downloadThread || m_stopRequested)
        return;
    const ContentWalk::HandOver result = m_walk.handOver(
        *m_downloadThread, m_serverConfig.httpIp, m_serverConfig.httpPort, m_step);
    if (result.completed > 0)
        m_nextActionMs = 0;
    if (result.switched) {
        PlayerNotices::post(QStringLiteral("RELOAD"), QString());
        m_contentReady = true;
        MiscFunc::writeLog(QStringLiteral("INFO"), QStringLiteral("RUN"),
            QStringLiteral("Notify player reload playbill"));
        emit sigStateChanged();
    }
}

void ServerSession::setTransport(LinkTransport *transport)
{
    m_transport = transport;
}

void ServerSession::start()
{
    m_nextActionMs = now();
    m_power.readPowerOnOff();
    if (!m_transport)
        m_transport = new TcpTransport(this);
    connect(m_transport, &LinkTransport::readyRead, this, &ServerSession::slot_readData);
    connect(m_transport, &LinkTransport::connected, this, &ServerSession::slot_connected);
    connect(m_transport, &LinkTransport::disconnected, this, &ServerSession::slot_disconnected);
    connect(m_transport, &LinkTransport::errorOccurred, this, &ServerSession::slot_error);
    m_lastTrafficMs = now();
    m_pollTimer.start();
    m_downloadTimer.start();
    armAt(now());
}

void ServerSession::quitThread()
{
    m_stopRequested = true;
    m_timer.stop();
    m_pollTimer.stop();
    m_downloadTimer.stop();
}

void ServerSession::resetThread()
{
    loadSettings();
    if (m_connected && m_transport) {
        m_transport->disconnectFromServer();
        m_connected = false;
    }
    m_status = NOT_CONNECTED;
    m_contentReady = false;
    m_receiver.dropHeld();
    m_lastTrafficMs = now();
    m_pendingWaitMs = 0;
    m_nextActionMs = now();
    m_wait = WaitKind::None;
    m_resume = Resume::None;
    armAt(now());
}

// --- scheduling of passes ---

void ServerSession::armAt(qint64 atMs)
{
    m_wakeAtMs = atMs;
    // Wake at least once a second so a moved clock is noticed.
    m_timer.start(static_cast<int>(qBound<qint64>(0, atMs - now(), PASS_SLEEP_MS)));
}

void ServerSession::onTimer()
{
    if (m_stopRequested)
        return;
    if (now() < m_wakeAtMs) {
        armAt(m_wakeAtMs);
        return;
    }
    m_wait = WaitKind::None;
    pass();
    emit sigStateChanged();
}

void ServerSession::runPassNow()
{
    m_timer.stop();
    m_wait = WaitKind::None;
    pass();
    emit sigStateChanged();
}

void ServerSession::sleepFor(qint64 ms)
{
    m_wait = WaitKind::None;
    armAt(now() + ms);
}

void ServerSession::waitFor(WaitKind kind, qint64 ms, Resume resume)
{
    m_wait = kind;
    m_resume = resume;
    // Nothing can arrive on a closed link: the wait ends at once.
    armAt(kind == WaitKind::Data && !m_connected ? now() : now() + ms);
}

void ServerSession::endWait(WaitKind kind)
{
    if (m_wait == WaitKind::None || (kind != WaitKind::None && m_wait != kind))
        return;
    m_wait = WaitKind::None;
    armAt(now());
}

// --- the loop ---

void ServerSession::pass()
{
    if (m_stopRequested)
        return;
    if (m_handling) {
        // A handler is running an event loop of its own (CPU sample): come back.
        armAt(now() + 50);
        return;
    }
    switch (std::exchange(m_resume, Resume::None)) {
    case Resume::ToStep4:
        passFromStep4();
        return;
    case Resume::ClearPendingThenSleep:
        m_pendingWaitMs = 0;
        sleepFor(PASS_SLEEP_MS);
        return;
    case Resume::SleepAfterWait:
        sleepFor(PASS_SLEEP_MS);
        return;
    case Resume::None:
        break;
    }

    if (m_receiver.holding()) {
        if (now() < m_receiver.holdDeadline()) {
            waitFor(WaitKind::Data, FrameReceiver::HOLD_MS, Resume::ToStep4);
            return;
        }
        m_receiver.dropHeld(); // the rest of that frame never came
        passFromStep4();
        return;
    }

    if (!m_sendQueue.isEmpty()) {
        writeFrame(m_sendQueue.takeFirst());
        m_pendingWaitMs = IDLE_WAIT_MS;
        if (!m_sendQueue.isEmpty()) {
            // More answers are waiting: they go out a pass apart, not one per
            // 80 s of silence from the server.
            sleepFor(PASS_SLEEP_MS);
            return;
        }
        if (!m_contentReady) {
            waitFor(WaitKind::Data, IDLE_WAIT_MS, Resume::ClearPendingThenSleep);
            return;
        }
        passFromStep3();
        return;
    }
    if (m_contentReady)
        passFromStep3();
    else
        passFromStep4();
}

void ServerSession::passFromStep3()
{
    // A reply that could not be stored is asked for again once its retry
    // period is over, before the link goes back to idling on heartbeats.
    if (askAgainDue()) {
        passFromStep4();
        return;
    }
    if (m_status == AUTHORIZED && now() - m_lastTrafficMs > HEARTBEAT_AFTER_MS) {
        logTcp(QStringLiteral("DEBUG"), QStringLiteral("Send active heartbeat 00 00 00 00"));
        if (!writeFrame(BuildData::ACTIVE_HEARTBEAT)) {
            m_status = NOT_CONNECTED;
            m_receiver.dropHeld();
            m_pendingWaitMs = 0;
            m_transport->disconnectFromServer();
            m_transport->close();
            sleepFor(PASS_SLEEP_MS);
            return;
        }
        m_lastTrafficMs = now();
        waitFor(WaitKind::Data, IDLE_WAIT_MS, Resume::ToStep4);
        return;
    }
    passFromStep4();
}

void ServerSession::passFromStep4()
{
    if (m_pendingWaitMs > 0 && m_sendQueue.isEmpty() && !askAgainDue()) {
        waitFor(WaitKind::Data, m_pendingWaitMs, Resume::ClearPendingThenSleep);
        return;
    }
    if (m_nextActionMs > now()) {
        sleepFor(PASS_SLEEP_MS);
        return;
    }
    actOnStatus();
    // A request that waits for its answer continues when the wait ends.
    if (m_wait == WaitKind::None)
        sleepFor(PASS_SLEEP_MS);
}

void ServerSession::actOnStatus()
{
    // The retry time is stored before the request goes out, so an answer that
    // clears it is never overwritten.
    switch (m_status) {
    case NOT_CONNECTED:
        m_nextActionMs = now() + CONNECT_RETRY_MS;
        sendCommand(START);
        break;
    case HANDSHAKING:
        sendCommand(INNER_HANDSHAKE);
        m_nextActionMs = now() + HANDSHAKE_RETRY_MS;
        break;
    case CONNECTED:
    case ID_CONFLICT:
        m_nextActionMs = now() + AUTH_RETRY_MS;
        sendCommand(REQ_AUTH);
        break;
    case UNAUTHORIZED:
        m_nextActionMs = now() + UNAUTHORIZED_RETRY_MS;
        sendCommand(REQ_AUTH);
        break;
    case AUTHORIZED:
        actOnStep();
        break;
    default: // EXCEED_AUTH_COUNT and unknown values: stay silent
        break;
    }
}

bool ServerSession::askAgainDue() const
{
    return m_askAgain && m_status == AUTHORIZED && m_nextActionMs <= now();
}

void ServerSession::actOnStep()
{
    m_askAgain = false;
    switch (m_step) {
    case REQ_CONFIG:
        m_nextActionMs = now() + REQUEST_RETRY_MS;
        sendCommand(REQ_CONFIG);
        break;
    case SYNC_TIME:
        if (now() - m_lastSyncMs > SYNC_PERIOD_MS) {
            m_nextActionMs = now() + REQUEST_RETRY_MS;
            sendCommand(SYNC_TIME);
        } else {
            m_step = REQ_SCHEDULE;
        }
        break;
    case REQ_SCHEDULE:
        m_nextActionMs = now() + SCHEDULE_RETRY_MS;
        sendCommand(REQ_SCHEDULE);
        break;
    case REQ_TPL:
        if (m_walk.tplIds().isEmpty()) {
            m_step = REQ_ZONE;
        } else {
            m_nextActionMs = now() + REQUEST_RETRY_MS;
            sendCommand(REQ_TPL);
        }
        break;
    case REQ_ZONE:
        if (m_walk.zoneIds().isEmpty()) {
            m_step = REQ_FILE;
        } else {
            m_nextActionMs = now() + REQUEST_RETRY_MS;
            sendCommand(REQ_ZONE);
        }
        break;
    case REQ_FILE:
        m_step = WAITING;
        m_pendingWaitMs = IDLE_WAIT_MS;
        break;
    default:
        m_pendingWaitMs = IDLE_WAIT_MS;
        break;
    }
}

bool ServerSession::writeFrame(const QByteArray &frame)
{
    return m_transport && m_transport->send(frame);
}

void ServerSession::sendRequest(const QByteArray &frame, qint64 waitMs, const QString &logLine)
{
    writeFrame(frame);
    waitFor(WaitKind::Data, waitMs, Resume::SleepAfterWait);
    if (!logLine.isEmpty())
        logTcp(QStringLiteral("DEBUG"), logLine);
}

void ServerSession::sendCommand(int step)
{
    if (step == REQ_FILE) {
        m_step = step;
        return;
    }
    m_lastTrafficMs = now();
    switch (step) {
    case START:
        // A connection that never got the server's handshake is dropped and
        // made anew, so a silent server cannot hold the session.
        if (!m_transport->isUnconnected())
            m_transport->abort();
        m_connected = false;
        m_transport->connectToServer(
            m_settings.connIp, static_cast<quint16>(m_settings.connPort.get().toUInt()));
        waitFor(WaitKind::Connect, CONNECT_WAIT_MS, Resume::SleepAfterWait);
        break;
    case INNER_HANDSHAKE:
        writeFrame(BuildData::getInnerHandshake());
        m_status = CONNECTED;
        m_nextActionMs = 0;
        break;
    case REQ_AUTH: {
        const QByteArray frame
            = BuildData::getAuthData(*m_settings.runner, m_settings.terminalId, m_settings.mac);
        // A request that repeats a refused one is summed up by the authorization.
        sendRequest(frame, 6000,
            m_auth.repeatingRefusal()
                ? QString()
                : QStringLiteral("Request protocol=273, command=1, request authorization, "
                                 "length=%1")
                      .arg(frame.size()));
        break;
    }
    case REQ_CONFIG: {
        const QByteArray frame
            = BuildData::buildPackage(NEXT_SEQUENCE, PROTO_SESSION, CMD_CONFIG, FLAGS);
        sendRequest(frame, 6000,
            QStringLiteral("Request protocol=273, command=100, request config, length=%1")
                .arg(frame.size()));
        break;
    }
    case SYNC_TIME:
        sendRequest(BuildData::buildPackage(NEXT_SEQUENCE, PROTO_SESSION, CMD_SERVER_TIME, FLAGS),
            5000, QStringLiteral("Request protocol=273, command=102, request server time"));
        break;
    case REQ_SCHEDULE:
        sendRequest(BuildData::buildPackage(NEXT_SEQUENCE, PROTO_CONTENT, CMD_DAY_SCHEDULE, FLAGS),
            6000, QStringLiteral("Request protocol=257, command=5, request play schedule"));
        break;
    case REQ_TPL: {
        if (m_walk.tplIds().isEmpty())
            return;
        const QByteArray id = m_walk.tplIds().first();
        sendRequest(
            BuildData::buildPackage(NEXT_SEQUENCE, PROTO_CONTENT, CMD_TEMPLATE_LIST, FLAGS, id),
            5000,
            QStringLiteral("Request protocol=257, command=6, request tplId=")
                + QString::fromLatin1(id));
        break;
    }
    case REQ_ZONE: {
        if (m_walk.zoneIds().isEmpty())
            return;
        const QByteArray id = m_walk.zoneIds().first();
        sendRequest(BuildData::buildPackage(NEXT_SEQUENCE, PROTO_CONTENT, CMD_ZONE, FLAGS, id),
            5000,
            QStringLiteral("Request protocol=257, command=7, request zoneId=")
                + QString::fromLatin1(id));
        break;
    }
    default:
        break;
    }
    m_step = step;
}

// --- connection events ---

void ServerSession::slot_connected()
{
    m_connected = true;
    logTcp(QStringLiteral("INFO"),
        QStringLiteral("Tcp connected to %1:%2")
            .arg(m_settings.connIp.get(), m_settings.connPort.get()));
    // The server speaks first (its inner handshake); until it does, the loop
    // sleeps, and a server silent for the whole connect period is left for a
    // fresh connection.
    endWait(WaitKind::Connect);
    emit sigStateChanged();
}

void ServerSession::slot_disconnected()
{
    m_receiver.dropHeld();
    m_status = NOT_CONNECTED;
    m_connected = false;
    m_pendingWaitMs = 0;
    // Answers belong to the connection that asked: the next one starts with
    // its handshake, not with them.
    m_sendQueue.clear();
    ++m_linkGeneration;
    logTcp(QStringLiteral("INFO"),
        QStringLiteral("Tcp disconnected from %1:%2")
            .arg(m_settings.connIp.get(), m_settings.connPort.get()));
    endWait(WaitKind::None);
    emit sigStateChanged();
}

void ServerSession::slot_error(QAbstractSocket::SocketError error)
{
    m_transport->close();
    logTcp(QStringLiteral("INFO"), QStringLiteral("Disconnected by error: %1").arg(int(error)));
    endWait(WaitKind::Connect);
    emit sigStateChanged();
}

// --- receiving ---

void ServerSession::slot_readData()
{
    if (m_handling || !m_transport)
        return; // picked up when the running handler returns
    m_handling = true;
    m_lastTrafficMs = now();
    m_receiver.setQuiet(m_auth.repeatingRefusal());
    const FrameReceiver::Result result = m_receiver.feed(m_transport->readAll(), now());
    if (result.heartbeatOnly) {
        m_pendingWaitMs = IDLE_WAIT_MS;
        if (result.activeHeartbeat)
            m_sendQueue.push(BuildData::RESP_HEARTBEAT);
    }
    for (const QByteArray &frame : result.frames)
        handleFrame(frame);
    m_requests.storeSettings();
    m_handling = false;
    if (m_transport->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ServerSession::slot_readData, Qt::QueuedConnection);
    endWait(WaitKind::Data);
    emit sigStateChanged();
}

void ServerSession::handleFrame(const QByteArray &frame)
{
    if (FrameReceiver::isInnerHandshake(frame)) {
        logTcp(QStringLiteral("DEBUG"), QStringLiteral("Receive inner handshake and response"));
        m_status = HANDSHAKING;
        m_nextActionMs = 0;
        return;
    }
    const unsigned short protocol = protocolOf(frame);
    const unsigned short command = commandOf(frame);
    const unsigned short kind = ServerRequests::answerKind(protocol, command);
    if (repeatedRequest(kind, command))
        return;
    if (!(protocol == PROTO_SESSION && command == CMD_AUTH && m_auth.repeatingRefusal()))
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Received protocol=%1, command=%2").arg(protocol).arg(command));

    switch (protocol) {
    case PROTO_SESSION:
        if (command == CMD_AUTH && m_step == REQ_AUTH)
            handleAuthResult(MiscFunc::readLe32(frame, 30));
        else if (command == CMD_CONFIG && m_step == REQ_CONFIG)
            handleConfig(frame);
        else if (command == CMD_SERVER_TIME && m_step == SYNC_TIME)
            handleServerTime(frame);
        break;
    case PROTO_CONTENT:
        if (command == CMD_DAY_SCHEDULE)
            applyWalkMove(m_walk.onSchedule(frame));
        else if (command == CMD_TEMPLATE_LIST && m_step == REQ_TPL)
            applyWalkMove(m_walk.onTemplateList(frame));
        else if (command == CMD_ZONE && m_step == REQ_ZONE)
            applyWalkMove(m_walk.onZone(frame));
        break;
    case PROTO_CONTROL:
    case PROTO_CONTENT_PUSH:
        applyRequestOutcome(m_requests.handle(protocol, command, frame), kind);
        break;
    default:
        break;
    }
}

bool ServerSession::repeatedRequest(unsigned short kind, unsigned short command)
{
    // A request asked again before its answer left is answered once. A flood
    // of them is logged at the 1st, 10th, 100th... repeat, not line by line.
    if (!m_sendQueue.busy(kind)) {
        m_repeatedRequests.remove(kind);
        return false;
    }
    const int times = ++m_repeatedRequests[kind];
    int mark = 1;
    while (mark < times && mark <= INT_MAX / 10)
        mark *= 10;
    if (times == mark)
        logTcp(QStringLiteral("INFO"),
            QStringLiteral("Request %1 again while its answer is on its way: answered once "
                           "(repeat %2)")
                .arg(command)
                .arg(times));
    return true;
}

void ServerSession::handleAuthResult(unsigned int status)
{
    m_status = static_cast<int>(status);
    m_auth.onResult(m_status, now());
    // A conflict asks again with the new id; a refusal at the next pass.
    if (status == AUTHORIZED)
        m_step = REQ_CONFIG;
    m_nextActionMs = 0;
}

void ServerSession::handleConfig(const QByteArray &frame)
{
    QByteArray payload;
    if (!verifiedPayload(frame, payload)) {
        m_nextActionMs = 0;
        return;
    }
    readServerConfig(payload, m_serverConfig);
    const int port = m_serverConfig.serverPort;
    if (!m_serverConfig.serverIp.isEmpty() && !TerminalStatus::isUsablePort(port)) {
        // An address without a usable port would cut the terminal off from
        // every server: keep the one it has.
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("TCP"),
            QStringLiteral("Refuse server address %1 with port %2 of the configuration; "
                           "keep %3:%4")
                .arg(m_serverConfig.serverIp)
                .arg(port)
                .arg(m_settings.connIp.get(), m_settings.connPort.get()));
        m_statusFile.writeServerConfig(m_settings.connIp, m_settings.connPort.get().toInt(),
            m_serverConfig.rtdaHost, m_serverConfig.rtdaPort);
    } else if (!m_serverConfig.serverIp.isEmpty()) {
        // The open connection stays; the next connect uses the new address.
        m_settings.connIp = m_serverConfig.serverIp;
        m_settings.connPort = QString::number(port);
        m_statusFile.writeServerConfig(
            m_serverConfig.serverIp, port, m_serverConfig.rtdaHost, m_serverConfig.rtdaPort);
    }
    m_settings.logUrl
        = QStringLiteral("http://%1:%2").arg(m_serverConfig.logIp).arg(m_serverConfig.logPort);
    m_step = SYNC_TIME;
    m_nextActionMs = 0;
}

void ServerSession::handleServerTime(const QByteArray &frame)
{
    QByteArray payload;
    if (!verifiedPayload(frame, payload)) {
        m_nextActionMs = 0;
        return;
    }
    SystemClock::setFromServer(*m_settings.runner, payload, m_settings.sudoPassword);
    m_lastSyncMs = now();
    m_statusFile.writeSyncTime(m_lastSyncMs);
    // With content in place the step stays; the fresh sync moves the loop on.
    if (!m_contentReady)
        m_step = REQ_SCHEDULE;
    m_nextActionMs = 0;
}

void ServerSession::applyWalkMove(const ContentWalk::Move &move)
{
    m_step = move.step;
    // A reply that could not be stored is asked for again after the retry
    // period, not on the next pass.
    m_nextActionMs = move.retryLater ? qMax(m_nextActionMs, now() + REQUEST_RETRY_MS) : 0;
    m_askAgain = move.retryLater;
    if (move.contentReady)
        m_contentReady = true;
    if (move.idleWait)
        m_pendingWaitMs = IDLE_WAIT_MS;
    // The walk is done: files already in may complete the playbill at once.
    if (move.walkDone)
        QMetaObject::invokeMethod(
            this, &ServerSession::slot_handleDownloadTimeout, Qt::QueuedConnection);
}

void ServerSession::applyRequestOutcome(const ServerRequests::Outcome &outcome, unsigned short kind)
{
    if (!m_connected) {
        // The link dropped while the handler ran (the CPU sample waits 2 s):
        // its answers have nowhere to go, and nothing is to be waited for.
        if (!outcome.answers.isEmpty() || !outcome.deferred.isEmpty())
            logTcp(QStringLiteral("INFO"),
                QStringLiteral("Drop answers to a request: the link closed meanwhile"));
        if (outcome.restartWalk)
            restartContentWalk();
        return;
    }
    for (const QByteArray &answer : outcome.answers)
        m_sendQueue.push(answer, kind);
    for (const ServerRequests::Deferred &request : outcome.deferred)
        startDeferred(request, kind);
    if (outcome.restartWalk)
        restartContentWalk();
    if (outcome.idleWait)
        m_pendingWaitMs = IDLE_WAIT_MS;
}

void ServerSession::startDeferred(const ServerRequests::Deferred &request, unsigned short kind)
{
    const quint64 link = m_linkGeneration;
    const unsigned short command = request.command;
    const QByteArray echo = request.echo;
    m_sendQueue.startWork(kind);
    m_offThread.run(request.work, [this, link, command, echo, kind](const QByteArray &payload) {
        m_sendQueue.endWork(kind);
        if (link != m_linkGeneration || !m_connected) {
            logTcp(QStringLiteral("INFO"),
                QStringLiteral("Drop answer to request %1: its connection is gone").arg(command));
            return;
        }
        m_sendQueue.push(m_requests.answer(command, echo, payload), kind);
        // Out with the next pass, not after the current wait for the server.
        endWait(WaitKind::Data);
        emit sigStateChanged();
    });
}

void ServerSession::restartContentWalk()
{
    m_step = REQ_SCHEDULE;
    m_nextActionMs = 0;
    m_pendingWaitMs = 0;
    m_sendQueue.clear();
    m_walk.forgetDoneFiles();
}
