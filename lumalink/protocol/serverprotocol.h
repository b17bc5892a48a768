#pragma once

#include <QByteArray>
#include <QList>

// Protocol and command numbers of the server link, and the readers of a
// received frame's parameters. The same names are used by the simulator.
namespace ServerProtocol {

enum Protocol : unsigned short {
    PROTO_SESSION = 273, // authorization, configuration, server time
    PROTO_CONTENT = 257, // day schedule, template lists, zones
    PROTO_CONTENT_PUSH = 276, // notices the server pushes
    PROTO_CONTROL = 278, // the server's requests and their answers
};

// PROTO_SESSION
enum SessionCommand : unsigned short {
    CMD_AUTH = 1,
    CMD_CONFIG = 100,
    CMD_SERVER_TIME = 102,
};

// PROTO_CONTENT
enum ContentCommand : unsigned short {
    CMD_DAY_SCHEDULE = 5,
    CMD_TEMPLATE_LIST = 6,
    CMD_ZONE = 7,
};

// PROTO_CONTROL; the answers carry the request's number.
enum ControlCommand : unsigned short {
    CMD_SHUTDOWN_NOW = 1,
    CMD_SHUTDOWN_SCHEDULE = 2,
    CMD_REBOOT_NOW = 3,
    CMD_ENVIRONMENT = 9,
    CMD_SET_VOLUME = 12,
    CMD_SCREENSHOT = 13,
    CMD_DOWNLOAD_REPORT = 17,
    CMD_RESTART_PLAYER = 19,
    CMD_SET_VOLUME_TOO = 102,
    CMD_IGNORED = 103,
    CMD_TODAY_LOGS = 201,
    CMD_ALL_LOGS = 202,
    CMD_SET_CLEAR_TYPE = 1005,
};

// PROTO_CONTENT_PUSH
enum PushCommand : unsigned short {
    CMD_SCHEDULE_CHANGED = 94,
    CMD_POWER_SCHEDULE = 280,
};

// The flags word of every frame this terminal builds.
constexpr unsigned int FLAGS = 1;

// Checks a received frame and cuts it to what follows the header: -1 when the
// frame is shorter than its length word (or than a header), else the parameter
// count. Bytes past the length word are dropped.
int cutToBody(QByteArray &frame);

unsigned short protocolOf(const QByteArray &frame);
unsigned short commandOf(const QByteArray &frame);

// Parameter data blocks of a frame, in order; never reads past its end. The
// count announced at offset 12 is returned even when fewer blocks were found.
unsigned short getPackageParams(const QByteArray &frame, QList<QByteArray> &params);
// The first parameter's data (size at offset 22, data from 26), echoed in answers.
QByteArray firstParam(const QByteArray &frame);
// The payload the content handlers take: the first parameter's data onwards.
// False when the frame is shorter than its length word.
bool verifiedPayload(QByteArray frame, QByteArray &payload);

} // namespace ServerProtocol
