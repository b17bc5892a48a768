#pragma once

class CommandRunner;

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>

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

// The sequence is written as given (FrameSequence numbers a link's frames).
QByteArray buildPackage(
    unsigned int sequence, unsigned short protocol, unsigned short command, unsigned int flags);
QByteArray buildPackage(unsigned int sequence, unsigned short protocol, unsigned short command,
    unsigned int flags, const QByteArray &param);
QByteArray buildPackage(unsigned int sequence, unsigned short protocol, unsigned short command,
    unsigned int flags, const QList<QByteArray> &params);

QByteArray getInnerHandshake();
QByteArray getInnerHandshake(qint64 timestampMs);
QByteArray getAuthData(
    unsigned int sequence, CommandRunner &runner, const QString &terminalId, const QString &mac);
QByteArray terminalRecord(const QString &terminalId, const QString &mac, const QByteArray &ipBytes,
    const QString &hostName);
QByteArray longMac(const QString &mac);
// Disk size text as the authorization carries it ("32G" becomes bytes).
QByteArray diskSizeText(const QString &total);

} // namespace BuildData

// The sequence numbers of one server link's frames, from FIRST_CONTEXT_ID on:
// every request and answer takes the next one; the authorization takes the
// current one and moves it on. Any thread.
class FrameSequence
{
public:
    explicit FrameSequence(unsigned int first = BuildData::FIRST_CONTEXT_ID)
        : m_value(first)
    { }
    unsigned int next() { return ++m_value; }
    unsigned int forAuthorization()
    {
        const unsigned int sequence = m_value.fetch_add(1);
        return sequence != 0 ? sequence : ++m_value;
    }
    unsigned int current() const { return m_value.load(); }

private:
    std::atomic<unsigned int> m_value;
};
