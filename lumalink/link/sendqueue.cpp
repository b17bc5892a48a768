#include "link/sendqueue.h"

#include "dailylog.h"

bool SendQueue::push(const QByteArray &frame, unsigned short kind)
{
    if (m_frames.size() >= MAX_FRAMES || m_bytes + frame.size() > MAX_BYTES) {
        DailyLog::write(QStringLiteral("WARN"), QStringLiteral("TCP"),
            QStringLiteral("Send queue full (%1 frames, %2 bytes): drop a frame of %3 bytes")
                .arg(m_frames.size())
                .arg(m_bytes)
                .arg(frame.size()));
        return false;
    }
    m_frames.append(frame);
    m_kinds.append(kind);
    m_bytes += frame.size();
    return true;
}

QByteArray SendQueue::takeFirst()
{
    if (m_frames.isEmpty())
        return QByteArray();
    m_kinds.removeFirst();
    const QByteArray frame = m_frames.takeFirst();
    m_bytes -= frame.size();
    return frame;
}

void SendQueue::clear()
{
    m_frames.clear();
    m_kinds.clear();
    m_bytes = 0;
}

bool SendQueue::busy(unsigned short kind) const
{
    return kind != 0 && (m_inWork.contains(kind) || m_kinds.contains(kind));
}
