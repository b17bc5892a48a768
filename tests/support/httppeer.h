#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

// A one-shot HTTP peer: collects the request, then answers with body, sent in
// pieces every pieceMs when pieceMs > 0.
class HttpPeer : public QObject
{
public:
    QTcpServer server;
    QByteArray request;
    QByteArray body = "{\"code\":0}";
    int pieceMs = 0;

    HttpPeer()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                request += socket->readAll();
                const int end = request.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const int length = headerValue("Content-Length").toInt();
                if (request.size() - end - 4 < length)
                    return;
                answer(socket);
            });
        });
    }
    QByteArray headerValue(const QByteArray &name) const
    {
        for (const QByteArray &line : request.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ":"))
                return line.mid(name.size() + 1).trimmed();
        }
        return QByteArray();
    }
    QString url(const QString &path) const
    {
        return QString("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(path);
    }
    void answer(QTcpSocket *socket)
    {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n");
        if (pieceMs <= 0) {
            socket->write(body);
            return;
        }
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<int>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, sent] {
            socket->write(body.mid((*sent)++, 1));
            if (*sent >= body.size())
                timer->stop();
        });
        timer->start(pieceMs);
    }
};
