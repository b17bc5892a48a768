#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

// The byte pipe under the server session: a TCP socket in service, a stand-in
// in tests that drive the session's loop without a network. It lives on the
// session's thread and reports through its signals.
class LinkTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void connectToServer(const QString &host, quint16 port) = 0;
    virtual bool isUnconnected() const = 0;
    // Drops the connection at once, without a disconnected signal.
    virtual void abort() = 0;
    // Closes gracefully; a connected pipe then raises disconnected.
    virtual void disconnectFromServer() = 0;
    virtual void close() = 0;
    // Writes and flushes; false when no byte went out or the flush failed.
    virtual bool send(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesAvailable() const = 0;

signals:
    void readyRead();
    void connected();
    void disconnected();
    void errorOccurred(QAbstractSocket::SocketError error);
};

// The transport of the service: one TCP socket with keep-alive.
class TcpTransport : public LinkTransport
{
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);

    void connectToServer(const QString &host, quint16 port) override;
    bool isUnconnected() const override;
    void abort() override;
    void disconnectFromServer() override;
    void close() override;
    bool send(const QByteArray &bytes) override;
    QByteArray readAll() override;
    qint64 bytesAvailable() const override;

private:
    QTcpSocket *m_socket;
};
