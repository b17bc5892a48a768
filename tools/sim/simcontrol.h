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
// "ok" or "error:". One table names the commands, their arguments, their help
// lines and their handlers (ControlCommands), so that the help text lists
// exactly what runs.
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

    // The help lines of the table's commands, under the headings of their groups.
    static QString helpText();
    // The names of the commands of the table, in the order of the help text.
    static QStringList commandNames();
    // "6,4" -> {6, 4}; empty on any bad item.
    static QList<quint32> parseAuthList(const QString &text);

signals:
    void quitRequested();

private:
    void onControlConnection();
    void onStdin();

    SignageServer *m_server;
    HostileMode m_hostile;
    QTcpServer *m_controlServer = nullptr;
    QSocketNotifier *m_stdinNotifier = nullptr;
    QByteArray m_stdinBuffer;
};
