#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Wire format of the terminal link as seen from the server's side: little-endian
// integers, 22-byte headed frames with length-prefixed parameters, the 16-byte
// inner handshake and the two four-byte heartbeat words.
namespace SimWire {

constexpr int HEADER_SIZE = 22;
constexpr int HANDSHAKE_SIZE = 16;
constexpr quint8 HANDSHAKE_MARK = 0xAE;
constexpr quint32 FLAGS = 1;

// Frames larger than this are taken as garbage rather than waited for.
constexpr quint32 MAX_FRAME = 64 * 1024 * 1024;

enum Protocol : quint16 {
    PROTO_SESSION = 273,
    PROTO_CONTENT = 257,
    PROTO_CONTENT_PUSH = 276,
    PROTO_CONTROL = 278,
};

void appendU16(QByteArray &out, quint16 value);
void appendU32(QByteArray &out, quint32 value);
void appendU64(QByteArray &out, quint64 value);

// Readers treat bytes past the end as zero.
quint16 readU16(const QByteArray &data, int offset);
quint32 readU32(const QByteArray &data, int offset);
quint64 readU64(const QByteArray &data, int offset);

QByteArray activeHeartbeat();
QByteArray heartbeatAnswer();

// The server's inner handshake; t is the millisecond clock, versionId the number
// carried at offset 8 and guarded by the check word at offset 14.
QByteArray innerHandshake(qint64 t, quint32 versionId);
quint16 handshakeCheck(quint32 versionId);

QByteArray encodeFrame(quint32 sequence, quint16 protocol, quint16 command,
    const QList<QByteArray> &params = {}, quint32 flags = FLAGS);

struct Frame
{
    quint32 length = 0;
    quint32 sequence = 0;
    quint16 protocol = 0;
    quint16 command = 0;
    quint16 paramCount = 0;
    quint32 paramBytes = 0;
    quint32 flags = 0;
    QList<QByteArray> params;
    // True when the parameter list ran past the end of the frame or did not add
    // up to the declared parameter bytes.
    bool malformed = false;
    QByteArray raw;
};

// Decodes one complete headed frame (raw must hold at least the declared length).
bool decodeFrame(const QByteArray &raw, Frame &frame);

// Cuts a byte stream into the pieces the terminal sends. Bytes are buffered
// across chunks, so a frame split over several reads comes out once, whole,
// and several frames in one read come out one after the other.
class StreamCutter
{
public:
    enum Kind { ActiveHeartbeat, HeartbeatAnswer, InnerHandshake, HeadedFrame, Garbage };
    struct Piece
    {
        Kind kind = Garbage;
        QByteArray bytes;
    };

    QList<Piece> feed(const QByteArray &chunk);
    int pendingBytes() const { return m_buffer.size(); }
    void reset() { m_buffer.clear(); }

private:
    QByteArray m_buffer;
};

// The terminal record that opens an authorization request.
struct TerminalRecord
{
    bool valid = false;
    QString terminalId;
    QByteArray mac; // the eight bytes as sent
    quint64 macValue = 0; // the same read little-endian
    QString ipAddress; // dotted form of the four address bytes
    QString hostName;
};

TerminalRecord parseTerminalRecord(const QByteArray &record);

// "00-1A-2B-3C-4D-5E" from the 48 low bits of a long-form MAC.
QString macText(quint64 macValue);

// Drops one trailing NUL byte, the terminator the terminal puts after texts.
QByteArray stripNul(const QByteArray &text);

// One line of log text for a parameter: printable text quoted, anything else in
// hex, cut to about maxChars characters.
QString describeParam(const QByteArray &param, int maxChars = 200);
QString describeFrame(const Frame &frame);

} // namespace SimWire
