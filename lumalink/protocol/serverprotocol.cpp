#include "protocol/serverprotocol.h"

#include "lebytes.h"
#include "protocol/builddata.h"

namespace ServerProtocol {

int cutToBody(QByteArray &frame)
{
    const unsigned int length = LeBytes::read32(frame, 0);
    if (length < static_cast<unsigned int>(BuildData::HEADER_SIZE)
        || static_cast<unsigned int>(frame.size()) < length)
        return -1;
    if (static_cast<unsigned int>(frame.size()) > length)
        frame.truncate(static_cast<int>(length));
    const int count = LeBytes::read16(frame, 12);
    frame.remove(0, BuildData::HEADER_SIZE);
    return count;
}

unsigned short protocolOf(const QByteArray &frame)
{
    return LeBytes::read16(frame, 8);
}

unsigned short commandOf(const QByteArray &frame)
{
    return LeBytes::read16(frame, 10);
}

unsigned short getPackageParams(const QByteArray &frame, QList<QByteArray> &params)
{
    const unsigned short count = LeBytes::read16(frame, 12);
    params.clear();
    qint64 offset = 22;
    for (unsigned short i = 0; i < count; ++i) {
        if (offset + 4 > frame.size())
            break;
        const unsigned int size = LeBytes::read32(frame, static_cast<int>(offset));
        const qint64 start = offset + 4;
        const qint64 available = qMax<qint64>(0, frame.size() - start);
        params.append(
            frame.mid(static_cast<int>(start), static_cast<int>(qMin<qint64>(size, available))));
        offset = start + size;
    }
    return count;
}

QByteArray firstParam(const QByteArray &frame)
{
    const unsigned int size = LeBytes::read32(frame, 22);
    return frame.mid(26, static_cast<int>(qMin<unsigned int>(size, 0x7FFFFFFF)));
}

bool verifiedPayload(QByteArray frame, QByteArray &payload)
{
    if (cutToBody(frame) < 0)
        return false;
    payload = frame.mid(4);
    return true;
}

} // namespace ServerProtocol
