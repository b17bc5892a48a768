#pragma once

#include <QObject>

// The session's authorization status and request step. The status numbers are
// also written to the status file and sent to the player.
class SessionEnums
{
    Q_GADGET
public:
    enum StatusEnum {
        NOT_CONNECTED = 0,
        CONNECTED = 1,
        HANDSHAKING = 2,
        AUTHORIZED = 4,
        UNAUTHORIZED = 5,
        ID_CONFLICT = 6,
        EXCEED_AUTH_COUNT = 7
    };
    Q_ENUM(StatusEnum)

    enum StepEnum {
        START = -1,
        INNER_HANDSHAKE = 0,
        REQ_AUTH = 1,
        REQ_CONFIG = 2,
        SYNC_TIME = 3,
        REQ_SCHEDULE = 4,
        REQ_TPL = 5,
        REQ_ZONE = 6,
        REQ_FILE = 7,
        WAITING = 8
    };
    Q_ENUM(StepEnum)
};
