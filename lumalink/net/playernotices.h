#pragma once

#include <QString>

#include <functional>

// Notices to the player on its local port (STATUS, VOLUME, EXIT, RELOAD, ...).
class PlayerNotices
{
public:
    // Blocks the calling thread up to 5 s; the reply body, or empty when the
    // player did not answer.
    static QString ask(const QString &cmd, const QString &param);
    // Sends from a background sender, in call order, without blocking the
    // caller; for notices whose answer nobody reads (STATUS, VOLUME, EXIT, RELOAD).
    static void post(const QString &cmd, const QString &param);
    // Waits until every queued notice has been sent (tests, shutdown).
    static bool waitUntilSent(int timeoutMs);
    // While a sink is set, post hands its notices to it instead of the player
    // (fuzzing, where no other program may be reached). Set it before the
    // first notice; an empty sink sends them again.
    using Sink = std::function<void(const QString &cmd, const QString &param)>;
    static void setSink(Sink sink);
};
