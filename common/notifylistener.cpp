#include "notifylistener.h"

#include "miscfunc.h"

#include <QTcpServer>
#include <QTcpSocket>

NotifyListener::NotifyListener(bool trimValues, Order order, QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_trimValues(trimValues)
    , m_order(order)
{
    connect(m_server, &QTcpServer::newConnection, this, &NotifyListener::acceptConnections);
}

NotifyListener::~NotifyListener()
{
    for (QTcpSocket *socket : qAsConst(m_sockets))
        socket->disconnect(this);
}

bool NotifyListener::listen(quint16 port)
{
    return m_server->listen(QHostAddress::Any, port);
}

quint16 NotifyListener::serverPort() const
{
    return m_server->serverPort();
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

void NotifyListener::acceptConnections()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        if (!isLoopbackPeer(socket->peerAddress())) {
            const QString peer = socket->peerAddress().toString();
            MiscFunc::writeLog(QStringLiteral("WARN"), QStringLiteral("MainWindow"),
                QStringLiteral("Refused local command connection from %1").arg(peer));
            socket->abort();
            socket->deleteLater();
            emit rejectedPeer(peer);
            continue;
        }
        m_sockets.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { closeSocket(socket); });
    }
}

void NotifyListener::closeSocket(QTcpSocket *socket)
{
    socket->deleteLater();
    m_sockets.removeAll(socket);
}

void NotifyListener::handleRequest(QTcpSocket *socket)
{
    if (socket->bytesAvailable() <= 0)
        return;
    QByteArray bytes = socket->readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString request = QString::fromUtf8(bytes);

    QString cmd;
    QString param;
    if (!MiscFunc::getCmdParam(request, cmd, param, m_trimValues)) {
        MiscFunc::sendResponse(socket, 400);
        return;
    }
    if (m_order == Order::AnswerThenAct) {
        MiscFunc::sendResponse(socket, 200);
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
        const int code = m_handler ? m_handler(cmd, param) : 200;
        MiscFunc::sendResponse(socket, code == 200 || code == 0 ? 200 : 400);
    }
}
