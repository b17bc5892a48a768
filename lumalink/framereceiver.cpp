#include "framereceiver.h"

#include "builddata.h"
#include "miscfunc.h"

namespace {
void writeTcpLog(const QString &level, const QString &message)
{
    MiscFunc::writeLog(level, QStringLiteral("TCP"), message);
}
} // namespace

int FrameReceiver::skipHeartbeats(const QByteArray &data, int pos, bool &active)
{
    while (data.size() - pos >= 4) {
        const unsigned int word = MiscFunc::getLowerInt(data, pos);
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
    m_held.clear();
    m_holdDeadlineMs = 0;
}

bool FrameReceiver::isInnerHandshake(const QByteArray &frame)
{
    return frame.size() >= BuildData::HANDSHAKE_SIZE && MiscFunc::getLowerInt(frame, 0) == 16
        && static_cast<unsigned char>(frame.at(4)) == 0xAE;
}

FrameReceiver::Result FrameReceiver::feed(const QByteArray &chunk, qint64 nowMs)
{
    Result result;
    // A tail held past its deadline is not continued: the new bytes start afresh.
    if (holding() && nowMs >= m_holdDeadlineMs)
        dropHeld();

    const bool continuing = holding();
    // A tail of at most one word was not known to start a frame: it may be
    // the first bytes of a heartbeat word that TCP split.
    const bool heldWordOnly = continuing && m_held.size() <= 4;
    QByteArray data = continuing ? m_held + chunk : chunk;
    m_held.clear();
    m_holdDeadlineMs = 0;
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
            return result;
        }
    }

    while (pos < data.size()) {
        const int left = data.size() - pos;
        if (left <= 4) {
            // Too short to tell what frame this is: keep it for the next chunk.
            m_held = data.mid(pos);
            m_holdDeadlineMs = nowMs + HOLD_MS;
            break;
        }
        const unsigned int length = MiscFunc::getLowerInt(data, pos);
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
        if (static_cast<unsigned int>(left) < length) {
            m_held = data.mid(pos);
            m_holdDeadlineMs = nowMs + HOLD_MS;
            break;
        }
        result.frames.append(data.mid(pos, static_cast<int>(length)));
        pos += static_cast<int>(length);
        // The server's heartbeat may follow a frame in the same write; held as
        // the start of a frame it would spoil the next one.
        bool active = false;
        pos = skipHeartbeats(data, pos, active);
    }
    return result;
}
