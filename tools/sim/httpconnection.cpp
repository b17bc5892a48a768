#include "httpconnection.h"

#include "httpfaults.h"

#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QTcpSocket>
#include <QTimer>

HttpConnection::HttpConnection(QTcpSocket *socket, int id, const HttpFaults &faults)
    : QObject(socket)
    , m_socket(socket)
    , m_id(id)
    , m_faults(faults)
{
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::onReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &HttpConnection::pump);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::onDisconnected);
}

void HttpConnection::onReadyRead()
{
    if (m_gone)
        return;
    const QByteArray chunk = m_socket->readAll();
    if (m_closing)
        return; // the answer in progress is the last one
    m_in.append(chunk);
    if (!m_busy)
        processInput();
}

void HttpConnection::onDisconnected()
{
    if (m_gone)
        return;
    m_gone = true;
    emit closed();
    m_socket->deleteLater();
    if (!m_busy)
        return;
    // The connection ended in the middle of an answer (or before it started).
    if (m_record)
        m_record->bytesSent = m_sent;
    const QString method = QString::fromLatin1(m_request.method);
    const QString target = QString::fromUtf8(m_request.target);
    if (m_status == 0) {
        emit logLine(QStringLiteral("HTTP %1 %2 closed before the answer").arg(method, target));
    } else {
        emit logLine(QStringLiteral("HTTP %1 %2 %3 %4 cut off, %5 bytes not sent")
                         .arg(method, target)
                         .arg(m_status)
                         .arg(m_sent)
                         .arg(m_remaining));
    }
    m_source.reset();
    emit answerEnded(method, target, m_status);
}

void HttpConnection::processInput()
{
    m_dispatching = true;
    while (!m_gone && !m_busy && !m_closing && takeRequest()) { }
    m_dispatching = false;
}

// Reads one request from the input and starts its answer; false while the
// request is not complete yet.
bool HttpConnection::takeRequest()
{
    if (!m_haveHead) {
        const int result = m_request.readHead(m_in);
        if (result == HttpRequest::INCOMPLETE)
            return false;
        if (result != 0) {
            reject(result);
            return true;
        }
        m_continueSent = false;
        m_haveHead = true;
    }

    if (m_in.size() < m_request.bodyLength) {
        if (!m_continueSent && m_request.version == "HTTP/1.1"
            && m_request.header("expect").toLower() == "100-continue") {
            m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            m_continueSent = true;
        }
        return false;
    }
    m_request.body = m_in.left(int(m_request.bodyLength));
    m_in.remove(0, int(m_request.bodyLength));
    m_haveHead = false;

    record(m_request.name, m_request.body.size());
    m_busy = true;
    m_status = 0;
    m_sent = 0;
    m_remaining = 0;
    const int delay = m_faults.delay();
    if (delay > 0) {
        QTimer::singleShot(delay, this, [this]() {
            if (!m_gone)
                startAnswer();
        });
    } else {
        startAnswer();
    }
    return true;
}

// A request that cannot be read gets its error answer, and the connection
// closes after it.
void HttpConnection::reject(int status)
{
    m_in.clear();
    m_haveHead = false;
    m_request.body.clear();
    m_closing = true;
    m_busy = true;
    record(QString(), 0);
    sendSimple(status, QByteArray::number(status) + ' ' + httpReason(status) + '\n');
}

void HttpConnection::record(const QString &name, qint64 bytesReceived)
{
    m_record = std::make_shared<HttpRequestRecord>();
    m_record->connection = m_id;
    m_record->method = QString::fromLatin1(m_request.method);
    m_record->target = QString::fromUtf8(m_request.target);
    m_record->name = name;
    m_record->timeMs = QDateTime::currentMSecsSinceEpoch();
    m_record->bytesReceived = bytesReceived;
    emit requestRecorded(m_record);
}

void HttpConnection::startAnswer()
{
    if (!m_request.keepAlive)
        m_closing = true;
    emit requestReady();
}

void HttpConnection::sendHead(
    int status, qint64 length, const QByteArray &type, const HttpHeaders &extra)
{
    if (!m_request.keepAlive)
        m_closing = true;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + httpReason(status) + "\r\n";
    head += "Server: lumasim\r\n";
    head += "Date: "
        + QLocale::c()
              .toString(QDateTime::currentDateTimeUtc(),
                  QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
              .toLatin1()
        + "\r\n";
    head += "Content-Type: " + type + "\r\n";
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &h : extra)
        head += h.first + ": " + h.second + "\r\n";
    if (m_closing)
        head += "Connection: close\r\n";
    else if (m_request.version == "HTTP/1.0")
        head += "Connection: keep-alive\r\n";
    head += "\r\n";
    m_socket->write(head);
    m_status = status;
    if (m_record) {
        m_record->status = status;
        m_record->contentLength = length;
    }
}

void HttpConnection::sendSimple(
    int status, const QByteArray &body, const QByteArray &type, const HttpHeaders &extra)
{
    sendHead(status, body.size(), type, extra);
    if (!m_request.isHead()) {
        m_socket->write(body);
        m_sent = body.size();
    }
    finish();
}

void HttpConnection::sendBody(
    std::unique_ptr<QIODevice> source, qint64 start, qint64 length, qint64 flipAt, qint64 holdAfter)
{
    m_flipAt = flipAt;
    m_holdAfter = holdAfter;
    m_held = false;
    if (start > 0)
        source->seek(start);
    m_position = start;
    m_remaining = length;
    m_sent = 0;
    m_source = std::move(source);
    pump();
}

void HttpConnection::resume()
{
    emit logLine(
        QStringLiteral("HTTP %1 %2 resumed after %3 bytes")
            .arg(QString::fromLatin1(m_request.method), QString::fromUtf8(m_request.target))
            .arg(m_sent));
    m_holdAfter = -1;
    m_held = false;
    pump();
}

void HttpConnection::abort()
{
    m_socket->abort();
}

void HttpConnection::pump()
{
    if (m_gone || !m_source || m_dripWaiting)
        return;
    while (m_remaining > 0) {
        if (m_holdAfter >= 0 && m_sent >= m_holdAfter) {
            if (!m_held) {
                m_held = true;
                if (m_record)
                    m_record->bytesSent = m_sent;
                emit logLine(QStringLiteral("HTTP %1 %2 %3 held after %4 of %5 bytes")
                                 .arg(QString::fromLatin1(m_request.method),
                                     QString::fromUtf8(m_request.target))
                                 .arg(m_status)
                                 .arg(m_sent)
                                 .arg(m_sent + m_remaining));
                emit answerHeld(m_request.name);
            }
            return;
        }
        if (m_socket->bytesToWrite() >= CHUNK)
            return; // bytesWritten brings us back
        const int dripMs = m_faults.drip();
        qint64 want = qMin(dripMs > 0 ? qint64(1) : CHUNK, m_remaining);
        if (m_holdAfter >= 0)
            want = qMin(want, m_holdAfter - m_sent);
        QByteArray piece = m_source->read(want);
        if (piece.isEmpty()) {
            // The file shrank or cannot be read: the client sees a short body.
            emit logLine(
                QStringLiteral("HTTP %1: read error, connection closed").arg(m_request.name));
            m_socket->abort();
            return;
        }
        if (m_flipAt >= m_position && m_flipAt < m_position + piece.size())
            piece[int(m_flipAt - m_position)] = char(~piece[int(m_flipAt - m_position)]);
        m_position += piece.size();
        m_sent += piece.size();
        m_remaining -= piece.size();
        m_socket->write(piece);
        if (m_record)
            m_record->bytesSent = m_sent;
        if (dripMs > 0 && m_remaining > 0) {
            m_dripWaiting = true;
            QTimer::singleShot(dripMs, this, [this]() {
                m_dripWaiting = false;
                pump();
            });
            return;
        }
    }
    finish();
}

void HttpConnection::finish()
{
    if (m_record) {
        m_record->complete = true;
        m_record->bytesSent = m_sent;
    }
    const QString method = QString::fromLatin1(m_request.method);
    const QString target = QString::fromUtf8(m_request.target);
    const int status = m_status;
    emit logLine(QStringLiteral("HTTP %1 %2 %3 %4").arg(method, target).arg(status).arg(m_sent));
    m_source.reset();
    m_busy = false;
    m_held = false;
    m_holdAfter = -1;
    m_flipAt = -1;
    m_record.reset();
    m_request.body.clear();
    if (m_closing) {
        QTcpSocket *socket = m_socket;
        QMetaObject::invokeMethod(
            socket, [socket]() { socket->disconnectFromHost(); }, Qt::QueuedConnection);
    }
    emit answerEnded(method, target, status);
    if (!m_gone && !m_closing && !m_dispatching && !m_in.isEmpty())
        processInput();
}
