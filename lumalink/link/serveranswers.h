#pragma once

#include "link/sendqueue.h"
#include "net/offthreadwork.h"
#include "requests/serverrequests.h"

#include <QByteArray>
#include <QHash>

#include <functional>

struct SessionState;

// The session's answers to the server's requests: the queue of frames on
// their way out, answers worked out off the session's thread, and requests
// asked again before their answer left (answered once).
class ServerAnswers
{
public:
    // restartWalk: a request asked for the content walk to begin anew.
    // answerReady: an answer worked out off the thread is queued.
    ServerAnswers(SessionState &state, ServerRequests &requests, QObject *owner,
        std::function<void()> restartWalk, std::function<void()> answerReady);

    SendQueue &queue() { return m_queue; }
    const SendQueue &queue() const { return m_queue; }
    // Requests whose answer is still being worked out off the thread.
    int inWork() const { return m_offThread.pending(); }

    // True when an answer of the request's kind (ServerRequests::answerKind)
    // is still on its way: the request is not handled again.
    bool repeatedRequest(unsigned short kind, unsigned short command);
    void apply(const ServerRequests::Outcome &outcome, unsigned short kind);
    // The connection is gone: its answers with it.
    void dropConnection();

private:
    void startDeferred(const ServerRequests::Deferred &request, unsigned short kind);

    SessionState &m_state;
    ServerRequests &m_requests;
    std::function<void()> m_restartWalk;
    std::function<void()> m_answerReady;
    SendQueue m_queue;
    // Requests that came again while their answer was on its way, by kind,
    // since the last one that was answered.
    QHash<unsigned short, int> m_repeatedRequests;
    // Moves on with every lost connection: an answer worked out for an older
    // connection is not sent on a newer one.
    quint64 m_linkGeneration = 0;
    OffThreadWork m_offThread;
};
