#include "notifylistener.h"

#include "notifyprotocol.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

NotifyListener::NotifyListener(bool trimValues, Order order, QObject *parent)
    : QObject(parent)
    , m_trimValues(trimValues)
    , m_order(order)
{ }

NotifyListener::~NotifyListener()
{
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it)
        it.key()->disconnect(this);
}

bool NotifyListener::listen(quint16 port)
{
    auto *v4 = new QTcpServer(this);
    if (!v4->listen(QHostAddress::LocalHost, port)) {
        delete v4;
        return false;
    }
    m_servers.append(v4);
    connect(v4, &QTcpServer::newConnection, this, [this, v4] { acceptConnections(v4); });
    // ::1 as well where the machine has it; a machine without IPv6 still
    // reaches the listener on 127.0.0.1 ("localhost" tries both).
    auto *v6 = new QTcpServer(this);
    if (v6->listen(QHostAddress::LocalHostIPv6, v4->serverPort())) {
        m_servers.append(v6);
        connect(v6, &QTcpServer::newConnection, this, [this, v6] { acceptConnections(v6); });
    } else {
        delete v6;
    }
    return true;
}

quint16 NotifyListener::serverPort() const
{
    return m_servers.isEmpty() ? 0 : m_servers.first()->serverPort();
}

void NotifyListener::setHandler(Handler handler)
{
    if (!handler) {
        m_handler = nullptr;
        return;
    }
    m_handler = [handler = std::move(handler)](const QString &cmd, const QString &param) {
        handler(cmd, param);
        return 200;
    };
}

void NotifyListener::setAnsweringHandler(AnsweringHandler handler)
{
    m_handler = std::move(handler);
}

int NotifyListener::openSocketCount() const
{
    return m_sockets.size();
}

bool NotifyListener::isLoopbackPeer(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // also unwraps ::ffff:a.b.c.d
    if (isV4)
        return (v4 >> 24) == 127;
    return address.isLoopback();
}

void NotifyListener::acceptConnections(QTcpServer *server)
{
    while (server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        if (!socket)
            break;
        const QString peer = socket->peerAddress().toString();
        if (!isLoopbackPeer(socket->peerAddress()) || m_sockets.size() >= MAX_SOCKETS) {
            m_refusals.note(isLoopbackPeer(socket->peerAddress())
                    ? QStringLiteral("Refused local command connection: %1 already open")
                          .arg(MAX_SOCKETS)
                    : QStringLiteral("Refused local command connection from %1").arg(peer));
            socket->abort();
            socket->deleteLater();
            emit rejectedPeer(peer);
            continue;
        }
        Pending &pending = m_sockets[socket];
        pending.idle = new QTimer(socket);
        pending.idle->setSingleShot(true);
        // However it went, a connection ends within the idle time, so no
        // peer can hold the listener's connections open.
        connect(pending.idle, &QTimer::timeout, socket, [this, socket] {
            auto it = m_sockets.constFind(socket);
            if (it != m_sockets.cend() && it->request.state() == NotifyRequest::State::Incomplete)
                m_refusals.note(
                    QStringLiteral("Closed a local command connection that sent no whole request"));
            socket->abort();
        });
        pending.idle->start(m_idleMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { closeSocket(socket); });
        // Bytes that came with the connection are not announced again.
        if (socket->bytesAvailable() > 0)
            readRequest(socket);
    }
}

void NotifyListener::closeSocket(QTcpSocket *socket)
{
    socket->deleteLater();
    m_sockets.remove(socket);
}

void NotifyListener::readRequest(QTcpSocket *socket)
{
    auto it = m_sockets.find(socket);
    if (it == m_sockets.end() || socket->bytesAvailable() <= 0)
        return;
    if (it->request.state() != NotifyRequest::State::Incomplete) {
        socket->readAll(); // one request per connection: the rest is not read
        return;
    }
    switch (it->request.add(socket->readAll())) {
    case NotifyRequest::State::Incomplete:
        return;
    case NotifyRequest::State::TooLarge:
        refuse(socket, 413, QStringLiteral("larger than %1 bytes").arg(NotifyRequest::MAX_BYTES));
        return;
    case NotifyRequest::State::Complete:
        handleRequest(socket, it->request.request());
        return;
    }
}

void NotifyListener::refuse(QTcpSocket *socket, int code, const QString &why)
{
    m_refusals.note(QStringLiteral("Refused a local command request: %1").arg(why));
    NotifyProtocol::sendAnswer(socket, code);
    socket->disconnectFromHost();
}

void NotifyListener::handleRequest(QTcpSocket *socket, const QByteArray &bytes)
{
    const QString refusal = NotifyRequest::refusal(bytes);
    if (!refusal.isEmpty()) {
        refuse(socket, 403, refusal);
        return;
    }
    const QString request = QString::fromUtf8(bytes);
    QString cmd;
    QString param;
    if (!NotifyProtocol::parseRequest(request, cmd, param, m_trimValues)) {
        NotifyProtocol::sendAnswer(socket, 400);
        socket->disconnectFromHost();
        return;
    }
    if (m_order == Order::AnswerThenAct) {
        NotifyProtocol::sendAnswer(socket, 200);
        socket->disconnectFromHost();
        // Act once the socket's signal has returned: an effect may run an event
        // loop (EXIT waits 200 ms) in which this socket can be deleted.
        QMetaObject::invokeMethod(
            this,
            [this, cmd, param] {
                if (m_handler)
                    m_handler(cmd, param);
            },
            Qt::QueuedConnection);
    } else {
        // The handler may run an event loop in which the peer goes away.
        QPointer<QTcpSocket> guard(socket);
        const int code = m_handler ? m_handler(cmd, param) : 200;
        if (!guard)
            return;
        // A failure is a 400 whose body carries the handler's own code.
        NotifyProtocol::sendAnswer(
            socket, code == 200 || code == 0 ? 200 : (code == 403 || code == 413 ? 400 : code));
        socket->disconnectFromHost();
    }
}
