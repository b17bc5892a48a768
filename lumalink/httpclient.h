#pragma once

#include <QString>

// HTTP of the service. Local commands to the player are signed requests to
// port 12223 (see NotifyProtocol).
class HttpClient
{
public:
    // Blocks the calling thread up to 5 s; the reply body, or empty when the
    // player did not answer.
    static QString notifyPlayer(const QString &cmd, const QString &param);
    // Sends from a background sender, in call order, without blocking the
    // caller; for notices whose answer nobody reads (STATUS, VOLUME, EXIT).
    static void notifyPlayerAsync(const QString &cmd, const QString &param);
    // Waits until every queued notice has been sent (tests, shutdown).
    static bool waitForNotices(int timeoutMs);
};
