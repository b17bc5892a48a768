#pragma once

#include <QString>

#include <functional>

// One file fetched over HTTP(S) into a local file, in this process: the
// response body is written and hashed as it arrives. A transfer that breaks
// off or stays silent too long is tried again, and continued from where it
// stopped where the server honours ranges. Redirects are followed (never from
// HTTPS to HTTP); certificates are not checked. Blocks the calling thread,
// which must be able to run an event loop.
class HttpFetch
{
public:
    static constexpr int MAX_REDIRECTS = 5;
    static constexpr int MAX_RETRY_PAUSE_S = 10;

    struct Options
    {
        int tries = 10;
        int idleTimeoutSec = 60; // silence that breaks off one try
        // Asked as the transfer goes on (at least every 100 ms): false stops it.
        std::function<bool()> keepGoing;
    };

    enum class Result {
        Done, // the whole body is in the file
        Failed, // the server refused it, or every try broke off
        Stopped, // keepGoing said no
    };

    // md5Hex gets the lower-case digest of the body when Done.
    static Result toFile(
        const QString &url, const QString &path, const Options &options, QString *md5Hex);
};
