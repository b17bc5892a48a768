#pragma once

#include "hostilemode.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;
class QTcpServer;
class SignageServer;

// Text commands that drive a SignageServer: from a line-based TCP control socket
// on 127.0.0.1, from standard input, or directly through execute(). A reply is
// zero or more lines of information followed by a last line that starts with
// "ok" or "error:".
class SimControl : public QObject
{
    Q_OBJECT
public:
    explicit SimControl(SignageServer *server, QObject *parent = nullptr);
    ~SimControl() override;

    QString execute(const QString &line);

    bool listen(quint16 port);
    quint16 port() const;
    void watchStdin();

    static QString helpText();
    // "6,4" -> {6, 4}; empty on any bad item.
    static QList<quint32> parseAuthList(const QString &text);

signals:
    void quitRequested();

private:
    QString push(const QStringList &args);
    QString pushNamed(quint16 protocol, quint16 command, const QStringList &rest, bool &handled);
    QString sent(const QByteArray &bytes) const;
    QString status() const;
    QString frames(int count) const;
    QString reports() const;
    QString saveScreenshot(const QString &path) const;
    QString requests(int count) const;
    QString uploads() const;
    QString statRows() const;
    QString weather(const QStringList &args);
    void onControlConnection();
    void onStdin();

    SignageServer *m_server;
    HostileMode m_hostile;
    QTcpServer *m_controlServer = nullptr;
    QSocketNotifier *m_stdinNotifier = nullptr;
    QByteArray m_stdinBuffer;
};
