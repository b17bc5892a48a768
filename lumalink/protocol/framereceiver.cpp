#include "protocol/framereceiver.h"

#include "dailylog.h"
#include "lebytes.h"
#include "protocol/builddata.h"

namespace {
void writeTcpLog(const QString &level, const QString &message)
{
    DailyLog::write(level, QStringLiteral("TCP"), message);
}
} // namespace

int FrameReceiver::skipHeartbeats(const QByteArray &data, int pos, bool &active)
{
    while (data.size() - pos >= 4) {
        const unsigned int word = LeBytes::read32(data, pos);
        if (word == 0)
            active = true;
        else if (word != 0xFFFFFFFFu)
            break;
        pos += 4;
    }
    return pos;
}

void FrameReceiver::dropHeld()
{
    m_skipLeft = 0;
    m_skipDeadlineMs = 0;
    clearHeld();
}

void FrameReceiver::clearHeld()
{
    m_held.clear();
    m_holdDeadlineMs = 0;
    m_frameStartMs = 0;
}

bool FrameReceiver::isInnerHandshake(const QByteArray &frame)
{
    return frame.size() >= BuildData::HANDSHAKE_SIZE && LeBytes::read32(frame, 0) == 16
        && static_cast<unsigned char>(frame.at(4)) == 0xAE;
}

qint64 FrameReceiver::frameLimitMs(unsigned int length)
{
    return FRAME_BASE_MS + qint64(length) * 1000 / MIN_FRAME_BYTES_PER_S;
}

int FrameReceiver::skipRest(const QByteArray &chunk, qint64 nowMs)
{
    const int taken = int(qMin<qint64>(m_skipLeft, chunk.size()));
    m_skipLeft -= taken;
    if (m_skipLeft > 0) {
        m_skipDeadlineMs = qMin(nowMs + HOLD_MS, m_skipStartMs + frameLimitMs(m_skipLength));
        return taken;
    }
    m_skipDeadlineMs = 0;
    writeTcpLog(QStringLiteral("DEBUG"),
        QStringLiteral("Passed over the %1 bytes of the oversized frame").arg(m_skipLength));
    return taken;
}

void FrameReceiver::startSkip(unsigned int length, int present, qint64 nowMs)
{
    m_skipLength = length;
    m_skipLeft = qint64(length) - present;
    m_skipStartMs = nowMs;
    m_skipDeadlineMs = qMin(nowMs + HOLD_MS, nowMs + frameLimitMs(length));
}

FrameReceiver::Result FrameReceiver::feed(const QByteArray &chunk, qint64 nowMs)
{
    Result result;
    // A tail held past its deadline is not continued, nor is an oversized
    // frame passed over past its deadline: the new bytes start afresh.
    if (m_holdDeadlineMs > 0 && nowMs >= m_holdDeadlineMs)
        clearHeld();
    if (m_skipLeft > 0 && nowMs >= m_skipDeadlineMs)
        m_skipLeft = 0;
    if (m_skipLeft > 0) {
        // The rest of an oversized frame; what follows it is read as usual.
        const int taken = skipRest(chunk, nowMs);
        if (taken == chunk.size()) {
            result.chunkSize = chunk.size();
            return result;
        }
        Result rest = feed(chunk.mid(taken), nowMs);
        rest.chunkSize += taken;
        return rest;
    }

    const bool continuing = m_holdDeadlineMs > 0;
    // A tail of at most one word was not known to start a frame: it may be
    // the first bytes of a heartbeat word that TCP split.
    const bool heldWordOnly = continuing && m_held.size() <= 4;
    // The new bytes join the held ones in place, so a large frame arriving in
    // many small pieces is copied once, not once per piece.
    if (continuing)
        m_held.append(chunk);
    else
        m_held = chunk;
    const QByteArray &data = m_held;
    result.chunkSize = data.size();
    if (data.size() > 4 && !m_quiet)
        writeTcpLog(
            QStringLiteral("DEBUG"), QStringLiteral("Receive data length=%1").arg(data.size()));

    int pos = 0;
    if (!continuing || heldWordOnly) {
        bool active = false;
        pos = skipHeartbeats(data, pos, active);
        if (pos == data.size() && pos > 0) {
            result.heartbeatOnly = true;
            result.activeHeartbeat = active;
            clearHeld();
            return result;
        }
    }

    bool holdTail = false;
    while (pos < data.size()) {
        const int left = data.size() - pos;
        if (left <= 4) {
            // Too short to tell what frame this is: keep it for the next chunk.
            holdTail = true;
            break;
        }
        const unsigned int length = LeBytes::read32(data, pos);
        const bool handshake = length == BuildData::HANDSHAKE_SIZE
            && static_cast<unsigned char>(data.at(pos + 4)) == 0xAE;
        if (!handshake
            && (length < static_cast<unsigned int>(BuildData::HEADER_SIZE)
                || length > MAX_FRAME_BYTES)) {
            // A word that cannot start a frame: nothing after it can be trusted.
            writeTcpLog(QStringLiteral("WARN"),
                QStringLiteral("Drop %1 received bytes: bad frame length %2")
                    .arg(left)
                    .arg(length));
            result.dropped = true;
            break;
        }
        if (!handshake && length > MAX_KEPT_FRAME_BYTES) {
            // Valid, but larger than anything the server may send: its bytes
            // are passed over as they come instead of being held.
            writeTcpLog(QStringLiteral("WARN"),
                QStringLiteral("Pass over a frame of %1 bytes (protocol=%2, command=%3): larger "
                               "than any document")
                    .arg(length)
                    .arg(left >= 12 ? LeBytes::read16(data, pos + 8) : 0)
                    .arg(left >= 12 ? LeBytes::read16(data, pos + 10) : 0));
            if (static_cast<unsigned int>(left) >= length) {
                pos += static_cast<int>(length);
                bool active = false;
                pos = skipHeartbeats(data, pos, active);
                continue;
            }
            startSkip(length, left, nowMs);
            pos = data.size();
            break;
        }
        if (static_cast<unsigned int>(left) < length) {
            holdTail = true;
            break;
        }
        result.frames.append(data.mid(pos, static_cast<int>(length)));
        pos += static_cast<int>(length);
        // The server's heartbeat may follow a frame in the same write; held as
        // the start of a frame it would spoil the next one.
        bool active = false;
        pos = skipHeartbeats(data, pos, active);
    }

    if (!holdTail) {
        clearHeld();
        return result;
    }
    // The incomplete frame is held for HOLD_MS after each piece, but never
    // longer than its size allows since its first bytes came: a peer that
    // drips a frame byte by byte does not hold the session's memory for ever.
    const bool sameFrame = continuing && pos == 0;
    if (pos > 0)
        m_held.remove(0, pos);
    if (!sameFrame)
        m_frameStartMs = nowMs;
    const unsigned int length = m_held.size() > 4 ? LeBytes::read32(m_held, 0) : 0;
    m_holdDeadlineMs = qMin(nowMs + HOLD_MS, m_frameStartMs + frameLimitMs(length));
    if (m_holdDeadlineMs <= 0)
        m_holdDeadlineMs = 1; // 0 means nothing held
    return result;
}
