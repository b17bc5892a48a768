#pragma once

#include <QByteArray>
#include <QString>

// One request to a local listener, collected across reads: TCP may bring it
// in several pieces, and it is taken only once its head is complete (the
// blank line after the headers) with the body its Content-Length announces.
// A request larger than MAX_BYTES is refused, and so is what only a web
// browser sends: any method but POST, or an Origin or Referer header (a page
// the player shows can reach 127.0.0.1, but it cannot send a POST without
// one of them).
class NotifyRequest
{
public:
    static constexpr int MAX_BYTES = 64 * 1024;

    enum class State {
        Incomplete, // more bytes are needed
        Complete, // request() holds the whole request
        TooLarge, // more than MAX_BYTES without an end
    };

    State add(const QByteArray &bytes);
    State state() const { return m_state; }
    // The request as received up to the end of its body (a NUL ends it early).
    QByteArray request() const { return m_request; }

    // Empty when a complete request may be acted on, otherwise why it is
    // refused ("method GET", "Origin header", "Referer header").
    static QString refusal(const QByteArray &request);

private:
    QByteArray m_bytes;
    QByteArray m_request;
    State m_state = State::Incomplete;
};
