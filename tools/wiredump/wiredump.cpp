#include "wiredump.h"

#include "content/downloadtracker.h"
#include "lebytes.h"
#include "notifyprotocol.h"
#include "protocol/builddata.h"
#include "protocol/framereceiver.h"
#include "protocol/serverprotocol.h"
#include "systemprobe.h"

#include <QCryptographicHash>
#include <QList>

namespace {

// Bytes chosen so that many hold values with the top bit set: sign extension
// of a char or a short would change what is read back.
QByteArray patterned(int size, unsigned char seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((seed + i * 37) & 0xFF);
    return bytes;
}

QByteArray md5(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QByteArray num(qint64 value)
{
    return QByteArray::number(value);
}

// Short byte strings whole; long ones by their head, size and digest.
QByteArray describe(const QByteArray &bytes)
{
    if (bytes.size() <= 48)
        return "size=" + num(bytes.size()) + " hex=" + bytes.toHex();
    return "size=" + num(bytes.size()) + " head=" + bytes.left(40).toHex() + " md5=" + md5(bytes);
}

QByteArray shortDigests(const QList<QByteArray> &blocks)
{
    QByteArray text;
    for (const QByteArray &b : blocks)
        text += "[" + num(b.size()) + " " + md5(b).left(8) + "]";
    return text;
}

struct Frame
{
    unsigned int sequence;
    unsigned short protocol;
    unsigned short command;
    QList<QByteArray> params;
};

QList<Frame> sampleFrames()
{
    using namespace ServerProtocol;
    return {
        {1u, PROTO_SESSION, CMD_CONFIG, {}},
        {0x80000000u, PROTO_CONTENT, CMD_ZONE, {QByteArray("data/zone/1001.xml")}},
        {0xFFFFFFFEu, PROTO_CONTROL, CMD_SET_CLEAR_TYPE, {patterned(0x80, 0x80)}},
        {0x00818283u, PROTO_CONTROL, CMD_ENVIRONMENT,
            {QByteArray(), patterned(0x1FF, 0xFE), QByteArray("\xC4\xE3\xBA\xC3", 4)}},
        {0x7F80FF01u, PROTO_CONTENT_PUSH, CMD_POWER_SCHEDULE, {patterned(0x8081, 0x7F)}},
    };
}

QList<QByteArray> dumpFrames(QByteArray &out)
{
    out += "# frames\n";
    QList<QByteArray> built;
    for (const Frame &f : sampleFrames()) {
        const QByteArray frame = BuildData::buildPackage(
            f.sequence, f.protocol, f.command, ServerProtocol::FLAGS, f.params);
        built << frame;
        out += "build seq=" + QByteArray::number(f.sequence, 16) + " proto=" + num(f.protocol)
            + " cmd=" + num(f.command) + " " + describe(frame) + "\n";
        QList<QByteArray> params;
        const unsigned short count = ServerProtocol::getPackageParams(frame, params);
        QByteArray payload;
        const bool verified = ServerProtocol::verifiedPayload(frame, payload);
        out += "  params=" + num(count) + " " + shortDigests(params)
            + " protocolOf=" + num(ServerProtocol::protocolOf(frame))
            + " commandOf=" + num(ServerProtocol::commandOf(frame)) + " verified=" + num(verified)
            + " payload=" + md5(payload).left(8) + "\n";
    }
    // A frame cut short is refused, and a parameter announced longer than
    // the frame is never read past its end.
    QByteArray payload;
    const QByteArray cut = built.at(3).left(built.at(3).size() - 1);
    out += "short frame verified=" + num(ServerProtocol::verifiedPayload(cut, payload)) + "\n";
    QByteArray lying = built.at(2);
    lying.replace(BuildData::HEADER_SIZE, 4, LeBytes::of(0xFFFFFF80u));
    QList<QByteArray> params;
    const unsigned short count = ServerProtocol::getPackageParams(lying, params);
    out += "oversized parameter params=" + num(count) + " " + shortDigests(params) + "\n";
    return built;
}

void dumpHandshakeAndRecord(QByteArray &out)
{
    out += "# handshake and terminal record\n";
    for (qint64 t : {Q_INT64_C(0), Q_INT64_C(1700000000123), Q_INT64_C(0x7FFFFFFFFFFF)})
        out += "handshake t=" + num(t) + " " + BuildData::getInnerHandshake(t).toHex() + "\n";
    for (const char *mac : {"00-1A-2B-3C-4D-5E", "FF-80-7F-00-01-FE", "zz-81", ""})
        out += "longMac '" + QByteArray(mac)
            + "' = " + BuildData::longMac(QString::fromLatin1(mac)).toHex() + "\n";
    const QByteArray record = BuildData::terminalRecord(QStringLiteral("001A2B3C4D5E100"),
        QStringLiteral("00-1A-2B-3C-4D-5E"), QByteArray("\xC0\xA8\x01\x80", 4),
        QStringLiteral("shop-terminal-07"));
    out += "terminalRecord size=" + num(record.size()) + " hex=" + record.toHex() + "\n";
}

void dumpByteOrder(QByteArray &out)
{
    out += "# byte order\n";
    for (unsigned long long v : {0x80ULL, 0xFFULL, 0x8000ULL, 0x80000000ULL, 0xFFFFFFFFULL,
             0x8000000000000001ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        const QByteArray b64 = LeBytes::of(v);
        const QByteArray b32 = LeBytes::of(static_cast<unsigned int>(v));
        const QByteArray b16 = LeBytes::of(static_cast<unsigned short>(v));
        out += "value " + QByteArray::number(v, 16) + " u64=" + b64.toHex() + " u32=" + b32.toHex()
            + " u16=" + b16.toHex() + " back=" + QByteArray::number(LeBytes::read64(b64, 0), 16)
            + "/" + QByteArray::number(LeBytes::read32(b32, 0), 16) + "/"
            + QByteArray::number(LeBytes::read16(b16, 0), 16) + "\n";
    }
}

QByteArray describeCut(const FrameReceiver::Result &r)
{
    return "chunk=" + num(r.chunkSize) + " heartbeatOnly=" + num(r.heartbeatOnly)
        + " active=" + num(r.activeHeartbeat) + " dropped=" + num(r.dropped)
        + " frames=" + shortDigests(r.frames);
}

void dumpReceiveCut(QByteArray &out, const QList<QByteArray> &built)
{
    out += "# receive cut\n";
    // Handshake, heartbeat words and frames back to back, as TCP may deliver them.
    QByteArray stream = BuildData::getInnerHandshake(Q_INT64_C(1700000000123));
    stream += BuildData::RESP_HEARTBEAT;
    for (const QByteArray &f : built)
        stream += f;
    stream += BuildData::ACTIVE_HEARTBEAT;
    stream += built.first();
    for (int piece : {1, 3, 7, 22, 4096, 1 << 20}) {
        FrameReceiver receiver;
        receiver.setQuiet(true);
        QList<QByteArray> frames;
        for (int pos = 0; pos < stream.size(); pos += piece)
            frames += receiver.feed(stream.mid(pos, piece), 0).frames;
        out += "pieces of " + num(piece) + ": held=" + num(receiver.heldSize()) + " "
            + shortDigests(frames) + "\n";
    }
    FrameReceiver receiver;
    receiver.setQuiet(true);
    // Each step is fed before its line is written: the receiver's state is
    // read after the step.
    const auto step = [&](const char *name, const QByteArray &chunk, qint64 nowMs) {
        const FrameReceiver::Result result = receiver.feed(chunk, nowMs);
        out += QByteArray(name) + ": " + describeCut(result) + " held=" + num(receiver.heldSize())
            + "\n";
    };
    step("whole", stream, 0);
    step("heartbeats", BuildData::ACTIVE_HEARTBEAT + BuildData::RESP_HEARTBEAT, 0);
    // A length word beyond any frame the server sends (top bits set) is thrown away.
    step("bad length", LeBytes::of(0xFFFFFF7Fu) + patterned(40, 0x90), 0);
    step("after bad", built.at(1), 10);
    // A tail held past its deadline is forgotten; the next frame starts afresh.
    step("tail", built.at(2).left(30), 100);
    step("late", built.at(0), 100 + FrameReceiver::HOLD_MS);
}

void dumpSizes(QByteArray &out)
{
    out += "# disk and size figures\n";
    for (const char *total : {"32G", "0.5g", "15.6G", "4096G", "123456789", "8796093022208", ""})
        out += "diskSizeText '" + QByteArray(total)
            + "' = " + BuildData::diskSizeText(QString::fromLatin1(total)) + "\n";
    struct Disk
    {
        qint64 total;
        qint64 free;
    };
    for (const Disk &d : {Disk {0, 0}, Disk {31268536320, 10000000000},
             Disk {Q_INT64_C(8796093022208), Q_INT64_C(1099511627776)},
             Disk {Q_INT64_C(4611686018427387904), 1}, Disk {4294967296, 4294967296}})
        out += "diskInfoText " + num(d.total) + " " + num(d.free) + " = "
            + SystemProbe::diskInfoText(d.total, d.free).toUtf8().replace('\n', '|') + "\n";
    DownloadTracker tracker;
    tracker.downloadFiles = {QStringLiteral("data/mtl/a.jpg"), QStringLiteral("data/mtl/b&c.mp4")};
    tracker.doneFiles = {QStringLiteral("data/mtl/z.png")};
    for (const char *disk :
        {"31268536320\n68", "32G\n0.5", "8796093022208\n1", "", "4294967296\n100"}) {
        QByteArray xml;
        DownloadTracker copy = tracker;
        copy.getDownloadXml(xml, QString::fromLatin1(disk));
        const int space = xml.indexOf("<space");
        out += "download report '" + QByteArray(disk).replace('\n', '|') + "' "
            + xml.mid(space, xml.indexOf("/>", space) + 2 - space) + " md5=" + md5(xml) + "\n";
    }
}

void dumpLocalRequests(QByteArray &out)
{
    out += "# local requests\n";
    const qint64 t = Q_INT64_C(1700000000123);
    out += "signature " + NotifyProtocol::signature(t).toUtf8() + "\n";
    out += "url "
        + NotifyProtocol::buildUrl(12223, QStringLiteral("SQL"),
            QStringLiteral("INSERT INTO play_stat VALUES ('a b', '\u4E2D\u6587 & #')"), t)
              .toUtf8()
        + "\n";
}

} // namespace

QByteArray WireDump::text()
{
    QByteArray out;
    const QList<QByteArray> built = dumpFrames(out);
    dumpHandshakeAndRecord(out);
    dumpByteOrder(out);
    dumpReceiveCut(out, built);
    dumpSizes(out);
    dumpLocalRequests(out);
    return out;
}
