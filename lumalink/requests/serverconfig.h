#pragma once

#include <QByteArray>
#include <QString>

// Where the server's configuration sends the terminal: the content server, the
// HTTP file server, the real-time data host and the log server.
struct ServerConfig
{
    QString serverIp;
    qint32 serverPort = 0;
    QString ip;
    qint32 port = 0;
    QString httpIp;
    qint32 httpPort = 0;
    QString rtdaHost;
    qint32 rtdaPort = 0;
    QString logIp;
    qint32 logPort = 0;
};

// Takes what a configuration document names into config; what it does not
// name stays as it was. A document the XML reader refuses is logged and taken
// no further.
void readServerConfig(const QByteArray &xml, ServerConfig &config);
