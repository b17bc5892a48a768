#pragma once

#include "content/contentwalk.h"
#include "protocol/sessionenums.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class Authorization;
class FrameSequence;
class TerminalStatus;
struct ServiceSettings;
struct SessionState;

// The requests the session sends the server once connected: authorization,
// then the walk through configuration, server time, day schedule, template
// lists and zones. Each request is one row of a table: what it sends, which
// reply answers it and what is done with it, its retry period and the step
// that follows when there is nothing to ask. One sender asks any row, one
// dispatcher hands a reply to its row; adding a request is adding a row.
class RequestSteps : public SessionEnums
{
public:
    static constexpr qint64 REQUEST_RETRY_MS = 20000;
    static constexpr qint64 SCHEDULE_RETRY_MS = 120000;
    static constexpr qint64 AUTH_RETRY_MS = 30000;
    static constexpr qint64 UNAUTHORIZED_RETRY_MS = 120000;
    static constexpr qint64 SYNC_PERIOD_MS = 86400000;

    // send writes the frame and waits up to waitMs for its reply; walkDone
    // runs (later, on the loop) when the walk has nothing more to collect.
    using Send = std::function<void(const QByteArray &frame, qint64 waitMs)>;
    RequestSteps(SessionState &state, ServiceSettings &settings, FrameSequence &sequence,
        TerminalStatus &statusFile, Authorization &auth, ContentWalk &walk, Send send,
        std::function<void()> walkDone);

    // Asks for authorization; asked again after retryMs without an answer.
    void askAuthorization(qint64 retryMs);
    // Acts on the current step of the walk: asks its request when there is
    // something to ask, else moves on to the step after it.
    void actOnStep();
    // Hands a reply to the request it answers; false when no request of the
    // table has that protocol and command.
    bool dispatch(unsigned short protocol, unsigned short command, const QByteArray &frame);
    // A reply of the walk could not be stored and its retry period is over.
    bool askAgainDue() const;

private:
    struct Row
    {
        int step;
        // The request's protocol and command; its reply carries the same.
        unsigned short protocol;
        unsigned short command;
        // Part of the walk (asked from actOnStep), not asked by the status.
        bool inWalk;
        // The reply is taken at any step, not only while it is asked.
        bool replyAtAnyStep;
        qint64 retryMs;
        // Waited for the reply before the loop goes on.
        qint64 waitMs;
        // The step after this one: when there is nothing to ask, or after a
        // reply handled here (the walk's replies name their next step).
        int next;
        // The log line: "request <what>", then the frame's length or the id.
        const char *what;
        enum Tail { NoTail, Length, Id } tail;
        // No log line while the server keeps refusing the terminal (the
        // authorization sums those up).
        bool quietWhileRefused;
        // When set, one request per id: the first of these, none when empty.
        const QList<QByteArray> &(ContentWalk::*ids)() const;
        // When set, asked only when this says so.
        bool (RequestSteps::*due)() const;
        // When set, builds the frame (else a plain request with the id).
        QByteArray (RequestSteps::*frame)() const;
        // The reply's payload is checked and onReply gets the payload; one
        // that fails the check is asked for again at the next pass.
        bool verified;
        // The reply goes to one of these.
        void (RequestSteps::*onReply)(const Row &row, const QByteArray &frame);
        ContentWalk::Move (ContentWalk::*walkReply)(const QByteArray &frame);
    };
    static const Row ROWS[6];
    static const Row *rowOf(int step);

    void ask(const Row &row, qint64 retryMs);
    bool syncDue() const;
    QByteArray authFrame() const;
    void onAuthResult(const Row &row, const QByteArray &frame);
    void onConfig(const Row &row, const QByteArray &payload);
    void onServerTime(const Row &row, const QByteArray &payload);
    void applyWalkMove(const ContentWalk::Move &move);

    SessionState &m_state;
    ServiceSettings &m_settings;
    FrameSequence &m_sequence;
    TerminalStatus &m_statusFile;
    Authorization &m_auth;
    ContentWalk &m_walk;
    Send m_send;
    std::function<void()> m_walkDone;
};
