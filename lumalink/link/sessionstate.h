#pragma once

#include "protocol/sessionenums.h"
#include "requests/serverconfig.h"

#include <QtGlobal>

// What the session knows about its link and how far its walk has come, shared
// by the pass loop and the request steps. Times are Clock milliseconds.
struct SessionState
{
    // How long the loop waits for the server when it has nothing to ask.
    static constexpr qint64 IDLE_WAIT_MS = 80000;

    int status = SessionEnums::NOT_CONNECTED;
    int step = SessionEnums::INNER_HANDSHAKE;
    bool contentReady = false;
    bool connected = false;
    // The next action of the loop is not due before this time.
    qint64 nextActionMs = 0;
    bool askAgain = false; // the walk's last reply was not stored: ask again
    qint64 lastTrafficMs = 0;
    // A wait for the server that the loop owes before acting again.
    qint64 pendingWaitMs = 0;
    qint64 lastSyncMs = 0;
    ServerConfig serverConfig;
};
