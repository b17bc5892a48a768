#include "link/linktransport.h"

#include <QTcpSocket>

TcpTransport::TcpTransport(QObject *parent)
    : LinkTransport(parent)
    , m_socket(new QTcpSocket(this))
{
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_socket->abort();
    connect(m_socket, &QTcpSocket::readyRead, this, &LinkTransport::readyRead);
    connect(m_socket, &QTcpSocket::connected, this, &LinkTransport::connected);
    connect(m_socket, &QTcpSocket::disconnected, this, &LinkTransport::disconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &LinkTransport::errorOccurred);
}

void TcpTransport::connectToServer(const QString &host, quint16 port)
{
    m_socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

bool TcpTransport::isUnconnected() const
{
    return m_socket->state() == QAbstractSocket::UnconnectedState;
}

void TcpTransport::abort()
{
    m_socket->abort();
}

void TcpTransport::disconnectFromServer()
{
    m_socket->disconnectFromHost();
}

void TcpTransport::close()
{
    m_socket->close();
}

bool TcpTransport::send(const QByteArray &bytes)
{
    const qint64 written = m_socket->write(bytes);
    const bool flushed = m_socket->flush();
    return written > 0 && flushed;
}

QByteArray TcpTransport::readAll()
{
    return m_socket->readAll();
}

qint64 TcpTransport::bytesAvailable() const
{
    return m_socket->bytesAvailable();
}
