#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QTcpServer;
class QTcpSocket;

// The local command listener both programs run (service on 12222, player on
// 12223). It binds every address, because failing to bind is how a second
// instance notices the first, but it only acts for peers on a loopback address.
class NotifyListener : public QObject
{
    Q_OBJECT
public:
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

    // Listens on all addresses; port 0 picks a free one (tests).
    bool listen(quint16 port);
    quint16 serverPort() const;
    // Every well-formed command is answered 200.
    void setHandler(Handler handler);
    // With ActThenAnswer the handler's code is the answer; with AnswerThenAct
    // the answer is 200 before the handler runs and its code is ignored.
    void setAnsweringHandler(AnsweringHandler handler);
    int openSocketCount() const;

    static bool isLoopbackPeer(const QHostAddress &address);

signals:
    void rejectedPeer(const QString &address);

private:
    void acceptConnections();
    void handleRequest(QTcpSocket *socket);
    void closeSocket(QTcpSocket *socket);

    QTcpServer *m_server;
    QList<QTcpSocket *> m_sockets;
    AnsweringHandler m_handler;
    bool m_trimValues;
    Order m_order;
};
