#include "signageserver.h"

#include "httpfileserver.h"

#include <QDateTime>
#include <QFile>
#include <QIODevice>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QXmlStreamWriter>

using namespace SimWire;

namespace {

quint32 muteKey(quint16 protocol, quint16 command)
{
    return (quint32(protocol) << 16) | command;
}

QString timeStamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

SignageServer::SignageServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_http(new HttpFileServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &SignageServer::onNewConnection);
    connect(m_http, &HttpFileServer::logLine, this, &SignageServer::log);
    connect(&m_sender, &SessionSender::logLine, this, &SignageServer::log);
    connect(&m_sender, &SessionSender::frameSent, this, &SignageServer::frameSent);
}

SignageServer::~SignageServer()
{
    if (m_socket)
        m_socket->disconnect(this);
}

bool SignageServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server->listen(address, port)) {
        m_error = m_server->errorString();
        log(QStringLiteral("cannot listen on %1:%2: %3")
                .arg(address.toString())
                .arg(port)
                .arg(m_error));
        return false;
    }
    m_error.clear();
    log(QStringLiteral("listening on %1:%2, content %3")
            .arg(m_server->serverAddress().toString())
            .arg(m_server->serverPort())
            .arg(m_content.dir().isEmpty() ? QStringLiteral("(none)") : m_content.dir()));
    return true;
}

bool SignageServer::listenHttp(const QHostAddress &address, quint16 port)
{
    if (!m_http->listen(address, port)) {
        m_error = m_http->errorString();
        log(QStringLiteral("HTTP cannot listen on %1:%2: %3")
                .arg(address.toString())
                .arg(port)
                .arg(m_error));
        return false;
    }
    log(QStringLiteral("HTTP listening on %1:%2, files %3")
            .arg(m_http->address().toString())
            .arg(m_http->port())
            .arg(filesDir().isEmpty() ? QStringLiteral("(none)") : filesDir()));
    return true;
}

void SignageServer::close()
{
    disconnectTerminal();
    m_server->close();
    m_http->close();
}

void SignageServer::setContentDir(const QString &dir)
{
    m_content.setDir(dir);
    m_http->setFilesDir(filesDir());
}

void SignageServer::setFilesDir(const QString &dir)
{
    m_filesDir = dir;
    m_http->setFilesDir(filesDir());
}

QString SignageServer::filesDir() const
{
    if (!m_filesDir.isEmpty() || m_content.dir().isEmpty())
        return m_filesDir;
    return m_content.dir() + QStringLiteral("/files");
}

bool SignageServer::isListening() const
{
    return m_server->isListening();
}

quint16 SignageServer::port() const
{
    return m_server->serverPort();
}

QHostAddress SignageServer::address() const
{
    return m_server->serverAddress();
}

void SignageServer::setAuthResults(const QList<quint32> &results)
{
    m_authResults = results.isEmpty() ? QList<quint32> {AUTHORIZED} : results;
}

quint16 SignageServer::httpPort() const
{
    if (m_httpPort != 0)
        return m_httpPort;
    if (m_http->isListening())
        return m_http->port();
    return quint16(port() + 1);
}

void SignageServer::setAdvertisedServer(const QString &ip, quint16 port)
{
    m_advertisedIp = ip;
    m_advertisedPort = port;
}

QString SignageServer::advertisedIp() const
{
    if (!m_advertisedIp.isEmpty())
        return m_advertisedIp;
    const QHostAddress bound = address();
    if (bound.isNull() || bound == QHostAddress::Any || bound == QHostAddress::AnyIPv4
        || bound == QHostAddress::AnyIPv6)
        return QStringLiteral("127.0.0.1");
    return bound.toString();
}

quint16 SignageServer::advertisedPort() const
{
    return m_advertisedIp.isEmpty() ? port() : m_advertisedPort;
}

QByteArray SignageServer::configXml() const
{
    if (!m_configOverride.isEmpty())
        return m_configOverride;
    const QString http = QString::number(httpPort());
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(1);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("config"));
    w.writeStartElement(QStringLiteral("ftp"));
    w.writeStartElement(QStringLiteral("server"));
    w.writeAttribute(QStringLiteral("ip"), advertisedIp());
    w.writeAttribute(QStringLiteral("port"), QString::number(advertisedPort()));
    w.writeTextElement(QStringLiteral("ip"), advertisedIp());
    w.writeTextElement(QStringLiteral("port"), QString::number(advertisedPort()));
    // The terminal's weather zones ask the RTDA server, which is our HTTP server.
    // It is announced at the session's address, so a terminal on another
    // machine (--advertise) downloads and posts there too.
    w.writeEmptyElement(QStringLiteral("RTDA"));
    w.writeAttribute(QStringLiteral("HttpServer"), advertisedIp());
    w.writeAttribute(QStringLiteral("HttpPort"), http);
    for (const QString &tag : {QStringLiteral("HTTP"), QStringLiteral("LOG")}) {
        w.writeStartElement(tag);
        w.writeTextElement(QStringLiteral("serverip"), advertisedIp());
        w.writeTextElement(QStringLiteral("serverport"), http);
        w.writeEndElement();
    }
    w.writeEndElement(); // server
    w.writeEndElement(); // ftp
    w.writeEndElement(); // config
    w.writeEndDocument();
    return xml;
}

qint64 SignageServer::serverTime() const
{
    if (m_serverTime >= 0)
        return m_serverTime;
    return QDateTime::currentSecsSinceEpoch();
}

void SignageServer::setMuted(quint16 protocol, quint16 command, bool muted)
{
    if (muted)
        m_muted.insert(muteKey(protocol, command));
    else
        m_muted.remove(muteKey(protocol, command));
}

bool SignageServer::isMuted(quint16 protocol, quint16 command) const
{
    return m_muted.contains(muteKey(protocol, command));
}

void SignageServer::onNewConnection()
{
    while (QTcpSocket *incoming = m_server->nextPendingConnection()) {
        if (m_socket) {
            // The terminal came back before its old connection was noticed as gone.
            log(QStringLiteral("new connection replaces the one from %1:%2")
                    .arg(m_socket->peerAddress().toString())
                    .arg(m_socket->peerPort()));
            QTcpSocket *old = m_socket;
            old->disconnect(this);
            old->abort();
            old->deleteLater();
            m_socket = nullptr;
            emit terminalDisconnected();
        }
        m_socket = incoming;
        m_cutter.reset();
        m_sender.clearDrip();
        ++m_connections;
        connect(incoming, &QTcpSocket::readyRead, this, &SignageServer::onReadyRead);
        connect(incoming, &QTcpSocket::disconnected, this, &SignageServer::onDisconnected);
        log(QStringLiteral("terminal connected from %1:%2")
                .arg(incoming->peerAddress().toString())
                .arg(incoming->peerPort()));
        emit terminalConnected();
        if (m_sendHandshake)
            sendHandshake();
    }
}

void SignageServer::onDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_socket)
        return;
    log(QStringLiteral("terminal disconnected"));
    m_socket = nullptr;
    m_cutter.reset();
    m_sender.clearDrip();
    socket->deleteLater();
    emit terminalDisconnected();
}

void SignageServer::disconnectTerminal()
{
    if (!m_socket)
        return;
    log(QStringLiteral("dropping the terminal connection"));
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    m_cutter.reset();
    socket->disconnect(this);
    // Close after what is already queued has gone out; a peer that does not take
    // it within two seconds is cut off.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    else
        QTimer::singleShot(2000, socket, &QTcpSocket::abort);
    emit terminalDisconnected();
}

QByteArray SignageServer::nextEchoId()
{
    return QByteArray("req-") + QByteArray::number(++m_echoCounter);
}

QByteArray SignageServer::requestEnvironment(const QByteArray &echoId)
{
    return pushFrame(
        PROTO_CONTROL, 9, {echoId.isEmpty() ? nextEchoId() : echoId, lastTerminalId().toUtf8()});
}

QByteArray SignageServer::requestScreenshot(const QByteArray &echoId)
{
    return pushFrame(
        PROTO_CONTROL, 13, {echoId.isEmpty() ? nextEchoId() : echoId, lastTerminalId().toUtf8()});
}

QByteArray SignageServer::requestDownloadReport(const QByteArray &echoId)
{
    return pushFrame(
        PROTO_CONTROL, 17, {echoId.isEmpty() ? nextEchoId() : echoId, lastTerminalId().toUtf8()});
}

QByteArray SignageServer::requestLogs(quint16 command, const QByteArray &echoId)
{
    return pushFrame(PROTO_CONTROL, command,
        {echoId.isEmpty() ? nextEchoId() : echoId, lastTerminalId().toUtf8()});
}

QByteArray SignageServer::setVolume(const QByteArray &volume, quint16 command)
{
    return pushFrame(
        PROTO_CONTROL, command, {nextEchoId(), lastTerminalId().toUtf8(), QByteArray(), volume});
}

QByteArray SignageServer::setClearType(const QByteArray &clearType)
{
    return pushFrame(
        PROTO_CONTROL, 1005, {nextEchoId(), lastTerminalId().toUtf8(), QByteArray(), clearType});
}

QByteArray SignageServer::restartPlayer()
{
    return pushFrame(PROTO_CONTROL, 19);
}

QByteArray SignageServer::shutdownNow()
{
    return pushFrame(PROTO_CONTROL, 1);
}

QByteArray SignageServer::rebootNow()
{
    return pushFrame(PROTO_CONTROL, 3);
}

QByteArray SignageServer::scheduleChanged()
{
    return pushFrame(PROTO_CONTENT_PUSH, 94);
}

QByteArray SignageServer::pushPowerSchedule(const QByteArray &xml)
{
    return pushFrame(PROTO_CONTENT_PUSH, 280, {xml + QByteArray(1, '\0')});
}

QByteArray SignageServer::pushShutdownSchedule(const QByteArray &xml)
{
    return pushFrame(PROTO_CONTROL, 2,
        {nextEchoId(), lastTerminalId().toUtf8(), QByteArray(), QByteArray(), QByteArray(),
            xml + QByteArray(1, '\0')});
}

QList<Frame> SignageServer::receivedFrames() const
{
    QList<Frame> frames;
    for (const Received &entry : m_received) {
        if (entry.kind == StreamCutter::HeadedFrame)
            frames.append(entry.frame);
    }
    return frames;
}

QString SignageServer::lastTerminalId() const
{
    return m_auths.isEmpty() ? QString() : m_auths.last().terminal.terminalId;
}

QByteArray SignageServer::lastMac() const
{
    return m_auths.isEmpty() ? QByteArray() : m_auths.last().terminal.mac;
}

QString SignageServer::lastMacText() const
{
    return m_auths.isEmpty() ? QString() : macText(m_auths.last().terminal.macValue);
}

void SignageServer::clearHistory()
{
    m_received.clear();
    m_rawReceived.clear();
    m_heartbeats = 0;
    m_heartbeatAnswers = 0;
    m_handshakes = 0;
    m_auths.clear();
    m_reports.clear();
}

void SignageServer::log(const QString &line)
{
    const QString stamped = timeStamp() + QLatin1Char(' ') + line;
    if (m_log) {
        m_log->write(stamped.toUtf8() + '\n');
        if (auto *file = qobject_cast<QFile *>(m_log))
            file->flush();
    }
    emit logLine(line);
}
