#include "signageserver.h"

#include "httpfileserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextCodec>
#include <QTimer>
#include <QXmlStreamWriter>

using namespace SimWire;

namespace {

// The server identifies itself in its handshake with the same version number the
// terminals of this release carry.
constexpr quint32 SERVER_VERSION_ID = 23081003;

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
            .arg(m_contentDir.isEmpty() ? QStringLiteral("(none)") : m_contentDir));
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
    m_contentDir = dir;
    m_http->setFilesDir(filesDir());
}

void SignageServer::setFilesDir(const QString &dir)
{
    m_filesDir = dir;
    m_http->setFilesDir(filesDir());
}

QString SignageServer::filesDir() const
{
    if (!m_filesDir.isEmpty() || m_contentDir.isEmpty())
        return m_filesDir;
    return m_contentDir + QStringLiteral("/files");
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

QByteArray SignageServer::daySchedule() const
{
    QByteArray body = contentFile(QStringLiteral("day-play.xml"));
    return body.replace("@TODAY@", QDate::currentDate().toString(Qt::ISODate).toLatin1());
}

namespace {

// Entries of a template list ("T"-ending elements) or zone ("P" elements) that
// name a file to download: their file name as kept in files/.
QStringList namedFiles(const QDomElement &root, const QString &suffix)
{
    QStringList names;
    for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.tagName().endsWith(suffix))
            continue;
        const QString path = e.attribute(QStringLiteral("path"));
        if (!path.startsWith(QLatin1String("data/")))
            continue;
        // A path that carries an extension names the file itself.
        const QFileInfo info(path);
        names << (info.suffix().isEmpty() ? e.attribute(QStringLiteral("name")) : info.fileName());
    }
    return names;
}

bool parseDocument(const QByteArray &bytes, const QString &root, QDomElement &element)
{
    QDomDocument doc;
    // Text already decoded, so a declared encoding does not get in the way.
    if (!doc.setContent(QString::fromUtf8(bytes)))
        return false;
    element = doc.documentElement();
    return element.tagName() == root;
}

} // namespace

QStringList SignageServer::contentFiles() const
{
    QStringList files;
    QDomElement day;
    if (!parseDocument(daySchedule(), QStringLiteral("Day"), day))
        return files;
    for (QDomElement e = day.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.tagName().endsWith(QLatin1String("TPL")))
            continue;
        QDomElement list;
        if (parseDocument(contentFile(QStringLiteral("tpl/") + e.attribute(QStringLiteral("p"))),
                QStringLiteral("TL"), list))
            files << namedFiles(list, QStringLiteral("T"));
        for (QDomElement z = e.firstChildElement(QStringLiteral("Z")); !z.isNull();
             z = z.nextSiblingElement(QStringLiteral("Z"))) {
            QDomElement zone;
            if (parseDocument(
                    contentFile(QStringLiteral("zone/") + z.attribute(QStringLiteral("p"))),
                    QStringLiteral("PL"), zone))
                files << namedFiles(zone, QStringLiteral("P"));
        }
    }
    files.removeDuplicates();
    return files;
}

QStringList SignageServer::checkContent() const
{
    QStringList problems;
    if (m_contentDir.isEmpty())
        return {QStringLiteral("no content folder")};
    QDomElement day;
    if (!parseDocument(daySchedule(), QStringLiteral("Day"), day))
        return {QStringLiteral("day-play.xml missing, malformed or not a Day document")};

    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QSet<QString> checked;
    auto checkDocument = [&](const QString &relative, const QString &root, bool asGbk) {
        if (checked.contains(relative))
            return;
        checked.insert(relative);
        const QByteArray bytes = contentFile(relative);
        QDomElement element;
        if (bytes.isEmpty())
            problems << relative + QStringLiteral(" missing");
        else if (!parseDocument(bytes, root, element))
            problems << relative + QStringLiteral(" malformed or not a ") + root
                    + QStringLiteral(" document");
        else if (asGbk && gbk && !gbk->canEncode(QString::fromUtf8(bytes)))
            problems << relative + QStringLiteral(" holds text GBK cannot carry");
    };
    for (QDomElement e = day.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!e.tagName().endsWith(QLatin1String("TPL")))
            continue;
        checkDocument(
            QStringLiteral("tpl/") + e.attribute(QStringLiteral("p")), QStringLiteral("TL"), false);
        for (QDomElement z = e.firstChildElement(QStringLiteral("Z")); !z.isNull();
             z = z.nextSiblingElement(QStringLiteral("Z")))
            checkDocument(QStringLiteral("zone/") + z.attribute(QStringLiteral("p")),
                QStringLiteral("PL"), true);
    }
    for (const QString &name : contentFiles()) {
        const QByteArray data = contentFile(QStringLiteral("files/") + name);
        if (data.isEmpty()) {
            problems << QStringLiteral("files/") + name + QStringLiteral(" missing");
            continue;
        }
        const QString md5
            = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
        if (!name.contains(md5))
            problems << QStringLiteral("files/") + name + QStringLiteral(" has MD5 ") + md5;
    }
    return problems;
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

bool SignageServer::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
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
        m_drip.clear();
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
    m_drip.clear();
    socket->deleteLater();
    emit terminalDisconnected();
}

void SignageServer::onReadyRead()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_socket)
        return;
    const QByteArray chunk = socket->readAll();
    m_rawReceived.append(chunk);
    const QList<StreamCutter::Piece> pieces = m_cutter.feed(chunk);
    for (const StreamCutter::Piece &piece : pieces) {
        handlePiece(piece);
        if (socket != m_socket)
            break; // a handler dropped the connection
    }
}

void SignageServer::handlePiece(const StreamCutter::Piece &piece)
{
    Received entry;
    entry.kind = piece.kind;
    entry.bytes = piece.bytes;
    switch (piece.kind) {
    case StreamCutter::ActiveHeartbeat:
        m_received.append(entry);
        ++m_heartbeats;
        log(QStringLiteral("RECV heartbeat 00 00 00 00"));
        emit heartbeatReceived();
        write(heartbeatAnswer(), QStringLiteral("heartbeat answer FF FF FF FF"));
        break;
    case StreamCutter::HeartbeatAnswer:
        m_received.append(entry);
        ++m_heartbeatAnswers;
        log(QStringLiteral("RECV heartbeat answer FF FF FF FF"));
        break;
    case StreamCutter::InnerHandshake: {
        m_received.append(entry);
        ++m_handshakes;
        const bool checkOk = readU16(piece.bytes, 14) == handshakeCheck(readU32(piece.bytes, 8));
        log(QStringLiteral("RECV terminal handshake %1 version=%2 check %3")
                .arg(QString::fromLatin1(piece.bytes.toHex(' ')))
                .arg(readU32(piece.bytes, 8))
                .arg(checkOk ? QStringLiteral("ok") : QStringLiteral("WRONG")));
        emit handshakeReceived();
        break;
    }
    case StreamCutter::HeadedFrame:
        decodeFrame(piece.bytes, entry.frame);
        m_received.append(entry);
        log(QStringLiteral("RECV ") + describeFrame(entry.frame));
        emit frameReceived(entry.frame.protocol, entry.frame.command, entry.frame.params);
        handleFrame(entry.frame);
        break;
    case StreamCutter::Garbage:
        m_received.append(entry);
        log(QStringLiteral("RECV unframed bytes, dropped: %1").arg(describeParam(piece.bytes)));
        break;
    }
}

void SignageServer::handleFrame(const Frame &frame)
{
    const QByteArray first = frame.params.value(0);
    switch (frame.protocol) {
    case PROTO_SESSION:
        if (frame.command == 1)
            answerAuthorization(frame);
        else if (frame.command == 100)
            reply(PROTO_SESSION, 100, {document(configXml())});
        else if (frame.command == 102) {
            QByteArray secs;
            appendU64(secs, quint64(serverTime()));
            reply(PROTO_SESSION, 102, {secs});
        } else
            log(QStringLiteral("no answer for protocol 273 command %1").arg(frame.command));
        return;
    case PROTO_CONTENT:
        if (frame.command == 5) {
            reply(PROTO_CONTENT, 5, {document(daySchedule())});
        } else if (frame.command == 6) {
            const QByteArray id = stripNul(first);
            const QByteArray body = safeId(id)
                ? contentFile(QStringLiteral("tpl/") + QString::fromLatin1(id))
                : QByteArray();
            reply(PROTO_CONTENT, 6, {document(body)});
        } else if (frame.command == 7) {
            const QByteArray id = stripNul(first);
            QByteArray body = safeId(id)
                ? contentFile(QStringLiteral("zone/") + QString::fromLatin1(id))
                : QByteArray();
            // Zones travel in GBK; the folder keeps them as UTF-8.
            if (QTextCodec *gbk = QTextCodec::codecForName("GBK"))
                body = gbk->fromUnicode(QString::fromUtf8(body));
            else
                log(QStringLiteral("no GBK codec: zone sent as stored"));
            reply(PROTO_CONTENT, 7, {document(body)});
        } else
            log(QStringLiteral("no answer for protocol 257 command %1").arg(frame.command));
        return;
    case PROTO_CONTROL:
        recordReport(frame);
        return;
    default:
        log(QStringLiteral("no answer for protocol %1 command %2")
                .arg(frame.protocol)
                .arg(frame.command));
    }
}

void SignageServer::answerAuthorization(const Frame &frame)
{
    AuthRequest request;
    request.terminal = parseTerminalRecord(frame.params.value(0));
    request.version = QString::fromLatin1(stripNul(frame.params.value(1)));
    request.diskUsed = QString::fromLatin1(stripNul(frame.params.value(2)));
    request.diskTotal = QString::fromLatin1(stripNul(frame.params.value(3)));
    if (!request.terminal.valid)
        log(QStringLiteral("authorization request without a readable terminal record"));
    else
        log(QStringLiteral("terminal id=%1 mac=%2 ip=%3 host=%4 version=%5 disk=%6 of %7")
                .arg(request.terminal.terminalId, macText(request.terminal.macValue),
                    request.terminal.ipAddress, request.terminal.hostName, request.version,
                    request.diskUsed, request.diskTotal));

    if (!isMuted(PROTO_SESSION, 1)) {
        request.statusSent
            = m_authResults.size() > 1 ? m_authResults.takeFirst() : m_authResults.first();
        QByteArray result;
        appendU32(result, 0);
        appendU32(result, request.statusSent);
        reply(PROTO_SESSION, 1, {result});
    } else {
        log(QStringLiteral("muted: protocol 273 command 1 not answered"));
    }
    m_auths.append(request);
    emit authorizationRequested(request.terminal.terminalId, request.statusSent);
}

void SignageServer::recordReport(const Frame &frame)
{
    Report report;
    report.command = frame.command;
    report.paramCount = frame.params.size();
    report.terminalId = QString::fromUtf8(frame.params.value(0));
    report.echoId = frame.params.value(2);
    report.body = frame.params.value(3);
    m_reports.append(report);
    emit reportReceived(report.command, report.echoId, report.body);
}

QByteArray SignageServer::reply(quint16 protocol, quint16 command, const QList<QByteArray> &params)
{
    if (isMuted(protocol, command)) {
        log(QStringLiteral("muted: protocol %1 command %2 not answered")
                .arg(protocol)
                .arg(command));
        return QByteArray();
    }
    return pushFrame(protocol, command, params);
}

QByteArray SignageServer::document(const QByteArray &normal) const
{
    return m_documentOverride.isEmpty() ? normal : m_documentOverride;
}

void SignageServer::setDrip(int ms)
{
    m_dripMs = qMax(0, ms);
    if (!m_dripTimer) {
        m_dripTimer = new QTimer(this);
        connect(m_dripTimer, &QTimer::timeout, this, &SignageServer::dripOne);
    }
    if (m_dripMs > 0) {
        m_dripTimer->start(m_dripMs);
        return;
    }
    // Drip ended: what waits goes out at once.
    m_dripTimer->stop();
    if (isConnected() && !m_drip.isEmpty())
        m_socket->write(m_drip);
    m_drip.clear();
}

void SignageServer::dripOne()
{
    if (m_drip.isEmpty())
        return;
    if (!isConnected()) {
        m_drip.clear();
        return;
    }
    m_socket->write(m_drip.left(1));
    m_drip.remove(0, 1);
}

QByteArray SignageServer::contentFile(const QString &relative) const
{
    if (m_contentDir.isEmpty())
        return QByteArray();
    QFile file(m_contentDir + QLatin1Char('/') + relative);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool SignageServer::safeId(const QByteArray &id)
{
    return !id.isEmpty() && !id.contains('/') && !id.contains('\\') && !id.startsWith('.')
        && !id.contains('\0');
}

QByteArray SignageServer::buildFrame(
    quint16 protocol, quint16 command, const QList<QByteArray> &params)
{
    return encodeFrame(++m_sequence, protocol, command, params);
}

QByteArray SignageServer::pushFrame(
    quint16 protocol, quint16 command, const QList<QByteArray> &params)
{
    return pushFrames({buildFrame(protocol, command, params)});
}

QByteArray SignageServer::pushFrames(const QList<QByteArray> &frames)
{
    QByteArray bytes;
    QStringList lines;
    for (const QByteArray &raw : frames) {
        Frame frame;
        if (decodeFrame(raw, frame))
            lines << describeFrame(frame);
        else
            lines << QStringLiteral("raw ") + describeParam(raw);
        bytes.append(raw);
    }
    QByteArray written;
    if (!isConnected()) {
        log(QStringLiteral("no terminal connected: not sent: ") + lines.join(QStringLiteral("; ")));
        return written;
    }
    written = write(bytes, lines.join(QStringLiteral("\n")));
    if (!written.isEmpty()) {
        for (const QByteArray &raw : frames)
            emit frameSent(readU16(raw, 8), readU16(raw, 10));
    }
    return written;
}

QByteArray SignageServer::sendRaw(const QByteArray &bytes)
{
    return write(bytes, QStringLiteral("raw ") + describeParam(bytes));
}

QByteArray SignageServer::sendHeartbeat()
{
    return write(activeHeartbeat(), QStringLiteral("heartbeat 00 00 00 00"));
}

QByteArray SignageServer::sendHandshake()
{
    const QByteArray handshake
        = innerHandshake(QDateTime::currentMSecsSinceEpoch(), SERVER_VERSION_ID);
    return write(
        handshake, QStringLiteral("server handshake ") + QString::fromLatin1(handshake.toHex(' ')));
}

QByteArray SignageServer::write(const QByteArray &bytes, const QString &what)
{
    if (!isConnected()) {
        log(QStringLiteral("no terminal connected: not sent: ") + what);
        return QByteArray();
    }
    if (m_dripMs > 0) {
        m_drip.append(bytes);
        for (const QString &line : what.split(QLatin1Char('\n')))
            log(QStringLiteral("SEND (dripped) ") + line);
        return bytes;
    }
    const qint64 count = m_socket->write(bytes);
    m_socket->flush();
    if (count != bytes.size()) {
        log(QStringLiteral("write failed (%1 of %2 bytes): %3")
                .arg(count)
                .arg(bytes.size())
                .arg(what));
        return QByteArray();
    }
    for (const QString &line : what.split(QLatin1Char('\n')))
        log(QStringLiteral("SEND ") + line);
    return bytes;
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
