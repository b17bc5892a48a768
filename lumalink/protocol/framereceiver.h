#pragma once

#include "xmlguard.h"

#include <QByteArray>
#include <QList>

// Cuts the byte stream from the signage server into frames. TCP delivers
// frames back to back and splits them anywhere, so every complete frame of a
// chunk is returned in order, and an incomplete tail is held for at most
// HOLD_MS after each piece until the rest arrives (and no longer than the
// frame's own time limit).
class FrameReceiver
{
public:
    static constexpr qint64 HOLD_MS = 4000;
    static constexpr unsigned int MAX_FRAME_BYTES = 64u * 1024u * 1024u;
    // The largest frame that is kept: nothing the server sends may carry more
    // than a document of the largest size read (plus room for the frame's
    // other parameters). A larger frame of a valid length is passed over as it
    // arrives, without holding its bytes, so the stream stays in step.
    static constexpr unsigned int MAX_KEPT_FRAME_BYTES
        = unsigned(XmlLimits::MAX_BYTES) + 1024u * 1024u;
    // However steadily its pieces come, a frame must be whole within
    // FRAME_BASE_MS plus one second per MIN_FRAME_BYTES_PER_S of its length.
    static constexpr qint64 FRAME_BASE_MS = 60000;
    static constexpr qint64 MIN_FRAME_BYTES_PER_S = 64 * 1024;
    static qint64 frameLimitMs(unsigned int length);

    struct Result
    {
        int chunkSize = 0; // bytes looked at (held bytes included)
        bool heartbeatOnly = false; // the chunk held nothing but heartbeat words
        bool activeHeartbeat = false; // ... and one of them was 00 00 00 00
        bool dropped = false; // bytes thrown away after a bad length word
        QList<QByteArray> frames; // complete frames, handshakes included
    };

    Result feed(const QByteArray &chunk, qint64 nowMs);

    // A quiet receiver does not log the size of each chunk (repeated answers).
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // An incomplete frame is held, or an oversized one is being passed over.
    bool holding() const { return m_holdDeadlineMs > 0 || m_skipLeft > 0; }
    qint64 holdDeadline() const { return m_skipLeft > 0 ? m_skipDeadlineMs : m_holdDeadlineMs; }
    // Bytes of a frame too large to keep that are still to be passed over.
    qint64 skipping() const { return m_skipLeft; }
    int heldSize() const { return m_held.size(); }
    // Forgets an incomplete frame once its deadline has passed (or on reset),
    // and stops passing over an oversized one.
    void dropHeld();

    static bool isInnerHandshake(const QByteArray &frame);

private:
    // Steps over heartbeat words (00000000, FFFFFFFF) at pos; active is set when
    // one of them was the server's own heartbeat.
    static int skipHeartbeats(const QByteArray &data, int pos, bool &active);

    void clearHeld();
    // Passes over what is left of an oversized frame at the start of chunk;
    // the position of the first byte after it.
    int skipRest(const QByteArray &chunk, qint64 nowMs);
    // Starts passing over an oversized frame of length bytes, of which
    // present are at hand.
    void startSkip(unsigned int length, int present, qint64 nowMs);

    QByteArray m_held;
    qint64 m_skipLeft = 0;
    qint64 m_skipDeadlineMs = 0;
    qint64 m_skipStartMs = 0;
    unsigned int m_skipLength = 0;
    qint64 m_holdDeadlineMs = 0;
    qint64 m_frameStartMs = 0; // when the first bytes of the held frame came
    bool m_quiet = false;
};
