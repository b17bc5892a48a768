#include "serversession.h"

#include "builddata.h"
#include "clock.h"
#include "downloadthread.h"
#include "globals.h"
#include "httpclient.h"
#include "logfile.h"
#include "miscfunc.h"
#include "workthread.h"

#include <QTcpSocket>

namespace {
void logTcp(const QString &level, const QString &message)
{
    MiscFunc::writeLog(level, QStringLiteral("TCP"), message);
}

// The first parameter of a server request, echoed in the answer.
QByteArray firstParam(const QByteArray &frame)
{
    const unsigned int size = MiscFunc::getLowerInt(frame, 22);
    return frame.mid(26, static_cast<int>(qMin<unsigned int>(size, 0x7FFFFFFF)));
}

// The payload handed to the content handlers: the first parameter's data onwards.
bool verifiedPayload(QByteArray frame, QByteArray &payload)
{
    if (PROCESSDATA::verifyPackage(frame) < 0)
        return false;
    payload = frame.mid(4);
    return true;
}
} // namespace

ServerSession::ServerSession(const QString &statusPath, QObject *parent)
    : QObject(parent)
    , m_statusFile(statusPath)
    , m_timer(this)
    , m_downloadTimer(this)
{
    setUpTimers();
    loadSettings();
}

ServerSession::ServerSession(const SessionSettings &settings, QObject *parent)
    : QObject(parent)
    , m_timer(this)
    , m_downloadTimer(this)
{
    setUpTimers();
    applySettings(settings);
}

void ServerSession::setUpTimers()
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ServerSession::onTimer);
    m_downloadTimer.setInterval(1000);
    connect(&m_downloadTimer, &QTimer::timeout, this, &ServerSession::slot_handleDownloadTimeout);
}

ServerSession::~ServerSession()
{
    m_stopRequested = true;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
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

void ServerSession::applySettings(const SessionSettings &settings)
{
    m_volume = settings.volume;
    m_clearType = settings.clearType;
    m_lastSyncMs = settings.lastSyncMs;
    // What the file says about the last status does not steer the session.
    m_status = NOT_CONNECTED;
}

void ServerSession::setFileRecorder(std::function<void(const QString &)> recorder)
{
    m_recordFile = std::move(recorder);
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

void ServerSession::slot_handleDownloadTimeout()
{
    if (!m_downloadThread || m_stopRequested)
        return;
    // Keep stepping while files complete, so the next one is handed over as
    // soon as the previous one is verified.
    for (;;) {
        const QString url = m_tracker.currentDownload;
        // The walk may still add lists and zones: no switch before it is done.
        const bool collecting = !m_tplIds.isEmpty() || !m_zoneIds.isEmpty()
            || m_step == REQ_SCHEDULE || m_step == REQ_TPL || m_step == REQ_ZONE;
        switch (m_tracker.step(
            *m_downloadThread, m_serverConfig.httpIp, m_serverConfig.httpPort, collecting)) {
        case DownloadTracker::Step::Completed:
            m_nextActionMs = 0;
            if (m_recordFile)
                m_recordFile(url);
            continue;
        case DownloadTracker::Step::Skipped:
            continue;
        case DownloadTracker::Step::Switched:
            HttpClient::notifyPlayerAsync(QStringLiteral("RELOAD"), QString());
            m_contentReady = true;
            MiscFunc::writeLog(QStringLiteral("INFO"), QStringLiteral("RUN"),
                QStringLiteral("Notify player reload playbill"));
            emit sigStateChanged();
            return;
        default:
            return;
        }
    }
}

void ServerSession::start()
{
    m_nextActionMs = now();
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    m_socket = new QTcpSocket(this);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_socket->abort();
    connect(m_socket, &QTcpSocket::readyRead, this, &ServerSession::slot_readData);
    connect(m_socket, &QTcpSocket::connected, this, &ServerSession::slot_connected);
    connect(m_socket, &QTcpSocket::disconnected, this, &ServerSession::slot_disconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &ServerSession::slot_error);
    m_lastTrafficMs = now();
    m_downloadTimer.start();
    armAt(now());
}

void ServerSession::quitThread()
{
    m_stopRequested = true;
    m_timer.stop();
    m_downloadTimer.stop();
}

void ServerSession::resetThread()
{
    loadSettings();
    if (m_connected && m_socket) {
        m_socket->disconnectFromHost();
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
    armAt(now() + ms);
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
    if (m_status == AUTHORIZED && now() - m_lastTrafficMs > HEARTBEAT_AFTER_MS) {
        logTcp(QStringLiteral("DEBUG"), QStringLiteral("Send active heartbeat 00 00 00 00"));
        if (!writeFrame(BuildData::ACTIVE_HEARTBEAT)) {
            m_status = NOT_CONNECTED;
            m_receiver.dropHeld();
            m_pendingWaitMs = 0;
            m_socket->disconnectFromHost();
            m_socket->close();
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
    if (m_pendingWaitMs > 0 && m_sendQueue.isEmpty()) {
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

void ServerSession::actOnStep()
{
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
        if (m_tplIds.isEmpty()) {
            m_step = REQ_ZONE;
        } else {
            m_nextActionMs = now() + REQUEST_RETRY_MS;
            sendCommand(REQ_TPL);
        }
        break;
    case REQ_ZONE:
        if (m_zoneIds.isEmpty()) {
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
    if (!m_socket)
        return false;
    const qint64 written = m_socket->write(frame);
    const bool flushed = m_socket->flush();
    return written > 0 && flushed;
}

void ServerSession::sendCommand(int step)
{
    if (step == REQ_FILE) {
        m_step = step;
        return;
    }
    m_lastTrafficMs = now();
    switch (step) {
    case START: {
        // A connection that never got the server's handshake is dropped and
        // made anew, so a silent server cannot hold the session.
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
        m_connected = false;
        m_socket->connectToHost(gConnIp, static_cast<quint16>(gConnPort.get().toUInt()),
            QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        waitFor(WaitKind::Connect, 6000, Resume::SleepAfterWait);
        break;
    }
    case INNER_HANDSHAKE:
        writeFrame(BuildData::getInnerHandshake());
        m_status = CONNECTED;
        m_nextActionMs = 0;
        break;
    case REQ_AUTH: {
        const QByteArray frame = BuildData::getAuthData(gTerminalId, gMac);
        writeFrame(frame);
        waitFor(WaitKind::Data, 6000, Resume::SleepAfterWait);
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Request protocol=273, command=1, request authorization, length=%1")
                .arg(frame.size()));
        break;
    }
    case REQ_CONFIG: {
        const QByteArray frame = BuildData::buildPackage(0, 273, 100, 1);
        writeFrame(frame);
        waitFor(WaitKind::Data, 6000, Resume::SleepAfterWait);
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Request protocol=273, command=100, request config, length=%1")
                .arg(frame.size()));
        break;
    }
    case SYNC_TIME:
        writeFrame(BuildData::buildPackage(0, 273, 102, 1));
        waitFor(WaitKind::Data, 5000, Resume::SleepAfterWait);
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Request protocol=273, command=102, request server time"));
        break;
    case REQ_SCHEDULE:
        writeFrame(BuildData::buildPackage(0, 257, 5, 1));
        waitFor(WaitKind::Data, 6000, Resume::SleepAfterWait);
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Request protocol=257, command=5, request play schedule"));
        break;
    case REQ_TPL:
        if (m_tplIds.isEmpty())
            return;
        writeFrame(BuildData::buildPackage(0, 257, 6, 1, m_tplIds.first()));
        waitFor(WaitKind::Data, 5000, Resume::SleepAfterWait);
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Request protocol=257, command=6, request tplId=")
                + QString::fromLatin1(m_tplIds.first()));
        break;
    case REQ_ZONE:
        if (m_zoneIds.isEmpty())
            return;
        writeFrame(BuildData::buildPackage(0, 257, 7, 1, m_zoneIds.first()));
        waitFor(WaitKind::Data, 5000, Resume::SleepAfterWait);
        logTcp(QStringLiteral("DEBUG"),
            QStringLiteral("Request protocol=257, command=7, request zoneId=")
                + QString::fromLatin1(m_zoneIds.first()));
        break;
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
        QStringLiteral("Tcp connected to %1:%2").arg(gConnIp.get(), gConnPort.get()));
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
    logTcp(QStringLiteral("INFO"),
        QStringLiteral("Tcp disconnected from %1:%2").arg(gConnIp.get(), gConnPort.get()));
    endWait(WaitKind::None);
    emit sigStateChanged();
}

void ServerSession::slot_error(QAbstractSocket::SocketError error)
{
    m_socket->close();
    logTcp(QStringLiteral("INFO"), QStringLiteral("Disconnected by error: %1").arg(int(error)));
    endWait(WaitKind::Connect);
    emit sigStateChanged();
}

// --- receiving ---

void ServerSession::slot_readData()
{
    if (m_handling || !m_socket)
        return; // picked up when the running handler returns
    m_handling = true;
    m_lastTrafficMs = now();
    const FrameReceiver::Result result = m_receiver.feed(m_socket->readAll(), now());
    if (result.heartbeatOnly) {
        m_pendingWaitMs = IDLE_WAIT_MS;
        if (result.activeHeartbeat)
            m_sendQueue.append(BuildData::RESP_HEARTBEAT);
    }
    for (const QByteArray &frame : result.frames)
        handleFrame(frame);
    m_handling = false;
    if (m_socket->bytesAvailable() > 0)
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
    const unsigned short protocol = MiscFunc::getLowerShort(frame, 8);
    const unsigned short command = MiscFunc::getLowerShort(frame, 10);
    logTcp(QStringLiteral("DEBUG"),
        QStringLiteral("Received protocol=%1, command=%2").arg(protocol).arg(command));

    if (protocol == 273) {
        if (command == 1 && m_step == REQ_AUTH)
            handleAuthResult(MiscFunc::getLowerInt(frame, 30));
        else if (command == 100 && m_step == REQ_CONFIG)
            handleConfig(frame);
        else if (command == 102 && m_step == SYNC_TIME)
            handleServerTime(frame);
    } else if (protocol == 257) {
        if (command == 5)
            handleSchedule(frame);
        else if (command == 6 && m_step == REQ_TPL)
            handleTemplateList(frame);
        else if (command == 7 && m_step == REQ_ZONE)
            handleZone(frame);
    } else if (protocol == 278) {
        handleServerRequest(command, frame);
        m_pendingWaitMs = IDLE_WAIT_MS;
    } else if (protocol == 276) {
        handleServerNotice(command, frame);
    }
}

void ServerSession::handleAuthResult(unsigned int status)
{
    m_status = static_cast<int>(status);
    if (status == ID_CONFLICT) {
        // Keep the first twelve characters and make the rest new.
        gTerminalId = gTerminalId.get().left(12)
            + QStringLiteral("%1").arg(now() % 1000, 3, 10, QLatin1Char('0'));
        m_nextActionMs = 0;
        return;
    }
    if (status == EXCEED_AUTH_COUNT) {
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("AUTH"),
            QStringLiteral("Exceed authorized amount of terminals"));
        m_nextActionMs = 0;
        return;
    }
    m_statusFile.writeTerminalStatus(gTerminalId, m_status);
    HttpClient::notifyPlayerAsync(QStringLiteral("STATUS"), QString::number(status));
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
    PROCESSDATA::processConfig(payload, m_serverConfig);
    if (!m_serverConfig.serverIp.isEmpty()) {
        // The open connection stays; the next connect uses the new address.
        gConnIp = m_serverConfig.serverIp;
        gConnPort = QString::number(m_serverConfig.serverPort);
        m_statusFile.writeServerConfig(m_serverConfig.serverIp, m_serverConfig.serverPort,
            m_serverConfig.rtdaHost, m_serverConfig.rtdaPort);
    }
    gLogUrl = QStringLiteral("http://%1:%2").arg(m_serverConfig.logIp).arg(m_serverConfig.logPort);
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
    PROCESSDATA::changeSysTime(payload);
    m_lastSyncMs = now();
    m_statusFile.writeSyncTime(m_lastSyncMs);
    // With content in place the step stays; the fresh sync moves the loop on.
    if (!m_contentReady)
        m_step = REQ_SCHEDULE;
    m_nextActionMs = 0;
}

void ServerSession::dropUnsafeIds(QList<QByteArray> &ids, const char *kind)
{
    for (int i = ids.size() - 1; i >= 0; --i) {
        if (PROCESSDATA::isSafeId(ids.at(i)))
            continue;
        MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("TCP"),
            QStringLiteral("Refuse %1 id \"%2\": not a plain file name")
                .arg(QLatin1String(kind), QString::fromLatin1(ids.at(i).toPercentEncoding())));
        ids.removeAt(i);
    }
}

void ServerSession::handleSchedule(const QByteArray &frame)
{
    m_step = REQ_SCHEDULE;
    QByteArray payload;
    if (!verifiedPayload(frame, payload)) {
        m_step = WAITING;
        m_nextActionMs = 0;
        return;
    }
    PROCESSDATA::writeDaySchedule(payload, true);
    m_tracker.restart();
    m_tplIds.clear();
    m_zoneIds.clear();
    PROCESSDATA::getDayScheduleTpl(payload, m_tplIds, m_zoneIds);
    dropUnsafeIds(m_tplIds, "template list");
    dropUnsafeIds(m_zoneIds, "zone");
    if (!m_tplIds.isEmpty()) {
        m_step = REQ_TPL;
        m_nextActionMs = 0;
    } else {
        m_step = WAITING;
        m_contentReady = true;
        m_nextActionMs = 0;
        m_pendingWaitMs = IDLE_WAIT_MS;
    }
}

void ServerSession::handleTemplateList(const QByteArray &frame)
{
    QByteArray payload;
    if (!verifiedPayload(frame, payload) || m_tplIds.isEmpty()) {
        m_step = WAITING;
        m_nextActionMs = 0;
        return;
    }
    const QByteArray id = m_tplIds.first();
    PROCESSDATA::writeTpl(id, payload);
    if (m_recordFile)
        m_recordFile(QString::fromLatin1(id));
    PROCESSDATA::getTpFile(payload, m_tracker.downloadFiles);
    m_tplIds.removeFirst();
    m_step = m_tplIds.isEmpty() ? REQ_ZONE : REQ_TPL;
    m_nextActionMs = 0;
}

void ServerSession::handleZone(const QByteArray &frame)
{
    QByteArray payload;
    if (!verifiedPayload(frame, payload) || m_zoneIds.isEmpty()) {
        m_step = WAITING;
        m_nextActionMs = 0;
        return;
    }
    const QByteArray id = m_zoneIds.first();
    PROCESSDATA::writeZone(id, payload);
    if (m_recordFile)
        m_recordFile(QString::fromLatin1(id));
    QByteArray stored;
    if (PROCESSDATA::readZoneXml(id, stored))
        PROCESSDATA::getZoneMaterialFile(stored, m_tracker.downloadFiles);
    m_zoneIds.removeFirst();
    m_step = m_zoneIds.isEmpty() ? REQ_FILE : REQ_ZONE;
    m_nextActionMs = 0;
    // The walk is done: files already in may complete the playbill at once.
    if (m_step == REQ_FILE)
        QMetaObject::invokeMethod(
            this, &ServerSession::slot_handleDownloadTimeout, Qt::QueuedConnection);
}

void ServerSession::queueAnswer(
    unsigned short command, const QByteArray &frame, const QByteArray &payload)
{
    queueEchoAnswer(command, firstParam(frame), payload);
}

void ServerSession::queueEchoAnswer(
    unsigned short command, const QByteArray &echo, const QByteArray &payload)
{
    const QList<QByteArray> params {gTerminalId.get().toUtf8(), QByteArray(), echo, payload};
    m_sendQueue.append(BuildData::buildPackage(0, 278, command, 1, params));
}

void ServerSession::handleServerRequest(unsigned short command, const QByteArray &frame)
{
    switch (command) {
    case 9: {
        QByteArray xml;
        PROCESSDATA::getEnvironmentInfo(xml, m_volume);
        queueAnswer(9, frame, xml);
        break;
    }
    case 13: {
        QByteArray xml;
        PROCESSDATA::getScreenPrint(xml);
        queueAnswer(13, frame, xml);
        break;
    }
    case 17: {
        QByteArray xml;
        m_tracker.getDownloadXml(xml);
        queueAnswer(17, frame, xml);
        break;
    }
    case 201:
    case 202: {
        QList<QByteArray> params;
        WorkThread::getPackageParams(frame, params);
        const int result = LogFile::processTerminalLog(command);
        queueEchoAnswer(command, params.value(0), QByteArray::number(result));
        break;
    }
    case 19:
        PROCESSDATA::restartPlayer();
        break;
    case 12:
    case 102: {
        QList<QByteArray> params;
        if (WorkThread::getPackageParams(frame, params) >= 4 && params.size() >= 4) {
            const double volume = QString::fromLatin1(params.at(3)).trimmed().toDouble();
            m_volume = volume;
            m_statusFile.writeVolume(volume);
            HttpClient::notifyPlayerAsync(QStringLiteral("VOLUME"), QString::number(volume, 'g'));
        }
        break;
    }
    case 1005: {
        QList<QByteArray> params;
        if (WorkThread::getPackageParams(frame, params) >= 4 && params.size() >= 4) {
            m_clearType = QString::fromLatin1(params.at(3)).trimmed().toInt();
            m_statusFile.writeClearType(m_clearType);
        }
        break;
    }
    default:
        break;
    }
}

void ServerSession::restartContentWalk()
{
    m_step = REQ_SCHEDULE;
    m_nextActionMs = 0;
    m_pendingWaitMs = 0;
    m_sendQueue.clear();
    m_tracker.doneFiles.clear();
}

void ServerSession::handleServerNotice(unsigned short command, const QByteArray &frame)
{
    Q_UNUSED(frame);
    if (command == 94) {
        restartContentWalk();
        return;
    }
    m_pendingWaitMs = IDLE_WAIT_MS;
}
