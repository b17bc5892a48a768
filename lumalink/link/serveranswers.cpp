#include "link/serveranswers.h"

#include "dailylog.h"
#include "link/sessionstate.h"

#include <climits>
#include <utility>

namespace {
void logTcp(const QString &message)
{
    DailyLog::write(QStringLiteral("INFO"), QStringLiteral("TCP"), message);
}
} // namespace

ServerAnswers::ServerAnswers(SessionState &state, ServerRequests &requests, QObject *owner,
    std::function<void()> restartWalk, std::function<void()> answerReady)
    : m_state(state)
    , m_requests(requests)
    , m_restartWalk(std::move(restartWalk))
    , m_answerReady(std::move(answerReady))
    , m_offThread(owner)
{ }

bool ServerAnswers::repeatedRequest(unsigned short kind, unsigned short command)
{
    // A request asked again before its answer left is answered once. A flood
    // of them is logged at the 1st, 10th, 100th... repeat, not line by line.
    if (!m_queue.busy(kind)) {
        m_repeatedRequests.remove(kind);
        return false;
    }
    const int times = ++m_repeatedRequests[kind];
    int mark = 1;
    while (mark < times && mark <= INT_MAX / 10)
        mark *= 10;
    if (times == mark)
        logTcp(QStringLiteral("Request %1 again while its answer is on its way: answered once "
                              "(repeat %2)")
                   .arg(command)
                   .arg(times));
    return true;
}

void ServerAnswers::apply(const ServerRequests::Outcome &outcome, unsigned short kind)
{
    if (!m_state.connected) {
        // The link dropped while the handler ran (the CPU sample waits 2 s):
        // its answers have nowhere to go, and nothing is to be waited for.
        if (!outcome.answers.isEmpty() || !outcome.deferred.isEmpty())
            logTcp(QStringLiteral("Drop answers to a request: the link closed meanwhile"));
        if (outcome.restartWalk)
            m_restartWalk();
        return;
    }
    for (const QByteArray &answer : outcome.answers)
        m_queue.push(answer, kind);
    for (const ServerRequests::Deferred &request : outcome.deferred)
        startDeferred(request, kind);
    if (outcome.restartWalk)
        m_restartWalk();
    if (outcome.idleWait)
        m_state.pendingWaitMs = SessionState::IDLE_WAIT_MS;
}

void ServerAnswers::dropConnection()
{
    m_queue.clear();
    ++m_linkGeneration;
}

void ServerAnswers::startDeferred(const ServerRequests::Deferred &request, unsigned short kind)
{
    const quint64 link = m_linkGeneration;
    const unsigned short command = request.command;
    const QByteArray echo = request.echo;
    m_queue.startWork(kind);
    m_offThread.run(request.work, [this, link, command, echo, kind](const QByteArray &payload) {
        m_queue.endWork(kind);
        if (link != m_linkGeneration || !m_state.connected) {
            logTcp(
                QStringLiteral("Drop answer to request %1: its connection is gone").arg(command));
            return;
        }
        m_queue.push(m_requests.answer(command, echo, payload), kind);
        // Out with the next pass, not after the current wait for the server.
        m_answerReady();
    });
}
