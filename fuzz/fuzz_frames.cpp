// Frame cutting: the byte stream from the signage server, fed to the receiver
// in pieces. The first input byte picks the piece sizes, the rest is the
// stream. Cut without pauses, the pieces must give the frames the whole
// stream gives at once; cut with pauses, held tails expire on the way.

#include "fuzzenv.h"
#include "lebytes.h"
#include "protocol/framereceiver.h"
#include "protocol/serverprotocol.h"

namespace {
// Every frame is whole: its length word is its size.
void checkFrames(const QList<QByteArray> &frames)
{
    for (const QByteArray &frame : frames) {
        FUZZ_CHECK(frame.size() >= 16);
        FUZZ_CHECK(LeBytes::read32(frame, 0) == static_cast<unsigned int>(frame.size()));
        if (!FrameReceiver::isInnerHandshake(frame)) {
            ServerProtocol::protocolOf(frame);
            ServerProtocol::commandOf(frame);
        }
    }
}

struct Cut
{
    QList<QByteArray> frames;
    bool dropped = false;
};

Cut feedPieces(const QList<QByteArray> &pieces, qint64 stepMs)
{
    FrameReceiver receiver;
    receiver.setQuiet(true);
    Cut cut;
    qint64 now = FuzzEnv::NOW_MS;
    for (int i = 0; i < pieces.size(); ++i) {
        const FrameReceiver::Result result = receiver.feed(pieces.at(i), now);
        checkFrames(result.frames);
        cut.frames += result.frames;
        cut.dropped = cut.dropped || result.dropped;
        if (receiver.holding())
            FUZZ_CHECK(receiver.holdDeadline() > now);
        // Some pauses outlast the hold time.
        now += stepMs * (i % 5);
        if (receiver.holding() && now >= receiver.holdDeadline())
            receiver.dropHeld();
    }
    return cut;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray stream = FuzzEnv::bytes(data + 1, size - 1);
    const QList<QByteArray> pieces = FuzzEnv::pieces(stream, data[0], 64);

    const Cut whole = feedPieces({stream}, 0);
    const Cut cut = feedPieces(pieces, 0);
    FUZZ_CHECK(cut.dropped == whole.dropped);
    // After a drop the pieces start afresh where the whole stream stopped.
    if (!whole.dropped)
        FUZZ_CHECK(cut.frames == whole.frames);
    feedPieces(pieces, 1500);
    return 0;
}
