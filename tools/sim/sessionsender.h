#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpSocket;
class QTimer;

// What the signage server sends on the terminal's session: frames numbered in
// sequence, heartbeats, its handshake and raw bytes, each logged one line per
// frame as it goes out; written at once, or dripped one byte at a time.
class SessionSender : public QObject
{
    Q_OBJECT
public:
    // socket is the server's: the terminal's connection, null while there is
    // none.
    explicit SessionSender(const QPointer<QTcpSocket> &socket, QObject *parent = nullptr);

    bool isConnected() const;

    // The next frame in sequence, not sent yet.
    QByteArray buildFrame(quint16 protocol, quint16 command, const QList<QByteArray> &params = {});
    // Each of these returns the bytes written, or an empty array when no
    // terminal is connected. pushFrames() sends several frames in one write,
    // so they reach the terminal in one chunk.
    QByteArray pushFrames(const QList<QByteArray> &frames);
    QByteArray sendRaw(const QByteArray &bytes);
    QByteArray sendHeartbeat();
    QByteArray sendHandshake();
    // what: the log line of each frame in bytes, one a line.
    QByteArray write(const QByteArray &bytes, const QString &what);

    // Everything goes out one byte every ms milliseconds (0: at once, and
    // what waits to be dripped goes out now).
    void setDrip(int ms);
    int dripBacklog() const { return m_drip.size(); }
    // Drops what waits to be dripped (the connection it was for is gone).
    void clearDrip() { m_drip.clear(); }

signals:
    void frameSent(quint16 protocol, quint16 command);
    void logLine(const QString &line);

private:
    void dripOne();

    const QPointer<QTcpSocket> &m_socket;
    quint32 m_sequence = 0;
    int m_dripMs = 0;
    QByteArray m_drip; // bytes waiting to be dripped
    QTimer *m_dripTimer = nullptr;
};
