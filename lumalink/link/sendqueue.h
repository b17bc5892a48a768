#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

// The frames waiting to go to the server, in order, with a ceiling: at most
// MAX_FRAMES frames and MAX_BYTES bytes, so a server that keeps asking
// without reading cannot make the service hold its memory.
//
// Answers of a kind that a repeated request would only make again (a
// screenshot, the environment or download report, a log upload) are held
// once: while one of that kind waits here or is still being worked out, a new
// request of the kind is left to that answer.
class SendQueue
{
public:
    static constexpr int MAX_FRAMES = 64;
    static constexpr qint64 MAX_BYTES = 16 * 1024 * 1024;

    // Kind 0: a frame of its own (heartbeat answers, requests).
    bool push(const QByteArray &frame, unsigned short kind = 0);
    QByteArray takeFirst();
    void clear();
    bool isEmpty() const { return m_frames.isEmpty(); }
    int size() const { return m_frames.size(); }
    qint64 bytes() const { return m_bytes; }
    const QList<QByteArray> &frames() const { return m_frames; }

    // An answer of this kind is being worked out away from the queue.
    void startWork(unsigned short kind) { m_inWork.insert(kind); }
    void endWork(unsigned short kind) { m_inWork.remove(kind); }
    // True when an answer of this kind waits or is being worked out.
    bool busy(unsigned short kind) const;

private:
    QList<QByteArray> m_frames;
    QList<unsigned short> m_kinds;
    QSet<unsigned short> m_inWork;
    qint64 m_bytes = 0;
};
