// SignageServer: what the terminal sends on the session, and the server's
// answers to its requests.

#include "signageserver.h"

#include <QTcpSocket>
#include <QTextCodec>

using namespace SimWire;

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
        m_sender.write(heartbeatAnswer(), QStringLiteral("heartbeat answer FF FF FF FF"));
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
            reply(PROTO_CONTENT, 6, {document(m_content.templateList(stripNul(first)))});
        } else if (frame.command == 7) {
            QByteArray body = m_content.zone(stripNul(first));
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
