#pragma once

#include "notifyrequest.h"
#include "throttledlog.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QTcpServer;
class QTcpSocket;
class QTimer;

// The local command listener both programs run (service on 12222, player on
// 12223). It listens on the loopback addresses only (127.0.0.1, and ::1 where
// the machine has IPv6); failing to bind 127.0.0.1 is how a second instance
// notices the first. A request may come in several reads: it is collected up
// to NotifyRequest::MAX_BYTES (413 beyond) and taken once whole. What a web
// page could send (any method but POST, an Origin or Referer header) is
// answered 403 and not acted on. At most MAX_SOCKETS connections are open at
// once, and one that sends nothing whole within the idle time is closed.
// Refusals are logged once a minute with a count.
class NotifyListener : public QObject
{
    Q_OBJECT
public:
    static constexpr int MAX_SOCKETS = 32;
    static constexpr int IDLE_MS = 5000;

    enum class Order {
        AnswerThenAct, // the player answers before the effect (EXIT must still answer)
        ActThenAnswer // the service queues an SQL statement, then answers
    };
    using Handler = std::function<void(const QString &cmd, const QString &param)>;
    // Returns the answer code: 200 for success, anything else is answered as a
    // failure (400), so the sender knows its command was not taken.
    using AnsweringHandler = std::function<int(const QString &cmd, const QString &param)>;

    NotifyListener(bool trimValues, Order order, QObject *parent = nullptr);
    ~NotifyListener() override;

    // Listens on the loopback addresses; port 0 picks a free one (tests).
    bool listen(quint16 port);
    quint16 serverPort() const;
    // Every well-formed command is answered 200.
    void setHandler(Handler handler);
    // With ActThenAnswer the handler's code is the answer; with AnswerThenAct
    // the answer is 200 before the handler runs and its code is ignored.
    void setAnsweringHandler(AnsweringHandler handler);
    int openSocketCount() const;
    // Tests shorten the idle time.
    void setIdleMs(int ms) { m_idleMs = ms; }

    static bool isLoopbackPeer(const QHostAddress &address);

signals:
    void rejectedPeer(const QString &address);

private:
    struct Pending
    {
        NotifyRequest request;
        QTimer *idle = nullptr;
    };

    void acceptConnections(QTcpServer *server);
    void readRequest(QTcpSocket *socket);
    void handleRequest(QTcpSocket *socket, const QByteArray &bytes);
    void refuse(QTcpSocket *socket, int code, const QString &why);
    void closeSocket(QTcpSocket *socket);

    QList<QTcpServer *> m_servers;
    QHash<QTcpSocket *, Pending> m_sockets;
    AnsweringHandler m_handler;
    bool m_trimValues;
    Order m_order;
    int m_idleMs = IDLE_MS;
    ThrottledLog m_refusals {QStringLiteral("WARN"), QStringLiteral("MainWindow")};
};
