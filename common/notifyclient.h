#pragma once

#include <QString>

// Sends one local command to the other program and returns the reply body,
// or an empty text when the peer did not answer within the limit.
class NotifyClient
{
public:
    static QString post(const QString &url, int timeoutMs = 5000);
    static QString notify(
        quint16 port, const QString &cmd, const QString &param, int timeoutMs = 5000);
};
