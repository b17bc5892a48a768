#pragma once

class CommandRunner;

#include <QByteArray>
#include <QList>
#include <QString>

// Frames of the server link. Every integer on the wire is little-endian.
//
// Header (22 bytes): u32 length (whole frame), u32 sequence, u16 protocol,
// u16 command, u16 parameter count, u32 parameter bytes, u32 flags; then per
// parameter a u32 size and its data.
namespace BuildData {

constexpr int HEADER_SIZE = 22;
constexpr int HANDSHAKE_SIZE = 16;
constexpr unsigned int FIRST_CONTEXT_ID = 0x80000000u;

extern const QByteArray ACTIVE_HEARTBEAT; // 00 00 00 00
extern const QByteArray RESP_HEARTBEAT; // FF FF FF FF

// Sequence 0 asks for the next value of the process-wide counter.
QByteArray buildPackage(
    unsigned int sequence, unsigned short protocol, unsigned short command, unsigned int flags);
QByteArray buildPackage(unsigned int sequence, unsigned short protocol, unsigned short command,
    unsigned int flags, const QByteArray &param);
QByteArray buildPackage(unsigned int sequence, unsigned short protocol, unsigned short command,
    unsigned int flags, const QList<QByteArray> &params);

QByteArray getInnerHandshake();
QByteArray getInnerHandshake(qint64 timestampMs);
QByteArray getAuthData(CommandRunner &runner, const QString &terminalId, const QString &mac);
QByteArray terminalRecord(const QString &terminalId, const QString &mac, const QByteArray &ipBytes,
    const QString &hostName);
QByteArray longMac(const QString &mac);
// Disk size text as the authorization carries it ("32G" becomes bytes).
QByteArray diskSizeText(const QString &total);

unsigned int contextId();
void resetContextId(unsigned int value = FIRST_CONTEXT_ID); // tests

} // namespace BuildData
