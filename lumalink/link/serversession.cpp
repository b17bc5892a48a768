#include "link/serversession.h"

#include "clock.h"
#include "content/downloadthread.h"
#include "dailylog.h"
#include "link/linktransport.h"
#include "net/playernotices.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"
#include "settings/servicesettings.h"

using namespace ServerProtocol;

namespace {
void logTcp(const QString &level, const QString &message)
{
    DailyLog::write(level, QStringLiteral("TCP"), message);
}
} // namespace

ServerSession::ServerSession(QObject *parent, ServiceSettings &settings, const QString &statusPath)
    : QObject(parent)
    , m_settings(settings)
    , m_statusFile(statusPath, m_settings)
    , m_auth(m_settings, m_statusFile)
    , m_power(m_settings)
    , m_requests(m_settings, m_sequence, m_statusFile, m_walk, m_power)
    , m_steps(
          m_state, m_settings, m_sequence, m_statusFile, m_auth, m_walk,
          [this](const QByteArray &frame, qint64 waitMs) { m_loop.sendRequest(frame, waitMs); },
          [this] {
              QMetaObject::invokeMethod(
                  this, &ServerSession::slot_handleDownloadTimeout, Qt::QueuedConnection);
          })
    , m_passes([this] { onPassDue(); }, this)
    , m_pollTimer(this)
    , m_downloadTimer(this)
    , m_answers(
          m_state, m_requests, this, [this] { restartContentWalk(); },
          [this] {
              m_passes.endWait(WaitKind::Data);
              emit sigStateChanged();
          })
    , m_loop(m_state, m_settings, m_passes, m_receiver, m_answers.queue(), m_steps,
          [this] { return m_handling; })
{
    setUpTimers();
}

ServerSession::ServerSession(ServiceSettings &settings, const QString &statusPath, QObject *parent)
    : ServerSession(parent, settings, statusPath)
{
    loadSettings();
}

ServerSession::ServerSession(ServiceSettings &settings, const SessionSettings &stored,
    const QString &statusPath, QObject *parent)
    : ServerSession(parent, settings, statusPath)
{
    applySettings(stored);
}

void ServerSession::setUpTimers()
{
    m_pollTimer.setInterval(POLL_MS);
    connect(&m_pollTimer, &QTimer::timeout, this, &ServerSession::slot_handleTimeout);
    m_downloadTimer.setInterval(DOWNLOAD_POLL_MS);
    connect(&m_downloadTimer, &QTimer::timeout, this, &ServerSession::slot_handleDownloadTimeout);
}

ServerSession::~ServerSession()
{
    m_stopRequested = true;
    m_passes.stop();
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
    applySettings(m_statusFile.reloadForSession());
}

void ServerSession::applySettings(const SessionSettings &stored)
{
    m_requests.load(stored.volume, stored.clearType);
    m_state.lastSyncMs = stored.lastSyncMs;
    // What the file says about the last status does not steer the session.
    m_state.status = NOT_CONNECTED;
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
    const ContentWalk::HandOver result = m_walk.handOver(*m_downloadThread,
        m_state.serverConfig.httpIp, m_state.serverConfig.httpPort, m_state.step);
    if (result.completed > 0)
        m_state.nextActionMs = 0;
    if (result.switched) {
        PlayerNotices::post(QStringLiteral("RELOAD"), QString());
        m_state.contentReady = true;
        DailyLog::write(QStringLiteral("INFO"), QStringLiteral("RUN"),
            QStringLiteral("Notify player reload playbill"));
        emit sigStateChanged();
    }
}

void ServerSession::setTransport(LinkTransport *transport)
{
    m_transport = transport;
    m_loop.setTransport(transport);
}

void ServerSession::start()
{
    m_state.nextActionMs = now();
    m_power.readPowerOnOff();
    if (!m_transport)
        setTransport(new TcpTransport(this));
    connect(m_transport, &LinkTransport::readyRead, this, &ServerSession::slot_readData);
    connect(m_transport, &LinkTransport::connected, this, &ServerSession::slot_connected);
    connect(m_transport, &LinkTransport::disconnected, this, &ServerSession::slot_disconnected);
    connect(m_transport, &LinkTransport::errorOccurred, this, &ServerSession::slot_error);
    m_state.lastTrafficMs = now();
    m_pollTimer.start();
    m_downloadTimer.start();
    m_passes.armAt(now());
}

void ServerSession::stop()
{
    m_stopRequested = true;
    m_passes.stop();
    m_pollTimer.stop();
    m_downloadTimer.stop();
}

void ServerSession::restart()
{
    loadSettings();
    if (m_state.connected && m_transport) {
        m_transport->disconnectFromServer();
        m_state.connected = false;
    }
    m_state.status = NOT_CONNECTED;
    m_state.contentReady = false;
    m_receiver.dropHeld();
    m_state.lastTrafficMs = now();
    m_state.pendingWaitMs = 0;
    m_state.nextActionMs = now();
    m_passes.dropWait();
    m_passes.armAt(now());
}

void ServerSession::onPassDue()
{
    m_loop.pass();
    emit sigStateChanged();
}

void ServerSession::runPassNow()
{
    m_passes.stopTimer();
    m_passes.clearWait();
    m_loop.pass();
    emit sigStateChanged();
}

// --- connection events ---

void ServerSession::slot_connected()
{
    m_state.connected = true;
    logTcp(QStringLiteral("INFO"),
        QStringLiteral("Tcp connected to %1:%2")
            .arg(m_settings.connIp.get(), m_settings.connPort.get()));
    // The server speaks first (its inner handshake); until it does, the loop
    // sleeps, and a server silent for the whole connect period is left for a
    // fresh connection.
    m_passes.endWait(WaitKind::Connect);
    emit sigStateChanged();
}

void ServerSession::slot_disconnected()
{
    m_receiver.dropHeld();
    m_state.status = NOT_CONNECTED;
    m_state.connected = false;
    m_state.pendingWaitMs = 0;
    // Answers belong to the connection that asked: the next one starts with
    // its handshake, not with them.
    m_answers.dropConnection();
    logTcp(QStringLiteral("INFO"),
        QStringLiteral("Tcp disconnected from %1:%2")
            .arg(m_settings.connIp.get(), m_settings.connPort.get()));
    m_passes.endWait(WaitKind::None);
    emit sigStateChanged();
}

void ServerSession::slot_error(QAbstractSocket::SocketError error)
{
    m_transport->close();
    logTcp(QStringLiteral("INFO"), QStringLiteral("Disconnected by error: %1").arg(int(error)));
    m_passes.endWait(WaitKind::Connect);
    emit sigStateChanged();
}

// --- receiving ---

void ServerSession::slot_readData()
{
    if (m_handling || !m_transport)
        return; // picked up when the running handler returns
    m_handling = true;
    m_state.lastTrafficMs = now();
    m_receiver.setQuiet(m_auth.repeatingRefusal());
    const FrameReceiver::Result result = m_receiver.feed(m_transport->readAll(), now());
    if (result.heartbeatOnly) {
        m_state.pendingWaitMs = IDLE_WAIT_MS;
        if (result.activeHeartbeat)
            m_answers.queue().push(BuildData::RESP_HEARTBEAT);
    }
    for (const QByteArray &frame : result.frames)
        handleFrame(frame);
    m_requests.storeSettings();
    m_handling = false;
    if (m_transport->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ServerSession::slot_readData, Qt::QueuedConnection);
    m_passes.endWait(WaitKind::Data);
    emit sigStateChanged();
}

void ServerSession::handleFrame(const QByteArray &frame)
{
    if (FrameReceiver::isInnerHandshake(frame)) {
        logTcp(QStringLiteral("DEBUG"), QStringLiteral("Receive inner handshake and response"));
        m_state.status = HANDSHAKING;
        m_state.nextActionMs = 0;
        return;
    }
    const unsigned short protocol = protocolOf(frame);
    const unsigned short command = commandOf(frame);
    const unsigned short kind = ServerRequests::answerKind(protocol, command);
    if (m_answers.repeatedRequest(kind, command))
        return;
    if (!(protocol == PROTO_SESSION && command == CMD_AUTH && m_auth.repeatingRefusal()))
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Received protocol=%1, command=%2").arg(protocol).arg(command));

    // Replies to the session's own requests, else the server's requests.
    if (!m_steps.dispatch(protocol, command, frame)
        && (protocol == PROTO_CONTROL || protocol == PROTO_CONTENT_PUSH))
        m_answers.apply(m_requests.handle(protocol, command, frame), kind);
}

void ServerSession::restartContentWalk()
{
    m_state.step = REQ_SCHEDULE;
    m_state.nextActionMs = 0;
    m_state.pendingWaitMs = 0;
    m_answers.queue().clear();
    m_walk.forgetDoneFiles();
}
