#include "sessionsender.h"

#include "simwire.h"

#include <QDateTime>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

using namespace SimWire;

namespace {

// The server identifies itself in its handshake with the same version number the
// terminals of this release carry.
constexpr quint32 SERVER_VERSION_ID = 23081003;

} // namespace

SessionSender::SessionSender(const QPointer<QTcpSocket> &socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
{ }

bool SessionSender::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void SessionSender::setDrip(int ms)
{
    m_dripMs = qMax(0, ms);
    if (!m_dripTimer) {
        m_dripTimer = new QTimer(this);
        connect(m_dripTimer, &QTimer::timeout, this, &SessionSender::dripOne);
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

void SessionSender::dripOne()
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

QByteArray SessionSender::buildFrame(
    quint16 protocol, quint16 command, const QList<QByteArray> &params)
{
    return encodeFrame(++m_sequence, protocol, command, params);
}

QByteArray SessionSender::pushFrames(const QList<QByteArray> &frames)
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
        emit logLine(
            QStringLiteral("no terminal connected: not sent: ") + lines.join(QStringLiteral("; ")));
        return written;
    }
    written = write(bytes, lines.join(QStringLiteral("\n")));
    if (!written.isEmpty()) {
        for (const QByteArray &raw : frames)
            emit frameSent(readU16(raw, 8), readU16(raw, 10));
    }
    return written;
}

QByteArray SessionSender::sendRaw(const QByteArray &bytes)
{
    return write(bytes, QStringLiteral("raw ") + describeParam(bytes));
}

QByteArray SessionSender::sendHeartbeat()
{
    return write(activeHeartbeat(), QStringLiteral("heartbeat 00 00 00 00"));
}

QByteArray SessionSender::sendHandshake()
{
    const QByteArray handshake
        = innerHandshake(QDateTime::currentMSecsSinceEpoch(), SERVER_VERSION_ID);
    return write(
        handshake, QStringLiteral("server handshake ") + QString::fromLatin1(handshake.toHex(' ')));
}

QByteArray SessionSender::write(const QByteArray &bytes, const QString &what)
{
    if (!isConnected()) {
        emit logLine(QStringLiteral("no terminal connected: not sent: ") + what);
        return QByteArray();
    }
    if (m_dripMs > 0) {
        m_drip.append(bytes);
        for (const QString &line : what.split(QLatin1Char('\n')))
            emit logLine(QStringLiteral("SEND (dripped) ") + line);
        return bytes;
    }
    const qint64 count = m_socket->write(bytes);
    m_socket->flush();
    if (count != bytes.size()) {
        emit logLine(QStringLiteral("write failed (%1 of %2 bytes): %3")
                         .arg(count)
                         .arg(bytes.size())
                         .arg(what));
        return QByteArray();
    }
    for (const QString &line : what.split(QLatin1Char('\n')))
        emit logLine(QStringLiteral("SEND ") + line);
    return bytes;
}
