// The parameter walker and the other readers of a received frame: the input
// is one frame. The walker never reads past the frame's end, and the
// parameters it finds, built into a frame again, are found again unchanged.

#include "fuzzenv.h"
#include "power/powerschedule.h"
#include "protocol/builddata.h"
#include "protocol/serverprotocol.h"

using namespace ServerProtocol;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzEnv::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray frame = FuzzEnv::bytes(data, size);

    QList<QByteArray> params;
    const unsigned short count = getPackageParams(frame, params);
    FUZZ_CHECK(params.size() <= count);
    qint64 total = 0;
    for (const QByteArray &param : qAsConst(params))
        total += param.size();
    FUZZ_CHECK(total <= frame.size());

    const QByteArray rebuilt = BuildData::buildPackage(
        BuildData::FIRST_CONTEXT_ID, protocolOf(frame), commandOf(frame), FLAGS, params);
    QList<QByteArray> again;
    FUZZ_CHECK(getPackageParams(rebuilt, again) == params.size());
    FUZZ_CHECK(again == params);
    QByteArray payload;
    FUZZ_CHECK(verifiedPayload(rebuilt, payload));
    FUZZ_CHECK(payload.startsWith(params.value(0)));

    firstParam(frame);
    verifiedPayload(frame, payload);
    QByteArray shortened = frame;
    const int verified = ServerProtocol::cutToBody(shortened);
    FUZZ_CHECK(verified < 0 || shortened.size() <= frame.size() - BuildData::HEADER_SIZE);
    PowerActions::shutdownScheduleText(frame);
    return 0;
}
